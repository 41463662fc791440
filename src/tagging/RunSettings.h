// src/tagging/RunSettings.h: the opt-in settings of a tagging run beyond the window's four inputs.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "time/CameraZone.h"

namespace zeloro {

// The largest gap between two track points that --interpolate bridges when none is given, and the
// largest that may be given: a day.
inline constexpr int kDefaultInterpolationGap = 60;
inline constexpr int kLargestInterpolationGap = 86400;

// Every member's default leaves the run exactly as it is without settings: same log, photos, map list
// and track table.
struct RunSettings {
    // Added to every shot time before its zone is applied: a camera 90 s slow needs +90.
    std::int64_t clockOffsetSeconds = 0;
    // The camera's zone when it is no list item (a fixed offset such as "+05:30" or a named zone);
    // nullopt: the list index of the run's inputs.
    std::optional<CameraZone> zone;
    // A photo that stores its zone offset (OffsetTimeOriginal, else OffsetTime) is shifted by that
    // offset; photos without one by the zone above.
    bool photoZone = false;
    // Interpolate between the points around the photo's UTC time when they lie at most this many
    // seconds apart in one segment; the photo's own UTC second becomes its GPS time then.
    std::optional<int> interpolateMaxGap;
    // Write GPSAltitude and GPSAltitudeRef from the point's elevation, when it has one.
    bool altitude = false;
    // Further GPX files, imported in this order after the run's own GPX file and before any photo is
    // matched.
    std::vector<std::string> moreGpxPaths;
    // Details in the log: a second line behind every "keine Koordinaten gefunden" with the reason, and
    // photos named by their path below the chosen folder.
    bool explain = false;

    // True when a shot time reaches UTC otherwise than by the list zone alone.
    [[nodiscard]] bool ShiftsTime() const noexcept { return clockOffsetSeconds != 0 || zone || photoZone; }
    // True when the import must keep elevations and segments.
    [[nodiscard]] bool NeedsTrackDetails() const noexcept { return interpolateMaxGap || altitude; }
};

}  // namespace zeloro
