// src/tagging/TrackZone.h: a photo's camera zone taken from the track where it was taken (--zone auto).
#pragma once
#include <optional>
#include <string>

#include "common/DateTime.h"
#include "tagging/RunInputs.h"
#include "time/CameraZone.h"
#include "trackstore/TrackPosition.h"

namespace zeloro {

class PlaceIndex;
class Query;
class TCustomExifData;

// A camera runs at most this far from UTC, so the track point nearest the shot time read as UTC within
// it is near the spot the photo was taken.
inline constexpr int kZoneGuessSeconds = 14 * 3600;

inline constexpr const char* kLogZoneFromTrack = " - Zeitzone aus dem Track: ";
inline constexpr const char* kNoPointForZone =
    "Grund: kein Trackpunkt innerhalb von 14 Stunden um die Aufnahmezeit, die Zeitzone ist nicht zu "
    "bestimmen";

struct TrackZoneMatch {
    TrackPosition position;          // not found when there is no zone
    std::optional<CameraZone> zone;  // the zone the shot time was read in
    std::string zoneName;            // its name in the time-zone database
};

// The camera time local (clock offset already added) read in the zone of the track where it was taken:
// first the zone at the track point nearest to local read as UTC (within kZoneGuessSeconds), then the
// position in that zone under the rules; when that position lies in another zone, the position in that
// zone, taken as it is. No point within kZoneGuessSeconds: no zone and no position. Throws as the
// lookups do.
[[nodiscard]] TrackZoneMatch MatchInTrackZone(DateTimeValue local, const PositionRules& rules,
                                              const PlaceIndex& places, Query& query);

// The position of the photo whose EXIF data is loaded in exif under --zone auto; a photo with a stored
// offset and settings.photoZone is read in that offset (no zone name then).
[[nodiscard]] TrackZoneMatch LocateInTrackZone(const TCustomExifData& exif, const RunInputs& inputs,
                                               const RunSettings& settings, const PlaceIndex& places,
                                               Query& query);

}  // namespace zeloro
