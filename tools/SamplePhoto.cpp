// tools/SamplePhoto.cpp: encodes a drawn landscape with libjpeg and puts a hand-built EXIF block in front.
#include "SamplePhoto.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace zeloro::sample {
namespace {

// libjpeg leaves through longjmp, so the state that must survive it lives on the heap and the function
// that calls setjmp owns no destructible object.
struct EncoderState {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    bool created = false;
    ~EncoderState() {
        if (created) {
            jpeg_destroy_compress(&cinfo);
        }
        std::free(out);  // NOLINT(cppcoreguidelines-no-malloc): jpeg_mem_dest allocates with malloc
    }
};

extern "C" void ThrowlessErrorExit(j_common_ptr cinfo) {
    auto* state = static_cast<EncoderState*>(cinfo->client_data);
    (*cinfo->err->format_message)(cinfo, state->message);
    std::longjmp(state->jump, 1);
}

extern "C" void SilentOutput(j_common_ptr /*cinfo*/) {}

bool RunEncoder(EncoderState& state, const ByteVector& rgb, int width, int height, int quality) {
    state.cinfo.err = jpeg_std_error(&state.jerr);
    state.jerr.error_exit = ThrowlessErrorExit;
    state.jerr.output_message = SilentOutput;
    state.cinfo.client_data = &state;
    if (setjmp(state.jump) != 0) {
        return false;
    }
    jpeg_create_compress(&state.cinfo);
    state.created = true;
    jpeg_mem_dest(&state.cinfo, &state.out, &state.outSize);
    state.cinfo.image_width = static_cast<JDIMENSION>(width);
    state.cinfo.image_height = static_cast<JDIMENSION>(height);
    state.cinfo.input_components = 3;
    state.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&state.cinfo);
    // A camera writes EXIF instead of JFIF; the EXIF APP1 segment is put in afterwards.
    state.cinfo.write_JFIF_header = FALSE;
    jpeg_set_quality(&state.cinfo, quality, TRUE);
    jpeg_start_compress(&state.cinfo, TRUE);
    const auto stride = static_cast<std::size_t>(width) * 3U;
    while (state.cinfo.next_scanline < state.cinfo.image_height) {
        // libjpeg takes non-const row pointers but only reads the rows.
        JSAMPROW row = const_cast<JSAMPLE*>(rgb.data() + state.cinfo.next_scanline * stride);
        jpeg_write_scanlines(&state.cinfo, &row, 1);
    }
    jpeg_finish_compress(&state.cinfo);
    return true;
}

std::uint8_t Channel(double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0)); }

// Sky, sun, two rows of hills and a lake; the scene number moves the sun and shapes the hills.
ByteVector DrawScene(int width, int height, int scene) {
    ByteVector rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3U);
    const double w = width;
    const double h = height;
    const double sunX = w * (0.15 + 0.12 * (scene % 6));
    const double sunY = h * (0.18 + 0.03 * (scene % 4));
    const double sunR = h * 0.09;
    const double phase = scene * 1.7;
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double fx = x / w;
            const double fy = y / h;
            const double farHill = h * (0.52 + 0.08 * std::sin(fx * 7.0 + phase));
            const double nearHill = h * (0.68 + 0.06 * std::sin(fx * 11.0 - phase * 0.6));
            double r = 90 + 100 * fy;  // sky, lighter towards the horizon
            double g = 150 + 70 * fy;
            double b = 235;
            const double dx = x - sunX;
            const double dy = y - sunY;
            if (dx * dx + dy * dy < sunR * sunR) {
                r = 255;
                g = 200;
                b = 60;
            } else if (y > h * 0.82) {  // the lake, with ripples
                r = 40;
                g = 90 + 30 * std::sin(x * 0.3 + y);
                b = 160;
            } else if (y > nearHill) {
                r = 60;
                g = 130 + 20 * std::sin(x * 0.5);
                b = 50;
            } else if (y > farHill) {
                r = 70;
                g = 110;
                b = 90;
            }
            rgb[i++] = Channel(r);
            rgb[i++] = Channel(g);
            rgb[i++] = Channel(b);
        }
    }
    return rgb;
}

// One TIFF directory entry; values of up to four bytes sit in the entry itself, longer ones in the
// data area that follows the directory.
struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    ByteVector value;  // already in the block's byte order
};

constexpr std::uint16_t kAscii = 2;
constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kRational = 5;
constexpr std::uint16_t kUndefined = 7;

class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : big_(bigEndian) {}

    void U16(ByteVector& out, std::uint16_t v) const {
        if (big_) {
            out.push_back(static_cast<std::uint8_t>(v >> 8U));
            out.push_back(static_cast<std::uint8_t>(v & 0xFFU));
        } else {
            out.push_back(static_cast<std::uint8_t>(v & 0xFFU));
            out.push_back(static_cast<std::uint8_t>(v >> 8U));
        }
    }
    void U32(ByteVector& out, std::uint32_t v) const {
        if (big_) {
            U16(out, static_cast<std::uint16_t>(v >> 16U));
            U16(out, static_cast<std::uint16_t>(v & 0xFFFFU));
        } else {
            U16(out, static_cast<std::uint16_t>(v & 0xFFFFU));
            U16(out, static_cast<std::uint16_t>(v >> 16U));
        }
    }
    [[nodiscard]] ByteVector ShortValue(std::uint16_t v) const {
        ByteVector out;
        U16(out, v);
        return out;
    }
    [[nodiscard]] ByteVector RationalValue(std::uint32_t numerator, std::uint32_t denominator) const {
        ByteVector out;
        U32(out, numerator);
        U32(out, denominator);
        return out;
    }
    [[nodiscard]] ByteVector LongValue(std::uint32_t v) const {
        ByteVector out;
        U32(out, v);
        return out;
    }
    static ByteVector AsciiValue(const std::string& text) {
        ByteVector out(text.begin(), text.end());
        out.push_back(0);  // the count includes the terminating zero
        return out;
    }

    // Size of a directory with its data area, as laid out by Write.
    static std::uint32_t DirectorySize(const std::vector<Entry>& entries) {
        std::uint32_t size = 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
        for (const Entry& e : entries) {
            if (e.value.size() > 4) {
                size += static_cast<std::uint32_t>((e.value.size() + 1) & ~std::size_t{1});
            }
        }
        return size;
    }

    // Appends the directory at TIFF offset `at` (which must be out.size() - tiffStart).
    void Write(ByteVector& out, std::vector<Entry> entries, std::uint32_t at) const {
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        std::uint32_t data = at + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
        ByteVector area;
        U16(out, static_cast<std::uint16_t>(entries.size()));
        for (const Entry& e : entries) {
            U16(out, e.tag);
            U16(out, e.type);
            U32(out, e.count);
            if (e.value.size() <= 4) {
                ByteVector inline4 = e.value;
                inline4.resize(4, 0);
                out.insert(out.end(), inline4.begin(), inline4.end());
            } else {
                U32(out, data + static_cast<std::uint32_t>(area.size()));
                area.insert(area.end(), e.value.begin(), e.value.end());
                if (area.size() % 2 != 0) {
                    area.push_back(0);  // values start on word boundaries
                }
            }
        }
        U32(out, 0);  // no next directory
        out.insert(out.end(), area.begin(), area.end());
    }

private:
    bool big_;
};

}  // namespace

ByteVector EncodePicture(const PhotoSpec& spec) {
    if (spec.width <= 0 || spec.height <= 0) {
        throw std::invalid_argument("picture size must be positive");
    }
    const ByteVector rgb = DrawScene(spec.width, spec.height, spec.scene);
    auto state = std::make_unique<EncoderState>();
    if (!RunEncoder(*state, rgb, spec.width, spec.height, spec.quality)) {
        throw std::runtime_error(std::string("libjpeg: ") + state->message);
    }
    return {state->out, state->out + state->outSize};
}

ByteVector BuildExifPayload(const PhotoSpec& spec) {
    const TiffWriter tiff(spec.bigEndian);
    const std::uint8_t order = spec.bigEndian ? 'M' : 'I';
    ByteVector out{'E', 'x', 'i', 'f', 0, 0, order, order};
    const std::size_t tiffStart = 6;
    tiff.U16(out, 42);
    tiff.U32(out, 8);  // IFD0 follows the header directly

    std::vector<Entry> exifIfd{
        {0x9000, kUndefined, 4, ByteVector{'0', '2', '3', '2'}},  // ExifVersion
        {0x9101, kUndefined, 4, ByteVector{1, 2, 3, 0}},          // ComponentsConfiguration: Y Cb Cr
        {0xA000, kUndefined, 4, ByteVector{'0', '1', '0', '0'}},  // FlashpixVersion
        {0xA001, kShort, 1, tiff.ShortValue(1)},                  // ColorSpace sRGB
        {0xA002, kLong, 1, tiff.LongValue(static_cast<std::uint32_t>(spec.width))},
        {0xA003, kLong, 1, tiff.LongValue(static_cast<std::uint32_t>(spec.height))},
    };
    if (spec.dateTimeOriginal) {
        const ByteVector text = TiffWriter::AsciiValue(*spec.dateTimeOriginal);
        exifIfd.push_back({0x9003, kAscii, static_cast<std::uint32_t>(text.size()), text});
    }
    for (const auto& [tag, offset] : {std::pair{std::uint16_t{0x9010}, &spec.offsetTime},
                                      std::pair{std::uint16_t{0x9011}, &spec.offsetTimeOriginal}}) {
        if (*offset) {
            const ByteVector text = TiffWriter::AsciiValue(**offset);
            exifIfd.push_back({tag, kAscii, static_cast<std::uint32_t>(text.size()), text});
        }
    }
    const ByteVector makeText = TiffWriter::AsciiValue(spec.make);
    const ByteVector modelText = TiffWriter::AsciiValue(spec.model);
    std::vector<Entry> ifd0{{0x010F, kAscii, static_cast<std::uint32_t>(makeText.size()), makeText},
                            {0x0110, kAscii, static_cast<std::uint32_t>(modelText.size()), modelText},
                            {0x011A, kRational, 1, tiff.RationalValue(72, 1)},  // XResolution
                            {0x011B, kRational, 1, tiff.RationalValue(72, 1)},  // YResolution
                            {0x0128, kShort, 1, tiff.ShortValue(2)},            // ResolutionUnit: inches
                            {0x0213, kShort, 1, tiff.ShortValue(1)},            // YCbCrPositioning: centred
                            {0x8769, kLong, 1, {}}};
    if (spec.descriptionLength > 0) {
        const ByteVector description = TiffWriter::AsciiValue(std::string(spec.descriptionLength, 'x'));
        ifd0.push_back({0x010E, kAscii, static_cast<std::uint32_t>(description.size()), description});
    }
    const std::uint32_t exifAt = 8 + TiffWriter::DirectorySize(ifd0);
    for (Entry& e : ifd0) {
        if (e.tag == 0x8769) {
            e.value = tiff.LongValue(exifAt);
        }
    }
    tiff.Write(out, ifd0, 8);
    if (out.size() - tiffStart != exifAt) {
        throw std::logic_error("EXIF directory misplaced");
    }
    tiff.Write(out, exifIfd, exifAt);
    if (spec.thumbnail) {
        // IFD0's link to the next directory follows its entries.
        const std::size_t link = tiffStart + 8 + 2 + 12 * ifd0.size();
        const auto ifd1At = static_cast<std::uint32_t>(out.size() - tiffStart);
        const ByteVector linkValue = tiff.LongValue(ifd1At);
        std::copy(linkValue.begin(), linkValue.end(), out.begin() + static_cast<std::ptrdiff_t>(link));
        std::vector<Entry> ifd1{
            {0x0103, kShort, 1, tiff.ShortValue(6)},  // Compression: JPEG
            {0x0201, kLong, 1, {}},
            {0x0202, kLong, 1, tiff.LongValue(static_cast<std::uint32_t>(spec.thumbnail->size()))}};
        ifd1[1].value = tiff.LongValue(ifd1At + TiffWriter::DirectorySize(ifd1));
        tiff.Write(out, ifd1, ifd1At);
        out.insert(out.end(), spec.thumbnail->begin(), spec.thumbnail->end());
    }
    return out;
}

ByteVector InsertApp1(const ByteVector& jpeg, const ByteVector& payload) {
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
        throw std::invalid_argument("not a JPEG stream (no SOI)");
    }
    // The length field counts itself, so the payload may take 65533 of its 65535.
    if (payload.size() > 65533) {
        throw std::invalid_argument("APP1 payload too large for one segment");
    }
    const auto length = static_cast<std::uint16_t>(payload.size() + 2);
    ByteVector out{0xFF, 0xD8, 0xFF, 0xE1};  // SOI, then the APP1 marker and its big-endian length
    out.push_back(static_cast<std::uint8_t>(length >> 8U));
    out.push_back(static_cast<std::uint8_t>(length & 0xFFU));
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

ByteVector MakePhoto(const PhotoSpec& spec) {
    return InsertApp1(EncodePicture(spec), BuildExifPayload(spec));
}

}  // namespace zeloro::sample
