// src/media/IsoBoxes.h: the box structure of ISO base media files (HEIF, AVIF, CR3, MP4) and QuickTime
// movies, read box header by box header so that a movie's gigabytes of media data are never touched.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/ByteSource.h"

namespace zeloro {

[[nodiscard]] constexpr std::uint32_t FourCc(const char (&text)[5]) noexcept {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24U |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16U |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8U |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}
// The four characters for a message; bytes outside printable ASCII as '?'.
[[nodiscard]] std::string FourCcText(std::uint32_t type);

struct IsoBox {
    std::uint32_t type = 0;
    std::uint64_t begin = 0;                  // of the header, in the file
    std::uint64_t size = 0;                   // header included
    std::uint64_t headerSize = 0;             // 8, 16 with a 64-bit size, 16 more for a "uuid" box's own type
    std::array<std::uint8_t, 16> userType{};  // a "uuid" box's own type

    [[nodiscard]] std::uint64_t PayloadBegin() const noexcept { return begin + headerSize; }
    [[nodiscard]] std::uint64_t PayloadSize() const noexcept { return size - headerSize; }
    [[nodiscard]] std::uint64_t End() const noexcept { return begin + size; }
};

// Reads the header of the box at `at` inside a parent that ends at `end` (the file's size for the top
// level). Size 1 takes the 64-bit size after the type; size 0 reaches to the parent's end. Throws MediaError
// when the header or the box it states does not fit into the parent.
[[nodiscard]] IsoBox ReadIsoBox(const ByteSource& file, std::uint64_t at, std::uint64_t end);

// The boxes of [begin, end) one after the other. Fewer than 8 bytes left at the end are no box (QuickTime
// ends some lists with a 32-bit zero). A list longer than any real file's throws MediaError, so damage
// that makes boxes of 8 bytes out of a large stretch ends soon.
class IsoBoxList {
public:
    IsoBoxList(const ByteSource& file, std::uint64_t begin, std::uint64_t end) noexcept
        : file_(file), at_(begin), end_(end) {}
    // The next box, or nullopt after the last.
    [[nodiscard]] std::optional<IsoBox> Next();

private:
    const ByteSource& file_;
    std::uint64_t at_;
    std::uint64_t end_;
    std::uint32_t count_ = 0;
};

// The first box of that type in [begin, end); nullopt when there is none. Reads only up to the box found,
// so damage after it (a movie cut short in its media data) does not matter.
[[nodiscard]] std::optional<IsoBox> FindIsoBox(const ByteSource& file, std::uint64_t begin, std::uint64_t end,
                                               std::uint32_t type);

// The payload of a box into memory, refused (MediaError) beyond maxSize: the tables read whole are small
// in every real file, and the cap keeps a damaged size from asking for gigabytes.
[[nodiscard]] std::vector<std::uint8_t> ReadIsoPayload(const ByteSource& file, const IsoBox& box,
                                                       std::uint64_t maxSize);

// Big-endian fields of a payload in memory, read in order; a read past the end throws MediaError naming
// the box.
class BoxFields {
public:
    BoxFields(std::span<const std::uint8_t> bytes, std::uint32_t boxType) noexcept
        : bytes_(bytes), boxType_(boxType) {}
    // width 0, 1, 2, 4 or 8 bytes; width 0 is the value 0 without reading.
    [[nodiscard]] std::uint64_t Read(unsigned width);
    void Skip(std::uint64_t count);
    [[nodiscard]] std::uint64_t Left() const noexcept { return bytes_.size() - pos_; }
    [[nodiscard]] std::uint64_t Position() const noexcept { return pos_; }
    [[noreturn]] void Fail() const;

private:
    std::span<const std::uint8_t> bytes_;
    std::uint32_t boxType_;
    std::size_t pos_ = 0;
};

}  // namespace zeloro
