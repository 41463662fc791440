// src/metadata/ThumbnailScaler.h: the scale-to-fit rule and our own resampler for EXIF thumbnails.
#pragma once
#include <cstdint>

#include "metadata/JPEGImage.h"

namespace zeloro {

struct ThumbnailSize {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    friend bool operator==(const ThumbnailSize&, const ThumbnailSize&) = default;
};

inline constexpr std::uint32_t kStandardThumbnailWidth = 160;
inline constexpr std::uint32_t kStandardThumbnailHeight = 120;

// The size of a width x height picture fitted into the box, keeping its aspect ratio; halves round to
// even. Applies whether the picture is larger or smaller than the box; 0 x 0 when either side is 0.
// A side that would round to 0 (a very long, thin picture) is kept at 1 pixel so the result stays a
// picture that can be encoded.
[[nodiscard]] ThumbnailSize ScaleToFit(std::uint32_t width, std::uint32_t height, std::uint32_t boxWidth,
                                       std::uint32_t boxHeight) noexcept;

// Draws the source stretched onto a new bitmap of the given size: each target pixel is the
// area-weighted mean of the source pixels it covers. An empty source or size gives an empty bitmap.
[[nodiscard]] Bitmap StretchBitmap(const Bitmap& source, std::uint32_t width, std::uint32_t height);

// The picture scaled to fit the box, as a bitmap (decoded at reduced size where the codec allows).
// Codec errors propagate as JPEGError.
[[nodiscard]] Bitmap ScaledToFit(const TJPEGImage& source, std::uint32_t boxWidth, std::uint32_t boxHeight);

}  // namespace zeloro
