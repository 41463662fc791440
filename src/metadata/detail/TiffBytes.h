// src/metadata/detail/TiffBytes.h: the byte forms of an EXIF block shared by both ways of saving it.
#pragma once
#include <cstdint>

#include "metadata/ExifTags.h"
#include "metadata/Streams.h"

namespace zeloro::detail {

void PutWord(std::uint8_t* at, std::uint16_t value, TEndianness order) noexcept;
void PutLongWord(std::uint8_t* at, std::uint32_t value, TEndianness order) noexcept;
[[nodiscard]] std::uint32_t GetLongWord(const std::uint8_t* at, TEndianness order) noexcept;

// The tag's DataSize() bytes in the block's byte order: 1-byte types as they are, 2-byte types as 16-bit
// values, DOUBLE as 8-byte values, every other type (LONG, SLONG, FLOAT, IFD, both rationals) as a run of
// 32-bit values (a rational is its numerator, then its denominator).
void EncodeTagData(const TExifTag& tag, TEndianness order, std::uint8_t* out) noexcept;

// Element 0 of a pointer tag (LONG, SLONG or IFD, one element) becomes `value`, straight in the data: a
// pointer is the writer's bookkeeping, not an edit, so no change is reported.
void StorePointer(TExifTag& tag, std::uint32_t value) noexcept;

}  // namespace zeloro::detail
