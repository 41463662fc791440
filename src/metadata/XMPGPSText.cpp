// src/metadata/XMPGPSText.cpp: the XMP text of a GPS coordinate written and read.
#include "metadata/XMPGPSText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "common/AsciiText.h"

namespace zeloro {

namespace {

[[nodiscard]] long double Quotient(TTiffLongWordFraction value) noexcept {
    return static_cast<long double>(value.Numerator) / static_cast<long double>(value.Denominator);
}

// A decimal number ("39.5811", "12") or a fraction of two whole numbers ("17433/500").
[[nodiscard]] std::optional<double> ParseNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const std::size_t slash = text.find('/');
    if (slash != std::string_view::npos) {
        std::uint64_t numerator = 0;
        std::uint64_t denominator = 0;
        const std::string_view n = text.substr(0, slash);
        const std::string_view d = text.substr(slash + 1);
        const auto rn = std::from_chars(n.data(), n.data() + n.size(), numerator);
        const auto rd = std::from_chars(d.data(), d.data() + d.size(), denominator);
        if (n.empty() || d.empty() || rn.ec != std::errc() || rn.ptr != n.data() + n.size() ||
            rd.ec != std::errc() || rd.ptr != d.data() + d.size() || denominator == 0) {
            return std::nullopt;
        }
        return static_cast<double>(numerator) / static_cast<double>(denominator);
    }
    for (const char c : text) {
        if ((c < '0' || c > '9') && c != '.') {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string XMPGPSCoordinateText(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes,
                                 TTiffLongWordFraction seconds, char direction) {
    if (degrees.Denominator == 0 || minutes.Denominator == 0) {
        return {};
    }
    long double total = Quotient(degrees) * 60 + Quotient(minutes);
    if (seconds.Denominator != 0) {
        total += Quotient(seconds) / 60;
    }
    // Whole steps of the last decimal, as an integer so that the carry into the degrees is exact; values
    // far beyond any real coordinate give up decimals rather than overflow.
    int decimals = kXMPGPSMinuteDecimals;
    long double scale = std::pow(10.0L, decimals);
    while (decimals > 0 && total * scale >= 1e18L) {
        --decimals;
        scale /= 10;
    }
    if (total * scale >= 1e18L) {
        return {};
    }
    const auto steps = static_cast<std::uint64_t>(std::llround(total * scale));
    const auto stepsPerDegree = static_cast<std::uint64_t>(60 * scale);
    const auto stepsPerMinute = static_cast<std::uint64_t>(scale);
    const std::uint64_t wholeDegrees = steps / stepsPerDegree;
    const std::uint64_t minuteSteps = steps % stepsPerDegree;
    std::string text =
        std::to_string(wholeDegrees) + "," + std::to_string(minuteSteps / stepsPerMinute) + ".";
    std::string fraction = std::to_string(minuteSteps % stepsPerMinute);
    fraction.insert(
        0, static_cast<std::size_t>(decimals) - std::min(fraction.size(), static_cast<std::size_t>(decimals)),
        '0');
    while (fraction.size() > 1 && fraction.back() == '0') {
        fraction.pop_back();
    }
    text += fraction.empty() ? "0" : fraction;
    if (direction != '\0') {
        text += AsciiUpper(direction);
    }
    return text;
}

std::optional<XMPGPSCoordinate> ParseXMPGPSCoordinate(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const char letter = AsciiUpper(text.back());
    if (letter != 'N' && letter != 'S' && letter != 'E' && letter != 'W') {
        return std::nullopt;
    }
    text.remove_suffix(1);
    std::vector<double> parts;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::optional<double> number = ParseNumber(text.substr(0, comma));
        if (!number) {
            return std::nullopt;
        }
        parts.push_back(*number);
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    if (parts.size() < 2 || parts.size() > 3) {
        return std::nullopt;
    }
    XMPGPSCoordinate coordinate;
    coordinate.degrees = parts[0] + parts[1] / 60 + (parts.size() == 3 ? parts[2] / 3600 : 0);
    coordinate.direction = letter;
    return coordinate;
}

}  // namespace zeloro
