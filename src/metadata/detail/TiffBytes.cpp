// src/metadata/detail/TiffBytes.cpp: byte order of the values an EXIF block holds.
#include "metadata/detail/TiffBytes.h"

#include <algorithm>
#include <cstring>

namespace zeloro::detail {

void PutWord(std::uint8_t* at, std::uint16_t value, TEndianness order) noexcept {
    const auto low = static_cast<std::uint8_t>(value);
    const auto high = static_cast<std::uint8_t>(value >> 8U);
    at[0] = order == BigEndian ? high : low;
    at[1] = order == BigEndian ? low : high;
}

void PutLongWord(std::uint8_t* at, std::uint32_t value, TEndianness order) noexcept {
    for (unsigned i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
        at[order == BigEndian ? 3 - i : i] = byte;
    }
}

std::uint32_t GetLongWord(const std::uint8_t* at, TEndianness order) noexcept {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(at[order == BigEndian ? 3 - i : i]) << (8 * i);
    }
    return value;
}

void EncodeTagData(const TExifTag& tag, TEndianness order, std::uint8_t* out) noexcept {
    const std::size_t size = tag.DataSize();
    if (size == 0) {
        return;
    }
    std::memcpy(out, tag.Data(), size);
    const std::size_t unit = tag.DataType() == tdDouble ? 8 : std::min<std::size_t>(tag.ElementSize(), 4);
    if (order == SmallEndian || unit <= 1) {
        return;
    }
    for (std::size_t i = 0; i + unit <= size; i += unit) {
        std::reverse(out + i, out + i + unit);
    }
}

void StorePointer(TExifTag& tag, std::uint32_t value) noexcept {
    if (tag.DataSize() >= 4) {
        PutLongWord(tag.Data(), value, SmallEndian);  // held little-endian in memory
    }
}

}  // namespace zeloro::detail
