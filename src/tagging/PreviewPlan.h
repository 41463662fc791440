// src/tagging/PreviewPlan.h: a dry run's outcome kept so that it can be written as it was shown.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "places/PlaceIndex.h"
#include "tagging/RunInputs.h"
#include "tagging/RunObserver.h"
#include "time/CameraZone.h"
#include "trackstore/TrackPosition.h"

namespace zeloro {

// One photo of the dry run: its identity when the run read it, and everything the write needs to give it
// exactly the position shown, without the track table.
struct PlannedPhoto {
    std::string path;
    std::uint64_t fileSize = 0;
    std::int64_t mtimeNs = 0;
    PhotoStatus status = PhotoStatus::noMatch;  // as the dry run reported it ("tagged": would be)
    // The position found (lat/lon texts, degrees, minutes, seconds, point UTC, elevation when the run
    // writes altitudes); coord.found is false unless tagged.
    TrackPosition position;
    std::optional<PlaceNames> place;  // with --places, when tagged
    DateTimeValue shotTime = 0;       // the camera clock's shot time; 0: none
    DateTimeValue shotUtc = 0;
    std::string zoneText;  // the zone the shot time was read in, as shown
    // Under --zone auto: the zone from the track the shot time was read in, and its name as the log gave it.
    std::optional<CameraZone> trackZone;
    std::string trackZoneName;
    std::string message;  // the dry run's report message and reason, for a photo the write does not tag
    std::string reason;
};

// The dry run's inputs and settings (dryRun on as it ran) and its photos in scan order.
struct PreviewPlan {
    RunInputs inputs;
    RunSettings settings;
    std::vector<PlannedPhoto> photos;
    // The photo's entry, or nullptr when the dry run did not list it.
    [[nodiscard]] const PlannedPhoto* Find(const std::string& path) const noexcept;
};

// WritePreview without a plan: the error box's text.
inline constexpr const char* kNoPreviewMessage =
    "Kein Probelauf vorhanden – bitte zuerst „Probelauf“ starten.";
// A planned photo that is gone when the plan is written; its report's message.
inline constexpr const char* kPlannedPhotoGone = "Bild seit dem Probelauf nicht mehr vorhanden";

}  // namespace zeloro
