// src/rawfile/TiffLayout.h: the TIFF structure of a RAW file as far as a GPS write needs it, read and
// checked from its bytes without trusting a single offset.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace zeloro {

// Where the bytes of a file come from: a file read piece by piece, or bytes in memory.
class TiffSource {
public:
    virtual ~TiffSource() = default;
    [[nodiscard]] virtual std::uint64_t Size() const noexcept = 0;
    // Fills into from offset; false when the file holds fewer bytes there or reading fails.
    [[nodiscard]] virtual bool Read(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;
};

class MemoryTiffSource : public TiffSource {
public:
    explicit MemoryTiffSource(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}
    [[nodiscard]] std::uint64_t Size() const noexcept override { return bytes_.size(); }
    [[nodiscard]] bool Read(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Why a file's structure is not trusted, in German; the writer turns it into RawFileRefused.
class TiffLayoutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One directory entry as the file holds it: the value field's four bytes raw, in the file's byte order.
struct TiffEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::array<std::uint8_t, 4> value{};
    std::uint64_t at = 0;  // the entry's offset in the file
};

struct TiffDirectory {
    std::uint32_t offset = 0;
    std::vector<TiffEntry> entries;
    std::uint32_t next = 0;  // the raw next-directory offset
};

// What the GPS write builds on: the byte order, IFD0 and the GPS directory it points to, if any.
struct TiffLayout {
    bool bigEndian = false;
    std::uint64_t fileSize = 0;
    TiffDirectory ifd0;
    std::optional<std::size_t> gpsEntry;  // the index of IFD0's GPSInfo entry
    TiffDirectory gps;                    // read when gpsEntry is set
};

inline constexpr std::uint16_t kGpsInfoTag = 0x8825;
// The largest file a classic TIFF addresses: every offset is 32 bits.
inline constexpr std::uint64_t kLargestTiff = 0xFFFFFFFFULL;

// Reads the header (byte order "II" or "MM", magic 42, Panasonic's 0x55, Olympus' "RO"/"RS"), IFD0 and its
// chain, every directory they lead to (EXIF, GPS, interoperability, sub-IFDs), and checks that each
// directory, each value stored apart and each strip, tile or JPEG stream lies wholly inside the file and
// that no directory is reached twice. Maker notes are not entered: their bytes never move. A data offset
// of 0xFFFFFFFF is a writer's mark for data that is not in the file, not a position, and is passed over.
// Throws TiffLayoutError with the German reason.
[[nodiscard]] TiffLayout ReadTiffLayout(const TiffSource& source);

// The raw value of a 16- or 32-bit number in the file's byte order, and back.
[[nodiscard]] std::uint16_t TiffGet16(const std::uint8_t* at, bool bigEndian) noexcept;
[[nodiscard]] std::uint32_t TiffGet32(const std::uint8_t* at, bool bigEndian) noexcept;
void TiffPut16(std::uint8_t* at, std::uint16_t value, bool bigEndian) noexcept;
void TiffPut32(std::uint8_t* at, std::uint32_t value, bool bigEndian) noexcept;

}  // namespace zeloro
