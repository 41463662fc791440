// src/tagging/TaggingRun.cpp: the tagging run: input checks, scan, import, and the per-photo loop.
#include "tagging/TaggingRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/SaveJournal.h"
#include "gpx/GpxImport.h"
#include "media/ByteSource.h"
#include "media/MediaKind.h"
#include "media/ShotTime.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/JPEGSegments.h"
#include "metadata/XMPSidecar.h"
#include "places/PlaceIndex.h"
#include "rawfile/RawGpsWrite.h"
#include "tagging/FolderScan.h"
#include "tagging/MissReason.h"
#include "tagging/PhotoKinds.h"
#include "tagging/PhotoLocator.h"
#include "tagging/PhotoPool.h"
#include "tagging/PlaceTags.h"
#include "tagging/TrackZone.h"
#include "time/TimeRules.h"
#include "trackimport/TrackImport.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"

namespace zeloro {
namespace {

std::uint32_t WholeNumerator(long double value) {
    // The lookup gives whole, non-negative degrees and minutes; a coordinate text far outside the
    // globe could still give a value no EXIF rational can hold, and that must not wrap silently.
    const long double rounded = std::nearbyint(value);
    if (!(rounded >= 0.0L &&
          rounded <= static_cast<long double>(std::numeric_limits<std::uint32_t>::max()))) {
        throw RangeError();
    }
    return static_cast<std::uint32_t>(rounded);
}

int ClampToInt(std::size_t n) noexcept {
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

template <typename Coordinate, typename Direction>
void AssignCoordinate(Coordinate&& coordinate, const DmsParts& parts, Direction direction) {
    coordinate.Assign(TTiffLongWordFraction(parts.degrees, 1), TTiffLongWordFraction(parts.minutes, 1),
                      TTiffLongWordFraction(parts.seconds), direction);
}

// Temporary files a killed save left are ours to remove; folders the scan could not read are named, so
// that "0 Bilder" never hides them.
void ReportScanFindings(const ScanFindings& findings, RunObserver& observer) {
    for (const std::string& temporary : findings.staleTemporaries) {
        if (::unlink(temporary.c_str()) == 0) {
            LogLine(observer, " - " + LogSafeText(temporary) + kLogStaleTemporaryRemoved);
        }
    }
    for (const std::string& folder : findings.unreadableFolders) {
        LogLine(observer, " - " + LogSafeText(folder) + kLogFolderUnreadable);
    }
}

// A photo with several links whose in-place save a killed run left half-done gets its original bytes back
// from the journal, before anything else of the run; one whose save had finished keeps it. A journal that
// cannot be used, or that this run's save cannot have made, stays, and is named.
void UndoInterruptedSaves(const std::vector<std::string>& photos, const ScanFindings& findings,
                          RunObserver& observer) {
    // A sidecar is saved as a photo is, so its journal is trusted on the same terms.
    std::vector<std::string> files = photos;
    files.insert(files.end(), findings.sidecars.begin(), findings.sidecars.end());
    const auto scanned = [&](const std::string& path) { return ScannedKind(files, findings, path); };
    std::vector<std::pair<std::string, bool>> journals;
    for (const std::string& journal : findings.saveJournals) {
        journals.emplace_back(journal, false);
    }
    for (const std::string& journal : findings.rawJournals) {
        journals.emplace_back(journal, true);
    }
    for (const auto& [journal, raw] : journals) {
        const UndoneSave undone =
            raw ? RecoverRawWrite(journal, scanned) : UndoInterruptedSave(journal, scanned);
        std::string line = kLogSaveUndoneBefore + LogSafeText(undone.path);
        if (undone.restored) {
            line += kLogSaveUndone;
        } else if (undone.finished) {
            line += kLogSaveFinished;
        } else {
            line.append(kLogSaveNotUndone).append(LogSafeText(undone.reason)).append(kLogSaveJournalKept);
            line += LogSafeText(journal);
        }
        LogLine(observer, line);
    }
}

// A photo left as it was because replacing it was not safe: reported, and the run goes on.
void ReportNotSaved(PhotoReport& report, const std::string& shownName, const FileSkippedError& skipped,
                    RunObserver& observer) {
    report.lat.clear();
    report.lon.clear();
    report.utcTime = 0;
    report.distanceSeconds.reset();
    report.status = PhotoStatus::failed;
    report.message = shownName + kLogNotSaved + skipped.Reason();
    LogLine(observer, " - " + report.message);
    observer.PhotoHandled(report);
}

// With keepGoing, a photo that could not be read or saved is logged and reported, and the run goes on;
// false when the error must end the run all the same.
bool SkipFailedPhoto(PhotoReport& report, const std::string& shownName, const std::string& reason,
                     const std::exception& error, const RunSettings& settings, RunObserver& observer) {
    if (!settings.keepGoing || EndsRunAlways(error)) {
        return false;
    }
    report.lat.clear();
    report.lon.clear();
    report.utcTime = 0;
    report.distanceSeconds.reset();
    report.status = PhotoStatus::failed;
    report.message = shownName + ": " + LogSafeText(reason) + kLogFailedSkipped;
    LogLine(observer, " - " + report.message);
    observer.PhotoHandled(report);
    return true;
}

// A damaged photo or a failed read or write ends the run; its report names the photo in front of the
// error's own text (which carries the cause where the system gave one).
template <typename E>
[[noreturn]] void FailPhoto(PhotoReport& report, RunObserver& observer, const E& error) {
    report.status = PhotoStatus::failed;
    report.message = error.what();
    observer.PhotoHandled(report);
    throw error;
}

// A run the user stopped ends with one line that says so and how many photos were done.
RunResult StopRun(RunObserver& observer, int done, std::size_t total) {
    const std::string message = StoppedRunMessage(static_cast<std::size_t>(done), total);
    LogLine(observer, " - " + message);
    observer.RunStopped(static_cast<std::size_t>(done), total, message);
    observer.SetProgressPosition(0);
    return RunResult::stopped;
}

// The shot time the map page's popup shows: the local time the photo was taken at, with the zone it was
// read in to match it (the list zone, a zone given by the user, the photo's own offset or the zone of the
// track); a camera clock running fast or slow is corrected first, so time and zone together are always
// the UTC time the photo was matched at.
MapShot PopupShot(const TCustomExifData& exif, DateTimeValue shot, const RunInputs& inputs,
                  const RunSettings& settings) {
    const DateTimeValue local =
        settings.clockOffsetSeconds != 0 ? ShiftSeconds(shot, settings.clockOffsetSeconds) : shot;
    const std::optional<int> stored = settings.photoZone ? StoredPhotoOffset(exif) : std::nullopt;
    return MapShot{local, ShotZoneText(local, stored, inputs.zoneIndex, settings)};
}

// The same for a shot read from a file of another kind: a time stored with its offset is shown in that
// offset, one stored as UTC as UTC.
MapShot PopupShot(const ShotTime& shot, const RunInputs& inputs, const RunSettings& settings) {
    const DateTimeValue local =
        settings.clockOffsetSeconds != 0 ? ShiftSeconds(shot.time, settings.clockOffsetSeconds) : shot.time;
    switch (shot.clock) {
        case ShotTime::Clock::utc:
            return MapShot{local, OffsetZoneText(0)};
        case ShotTime::Clock::offset:
            return MapShot{local, OffsetZoneText(shot.offsetMinutes * 60)};
        case ShotTime::Clock::camera:
            break;
    }
    return MapShot{local, ShotZoneText(local, std::nullopt, inputs.zoneIndex, settings)};
}

// The lookups of a photo whose EXIF data is loaded, callable from any thread: its position, under
// --zone auto with the zone it was read in, and, when the run explains its misses, why it has none (under
// the settings the photo was matched with).
struct PhotoLookup {
    std::function<TrackPosition(const TCustomExifData&)> locate;
    std::function<TrackZoneMatch(const TCustomExifData&)> locateInTrackZone;  // set under --zone auto
    std::function<std::string(const TCustomExifData&, const RunSettings&)> explain;
    // The same for a shot read from a file of another kind.
    std::function<TrackPosition(const ShotTime&)> locateShot;
    std::function<std::string(const ShotTime&)> explainShot;
    // Under --zone auto: a camera-clock time (clock offset added) read in the zone of the track there.
    std::function<TrackZoneMatch(DateTimeValue)> locateLocalInTrackZone;
    // Why there is no point at a UTC time.
    std::function<std::string(DateTimeValue)> explainUtc;
};

// What the photos of every kind need besides their own file: the scan's findings and the sidecar names.
struct KindContext {
    const ScanFindings& findings;
    const SidecarPlan& sidecars;
    // When a preview's plan is written: its photos by path.
    const std::unordered_map<std::string, const PlannedPhoto*>* planned = nullptr;
};

inline constexpr const char* kNoShotTimeReason = "Grund: die Datei hat keine lesbare Aufnahmezeit";

}  // namespace

// How far a photo got before an error left it; the error is raised where the one-after-the-other run
// would have met it, so the lines, map entries and reports before it are the same.
enum class PhotoStage : std::uint8_t {
    none,
    reading,     // reading the file or its EXIF block, or the lookup: no line of the photo yet
    explaining,  // the miss reason: after " keine Koordinaten gefunden"
    building,    // setting the position: after " Koordinaten gefunden:", before the map entry
    saving,      // building the new content: after the map entry
};

// What one photo gives before its lines are written: its lookup and, for a found point, the new content
// with the file it replaces.
struct PreparedPhoto {
    bool skipped = false;  // it has a position and the run skips such photos
    // A photo of another kind than JPEG: its position goes into its sidecar (and, for a TIFF-based RAW with
    // rawInFile, into the file).
    bool sidecarKind = false;
    bool rawInFile = false;
    std::string sidecarPath;
    std::optional<ReadFile> sidecar;  // the sidecar the scan found, as read
    std::string sidecarText;          // its new content
    std::unique_ptr<TExifData> gps;   // the position as the EXIF GPS tags, for the write into the RAW
    ReadFile file;  // as read (its bytes moved into image); the save goes over exactly this file
    TrackPosition located;
    std::string reason;  // why no point was found, when the run explains misses
    MapShot popup;
    std::optional<PlaceNames> place;      // with --places, for a found point
    std::string zoneName;                 // the zone from the track the photo was read in (--zone auto)
    std::unique_ptr<TJPEGImageEx> image;  // holds the bytes the content points into
    std::optional<TJPEGImageEx::BuiltContent> content;  // none in a dry run
    std::exception_ptr error;
    PhotoStage failedAt = PhotoStage::none;
    DateTimeValue shotTime = 0;  // the camera clock's time as the file (or its sidecar) holds it
    DateTimeValue shotUtc = 0;   // 0 when the zone it is read in is not known
    std::string zoneText;
    std::optional<CameraZone> trackZone;  // the zone from the track it was read in (--zone auto)
    bool rematched = false;               // a plan is written, and this photo is not as the preview read it
};

namespace {

// "+05:30": an offset east of UTC as a camera stores it.
std::string OffsetText(int offsetSeconds) {
    const int minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    std::string text(1, offsetSeconds < 0 ? '-' : '+');
    text += static_cast<char>('0' + minutes / 600);
    text += static_cast<char>('0' + minutes / 60 % 10);
    text += ':';
    text += static_cast<char>('0' + minutes % 60 / 10);
    text += static_cast<char>('0' + minutes % 10);
    return text;
}

// The zone a camera-clock time was read in, as the user names it: the list item's text, the zone's name,
// or the offset of a fixed or stored offset; empty for no list item.
std::string ZoneText(const RunSettings& settings, int zoneIndex, std::optional<int> storedOffset) {
    if (settings.photoZone && storedOffset) {
        return OffsetText(*storedOffset);
    }
    if (settings.zone) {
        if (const std::optional<int> index = settings.zone->ListIndex()) {
            zoneIndex = *index;
        } else if (std::string name = settings.zone->Name(); !name.empty()) {
            return name;
        } else {
            return OffsetText(settings.zone->OffsetSecondsAt(0));
        }
    }
    if (zoneIndex < 0 || zoneIndex >= kZoneCount) {
        return {};
    }
    return std::string(ZoneItems()[static_cast<std::size_t>(zoneIndex)]);
}

std::int64_t MtimeNs(const struct stat& identity) noexcept {
    return static_cast<std::int64_t>(identity.st_mtim.tv_sec) * 1'000'000'000 + identity.st_mtim.tv_nsec;
}

// When a plan is written: the planned outcome of a photo whose file is the one the preview read, or nullptr
// when the photo is new or changed since (it is matched again then, and says so), or when the preview's
// outcome was one the write finds out anew from the file (skipped, failed).
const PlannedPhoto* PlanFor(PreparedPhoto& photo, const std::string& path, const KindContext& context) {
    if (context.planned == nullptr) {
        return nullptr;
    }
    const auto found = context.planned->find(path);
    const bool same = found != context.planned->end() &&
                      static_cast<std::uint64_t>(photo.file.identity.st_size) == found->second->fileSize &&
                      MtimeNs(photo.file.identity) == found->second->mtimeNs;
    photo.rematched = !same;
    if (!same ||
        (found->second->status != PhotoStatus::tagged && found->second->status != PhotoStatus::noMatch)) {
        return nullptr;
    }
    return found->second;
}

// The shot of a file of another kind as the report gives it.
void NoteShot(PreparedPhoto& photo, const ShotTime& shot, const RunInputs& inputs,
              const RunSettings& settings, bool zoneKnown) {
    photo.shotTime = shot.time;
    switch (shot.clock) {
        case ShotTime::Clock::utc:
            photo.zoneText = "UTC";
            break;
        case ShotTime::Clock::offset:
            photo.zoneText = OffsetText(shot.offsetMinutes * 60);
            break;
        case ShotTime::Clock::camera:
            if (!zoneKnown) {
                return;
            }
            photo.zoneText = ZoneText(settings, inputs.zoneIndex, std::nullopt);
            break;
    }
    photo.shotUtc = MediaShotToUtc(shot, inputs, settings);
}

// The camera-clock shot of a JPEG as the report gives it; its UTC time only where the zone it is read in is
// known (under --zone auto, once the track gave one or the photo stores its offset).
void NoteCameraShot(PreparedPhoto& photo, const TCustomExifData& exif, const RunInputs& inputs,
                    const RunSettings& settings, bool zoneKnown) {
    if (photo.shotTime == 0) {
        return;
    }
    const std::optional<int> stored = settings.photoZone ? StoredPhotoOffset(exif) : std::nullopt;
    if (zoneKnown || stored) {
        photo.shotUtc = ShotTimeToUtc(photo.shotTime, stored, inputs.zoneIndex, settings);
        photo.zoneText = ZoneText(settings, inputs.zoneIndex, stored);
    }
}

// The kind of an opened file by its first bytes, read without moving the descriptor's position.
MediaKind KindOf(const ReadFile& file) {
    std::array<std::uint8_t, 64> head{};
    const FdSource source(file.file.get());
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(source.Size(), head.size()));
    source.ReadAt(0, std::span(head.data(), count));
    return DetectMediaKind(std::span<const std::uint8_t>(head.data(), count));
}

// The position as the JPEG path sets it, into the container's GPS tags and (its packet set to create what
// is missing) its XMP properties.
void SetPosition(TCustomExifData& exif, const TrackPosition& located) {
    const TCoord& coord = located.coord;
    const DmsParts lat = ToDmsParts(coord.gps_lt_dg, coord.gps_lt_mm, coord.gps_lt_ss);
    AssignCoordinate(exif.GPSLatitude(), lat, coord.gps_lt_dr == "S" ? ltSouth : ltNorth);
    const DmsParts lon = ToDmsParts(coord.gps_ln_dg, coord.gps_ln_mm, coord.gps_ln_ss);
    AssignCoordinate(exif.GPSLongitude(), lon, coord.gps_ln_dr == "W" ? lnWest : lnEast);
    exif.SetGPSDateTimeUTC(coord.utctime);
    if (located.altitude) {
        WriteAltitude(exif, *located.altitude);
    }
}

// The place names of the spot a point was found at, to the digit, with the mode they are written in.
PlaceNames PlaceAt(const TCoord& coord, const PlaceIndex& places) {
    return places.Lookup(static_cast<double>(CoordinateValue(coord.lat, true)),
                         static_cast<double>(CoordinateValue(coord.lon, false)));
}

PlaceWrite PlaceWriteOf(const RunSettings& settings) {
    return settings.places == PlacesMode::replace ? PlaceWrite::replace : PlaceWrite::fill;
}

// A photo that is no JPEG: its shot time from the file (or, where the file has none, from its sidecar),
// the lookup, and the new sidecar (with the place names under --places, so the sidecar is written once).
// Nothing is written.
void PrepareOtherKind(PreparedPhoto& photo, MediaKind kind, const std::string& path, const RunInputs& inputs,
                      const RunSettings& runSettings, const PhotoLookup& lookup, const PlaceIndex* places,
                      const KindContext& context) {
    photo.sidecarKind = true;
    photo.rawInFile = runSettings.rawInFile && kind == MediaKind::tiffRaw;
    const MediaFacts facts = ReadMediaFacts(kind, FdSource(photo.file.file.get()));
    photo.sidecarPath = context.sidecars.SidecarOf(path);
    XMPSidecarFacts sidecarFacts;
    if (context.findings.sidecars.contains(photo.sidecarPath)) {
        photo.sidecar =
            ReadFileForReplacing(photo.sidecarPath, context.findings.links.contains(photo.sidecarPath));
        const std::string text(photo.sidecar->bytes.begin(), photo.sidecar->bytes.end());
        sidecarFacts = ReadXMPSidecarFacts(text);
    }
    const PlannedPhoto* planned = PlanFor(photo, path, context);
    if (inputs.modes.skipTagged && (facts.hasGpsPosition || sidecarFacts.hasGpsPosition)) {
        photo.skipped = true;
        photo.failedAt = PhotoStage::none;
        return;
    }
    std::optional<ShotTime> shot = facts.shot;
    if (!shot && sidecarFacts.shot) {
        shot = SidecarShot(*sidecarFacts.shot);
    }
    // Under --zone auto a camera's clock is read in the zone of the track where the shot was taken, as a
    // JPEG's is; a time in UTC or with its offset needs no zone.
    std::optional<RunSettings> inZone;
    if (planned != nullptr) {
        photo.located = planned->position;
        photo.zoneName = planned->trackZoneName;
        if (shot && shot->clock == ShotTime::Clock::camera && lookup.locateLocalInTrackZone) {
            photo.trackZone = planned->trackZone;
            inZone.emplace(runSettings);
            inZone->zone = planned->trackZone;
        }
    } else if (shot && shot->clock == ShotTime::Clock::camera && lookup.locateLocalInTrackZone) {
        TrackZoneMatch match = lookup.locateLocalInTrackZone(
            runSettings.clockOffsetSeconds != 0 ? ShiftSeconds(shot->time, runSettings.clockOffsetSeconds)
                                                : shot->time);
        photo.located = std::move(match.position);
        photo.zoneName = std::move(match.zoneName);
        photo.trackZone = match.zone;
        inZone.emplace(runSettings);
        inZone->zone = match.zone;
    } else if (shot) {
        photo.located = lookup.locateShot(*shot);
    }
    const RunSettings& settings = inZone ? *inZone : runSettings;
    if (shot) {
        NoteShot(photo, *shot, inputs, settings, !inZone || settings.zone);
    }
    if (!photo.located.coord.found) {
        photo.failedAt = PhotoStage::explaining;
        if (planned != nullptr) {
            photo.reason = planned->reason;
        } else if (settings.explain || settings.reasonsForObserver) {
            if (!shot) {
                photo.reason = kNoShotTimeReason;
            } else if (inZone) {
                photo.reason = settings.zone ? lookup.explainUtc(MediaShotToUtc(*shot, inputs, settings))
                                             : kNoPointForZone;
            } else {
                photo.reason = lookup.explainShot(*shot);
            }
        }
        photo.failedAt = PhotoStage::none;
        return;
    }
    photo.popup = PopupShot(*shot, inputs, settings);
    photo.failedAt = PhotoStage::building;
    photo.gps = std::make_unique<TExifData>();
    photo.gps->SetXMPWritePolicy(xwAlwaysUpdate);
    SetPosition(*photo.gps, photo.located);
    const std::vector<XMPSidecarProperty> properties = SidecarGpsProperties(*photo.gps);
    if (photo.sidecar) {
        const std::string text(photo.sidecar->bytes.begin(), photo.sidecar->bytes.end());
        // The bytes read stay: the run's record keeps them, to put the sidecar back.
        photo.sidecarText = UpdateXMPSidecarText(text, properties);
    } else {
        photo.sidecarText = NewXMPSidecarText(properties);
    }
    if (settings.places != PlacesMode::off && places != nullptr) {
        // A RAW that takes the position in itself gets no names there: they go into the sidecar only
        // where it has one already, which is written then anyway.
        photo.place =
            planned != nullptr && planned->place ? *planned->place : PlaceAt(photo.located.coord, *places);
        photo.popup.place = PlaceLabel(*photo.place);
        photo.sidecarText = WritePlaceProperties(photo.sidecarText, *photo.place, PlaceWriteOf(settings));
    }
    photo.failedAt = PhotoStage::none;
}

// Everything of a photo that writes nothing and touches no shared state but the lookup: safe to run on
// any thread, with one reading container per thread. followLink: the scanned entry itself was a link.
PreparedPhoto PreparePhoto(const std::string& path, bool followLink, TExifData& reader,
                           const RunInputs& inputs, const RunSettings& runSettings, const PhotoLookup& lookup,
                           const PlaceIndex* places, const KindContext& context) {
    PreparedPhoto photo;
    photo.failedAt = PhotoStage::reading;
    try {
        // The photo is read from disk once: the reading container takes its shot time from these bytes
        // and, when a point is found, the image object that is saved takes the same bytes over.
        if (runSettings.allPhotos) {
            // Of a file of another kind only the few bytes its reader needs are read (a video may be
            // gigabytes long); a JPEG under any listed name takes the JPEG's path.
            photo.file = OpenFileForReplacing(path, followLink);
            const MediaKind kind = KindOf(photo.file);
            if (kind == MediaKind::unknown) {
                throw UnknownPhotoKind();
            }
            if (kind != MediaKind::jpeg) {
                PrepareOtherKind(photo, kind, path, inputs, runSettings, lookup, places, context);
                return photo;
            }
            ReadAllBytes(photo.file);
        } else {
            photo.file = ReadFileForReplacing(path, followLink);
        }
        std::vector<std::uint8_t> bytes = std::move(photo.file.bytes);
        reader.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
        photo.shotTime = reader.DateTimeOriginal();
        const PlannedPhoto* planned = PlanFor(photo, path, context);
        if (inputs.modes.skipTagged && !reader.GPSLatitude().MissingOrInvalid() &&
            !reader.GPSLongitude().MissingOrInvalid()) {
            photo.skipped = true;
            NoteCameraShot(photo, reader, inputs, runSettings, !runSettings.zoneFromTrack);
            photo.failedAt = PhotoStage::none;
            return photo;
        }
        const DateTimeValue shot = photo.shotTime;
        // Under --zone auto each photo has a zone of its own; the rest of its road reads it like a zone
        // given by the user.
        std::optional<RunSettings> inZone;
        if (planned != nullptr) {
            photo.located = planned->position;
            photo.zoneName = planned->trackZoneName;
            if (lookup.locateInTrackZone) {
                photo.trackZone = planned->trackZone;
                inZone.emplace(runSettings);
                inZone->zone = planned->trackZone;
            }
        } else if (lookup.locateInTrackZone) {
            TrackZoneMatch match = lookup.locateInTrackZone(reader);
            photo.located = std::move(match.position);
            photo.zoneName = std::move(match.zoneName);
            photo.trackZone = match.zone;
            inZone.emplace(runSettings);
            inZone->zone = match.zone;
        } else {
            photo.located = lookup.locate(reader);
        }
        const RunSettings& settings = inZone ? *inZone : runSettings;
        NoteCameraShot(photo, reader, inputs, settings, !inZone || settings.zone);
        const TCoord& coord = photo.located.coord;
        if (!coord.found) {
            photo.failedAt = PhotoStage::explaining;
            if (planned != nullptr) {
                photo.reason = planned->reason;
            } else if (settings.explain || settings.reasonsForObserver) {
                photo.reason = inZone && !settings.zone && shot != 0 ? kNoPointForZone
                                                                     : lookup.explain(reader, settings);
            }
            photo.failedAt = PhotoStage::none;
            return photo;
        }
        photo.popup = PopupShot(reader, shot, inputs, settings);
        photo.failedAt = PhotoStage::building;
        photo.image = std::make_unique<TJPEGImageEx>();
        TJPEGImageEx& image = *photo.image;
        image.LoadFromBytes(std::move(bytes));
        SetPosition(image.ExifData(), photo.located);
        if (settings.places != PlacesMode::off && places != nullptr) {
            // The names of the spot the photo is tagged with, to the digit (as shown when a plan is written).
            photo.place = planned != nullptr && planned->place ? *planned->place : PlaceAt(coord, *places);
            photo.popup.place = PlaceLabel(*photo.place);
            WritePlaceProperties(image.ExifData().XMPPacket(), *photo.place, PlaceWriteOf(settings));
        }
        photo.failedAt = PhotoStage::saving;
        if (!inputs.modes.dryRun) {
            photo.content = image.BuildContent();
        }
        photo.failedAt = PhotoStage::none;
    } catch (...) {
        photo.error = std::current_exception();
    }
    return photo;
}

// The size and time a file has now that the run wrote it; the hash is that of the bytes written.
void TakeLeftIdentity(RecordedFile& recorded) {
    struct stat now {};
    const int result =
        recorded.throughLink ? ::stat(recorded.path.c_str(), &now) : ::lstat(recorded.path.c_str(), &now);
    if (result == 0) {
        recorded.newMtime = now.st_mtim;
        if (static_cast<std::uint64_t>(now.st_size) != recorded.newSize) {
            // Changed by another program right after the write: the record must not take that for ours.
            recorded.newMtime = timespec{0, 0};
        }
    }
}

// A file about to be replaced by the parts: what puts it back.
RecordedFile ReplacedFile(const std::string& path, const ReadFile& file, std::span<const std::uint8_t> old,
                          std::span<const std::span<const std::uint8_t>> parts) {
    RecordedFile recorded;
    recorded.path = path;
    recorded.throughLink = file.throughLink;
    for (const auto part : parts) {
        recorded.newSize += part.size();
    }
    recorded.newHash = ContentHash::Of(parts);
    recorded.oldSize = old.size();
    recorded.oldHash = ContentHash::Of(old);
    recorded.oldMtime = file.identity.st_mtim;
    recorded.steps = RestoreSteps(old, parts);
    return recorded;
}

unsigned WorkerCount(int jobs, std::size_t photos) {
    unsigned count = jobs > 0 ? static_cast<unsigned>(jobs) : std::thread::hardware_concurrency();
    count = std::max(count, 1U);
    return static_cast<unsigned>(std::min<std::size_t>(count, std::max<std::size_t>(photos, 1)));
}

}  // namespace

DmsParts ToDmsParts(long double degrees, long double minutes, long double seconds) {
    DmsParts parts;
    parts.degrees = WholeNumerator(degrees);
    parts.minutes = WholeNumerator(minutes);
    parts.seconds = Currency::FromReal(seconds);  // the fraction's constructor checks its own range
    return parts;
}

std::string OtherFilesNotice(std::size_t count) {
    if (count == 1) {
        return "1 Datei in einem anderen Format übersprungen";
    }
    return std::to_string(count) + kOtherFilesSkipped;
}

std::size_t CountPhotos(const std::string& folder, bool allPhotos) {
    std::string path = folder;
    if (path.empty()) {
        return 0;
    }
    if (path.back() != '/') {
        path += '/';
    }
    std::vector<std::string> photos;
    ScanFindings findings;
    if (allPhotos) {
        FindPhotosRecursive(
            path, [](std::string_view name) { return IsAllPhotosName(name); }, photos, true, &findings, true);
    } else {
        FindFilesRecursive(path, kPhotoMask, photos, true, &findings);
    }
    return photos.size();
}

std::string PhotoFileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::uint8_t> ReadPhotoFile(const std::string& path) {
    return std::move(ReadFileForReplacing(path, true).bytes);
}

// A RAW written in place: its size, time and hash as the write left it, read back, and its old size and
// pointer, which put it back.
void TaggingRun::RecordRawWrite(const std::string& path, bool throughLink, const RawWriteDone& done) {
    RecordedFile recorded;
    recorded.path = path;
    recorded.throughLink = throughLink;
    const ReadFile now = ReadFileForReplacing(path, throughLink);
    const std::span<const std::uint8_t> bytes(now.bytes);
    recorded.newSize = bytes.size();
    recorded.newMtime = now.identity.st_mtim;
    recorded.newHash = ContentHash::Of(bytes);
    recorded.oldSize = done.oldSize;
    recorded.oldMtime = done.oldMtime;
    recorded.steps = PatchSteps(done.oldSize, done.pointerOffset, done.oldPointer);
    if (done.oldSize > bytes.size() || done.pointerOffset + done.oldPointer.size() > done.oldSize) {
        return;  // not the file written: nothing to put back from it
    }
    ContentHash former;
    former.Update(bytes.first(static_cast<std::size_t>(done.pointerOffset)));
    former.Update(done.oldPointer);
    const auto after = static_cast<std::size_t>(done.pointerOffset + done.oldPointer.size());
    former.Update(bytes.subspan(after, static_cast<std::size_t>(done.oldSize) - after));
    recorded.oldHash = former.Value();
    changes_.push_back(std::move(recorded));
}

// Writes the position of a photo of another kind than JPEG: into the RAW itself where the run does that
// and the file takes it, and into its sidecar (a new one, or the one the scan found, updated) where the RAW
// does not take it or already has a sidecar, so the two agree. True when the photo file itself was written.
bool TaggingRun::SaveOtherKind(PreparedPhoto& photo, const std::string& path, const std::string& shownName,
                               const RunInputs& inputs, const RunSettings& settings, RunObserver& observer) {
    static_cast<void>(settings);
    bool wroteFile = false;
    if (photo.rawInFile) {
        try {
            const RawWriteDone done =
                WriteGpsIntoRaw(path, *photo.gps, photo.file.throughLink, inputs.modes.keepMtime);
            wroteFile = true;
            RecordRawWrite(path, photo.file.throughLink, done);
        } catch (const RawFileRefused& refused) {
            LogLine(observer, " - " + shownName + kLogRawRefused + LogSafeText(refused.Reason()) +
                                  kLogRawRefusedSidecar + LogSafeText(PhotoFileName(photo.sidecarPath)));
        }
    }
    if (wroteFile && !photo.sidecar) {
        return true;
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(photo.sidecarText.data()),
                                              photo.sidecarText.size());
    const std::array<std::span<const std::uint8_t>, 1> parts{bytes};
    if (photo.sidecar) {
        RecordedFile recorded =
            ReplacedFile(photo.sidecar->path, *photo.sidecar, photo.sidecar->bytes, parts);
        ReplaceReadFile(*photo.sidecar, parts, false, inputs.modes.keepMtime);
        TakeLeftIdentity(recorded);
        changes_.push_back(std::move(recorded));
    } else {
        // A sidecar is the photo's, so it gets the photo's read and write permissions.
        WriteNewFile(photo.sidecarPath, bytes, photo.file.identity.st_mode & 0666U);
        RecordedFile recorded;
        recorded.path = photo.sidecarPath;
        recorded.created = true;
        recorded.newSize = bytes.size();
        recorded.newHash = ContentHash::Of(bytes);
        TakeLeftIdentity(recorded);
        changes_.push_back(std::move(recorded));
    }
    return wroteFile;
}

// Gives a prepared photo's lines, map entry and report and writes it, in the order of the photo list;
// an error of the photo is raised at the point the one-after-the-other run raises it. True when the file
// read was replaced.
bool TaggingRun::CommitPhoto(PreparedPhoto& photo, const std::string& path, const std::string& folder,
                             const RunInputs& inputs, const RunSettings& settings, RunObserver& observer) {
    const std::string name = PhotoFileName(path);
    PhotoReport report;
    report.path = path;
    report.shotTime = photo.shotTime;
    report.shotUtc = photo.shotUtc;
    report.zoneText = photo.zoneText;
    report.fileSize = static_cast<std::uint64_t>(photo.file.identity.st_size);
    report.mtimeNs = MtimeNs(photo.file.identity);
    report.rematched = photo.rematched;
    // Every name goes into the log escaped, so that no name can break, fake or colour a log line. With
    // details on, it is the path below the folder, so copies in different subfolders can be told apart.
    const std::string shownName = LogSafeText(settings.explain ? PathBelowFolder(path, folder) : name);
    bool saved = false;
    bool onMap = false;
    // A failed photo the run goes on over is no tagged photo, so it leaves the map list as it was.
    const auto skipFailed = [&](const std::string& reason, const std::exception& error) {
        if (!SkipFailedPhoto(report, shownName, reason, error, settings, observer)) {
            return false;
        }
        if (onMap) {
            mapEntries_.pop_back();
            mapShots_.pop_back();
        }
        return true;
    };
    if (!photo.zoneName.empty() && photo.zoneName != lastZoneName_) {
        // Once per change: a trip's photos name their zone when the track crosses into another.
        LogLine(observer, kLogZoneFromTrack + photo.zoneName);
        lastZoneName_ = photo.zoneName;
    }
    report.zone = photo.zoneName;
    try {
        if (photo.failedAt == PhotoStage::reading) {
            try {
                std::rethrow_exception(photo.error);
            } catch (const FileSkippedError& skipped) {
                ReportNotSaved(report, shownName, skipped, observer);
                return false;
            }
        }
        const TCoord& coord = photo.located.coord;
        if (photo.skipped) {
            report.status = PhotoStatus::skipped;
            report.message = shownName + kLogSkippedTagged;
            LogLine(observer, " - " + report.message);
        } else if (!coord.found) {
            report.message = shownName + kLogNoCoordinates;
            LogLine(observer, " - " + report.message);
            if (photo.failedAt == PhotoStage::explaining) {
                std::rethrow_exception(photo.error);
            }
            if (settings.explain) {
                report.reason = std::move(photo.reason);
                LogLine(observer, " - " + report.reason);
            } else if (settings.reasonsForObserver) {
                report.reason = std::move(photo.reason);
            }
        } else {
            LogLine(observer, " - " + shownName + kLogCoordinatesFound);
            if (photo.failedAt == PhotoStage::building) {
                std::rethrow_exception(photo.error);
            }
            // The entry goes in before the save, so a photo whose save fails still has its entry.
            mapEntries_.push_back(coord.lat + "|" + coord.lon + "|" + name);
            mapShots_.push_back(photo.popup);
            if (!photo.sidecarKind) {
                mapShots_.back().path = path;  // a JPEG: the map may show its own thumbnail
            }
            onMap = true;
            report.lat = coord.lat;
            report.lon = coord.lon;
            report.utcTime = coord.utctime;
            report.place = photo.place;
            if (photo.located.interpolated) {
                report.distanceSeconds = 0;
            } else if (photo.shotUtc != 0) {
                report.distanceSeconds = std::llround(std::fabs(coord.utctime - photo.shotUtc) * 86400.0);
            }
            if (photo.failedAt == PhotoStage::saving) {
                std::rethrow_exception(photo.error);
            }
            if (photo.sidecarKind) {
                if (const std::optional<std::string> owner = sidecars_.BaseOwnerOf(path)) {
                    LogLine(observer, " - " + shownName + ": Begleitdatei " +
                                          LogSafeText(PhotoFileName(photo.sidecarPath)) + ", da " +
                                          LogSafeText(PhotoFileName(sidecars_.SidecarOf(*owner))) + " zu " +
                                          LogSafeText(PhotoFileName(*owner)) + " gehört");
                }
            }
            if (inputs.modes.dryRun) {
                report.message = coord.lat + "," + coord.lon + kLogDryRunTagged;
            } else {
                try {
                    if (photo.sidecarKind) {
                        saved = SaveOtherKind(photo, path, shownName, inputs, settings, observer);
                    } else {
                        const auto parts = photo.content->Parts();
                        RecordedFile recorded =
                            ReplacedFile(path, photo.file, photo.image->StoredBytes(), parts);
                        ReplaceReadFile(photo.file, parts, false, inputs.modes.keepMtime);
                        saved = true;
                        TakeLeftIdentity(recorded);
                        changes_.push_back(std::move(recorded));
                    }
                } catch (const FileSkippedError& skipped) {
                    // Not tagged, so not on the map either; the photo and everything around it stay as
                    // they are.
                    mapEntries_.pop_back();
                    mapShots_.pop_back();
                    onMap = false;
                    ReportNotSaved(report, shownName, skipped, observer);
                    return false;
                }
                report.message = coord.lat + "," + coord.lon + kLogTagged;
            }
            photo.content.reset();
            photo.image.reset();
            report.status = PhotoStatus::tagged;
            LogLine(observer, " - " + report.message);
        }
    } catch (const EInvalidJPEGHeader& e) {
        if (skipFailed(EInvalidJPEGHeader::kMessage, e)) {
            return false;
        }
        FailPhoto(report, observer, EInvalidJPEGHeader(LogSafeText(path)));
    } catch (const StreamError& e) {
        if (skipFailed(e.what(), e)) {
            return false;
        }
        FailPhoto(report, observer, StreamError(LogSafeText(path) + ": " + e.what()));
    } catch (const UnknownPhotoKind& e) {
        if (skipFailed(e.what(), e)) {
            return false;
        }
        FailPhoto(report, observer, Error(LogSafeText(path) + ": " + e.what()));
    } catch (const MediaError& e) {
        if (skipFailed(e.what(), e)) {
            return false;
        }
        FailPhoto(report, observer, MediaError(LogSafeText(path) + ": " + e.what()));
    } catch (const std::exception& e) {
        if (skipFailed(e.what(), e)) {
            return false;
        }
        report.status = PhotoStatus::failed;
        report.message = e.what();
        observer.PhotoHandled(report);
        throw;
    }
    observer.PhotoHandled(report);
    return saved;
}

std::string RemovalSummaryText(const RemovalSummary& summary, bool dryRun) {
    return "GPS-Position aus " + std::to_string(summary.removed) +
           (summary.removed == 1 ? " Bild" : " Bildern") +
           (dryRun ? (summary.removed == 1 ? " würde" : " würden") : "") + " entfernt, " +
           std::to_string(summary.withoutGps) + " ohne GPS-Position, " + std::to_string(summary.failed) +
           " fehlgeschlagen";
}

std::string RemovalPageNotice(const RemovalSummary& summary, bool dryRun) {
    std::string text = std::string(dryRun ? "Probelauf, nichts geändert: " : "") +
                       "GPS-Daten entfernt: " + std::to_string(summary.removed) +
                       (summary.removed == 1 ? " Foto" : " Fotos");
    if (summary.failed > 0) {
        text += ", " + std::to_string(summary.failed) + " fehlgeschlagen";
    }
    return text;
}

namespace {

// The GPS tags a run writes: latitude and longitude with their references, altitude and its reference,
// time stamp and date stamp.
constexpr std::array<TTiffTagID, 8> kWrittenGpsTags{1, 2, 3, 4, 5, 6, 7, 0x1D};
constexpr TTiffTagID kGpsVersionTag = 0;

// Takes the position out of the image's EXIF and XMP data; true when there was one to take.
bool TakeOutPosition(TJPEGImageEx& image) {
    TExifData& exif = image.ExifData();
    TExifSection& gps = exif[esGPS];
    bool changed = false;
    for (const TTiffTagID id : kWrittenGpsTags) {
        changed = gps.Remove(id) || changed;
    }
    // A directory left with its version alone says nothing; it goes, and its pointer with it.
    if (changed && gps.Count() == 1 && gps.Find(kGpsVersionTag) != nullptr) {
        gps.Remove(kGpsVersionTag);
    }
    if (TXMPSchema* schema = exif.XMPPacket().FindSchema(xsExif)) {
        std::vector<std::string> names;
        for (const auto& property : *schema) {
            if (property->Name().starts_with("GPS")) {
                names.push_back(property->Name());
            }
        }
        for (const std::string& name : names) {
            changed = schema->RemoveProperty(name) || changed;
        }
    }
    return changed;
}

}  // namespace

RemovalSummary TaggingRun::RemoveGps(const std::string& folderText, RunObserver& observer,
                                     const RunModes& modes, const RunSettings& settings) {
    RemovalSummary summary;
    if (folderText.empty()) {
        observer.ShowError(kNoPhotoFolderMessage);
        summary.result = RunResult::inputMissing;
        return summary;
    }
    photos_.clear();
    mapEntries_.clear();
    mapShots_.clear();
    changes_.clear();
    LogLine(observer, kLogReadingPhotos);
    std::string folder = folderText;
    if (folder.back() != '/') {
        folder += '/';
    }
    ScanFindings findings;
    if (settings.allPhotos) {
        FindPhotosRecursive(
            folder, [](std::string_view name) { return IsAllPhotosName(name); }, photos_, true, &findings,
            true);
    } else {
        FindFilesRecursive(folder, kPhotoMask, photos_, true, &findings);
    }
    const SidecarPlan sidecars(photos_, settings.sidecar);
    observer.SetProgressMax(ClampToInt(photos_.size()));
    LogLine(observer, " - " + std::to_string(photos_.size()) + kLogPhotosFound);
    ReportScanFindings(findings, observer);
    UndoInterruptedSaves(photos_, findings, observer);

    int position = 0;
    for (const std::string& path : photos_) {
        if (observer.StopRequested()) {
            summary.result = StopRun(observer, position, photos_.size());
            return summary;
        }
        const std::string shownName =
            LogSafeText(settings.explain ? PathBelowFolder(path, folder) : PhotoFileName(path));
        try {
            const bool throughLink = findings.links.contains(path);
            ReadFile file = ReadFileForReplacing(path, throughLink);
            const MediaKind kind = DetectMediaKind(file.bytes);
            if (kind != MediaKind::jpeg) {
                // Another kind carries a run's position in its sidecar, and a TIFF-based RAW, where the
                // run writes into RAW files, also in the file itself; any other position in the file
                // stays.
                bool rawRemoved = false;
                bool rawRefused = false;
                if (settings.rawInFile && kind == MediaKind::tiffRaw) {
                    try {
                        const std::optional<RawWriteDone> done =
                            RemoveGpsFromRaw(path, throughLink, modes.keepMtime, modes.dryRun);
                        if (done) {
                            rawRemoved = true;
                            if (!modes.dryRun) {
                                RecordRawWrite(path, throughLink, *done);
                            }
                            LogLine(observer, " - " + shownName +
                                                  (modes.dryRun ? kLogGpsWouldBeRemoved : kLogGpsRemoved));
                        }
                    } catch (const RawFileRefused& refused) {
                        rawRefused = true;
                        LogLine(observer,
                                " - " + shownName + kLogRawRemoveRefused + LogSafeText(refused.Reason()));
                    }
                }
                const std::string sidecarPath = sidecars.SidecarOf(path);
                std::optional<std::string> text;
                std::optional<ReadFile> sidecar;
                if (findings.sidecars.contains(sidecarPath)) {
                    sidecar = ReadFileForReplacing(sidecarPath, findings.links.contains(sidecarPath));
                    text = RemoveXMPSidecarGps(std::string(sidecar->bytes.begin(), sidecar->bytes.end()));
                }
                if (rawRemoved) {
                    ++summary.removed;
                    summary.removedPaths.push_back(path);
                }
                if (!text) {
                    if (rawRefused) {
                        ++summary.failed;
                    } else if (!rawRemoved) {
                        ++summary.withoutGps;
                        LogLine(observer, " - " + shownName + kLogNoGpsInSidecar);
                    }
                } else if (modes.dryRun) {
                    if (!rawRemoved) {
                        ++summary.removed;
                        LogLine(observer, " - " + shownName + kLogGpsWouldBeRemoved);
                    }
                    summary.removedPaths.push_back(sidecarPath);
                } else {
                    const std::array<std::span<const std::uint8_t>, 1> parts{
                        std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size())};
                    RecordedFile recorded = ReplacedFile(sidecarPath, *sidecar, sidecar->bytes, parts);
                    ReplaceReadFile(*sidecar, parts, false, modes.keepMtime);
                    TakeLeftIdentity(recorded);
                    changes_.push_back(std::move(recorded));
                    if (!rawRemoved) {
                        ++summary.removed;
                    }
                    summary.removedPaths.push_back(sidecarPath);
                    LogLine(observer, " - " + shownName + kLogGpsRemovedFromSidecar +
                                          LogSafeText(PhotoFileName(sidecarPath)));
                }
                observer.SetProgressPosition(++position);
                continue;
            }
            TJPEGImageEx image;
            image.LoadFromBytes(std::move(file.bytes));
            if (!TakeOutPosition(image)) {
                ++summary.withoutGps;
                LogLine(observer, " - " + shownName + kLogNoGps);
            } else if (modes.dryRun) {
                ++summary.removed;
                summary.removedPaths.push_back(path);
                LogLine(observer, " - " + shownName + kLogGpsWouldBeRemoved);
            } else {
                const TJPEGImageEx::BuiltContent content = image.BuildContent();
                const auto parts = content.Parts();
                RecordedFile recorded = ReplacedFile(path, file, image.StoredBytes(), parts);
                ReplaceReadFile(file, parts, false, modes.keepMtime);
                TakeLeftIdentity(recorded);
                changes_.push_back(std::move(recorded));
                ++summary.removed;
                summary.removedPaths.push_back(path);
                LogLine(observer, " - " + shownName + kLogGpsRemoved);
            }
        } catch (const FileSkippedError& skipped) {
            ++summary.failed;
            LogLine(observer, " - " + shownName + kLogNotSaved + LogSafeText(skipped.Reason()));
        } catch (const std::exception& error) {
            if (!settings.keepGoing || EndsRunAlways(error)) {
                throw Error(LogSafeText(path) + ": " + error.what());
            }
            ++summary.failed;
            LogLine(observer, " - " + shownName + ": " + LogSafeText(error.what()) + kLogFailedSkipped);
        }
        observer.SetProgressPosition(++position);
    }
    LogLine(observer, " - " + RemovalSummaryText(summary, modes.dryRun));
    observer.SetProgressPosition(0);
    return summary;
}

namespace {

// Passes everything on to the front end and keeps the last photo report, for the plan of a preview.
class ReportKeeper : public RunObserver {
public:
    explicit ReportKeeper(RunObserver& frontEnd) noexcept : frontEnd_(frontEnd) {}
    void AppendLine(const std::string& line) override { frontEnd_.AppendLine(line); }
    void SetProgressMax(int maximum) override { frontEnd_.SetProgressMax(maximum); }
    void SetProgressPosition(int position) override { frontEnd_.SetProgressPosition(position); }
    void ShowError(const std::string& text) override { frontEnd_.ShowError(text); }
    void ProcessMessages() override { frontEnd_.ProcessMessages(); }
    bool StopRequested() override { return frontEnd_.StopRequested(); }
    void PhotoHandled(const PhotoReport& report) override {
        last = report;
        frontEnd_.PhotoHandled(report);
    }
    void RunStopped(std::size_t done, std::size_t total, const std::string& message) override {
        frontEnd_.RunStopped(done, total, message);
    }
    void ImportFailed(const std::string& reason) override { frontEnd_.ImportFailed(reason); }
    void Notice(const std::string& text) override { frontEnd_.Notice(text); }

    PhotoReport last;

private:
    RunObserver& frontEnd_;
};

// What the write of a plan needs of a photo the preview handled: its identity, the outcome and the
// position as shown.
PlannedPhoto PlanOf(const PreparedPhoto& photo, const PhotoReport& report) {
    PlannedPhoto planned;
    planned.path = report.path;
    planned.fileSize = report.fileSize;
    planned.mtimeNs = report.mtimeNs;
    planned.status = report.status;
    if (report.status == PhotoStatus::tagged) {
        planned.position = photo.located;
        planned.place = photo.place;
    }
    planned.shotTime = photo.shotTime;
    planned.shotUtc = photo.shotUtc;
    planned.zoneText = photo.zoneText;
    planned.trackZoneName = photo.zoneName;
    planned.trackZone = photo.trackZone;
    planned.message = report.message;
    planned.reason = report.reason;
    return planned;
}

}  // namespace

RunResult TaggingRun::Run(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings) {
    return RunWith(inputs, observer, settings, nullptr, nullptr);
}

RunResult TaggingRun::Preview(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings,
                              PreviewPlan& plan) {
    RunInputs dry = inputs;
    dry.modes.dryRun = true;
    plan = PreviewPlan{};
    return RunWith(dry, observer, settings, &plan, nullptr);
}

RunResult TaggingRun::WritePlan(const PreviewPlan& plan, RunObserver& observer) {
    RunInputs inputs = plan.inputs;
    inputs.modes.dryRun = false;
    return RunWith(inputs, observer, plan.settings, nullptr, &plan);
}

RunResult TaggingRun::RunWith(const RunInputs& inputs, RunObserver& frontEnd, const RunSettings& settings,
                              PreviewPlan* keep, const PreviewPlan* written) {
    std::optional<ReportKeeper> keeper;
    if (keep != nullptr) {
        keeper.emplace(frontEnd);
        keep->inputs = inputs;
        keep->settings = settings;
    }
    RunObserver& observer = keeper ? static_cast<RunObserver&>(*keeper) : frontEnd;
    // The GPX path is checked first, so an empty form names the GPX file; neither check looks at the disk.
    if (inputs.gpxPath.empty() || std::any_of(settings.moreGpxPaths.begin(), settings.moreGpxPaths.end(),
                                              [](const std::string& path) { return path.empty(); })) {
        observer.ShowError(kNoGpxFileMessage);
        return RunResult::inputMissing;
    }
    if (inputs.folder.empty()) {
        observer.ShowError(kNoPhotoFolderMessage);
        return RunResult::inputMissing;
    }

    photos_.clear();
    mapEntries_.clear();
    mapShots_.clear();
    changes_.clear();
    lastZoneName_.clear();
    // Read before the folder is scanned: without its place file the run could not do what was asked.
    std::optional<PlaceIndex> places;
    if (settings.NeedsPlaces()) {
        places.emplace(
            PlaceIndex::Open(settings.placeFile.empty() ? DefaultPlaceFilePath() : settings.placeFile));
    }

    LogLine(observer, kLogReadingPhotos);
    std::string folder = inputs.folder;
    if (folder.back() != '/') {
        folder += '/';
    }
    ScanFindings findings;
    if (settings.allPhotos) {
        FindPhotosRecursive(
            folder, [](std::string_view name) { return IsAllPhotosName(name); }, photos_, true, &findings,
            true);
    } else {
        FindFilesRecursive(folder, kPhotoMask, photos_, true, &findings);
    }
    sidecars_ = SidecarPlan(photos_, settings.sidecar);
    // A written plan's photos by path, and those of them the scan no longer found.
    std::unordered_map<std::string, const PlannedPhoto*> planned;
    std::vector<const PlannedPhoto*> gone;
    if (written != nullptr) {
        for (const PlannedPhoto& photo : written->photos) {
            planned.emplace(photo.path, &photo);
        }
        const std::set<std::string> scanned(photos_.begin(), photos_.end());
        for (const PlannedPhoto& photo : written->photos) {
            if (!scanned.contains(photo.path)) {
                gone.push_back(&photo);
            }
        }
    }
    observer.SetProgressMax(ClampToInt(photos_.size() + gone.size()));
    LogLine(observer, " - " + std::to_string(photos_.size()) + kLogPhotosFound);
    if (settings.allPhotos && findings.otherFiles > 0) {
        observer.Notice(OtherFilesNotice(findings.otherFiles));
    }
    ReportScanFindings(findings, observer);
    UndoInterruptedSaves(photos_, findings, observer);

    // A failed import leaves the progress bar as it was: no photo has been touched. Every file is in the
    // table before the first photo is matched, so tracks of several files serve every photo alike.
    // A plan is written with the positions it holds; a photo matched again uses the table as it is.
    const ImportDetails details =
        settings.NeedsTrackDetails() ? ImportDetails::elevationAndSegments : ImportDetails::positionsOnly;
    std::string failure;
    std::size_t fileIndex = 0;
    const auto importFile = [&](const std::string& gpxPath) {
        const std::size_t index = fileIndex++;
        const auto processMessages = [&observer] { observer.ProcessMessages(); };
        const auto stopRequested = [&observer] { return observer.StopRequested(); };
        if (index < settings.gpsbabelFormats.size() && !settings.gpsbabelFormats[index].empty()) {
            return importTrackThroughGpsbabel(settings.gpsbabelFormats[index], gpxPath, connection_, query_,
                                              observer, processMessages, details, stopRequested, &failure);
        }
        return importTrack(gpxPath, connection_, query_, observer, processMessages, details, stopRequested,
                           &failure);
    };
    if (written == nullptr &&
        (!importFile(inputs.gpxPath) ||
         !std::all_of(settings.moreGpxPaths.begin(), settings.moreGpxPaths.end(), importFile))) {
        // A stop ends the import as a failed one; the run then says that it was stopped, as between photos.
        if (observer.StopRequested()) {
            return StopRun(observer, 0, photos_.size());
        }
        if (!failure.empty()) {
            observer.ImportFailed(failure);
        }
        return RunResult::importFailed;
    }

    // The lookups share the session's one statement, one at a time.
    const LookupTransaction lookups(connection_);
    std::mutex lookupMutex;
    PhotoLookup lookup{[&](const TCustomExifData& exif) {
                           const std::lock_guard lock(lookupMutex);
                           return LocatePhoto(exif, inputs, settings, query_);
                       },
                       nullptr,
                       [&](const TCustomExifData& exif, const RunSettings& photoSettings) {
                           const std::lock_guard lock(lookupMutex);
                           return MissReason(exif, inputs, photoSettings, query_);
                       },
                       [&](const ShotTime& shot) {
                           const std::lock_guard lock(lookupMutex);
                           if (shot.clock == ShotTime::Clock::camera) {
                               return LocateCameraShot(shot.time, std::nullopt, inputs, settings, query_);
                           }
                           return LocateUtc(MediaShotToUtc(shot, inputs, settings), inputs, settings, query_);
                       },
                       [&](const ShotTime& shot) {
                           const std::lock_guard lock(lookupMutex);
                           return MissReasonAt(MediaShotToUtc(shot, inputs, settings), inputs, query_);
                       },
                       nullptr,
                       [&](DateTimeValue utc) {
                           const std::lock_guard lock(lookupMutex);
                           return MissReasonAt(utc, inputs, query_);
                       }};
    if (settings.zoneFromTrack) {
        lookup.locateInTrackZone = [&](const TCustomExifData& exif) {
            const std::lock_guard lock(lookupMutex);
            return LocateInTrackZone(exif, inputs, settings, *places, query_);
        };
        lookup.locateLocalInTrackZone = [&](DateTimeValue local) {
            const std::lock_guard lock(lookupMutex);
            const PositionRules rules{inputs.toleranceSeconds, settings.interpolateMaxGap, settings.altitude};
            return MatchInTrackZone(local, rules, *places, query_);
        };
    }
    const PlaceIndex* placeIndex = places ? &*places : nullptr;
    const KindContext context{findings, sidecars_, written != nullptr ? &planned : nullptr};
    const auto prepare = [&](const std::string& path, TExifData& reader) {
        return PreparePhoto(path, findings.links.contains(path), reader, inputs, settings, lookup, placeIndex,
                            context);
    };
    // The run's own thread is one of the jobs: it writes while the workers prepare the photos after.
    const unsigned jobs = WorkerCount(inputs.jobs, photos_.size());
    std::optional<PhotoPool<PreparedPhoto, TExifData>> pool;
    std::optional<DeferredCloser> closer;
    if (jobs > 1) {
        pool.emplace(photos_.size(), jobs - 1,
                     [&](std::size_t index, TExifData& reader) { return prepare(photos_[index], reader); });
        closer.emplace();
    }
    TExifData reader;  // the run thread's reading container, for every photo it reads itself
    // The files this run has replaced, by the device and inode they had when read.
    std::set<std::pair<dev_t, ino_t>> replaced;
    const auto key = [](const PreparedPhoto& photo) {
        return std::make_pair(photo.file.identity.st_dev, photo.file.identity.st_ino);
    };
    int position = 0;
    const std::size_t total = photos_.size() + gone.size();
    for (const PlannedPhoto* photo : gone) {
        if (observer.StopRequested()) {
            return StopRun(observer, position, total);
        }
        PhotoReport report;
        report.path = photo->path;
        report.status = PhotoStatus::failed;
        report.shotTime = photo->shotTime;
        report.shotUtc = photo->shotUtc;
        report.zoneText = photo->zoneText;
        report.fileSize = photo->fileSize;
        report.mtimeNs = photo->mtimeNs;
        report.message = LogSafeText(settings.explain ? PathBelowFolder(photo->path, folder)
                                                      : PhotoFileName(photo->path)) +
                         ": " + kPlannedPhotoGone;
        LogLine(observer, " - " + report.message);
        observer.PhotoHandled(report);
        observer.SetProgressPosition(++position);
    }
    for (std::size_t i = 0; i < photos_.size(); ++i) {
        if (observer.StopRequested()) {
            return StopRun(observer, position, total);
        }
        const std::string& path = photos_[i];
        PreparedPhoto photo = pool ? pool->Take(i) : prepare(path, reader);
        if (pool && replaced.contains(key(photo))) {
            // A worker read this file before an earlier photo of the list, the same file under another
            // name (a link to it), was saved over it: read it again now, as the one-after-the-other run
            // does.
            photo = prepare(path, reader);
        }
        const bool saved = CommitPhoto(photo, path, folder, inputs, settings, observer);
        if (keep != nullptr) {
            keep->photos.push_back(PlanOf(photo, keeper->last));
        }
        if (saved) {
            replaced.insert(key(photo));
            if (closer) {
                closer->Close(std::move(photo.file.file));
            }
        }
        observer.SetProgressPosition(++position);
    }
    observer.SetProgressPosition(0);
    return RunResult::done;
}

}  // namespace zeloro
