// src/tagging/PhotoLocator.cpp: shot time to UTC under the run's settings, the position lookup, altitude.
#include "tagging/PhotoLocator.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "metadata/ExifData.h"
#include "time/TimeRules.h"
#include "trackstore/TrackLookup.h"

namespace zeloro {
namespace {

std::optional<int> StoredOffsetOf(const TCustomExifData& exif, std::uint16_t id) {
    const TExifTag* tag = exif.RawSection(esDetails).Find(id);
    if (tag == nullptr || tag->DataType() != tdAscii || tag->ElementCount() < 1) {
        return std::nullopt;
    }
    // Taken as stored, terminator or not: some writers leave it out, and the text is ASCII either way.
    return ParseStoredOffset(std::string_view(reinterpret_cast<const char*>(tag->Data()),
                                              static_cast<std::size_t>(tag->ElementCount())));
}

}  // namespace

std::optional<int> StoredPhotoOffset(const TCustomExifData& exif) {
    if (const std::optional<int> original = StoredOffsetOf(exif, kOffsetTimeOriginalTag)) {
        return original;
    }
    return StoredOffsetOf(exif, kOffsetTimeTag);
}

DateTimeValue ShotTimeToUtc(DateTimeValue shot, std::optional<int> storedOffset, int zoneIndex,
                            const RunSettings& settings) {
    const DateTimeValue local =
        settings.clockOffsetSeconds != 0 ? ShiftSeconds(shot, settings.clockOffsetSeconds) : shot;
    if (settings.photoZone && storedOffset) {
        return ShiftToUtc(local, *storedOffset);
    }
    if (settings.zone) {
        return settings.zone->ToUtc(local);
    }
    return makeUTCDifference(local, zoneIndex);
}

std::string ShotZoneText(DateTimeValue local, std::optional<int> storedOffset, int zoneIndex,
                         const RunSettings& settings) {
    if (settings.photoZone && storedOffset) {
        return OffsetZoneText(*storedOffset);
    }
    if (settings.zone) {
        return settings.zone->Text(local);
    }
    return CameraZone::FromListIndex(zoneIndex).Text(local);
}

TrackPosition LocatePhoto(const TCustomExifData& exif, const RunInputs& inputs, const RunSettings& settings,
                          Query& query) {
    const std::optional<int> stored = settings.photoZone ? StoredPhotoOffset(exif) : std::nullopt;
    return LocateCameraShot(exif.DateTimeOriginal(), stored, inputs, settings, query);
}

TrackPosition LocateCameraShot(DateTimeValue shot, std::optional<int> storedOffset, const RunInputs& inputs,
                               const RunSettings& settings, Query& query) {
    if (!settings.ShiftsTime() && !settings.NeedsTrackDetails()) {
        return TrackPosition{searchGPX(shot, inputs.zoneIndex, inputs.toleranceSeconds, query), std::nullopt,
                             false};
    }
    return LocateUtc(ShotTimeToUtc(shot, storedOffset, inputs.zoneIndex, settings), inputs, settings, query);
}

TrackPosition LocateUtc(DateTimeValue utc, const RunInputs& inputs, const RunSettings& settings,
                        Query& query) {
    const PositionRules rules{inputs.toleranceSeconds, settings.interpolateMaxGap, settings.altitude};
    return FindTrackPosition(utc, rules, query);
}

void WriteAltitude(TCustomExifData& exif, long double metres) {
    if (!std::isfinite(metres)) {
        return;
    }
    // Centimetres are finer than any GPS elevation; the fraction is then reduced by tens, so 395 m is 395/1.
    const long double centimetres = std::nearbyint(std::fabs(metres) * 100.0L);
    if (centimetres > static_cast<long double>(std::numeric_limits<std::uint32_t>::max())) {
        return;
    }
    auto numerator = static_cast<std::uint32_t>(centimetres);
    std::uint32_t denominator = 100;
    while (denominator > 1 && numerator % 10 == 0) {
        numerator /= 10;
        denominator /= 10;
    }
    // An elevation that rounds to zero is sea level, not below it.
    const TGPSAltitudeRef ref = metres < 0 && numerator != 0 ? alBelowSeaLevel : alAboveSeaLevel;
    exif.SetGPSAltitudeRef(ref);
    exif.SetGPSAltitude(TTiffLongWordFraction(numerator, denominator));
    // XMP writes a rational as "n/d" also when d is 1.
    exif.XMPPacket().UpdateProperty(xsExif, "GPSAltitude",
                                    std::to_string(numerator) + "/" + std::to_string(denominator));
    exif.XMPPacket().UpdateProperty(xsExif, "GPSAltitudeRef", ref == alBelowSeaLevel ? "1" : "0");
}

}  // namespace zeloro
