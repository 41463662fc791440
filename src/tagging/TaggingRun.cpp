// src/tagging/TaggingRun.cpp: the tagging run: input checks, scan, import, and the per-photo loop.
#include "tagging/TaggingRun.h"

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
#include <utility>
#include <vector>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/SaveJournal.h"
#include "gpx/GpxImport.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/JPEGSegments.h"
#include "places/PlaceIndex.h"
#include "tagging/FolderScan.h"
#include "tagging/MissReason.h"
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
    const auto scanned = [&](const std::string& path) { return ScannedKind(photos, findings, path); };
    for (const std::string& journal : findings.saveJournals) {
        const UndoneSave undone = UndoInterruptedSave(journal, scanned);
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
    report.status = PhotoStatus::failed;
    report.message = shownName + kLogNotSaved + skipped.Reason();
    LogLine(observer, " - " + report.message);
    observer.PhotoHandled(report);
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

// The shot time the map page's popup shows: the camera's, with the list zone it was read in; when the
// run's settings shift the time otherwise (clock offset, another zone, the photo's own offset), the UTC
// time the photo was matched at, so the popup never names an offset that was not the one applied.
MapShot PopupShot(const TCustomExifData& exif, DateTimeValue shot, const RunInputs& inputs,
                  const RunSettings& settings) {
    if (!settings.ShiftsTime()) {
        return MapShot{shot, inputs.zoneIndex};
    }
    const std::optional<int> stored = settings.photoZone ? StoredPhotoOffset(exif) : std::nullopt;
    return MapShot{ShotTimeToUtc(shot, stored, inputs.zoneIndex, settings), kZoneIndexUtc};
}

// The lookups of a photo whose EXIF data is loaded, callable from any thread: its position, under
// --zone auto with the zone it was read in, and, when the run explains its misses, why it has none (under
// the settings the photo was matched with).
struct PhotoLookup {
    std::function<TrackPosition(const TCustomExifData&)> locate;
    std::function<TrackZoneMatch(const TCustomExifData&)> locateInTrackZone;  // set under --zone auto
    std::function<std::string(const TCustomExifData&, const RunSettings&)> explain;
};

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
    ReadFile file;         // as read (its bytes moved into image); the save goes over exactly this file
    TrackPosition located;
    std::string reason;  // why no point was found, when the run explains misses
    MapShot popup;
    std::optional<PlaceNames> place;      // with --places, for a found point
    std::string zoneName;                 // the zone from the track the photo was read in (--zone auto)
    std::unique_ptr<TJPEGImageEx> image;  // holds the bytes the content points into
    std::optional<TJPEGImageEx::BuiltContent> content;  // none in a dry run
    std::exception_ptr error;
    PhotoStage failedAt = PhotoStage::none;
};

namespace {

// Everything of a photo that writes nothing and touches no shared state but the lookup: safe to run on
// any thread, with one reading container per thread. followLink: the scanned entry itself was a link.
PreparedPhoto PreparePhoto(const std::string& path, bool followLink, TExifData& reader,
                           const RunInputs& inputs, const RunSettings& runSettings, const PhotoLookup& lookup,
                           const PlaceIndex* places) {
    PreparedPhoto photo;
    photo.failedAt = PhotoStage::reading;
    try {
        // The photo is read from disk once: the reading container takes its shot time from these bytes
        // and, when a point is found, the image object that is saved takes the same bytes over.
        photo.file = ReadFileForReplacing(path, followLink);
        std::vector<std::uint8_t> bytes = std::move(photo.file.bytes);
        reader.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
        if (inputs.modes.skipTagged && !reader.GPSLatitude().MissingOrInvalid() &&
            !reader.GPSLongitude().MissingOrInvalid()) {
            photo.skipped = true;
            photo.failedAt = PhotoStage::none;
            return photo;
        }
        const DateTimeValue shot = reader.DateTimeOriginal();
        // Under --zone auto each photo has a zone of its own; the rest of its road reads it like a zone
        // given by the user.
        std::optional<RunSettings> inZone;
        if (lookup.locateInTrackZone) {
            TrackZoneMatch match = lookup.locateInTrackZone(reader);
            photo.located = std::move(match.position);
            photo.zoneName = std::move(match.zoneName);
            inZone.emplace(runSettings);
            inZone->zone = match.zone;
        } else {
            photo.located = lookup.locate(reader);
        }
        const RunSettings& settings = inZone ? *inZone : runSettings;
        const TCoord& coord = photo.located.coord;
        if (!coord.found) {
            photo.failedAt = PhotoStage::explaining;
            if (settings.explain) {
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
        const DmsParts lat = ToDmsParts(coord.gps_lt_dg, coord.gps_lt_mm, coord.gps_lt_ss);
        AssignCoordinate(image.ExifData().GPSLatitude(), lat, coord.gps_lt_dr == "S" ? ltSouth : ltNorth);
        const DmsParts lon = ToDmsParts(coord.gps_ln_dg, coord.gps_ln_mm, coord.gps_ln_ss);
        AssignCoordinate(image.ExifData().GPSLongitude(), lon, coord.gps_ln_dr == "W" ? lnWest : lnEast);
        image.ExifData().SetGPSDateTimeUTC(coord.utctime);
        if (photo.located.altitude) {
            WriteAltitude(image.ExifData(), *photo.located.altitude);
        }
        if (settings.places != PlacesMode::off && places != nullptr) {
            // The names of the spot the photo is tagged with, to the digit.
            photo.place = places->Lookup(static_cast<double>(CoordinateValue(coord.lat, true)),
                                         static_cast<double>(CoordinateValue(coord.lon, false)));
            photo.popup.place = PlaceLabel(*photo.place);
            WritePlaceProperties(
                image.ExifData().XMPPacket(), *photo.place,
                settings.places == PlacesMode::replace ? PlaceWrite::replace : PlaceWrite::fill);
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

std::string PhotoFileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::uint8_t> ReadPhotoFile(const std::string& path) {
    return std::move(ReadFileForReplacing(path, true).bytes);
}

// Gives a prepared photo's lines, map entry and report and writes it, in the order of the photo list;
// an error of the photo is raised at the point the one-after-the-other run raises it. True when the file
// read was replaced.
bool TaggingRun::CommitPhoto(PreparedPhoto& photo, const std::string& path, const std::string& folder,
                             const RunInputs& inputs, const RunSettings& settings, RunObserver& observer) {
    const std::string name = PhotoFileName(path);
    PhotoReport report;
    report.path = path;
    // Every name goes into the log escaped, so that no name can break, fake or colour a log line. With
    // details on, it is the path below the folder, so copies in different subfolders can be told apart.
    const std::string shownName = LogSafeText(settings.explain ? PathBelowFolder(path, folder) : name);
    bool saved = false;
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
            }
        } else {
            LogLine(observer, " - " + shownName + kLogCoordinatesFound);
            if (photo.failedAt == PhotoStage::building) {
                std::rethrow_exception(photo.error);
            }
            // The entry goes in before the save, so a photo whose save fails still has its entry.
            mapEntries_.push_back(coord.lat + "|" + coord.lon + "|" + name);
            mapShots_.push_back(photo.popup);
            report.lat = coord.lat;
            report.lon = coord.lon;
            report.utcTime = coord.utctime;
            report.place = photo.place;
            if (photo.failedAt == PhotoStage::saving) {
                std::rethrow_exception(photo.error);
            }
            if (inputs.modes.dryRun) {
                report.message = coord.lat + "," + coord.lon + kLogDryRunTagged;
            } else {
                try {
                    ReplaceReadFile(photo.file, photo.content->Parts(), false, inputs.modes.keepMtime);
                } catch (const FileSkippedError& skipped) {
                    // Not tagged, so not on the map either; the photo and everything around it stay as
                    // they are.
                    mapEntries_.pop_back();
                    mapShots_.pop_back();
                    ReportNotSaved(report, shownName, skipped, observer);
                    return false;
                }
                report.message = coord.lat + "," + coord.lon + kLogTagged;
                saved = true;
            }
            photo.content.reset();
            photo.image.reset();
            report.status = PhotoStatus::tagged;
            LogLine(observer, " - " + report.message);
        }
    } catch (const EInvalidJPEGHeader&) {
        FailPhoto(report, observer, EInvalidJPEGHeader(LogSafeText(path)));
    } catch (const StreamError& e) {
        FailPhoto(report, observer, StreamError(LogSafeText(path) + ": " + e.what()));
    } catch (const std::exception& e) {
        report.status = PhotoStatus::failed;
        report.message = e.what();
        observer.PhotoHandled(report);
        throw;
    }
    observer.PhotoHandled(report);
    return saved;
}

RunResult TaggingRun::Run(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings) {
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
    FindFilesRecursive(folder, kPhotoMask, photos_, true, &findings);
    observer.SetProgressMax(ClampToInt(photos_.size()));
    LogLine(observer, " - " + std::to_string(photos_.size()) + kLogPhotosFound);
    ReportScanFindings(findings, observer);
    UndoInterruptedSaves(photos_, findings, observer);

    // A failed import leaves the progress bar as it was: no photo has been touched. Every file is in the
    // table before the first photo is matched, so tracks of several files serve every photo alike.
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
    if (!importFile(inputs.gpxPath) ||
        !std::all_of(settings.moreGpxPaths.begin(), settings.moreGpxPaths.end(), importFile)) {
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
                       }};
    if (settings.zoneFromTrack) {
        lookup.locateInTrackZone = [&](const TCustomExifData& exif) {
            const std::lock_guard lock(lookupMutex);
            return LocateInTrackZone(exif, inputs, settings, *places, query_);
        };
    }
    const PlaceIndex* placeIndex = places ? &*places : nullptr;
    const auto prepare = [&](const std::string& path, TExifData& reader) {
        return PreparePhoto(path, findings.links.contains(path), reader, inputs, settings, lookup,
                            placeIndex);
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
    for (std::size_t i = 0; i < photos_.size(); ++i) {
        if (observer.StopRequested()) {
            return StopRun(observer, position, photos_.size());
        }
        const std::string& path = photos_[i];
        PreparedPhoto photo = pool ? pool->Take(i) : prepare(path, reader);
        if (pool && replaced.contains(key(photo))) {
            // A worker read this file before an earlier photo of the list, the same file under another
            // name (a link to it), was saved over it: read it again now, as the one-after-the-other run
            // does.
            photo = prepare(path, reader);
        }
        if (CommitPhoto(photo, path, folder, inputs, settings, observer)) {
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
