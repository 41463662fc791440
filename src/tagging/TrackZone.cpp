// src/tagging/TrackZone.cpp: the zone of the track at a photo's shot time, found in two steps.
#include "tagging/TrackZone.h"

#include "metadata/ExifData.h"
#include "places/PlaceIndex.h"
#include "tagging/PhotoLocator.h"
#include "time/TimeRules.h"
#include "trackstore/TrackLookup.h"

namespace zeloro {
namespace {

std::string ZoneOf(const TCoord& coord, const PlaceIndex& places) {
    return places.ZoneName(static_cast<double>(CoordinateValue(coord.lat, true)),
                           static_cast<double>(CoordinateValue(coord.lon, false)));
}

}  // namespace

TrackZoneMatch MatchInTrackZone(DateTimeValue local, const PositionRules& rules, const PlaceIndex& places,
                                Query& query) {
    TrackZoneMatch match;
    const TCoord guess = searchGPX(local, kZoneIndexUtc, kZoneGuessSeconds, query);
    if (!guess.found) {
        return match;
    }
    std::string name = ZoneOf(guess, places);
    std::optional<CameraZone> zone = CameraZone::Parse(name);
    if (!zone) {
        return match;  // a zone the system's database lacks: no time to read the photo in
    }
    TrackPosition position = FindTrackPosition(zone->ToUtc(local), rules, query);
    if (position.coord.found) {
        // Near a zone border the first guess can be an hour off; the spot found decides, once.
        const std::string there = ZoneOf(position.coord, places);
        if (there != name) {
            if (const std::optional<CameraZone> other = CameraZone::Parse(there)) {
                name = there;
                zone = other;
                position = FindTrackPosition(zone->ToUtc(local), rules, query);
            }
        }
    }
    match.position = std::move(position);
    match.zone = zone;
    match.zoneName = std::move(name);
    return match;
}

TrackZoneMatch LocateInTrackZone(const TCustomExifData& exif, const RunInputs& inputs,
                                 const RunSettings& settings, const PlaceIndex& places, Query& query) {
    const PositionRules rules{inputs.toleranceSeconds, settings.interpolateMaxGap, settings.altitude};
    const DateTimeValue shot = exif.DateTimeOriginal();
    if (settings.photoZone) {
        if (const std::optional<int> stored = StoredPhotoOffset(exif)) {
            TrackZoneMatch match;
            match.zone = CameraZone::FromOffset(*stored);
            match.position =
                FindTrackPosition(ShotTimeToUtc(shot, stored, inputs.zoneIndex, settings), rules, query);
            return match;
        }
    }
    const DateTimeValue local =
        settings.clockOffsetSeconds != 0 ? ShiftSeconds(shot, settings.clockOffsetSeconds) : shot;
    return MatchInTrackZone(local, rules, places, query);
}

}  // namespace zeloro
