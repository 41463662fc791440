// src/trackimport/TrackImport.cpp: a track file of any format into the track table.
#include "trackimport/TrackImport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <istream>
#include <optional>
#include <streambuf>
#include <string_view>
#include <vector>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/ReasonText.h"
#include "trackimport/TemporaryTrackFile.h"
#include "trackread/FitTrack.h"
#include "trackread/IgcTrack.h"
#include "trackread/NmeaTrack.h"
#include "trackread/TextTracks.h"
#include "trackread/TrackPoint.h"
#include "trackstore/ImportSavepoint.h"
#include "trackstore/TrackDetails.h"
#include "trackstore/TrackRows.h"
#include "xml/XmlStreams.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): posix_spawn's environment

namespace zeloro {

namespace {

// The points go in this many at a time, as GPX points do.
constexpr std::size_t kBatchRows = 64;

// A stop request seen between points; it ends the import as a failed one.
struct ImportStopped {};

// The file's bytes for a reader, through the same open as a GPX file (no FIFO, no device, no waiting).
class FileBuffer final : public std::streambuf {
public:
    explicit FileBuffer(XmlFileStream& file) : file_(file) {}

protected:
    int_type underflow() override {
        const std::size_t got = file_.Read(buffer_.data(), buffer_.size());
        if (got == 0) {
            return traits_type::eof();
        }
        setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
        return traits_type::to_int_type(buffer_[0]);
    }

private:
    XmlFileStream& file_;
    std::vector<char> buffer_ = std::vector<char>(65536);
};

// The shortest decimal that reads back as the same double; -0 as 0.
void AppendNumber(std::string& text, double value) {
    std::array<char, 32> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value + 0.0);
    text.append(digits.data(), static_cast<std::size_t>(written.ptr - digits.data()));
}

std::string NumberText(double value) {
    std::string text;
    AppendNumber(text, value);
    return text;
}

// "Punkt Nr. 3 (lat "91.5", lon "8.5", time "2024-06-15T08:00:00Z")": the point as the reader gave it.
std::string PointText(std::uint64_t number, const TrackPoint& point) {
    std::string time;
    try {
        time = DateTimeText(point.utcTime);
        time[10] = 'T';
        time += 'Z';
    } catch (const Error&) {
        time = NumberText(point.utcTime);
    }
    return "Punkt Nr. " + std::to_string(number) + " (lat \"" + NumberText(point.latitude) + "\", lon \"" +
           NumberText(point.longitude) + "\", time \"" + time + "\")";
}

// Puts the reader's points into the table as they come, in the rows and the transaction of a GPX import.
class TableSink final : public TrackPointSink {
public:
    TableSink(Connection& uniCon, Query& query, bool withDetails,
              const std::function<void()>& processMessages, const std::function<bool()>& stopRequested,
              const std::string& path)
        : uniCon_(uniCon),
          query_(query),
          withDetails_(withDetails),
          processMessages_(processMessages),
          stopRequested_(stopRequested),
          path_(path),
          savepoint_(uniCon, "track_import") {}

    void NewSegment() override {
        Begin();
        segmentOpen_ = true;
        ++segment_;
    }

    void Add(const TrackPoint& point) override {
        if (stopRequested_ && stopRequested_()) {
            Begin();
            throw ImportStopped{};
        }
        Begin();
        ++points_;
        if (failed_) {
            return;  // the import stops at its first error; the rest is read for the file's own errors
        }
        if (!segmentOpen_) {
            NewSegment();
        }
        try {
            if (!IsOnGlobe(point.latitude, point.longitude)) {
                throw RangeError(kPointOffGlobe);
            }
            std::string& utctime = rows_->Text(kTrackUtctime);
            utctime.clear();
            AppendDateTimeText(utctime, point.utcTime);
            std::string& lat = rows_->Text(kTrackLat);
            lat.clear();
            AppendNumber(lat, point.latitude);
            std::string& lon = rows_->Text(kTrackLon);
            lon.clear();
            AppendNumber(lon, point.longitude);
            if (withDetails_) {
                std::string& ele = rows_->Text(kTrackEle);
                ele.clear();
                const bool haveElevation = point.elevation && std::isfinite(*point.elevation);
                if (haveElevation) {
                    AppendNumber(ele, *point.elevation);
                }
                rows_->SetNull(kTrackEle, !haveElevation);
                std::string& segment = rows_->Text(kTrackSegment);
                segment = std::to_string(firstSegment_ + segment_ - 1);
                rows_->SetNull(kTrackSegment, false);
            }
        } catch (const std::exception& e) {
            Fail();
            failure_ = LogSafeText(path_) + ": " + PointText(points_, point) + ": " + e.what();
            return;
        }
        try {
            rows_->Add();
        } catch (...) {
            failed_ = true;  // the database's error, the same for every file: no point's fault
        }
    }

    // After the reader's last point: the rows go in for good.
    void Finish() {
        Begin();
        if (failed_) {
            return;
        }
        try {
            rows_->Flush();
            savepoint_.Commit();
        } catch (...) {
            failed_ = true;
        }
    }

    void KeepFailure() noexcept {
        if (!failed_ && rows_) {
            try {
                rows_->Flush();  // the points read before a stop go in, as they would one by one
            } catch (...) {      // NOLINT(bugprone-empty-catch): the import has failed already
            }
        }
        savepoint_.KeepFailure();
    }

    void Undo() noexcept { savepoint_.Undo(); }

    [[nodiscard]] bool Failed() const noexcept { return failed_; }
    [[nodiscard]] std::uint64_t Points() const noexcept { return points_; }
    [[nodiscard]] long long Count() const noexcept { return counter_; }
    [[nodiscard]] const std::string& Failure() const noexcept { return failure_; }

private:
    // The points before the failing one go in before its error counts.
    void Fail() noexcept {
        failed_ = true;
        try {
            rows_->Flush();
        } catch (...) {  // NOLINT(bugprone-empty-catch): the point's own error is the one reported
        }
    }

    // What the GPX import does before its first point.
    void Begin() {
        if (begun_) {
            return;
        }
        begun_ = true;
        if (processMessages_) {
            processMessages_();
        }
        try {
            savepoint_.Begin();
            if (withDetails_) {
                EnsureTrackDetailColumns(uniCon_);
                firstSegment_ = NextTrackSegment(uniCon_);
            }
            rows_.emplace(query_, withDetails_, counter_);
        } catch (...) {
            failed_ = true;  // before the first point: no point is imported
            return;
        }
        try {
            rows_->UseBatch(uniCon_, kBatchRows);
        } catch (const Error&) {  // NOLINT(bugprone-empty-catch): then each point goes in on its own
        }
    }

    Connection& uniCon_;
    Query& query_;
    bool withDetails_;
    const std::function<void()>& processMessages_;
    const std::function<bool()>& stopRequested_;
    const std::string& path_;
    ImportSavepoint savepoint_;
    std::optional<TrackRows> rows_;
    std::string failure_;
    long long counter_ = 0;
    std::uint64_t points_ = 0;
    std::int64_t firstSegment_ = 1;
    std::int64_t segment_ = 0;  // segments begun so far
    bool segmentOpen_ = false;
    bool begun_ = false;
    bool failed_ = false;
};

using Reader = void (*)(std::istream&, TrackPointSink&);

Reader ReaderOf(TrackFormat format) {
    switch (format) {
        case TrackFormat::fit:
            return ReadFit;
        case TrackFormat::nmea:
            return ReadNmea;
        case TrackFormat::igc:
            return ReadIgc;
        case TrackFormat::kml:
            return ReadKml;
        case TrackFormat::tcx:
            return ReadTcx;
        case TrackFormat::csv:
            return ReadCsv;
        case TrackFormat::geoJson:
            return ReadGeoJson;
        case TrackFormat::googleRecords:
            return ReadGoogleRecords;
        case TrackFormat::googleTimeline:
            return ReadGoogleTimeline;
        default:
            return nullptr;  // GPX has its own import; a KMZ is read by its path
    }
}

std::string FileText(const std::string& path) { return LogSafeText(path) + ": "; }

}  // namespace

bool importTrack(const std::string& path, Connection& uniCon, Query& query, LogSink& log,
                 const std::function<void()>& processMessages, ImportDetails details,
                 const std::function<bool()>& stopRequested, std::string* failure) {
    const DetectedTrack detected = DetectTrackFormat(path);
    if (detected.format == TrackFormat::gpx) {
        return importGpx(path, uniCon, query, log, processMessages, details, stopRequested, failure);
    }
    LogLine(log, kLogImportStart);
    if (detected.format == TrackFormat::none) {
        throw TrackLoadError(FileText(path) + FillMessage(kNoTrackFile, detected.what));
    }
    const std::string_view name = TrackFormatName(detected.format);
    const Reader reader = ReaderOf(detected.format);
    std::optional<XmlFileStream> file;
    try {
        file.emplace(path);
    } catch (const FileError& e) {
        throw TrackLoadError(e.what());  // the open error names the file itself
    }
    const bool withDetails = details == ImportDetails::elevationAndSegments;
    query.Close();
    query.SetSQL(withDetails ? kGpxInsertWithDetailsStatement : kGpxInsertStatement);
    TableSink sink(uniCon, query, withDetails, processMessages, stopRequested, path);
    bool stopped = false;
    try {
        FileBuffer buffer(*file);
        std::istream in(&buffer);
        // A read error leaves the reader as the error it is, not as a quiet end of the file.
        in.exceptions(std::ios::badbit);
        if (reader != nullptr) {
            reader(in, sink);
        } else {
            ReadKmz(path, sink);  // a zip archive is read by its directory at the end, so by its path
        }
        if (sink.Points() == 0) {
            throw TrackFormatError(FillMessage(kNoTimedPoints, name));
        }
        sink.Finish();
    } catch (const ImportStopped&) {
        stopped = true;
    } catch (const TrackFormatError& e) {
        sink.Undo();
        throw TrackLoadError(FileText(path) + e.what());
    } catch (const StreamError& e) {
        sink.Undo();
        throw TrackLoadError(FileText(path) + e.what());
    } catch (...) {
        sink.Undo();
        throw;
    }
    if (stopped || sink.Failed()) {
        LogLine(log, kLogImportFailed);
        sink.KeepFailure();
        if (!stopped && failure != nullptr && !sink.Failure().empty()) {
            *failure = sink.Failure();
        }
    }
    LogLine(log, " - " + std::to_string(sink.Count()) + kLogImportCountSuffix);
    return !stopped && !sink.Failed();
}

namespace {

// The first line gpsbabel wrote to its error output, for the message.
std::string FirstLine(int fd) {
    std::array<char, 512> text{};
    const ssize_t n = ::pread(fd, text.data(), text.size() - 1, 0);
    std::string line(text.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    line = line.substr(0, line.find('\n'));
    return LogSafeText(line);
}

struct SpawnActions {
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t actions{};
};

// Runs gpsbabel to write path's tracks, routes and waypoints as GPX into gpx.
void ConvertWithGpsbabel(const std::string& format, const std::string& path, const TemporaryTrackFile& gpx) {
    if (format.empty() || format[0] == '-') {
        throw TrackLoadError(FileText(path) + "gpsbabel kennt kein Format \"" + LogSafeText(format) + "\"");
    }
    const TemporaryTrackFile errors(".txt");
    // A name that starts with "-" would read as an option.
    const std::string input = !path.empty() && path[0] == '-' ? "./" + path : path;
    std::vector<std::string> args{"gpsbabel", "-t",  "-w", "-r",  "-i", format,
                                  "-f",       input, "-o", "gpx", "-F", gpx.Path()};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    SpawnActions actions;
    posix_spawn_file_actions_addopen(&actions.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions.actions, errors.Descriptor(), 1);
    posix_spawn_file_actions_adddup2(&actions.actions, errors.Descriptor(), 2);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "gpsbabel", &actions.actions, nullptr, argv.data(), environ);
    if (error != 0) {
        throw TrackLoadError(FileText(path) +
                             "--track-format braucht das Programm gpsbabel, das nicht installiert ist "
                             "(Debian-Paket gpsbabel)");
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw TrackLoadError(FileText(path) + "gpsbabel: " + ReasonText(errno));
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string said = FirstLine(errors.Descriptor());
        throw TrackLoadError(FileText(path) + "gpsbabel konnte die Datei im Format \"" + LogSafeText(format) +
                             "\" nicht lesen" + (said.empty() ? std::string() : ": " + said));
    }
}

}  // namespace

bool importTrackThroughGpsbabel(const std::string& gpsbabelFormat, const std::string& path,
                                Connection& uniCon, Query& query, LogSink& log,
                                const std::function<void()>& processMessages, ImportDetails details,
                                const std::function<bool()>& stopRequested, std::string* failure) {
    const TemporaryTrackFile gpx(".gpx");
    ConvertWithGpsbabel(gpsbabelFormat, path, gpx);
    std::string pointFailure;
    try {
        const bool result =
            importGpx(gpx.Path(), uniCon, query, log, processMessages, details, stopRequested, &pointFailure);
        if (failure != nullptr && !pointFailure.empty()) {
            // The point as gpsbabel wrote it, named by the file the user gave.
            const std::string temporary = LogSafeText(gpx.Path());
            *failure = FileText(path) +
                       pointFailure.substr(pointFailure.find(temporary) == 0 ? temporary.size() + 2 : 0);
        }
        return result;
    } catch (const GpxLoadError& e) {
        std::string text = e.what();
        const std::string temporary = LogSafeText(gpx.Path());
        if (const std::size_t at = text.find(temporary); at != std::string::npos) {
            text.replace(at, temporary.size(), LogSafeText(path));
        }
        throw TrackLoadError(text);
    }
}

}  // namespace zeloro
