// tests/cli/CliEndToEndTest.cpp: zeloro-cli as a user runs it, on a temporary data folder holding a fresh
// copy of the delivered database, with photos and tracks generated here.
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "SamplePhoto.h"
#include "support/ExifRead.h"
#include "support/GpxText.h"
#include "support/MapPageData.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// The track: one point every 10 s from 2024-06-15 07:00:00 to 08:10:00 UTC (421 points), plus a
// waypoint without time that the import skips. Point kSouthWest lies south-west of the equator and
// the prime meridian, so both hemisphere letters of each axis occur.
constexpr int kTrackPoints = 421;
constexpr int kSouthWest = 411;  // 08:08:30

std::string PointLat(int i) {
    if (i == kSouthWest) {
        return "-33.8567";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", 48.1 + i * 0.0001);
    return text;
}

std::string PointLon(int i) {
    if (i == kSouthWest) {
        return "-70.650005";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", 11.5 + i * 0.0002);
    return text;
}

// Seconds after 07:00:00 UTC of point i.
int PointSecond(int i) { return i * 10; }

std::string TrackGpx() {
    std::vector<GpxPoint> track;
    for (int i = 0; i < kTrackPoints; ++i) {
        track.push_back({PointLat(i), PointLon(i), GpxTime("2024-06-15", 7 * 3600 + PointSecond(i)), {}});
    }
    return GpxText(track, {{"1.0", "2.0", {}, {}}});
}

sample::ByteVector Photo(std::optional<std::string> shot, int scene = 0) {
    sample::PhotoSpec spec;
    spec.width = 64;
    spec.height = 48;
    spec.scene = scene;
    spec.dateTimeOriginal = std::move(shot);
    spec.bigEndian = scene % 2 == 1;
    return sample::MakePhoto(spec);
}

GpsFix FixOf(int i) {
    const int s = PointSecond(i);
    char utc[64];
    std::snprintf(utc, sizeof utc, "2024:06:15 %02d:%02d:%02d", 7 + s / 3600, s / 60 % 60, s % 60);
    return {PointLat(i), PointLon(i), utc};
}

std::size_t TrackRows(const fs::path& database) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT COUNT(*) FROM gpx", -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db.get());
        return 0;
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
    if (sqlite3_step(stmt) != SQLITE_ROW) {
        ADD_FAILURE() << sqlite3_errmsg(db.get());
        return 0;
    }
    return static_cast<std::size_t>(sqlite3_column_int64(stmt, 0));
}

// A marker of the map page at a fix.
PagePhoto Marker(const GpsFix& fix, const std::string& name, const std::string& shot) {
    return {std::stod(fix.lat), std::stod(fix.lon), name, shot};
}

class CliRun : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = BuildDir() / "zeloro-cli";
        const fs::path delivered = BuildDir() / "zeloro.sqlite";
        ASSERT_TRUE(fs::exists(cli_)) << cli_;
        ASSERT_TRUE(fs::exists(delivered)) << delivered;
        fs::create_directories(data_ / "maps");
        fs::copy_file(delivered, data_ / "zeloro.sqlite");
        if (fs::exists(BuildDir() / "maps" / "marker.png")) {
            fs::copy_file(BuildDir() / "maps" / "marker.png", data_ / "maps" / "marker.png");
        }
        fs::create_directories(photos_);
        WriteFileText(gpx_, TrackGpx());
    }

    ProcessResult Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--data-dir", data_.string()});
        return RunProcess(cli_, args);
    }
    ProcessResult Tag(const std::string& zone, const std::string& tolerance,
                      std::vector<std::string> more = {}) const {
        std::vector<std::string> args{"--gpx",  gpx_.string(), "--photos",    photos_.string(),
                                      "--zone", zone,          "--tolerance", tolerance};
        args.insert(args.end(), more.begin(), more.end());
        return Cli(args);
    }

    static std::vector<std::string> Log(const ProcessResult& r) {
        std::vector<std::string> lines;
        for (const std::string& line : SplitLines(r.out)) {
            lines.push_back(StripStamp(line));
        }
        return lines;
    }

    void AddPhoto(const std::string& relative, std::optional<std::string> shot, int scene = 0) const {
        fs::create_directories((photos_ / relative).parent_path());
        WriteFileBytes(photos_ / relative, Photo(std::move(shot), scene));
    }

    // A key in the developer's environment would turn the map page into the Google page.
    ScopedVariable noGoogleKey_{"ZELORO_GOOGLE_MAPS_KEY", nullptr};
    TempDir tmp_;
    fs::path data_ = tmp_ / "data";
    fs::path photos_ = tmp_ / "photos";
    fs::path gpx_ = tmp_ / "track.gpx";
    fs::path cli_;
};

TEST_F(CliRun, TagsMatchingPhotosLogsEveryStepAndWritesTheMap) {
    // Camera clock in UTC + 2:00.
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30", 0);      // point 3 of the second hour: index 363
    AddPhoto("IMG_2.jpg", "2024:06:15 10:08:30", 1);      // the south-western point
    AddPhoto("IMG_3.jpg", "2024:06:15 10:04:25", 2);      // between two points
    AddPhoto("IMG_4.jpg", std::nullopt, 3);               // no shot time
    AddPhoto("sub/IMG_5.jpg", "2024:06:15 09:00:00", 4);  // first point of the track, in a subfolder
    const Bytes untagged3 = ReadFileBytes(photos_ / "IMG_3.jpg");
    const Bytes untagged4 = ReadFileBytes(photos_ / "IMG_4.jpg");

    const ProcessResult r = Tag("13", "0", {"--map"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const GpsFix f1 = FixOf(363);
    const GpsFix f2 = FixOf(kSouthWest);
    const GpsFix f5 = FixOf(0);
    const std::string page = (data_ / "maps" / "index.html").string();
    const std::vector<std::string> expected{
        " - Lese Bilddateien",
        " - 5 Bilder im Verzeichnis gefunden",
        " - Starte Datenbankimport",
        " - 421 Datensätze gelesen und importiert",
        " - IMG_1.jpg Koordinaten gefunden:",
        " - " + f1.lat + "," + f1.lon + " getaggt!",
        " - IMG_2.jpg Koordinaten gefunden:",
        " - -33.8567,-70.650005 getaggt!",
        " - IMG_3.jpg keine Koordinaten gefunden",
        " - IMG_4.jpg keine Koordinaten gefunden",
        " - IMG_5.jpg Koordinaten gefunden:",
        " - " + f5.lat + "," + f5.lon + " getaggt!",
        "NO STAMP:" + page,  // the page's path is an information text, not a log line
    };
    EXPECT_EQ(Log(r), expected);

    ExpectGpsByOurReader(photos_ / "IMG_1.jpg", f1);
    ExpectGpsByOurReader(photos_ / "IMG_2.jpg", f2);
    ExpectGpsByOurReader(photos_ / "sub" / "IMG_5.jpg", f5);
    if (HaveExiftool()) {
        ExpectGpsByExiftool(photos_ / "IMG_1.jpg", f1);
        ExpectGpsByExiftool(photos_ / "IMG_2.jpg", f2);
        ExpectGpsByExiftool(photos_ / "sub" / "IMG_5.jpg", f5);
    }
    // Photos without a point are not rewritten at all.
    EXPECT_TRUE(BytesEqual(untagged3, ReadFileBytes(photos_ / "IMG_3.jpg")));
    EXPECT_TRUE(BytesEqual(untagged4, ReadFileBytes(photos_ / "IMG_4.jpg")));

    // One marker per tagged photo with its camera time, and the track table's points as one line (no
    // pause in the recording), in time order.
    PageData expectedMap;
    expectedMap.photos = {Marker(f1, "IMG_1.jpg", "15.06.2024 10:00:30 (UTC + 2:00)"),
                          Marker(f2, "IMG_2.jpg", "15.06.2024 10:08:30 (UTC + 2:00)"),
                          Marker(f5, "IMG_5.jpg", "15.06.2024 09:00:00 (UTC + 2:00)")};
    expectedMap.tracks.emplace_back();
    for (int i = 0; i < kTrackPoints; ++i) {
        expectedMap.tracks[0].push_back({std::stod(PointLat(i)), std::stod(PointLon(i))});
    }
    EXPECT_EQ(ReadPageData(ReadFileText(page)), expectedMap);
    // Without --keep the table is emptied at the end, as "Beenden" does.
    EXPECT_EQ(TrackRows(data_ / "zeloro.sqlite"), 0U);
}

struct MatchCase {
    std::string name;
    std::string zone;
    std::string tolerance;
    std::string shot;
    std::optional<int> point;  // the track point written, nullopt: none
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class CliMatch : public CliRun, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(CliMatch, ZoneAndToleranceChooseThePoint) {
    const MatchCase& c = GetParam();
    AddPhoto("IMG.jpg", c.shot);
    const ProcessResult r = Tag(c.zone, c.tolerance);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> log = Log(r);
    ASSERT_EQ(log.size(), c.point ? 6U : 5U) << r.out;
    if (c.point) {
        const GpsFix fix = FixOf(*c.point);
        EXPECT_EQ(log[5], " - " + fix.lat + "," + fix.lon + " getaggt!");
        ExpectGpsByOurReader(photos_ / "IMG.jpg", fix);
    } else {
        EXPECT_EQ(log[4], " - IMG.jpg keine Koordinaten gefunden");
    }
}

INSTANTIATE_TEST_SUITE_P(
    CliRun, CliMatch,
    ::testing::Values(
        // 10:04:30 in UTC + 2:00 is 08:04:30 UTC (point 387), in UTC + 3:00 07:04:30 (point 27).
        MatchCase{"ExactSecondZone13", "13", "0", "2024:06:15 10:04:30", 387},
        MatchCase{"SameShotZone14", "14", "0", "2024:06:15 10:04:30", 27},
        MatchCase{"ZoneByItemText", "UTC + 3:00", "0", "2024:06:15 10:04:30", 27},
        MatchCase{"ZoneWithoutTrack", "12", "0", "2024:06:15 10:04:30", std::nullopt},
        MatchCase{"UtcZone", "11", "0", "2024:06:15 07:00:10", 1},
        MatchCase{"WestOfUtc", "10", "0", "2024:06:15 06:00:20", 2},  // UTC - 1:00
        // 10:04:25 lies 5 s after point 386 and 5 s before point 387; equally near, the earlier is taken.
        MatchCase{"BetweenPointsNoTolerance", "13", "0", "2024:06:15 10:04:25", std::nullopt},
        MatchCase{"BetweenPointsTooSmallWindow", "13", "4", "2024:06:15 10:04:25", std::nullopt},
        MatchCase{"BetweenPointsWindowReachesBoth", "13", "5", "2024:06:15 10:04:25", 386},
        // 10:04:27 lies 7 s after point 386 and 3 s before point 387: the nearer one, not the first.
        MatchCase{"WindowTakesTheNearerPoint", "13", "9", "2024:06:15 10:04:27", 387},
        MatchCase{"WindowOfOneSecondAtTheEdge", "13", "1", "2024:06:15 10:04:31", 387}),
    [](const auto& p) { return p.param.name; });

// --explain: behind "keine Koordinaten gefunden" the reason, with the photo's UTC time as the run matched
// it (zone and clock offset applied), and the photo named by its path below the folder.
struct ExplainCase {
    std::string name;
    std::string photo;  // below the photo folder
    std::optional<std::string> shot;
    std::string zone;
    std::string tolerance;
    std::vector<std::string> more;
    std::string reason;
    bool untimedTrack = false;  // a GPX file without any timed point
};

void PrintTo(const ExplainCase& c, std::ostream* os) { *os << c.name; }

class CliExplain : public CliRun, public ::testing::WithParamInterface<ExplainCase> {};

TEST_P(CliExplain, ReasonFollowsTheMiss) {
    const ExplainCase& c = GetParam();
    AddPhoto(c.photo, c.shot);
    if (c.untimedTrack) {
        WriteFileText(gpx_, "<gpx><wpt lat=\"1.0\" lon=\"2.0\"><name>no time</name></wpt></gpx>");
    }
    std::vector<std::string> more{"--explain"};
    more.insert(more.end(), c.more.begin(), c.more.end());
    const ProcessResult r = Tag(c.zone, c.tolerance, more);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> log = Log(r);
    ASSERT_EQ(log.size(), 6U) << r.out;
    EXPECT_EQ(log[4], " - " + c.photo + " keine Koordinaten gefunden");
    EXPECT_EQ(log[5], " - " + c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    CliRun, CliExplain,
    ::testing::Values(
        ExplainCase{"NoShotTime",
                    "IMG.jpg",
                    std::nullopt,
                    "13",
                    "0",
                    {},
                    "Grund: das Foto hat keine lesbare Aufnahmezeit (DateTimeOriginal)"},
        // The track runs from 07:00:00 to 08:10:00 UTC.
        ExplainCase{"BeforeTheTrack",
                    "IMG.jpg",
                    "2024:06:15 08:59:59",
                    "13",
                    "0",
                    {},
                    "Grund: Aufnahmezeit 2024-06-15 06:59:59 UTC liegt außerhalb der Tracks "
                    "(2024-06-15 07:00:00 bis 2024-06-15 08:10:00 UTC)"},
        // The wrong zone: UTC + 1:00 puts a shot of 10:04:30 at 09:04:30 UTC.
        ExplainCase{"WrongZoneAfterTheTrack",
                    "IMG.jpg",
                    "2024:06:15 10:04:30",
                    "12",
                    "0",
                    {},
                    "Grund: Aufnahmezeit 2024-06-15 09:04:30 UTC liegt außerhalb der Tracks "
                    "(2024-06-15 07:00:00 bis 2024-06-15 08:10:00 UTC)"},
        // 08:04:25 lies 5 s from the points of 08:04:20 and 08:04:30; equally near: the earlier.
        ExplainCase{
            "BetweenTwoPoints",
            "IMG.jpg",
            "2024:06:15 10:04:25",
            "13",
            "0",
            {},
            "Grund: kein Trackpunkt innerhalb von 0 s; der nächste (2024-06-15 08:04:20 UTC) liegt 5 s "
            "von der Aufnahmezeit 2024-06-15 08:04:25 UTC entfernt"},
        ExplainCase{
            "NearestBeyondTheDeviation",
            "IMG.jpg",
            "2024:06:15 10:04:26",
            "13",
            "3",
            {},
            "Grund: kein Trackpunkt innerhalb von 3 s; der nächste (2024-06-15 08:04:30 UTC) liegt 4 s "
            "von der Aufnahmezeit 2024-06-15 08:04:26 UTC entfernt"},
        ExplainCase{
            "ClockOffsetCounts",
            "IMG.jpg",
            "2024:06:15 10:04:25",
            "13",
            "0",
            {"--offset", "3"},
            "Grund: kein Trackpunkt innerhalb von 0 s; der nächste (2024-06-15 08:04:30 UTC) liegt 2 s "
            "von der Aufnahmezeit 2024-06-15 08:04:28 UTC entfernt"},
        ExplainCase{
            "SubfolderPathAndNamedZone",
            "tag 2/sub/IMG.jpg",
            "2024:06:15 10:04:25",
            "Europe/Berlin",
            "0",
            {},
            "Grund: kein Trackpunkt innerhalb von 0 s; der nächste (2024-06-15 08:04:20 UTC) liegt 5 s "
            "von der Aufnahmezeit 2024-06-15 08:04:25 UTC entfernt"},
        ExplainCase{"UntimedTrack",
                    "IMG.jpg",
                    "2024:06:15 10:04:30",
                    "13",
                    "0",
                    {},
                    "Grund: die Tracktabelle enthält keinen Punkt mit Zeit",
                    true}),
    [](const auto& p) { return p.param.name; });

// --zone auto and --places: the zone and the place in the JSON object, the place in the photo's XMP packet
// and in the map page's popup. The track lies in Munich; the camera ran on Munich's summer time.
TEST_F(CliRun, ZoneFromTrackAndPlacesReachJsonPhotoAndMap) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    const ProcessResult r = Cli({"--gpx", gpx_.string(), "--photos", photos_.string(), "--zone", "auto",
                                 "--places", "--json", "--map"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");  // a zone was named: no notice
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_FALSE(lines.empty());
    const nlohmann::json photo = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(photo.at("status"), "tagged");
    EXPECT_EQ(photo.at("latitude"), std::stod(FixOf(363).lat));
    EXPECT_EQ(photo.at("zone"), "Europe/Berlin");
    EXPECT_EQ(
        photo.at("place"),
        (nlohmann::json{
            {"city", "Munich"}, {"state", "Bavaria"}, {"country", "Deutschland"}, {"country_code", "DE"}}));
    const std::string bytes = ReadFileText(photos_ / "IMG_1.jpg");
    EXPECT_NE(bytes.find("<photoshop:City>Munich</photoshop:City>"), std::string::npos);
    const std::string page = ReadFileText(data_ / "maps" / "index.html");
    EXPECT_NE(page.find("\"place\":\"Munich, Deutschland\""), std::string::npos);
    EXPECT_NE(page.find("'Ort: ' + photo.place"), std::string::npos);
}

// Without --zone the photos are read in the zone of today's date; stderr says which one (stdout, the
// log, is as it always was).
TEST_F(CliRun, WithoutZoneANoticeNamesTheZoneUsed) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    const ProcessResult r = Cli({"--gpx", gpx_.string(), "--photos", photos_.string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.err.starts_with("Hinweis: ohne --zone gilt die Zeitzone \"UTC + ")) << r.err;
    EXPECT_TRUE(r.err.ends_with("; --zone auto nimmt die Zeitzone aus dem Track.\n")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(Log(r).at(4), " - IMG_1.jpg keine Koordinaten gefunden");
    EXPECT_EQ(Tag("13", "0").err, "");
}

// With --explain a found photo keeps its two lines (its folder added), and --json carries the reason.
TEST_F(CliRun, ExplainNamesFoundPhotosByPathAndJsonCarriesTheReason) {
    AddPhoto("sub/IMG_1.jpg", "2024:06:15 10:00:30");
    AddPhoto("sub/IMG_3.jpg", "2024:06:15 10:04:25");
    const ProcessResult r = Tag("13", "0", {"--explain", "--dry-run"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> log = Log(r);
    ASSERT_GE(log.size(), 8U) << r.out;
    const GpsFix f1 = FixOf(363);
    EXPECT_EQ(
        std::vector<std::string>(log.begin() + 4, log.begin() + 8),
        (std::vector<std::string>{" - sub/IMG_1.jpg Koordinaten gefunden:",
                                  " - " + f1.lat + "," + f1.lon + " würde getaggt (Probelauf)",
                                  " - sub/IMG_3.jpg keine Koordinaten gefunden",
                                  " - Grund: kein Trackpunkt innerhalb von 0 s; der nächste (2024-06-15 "
                                  "08:04:20 UTC) liegt 5 s von der Aufnahmezeit 2024-06-15 08:04:25 UTC "
                                  "entfernt"}));
    const ProcessResult json = Tag("13", "0", {"--explain", "--dry-run", "--json"});
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_NE(
        json.out.find("\"message\":\"sub/IMG_3.jpg keine Koordinaten gefunden\",\"reason\":\"Grund: kein "
                      "Trackpunkt innerhalb von 0 s;"),
        std::string::npos)
        << json.out;
    EXPECT_EQ(
        json.out.find("\"message\":\"" + f1.lat + "," + f1.lon + " würde getaggt (Probelauf)\",\"reason\""),
        std::string::npos);
}

// The same rule as the window's: a photo the user may not write is refused by name, the run ends there.
TEST_F(CliRun, ReadOnlyPhotoEndsTheRunAndStaysAsItWas) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    const fs::path photo = photos_ / "IMG_1.jpg";
    ASSERT_EQ(::chmod(photo.c_str(), 0444), 0);
    const Bytes before = ReadFileBytes(photo);
    const ProcessResult r = Tag("13", "0");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Die Datei " + photo.string() + " ist schreibgeschützt und wird nicht geändert.\n");
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photo)));
    EXPECT_EQ(fs::status(photo).permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// A logger that writes a point every second, a deviation of 5 s: each photo gets the point of its own
// second, at the ends of the track too, where the window holds points on one side only.
TEST_F(CliRun, OneHertzTrackGivesEveryPhotoThePointOfItsOwnSecond) {
    constexpr int kSeconds = 121;  // 08:00:00 .. 08:02:00 UTC
    const auto numbered = [](const char* format, int n) {
        char text[32];
        std::snprintf(text, sizeof text, format, n);
        return std::string(text);
    };
    const auto lat = [&](int s) { return numbered("48.%03d", s); };   // "N"
    const auto lon = [&](int s) { return numbered("-11.%03d", s); };  // "W"
    const auto clock = [&](int hour, int s) {
        return numbered("%02d:", hour + s / 3600) + numbered("%02d:", s / 60 % 60) + numbered("%02d", s % 60);
    };
    const auto photo = [&](std::size_t i) { return numbered("IMG_%03d.jpg", static_cast<int>(i)); };

    std::vector<GpxPoint> track;
    for (int s = 0; s < kSeconds; ++s) {
        track.push_back({lat(s), lon(s), GpxTime("2024-06-15", 8 * 3600 + s), {}});
    }
    WriteFileText(gpx_, GpxText(track));
    const std::vector<int> shots{0, 1, 2, 3, 7, 30, 59, 60, 61, 100, 117, 118, 119, 120};
    for (std::size_t i = 0; i < shots.size(); ++i) {
        AddPhoto(photo(i), "2024:06:15 " + clock(10, shots[i]), static_cast<int>(i));  // camera in UTC + 2:00
    }

    const ProcessResult r = Tag("13", "5");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> expected{" - Lese Bilddateien", " - 14 Bilder im Verzeichnis gefunden",
                                      " - Starte Datenbankimport",
                                      " - 121 Datensätze gelesen und importiert"};
    for (std::size_t i = 0; i < shots.size(); ++i) {
        expected.push_back(" - " + photo(i) + " Koordinaten gefunden:");
        expected.push_back(" - " + lat(shots[i]) + "," + lon(shots[i]) + " getaggt!");
    }
    EXPECT_EQ(Log(r), expected);
    const bool exiftool = HaveExiftool();
    for (std::size_t i = 0; i < shots.size(); ++i) {
        const GpsFix fix{lat(shots[i]), lon(shots[i]), "2024:06:15 " + clock(8, shots[i])};
        ExpectGpsByOurReader(photos_ / photo(i), fix);
        if (exiftool && (i == 0 || shots[i] == 60 || i + 1 == shots.size())) {
            ExpectGpsByExiftool(photos_ / photo(i), fix);
        }
    }
}

std::vector<std::string> TrackTimes(const fs::path& database) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    sqlite3_stmt* stmt = nullptr;
    std::vector<std::string> times;
    if (sqlite3_prepare_v2(db.get(), "SELECT utctime FROM gpx ORDER BY rowid", -1, &stmt, nullptr) !=
        SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db.get());
        return times;
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        times.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    }
    return times;
}

TEST_F(CliRun, TimesBeforeEighteenNinetyNineKeepTheirDateAndTime) {
    // Before 30 December 1899 the day count is negative while the time of day counts forward; a point
    // and a photo of such a day meet at their own second and the photo gets that date and time.
    WriteFileText(gpx_, GpxText({{"48.5", "11.25", "1800-06-15T18:30:15Z", {}},
                                 {"-12.75", "-45.5", "1234-12-12T08:00:00Z", {}}}));
    AddPhoto("a.jpg", "1800:06:15 18:30:15");
    AddPhoto("b.jpg", "1234:12:12 08:00:00");
    const ProcessResult r = Tag("11", "0", {"--keep"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(TrackTimes(data_ / "zeloro.sqlite"),
              (std::vector<std::string>{"1800-06-15 18:30:15", "1234-12-12 08:00:00"}));
    const GpsFix a{"48.5", "11.25", "1800:06:15 18:30:15"};
    const GpsFix b{"-12.75", "-45.5", "1234:12:12 08:00:00"};
    ExpectGpsByOurReader(photos_ / "a.jpg", a);
    ExpectGpsByOurReader(photos_ / "b.jpg", b);
    if (HaveExiftool()) {
        ExpectGpsByExiftool(photos_ / "a.jpg", a);
        ExpectGpsByExiftool(photos_ / "b.jpg", b);
    }
}

TEST_F(CliRun, ImportingTheSameTrackTwiceDoublesTheTable) {
    AddPhoto("IMG.jpg", "2024:06:15 10:00:00");
    for (int run = 1; run <= 2; ++run) {
        const ProcessResult r = Tag("13", "0", {"--keep"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(TrackRows(data_ / "zeloro.sqlite"), static_cast<std::size_t>(run * kTrackPoints));
        // Each import counts only its own points.
        EXPECT_EQ(Log(r).at(3), " - 421 Datensätze gelesen und importiert");
        EXPECT_EQ(Log(r).at(5), " - " + FixOf(360).lat + "," + FixOf(360).lon + " getaggt!");
    }
    const ProcessResult last = Tag("13", "0");
    ASSERT_EQ(last.exitStatus, 0) << last.err;
    EXPECT_EQ(TrackRows(data_ / "zeloro.sqlite"), 0U);
}

TEST_F(CliRun, MissingGpxFileEndsBeforeTheScan) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    const Bytes before = ReadFileBytes(photos_ / "IMG_1.jpg");
    gpx_ = tmp_ / "missing.gpx";
    const ProcessResult r = Tag("13", "0", {"--map", "--keep"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.out, "");  // no scan, no import, no map page
    EXPECT_EQ(r.err, "Die GPX-Datei '" + gpx_.string() + "' kann nicht gelesen werden: nicht vorhanden.\n");
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "IMG_1.jpg")));
    EXPECT_FALSE(fs::exists(data_ / "maps" / "index.html"));
}

TEST_F(CliRun, DamagedPhotoEndsTheRunAndKeepsWhatWasDone) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    WriteFileText(photos_ / "IMG_2.jpg", "this is no JPEG at all");
    AddPhoto("IMG_3.jpg", "2024:06:15 10:01:00");
    const Bytes third = ReadFileBytes(photos_ / "IMG_3.jpg");

    const ProcessResult r = Tag("13", "0", {"--map"});
    EXPECT_EQ(r.exitStatus, 1);
    // The error's own text, after the photo it is about.
    EXPECT_EQ(r.err, (photos_ / "IMG_2.jpg").string() + ": JPEG header is not valid.\n");
    const GpsFix f1 = FixOf(363);
    const std::string page = (data_ / "maps" / "index.html").string();
    const std::vector<std::string> expected{" - Lese Bilddateien",
                                            " - 3 Bilder im Verzeichnis gefunden",
                                            " - Starte Datenbankimport",
                                            " - 421 Datensätze gelesen und importiert",
                                            " - IMG_1.jpg Koordinaten gefunden:",
                                            " - " + f1.lat + "," + f1.lon + " getaggt!",
                                            "NO STAMP:" + page};
    EXPECT_EQ(Log(r), expected);
    ExpectGpsByOurReader(photos_ / "IMG_1.jpg", f1);
    EXPECT_TRUE(BytesEqual(third, ReadFileBytes(photos_ / "IMG_3.jpg")));
    // The map list kept the photo tagged before the error.
    const std::optional<PageData> map = ReadPageData(ReadFileText(page));
    ASSERT_TRUE(map);
    EXPECT_EQ(map->photos,
              std::vector<PagePhoto>{Marker(f1, "IMG_1.jpg", "15.06.2024 10:00:30 (UTC + 2:00)")});
    ASSERT_EQ(map->tracks.size(), 1U);
    EXPECT_FALSE(map->tracks[0].empty());
}

// --open hands the written page to the desktop's opener found on PATH, by its absolute path, and does
// not wait for it (a browser it starts may stay until it is closed).
TEST_F(CliRun, OpenHandsThePageToTheDesktopOpener) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    const fs::path bin = tmp_ / "bin";
    fs::create_directories(bin);
    const std::string record = (tmp_ / "opened.txt").string();
    WriteFileText(bin / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record + ".part'\nmv '" +
                                        record + ".part' '" + record + "'\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    ProcessResult r;
    {
        const ScopedVariable path("PATH", (bin.string() + ":/usr/bin:/bin").c_str());
        // A data folder relative to the current one, as a user may type it.
        r = RunProcess(cli_,
                       {"--gpx", gpx_.string(), "--photos", photos_.string(), "--zone", "13", "--data-dir",
                        "data", "--open"},
                       false, tmp_.path());
    }
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Log(r).back(), "NO STAMP:data/maps/index.html");
    for (int i = 0; i < 400 && !fs::exists(record); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(ReadFileText(record), "1\n" + (data_ / "maps" / "index.html").string() + "\n");
}

TEST_F(CliRun, OpenWithoutAnOpenerIsAnErrorAfterThePageIsWritten) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    fs::create_directories(tmp_ / "empty");
    ProcessResult r;
    {
        const ScopedVariable path("PATH", (tmp_ / "empty").c_str());
        r = Tag("13", "0", {"--open"});
    }
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Die Kartenseite konnte nicht geöffnet werden: xdg-open: No such file or directory\n");
    const std::string page = (data_ / "maps" / "index.html").string();
    EXPECT_EQ(Log(r).back(), "NO STAMP:" + page);
    EXPECT_TRUE(fs::exists(page));
}

// A configured key brings back the Google page, carrying the key; the variable wins over the file.
TEST_F(CliRun, GoogleKeyFromTheEnvironmentOrTheDataFolderGivesTheGooglePage) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    const GpsFix f1 = FixOf(363);
    const std::string page = (data_ / "maps" / "index.html").string();
    const std::string markers =
        "store_locations = [new google.maps.LatLng(" + f1.lat + "," + f1.lon + ")\r\n];";
    WriteFileText(data_ / "google-maps-key.txt", "key-from-file\n");
    ASSERT_EQ(Tag("13", "0", {"--map"}).exitStatus, 0);
    std::string html = ReadFileText(page);
    EXPECT_TRUE(html.starts_with("<html>\r\n<head>\r\n")) << html;
    EXPECT_NE(html.find("src=\"https://maps.googleapis.com/maps/api/js?sensor=false&key=key-from-file\">"),
              std::string::npos);
    EXPECT_NE(html.find(markers), std::string::npos);
    {
        const ScopedVariable key("ZELORO_GOOGLE_MAPS_KEY", "key from env");
        ASSERT_EQ(Tag("13", "0", {"--map"}).exitStatus, 0);
    }
    html = ReadFileText(page);
    EXPECT_NE(html.find("js?sensor=false&key=key%20from%20env\">"), std::string::npos) << html;
    EXPECT_NE(html.find(markers), std::string::npos);
    fs::remove(data_ / "google-maps-key.txt");
    ASSERT_EQ(Tag("13", "0", {"--map"}).exitStatus, 0);
    EXPECT_TRUE(ReadFileText(page).starts_with("<!DOCTYPE html>"));
}

TEST_F(CliRun, EmptyFolderLogsZeroPhotosAndStillImports) {
    const ProcessResult r = Tag("13", "0", {"--map", "--keep"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> expected{
        " - Lese Bilddateien", " - 0 Bilder im Verzeichnis gefunden", " - Starte Datenbankimport",
        " - 421 Datensätze gelesen und importiert", "NO STAMP:Keine aktuellen Geodaten vorhanden!"};
    EXPECT_EQ(Log(r), expected);
    EXPECT_EQ(TrackRows(data_ / "zeloro.sqlite"), static_cast<std::size_t>(kTrackPoints));
    EXPECT_FALSE(fs::exists(data_ / "maps" / "index.html"));
}

TEST_F(CliRun, FailedImportExitsThreeAndTouchesNoPhoto) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    const Bytes before = ReadFileBytes(photos_ / "IMG_1.jpg");
    WriteFileText(gpx_, GpxText({{"48.1", "11.5", "2024-06-15T08:00:00Z", {}}, {"48.2", "11.6", "", {}}}));
    const ProcessResult r = Tag("13", "0");
    EXPECT_EQ(r.exitStatus, 3);
    const std::vector<std::string> expected{" - Lese Bilddateien", " - 1 Bilder im Verzeichnis gefunden",
                                            " - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                            " - 1 Datensätze gelesen und importiert"};
    EXPECT_EQ(Log(r), expected);
    // Beside the log, which only says that it failed: the file, the point, and the time's own error.
    EXPECT_EQ(r.err, gpx_.string() +
                         ": trkpt Nr. 2 (lat \"48.2\", lon \"11.6\", time \"\"): '''' ist kein gültiger "
                         "Integer-Wert.\n");
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "IMG_1.jpg")));
    // The failed import's own transaction is rolled back: nothing of it stays in the table.
    EXPECT_EQ(TrackRows(data_ / "zeloro.sqlite"), 0U);
}

// A GPX file that is there but no XML fails the import as surely as a bad point: 3, with the loader's text.
TEST_F(CliRun, GpxThatIsNoXmlExitsThree) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    const Bytes before = ReadFileBytes(photos_ / "IMG_1.jpg");
    WriteFileText(gpx_, "<gpx><trk>");
    const ProcessResult r = Tag("13", "0");
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.err.starts_with(gpx_.string() + ": ")) << r.err;
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

// While another process holds the data folder, a run refuses at once: 5, its reason on stderr, no scan.
TEST_F(CliRun, DataFolderInUseExitsFive) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    const Bytes before = ReadFileBytes(photos_ / "IMG_1.jpg");
    const std::string lockPath = (data_ / "zeloro.lock").string();
    const int held = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const ProcessResult r = Tag("13", "0");
    ::close(held);
    EXPECT_EQ(r.exitStatus, 5);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Der Datenordner " + data_.string() +
                         "/ wird bereits von einem anderen Lauf benutzt. Bitte warten Sie, bis dieser "
                         "beendet ist.\n");
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "IMG_1.jpg")));
    EXPECT_EQ(Tag("13", "0").exitStatus, 0);  // the hold ended with its holder
}

TEST_F(CliRun, ProgressOnATerminalStaysOffTheLog) {
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:30");
    AddPhoto("IMG_2.jpg", "2024:06:15 10:00:40");
    AddPhoto("IMG_3.jpg", std::nullopt);
    const ProcessResult r = RunProcess(
        cli_,
        {"--gpx", gpx_.string(), "--photos", photos_.string(), "--zone", "13", "--data-dir", data_.string()},
        true);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Log(r).size(), 9U) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.find("Fotos"), std::string::npos);
    // The last count is always drawn, and the line is wiped when the run is over.
    EXPECT_NE(r.err.find("\r\033[K3/3 Fotos"), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("\r\033[K")) << r.err;
    EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;
}

struct ArgumentCase {
    std::string name;
    std::vector<std::string> args;  // --data-dir is added; "GPX", "DIR" and "{tmp}" are filled in
    int status;
    std::string err;  // "{tmp}" is filled in; every line ends with a line end
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class CliArguments : public CliRun, public ::testing::WithParamInterface<ArgumentCase> {
protected:
    [[nodiscard]] std::string Fill(std::string text) const {
        for (std::size_t at = text.find("{tmp}"); at != std::string::npos; at = text.find("{tmp}", at)) {
            text.replace(at, 5, tmp_.path().string());
        }
        return text;
    }
};

TEST_P(CliArguments, ExitStatusWithTheTextOnStderr) {
    const ArgumentCase& c = GetParam();
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    const Bytes before = ReadFileBytes(photos_ / "IMG_1.jpg");
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
        args.push_back(a == "GPX" ? gpx_.string() : a == "DIR" ? photos_.string() : Fill(a));
    }
    const ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitStatus, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Fill(c.err));
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "IMG_1.jpg")));
    EXPECT_EQ(TrackRows(data_ / "zeloro.sqlite"), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    CliRun, CliArguments,
    ::testing::Values(
        ArgumentCase{"NoGpx", {"--photos", "DIR"}, 2, "Bitte geben Sie eine gpx-Datei an!\n"},
        ArgumentCase{"NothingAtAll", {}, 2, "Bitte geben Sie eine gpx-Datei an!\n"},
        ArgumentCase{"EmptyGpx", {"--gpx", "", "--photos", "DIR"}, 2, "Bitte geben Sie eine gpx-Datei an!\n"},
        ArgumentCase{"NoFolder", {"--gpx", "GPX"}, 2, "Bitte geben Sie einen Ordner mit jpg-Dateien an!\n"},
        ArgumentCase{
            "ZoneOutOfList",
            {"--gpx", "GPX", "--photos", "DIR", "--zone", "24"},
            2,
            "Ungültige Zeitzone '24': erwartet wird ein Index von 0 bis 23, ein Eintrag wie \"UTC + 2:00\", "
            "ein Versatz wie \"+05:30\", ein Zonenname wie \"Europe/Berlin\" oder \"auto\".\n"},
        ArgumentCase{"EmptySecondGpx",
                     {"--gpx", "GPX", "--gpx", "", "--photos", "DIR"},
                     2,
                     "Bitte geben Sie eine gpx-Datei an!\n"},
        ArgumentCase{
            "ToleranceTooLarge",
            {"--gpx", "GPX", "--photos", "DIR", "--tolerance", "501"},
            2,
            "Ungültige maximale Abweichung '501': erwartet wird eine ganze Zahl von 0 bis 500 Sekunden.\n"},
        ArgumentCase{
            "UnknownOption", {"--gpx", "GPX", "--fast"}, 2, "Unbekannte Option '--fast' (siehe --help).\n"},
        ArgumentCase{
            "StrayArgument", {"--gpx", "GPX", "extra"}, 2, "Unerwartetes Argument 'extra' (siehe --help).\n"},
        ArgumentCase{"MissingValue", {"--gpx"}, 2, "Die Option --gpx verlangt einen Wert.\n"},
        ArgumentCase{"TwiceGiven",
                     {"--gpx", "GPX", "--photos", "DIR", "--photos", "DIR"},
                     2,
                     "Die Option --photos ist mehrfach angegeben.\n"},
        ArgumentCase{"GpxMissing",
                     {"--gpx", "{tmp}/none.gpx", "--photos", "DIR"},
                     2,
                     "Die GPX-Datei '{tmp}/none.gpx' kann nicht gelesen werden: nicht vorhanden.\n"},
        ArgumentCase{"GpxIsAFolder",
                     {"--gpx", "{tmp}", "--photos", "DIR"},
                     2,
                     "Die GPX-Datei '{tmp}' ist ein Ordner.\n"},
        ArgumentCase{
            "GpxBelowAFile",
            {"--gpx", "{tmp}/track.gpx/x.gpx", "--photos", "DIR"},
            2,
            "Die GPX-Datei '{tmp}/track.gpx/x.gpx' kann nicht gelesen werden: ein Teil des Pfades ist "
            "kein Ordner.\n"},
        ArgumentCase{"FolderMissing",
                     {"--gpx", "GPX", "--photos", "{tmp}/nowhere"},
                     2,
                     "Der Fotoordner '{tmp}/nowhere' kann nicht gelesen werden: nicht vorhanden.\n"},
        ArgumentCase{"FolderIsAFile",
                     {"--gpx", "GPX", "--photos", "{tmp}/track.gpx"},
                     2,
                     "Der Fotoordner '{tmp}/track.gpx' ist kein Ordner.\n"},
        ArgumentCase{"BothWrong",
                     {"--gpx", "{tmp}/none.gpx", "--photos", "{tmp}/nowhere"},
                     2,
                     "Die GPX-Datei '{tmp}/none.gpx' kann nicht gelesen werden: nicht vorhanden.\n"
                     "Der Fotoordner '{tmp}/nowhere' kann nicht gelesen werden: nicht vorhanden.\n"},
        ArgumentCase{"DataDirTwice",
                     {"--gpx", "GPX", "--photos", "DIR", "--data-dir", "{tmp}"},
                     2,
                     "Die Option --data-dir ist mehrfach angegeben.\n"}),
    [](const auto& p) { return p.param.name; });

TEST_F(CliRun, DataFolderWithoutDatabaseIsAnArgumentError) {
    fs::remove(data_ / "zeloro.sqlite");
    const ProcessResult r = Tag("13", "0");
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, "Die Datenbankdatei konnte nicht gefunden werden: " +
                         (data_ / "zeloro.sqlite").string() + "\n");
    EXPECT_FALSE(fs::exists(data_ / "zeloro.sqlite"));  // nothing was created there
}

TEST_F(CliRun, WithoutAnyDatabaseNothingIsCreatedAndTheStatusIsFour) {
    // A home of its own, so that no data folder of the user running the tests is found first.
    const ScopedVariable home("HOME", (tmp_ / "home").c_str());
    const ScopedVariable xdg("XDG_DATA_HOME", nullptr);
    // A copy of the program with no database beside it, started in an empty folder.
    fs::create_directories(tmp_ / "bin");
    fs::create_directories(tmp_ / "work");
    fs::copy_file(cli_, tmp_ / "bin" / "zeloro-cli");
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    const ProcessResult r = RunProcess(tmp_ / "bin" / "zeloro-cli",
                                       {"--gpx", gpx_.string(), "--photos", photos_.string(), "--zone", "13"},
                                       false, tmp_ / "work");
    EXPECT_EQ(r.exitStatus, 4);
    EXPECT_EQ(r.err, "Die Datenbankdatei konnte nicht gefunden werden\n");
    EXPECT_EQ(r.out, "");
    // The bare database name would have made an empty database in the current folder.
    EXPECT_TRUE(fs::is_empty(tmp_ / "work"));
    EXPECT_FALSE(fs::exists(tmp_ / "home"));
}

// Started without HOME by a user the password database does not know, the program has no folder of the
// user's to set up: it says so and creates nothing, in the current folder neither.
TEST_F(CliRun, WithoutHomeAndUserEntryTheStatusIsFour) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run as a user without a password entry";
    }
    uid_t unknown = 54321;
    while (::getpwuid(unknown) != nullptr) {
        ++unknown;
    }
    const ScopedVariable home("HOME", nullptr);
    const ScopedVariable xdg("XDG_DATA_HOME", nullptr);
    fs::create_directories(tmp_ / "bin");
    fs::create_directories(tmp_ / "work");
    fs::copy_file(cli_, tmp_ / "bin" / "zeloro-cli");
    AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    // The other user reads the inputs and may write the current folder, so that a file made there shows.
    fs::permissions(tmp_.path(), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    fs::permissions(tmp_ / "work", fs::perms::all);
    const std::string id = std::to_string(unknown);
    const ProcessResult r = RunProcess(
        "/usr/bin/setpriv",
        {"--reuid=" + id, "--regid=" + id, "--clear-groups", (tmp_ / "bin" / "zeloro-cli").string(), "--gpx",
         gpx_.string(), "--photos", photos_.string(), "--zone", "13"},
        false, tmp_ / "work");
    EXPECT_EQ(r.exitStatus, 4);
    EXPECT_EQ(
        r.err,
        "Der Datenordner kann nicht bestimmt werden: weder XDG_DATA_HOME noch HOME nennt einen absoluten "
        "Ordner, und die Benutzerdatenbank kennt keinen Home-Ordner für diesen Benutzer.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::is_empty(tmp_ / "work"));
}

// An installed layout in a temporary prefix: the program in bin/, the template in share/zeloro/.
class CliInstalled : public CliRun {
protected:
    void SetUp() override {
        CliRun::SetUp();
        fs::create_directories(prefix_ / "bin");
        fs::create_directories(template_ / "maps");
        fs::copy_file(cli_, prefix_ / "bin" / "zeloro-cli");
        fs::copy_file(data_ / "zeloro.sqlite", template_ / "zeloro.sqlite");
        WriteFileText(template_ / "maps" / "marker.png", "marker");
        WriteFileText(template_ / "doku.pdf", "%PDF-1.4 help");
        fs::permissions(template_ / "zeloro.sqlite",
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        fs::create_directories(home_);
        AddPhoto("IMG_1.jpg", "2024:06:15 10:00:00");
    }

    [[nodiscard]] ProcessResult Installed() const {
        return RunProcess(prefix_ / "bin" / "zeloro-cli",
                          {"--gpx", gpx_.string(), "--photos", photos_.string(), "--zone", "13", "--map"},
                          false, tmp_.path());
    }

    fs::path prefix_ = tmp_ / "prefix";
    fs::path template_ = prefix_ / "share" / "zeloro";
    fs::path home_ = tmp_ / "home";
    ScopedVariable home{"HOME", home_.c_str()};
    ScopedVariable xdg{"XDG_DATA_HOME", nullptr};
};

TEST_F(CliInstalled, FirstStartFillsTheUsersDataFolderFromTheTemplate) {
    const ProcessResult r = Installed();
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const fs::path data = home_ / ".local" / "share" / "kvd" / "zeloro";
    EXPECT_EQ(ReadFileText(data / "maps" / "marker.png"), "marker");
    EXPECT_EQ(ReadFileText(data / "doku.pdf"), "%PDF-1.4 help");
    EXPECT_TRUE(fs::exists(data / "maps" / "index.html"));
    EXPECT_EQ(SplitLines(r.out).back(), (data / "maps" / "index.html").string());
    // The copy is the user's to write, though the template is read-only.
    EXPECT_NE(fs::status(data / "zeloro.sqlite").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_FALSE(fs::exists(template_ / "maps" / "index.html"));
    // Nothing is left of the copy's staging folder beside the data folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(data.parent_path()), fs::directory_iterator()), 1);

    // A later start uses the folder as it is and copies nothing over it.
    WriteFileText(data / "doku.pdf", "the user's own");
    const ProcessResult again = Installed();
    ASSERT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_EQ(ReadFileText(data / "doku.pdf"), "the user's own");
}

// A user who deleted the database (or anything else the template holds) gets it back at the next start;
// what is still there is kept.
TEST_F(CliInstalled, DeletedDatabaseComesBackFromTheTemplate) {
    ASSERT_EQ(Installed().exitStatus, 0);
    const fs::path data = home_ / ".local" / "share" / "kvd" / "zeloro";
    fs::remove(data / "zeloro.sqlite");
    fs::remove(data / "maps" / "marker.png");
    WriteFileText(data / "doku.pdf", "the user's own");
    const ProcessResult r = Installed();
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::is_regular_file(data / "zeloro.sqlite"));
    EXPECT_EQ(ReadFileText(data / "maps" / "marker.png"), "marker");
    EXPECT_EQ(ReadFileText(data / "doku.pdf"), "the user's own");
}

TEST_F(CliInstalled, XdgDataHomeWhenAbsolute) {
    const ScopedVariable absolute("XDG_DATA_HOME", (tmp_ / "xdg").c_str());
    ASSERT_EQ(Installed().exitStatus, 0);
    EXPECT_TRUE(fs::exists(tmp_ / "xdg" / "kvd" / "zeloro" / "zeloro.sqlite"));
    const ScopedVariable relative("XDG_DATA_HOME", "relative");
    ASSERT_EQ(Installed().exitStatus, 0);
    EXPECT_FALSE(fs::exists(tmp_ / "relative"));
    EXPECT_TRUE(fs::exists(home_ / ".local" / "share" / "kvd" / "zeloro" / "zeloro.sqlite"));
}

TEST_F(CliInstalled, DataFolderThatCannotBeCreatedExitsFourBeforeAnyPhoto) {
    const Bytes before = ReadFileBytes(photos_ / "IMG_1.jpg");
    WriteFileText(tmp_ / "afile", "");
    const ScopedVariable blocked("XDG_DATA_HOME", (tmp_ / "afile").c_str());
    const ProcessResult r = Installed();
    EXPECT_EQ(r.exitStatus, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Der Datenordner " + (tmp_ / "afile").string() +
                         "/kvd/zeloro/ kann nicht angelegt werden: ein Teil des Pfades ist kein Ordner.\n");
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

TEST_F(CliRun, VersionIsOneLine) {
    const ProcessResult r = RunProcess(cli_, {"--version"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "zeloro-cli 0.1\n");
}

TEST_F(CliRun, HelpNamesEveryOption) {
    const ProcessResult r = RunProcess(cli_, {"--help"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    for (const char* option : {"--gpx",
                               "--photos",
                               "--zone",
                               "--tolerance",
                               "--data-dir",
                               "--map",
                               "--open",
                               "--keep",
                               "--offset",
                               "--photo-zone",
                               "--interpolate",
                               "--altitude",
                               "--dry-run",
                               "--skip-tagged",
                               "--keep-mtime",
                               "--json",
                               "--summary",
                               "--explain",
                               "--jobs",
                               "--version",
                               "$XDG_DATA_HOME/kvd/zeloro/",
                               "4 der Datenordner"}) {
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    EXPECT_NE(r.out.find("nächste Punkt innerhalb der Abweichung"), std::string::npos) << r.out;
}

// The run modes. Each photo carries a modification time with nanoseconds of its own, so a time that is
// rewritten, rounded to the second or taken from another file shows.
class CliModes : public CliRun {
protected:
    struct FileState {
        Bytes bytes;
        timespec mtime{};
        timespec ctime{};
    };

    static timespec StampOf(int i) { return timespec{1'600'000'000 + i * 1000, 123'456'789 - i * 7}; }

    void AddDatedPhoto(const std::string& relative, std::optional<std::string> shot, int scene) {
        AddPhoto(relative, std::move(shot), scene);
        const std::array<timespec, 2> times{StampOf(scene), StampOf(scene)};
        ASSERT_EQ(::utimensat(AT_FDCWD, (photos_ / relative).c_str(), times.data(), 0), 0);
        names_.push_back(relative);
    }

    // Four photos: two with a point (zone 13), one without, one without shot time.
    void AddFour() {
        AddDatedPhoto("IMG_1.jpg", "2024:06:15 10:00:30", 0);
        AddDatedPhoto("IMG_2.jpg", "2024:06:15 10:08:30", 1);
        AddDatedPhoto("IMG_3.jpg", "2024:06:15 10:04:25", 2);
        AddDatedPhoto("sub/IMG_4.jpg", std::nullopt, 3);
    }

    std::map<std::string, FileState> States() const {
        std::map<std::string, FileState> states;
        for (const std::string& name : names_) {
            struct stat info {};
            EXPECT_EQ(::stat((photos_ / name).c_str(), &info), 0);
            states[name] = FileState{ReadFileBytes(photos_ / name), info.st_mtim, info.st_ctim};
        }
        return states;
    }

    static bool SameTime(const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }

    std::vector<std::string> names_;
};

TEST_F(CliModes, DryRunLogsWhatWouldBeWrittenAndLeavesEveryByteAndTime) {
    AddFour();
    const auto before = States();
    const ProcessResult r = Tag("13", "0", {"--dry-run", "--keep"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const GpsFix f1 = FixOf(363);
    const std::vector<std::string> expected{
        " - Lese Bilddateien",
        " - 4 Bilder im Verzeichnis gefunden",
        " - Starte Datenbankimport",
        " - 421 Datensätze gelesen und importiert",
        " - IMG_1.jpg Koordinaten gefunden:",
        " - " + f1.lat + "," + f1.lon + " würde getaggt (Probelauf)",
        " - IMG_2.jpg Koordinaten gefunden:",
        " - -33.8567,-70.650005 würde getaggt (Probelauf)",
        " - IMG_3.jpg keine Koordinaten gefunden",
        " - IMG_4.jpg keine Koordinaten gefunden",
    };
    std::vector<std::string> log = Log(r);
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.back().find("Zusammenfassung: 2 würden getaggt, 2 ohne Treffer, 0 übersprungen, "
                                "0 fehlgeschlagen, ") != std::string::npos)
        << log.back();
    log.pop_back();
    EXPECT_EQ(log, expected);
    const auto after = States();
    for (const auto& [name, state] : before) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(BytesEqual(state.bytes, after.at(name).bytes));
        EXPECT_TRUE(SameTime(state.mtime, after.at(name).mtime));
        EXPECT_TRUE(SameTime(state.ctime, after.at(name).ctime));  // not even opened for writing
    }
    // The same command without the dry run does write: the comparison above can see a write.
    ASSERT_EQ(Tag("13", "0").exitStatus, 0);
    EXPECT_FALSE(BytesEqual(before.at("IMG_1.jpg").bytes, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

TEST_F(CliModes, SkipTaggedLeavesTaggedPhotosByteIdentical) {
    AddFour();
    ASSERT_EQ(Tag("13", "0").exitStatus, 0);
    const auto tagged = States();
    // In zone 14 with 5 s of tolerance every photo with a shot time gets another point.
    const ProcessResult r = Tag("14", "5", {"--skip-tagged"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> log = Log(r);
    for (const char* line :
         {" - IMG_1.jpg hat bereits eine GPS-Position, übersprungen",
          " - IMG_2.jpg hat bereits eine GPS-Position, übersprungen",
          " - IMG_3.jpg Koordinaten gefunden:", " - IMG_4.jpg keine Koordinaten gefunden"}) {
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
    }
    const auto after = States();
    for (const char* name : {"IMG_1.jpg", "IMG_2.jpg", "sub/IMG_4.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(BytesEqual(tagged.at(name).bytes, after.at(name).bytes));
        EXPECT_TRUE(SameTime(tagged.at(name).mtime, after.at(name).mtime));
    }
    // IMG_3 had no point in zone 13 but has one now: untagged photos are still tagged.
    EXPECT_FALSE(BytesEqual(tagged.at("IMG_3.jpg").bytes, after.at("IMG_3.jpg").bytes));
    // Without the mode the tagged photos are written again with the other point.
    ASSERT_EQ(Tag("14", "5").exitStatus, 0);
    EXPECT_FALSE(BytesEqual(tagged.at("IMG_1.jpg").bytes, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

TEST_F(CliModes, KeepMtimeKeepsNanosecondModificationTimes) {
    AddFour();
    const auto before = States();
    const ProcessResult r = Tag("13", "0", {"--keep-mtime"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const auto after = States();
    for (const char* name : {"IMG_1.jpg", "IMG_2.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(BytesEqual(before.at(name).bytes, after.at(name).bytes));  // written
        EXPECT_TRUE(SameTime(before.at(name).mtime, after.at(name).mtime));
    }
    ExpectGpsByOurReader(photos_ / "IMG_1.jpg", FixOf(363));
    // Without the mode a written photo gets the time of its save.
    ASSERT_EQ(Tag("14", "5").exitStatus, 0);
    EXPECT_FALSE(SameTime(before.at("IMG_1.jpg").mtime, States().at("IMG_1.jpg").mtime));
}

TEST_F(CliModes, JsonGivesOneParsableObjectPerPhotoAndASummary) {
    AddFour();
    AddDatedPhoto("IMG_5.jpg", "2024:06:15 09:00:00", 4);
    const ProcessResult r = Tag("13", "0", {"--json"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 6U) << r.out;  // five photos and the summary, no log line
    std::map<std::string, nlohmann::json> byFile;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const nlohmann::json photo = nlohmann::json::parse(lines[i]);
        byFile[photo.at("file").get<std::string>()] = photo;
    }
    const auto expectTagged = [&](const std::string& name, const GpsFix& fix) {
        SCOPED_TRACE(name);
        const nlohmann::json& p = byFile.at((photos_ / name).string());
        EXPECT_EQ(p.at("status"), "tagged");
        EXPECT_DOUBLE_EQ(p.at("latitude").get<double>(), std::stod(fix.lat));
        EXPECT_DOUBLE_EQ(p.at("longitude").get<double>(), std::stod(fix.lon));
        std::string utc = fix.utc;  // "2024:06:15 08:00:30" as ISO 8601
        utc[4] = '-';
        utc[7] = '-';
        utc[10] = 'T';
        EXPECT_EQ(p.at("utc_time"), utc + "Z");
        EXPECT_EQ(p.at("message"), fix.lat + "," + fix.lon + " getaggt!");
        ExpectGpsByOurReader(photos_ / name, fix);
    };
    expectTagged("IMG_1.jpg", FixOf(363));
    expectTagged("IMG_2.jpg", FixOf(kSouthWest));
    expectTagged("IMG_5.jpg", FixOf(0));
    for (const char* name : {"IMG_3.jpg", "sub/IMG_4.jpg"}) {
        const nlohmann::json& p = byFile.at((photos_ / name).string());
        EXPECT_EQ(p.at("status"), "no_match") << name;
        EXPECT_TRUE(p.at("latitude").is_null());
        EXPECT_TRUE(p.at("utc_time").is_null());
    }
    const nlohmann::json summary = nlohmann::json::parse(lines.back()).at("summary");
    EXPECT_EQ(summary.at("tagged"), 3);
    EXPECT_EQ(summary.at("no_match"), 2);
    EXPECT_EQ(summary.at("skipped"), 0);
    EXPECT_EQ(summary.at("failed"), 0);
    EXPECT_EQ(summary.at("dry_run"), false);
    EXPECT_GE(summary.at("seconds").get<double>(), 0.0);
}

// Counts the log's photo lines of each kind and compares them with the summary line, also for a run that
// an unreadable photo ends (it is the last photo in scan order, so the others come before it).
TEST_F(CliModes, SummaryCountsMatchTheLog) {
    AddFour();
    ASSERT_EQ(Tag("13", "0").exitStatus, 0);  // IMG_1 and IMG_2 now tagged
    AddDatedPhoto("IMG_6.jpg", "2024:06:15 10:01:00", 6);
    WriteFileText(photos_ / "sub" / "zz_broken.jpg", "no JPEG at all");
    for (const bool broken : {false, true}) {
        SCOPED_TRACE(broken);
        if (!broken) {
            fs::rename(photos_ / "sub" / "zz_broken.jpg", tmp_ / "zz_broken.jpg");
        } else {
            fs::rename(tmp_ / "zz_broken.jpg", photos_ / "sub" / "zz_broken.jpg");
        }
        const ProcessResult r = Tag("13", "0", {"--skip-tagged", "--dry-run"});
        EXPECT_EQ(r.exitStatus, broken ? 1 : 0) << r.err;
        int tagged = 0;
        int none = 0;
        int skipped = 0;
        std::string summary;
        for (const std::string& line : Log(r)) {
            tagged += line.ends_with(" würde getaggt (Probelauf)") ? 1 : 0;
            none += line.ends_with(" keine Koordinaten gefunden") ? 1 : 0;
            skipped += line.ends_with(", übersprungen") ? 1 : 0;
            if (line.starts_with("NO STAMP:Zusammenfassung: ")) {
                summary = line.substr(9);
            }
        }
        EXPECT_EQ(tagged, 1);   // IMG_6
        EXPECT_EQ(skipped, 2);  // IMG_1, IMG_2
        EXPECT_EQ(none, 2);     // IMG_3, IMG_4
        const std::string counts = std::to_string(tagged) + " würden getaggt, " + std::to_string(none) +
                                   " ohne Treffer, " + std::to_string(skipped) + " übersprungen, " +
                                   (broken ? "1" : "0") + " fehlgeschlagen, ";
        EXPECT_TRUE(summary.starts_with("Zusammenfassung: " + counts)) << summary;
    }
}

TEST_F(CliModes, WithoutOptionsThereIsNoSummaryLine) {
    AddFour();
    const ProcessResult r = Tag("13", "0");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.find("Zusammenfassung"), std::string::npos);
    EXPECT_EQ(Log(r).size(), 10U);
}

// Ctrl+C in the middle of a run. The signal comes once the first photos are logged, while the program is
// held in a write of its log (stdout is not read for a while) with most photos still to do. The run ends
// after the photo in hand and says so in its last line (with --json, in an object of its own), and the
// program then ends by the signal, as documented; every photo is either tagged in full or byte for byte
// as it was, the log names exactly the tagged ones with no line lost, and no temporary file or journal is
// left (every tenth photo has a second hard link, so it is rewritten in place under a journal).
class CliStop : public CliRun, public ::testing::WithParamInterface<bool> {};

TEST_P(CliStop, SigintEndsTheRunBetweenPhotosAndSaysSo) {
    const bool json = GetParam();
    constexpr int kPhotos = 300;
    // Every photo is the same one, so one photo tagged by a whole run shows the bytes each must get.
    const Bytes original = Photo("2024:06:15 10:00:30", 1);
    const fs::path reference = tmp_ / "reference";
    fs::create_directories(reference);
    WriteFileBytes(reference / "P.jpg", original);
    ASSERT_EQ(Cli({"--gpx", gpx_.string(), "--photos", reference.string(), "--zone", "13"}).exitStatus, 0);
    const Bytes tagged = ReadFileBytes(reference / "P.jpg");
    ASSERT_FALSE(BytesEqual(original, tagged));
    const fs::path links = tmp_ / "links";
    fs::create_directories(links);
    const auto name = [](int i) {
        char text[16];
        std::snprintf(text, sizeof text, "P%04d.jpg", i);
        return std::string(text);
    };
    for (int i = 0; i < kPhotos; ++i) {
        WriteFileBytes(photos_ / name(i), original);
        if (i % 10 == 0) {
            fs::create_hard_link(photos_ / name(i), links / name(i));
        }
    }

    std::vector<std::string> args{"--data-dir", data_.string(),   "--gpx",  gpx_.string(),
                                  "--photos",   photos_.string(), "--zone", "13"};
    if (json) {
        args.emplace_back("--json");
    }
    const ProcessResult r = RunProcessAndSignal(cli_, args, json ? "\"file\"" : " getaggt!", SIGINT);
    EXPECT_EQ(r.signal, SIGINT) << "exit status " << r.exitStatus << ", " << r.err;
    EXPECT_EQ(r.err, "");

    // The photos are handled in name order: the first `done` are tagged, the rest untouched.
    int done = 0;
    for (int i = 0; i < kPhotos; ++i) {
        SCOPED_TRACE(name(i));
        const Bytes bytes = ReadFileBytes(photos_ / name(i));
        if (done == i && bytes == tagged) {
            ++done;
        } else {
            EXPECT_TRUE(BytesEqual(original, bytes));
        }
        if (i % 10 == 0) {
            EXPECT_TRUE(fs::equivalent(photos_ / name(i), links / name(i)));
        }
    }
    EXPECT_GT(done, 0);
    EXPECT_LT(done, kPhotos - 100);  // the program could not have written the log of many more
    // Nothing but the photos: no temporary file, no journal.
    for (const fs::path& folder : {photos_, links}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
        }
    }

    const std::string stopLine = "Lauf abgebrochen: " + std::to_string(done) + " von " +
                                 std::to_string(kPhotos) + " Bildern bearbeitet.";
    const GpsFix fix = FixOf(363);
    if (!json) {
        std::vector<std::string> expected{
            " - Lese Bilddateien", " - " + std::to_string(kPhotos) + " Bilder im Verzeichnis gefunden",
            " - Starte Datenbankimport", " - 421 Datensätze gelesen und importiert"};
        for (int i = 0; i < done; ++i) {
            expected.push_back(" - " + name(i) + " Koordinaten gefunden:");
            expected.push_back(" - " + fix.lat + "," + fix.lon + " getaggt!");
        }
        expected.push_back(" - " + stopLine);
        EXPECT_EQ(Log(r), expected);
        return;
    }
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(done) + 2) << r.out;
    for (int i = 0; i < done; ++i) {
        const nlohmann::json photo = nlohmann::json::parse(lines[static_cast<std::size_t>(i)]);
        EXPECT_EQ(photo.at("file"), (photos_ / name(i)).string());
        EXPECT_EQ(photo.at("status"), "tagged");
    }
    EXPECT_EQ(nlohmann::json::parse(lines[lines.size() - 2]),
              nlohmann::json({{"stopped", {{"done", done}, {"total", kPhotos}, {"message", stopLine}}}}));
    const nlohmann::json summary = nlohmann::json::parse(lines.back()).at("summary");
    EXPECT_EQ(summary.at("tagged"), done);
}

INSTANTIATE_TEST_SUITE_P(Output, CliStop, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Json" : "Log"; });

}  // namespace
}  // namespace zeloro::test
