// src/metadata/JPEGImage.cpp: the compressed-stream picture object.
#include "metadata/JPEGImage.h"

#include <string>
#include <utility>

#include "metadata/detail/JpegCodec.h"

namespace zeloro {

JPEGError::JPEGError(int code) : Error("JPEG-Fehler #" + std::to_string(code)), code_(code) {}

Bitmap::Bitmap(std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height * 3) {}

TJPEGImage::TJPEGImage() = default;

// The change handler belongs to the image's owner, so a copy starts without one.
TJPEGImage::TJPEGImage(const TJPEGImage& other)
    : bytes_(other.bytes_),
      bitmap_(other.bitmap_ ? std::make_unique<Bitmap>(*other.bitmap_) : nullptr),
      width_(other.width_),
      height_(other.height_),
      colorModel_(other.colorModel_),
      quality_(other.quality_) {}

TJPEGImage& TJPEGImage::operator=(const TJPEGImage& other) {
    if (this != &other) {
        Assign(other);
    }
    return *this;
}

TJPEGImage::~TJPEGImage() = default;

bool TJPEGImage::Empty() const noexcept { return bytes_.empty() && bitmap_ == nullptr; }

void TJPEGImage::LoadFromBytes(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) {
        Clear();
        return;
    }
    detail::JpegHeaderInfo header;
    try {
        header = detail::ReadJpegHeader(bytes);
    } catch (const JPEGError&) {
        header = {};
    }
    TakeBytes(std::move(bytes), header.width, header.height, header.colorModel);
}

void TJPEGImage::TakeBytes(std::vector<std::uint8_t> bytes, std::uint32_t width, std::uint32_t height,
                           JPEGColorModel colorModel) {
    bytes_ = std::move(bytes);
    bitmap_.reset();
    width_ = width;
    height_ = height;
    colorModel_ = colorModel;
    Changed();
}

void TJPEGImage::SaveToBytes(std::vector<std::uint8_t>& out) {
    if (bitmap_ != nullptr) {
        detail::EncodeJpeg(*bitmap_, quality_, out);
    } else {
        out.insert(out.end(), bytes_.begin(), bytes_.end());
    }
}

void TJPEGImage::Assign(const Bitmap& bitmap) {
    bytes_.clear();
    if (bitmap.Empty()) {
        bitmap_.reset();
        width_ = 0;
        height_ = 0;
        colorModel_ = JPEGColorModel::unknown;
    } else {
        bitmap_ = std::make_unique<Bitmap>(bitmap);
        width_ = bitmap.Width();
        height_ = bitmap.Height();
        colorModel_ = JPEGColorModel::ycbcr;  // what the encoder will write
    }
    Changed();
}

void TJPEGImage::Assign(const TJPEGImage& other) {
    if (this == &other) {
        return;
    }
    bytes_ = other.bytes_;
    bitmap_ = other.bitmap_ ? std::make_unique<Bitmap>(*other.bitmap_) : nullptr;
    width_ = other.width_;
    height_ = other.height_;
    colorModel_ = other.colorModel_;
    quality_ = other.quality_;
    Changed();
}

Bitmap TJPEGImage::ToBitmap() const {
    if (bitmap_ != nullptr) {
        return *bitmap_;
    }
    if (bytes_.empty()) {
        return {};
    }
    return detail::DecodeJpeg(bytes_);
}

void TJPEGImage::SetCompressionQuality(int quality) {
    // Only the next encoding uses the setting; the picture itself stays as it is.
    quality_ = quality < 1 ? 1 : (quality > 100 ? 100 : quality);
}

void TJPEGImage::Clear() {
    const bool wasEmpty = Empty();
    bytes_.clear();
    bitmap_.reset();
    width_ = 0;
    height_ = 0;
    colorModel_ = JPEGColorModel::unknown;
    if (!wasEmpty) {
        Changed();
    }
}

void TJPEGImage::Changed() {
    if (onChange_) {
        onChange_();
    }
}

}  // namespace zeloro
