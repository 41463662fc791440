// tests/metadata/MetadataBuilders.h: byte builders for JPEG streams, TIFF blocks and EXIF segments, so
// that every fixture is built in code and the reader of a test sees each byte it depends on.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "support/TestSupport.h"

namespace zeloro::test {

// Values of one entry, written in the block's byte order.
[[nodiscard]] Bytes Ascii(std::string_view text);  // text + zero byte
[[nodiscard]] Bytes Raw(std::string_view text);    // the bytes as they are

// One directory entry. With `raw` set the 4-byte value field is written verbatim (in the block's byte
// order) and `data` is ignored: that is how damaged offsets and counts are built. With `pointsTo` the
// value field holds the offset of another directory of the same builder.
struct TiffEntry {
    std::uint16_t id = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    Bytes data;  // already in the block's byte order (use the value helpers of TiffBuilder)
    std::optional<std::uint32_t> raw;
    std::optional<int> pointsTo;
};

// Lays out: 8-byte header, then each directory followed by its out-of-line values, in the order added.
class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) {}

    // Value helpers in this builder's byte order.
    [[nodiscard]] Bytes U16(std::initializer_list<std::uint16_t> values) const;
    [[nodiscard]] Bytes U32(std::initializer_list<std::uint32_t> values) const;
    [[nodiscard]] Bytes Rational(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> values) const;

    TiffEntry Short(std::uint16_t id, std::initializer_list<std::uint16_t> v) const;
    TiffEntry Long(std::uint16_t id, std::initializer_list<std::uint32_t> v) const;
    TiffEntry Rationals(std::uint16_t id,
                        std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> v) const;
    TiffEntry Text(std::uint16_t id, std::string_view text) const;
    TiffEntry Undefined(std::uint16_t id, const Bytes& bytes) const;
    TiffEntry Pointer(std::uint16_t id, int directory, std::uint16_t type = 4) const;

    // Returns the index of the directory. Entries are written in the order given (not sorted).
    int AddDirectory(std::vector<TiffEntry> entries);
    // The next-directory field of `from`: another directory, or a raw value.
    TiffBuilder& Chain(int from, int to);
    TiffBuilder& ChainRaw(int from, std::uint32_t value);
    // Overrides: the byte-order mark, the 42, the first-directory offset.
    TiffBuilder& Mark(std::uint16_t mark);
    TiffBuilder& Magic(std::uint16_t magic);
    TiffBuilder& FirstOffset(std::uint32_t offset);
    // Bytes appended after everything (e.g. a thumbnail); AppendedOffset() tells where they start.
    TiffBuilder& Append(const Bytes& bytes);

    [[nodiscard]] Bytes Build();
    // Valid after Build().
    [[nodiscard]] std::uint32_t DirectoryOffset(int directory) const {
        return offsets_.at(static_cast<std::size_t>(directory));
    }
    [[nodiscard]] std::uint32_t AppendedOffset() const { return appendedOffset_; }
    [[nodiscard]] bool BigEndian() const noexcept { return big_; }

private:
    void Put16(Bytes& out, std::uint16_t v) const;
    void Put32(Bytes& out, std::uint32_t v) const;

    bool big_;
    std::vector<std::vector<TiffEntry>> dirs_;
    std::vector<std::optional<int>> next_;
    std::vector<std::optional<std::uint32_t>> nextRaw_;
    std::optional<std::uint16_t> mark_;
    std::optional<std::uint16_t> magic_;
    std::optional<std::uint32_t> firstOffset_;
    Bytes appended_;
    std::vector<std::uint32_t> offsets_;
    std::uint32_t appendedOffset_ = 0;
};

// "Exif\0\0" + the TIFF block.
[[nodiscard]] Bytes ExifPayload(const Bytes& tiff);

class JpegBuilder {
public:
    JpegBuilder& Soi();
    JpegBuilder& Eoi();
    // 0xFF, marker, big-endian length (payload + 2), payload.
    JpegBuilder& Segment(std::uint8_t marker, const Bytes& payload);
    // A segment with a length field written as given (damaged lengths).
    JpegBuilder& SegmentWithLength(std::uint8_t marker, std::uint16_t length, const Bytes& payload);
    JpegBuilder& App1Exif(const Bytes& tiff) { return Segment(0xE1, ExifPayload(tiff)); }
    // A minimal 8x8 baseline frame header.
    JpegBuilder& Sof0(std::uint16_t width = 8, std::uint16_t height = 8);
    // SOS header followed by entropy-coded bytes.
    JpegBuilder& Sos(const Bytes& entropy);
    JpegBuilder& RawBytes(const Bytes& bytes);
    [[nodiscard]] std::size_t Size() const noexcept { return bytes_.size(); }
    [[nodiscard]] const Bytes& bytes() const noexcept { return bytes_; }

private:
    Bytes bytes_;
};

// A complete grey JPEG of the given size, encoded with libjpeg; for thumbnails that must decode.
[[nodiscard]] Bytes TinyJpeg(std::uint32_t width = 8, std::uint32_t height = 8);

}  // namespace zeloro::test
