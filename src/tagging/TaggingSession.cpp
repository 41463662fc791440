// src/tagging/TaggingSession.cpp: the front ends' long-lived state and the commands over it.
#include "tagging/TaggingSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <utility>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "mapexport/MapPage.h"
#include "mapexport/MapThumbnails.h"
#include "tagging/PhotoThumbnail.h"
#include "tagging/TaggingRun.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"
#include "trackstore/TrackStore.h"

namespace zeloro {
namespace {

// Clears the in-progress mark however the run ends, an exception included.
class RunningMark {
public:
    explicit RunningMark(std::atomic<bool>& flag) noexcept : flag_(flag) {}
    ~RunningMark() { flag_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    std::atomic<bool>& flag_;
};

// Time order, and the import's order among points of the same second.
constexpr const char* kTrackPointsSql = "SELECT lat, lon, utctime FROM gpx ORDER BY utctime, rowid";

// A coordinate text by the same rule as the track lookup; a value that does not fit a double (the
// lookup's long double takes "1e400") is no number the page can hold either.
double pageCoordinate(const std::string& text, bool latitude) {
    const auto value = static_cast<double>(CoordinateValue(text, latitude));
    if (!std::isfinite(value)) {
        throw ConvertError("'" + text + "' ist kein gültiger Gleitkommawert");
    }
    return value;
}

// True for a text a script reads as the very number the lookup reads: an optional "-", digits without a
// leading zero, an optional "." with digits, an optional exponent. Such a text goes onto the page as it is.
bool IsScriptNumber(std::string_view text) {
    std::size_t i = text.starts_with('-') ? 1 : 0;
    const auto digits = [&text, &i] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        return i - start;
    };
    const std::size_t whole = i;
    const std::size_t wholeDigits = digits();
    if (wholeDigits == 0 || (wholeDigits > 1 && text[whole] == '0')) {
        return false;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits() == 0) {
            return false;
        }
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (digits() == 0) {
            return false;
        }
    }
    return i == text.size();
}

// The coordinate for the script: the stored text when the script reads it as the lookup did, else the
// number as parsed, as the shortest text that reads back as the same double (a point, no locale).
std::string ScriptNumber(const std::string& stored, double value) {
    if (IsScriptNumber(stored)) {
        return stored;
    }
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return {text.data(), result.ptr};
}

MapPhoto mapPhoto(const std::string& entry, const MapShot* shot) {
    // The file name is the rest after the two coordinates: a name may itself hold "|".
    const std::size_t first = entry.find('|');
    const std::size_t second = first == std::string::npos ? first : entry.find('|', first + 1);
    if (second == std::string::npos) {
        throw RangeError();
    }
    MapPhoto photo;
    photo.position.latitude = pageCoordinate(entry.substr(0, first), true);
    photo.position.longitude = pageCoordinate(entry.substr(first + 1, second - first - 1), false);
    photo.fileName = entry.substr(second + 1);
    if (shot != nullptr) {
        photo.shotTime = ShotTimeText(shot->shot, shot->zone);
        photo.place = shot->place;
    }
    return photo;
}

// The lines are drawn from what the table holds when "Maps" is given; the table does not tell tracks
// apart, so a pause in the recording is where one line ends. The lines only accompany the markers: a
// table that cannot be read leaves them out rather than the page.
std::vector<std::vector<MapPoint>> trackLines(Query& query) {
    std::vector<std::vector<MapPoint>> lines;
    try {
        query.Close();
        query.SetSQL(kTrackPointsSql);
        query.Open();
        double lastSecond = 0;
        for (; !query.Eof(); query.Next()) {
            MapPoint point;
            try {
                point.latitude = pageCoordinate(query.FieldByName("lat").AsString(), true);
                point.longitude = pageCoordinate(query.FieldByName("lon").AsString(), false);
            } catch (const ConvertError&) {
                continue;  // a point the lookup could never have used
            }
            // Whole seconds, as the table stores them: a day fraction would put exactly 15 minutes a hair
            // above or below the limit.
            const double second = std::round(query.FieldByName("utctime").AsDateTime() * kSecsPerDay);
            if (lines.empty() || second - lastSecond > TaggingSession::kTrackGapSeconds) {
                lines.emplace_back();
            }
            lines.back().push_back(point);
            lastSecond = second;
        }
        query.Close();
    } catch (const DatabaseError&) {
        query.Close();
        return {};
    }
    return lines;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The path from the root, by the working folder, without resolving any link in it (a link the run
// followed is followed again by the undo).
std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path.front() == '/') {
        return path;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

}  // namespace

TaggingSession::TaggingSession(std::string dataFolder)
    : dataFolder_(std::move(dataFolder)),
      uniCon_(std::make_unique<Connection>()),
      query_(std::make_unique<Query>(*uniCon_)),
      run_(*uniCon_, *query_) {}

// The statement object goes before the connection it is bound to.
TaggingSession::~TaggingSession() {
    query_.reset();
    uniCon_.reset();
}

void TaggingSession::Connect() {
    // SQLite opens a file it cannot write read-only without a word and fails only at the first insert,
    // after the photo folder was scanned; the check names the fault before anything is done. Without a
    // data folder there is nothing to open (DatabasePath throws).
    CheckDatabaseWritable(DatabasePath(dataFolder_));
    uniCon_->Open(DatabasePath(dataFolder_));
    // The hold and the clean-up come after the open, so a folder that fails to open reports as before.
    if (!lock_) {
        try {
            lock_ = std::make_unique<DataFolderLock>(dataFolder_);
        } catch (const DataFolderBusyError&) {
            Disconnect();
            throw;
        }
    }
    DeleteStaleTrackRows();
}

void TaggingSession::DeleteStaleTrackRows() {
    const std::string mark = dataFolder_ + kKeptMarkFileName;
    if (::access(mark.c_str(), F_OK) == 0) {
        return;
    }
    // A database without the track table is left to the import, which reports it as it always has.
    query_->Close();
    query_->SetSQL("SELECT COUNT(*) AS n FROM sqlite_master WHERE type='table' AND name='gpx'");
    query_->Open();
    const bool hasTable = !query_->Eof() && query_->FieldByName("n").AsInteger() > 0;
    query_->Close();
    if (!hasTable) {
        return;
    }
    // No process holds the folder but us, so points in the table without the mark belong to none.
    query_->SetSQL("SELECT COUNT(*) AS n FROM gpx");
    query_->Open();
    const long long rows = query_->Eof() ? 0 : query_->FieldByName("n").AsInteger();
    query_->Close();
    if (rows > 0) {
        query_->SetSQL("DELETE FROM gpx");
        query_->ExecSQL();
        staleRowsDeleted_ = rows;
    }
}

void TaggingSession::KeepTrackTable() {
    const std::string mark = dataFolder_ + kKeptMarkFileName;
    const FileDescriptor fd(::open(mark.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
}

bool TaggingSession::Connected() const noexcept { return uniCon_->Connected(); }

void TaggingSession::Disconnect() noexcept {
    query_->Close();
    uniCon_->Close();
}

RunResult TaggingSession::Run(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings) {
    // The import hands the front end one pass of its event loop; a "Starten" dispatched there must not
    // start a second run over the same lists, statement and transaction.
    if (running_.exchange(true)) {
        return RunResult::busy;
    }
    const RunningMark mark(running_);
    plan_.reset();
    // The run imports into the table: what it holds afterwards was no longer kept on purpose.
    ::unlink((dataFolder_ + kKeptMarkFileName).c_str());
    RunRecord record;
    record.startedNs = NowNs();
    record.folder = inputs.folder;
    RunResult result = RunResult::done;
    try {
        result = run_.Run(inputs, observer, settings);
    } catch (...) {
        KeepRecord(record, observer);
        throw;
    }
    KeepRecord(record, observer);
    return result;
}

RunResult TaggingSession::Preview(const RunInputs& inputs, RunObserver& observer,
                                  const RunSettings& settings) {
    if (running_.exchange(true)) {
        return RunResult::busy;
    }
    const RunningMark mark(running_);
    plan_.reset();
    ::unlink((dataFolder_ + kKeptMarkFileName).c_str());
    auto plan = std::make_unique<PreviewPlan>();
    // A dry run writes no file, so it leaves no record; the plan is kept only when every photo was seen.
    const RunResult result = run_.Preview(inputs, observer, settings, *plan);
    if (result == RunResult::done) {
        plan_ = std::move(plan);
    }
    return result;
}

RunResult TaggingSession::WritePreview(RunObserver& observer) {
    if (running_.exchange(true)) {
        return RunResult::busy;
    }
    const RunningMark mark(running_);
    if (!plan_) {
        observer.ShowError(kNoPreviewMessage);
        return RunResult::inputMissing;
    }
    // Used up whatever the write does: a second write would go over photos this one may have written.
    const std::unique_ptr<PreviewPlan> plan = std::move(plan_);
    RunRecord record;
    record.startedNs = NowNs();
    record.folder = plan->inputs.folder;
    RunResult result = RunResult::done;
    try {
        result = run_.WritePlan(*plan, observer);
    } catch (...) {
        KeepRecord(record, observer);
        throw;
    }
    KeepRecord(record, observer);
    return result;
}

RemovalSummary TaggingSession::RemoveGps(const std::string& folder, RunObserver& observer,
                                         const RunModes& modes, const RunSettings& settings) {
    if (running_.exchange(true)) {
        RemovalSummary busy;
        busy.result = RunResult::busy;
        return busy;
    }
    const RunningMark mark(running_);
    RunRecord record;
    record.kind = RunRecord::Kind::removal;
    record.startedNs = NowNs();
    record.folder = folder;
    RemovalSummary summary;
    try {
        summary = run_.RemoveGps(folder, observer, modes, settings);
    } catch (...) {
        KeepRecord(record, observer);
        throw;
    }
    KeepRecord(record, observer);
    return summary;
}

void TaggingSession::KeepRecord(RunRecord& record, RunObserver& observer) {
    // Whatever ended the run, the files it wrote up to there can be taken back.
    if (dataFolder_.empty() || run_.Changes().empty()) {
        return;
    }
    record.files = run_.Changes();
    // An undo may start from another working folder.
    for (RecordedFile& file : record.files) {
        file.path = AbsolutePath(file.path);
    }
    record.folder = AbsolutePath(record.folder);
    try {
        StoreRunRecord(dataFolder_, record);
    } catch (const std::exception& error) {
        observer.Notice(std::string(kRecordNotStored) + error.what());
    }
}

UndoSummary TaggingSession::UndoLastRun(RunObserver& observer, bool dryRun) {
    if (running_.exchange(true)) {
        UndoSummary busy;
        busy.stopped = true;
        return busy;
    }
    const RunningMark mark(running_);
    UndoSummary summary = UndoNewestRun(dataFolder_, observer, dryRun);
    if (!dryRun && summary.restored > 0) {
        // The map list names positions this undo took back out of the photos.
        run_.ClearMapEntries();
    }
    return summary;
}

bool TaggingSession::clearDatabase() {
    // Emptying the table under a running import or lookup would change what the run sees midway.
    if (running_) {
        return false;
    }
    plan_.reset();
    const bool cleared = EmptyTrackTable(*query_);
    if (cleared) {
        ::unlink((dataFolder_ + kKeptMarkFileName).c_str());
    }
    return cleared;
}

MapContent TaggingSession::MapPageContent() {
    MapContent content;
    const std::vector<std::string>& entries = run_.MapEntries();
    const std::vector<MapShot>& shots = run_.MapShots();
    content.photos.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        content.photos.push_back(mapPhoto(entries[i], i < shots.size() ? &shots[i] : nullptr));
    }
    content.tracks = trackLines(*query_);
    return content;
}

std::optional<std::string> TaggingSession::WriteMapPage() {
    if (run_.MapEntries().empty()) {
        return std::nullopt;
    }
    const std::string googleKey = ConfiguredGoogleMapsKey(dataFolder_);
    if (!googleKey.empty()) {
        // The script gets each number as the lookup read it: a text such as "047.5" would be no number
        // literal in a script, and "-  -5" was tagged south. Plain texts stay as they were stored.
        std::vector<std::string> entries;
        entries.reserve(run_.MapEntries().size());
        for (const std::string& entry : run_.MapEntries()) {
            const MapPhoto photo = mapPhoto(entry, nullptr);
            const std::size_t first = entry.find('|');
            const std::size_t second = entry.find('|', first + 1);
            entries.push_back(
                ScriptNumber(entry.substr(0, first), photo.position.latitude) + "|" +
                ScriptNumber(entry.substr(first + 1, second - first - 1), photo.position.longitude) + "|" +
                photo.fileName);
        }
        return WriteMapPageFile(dataFolder_, BuildGooglePage(entries, googleKey));
    }
    MapContent content = MapPageContent();
    if (!writeThumbnails(content)) {
        for (MapPhoto& photo : content.photos) {
            photo.thumbnail = 0;
        }
    }
    return WriteMapPageFile(dataFolder_, BuildLeafletPage(content));
}

// The thumbnails go in place before the page that shows them, numbered by the photo's place on the page,
// so a photo without one leaves a gap rather than renumbering the others. They are an extra: when they
// cannot be written the page goes without them (and without an earlier page's, which would show other
// photos under the same numbers), and a page that cannot be written either reports its own error.
bool TaggingSession::writeThumbnails(MapContent& content) const {
    try {
        MapThumbnailFolder thumbnails(dataFolder_);
        const std::vector<MapShot>& shots = run_.MapShots();
        for (std::size_t i = 0; i < content.photos.size() && i < shots.size(); ++i) {
            if (shots[i].path.empty()) {
                continue;
            }
            const std::vector<std::uint8_t> jpeg = ReadExifThumbnail(shots[i].path);
            if (!jpeg.empty()) {
                thumbnails.Add(i + 1, jpeg);
                content.photos[i].thumbnail = i + 1;
            }
        }
        thumbnails.Commit();
        return true;
    } catch (const Error&) {
        try {
            RemoveMapThumbnails(dataFolder_);
        } catch (const Error&) {  // nothing more to do: the page names no thumbnail
        }
        return false;
    }
}

std::string TaggingSession::WriteNoticeMapPage(const std::string& notice) {
    MapContent content;
    content.tracks = trackLines(*query_);
    content.notice = notice;
    try {
        RemoveMapThumbnails(dataFolder_);  // the page names no photo, so no thumbnail of an earlier one stays
    } catch (const Error&) {               // they are shown by no page; the page reports its own errors
    }
    return WriteMapPageFile(dataFolder_, BuildLeafletPage(content));
}

Connection& TaggingSession::connection() { return *uniCon_; }

Query& TaggingSession::query() { return *query_; }

}  // namespace zeloro
