// src/tagging/PhotoKinds.h: what a run does differently for photos and videos that are no JPEG: which
// names it lists, where their sidecar lies, their shot time in UTC and the properties a sidecar gets.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/DateTime.h"
#include "common/Error.h"
#include "media/ShotTime.h"
#include "metadata/XMPSidecar.h"
#include "tagging/RunInputs.h"

namespace zeloro {

class TCustomExifData;

inline constexpr const char* kUnknownKindMessage = "unbekanntes Dateiformat";
// The notice of an --all-photos scan: "<N> Dateien in anderen Formaten übersprungen".
inline constexpr const char* kOtherFilesSkipped = " Dateien in anderen Formaten übersprungen";
// After a photo's name, when a run that goes on over failures skips it: "<photo>: <reason> – übersprungen".
inline constexpr const char* kLogFailedSkipped = " – übersprungen";

// Around the reason a RAW file did not take the position in itself, and the sidecar's name:
// " - IMG_1.nef: nicht in der Datei getaggt: <reason>; die Position steht in der Begleitdatei IMG_1.nef.xmp".
inline constexpr const char* kLogRawRefused = ": nicht in der Datei getaggt: ";
inline constexpr const char* kLogRawRemoveRefused = ": GPS-Position in der Datei nicht entfernt: ";
inline constexpr const char* kLogRawRefusedSidecar = "; die Position steht in der Begleitdatei ";

// A file under a photo name whose content is no kind the run knows.
class UnknownPhotoKind : public Error {
public:
    UnknownPhotoKind() : Error(kUnknownKindMessage) {}
};

// The sidecar of each photo of a run's list that takes one. With SidecarNaming::base, the files of one
// folder that share a base name ("IMG_1" of IMG_1.CR2 and IMG_1.MOV) and take sidecars are ranked by the
// kind their extension names (RAW, then HEIF/AVIF, then video; then by name): the first owns "NAME.xmp",
// the others keep "NAME.EXT.xmp". The choice goes by names alone, so each file keeps its sidecar from run
// to run whatever the track matches.
class SidecarPlan {
public:
    SidecarPlan() = default;
    SidecarPlan(const std::vector<std::string>& photos, SidecarNaming naming);

    // The sidecar path of the photo.
    [[nodiscard]] std::string SidecarOf(const std::string& photo) const;
    // For a photo that keeps "NAME.EXT.xmp" because another owns "NAME.xmp": that other photo's path.
    [[nodiscard]] std::optional<std::string> BaseOwnerOf(const std::string& photo) const;

private:
    SidecarNaming naming_ = SidecarNaming::extension;
    std::unordered_map<std::string, std::string> owners_;  // photo -> owner of its base name, when not itself
};

// The UTC time of a shot as its file states it: a camera clock through the run's zone rules (clock offset
// included), a UTC time and a time with its offset after the clock offset alone.
[[nodiscard]] DateTimeValue MediaShotToUtc(const ShotTime& shot, const RunInputs& inputs,
                                           const RunSettings& settings);
// A sidecar's date text as a shot: with an offset it states one, without it is the camera's clock.
[[nodiscard]] ShotTime SidecarShot(const XMPSidecarTime& time) noexcept;

// The properties a sidecar gets for the position gps holds (filled by the calls that tag a JPEG, its XMP
// packet set to create what is missing): GPSVersionID "2.3.0.0", then the EXIF schema's GPS properties the
// JPEG's packet would hold, in a fixed order.
[[nodiscard]] std::vector<XMPSidecarProperty> SidecarGpsProperties(TCustomExifData& gps);

// Whether the error that ended a photo must end the run even when the run goes on over failed photos: a
// full disk, the database, the track's own values, and anything that is no error of ours (memory).
[[nodiscard]] bool EndsRunAlways(const std::exception& error);

}  // namespace zeloro
