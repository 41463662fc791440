// src/tagging/PhotoKinds.cpp: sidecar names, shot times of every kind in UTC, the sidecar's properties and
// the errors that end a run that otherwise goes on.
#include "tagging/PhotoKinds.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <tuple>

#include "common/AsciiText.h"
#include "common/ReasonText.h"
#include "metadata/ExifData.h"
#include "metadata/XMPPacket.h"
#include "tagging/PhotoLocator.h"
#include "time/CameraZone.h"
#include "time/TimeRules.h"

namespace zeloro {
namespace {

// Which files win a shared base name: lower first; files that take no sidecar have none.
std::optional<int> BaseRank(std::string_view extension) noexcept {
    static constexpr std::array<std::string_view, 25> kRaw{
        "dng", "nef", "nrw", "cr2", "arw", "sr2", "srf", "orf",  "rw2", "rwl", "pef", "srw", "erf",
        "3fr", "iiq", "mef", "mos", "dcr", "kdc", "tif", "tiff", "cr3", "crw", "raf", "mrw"};
    static constexpr std::array<std::string_view, 3> kHeif{"heic", "heif", "avif"};
    static constexpr std::array<std::string_view, 4> kVideo{"mov", "mp4", "m4v", "3gp"};
    const auto in = [extension](const auto& list) {
        return std::any_of(list.begin(), list.end(),
                           [extension](std::string_view known) { return SameTextAscii(known, extension); });
    };
    if (in(kRaw) || SameTextAscii(extension, "x3f")) {
        return 0;
    }
    if (in(kHeif)) {
        return 1;
    }
    if (in(kVideo)) {
        return 2;
    }
    return std::nullopt;
}

// "folder/IMG_1" and "CR2" of "folder/IMG_1.CR2"; no extension: nullopt.
std::optional<std::pair<std::string, std::string>> SplitExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) {
        return std::nullopt;
    }
    return std::make_pair(path.substr(0, dot), path.substr(dot + 1));
}

}  // namespace

SidecarPlan::SidecarPlan(const std::vector<std::string>& photos, SidecarNaming naming) : naming_(naming) {
    if (naming != SidecarNaming::base) {
        return;
    }
    // Per base path, the best claim so far: (rank, name) and its photo.
    std::map<std::string, std::tuple<int, std::string>> best;
    std::map<std::string, std::vector<std::string>> members;
    for (const std::string& photo : photos) {
        const auto split = SplitExtension(photo);
        if (!split) {
            continue;
        }
        const std::optional<int> rank = BaseRank(split->second);
        if (!rank) {
            continue;
        }
        members[split->first].push_back(photo);
        const auto claim = std::make_tuple(*rank, photo);
        const auto [at, inserted] = best.emplace(split->first, claim);
        if (!inserted && claim < at->second) {
            at->second = claim;
        }
    }
    for (const auto& [base, paths] : members) {
        const std::string& owner = std::get<1>(best[base]);
        for (const std::string& photo : paths) {
            if (photo != owner) {
                owners_.emplace(photo, owner);
            }
        }
    }
}

std::string SidecarPlan::SidecarOf(const std::string& photo) const {
    if (naming_ == SidecarNaming::base && !owners_.contains(photo)) {
        if (const auto split = SplitExtension(photo)) {
            return split->first + ".xmp";
        }
    }
    return photo + ".xmp";
}

std::optional<std::string> SidecarPlan::BaseOwnerOf(const std::string& photo) const {
    const auto found = owners_.find(photo);
    if (found == owners_.end()) {
        return std::nullopt;
    }
    return found->second;
}

DateTimeValue MediaShotToUtc(const ShotTime& shot, const RunInputs& inputs, const RunSettings& settings) {
    const DateTimeValue clock =
        settings.clockOffsetSeconds != 0 ? ShiftSeconds(shot.time, settings.clockOffsetSeconds) : shot.time;
    switch (shot.clock) {
        case ShotTime::Clock::utc:
            return clock;
        case ShotTime::Clock::offset:
            return ShiftToUtc(clock, shot.offsetMinutes * 60);
        case ShotTime::Clock::camera:
            break;
    }
    return ShotTimeToUtc(shot.time, std::nullopt, inputs.zoneIndex, settings);
}

ShotTime SidecarShot(const XMPSidecarTime& time) noexcept {
    ShotTime shot;
    shot.time = time.time;
    if (time.offsetSeconds) {
        shot.clock = ShotTime::Clock::offset;
        shot.offsetMinutes = *time.offsetSeconds / 60;
    }
    return shot;
}

std::vector<XMPSidecarProperty> SidecarGpsProperties(TCustomExifData& gps) {
    std::vector<XMPSidecarProperty> properties{{"GPSVersionID", "2.3.0.0"}};
    const TXMPSchema* schema = gps.XMPPacket().FindSchema(xsExif);
    if (schema == nullptr) {
        return properties;
    }
    for (const std::string_view name :
         {"GPSLatitude", "GPSLongitude", "GPSAltitudeRef", "GPSAltitude", "GPSTimeStamp"}) {
        if (const TXMPProperty* property = schema->FindProperty(name)) {
            properties.push_back({std::string(name), property->ReadValue()});
        }
    }
    return properties;
}

bool EndsRunAlways(const std::exception& error) {
    if (dynamic_cast<const DatabaseError*>(&error) != nullptr ||
        dynamic_cast<const ConvertError*>(&error) != nullptr ||
        dynamic_cast<const Error*>(&error) == nullptr) {
        return true;
    }
    // The cause of a failed write is named in the message wherever it arises; a full disk fails every
    // photo after it alike.
    static const std::string kDiskFull = ReasonText(ENOSPC);
    return std::string_view(error.what()).find(kDiskFull) != std::string_view::npos;
}

}  // namespace zeloro
