// src/tagging/TaggingRun.cpp: the tagging run: input checks, scan, import, and the per-photo loop.
#include "tagging/TaggingRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "gpx/GpxImport.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "tagging/FolderScan.h"
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

RunResult Button1Click(const RunInputs& inputs, RunObserver& observer, RunContext& context) {
    // The GPX path is checked first, so an empty form names the GPX file; neither check looks at the disk.
    if (inputs.gpxPath.empty()) {
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

    // A failed import leaves the progress bar as it was: no photo has been touched.
    if (!importGpx(
            inputs.gpxPath, context.uniCon, context.query, observer,
            [&observer] { observer.ProcessMessages(); }, [&observer] { return observer.StopRequested(); })) {
        return RunResult::importFailed;
    }

    int position = 0;
    for (const std::string& path : context.imgSL) {
        if (observer.StopRequested()) {
            observer.SetProgressPosition(0);
            return RunResult::stopped;
        }
        const std::string name = PhotoFileName(path);
        // The photo is read from disk once: the reading container takes its shot time from these bytes
        // and, when a point is found, the image object that is saved takes the same bytes over.
        ReadFile photo;
        try {
            photo = ReadFileForReplacing(path, findings.links.contains(path));
        } catch (const FileSkippedError& skipped) {
            LogLine(observer, " - " + LogSafeText(name) + kLogNotSaved + skipped.Reason());
            observer.SetProgressPosition(++position);
            continue;
        }
        std::vector<std::uint8_t> bytes = std::move(photo.bytes);
        reader.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
        const DateTimeValue shot = reader.DateTimeOriginal();
        const TCoord coord = searchGPX(shot, inputs.zoneIndex, inputs.toleranceText, context.query);
        if (coord.found) {
            LogLine(observer, " - " + LogSafeText(name) + kLogCoordinatesFound);
            TJPEGImageEx image;
            image.LoadFromBytes(std::move(bytes));
            const DmsParts lat = ToDmsParts(coord.gps_lt_dg, coord.gps_lt_mm, coord.gps_lt_ss);
            AssignCoordinate(image.ExifData().GPSLatitude(), lat, coord.gps_lt_dr == "S" ? ltSouth : ltNorth);
            const DmsParts lon = ToDmsParts(coord.gps_ln_dg, coord.gps_ln_mm, coord.gps_ln_ss);
            AssignCoordinate(image.ExifData().GPSLongitude(), lon, coord.gps_ln_dr == "W" ? lnWest : lnEast);
            image.ExifData().SetGPSDateTimeUTC(coord.utctime);
            // The entry goes in before the save, so a photo whose save fails still has its entry.
            context.mapsSL.push_back(coord.lat + "|" + coord.lon + "|" + name);
            context.mapShots.push_back(MapShot{shot, inputs.zoneIndex});
            try {
                image.SaveOver(photo);
            } catch (const FileSkippedError& skipped) {
                // Not tagged, so not on the map either; the photo and everything around it stay as they are.
                context.mapsSL.pop_back();
                context.mapShots.pop_back();
                LogLine(observer, " - " + LogSafeText(name) + kLogNotSaved + skipped.Reason());
                observer.SetProgressPosition(++position);
                continue;
            }
            LogLine(observer, " - " + coord.lat + "," + coord.lon + kLogTagged);
        } else {
            LogLine(observer, " - " + LogSafeText(name) + kLogNoCoordinates);
        }
        observer.SetProgressPosition(++position);
    }
    observer.SetProgressPosition(0);
    return RunResult::done;
}

}  // namespace zeloro
