// src/common/Currency.h: the fixed-point currency value (four decimal places).
#pragma once
#include <cstdint>

namespace zeloro {

// A signed count of 1/10000.
struct Currency {
    std::int64_t value = 0;
    // Multiplies by 10000 and rounds to the nearest integer, ties to even; throws RangeError when the
    // result does not fit 64 bits.
    [[nodiscard]] static Currency FromReal(long double v);
    [[nodiscard]] long double AsReal() const noexcept { return static_cast<long double>(value) / 10000.0L; }
    friend bool operator==(const Currency&, const Currency&) = default;
};

}  // namespace zeloro
