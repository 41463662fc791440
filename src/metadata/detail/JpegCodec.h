// src/metadata/detail/JpegCodec.h: the libjpeg calls of the image layer (header read, decode, encode).
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "metadata/JPEGImage.h"

namespace zeloro::detail {

struct JpegHeaderInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    JPEGColorModel colorModel = JPEGColorModel::unknown;
};

// Reads the frame header only; no pixels are decoded. Throws JPEGError.
[[nodiscard]] JpegHeaderInfo ReadJpegHeader(std::span<const std::uint8_t> jpeg);

// Decodes to RGB. When minWidth/minHeight are given the codec may decode at 1/2, 1/4 or 1/8 size as
// long as the result stays at least that large (a thumbnail reduction needs no more). Pictures that
// would need more than kMaxDecodedPixels pixels are refused with JPEGError, like any damaged stream.
[[nodiscard]] Bitmap DecodeJpeg(std::span<const std::uint8_t> jpeg, std::uint32_t minWidth = 0,
                                std::uint32_t minHeight = 0);

// Encodes as baseline YCbCr 4:2:0 at the quality (1..100); appends to out. Throws JPEGError.
void EncodeJpeg(const Bitmap& bitmap, int quality, std::vector<std::uint8_t>& out);

inline constexpr std::uint64_t kMaxDecodedPixels = 64ULL * 1024 * 1024;

}  // namespace zeloro::detail
