// src/tagging/RunInputs.h: everything a front end gives a tagging run: the window's four inputs, the
// opt-in modes and the opt-in settings. With every member at its default a run writes, logs and reports
// exactly what it always did.
#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "time/CameraZone.h"

namespace zeloro {

// The most photos a run works on at once.
inline constexpr int kMaxJobs = 256;

// The largest gap between two track points that --interpolate bridges when none is given, and the
// largest that may be given: a day.
inline constexpr int kDefaultInterpolationGap = 60;
inline constexpr int kLargestInterpolationGap = 86400;

// What a run does with a photo besides matching it.
struct RunModes {
    bool dryRun = false;      // everything but the save: no photo file is opened for writing
    bool skipTagged = false;  // a photo that already holds a GPS position is left as it is
    bool keepMtime = false;   // a saved photo gets its former modification time back (to the nanosecond)
    [[nodiscard]] bool AnyOn() const noexcept { return dryRun || skipTagged || keepMtime; }
    friend bool operator==(const RunModes&, const RunModes&) = default;
};

// The four values the user gives a run in the window, and how the run goes about it.
struct RunInputs {
    std::string gpxPath;  // the GPX path text, unaltered; empty: the run names the missing GPX file
    std::string folder;   // the photo folder text; empty: the run names the missing folder
    int zoneIndex = 12;   // item index of the zone list the camera clock runs in, -1 for none
    // The largest difference between shot time and track point the lookup accepts, in whole seconds,
    // 0..500; 0 takes only a point of the very second.
    int toleranceSeconds = 0;
    RunModes modes;  // all off: the run as it always was
    // Threads working on the photos, the run's own one included: 0 one per core, 1 one after the other.
    // Whatever the count, the log, the progress, the map list and the written photos are those of the
    // one-after-the-other run.
    int jobs = 0;
};

// Where the position of a photo that takes no metadata in itself goes: "NAME.EXT.xmp" beside it, or
// "NAME.xmp" (when several such files share NAME, the first of RAW, HEIF/AVIF, video has it).
enum class SidecarNaming : std::uint8_t { extension, base };

// Whether --places writes the names of a photo's place, and whether a name the photo holds gives way.
enum class PlacesMode : std::uint8_t { off, fill, replace };

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
    // For each track file (the run's own, then moreGpxPaths): the gpsbabel format it is read in, converted
    // to GPX by gpsbabel; empty, or no entry: the format its content shows.
    std::vector<std::string> gpsbabelFormats;
    // Details in the log: a second line behind every "keine Koordinaten gefunden" with the reason, and
    // photos named by their path below the chosen folder.
    bool explain = false;
    // City, state, country and country code of each tagged photo's position into its XMP packet.
    PlacesMode places = PlacesMode::off;
    // Each photo's camera zone is the zone of the track where it was taken (--zone auto); the zone and
    // the list index are then not used, a stored offset with photoZone still is.
    bool zoneFromTrack = false;
    // The place file of places and zoneFromTrack; empty: the one of this installation or build.
    std::string placeFile;
    // Every photo and video kind, told by content: besides "*.jpg" every name of those kinds is listed; a
    // JPEG is tagged in the file, the others through an XMP sidecar. The files of other kinds are counted
    // in one notice.
    bool allPhotos = false;
    SidecarNaming sidecar = SidecarNaming::extension;
    // TIFF and TIFF-based RAW get the position in the file itself (an existing sidecar as well); a file
    // that cannot safely take it gets the sidecar instead.
    bool rawInFile = false;
    // A photo that cannot be read or saved is logged and skipped, and the run goes on; a full disk or a
    // failing database still ends it.
    bool keepGoing = false;
    // PhotoReport::reason gets the reason of each miss as explain gives it, without explain's log lines; it
    // changes no line, photo or map entry, so InForce does not count it.
    bool reasonsForObserver = false;

    // True when a shot time reaches UTC otherwise than by the list zone alone.
    [[nodiscard]] bool ShiftsTime() const noexcept {
        return clockOffsetSeconds != 0 || zone || photoZone || zoneFromTrack;
    }
    // True when a run with these settings can differ in any way from the run without them. A member
    // that takes no effect on its own (the sidecar naming or RAW files without every photo kind, the
    // place file without places or the track's zone) does not count; the caller normalises the rest.
    [[nodiscard]] bool InForce() const noexcept {
        return ShiftsTime() || interpolateMaxGap || altitude || !moreGpxPaths.empty() ||
               std::any_of(gpsbabelFormats.begin(), gpsbabelFormats.end(),
                           [](const std::string& format) { return !format.empty(); }) ||
               explain || places != PlacesMode::off || allPhotos || keepGoing;
    }
    // True when the run reads the place file.
    [[nodiscard]] bool NeedsPlaces() const noexcept { return places != PlacesMode::off || zoneFromTrack; }
    // True when the import must keep elevations and segments.
    [[nodiscard]] bool NeedsTrackDetails() const noexcept { return interpolateMaxGap || altitude; }
};

}  // namespace zeloro
