// src/metadata/ExifTags.cpp: the rationals of the EXIF layer and their text forms; the tag-exists message.
#include "metadata/ExifTags.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "common/Error.h"
#include "metadata/detail/ExifTagText.h"

namespace zeloro {

ETagAlreadyExists::ETagAlreadyExists(unsigned id)
    : EInvalidTiffData("Tag with ID of \"" + std::to_string(id) + "\" already exists in section") {}

TTiffLongWordFraction::TTiffLongWordFraction(Currency quotient) {
    // The currency value already is the quotient times 10000, exact.
    std::int64_t num = quotient.value;
    std::int64_t den = 10000;
    std::int64_t a = num;
    std::int64_t b = den;
    while (b != 0) {
        const std::int64_t r = a % b;
        a = b;
        b = r;
    }
    if (a < 0) a = -a;
    if (a != 0) {
        num /= a;
        den /= a;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (num < 0 || num > kMax || den < 0 || den > kMax) {
        throw RangeError();
    }
    Numerator = static_cast<std::uint32_t>(num);
    Denominator = static_cast<std::uint32_t>(den);
}

namespace {

// "n" or "n/d"; the fraction keeps its value when the text is not one of these.
template <typename Fraction, typename T>
void ParseFraction(std::string_view text, Fraction& fraction) {
    const auto slash = text.find('/');
    const std::optional<T> n = ParseBlankedInteger<T>(text.substr(0, slash));
    const std::optional<T> d =
        slash == std::string_view::npos ? T{1} : ParseBlankedInteger<T>(text.substr(slash + 1));
    if (n && d) {
        fraction.Numerator = *n;
        fraction.Denominator = *d;
    }
}

// Empty for a missing value (denominator 0), "n" for a whole number, else "n/d".
template <typename T>
std::string FractionText(T numerator, T denominator) {
    if (denominator == 0) return {};
    if (denominator == 1) return std::to_string(numerator);
    return std::to_string(numerator) + "/" + std::to_string(denominator);
}

}  // namespace

TTiffLongWordFraction::TTiffLongWordFraction(std::string_view text) {
    ParseFraction<TTiffLongWordFraction, std::uint32_t>(text, *this);
}

std::string TTiffLongWordFraction::AsString() const { return FractionText(Numerator, Denominator); }

TTiffLongIntFraction::TTiffLongIntFraction(std::string_view text) {
    ParseFraction<TTiffLongIntFraction, std::int32_t>(text, *this);
}

std::string TTiffLongIntFraction::AsString() const { return FractionText(Numerator, Denominator); }

}  // namespace zeloro
