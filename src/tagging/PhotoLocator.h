// src/tagging/PhotoLocator.h: a photo's UTC time and track position under the run's settings, and the
// altitude written with the position.
#pragma once
#include <optional>
#include <string>

#include "common/DateTime.h"
#include "tagging/RunInputs.h"
#include "trackstore/TrackPosition.h"

namespace zeloro {

class Query;
class TCustomExifData;

inline constexpr std::uint16_t kOffsetTimeTag = 0x9010;          // zone of DateTime
inline constexpr std::uint16_t kOffsetTimeOriginalTag = 0x9011;  // zone of DateTimeOriginal

// The zone offset the photo stores, in seconds east of UTC: OffsetTimeOriginal, or OffsetTime when that
// is missing or unreadable; nullopt when neither holds an offset such as "+05:30".
[[nodiscard]] std::optional<int> StoredPhotoOffset(const TCustomExifData& exif);

// The camera time shot as UTC: the clock offset added first, then the photo's stored offset (with
// photoZone and when there is one), else settings.zone, else the list zone zoneIndex.
[[nodiscard]] DateTimeValue ShotTimeToUtc(DateTimeValue shot, std::optional<int> storedOffset, int zoneIndex,
                                          const RunSettings& settings);

// The zone in which ShotTimeToUtc reads the camera's local time local (clock offset already added), as
// the map's popup names it with that time (CameraZone::Text): the stored offset (with photoZone and when
// there is one), else settings.zone, else the list item zoneIndex ("" for no item).
[[nodiscard]] std::string ShotZoneText(DateTimeValue local, std::optional<int> storedOffset, int zoneIndex,
                                       const RunSettings& settings);

// The position of the photo whose EXIF data is loaded in exif. With settings at their defaults this is
// searchGPX of its DateTimeOriginal with the list zone and the tolerance, nothing else. Throws as
// searchGPX does.
[[nodiscard]] TrackPosition LocatePhoto(const TCustomExifData& exif, const RunInputs& inputs,
                                        const RunSettings& settings, Query& query);

// The same for a camera clock time read from a file of any kind, with the stored offset the run applies
// (photoZone) or nullopt.
[[nodiscard]] TrackPosition LocateCameraShot(DateTimeValue shot, std::optional<int> storedOffset,
                                             const RunInputs& inputs, const RunSettings& settings,
                                             Query& query);
// The position at a UTC time, under the tolerance and the interpolation and altitude settings.
[[nodiscard]] TrackPosition LocateUtc(DateTimeValue utc, const RunInputs& inputs, const RunSettings& settings,
                                      Query& query);

// GPSAltitudeRef (0 at or above sea level, 1 below) and GPSAltitude (metres, to the centimetre) from an
// elevation, mirrored into XMP properties that already exist. Writes nothing for an elevation that no
// EXIF rational can hold (not finite, or 42 950 km and more).
void WriteAltitude(TCustomExifData& exif, long double metres);

}  // namespace zeloro
