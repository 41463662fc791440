// src/trackstore/TrackPosition.h: the opt-in lookup of a photo's position: linear interpolation between
// the track points around its UTC time, and the point's elevation.
#pragma once
#include <optional>
#include <string>

#include "common/Coord.h"
#include "common/DateTime.h"

namespace zeloro {

class Query;

inline constexpr const char* kPointAtOrBeforeSql =
    "SELECT * FROM gpx WHERE utctime<=:utctime ORDER BY utctime DESC, rowid DESC LIMIT 1";
inline constexpr const char* kPointAtOrAfterSql =
    "SELECT * FROM gpx WHERE utctime>=:utctime ORDER BY utctime, rowid LIMIT 1";
inline constexpr const char* kElevationOfPointSql =
    "SELECT ele FROM gpx WHERE utctime=:utctime AND lat=:lat AND lon=:lon AND ele IS NOT NULL LIMIT 1";

struct PositionRules {
    int toleranceSeconds = 0;              // the window of the point lookup, as searchGPX takes it
    std::optional<int> interpolateMaxGap;  // seconds; nullopt: no interpolation
    bool altitude = false;                 // also find the elevation
};

struct TrackPosition {
    // As searchGPX fills it. An interpolated position carries decimal-degree texts of its own in lat and
    // lon, and the photo's own UTC second in utctime.
    TCoord coord;
    std::optional<long double> altitude;  // metres, negative below sea level; only when asked and known
    bool interpolated = false;
};

// The position at the UTC time utc. With interpolateMaxGap: the last point at or before and the first
// point at or after the UTC second (both found through the index on utctime; among points of the same
// second, the latest imported before and the earliest imported after). When both exist, lie at most
// interpolateMaxGap seconds apart and belong to the same segment, the latitude and the longitude are
// interpolated linearly in time (the longitude the short way across the 180th meridian), and so is the
// elevation when both points have one. A point of exactly that second is taken as it is, its texts
// unchanged. In every other case, and without interpolateMaxGap, the point is searchGPX's (exact second
// or tolerance window) and the elevation the one stored with that point. Throws as searchGPX does.
[[nodiscard]] TrackPosition FindTrackPosition(DateTimeValue utc, const PositionRules& rules, Query& query);

// A coordinate in decimal degrees as the track table's texts write it: "." as the separator, at most
// seven decimals (about a centimetre), no trailing zeros, no "-" for a value that rounds to zero.
[[nodiscard]] std::string DegreesText(long double degrees);

}  // namespace zeloro
