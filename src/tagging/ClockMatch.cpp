// src/tagging/ClockMatch.cpp: the camera's clock offset from a photo of a clock.
#include "tagging/ClockMatch.h"

#include <cstdio>

#include "common/Error.h"

namespace zeloro {

ClockMatch MatchClock(const std::string& photoPath, DateTimeValue /*shownTime*/,
                      const CameraZone& /*shownZone*/, const RunInputs& /*inputs*/,
                      const RunSettings& /*settings*/) {
    throw Error("Uhrabgleich noch nicht verfügbar: " + photoPath);
}

std::string ClockOffsetText(std::int64_t offsetSeconds) {
    const bool negative = offsetSeconds < 0;
    // Unsigned so that the most negative value still has a magnitude.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(offsetSeconds) : static_cast<std::uint64_t>(offsetSeconds);
    char text[48];
    std::snprintf(text, sizeof text, "%c%llu:%02u:%02u", negative ? '-' : '+',
                  static_cast<unsigned long long>(magnitude / 3600),
                  static_cast<unsigned>(magnitude / 60 % 60), static_cast<unsigned>(magnitude % 60));
    return text;
}

}  // namespace zeloro
