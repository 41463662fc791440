// src/metadata/detail/ExifTagData.h: writing one element of tag data, which is held little-endian.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zeloro {

inline void WriteElementLow(std::uint8_t* data, std::uint32_t elementSize, std::size_t index,
                            std::int64_t value) noexcept {
    // Held little-endian: the low-order bytes come first, so a narrower width keeps exactly those.
    const auto u = static_cast<std::uint64_t>(value);
    for (std::uint32_t b = 0; b < elementSize; ++b) {
        data[index * elementSize + b] = static_cast<std::uint8_t>((u >> (8U * b)) & 0xFFU);
    }
}

}  // namespace zeloro
