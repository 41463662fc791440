// tests/metadata/MetadataBuilders.cpp: byte builders for JPEG streams and TIFF blocks.
#include "MetadataBuilders.h"

#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace zeloro::test {

Bytes Ascii(std::string_view text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}

Bytes Raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

void TiffBuilder::Put16(Bytes& out, std::uint16_t v) const {
    if (big_) {
        out.push_back(static_cast<std::uint8_t>(v >> 8U));
        out.push_back(static_cast<std::uint8_t>(v & 0xFFU));
    } else {
        out.push_back(static_cast<std::uint8_t>(v & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(v >> 8U));
    }
}

void TiffBuilder::Put32(Bytes& out, std::uint32_t v) const {
    if (big_) {
        Put16(out, static_cast<std::uint16_t>(v >> 16U));
        Put16(out, static_cast<std::uint16_t>(v & 0xFFFFU));
    } else {
        Put16(out, static_cast<std::uint16_t>(v & 0xFFFFU));
        Put16(out, static_cast<std::uint16_t>(v >> 16U));
    }
}

Bytes TiffBuilder::U16(std::initializer_list<std::uint16_t> values) const {
    Bytes b;
    for (const auto v : values) Put16(b, v);
    return b;
}

Bytes TiffBuilder::U32(std::initializer_list<std::uint32_t> values) const {
    Bytes b;
    for (const auto v : values) Put32(b, v);
    return b;
}

Bytes TiffBuilder::Rational(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> values) const {
    Bytes b;
    for (const auto& [n, d] : values) {
        Put32(b, n);
        Put32(b, d);
    }
    return b;
}

TiffEntry TiffBuilder::Short(std::uint16_t id, std::initializer_list<std::uint16_t> v) const {
    return {id, 3, static_cast<std::uint32_t>(v.size()), U16(v), {}, {}};
}
TiffEntry TiffBuilder::Long(std::uint16_t id, std::initializer_list<std::uint32_t> v) const {
    return {id, 4, static_cast<std::uint32_t>(v.size()), U32(v), {}, {}};
}
TiffEntry TiffBuilder::Rationals(std::uint16_t id,
                                 std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> v) const {
    return {id, 5, static_cast<std::uint32_t>(v.size()), Rational(v), {}, {}};
}
TiffEntry TiffBuilder::Text(std::uint16_t id, std::string_view text) const {
    const Bytes b = Ascii(text);
    return {id, 2, static_cast<std::uint32_t>(b.size()), b, {}, {}};
}
TiffEntry TiffBuilder::Undefined(std::uint16_t id, const Bytes& bytes) const {
    return {id, 7, static_cast<std::uint32_t>(bytes.size()), bytes, {}, {}};
}
TiffEntry TiffBuilder::Pointer(std::uint16_t id, int directory, std::uint16_t type) const {
    TiffEntry e{id, type, 1, {}, {}, directory};
    return e;
}

int TiffBuilder::AddDirectory(std::vector<TiffEntry> entries) {
    dirs_.push_back(std::move(entries));
    next_.emplace_back();
    nextRaw_.emplace_back();
    return static_cast<int>(dirs_.size()) - 1;
}

TiffBuilder& TiffBuilder::Chain(int from, int to) {
    next_.at(static_cast<std::size_t>(from)) = to;
    return *this;
}
TiffBuilder& TiffBuilder::ChainRaw(int from, std::uint32_t value) {
    nextRaw_.at(static_cast<std::size_t>(from)) = value;
    return *this;
}
TiffBuilder& TiffBuilder::Mark(std::uint16_t mark) {
    mark_ = mark;
    return *this;
}
TiffBuilder& TiffBuilder::Magic(std::uint16_t magic) {
    magic_ = magic;
    return *this;
}
TiffBuilder& TiffBuilder::FirstOffset(std::uint32_t offset) {
    firstOffset_ = offset;
    return *this;
}
TiffBuilder& TiffBuilder::Append(const Bytes& bytes) {
    appended_.insert(appended_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes TiffBuilder::Build() {
    // First pass: where every directory and its values go.
    offsets_.clear();
    std::uint32_t cursor = 8;
    for (const auto& dir : dirs_) {
        offsets_.push_back(cursor);
        cursor += static_cast<std::uint32_t>(2 + 12 * dir.size() + 4);
        for (const auto& e : dir) {
            if (!e.raw && !e.pointsTo && e.data.size() > 4)
                cursor += static_cast<std::uint32_t>(e.data.size());
        }
    }
    appendedOffset_ = cursor;

    Bytes out;
    // The mark is two equal bytes, so its byte order does not matter.
    const std::uint16_t mark = mark_.value_or(big_ ? 0x4D4D : 0x4949);
    out.push_back(static_cast<std::uint8_t>(mark & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(mark >> 8U));
    Put16(out, magic_.value_or(42));
    Put32(out, firstOffset_.value_or(dirs_.empty() ? 0 : offsets_[0]));
    for (std::size_t d = 0; d < dirs_.size(); ++d) {
        const auto& dir = dirs_[d];
        Put16(out, static_cast<std::uint16_t>(dir.size()));
        std::uint32_t valueAt = offsets_[d] + static_cast<std::uint32_t>(2 + 12 * dir.size() + 4);
        Bytes values;
        for (const auto& e : dir) {
            Put16(out, e.id);
            Put16(out, e.type);
            Put32(out, e.count);
            if (e.raw) {
                Put32(out, *e.raw);
            } else if (e.pointsTo) {
                Put32(out, offsets_.at(static_cast<std::size_t>(*e.pointsTo)));
            } else if (e.data.size() > 4) {
                Put32(out, valueAt);
                valueAt += static_cast<std::uint32_t>(e.data.size());
                values.insert(values.end(), e.data.begin(), e.data.end());
            } else {
                Bytes field = e.data;
                field.resize(4, 0);
                out.insert(out.end(), field.begin(), field.end());
            }
        }
        if (nextRaw_[d]) {
            Put32(out, *nextRaw_[d]);
        } else if (next_[d]) {
            Put32(out, offsets_.at(static_cast<std::size_t>(*next_[d])));
        } else {
            Put32(out, 0);
        }
        out.insert(out.end(), values.begin(), values.end());
    }
    out.insert(out.end(), appended_.begin(), appended_.end());
    return out;
}

Bytes ExifPayload(const Bytes& tiff) {
    Bytes b{'E', 'x', 'i', 'f', 0, 0};
    b.insert(b.end(), tiff.begin(), tiff.end());
    return b;
}

JpegBuilder& JpegBuilder::Soi() {
    bytes_.insert(bytes_.end(), {0xFF, 0xD8});
    return *this;
}

JpegBuilder& JpegBuilder::Eoi() {
    bytes_.insert(bytes_.end(), {0xFF, 0xD9});
    return *this;
}

JpegBuilder& JpegBuilder::Segment(std::uint8_t marker, const Bytes& payload) {
    return SegmentWithLength(marker, static_cast<std::uint16_t>(payload.size() + 2), payload);
}

JpegBuilder& JpegBuilder::SegmentWithLength(std::uint8_t marker, std::uint16_t length, const Bytes& payload) {
    bytes_.insert(bytes_.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8U),
                                 static_cast<std::uint8_t>(length & 0xFFU)});
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
}

JpegBuilder& JpegBuilder::Sof0(std::uint16_t width, std::uint16_t height) {
    // precision 8, height, width, one component: id 1, sampling 1x1, table 0
    return Segment(0xC0, {8, static_cast<std::uint8_t>(height >> 8U),
                          static_cast<std::uint8_t>(height & 0xFFU), static_cast<std::uint8_t>(width >> 8U),
                          static_cast<std::uint8_t>(width & 0xFFU), 1, 1, 0x11, 0});
}

JpegBuilder& JpegBuilder::Sos(const Bytes& entropy) {
    Segment(0xDA, {1, 1, 0x00, 0, 63, 0});
    bytes_.insert(bytes_.end(), entropy.begin(), entropy.end());
    return *this;
}

JpegBuilder& JpegBuilder::RawBytes(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

namespace {
struct CompressDestroy {
    void operator()(jpeg_compress_struct* c) const noexcept { jpeg_destroy_compress(c); }
};
struct FreeDeleter {
    void operator()(unsigned char* p) const noexcept { std::free(p); }  // NOLINT(cppcoreguidelines-no-malloc)
};
}  // namespace

Bytes TinyJpeg(std::uint32_t width, std::uint32_t height) {
    // Inputs are fixed and valid, so the default error handler (which ends the process) never runs.
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    std::unique_ptr<jpeg_compress_struct, CompressDestroy> guard(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&cinfo, &mem, &memSize);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(width);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) row[x] = static_cast<JSAMPLE>((x * 16 + y * 8) & 0xFFU);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    guard.reset();
    std::unique_ptr<unsigned char, FreeDeleter> owned(mem);
    return Bytes(mem, mem + memSize);
}

}  // namespace zeloro::test
