// src/metadata/ThumbnailScaler.cpp: scale-to-fit and an area-averaging resampler.
#include "metadata/ThumbnailScaler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "metadata/detail/JpegCodec.h"

namespace zeloro {
namespace {

// Rounds to the nearest integer, halves to even (the default floating-point rounding mode), and
// keeps at least 1 so that a thin picture does not vanish.
std::uint32_t RoundSide(double value) noexcept {
    const double rounded = std::nearbyint(value);
    if (rounded < 1.0) {
        return 1;
    }
    return static_cast<std::uint32_t>(rounded);
}

struct Tap {
    std::uint32_t index;
    float weight;
};

// For each of the n target positions, the source positions it covers and their shares (summing to 1).
std::vector<std::vector<Tap>> Taps(std::uint32_t sourceSize, std::uint32_t targetSize) {
    std::vector<std::vector<Tap>> taps(targetSize);
    const double scale = static_cast<double>(sourceSize) / static_cast<double>(targetSize);
    for (std::uint32_t i = 0; i < targetSize; ++i) {
        double from = i * scale;
        double to = (i + 1) * scale;
        if (to - from < 1.0) {
            // Enlarging: take one source pixel's width around the centre, so neighbours blend.
            const double centre = (from + to) / 2.0;
            from = std::max(0.0, centre - 0.5);
            to = std::min(static_cast<double>(sourceSize), from + 1.0);
            from = to - 1.0;
        }
        const double span = to - from;
        auto first = static_cast<std::uint32_t>(std::floor(from));
        const auto last = std::min(sourceSize, static_cast<std::uint32_t>(std::ceil(to)));
        for (std::uint32_t s = first; s < last; ++s) {
            const double covered = std::min(to, s + 1.0) - std::max(from, static_cast<double>(s));
            if (covered > 0.0) {
                taps[i].push_back({s, static_cast<float>(covered / span)});
            }
        }
    }
    return taps;
}

}  // namespace

ThumbnailSize ScaleToFit(std::uint32_t width, std::uint32_t height, std::uint32_t boxWidth,
                         std::uint32_t boxHeight) noexcept {
    if (width == 0 || height == 0) {
        return {};
    }
    const double ratio = static_cast<double>(width) / static_cast<double>(height);
    ThumbnailSize size;
    if (height < width) {
        size.Width = boxWidth;
        size.Height = RoundSide(boxWidth / ratio);
        if (size.Height > boxHeight) {
            size.Height = boxHeight;
            size.Width = RoundSide(ratio * boxHeight);
        }
    } else {
        size.Height = boxHeight;
        size.Width = RoundSide(ratio * boxHeight);
        if (size.Width > boxWidth) {
            size.Width = boxWidth;
            size.Height = RoundSide(boxWidth / ratio);
        }
    }
    return size;
}

Bitmap StretchBitmap(const Bitmap& source, std::uint32_t width, std::uint32_t height) {
    if (source.Empty() || width == 0 || height == 0) {
        return {};
    }
    const std::uint32_t sw = source.Width();
    const std::uint32_t sh = source.Height();
    const auto columns = Taps(sw, width);
    const auto rows = Taps(sh, height);
    const auto in = source.Pixels();

    // Horizontal pass into a width x sh buffer of floats, then the vertical pass into the result.
    std::vector<float> wide(static_cast<std::size_t>(width) * sh * 3);
    for (std::uint32_t y = 0; y < sh; ++y) {
        const std::size_t rowIn = static_cast<std::size_t>(y) * sw * 3;
        const std::size_t rowOut = static_cast<std::size_t>(y) * width * 3;
        for (std::uint32_t x = 0; x < width; ++x) {
            float r = 0;
            float g = 0;
            float b = 0;
            for (const Tap& tap : columns[x]) {
                const std::size_t p = rowIn + static_cast<std::size_t>(tap.index) * 3;
                r += tap.weight * in[p];
                g += tap.weight * in[p + 1];
                b += tap.weight * in[p + 2];
            }
            const std::size_t o = rowOut + static_cast<std::size_t>(x) * 3;
            wide[o] = r;
            wide[o + 1] = g;
            wide[o + 2] = b;
        }
    }
    Bitmap result(width, height);
    auto out = result.Pixels();
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::size_t c = 0; c < stride; ++c) {
            float sum = 0;
            for (const Tap& tap : rows[y]) {
                sum += tap.weight * wide[static_cast<std::size_t>(tap.index) * stride + c];
            }
            out[static_cast<std::size_t>(y) * stride + c] =
                static_cast<std::uint8_t>(std::clamp(std::lround(sum), 0L, 255L));
        }
    }
    return result;
}

Bitmap ScaledToFit(const TJPEGImage& source, std::uint32_t boxWidth, std::uint32_t boxHeight) {
    const ThumbnailSize size = ScaleToFit(source.Width(), source.Height(), boxWidth, boxHeight);
    if (size.Width == 0 || size.Height == 0) {
        return {};
    }
    Bitmap pixels;
    if (source.HasPendingBitmap()) {
        pixels = source.ToBitmap();
    } else {
        pixels = detail::DecodeJpeg(source.StoredBytes(), size.Width, size.Height);
    }
    return StretchBitmap(pixels, size.Width, size.Height);
}

}  // namespace zeloro
