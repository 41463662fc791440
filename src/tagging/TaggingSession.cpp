// src/tagging/TaggingSession.cpp: the front ends' long-lived state and the commands over it.
#include "tagging/TaggingSession.h"

#include <cmath>
#include <utility>

#include "common/Error.h"
#include "mapexport/MapPage.h"
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
double pageCoordinate(const std::string& text) {
    const auto value = static_cast<double>(StrToCoordinate(text));
    if (!std::isfinite(value)) {
        throw ConvertError("'" + text + "' ist kein gültiger Gleitkommawert");
    }
    return value;
}

MapPhoto mapPhoto(const std::string& entry, const MapShot* shot) {
    // The file name is the rest after the two coordinates: a name may itself hold "|".
    const std::size_t first = entry.find('|');
    const std::size_t second = first == std::string::npos ? first : entry.find('|', first + 1);
    if (second == std::string::npos) {
        throw RangeError();
    }
    MapPhoto photo;
    photo.position.latitude = pageCoordinate(entry.substr(0, first));
    photo.position.longitude = pageCoordinate(entry.substr(first + 1, second - first - 1));
    photo.fileName = entry.substr(second + 1);
    if (shot != nullptr) {
        const auto& zones = ZoneItems();
        const bool known = shot->zoneIndex >= 0 && shot->zoneIndex < kZoneCount;
        photo.shotTime = ShotTimeText(
            shot->shot, known ? zones[static_cast<std::size_t>(shot->zoneIndex)] : std::string_view{});
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
                point.latitude = pageCoordinate(query.FieldByName("lat").AsString());
                point.longitude = pageCoordinate(query.FieldByName("lon").AsString());
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

}  // namespace

TaggingSession::TaggingSession(std::string dataFolder)
    : dataFolder_(std::move(dataFolder)),
      uniCon_(std::make_unique<Connection>()),
      query_(std::make_unique<Query>(*uniCon_)) {}

// The statement object goes before the connection it is bound to.
TaggingSession::~TaggingSession() {
    query_.reset();
    uniCon_.reset();
}

void TaggingSession::Connect() {
    // SQLite opens a file it cannot write read-only without a word and fails only at the first insert,
    // after the photo folder was scanned; the check names the fault before anything is done.
    CheckDatabaseWritable(DatabasePath(dataFolder_));
    uniCon_->Open(DatabasePath(dataFolder_));
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
    RunContext context{*uniCon_, *query_, imgSL_, mapsSL_, mapShots_};
    return Button1Click(inputs, observer, context, settings);
}

bool TaggingSession::ClearDatabase() {
    // Emptying the table under a running import or lookup would change what the run sees midway.
    if (running_) {
        return false;
    }
    return clearDatabase(*query_);
}

MapContent TaggingSession::MapPageContent() {
    MapContent content;
    content.photos.reserve(mapsSL_.size());
    for (std::size_t i = 0; i < mapsSL_.size(); ++i) {
        content.photos.push_back(mapPhoto(mapsSL_[i], i < mapShots_.size() ? &mapShots_[i] : nullptr));
    }
    content.tracks = trackLines(*query_);
    return content;
}

std::optional<std::string> TaggingSession::WriteMapPage() {
    if (mapsSL_.empty()) {
        return std::nullopt;
    }
    const std::string googleKey = ConfiguredGoogleMapsKey(dataFolder_);
    if (!googleKey.empty()) {
        for (const std::string& entry : mapsSL_) {
            (void)mapPhoto(entry, nullptr);  // the same check of the coordinates as the other page's
        }
        return WriteMapPageFile(dataFolder_, BuildGooglePage(mapsSL_, googleKey));
    }
    return WriteMapPageFile(dataFolder_, BuildLeafletPage(MapPageContent()));
}

Connection& TaggingSession::connection() { return *uniCon_; }

Query& TaggingSession::query() { return *query_; }

}  // namespace zeloro
