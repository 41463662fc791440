// src/tagging/ClockMatch.h: the camera's clock offset from a photo of the GPS device's (or phone's)
// clock, and its text for the offset field.
#pragma once
#include <cstdint>
#include <string>

#include "common/DateTime.h"
#include "tagging/RunInputs.h"
#include "time/CameraZone.h"

namespace zeloro {

struct ClockMatch {
    std::int64_t offsetSeconds = 0;  // as RunSettings::clockOffsetSeconds takes it
    DateTimeValue shotTime = 0;      // the photo's shot time as its camera clock wrote it
    std::string photoName;           // the photo's file name
};

// shownTime: the date and time the clock in the photo shows (no zone); shownZone: the zone that clock
// runs in (a GPS device: UTC; a phone: usually the camera's zone). The camera zone is the run's
// (inputs.zoneIndex or settings.zone; with settings.photoZone the offset the photo stores); every photo
// kind the run reads (settings.allPhotos). The result, added to every shot time before its zone is applied,
// makes the photo's UTC time the clock's. Throws Error with a German text naming the photo when it has no
// shot time or cannot be read.
[[nodiscard]] ClockMatch MatchClock(const std::string& photoPath, DateTimeValue shownTime,
                                    const CameraZone& shownZone, const RunInputs& inputs,
                                    const RunSettings& settings);

// The offset as the offset field and --offset take it: "+0:01:30", "-1:00:00".
[[nodiscard]] std::string ClockOffsetText(std::int64_t offsetSeconds);

}  // namespace zeloro
