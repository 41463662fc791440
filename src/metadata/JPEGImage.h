// src/metadata/JPEGImage.h: a JPEG picture held as its compressed bytes, decoded only when asked to.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Error.h"

namespace zeloro {

// A failure of the JPEG codec; what() is "JPEG-Fehler #%d" with the codec's message number.
class JPEGError : public Error {
public:
    explicit JPEGError(int code);
    [[nodiscard]] int code() const noexcept { return code_; }

private:
    int code_;
};

// Uncompressed 8-bit RGB pixels, rows top to bottom, three bytes per pixel.
class Bitmap {
public:
    Bitmap() = default;
    Bitmap(std::uint32_t width, std::uint32_t height);
    [[nodiscard]] std::uint32_t Width() const noexcept { return width_; }
    [[nodiscard]] std::uint32_t Height() const noexcept { return height_; }
    [[nodiscard]] bool Empty() const noexcept { return width_ == 0 || height_ == 0; }
    [[nodiscard]] std::span<std::uint8_t> Pixels() noexcept { return pixels_; }
    [[nodiscard]] std::span<const std::uint8_t> Pixels() const noexcept { return pixels_; }

private:
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::vector<std::uint8_t> pixels_;
};

// Colour model named by the frame header (the codec's colour space of the stored stream).
enum class JPEGColorModel : std::uint8_t { unknown, grayscale, rgb, ycbcr, cmyk, ycck };

// The picture as a stored compressed stream. Loading reads only the JPEG header (size and colour
// model); pixels are decoded on demand. Saving writes the stored bytes unchanged unless a bitmap
// replaced them, in which case the bitmap is encoded at CompressionQuality() at that moment, so a
// quality set after Assign(bitmap) still takes effect.
class TJPEGImage {
public:
    TJPEGImage();
    TJPEGImage(const TJPEGImage& other);
    TJPEGImage& operator=(const TJPEGImage& other);
    TJPEGImage(TJPEGImage&&) = delete;
    TJPEGImage& operator=(TJPEGImage&&) = delete;
    virtual ~TJPEGImage();

    // True when the image holds neither compressed bytes nor a bitmap.
    [[nodiscard]] bool Empty() const noexcept;
    [[nodiscard]] std::uint32_t Width() const noexcept { return width_; }
    [[nodiscard]] std::uint32_t Height() const noexcept { return height_; }
    [[nodiscard]] JPEGColorModel ColorModel() const noexcept { return colorModel_; }

    // Takes the bytes as the stored stream and reads their header. A stream whose header the codec
    // refuses is still kept, as it is, with size 0 x 0 and an unknown colour model: an embedded
    // thumbnail travels unchanged through a save even when libjpeg cannot read it (only reducing it
    // would fail, with JPEGError). TJPEGImageEx is strict instead. An empty buffer empties the image.
    virtual void LoadFromBytes(std::vector<std::uint8_t> bytes);
    // Appends the JPEG form (stored bytes, or the replacing bitmap encoded now) to out. Not const: an
    // image with metadata views brings them up to date while it writes itself.
    virtual void SaveToBytes(std::vector<std::uint8_t>& out);
    // The stored compressed bytes; empty while a bitmap replaces them (use SaveToBytes then).
    [[nodiscard]] std::span<const std::uint8_t> StoredBytes() const noexcept { return bytes_; }
    // Whether the pixels were replaced by a bitmap that will be encoded on the next save.
    [[nodiscard]] bool HasPendingBitmap() const noexcept { return bitmap_ != nullptr; }

    // Replaces the picture by the bitmap (an empty bitmap empties the image).
    void Assign(const Bitmap& bitmap);
    // Copies the other image's stored stream or bitmap, size and quality setting.
    void Assign(const TJPEGImage& other);
    // Decodes the picture (the stored bytes, or a copy of the replacing bitmap).
    [[nodiscard]] Bitmap ToBitmap() const;

    // 1..100 (values outside are clamped); the default is 90.
    [[nodiscard]] int CompressionQuality() const noexcept { return quality_; }
    void SetCompressionQuality(int quality);

    void Clear();

    // Called after every change of the picture (load, assign, clear).
    void SetOnChange(std::function<void()> handler) { onChange_ = std::move(handler); }

protected:
    virtual void Changed();
    // Takes the bytes with the header already read (strict loads read it themselves first).
    void TakeBytes(std::vector<std::uint8_t> bytes, std::uint32_t width, std::uint32_t height,
                   JPEGColorModel colorModel);

private:
    std::vector<std::uint8_t> bytes_;
    std::unique_ptr<Bitmap> bitmap_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    JPEGColorModel colorModel_ = JPEGColorModel::unknown;
    int quality_ = 90;
    std::function<void()> onChange_;
};

}  // namespace zeloro
