// src/metadata/XMPGPSText.h: the XMP text of a GPS coordinate, degrees and decimal minutes with the
// direction letter ("47,39.5811N"), and its reading back.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "metadata/ExifTags.h"

namespace zeloro {

// Minutes are written with this many decimals at most (trailing zeros dropped, one kept): a step of
// 1e-8 minutes is 6e-7 seconds, far below the finest seconds the EXIF rationals of a run carry (1/10000),
// so the text reads back as the same EXIF value.
inline constexpr int kXMPGPSMinuteDecimals = 8;

// "DDD,MM.mmk" from the EXIF rationals; seconds with denominator 0 are left out. Fractional degrees or
// minutes carry over into the minutes. Empty when the degrees or minutes have denominator 0.
[[nodiscard]] std::string XMPGPSCoordinateText(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes,
                                               TTiffLongWordFraction seconds, char direction);

struct XMPGPSCoordinate {
    double degrees = 0;  // unsigned, decimal
    char direction = '\0';
};

// Reads "DDD,MM.mmk", "DDD,MM,SSk" (seconds decimal or as a fraction "17433/500", the form older files
// carry) and "DDD,MMk"; each number may be a fraction n/d. The direction is one of N, S, E, W in either
// case, given back upper-cased. Nullopt for anything else.
[[nodiscard]] std::optional<XMPGPSCoordinate> ParseXMPGPSCoordinate(std::string_view text);

}  // namespace zeloro
