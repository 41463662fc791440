// src/metadata/detail/JpegCodec.cpp: libjpeg behind setjmp-safe helpers.
//
// libjpeg reports errors by calling error_exit, which must not return; ours longjmps back. No C++
// destructor may be skipped by that jump, so every function that calls setjmp holds nothing but
// plain values, and the codec state lives on the heap (locals changed after setjmp would be
// indeterminate after the jump). The callers throw once those functions return false.
#include "metadata/detail/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace zeloro::detail {
namespace {

// A stream with more scans than this is refused: real progressive files have about ten, and a
// crafted one could otherwise keep the decoder busy for a very long time.
constexpr int kMaxScans = 256;
// Working memory the codec may request for one picture (coefficient buffers of progressive files).
constexpr long kMaxCodecMemory = 512L * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;  // first member: libjpeg hands back a pointer to it
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

void SilenceMessage(j_common_ptr /*cinfo*/) {}

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor != 0) {
        auto* info = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (info->input_scan_number > kMaxScans) {
            cinfo->err->msg_code = JERR_NOT_COMPILED;  // any fatal code: the stream is refused
            cinfo->err->error_exit(cinfo);
        }
    }
}

void InitErrors(ErrorManager& error) {
    jpeg_std_error(&error.pub);
    error.pub.error_exit = JumpOnError;
    error.pub.output_message = SilenceMessage;
}

struct Decoder {
    jpeg_decompress_struct info{};
    ErrorManager error{};
    jpeg_progress_mgr progress{};
    bool created = false;
    Decoder() { InitErrors(error); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() {
        if (created) {
            jpeg_destroy_decompress(&info);
        }
    }
};

struct Encoder {
    jpeg_compress_struct info{};
    ErrorManager error{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool created = false;
    Encoder() { InitErrors(error); }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder() {
        if (created) {
            jpeg_destroy_compress(&info);
        }
        std::free(buffer);  // jpeg_mem_dest allocates with malloc and leaves the release to us
    }
};

JPEGColorModel ModelOf(J_COLOR_SPACE space) noexcept {
    switch (space) {
        case JCS_GRAYSCALE:
            return JPEGColorModel::grayscale;
        case JCS_RGB:
            return JPEGColorModel::rgb;
        case JCS_YCbCr:
            return JPEGColorModel::ycbcr;
        case JCS_CMYK:
            return JPEGColorModel::cmyk;
        case JCS_YCCK:
            return JPEGColorModel::ycck;
        default:
            return JPEGColorModel::unknown;
    }
}

// Creates the decompressor and reads the header (setjmp frame: plain values only).
bool OpenDecoder(Decoder* d, const unsigned char* data, unsigned long size) {
    if (setjmp(d->error.jump) != 0) {
        return false;
    }
    d->info.err = &d->error.pub;
    jpeg_CreateDecompress(&d->info, JPEG_LIB_VERSION, sizeof(d->info));
    d->created = true;
    d->info.mem->max_memory_to_use = kMaxCodecMemory;
    d->progress.progress_monitor = LimitScans;
    d->info.progress = &d->progress;
    jpeg_mem_src(&d->info, data, size);
    jpeg_read_header(&d->info, TRUE);
    return true;
}

// Chooses the output colour space and DCT scaling, then computes the output size.
bool PrepareOutput(Decoder* d, unsigned int denom) {
    if (setjmp(d->error.jump) != 0) {
        return false;
    }
    const bool inkColours = d->info.jpeg_color_space == JCS_CMYK || d->info.jpeg_color_space == JCS_YCCK;
    d->info.out_color_space = inkColours ? JCS_CMYK : JCS_RGB;
    d->info.scale_num = 1;
    d->info.scale_denom = denom;
    jpeg_calc_output_dimensions(&d->info);
    return true;
}

bool ReadPixels(Decoder* d, unsigned char* out, std::size_t stride) {
    if (setjmp(d->error.jump) != 0) {
        return false;
    }
    jpeg_start_decompress(&d->info);
    while (d->info.output_scanline < d->info.output_height) {
        JSAMPROW row = out + static_cast<std::size_t>(d->info.output_scanline) * stride;
        jpeg_read_scanlines(&d->info, &row, 1);
    }
    jpeg_finish_decompress(&d->info);
    return true;
}

bool RunEncoder(Encoder* e, const unsigned char* pixels, unsigned int width, unsigned int height,
                int quality) {
    if (setjmp(e->error.jump) != 0) {
        return false;
    }
    e->info.err = &e->error.pub;
    jpeg_CreateCompress(&e->info, JPEG_LIB_VERSION, sizeof(e->info));
    e->created = true;
    jpeg_mem_dest(&e->info, &e->buffer, &e->size);
    e->info.image_width = width;
    e->info.image_height = height;
    e->info.input_components = 3;
    e->info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&e->info);
    jpeg_set_quality(&e->info, quality, TRUE);
    jpeg_start_compress(&e->info, TRUE);
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    while (e->info.next_scanline < e->info.image_height) {
        // libjpeg's row type is not const, but compression only reads the rows.
        JSAMPROW row =
            const_cast<unsigned char*>(pixels + static_cast<std::size_t>(e->info.next_scanline) * stride);
        jpeg_write_scanlines(&e->info, &row, 1);
    }
    jpeg_finish_compress(&e->info);
    return true;
}

unsigned long SizeFor(std::span<const std::uint8_t> jpeg) {
    // The memory source takes an unsigned long, which is 64 bits wide here, so nothing is cut.
    static_assert(sizeof(unsigned long) >= sizeof(std::size_t));
    return static_cast<unsigned long>(jpeg.size());
}

[[noreturn]] void ThrowCodecError(const ErrorManager& error) { throw JPEGError(error.pub.msg_code); }

}  // namespace

JpegHeaderInfo ReadJpegHeader(std::span<const std::uint8_t> jpeg) {
    auto decoder = std::make_unique<Decoder>();
    if (!OpenDecoder(decoder.get(), jpeg.data(), SizeFor(jpeg))) {
        ThrowCodecError(decoder->error);
    }
    return {decoder->info.image_width, decoder->info.image_height, ModelOf(decoder->info.jpeg_color_space)};
}

Bitmap DecodeJpeg(std::span<const std::uint8_t> jpeg, std::uint32_t minWidth, std::uint32_t minHeight) {
    auto decoder = std::make_unique<Decoder>();
    if (!OpenDecoder(decoder.get(), jpeg.data(), SizeFor(jpeg))) {
        ThrowCodecError(decoder->error);
    }
    unsigned int denom = 1;
    if (minWidth > 0 && minHeight > 0) {
        const std::uint64_t w = decoder->info.image_width;
        const std::uint64_t h = decoder->info.image_height;
        for (const unsigned int candidate : {8U, 4U, 2U}) {
            if ((w + candidate - 1) / candidate >= minWidth && (h + candidate - 1) / candidate >= minHeight) {
                denom = candidate;
                break;
            }
        }
    }
    if (!PrepareOutput(decoder.get(), denom)) {
        ThrowCodecError(decoder->error);
    }
    const std::uint32_t width = decoder->info.output_width;
    const std::uint32_t height = decoder->info.output_height;
    if (static_cast<std::uint64_t>(width) * height > kMaxDecodedPixels) {
        throw JPEGError(JERR_IMAGE_TOO_BIG);
    }
    const auto components = static_cast<std::size_t>(decoder->info.out_color_components);
    const std::size_t stride = static_cast<std::size_t>(width) * components;
    std::vector<std::uint8_t> raw(stride * height);
    if (!ReadPixels(decoder.get(), raw.data(), stride)) {
        ThrowCodecError(decoder->error);
    }
    Bitmap bitmap(width, height);
    auto out = bitmap.Pixels();
    if (components == 3) {
        std::copy(raw.begin(), raw.end(), out.begin());
    } else {
        // Ink colours as Adobe writes them: stored inverted, so a high value means little ink.
        for (std::size_t i = 0, o = 0; i + 3 < raw.size(); i += 4, o += 3) {
            const unsigned k = raw[i + 3];
            out[o] = static_cast<std::uint8_t>(raw[i] * k / 255U);
            out[o + 1] = static_cast<std::uint8_t>(raw[i + 1] * k / 255U);
            out[o + 2] = static_cast<std::uint8_t>(raw[i + 2] * k / 255U);
        }
    }
    return bitmap;
}

void EncodeJpeg(const Bitmap& bitmap, int quality, std::vector<std::uint8_t>& out) {
    auto encoder = std::make_unique<Encoder>();
    if (!RunEncoder(encoder.get(), bitmap.Pixels().data(), bitmap.Width(), bitmap.Height(), quality)) {
        ThrowCodecError(encoder->error);
    }
    out.insert(out.end(), encoder->buffer, encoder->buffer + encoder->size);
}

}  // namespace zeloro::detail
