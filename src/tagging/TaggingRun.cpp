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
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "gpx/GpxImport.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/SafeFileWrite.h"
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

// Writes the photo's new content in place; with keep the file gets back the modification time it had
// before, to the nanosecond, so photo managers that go by it do not take the photo for a new one.
void SaveKeepingMtime(const TJPEGImageEx::TBuiltContent& content, const std::string& path, bool keep) {
    struct stat before {};
    if (keep && ::stat(path.c_str(), &before) != 0) {
        const int err = errno;
        throw FileError("Datei " + path + " kann nicht geöffnet werden. " + std::strerror(err));
    }
    WriteFileReplacing(path, content.Parts());
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

// The position of the photo whose EXIF data is loaded; callable from any thread.
using Lookup = std::function<TrackPosition(const TCustomExifData&)>;

// How far a photo got before an error left it; the error is raised where the one-after-the-other run
// would have met it, so the lines, map entries and reports before it are the same.
enum class PhotoStage : std::uint8_t {
    none,
    reading,   // reading the file or its EXIF block, or the lookup: no line of the photo yet
    building,  // setting the position: after " Koordinaten gefunden:", before the map entry
    saving,    // building the new content: after the map entry
};

// What one photo gives before its lines are written: its lookup and, for a found point, the new content.
struct PreparedPhoto {
    bool skipped = false;  // it has a position and the run skips such photos
    TrackPosition located;
    MapShot popup;
    std::unique_ptr<TJPEGImageEx> image;                 // holds the bytes the content points into
    std::optional<TJPEGImageEx::TBuiltContent> content;  // none in a dry run
    std::exception_ptr error;
    PhotoStage failedAt = PhotoStage::none;
};

// Everything of a photo that writes nothing and touches no shared state but the lookup: safe to run on
// any thread, with one reading container per thread.
PreparedPhoto PreparePhoto(const std::string& path, TExifData& reader, const RunInputs& inputs,
                           const RunSettings& settings, const Lookup& lookup) {
    PreparedPhoto photo;
    photo.failedAt = PhotoStage::reading;
    try {
        // The photo is read from disk once: the reading container takes its shot time from these bytes
        // and, when a point is found, the image object that is saved takes the same bytes over.
        std::vector<std::uint8_t> bytes = ReadPhotoFile(path);
        reader.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
        if (inputs.modes.skipTagged && !reader.GPSLatitude().MissingOrInvalid() &&
            !reader.GPSLongitude().MissingOrInvalid()) {
            photo.skipped = true;
            photo.failedAt = PhotoStage::none;
            return photo;
        }
        const DateTimeValue shot = reader.DateTimeOriginal();
        photo.located = lookup(reader);
        const TCoord& coord = photo.located.coord;
        if (!coord.found) {
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

// Gives a prepared photo's lines, map entry and report and writes it, in the order of the photo list;
// an error of the photo is raised at the point the one-after-the-other run raises it.
void CommitPhoto(PreparedPhoto& photo, const std::string& path, const RunInputs& inputs,
                 RunObserver& observer, RunContext& context) {
    const std::string name = PhotoFileName(path);
    PhotoReport report;
    report.path = path;
    try {
        if (photo.failedAt == PhotoStage::reading) {
            std::rethrow_exception(photo.error);
        }
        const TCoord& coord = photo.located.coord;
        if (photo.skipped) {
            report.status = PhotoStatus::skipped;
            report.message = name + kLogSkippedTagged;
        } else if (!coord.found) {
            report.message = name + kLogNoCoordinates;
        } else {
            LogLine(observer, " - " + name + kLogCoordinatesFound);
            if (photo.failedAt == PhotoStage::building) {
                std::rethrow_exception(photo.error);
            }
            // The entry goes in before the save, so a photo whose save fails still has its entry.
            context.mapsSL.push_back(coord.lat + "|" + coord.lon + "|" + name);
            context.mapShots.push_back(photo.popup);
            report.lat = coord.lat;
            report.lon = coord.lon;
            report.utcTime = coord.utctime;
            if (photo.failedAt == PhotoStage::saving) {
                std::rethrow_exception(photo.error);
            }
            if (inputs.modes.dryRun) {
                report.message = coord.lat + "," + coord.lon + kLogDryRunTagged;
            } else {
                SaveKeepingMtime(*photo.content, path, inputs.modes.keepMtime);
                report.message = coord.lat + "," + coord.lon + kLogTagged;
            }
            photo.content.reset();
            photo.image.reset();
            report.status = PhotoStatus::tagged;
        }
        LogLine(observer, " - " + report.message);
    } catch (const std::exception& e) {
        report.status = PhotoStatus::failed;
        report.message = e.what();
        observer.PhotoHandled(report);
        throw;
    }
    observer.PhotoHandled(report);
}

using Prepare = std::function<PreparedPhoto(const std::string& path, TExifData& reader)>;

// Prepares the photos of a list on worker threads, ahead of the one the run thread takes next, so that
// reading, parsing and building overlap with the writes. Few photos wait: on large photos more in memory
// only cost cache and page faults. Files are written only by the run thread,
// in list order: a photo after one whose save fails, or after a stop, is never written, whatever its
// worker had done.
class PhotoPool {
public:
    PhotoPool(const std::vector<std::string>& paths, unsigned workers, Prepare prepare)
        : paths_(paths), prepare_(std::move(prepare)), slots_(workers + 1) {
        try {
            threads_.reserve(workers);
            for (unsigned i = 0; i < workers; ++i) {
                threads_.emplace_back([this] { Work(); });
            }
        } catch (...) {
            StopAndJoin();
            throw;
        }
    }
    ~PhotoPool() { StopAndJoin(); }
    PhotoPool(const PhotoPool&) = delete;
    PhotoPool& operator=(const PhotoPool&) = delete;

    // Waits until the photo at index is prepared (indexes are taken in order, each once).
    PreparedPhoto Take(std::size_t index) {
        std::unique_lock lock(mutex_);
        std::optional<PreparedPhoto>& slot = slots_[index % slots_.size()];
        ready_.wait(lock, [&] { return slot.has_value(); });
        PreparedPhoto photo = std::move(*slot);
        slot.reset();
        taken_ = index + 1;
        lock.unlock();
        room_.notify_all();
        return photo;
    }

private:
    void Work() {
        TExifData reader;
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                // A photo goes into the slot of the one a round before it, which the run thread has taken.
                room_.wait(lock,
                           [&] { return stop_ || next_ >= paths_.size() || next_ < taken_ + slots_.size(); });
                if (stop_ || next_ >= paths_.size()) {
                    return;
                }
                index = next_++;
            }
            PreparedPhoto photo = prepare_(paths_[index], reader);
            {
                const std::lock_guard lock(mutex_);
                slots_[index % slots_.size()] = std::move(photo);
            }
            ready_.notify_all();
        }
    }

    void StopAndJoin() noexcept {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        room_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

    const std::vector<std::string>& paths_;
    const Prepare prepare_;
    std::mutex mutex_;
    std::condition_variable room_;   // a worker may take the next photo, or the pool stops
    std::condition_variable ready_;  // a photo has been prepared
    // Prepared photos waiting for the run thread, in memory; the ring's size bounds how many.
    std::vector<std::optional<PreparedPhoto>> slots_;
    std::size_t next_ = 0;   // the next photo a worker takes
    std::size_t taken_ = 0;  // photos the run thread has taken
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// All lookups of a run read in one transaction, so the table is locked for reading once per run instead
// of once per photo. A transaction the connection already has is used as it is.
class LookupTransaction {
public:
    explicit LookupTransaction(Connection& connection) : connection_(connection) {
        try {
            if (!connection_.InTransaction()) {
                connection_.StartTransaction();
                started_ = true;
            }
        } catch (const DatabaseError&) {
            // Each lookup then reads on its own, and meets the database's error itself.
        }
    }
    ~LookupTransaction() {
        if (!started_) {
            return;
        }
        try {
            connection_.Commit();
        } catch (const Error&) {
            try {
                connection_.Rollback();
            } catch (const Error&) {
                // Nothing was written in it; closing the connection ends it.
            }
        }
    }
    LookupTransaction(const LookupTransaction&) = delete;
    LookupTransaction& operator=(const LookupTransaction&) = delete;

private:
    Connection& connection_;
    bool started_ = false;
};

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

    // The lookups share the session's one statement, one at a time.
    const LookupTransaction lookups(context.uniCon);
    std::mutex lookupMutex;
    const Lookup lookup = [&](const TCustomExifData& exif) {
        const std::lock_guard lock(lookupMutex);
        return LocatePhoto(exif, inputs, settings, context.query);
    };
    const auto prepare = [&](const std::string& path, TExifData& reader) {
        return PreparePhoto(path, reader, inputs, settings, lookup);
    };
    // The run's own thread is one of the jobs: it writes while the workers prepare the photos after.
    const unsigned jobs = WorkerCount(inputs.jobs, context.imgSL.size());
    std::optional<PhotoPool> pool;
    std::optional<TExifData> reader;  // one reading container serves every photo of the run
    if (jobs > 1) {
        pool.emplace(context.imgSL, jobs - 1, prepare);
    } else {
        reader.emplace();
    }
    int position = 0;
    for (std::size_t i = 0; i < context.imgSL.size(); ++i) {
        if (observer.StopRequested()) {
            observer.SetProgressPosition(0);
            return RunResult::stopped;
        }
        const std::string& path = context.imgSL[i];
        PreparedPhoto photo = pool ? pool->Take(i) : prepare(path, *reader);
        CommitPhoto(photo, path, inputs, observer, context);
        observer.SetProgressPosition(++position);
    }
    observer.SetProgressPosition(0);
    return RunResult::done;
}

}  // namespace zeloro
