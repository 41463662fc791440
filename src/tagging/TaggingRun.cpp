// src/tagging/TaggingRun.cpp: the tagging run: input checks, scan, import, and the per-photo loop.
#include "tagging/TaggingRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "gpx/GpxImport.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "tagging/FolderScan.h"
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

// Saves the photo in place; with keep the file gets back the modification time it had before, to the
// nanosecond, so photo managers that go by it do not take the photo for a new one.
void SaveKeepingMtime(TJPEGImageEx& image, const std::string& path, bool keep) {
    struct stat before {};
    if (keep && ::stat(path.c_str(), &before) != 0) {
        const int err = errno;
        throw FileError("Datei " + path + " kann nicht geöffnet werden. " + std::strerror(err));
    }
    image.SaveToFile(path);
    if (keep) {
        const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, before.st_mtim};
        if (::utimensat(AT_FDCWD, path.c_str(), times.data(), 0) != 0) {
            const int err = errno;
            throw FileError("Die Änderungszeit von " + path + " konnte nicht gesetzt werden. " +
                            std::strerror(err));
        }
    }
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
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        const int err = errno;
        throw FileError("Datei " + path + " kann nicht geöffnet werden. " + std::strerror(err));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw StreamError(kStreamReadError);
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t filled = 0;
    const auto readSome = [&fd](std::uint8_t* into, std::size_t count) {
        for (;;) {
            const ssize_t got = ::read(fd.get(), into, count);
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                throw StreamError(kStreamReadError);
            }
        }
    };
    while (filled < bytes.size()) {
        const std::size_t got = readSome(bytes.data() + filled, bytes.size() - filled);
        if (got == 0) {
            bytes.resize(filled);  // the file shrank while it was read
            return bytes;
        }
        filled += got;
    }
    // The file may have grown since its size was taken; what is there at the end of the read counts.
    // The common case, nothing more, costs one small read and no copy of what was read.
    std::array<std::uint8_t, 4096> more{};
    for (std::size_t got = readSome(more.data(), more.size()); got != 0;
         got = readSome(more.data(), more.size())) {
        bytes.insert(bytes.end(), more.begin(), more.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return bytes;
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
    FindFilesRecursive(folder, kPhotoMask, context.imgSL, true);
    observer.SetProgressMax(ClampToInt(context.imgSL.size()));
    LogLine(observer, " - " + std::to_string(context.imgSL.size()) + kLogPhotosFound);

    // A failed import leaves the progress bar as it was: no photo has been touched. Every file is in the
    // table before the first photo is matched, so tracks of several files serve every photo alike.
    const ImportDetails details =
        settings.NeedsTrackDetails() ? ImportDetails::elevationAndSegments : ImportDetails::positionsOnly;
    const auto importFile = [&](const std::string& gpxPath) {
        return importGpx(
            gpxPath, context.uniCon, context.query, observer, [&observer] { observer.ProcessMessages(); },
            details);
    };
    if (!importFile(inputs.gpxPath) ||
        !std::all_of(settings.moreGpxPaths.begin(), settings.moreGpxPaths.end(), importFile)) {
        return RunResult::importFailed;
    }

    const RunModes& modes = inputs.modes;
    int position = 0;
    for (const std::string& path : context.imgSL) {
        if (observer.StopRequested()) {
            observer.SetProgressPosition(0);
            return RunResult::stopped;
        }
        const std::string name = PhotoFileName(path);
        PhotoReport report;
        report.path = path;
        try {
            // The photo is read from disk once: the reading container takes its shot time from these
            // bytes and, when a point is found, the image object that is saved takes the same bytes over.
            std::vector<std::uint8_t> bytes = ReadPhotoFile(path);
            reader.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
            if (modes.skipTagged && !reader.GPSLatitude().MissingOrInvalid() &&
                !reader.GPSLongitude().MissingOrInvalid()) {
                report.status = PhotoStatus::skipped;
                report.message = name + kLogSkippedTagged;
                LogLine(observer, " - " + report.message);
                observer.PhotoHandled(report);
                observer.SetProgressPosition(++position);
                continue;
            }
            const DateTimeValue shot = reader.DateTimeOriginal();
            const TrackPosition located = LocatePhoto(reader, inputs, settings, context.query);
            const TCoord& coord = located.coord;
            if (coord.found) {
                LogLine(observer, " - " + name + kLogCoordinatesFound);
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
                    SaveKeepingMtime(image, path, modes.keepMtime);
                    report.message = coord.lat + "," + coord.lon + kLogTagged;
                }
                report.status = PhotoStatus::tagged;
                LogLine(observer, " - " + report.message);
            } else {
                report.message = name + kLogNoCoordinates;
                LogLine(observer, " - " + report.message);
            }
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
