// src/tagging/TaggingRun.cpp: the tagging run: input checks, scan, import, and the per-photo loop.
#include "tagging/TaggingRun.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <limits>
#include <utility>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "gpx/GpxImport.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/JPEGSegments.h"
#include "metadata/SafeFileWrite.h"
#include "tagging/FolderScan.h"
#include "tagging/MissReason.h"
#include "tagging/PhotoLocator.h"
#include "time/TimeRules.h"
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
// from the journal, before anything else of the run; a journal that cannot be used stays, and is named.
void UndoInterruptedSaves(const ScanFindings& findings, RunObserver& observer) {
    for (const std::string& journal : findings.saveJournals) {
        const UndoneSave undone = UndoInterruptedSave(journal);
        std::string line = kLogSaveUndoneBefore + LogSafeText(undone.path);
        if (undone.restored) {
            line += kLogSaveUndone;
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
    LogLine(observer, " - " + StoppedRunMessage(static_cast<std::size_t>(done), total));
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

RunResult Button1Click(const RunInputs& inputs, RunObserver& observer, RunContext& context,
                       const RunSettings& settings) {
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

    // One reading container serves every photo of the run; each load replaces what it held.
    TExifData reader;
    context.imgSL.clear();
    context.mapsSL.clear();
    context.mapShots.clear();

    LogLine(observer, kLogReadingPhotos);
    std::string folder = inputs.folder;
    if (folder.back() != '/') {
        folder += '/';
    }
    ScanFindings findings;
    FindFilesRecursive(folder, kPhotoMask, context.imgSL, true, &findings);
    observer.SetProgressMax(ClampToInt(context.imgSL.size()));
    LogLine(observer, " - " + std::to_string(context.imgSL.size()) + kLogPhotosFound);
    ReportScanFindings(findings, observer);
    UndoInterruptedSaves(findings, observer);

    // A failed import leaves the progress bar as it was: no photo has been touched. Every file is in the
    // table before the first photo is matched, so tracks of several files serve every photo alike.
    const ImportDetails details =
        settings.NeedsTrackDetails() ? ImportDetails::elevationAndSegments : ImportDetails::positionsOnly;
    const auto importFile = [&](const std::string& gpxPath) {
        return importGpx(
            gpxPath, context.uniCon, context.query, observer, [&observer] { observer.ProcessMessages(); },
            details, [&observer] { return observer.StopRequested(); });
    };
    if (!importFile(inputs.gpxPath) ||
        !std::all_of(settings.moreGpxPaths.begin(), settings.moreGpxPaths.end(), importFile)) {
        // A stop ends the import as a failed one; the run then says that it was stopped, as between photos.
        return observer.StopRequested() ? StopRun(observer, 0, context.imgSL.size())
                                        : RunResult::importFailed;
    }

    const RunModes& modes = inputs.modes;
    int position = 0;
    for (const std::string& path : context.imgSL) {
        if (observer.StopRequested()) {
            return StopRun(observer, position, context.imgSL.size());
        }
        const std::string name = PhotoFileName(path);
        PhotoReport report;
        report.path = path;
        // Every name goes into the log escaped, so that no name can break, fake or colour a log line. With
        // details on, it is the path below the folder, so copies in different subfolders can be told apart.
        const std::string shownName = LogSafeText(settings.explain ? PathBelowFolder(path, folder) : name);
        try {
            // The photo is read from disk once: the reading container takes its shot time from these
            // bytes and, when a point is found, the image object that is saved takes the same bytes over.
            ReadFile photo;
            try {
                photo = ReadFileForReplacing(path, findings.links.contains(path));
            } catch (const FileSkippedError& skipped) {
                ReportNotSaved(report, shownName, skipped, observer);
                observer.SetProgressPosition(++position);
                continue;
            }
            std::vector<std::uint8_t> bytes = std::move(photo.bytes);
            reader.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
            if (modes.skipTagged && !reader.GPSLatitude().MissingOrInvalid() &&
                !reader.GPSLongitude().MissingOrInvalid()) {
                report.status = PhotoStatus::skipped;
                report.message = shownName + kLogSkippedTagged;
                LogLine(observer, " - " + report.message);
                observer.PhotoHandled(report);
                observer.SetProgressPosition(++position);
                continue;
            }
            const DateTimeValue shot = reader.DateTimeOriginal();
            const TrackPosition located = LocatePhoto(reader, inputs, settings, context.query);
            const TCoord& coord = located.coord;
            if (coord.found) {
                LogLine(observer, " - " + shownName + kLogCoordinatesFound);
                TJPEGImageEx image;
                image.LoadFromBytes(std::move(bytes));
                const DmsParts lat = ToDmsParts(coord.gps_lt_dg, coord.gps_lt_mm, coord.gps_lt_ss);
                AssignCoordinate(image.ExifData().GPSLatitude(), lat,
                                 coord.gps_lt_dr == "S" ? ltSouth : ltNorth);
                const DmsParts lon = ToDmsParts(coord.gps_ln_dg, coord.gps_ln_mm, coord.gps_ln_ss);
                AssignCoordinate(image.ExifData().GPSLongitude(), lon,
                                 coord.gps_ln_dr == "W" ? lnWest : lnEast);
                image.ExifData().SetGPSDateTimeUTC(coord.utctime);
                if (located.altitude) {
                    WriteAltitude(image.ExifData(), *located.altitude);
                }
                // The entry goes in before the save, so a photo whose save fails still has its entry.
                context.mapsSL.push_back(coord.lat + "|" + coord.lon + "|" + name);
                context.mapShots.push_back(PopupShot(reader, shot, inputs, settings));
                report.lat = coord.lat;
                report.lon = coord.lon;
                report.utcTime = coord.utctime;
                if (modes.dryRun) {
                    report.message = coord.lat + "," + coord.lon + kLogDryRunTagged;
                } else {
                    try {
                        image.SaveOver(photo, modes.keepMtime);
                    } catch (const FileSkippedError& skipped) {
                        // Not tagged, so not on the map either; the photo and everything around it stay
                        // as they are.
                        context.mapsSL.pop_back();
                        context.mapShots.pop_back();
                        ReportNotSaved(report, shownName, skipped, observer);
                        observer.SetProgressPosition(++position);
                        continue;
                    }
                    report.message = coord.lat + "," + coord.lon + kLogTagged;
                }
                report.status = PhotoStatus::tagged;
                LogLine(observer, " - " + report.message);
            } else {
                report.message = shownName + kLogNoCoordinates;
                LogLine(observer, " - " + report.message);
                if (settings.explain) {
                    report.reason = MissReason(reader, inputs, settings, context.query);
                    LogLine(observer, " - " + report.reason);
                }
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
        observer.SetProgressPosition(++position);
    }
    observer.SetProgressPosition(0);
    return RunResult::done;
}

}  // namespace zeloro
