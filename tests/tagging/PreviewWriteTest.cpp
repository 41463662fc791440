// tests/tagging/PreviewWriteTest.cpp: each photo's full outcome in its report, and a dry run kept as a plan
// and written as shown, through the session on temporary databases, photos and tracks built here.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "SamplePhoto.h"
#include "common/DateTime.h"
#include "metadata/ExifData.h"
#include "places/PlaceIndex.h"
#include "support/TestSupport.h"
#include "tagging/PhotoLocator.h"
#include "tagging/PreviewPlan.h"
#include "tagging/TaggingRun.h"
#include "tagging/TaggingSession.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// Keeps the log messages without stamps, the reports, the progress and the error boxes.
class Recorder : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int maximum) override { progress.push_back("max " + std::to_string(maximum)); }
    void SetProgressPosition(int position) override { progress.push_back("pos " + std::to_string(position)); }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ProcessMessages() override {
        if (onProcessMessages) {
            onProcessMessages();
        }
    }
    void PhotoHandled(const PhotoReport& report) override { reports.push_back(report); }

    [[nodiscard]] const PhotoReport* ReportOf(const fs::path& path) const {
        for (const PhotoReport& report : reports) {
            if (report.path == path.string()) {
                return &report;
            }
        }
        return nullptr;
    }

    std::vector<std::string> lines;
    std::vector<std::string> progress;
    std::vector<std::string> errors;
    std::vector<PhotoReport> reports;
    std::function<void()> onProcessMessages;
};

Bytes Photo(std::optional<std::string> shot, int scene = 0,
            std::optional<std::string> offset = std::nullopt) {
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.scene = scene;
    spec.dateTimeOriginal = std::move(shot);
    spec.offsetTimeOriginal = std::move(offset);
    return sample::MakePhoto(spec);
}

// Three points ten seconds apart on 15 June 2024; a camera in UTC + 2:00 (list index 13) shot 10:00:00
// at the first.
constexpr const char* kTrack =
    "<gpx><trk><trkseg>"
    "<trkpt lat=\"48.1234\" lon=\"-122.4194\"><time>2024-06-15T08:00:00Z</time></trkpt>"
    "<trkpt lat=\"-33.8567\" lon=\"151.215\"><time>2024-06-15T08:00:10Z</time></trkpt>"
    "<trkpt lat=\"51.5\" lon=\"-0.125\"><time>2024-06-15T08:00:20Z</time></trkpt>"
    "</trkseg></trk></gpx>";

// Three points in Cologne (summer time, UTC + 2:00) at the times of kTrack.
constexpr const char* kCologne =
    "<gpx><trk><trkseg>"
    "<trkpt lat=\"50.9375\" lon=\"6.9603\"><time>2024-06-15T08:00:00Z</time></trkpt>"
    "<trkpt lat=\"50.9380\" lon=\"6.9610\"><time>2024-06-15T08:00:10Z</time></trkpt>"
    "<trkpt lat=\"50.9385\" lon=\"6.9620\"><time>2024-06-15T08:00:20Z</time></trkpt>"
    "</trkseg></trk></gpx>";

// One data folder with its track table, a track file and a photo folder.
class Place {
public:
    Place() {
        Connection con;
        con.Open((tmp_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos);
        WriteFileText(gpx, kTrack);
        session.Connect();
    }
    [[nodiscard]] RunInputs Inputs(int tolerance = 0) const {
        return {gpx.string(), photos.string(), kZoneIndexSummer, tolerance, RunModes{}, 1};
    }

private:
    TempDir tmp_;

public:
    fs::path photos = tmp_ / "photos";
    fs::path gpx = tmp_ / "track.gpx";
    TaggingSession session{(tmp_.path() / "").string()};
};

std::int64_t MtimeNsOf(const fs::path& path) {
    struct stat now {};
    EXPECT_EQ(::stat(path.c_str(), &now), 0);
    return static_cast<std::int64_t>(now.st_mtim.tv_sec) * 1'000'000'000 + now.st_mtim.tv_nsec;
}

// A camera's "YYYY:MM:DD hh:mm:ss" as a value.
DateTimeValue CameraTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(std::sscanf(text.c_str(), "%d:%d:%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second),
              6);
    return EncodeDateTime(year, month, day, hour, minute, second, 0);
}

// The GPS time stamp the photo holds, or "none" without a position.
std::string GpsTimeOf(const fs::path& path) {
    TExifData exif;
    exif.LoadFromJPEG(path.string());
    if (exif.GPSLatitude().MissingOrInvalid()) {
        return "none";
    }
    return DateTimeText(exif.GPSDateTimeUTC());
}

// ---- Each photo's outcome ----

struct OutcomeCase {
    std::string name;
    std::string shot;                   // the camera clock
    std::optional<std::string> stored;  // OffsetTimeOriginal
    std::function<void(RunSettings&)> set;
    int tolerance;
    DateTimeValue wantUtc;  // the shot in UTC the run must have taken
    std::string wantZone;
    PhotoStatus wantStatus;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class PhotoOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(PhotoOutcome, ReportCarriesShotZoneDistanceAndIdentity) {
    const OutcomeCase& c = GetParam();
    Place place;
    const fs::path photo = place.photos / "a.jpg";
    WriteFileBytes(photo, Photo(c.shot, 0, c.stored));
    struct stat before {};
    ASSERT_EQ(::stat(photo.c_str(), &before), 0);
    RunSettings settings;
    c.set(settings);
    RunInputs inputs = place.Inputs(c.tolerance);
    inputs.modes.dryRun = true;
    Recorder recorder;
    ASSERT_EQ(place.session.Run(inputs, recorder, settings), RunResult::done);
    ASSERT_EQ(recorder.reports.size(), 1U);
    const PhotoReport& report = recorder.reports.front();
    EXPECT_EQ(report.status, c.wantStatus);
    EXPECT_EQ(DateTimeText(report.shotTime), DateTimeText(CameraTime(c.shot)));
    EXPECT_EQ(DateTimeText(report.shotUtc), DateTimeText(c.wantUtc));
    EXPECT_EQ(report.zoneText, c.wantZone);
    EXPECT_EQ(report.fileSize, static_cast<std::uint64_t>(before.st_size));
    EXPECT_EQ(report.mtimeNs, MtimeNsOf(photo));
    EXPECT_FALSE(report.rematched);
    if (c.wantStatus == PhotoStatus::tagged) {
        ASSERT_TRUE(report.distanceSeconds);
        EXPECT_EQ(*report.distanceSeconds, std::llround(std::fabs(report.utcTime - c.wantUtc) * 86400.0));
        EXPECT_LE(*report.distanceSeconds, c.tolerance);
    } else {
        EXPECT_FALSE(report.distanceSeconds);
    }
}

DateTimeValue Utc(int second) { return EncodeDateTime(2024, 6, 15, 8, 0, second, 0); }

INSTANTIATE_TEST_SUITE_P(
    Report, PhotoOutcome,
    ::testing::Values(OutcomeCase{"ListZoneWithinTolerance", "2024:06:15 10:00:13", std::nullopt,
                                  [](RunSettings&) {}, 5, Utc(13), "UTC + 2:00", PhotoStatus::tagged},
                      OutcomeCase{"NamedZoneSummerTime", "2024:06:15 10:00:10", std::nullopt,
                                  [](RunSettings& s) { s.zone = CameraZone::Parse("Europe/Berlin"); }, 0,
                                  Utc(10), "Europe/Berlin", PhotoStatus::tagged},
                      OutcomeCase{"FixedOffset", "2024:06:15 13:30:20", std::nullopt,
                                  [](RunSettings& s) { s.zone = CameraZone::Parse("+05:30"); }, 0, Utc(20),
                                  "+05:30", PhotoStatus::tagged},
                      OutcomeCase{"StoredOffsetOfThePhoto", "2024:06:15 04:00:00", "-04:00",
                                  [](RunSettings& s) { s.photoZone = true; }, 0, Utc(0), "-04:00",
                                  PhotoStatus::tagged},
                      OutcomeCase{"ClockOffsetBeforeTheZone", "2024:06:15 09:58:30", std::nullopt,
                                  [](RunSettings& s) { s.clockOffsetSeconds = 90; }, 0, Utc(0), "UTC + 2:00",
                                  PhotoStatus::tagged},
                      OutcomeCase{"InterpolatedIsAtDistanceZero", "2024:06:15 10:00:04", std::nullopt,
                                  [](RunSettings& s) { s.interpolateMaxGap = 60; }, 0, Utc(4), "UTC + 2:00",
                                  PhotoStatus::tagged},
                      OutcomeCase{"MissStillHasItsTimes", "2024:06:15 11:00:00", std::nullopt,
                                  [](RunSettings&) {}, 0, EncodeDateTime(2024, 6, 15, 9, 0, 0, 0),
                                  "UTC + 2:00", PhotoStatus::noMatch}),
    [](const auto& p) { return p.param.name; });

TEST(Report, PhotoWithoutShotTimeHasNoTimesButItsIdentity) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo(std::nullopt));
    Recorder recorder;
    ASSERT_EQ(place.session.Run(place.Inputs(), recorder), RunResult::done);
    ASSERT_EQ(recorder.reports.size(), 1U);
    EXPECT_EQ(recorder.reports[0].status, PhotoStatus::noMatch);
    EXPECT_EQ(recorder.reports[0].shotTime, 0);
    EXPECT_EQ(recorder.reports[0].shotUtc, 0);
    EXPECT_EQ(recorder.reports[0].zoneText, "");
    EXPECT_EQ(recorder.reports[0].mtimeNs, MtimeNsOf(place.photos / "a.jpg"));
}

TEST(Report, ZoneFromTheTrackIsNamed) {
    Place place;
    WriteFileText(place.gpx, kCologne);
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:10"));
    RunSettings settings;
    settings.zoneFromTrack = true;
    settings.placeFile = (BuildDir() / kPlaceFileName).string();
    Recorder recorder;
    ASSERT_EQ(place.session.Run(place.Inputs(), recorder, settings), RunResult::done);
    ASSERT_EQ(recorder.reports.size(), 1U);
    EXPECT_EQ(recorder.reports[0].status, PhotoStatus::tagged);
    EXPECT_EQ(recorder.reports[0].zoneText, "Europe/Berlin");
    EXPECT_EQ(DateTimeText(recorder.reports[0].shotUtc), DateTimeText(Utc(10)));
    EXPECT_EQ(recorder.reports[0].distanceSeconds, 0);
}

// The reason for the window is the one the details give, and the log stays that of a run without them.
TEST(Report, ReasonsForTheObserverLeaveTheLogAlone) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 11:00:00"));
    WriteFileBytes(place.photos / "b.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(place.photos / "c.jpg", Photo(std::nullopt));
    RunInputs inputs = place.Inputs();
    inputs.modes.dryRun = true;
    Recorder plain;
    Recorder explained;
    Recorder forWindow;
    RunSettings explain;
    explain.explain = true;
    RunSettings reasons;
    reasons.reasonsForObserver = true;
    ASSERT_EQ(place.session.Run(inputs, plain), RunResult::done);
    ASSERT_EQ(place.session.Run(inputs, explained, explain), RunResult::done);
    ASSERT_EQ(place.session.Run(inputs, forWindow, reasons), RunResult::done);
    EXPECT_EQ(forWindow.lines, plain.lines);
    ASSERT_EQ(forWindow.reports.size(), explained.reports.size());
    for (std::size_t i = 0; i < forWindow.reports.size(); ++i) {
        EXPECT_EQ(forWindow.reports[i].reason, explained.reports[i].reason) << forWindow.reports[i].path;
        EXPECT_EQ(plain.reports[i].reason, "");
    }
    EXPECT_NE(forWindow.ReportOf(place.photos / "a.jpg")->reason, "");
    EXPECT_NE(forWindow.ReportOf(place.photos / "c.jpg")->reason, "");
    EXPECT_EQ(forWindow.ReportOf(place.photos / "b.jpg")->reason, "");
}

// ---- Preview and write ----

TEST(Preview, WriteWithoutAPlanAsksForOne) {
    Place place;
    Recorder recorder;
    EXPECT_EQ(place.session.WritePreview(recorder), RunResult::inputMissing);
    EXPECT_EQ(recorder.errors, std::vector<std::string>{kNoPreviewMessage});
    EXPECT_EQ(std::string(kNoPreviewMessage), "Kein Probelauf vorhanden – bitte zuerst „Probelauf“ starten.");
    EXPECT_TRUE(recorder.lines.empty());
}

TEST(Preview, LogsAsADryRunAndKeepsThePlan) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(place.photos / "b.jpg", Photo("2024:06:15 11:00:00"));
    const Bytes before = ReadFileBytes(place.photos / "a.jpg");
    RunInputs dry = place.Inputs();
    dry.modes.dryRun = true;
    Recorder dryRun;
    ASSERT_EQ(place.session.Run(dry, dryRun), RunResult::done);
    Recorder preview;
    ASSERT_EQ(place.session.Preview(place.Inputs(), preview), RunResult::done);
    EXPECT_EQ(preview.lines, dryRun.lines);
    EXPECT_EQ(preview.progress, dryRun.progress);
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(place.photos / "a.jpg")));
    const PreviewPlan* plan = place.session.LastPreview();
    ASSERT_NE(plan, nullptr);
    EXPECT_TRUE(plan->inputs.modes.dryRun);
    ASSERT_EQ(plan->photos.size(), 2U);
    const PlannedPhoto* a = plan->Find((place.photos / "a.jpg").string());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->status, PhotoStatus::tagged);
    EXPECT_EQ(a->position.coord.lat, "48.1234");
    EXPECT_EQ(a->mtimeNs, MtimeNsOf(place.photos / "a.jpg"));
    EXPECT_EQ(plan->Find((place.photos / "b.jpg").string())->status, PhotoStatus::noMatch);
}

// What drops a plan: a new run, emptying the table, emptying the map list, and its own write.
struct DropCase {
    std::string name;
    std::function<void(TaggingSession&, const RunInputs&)> act;
};

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class PlanDropped : public ::testing::TestWithParam<DropCase> {};

TEST_P(PlanDropped, NoPlanIsLeft) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:00"));
    Recorder recorder;
    ASSERT_EQ(place.session.Preview(place.Inputs(), recorder), RunResult::done);
    ASSERT_NE(place.session.LastPreview(), nullptr);
    GetParam().act(place.session, place.Inputs());
    EXPECT_EQ(place.session.LastPreview(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Preview, PlanDropped,
    ::testing::Values(DropCase{"Run",
                               [](TaggingSession& s, const RunInputs& in) {
                                   Recorder r;
                                   static_cast<void>(s.Run(in, r));
                               }},
                      DropCase{"ClearDatabase",
                               [](TaggingSession& s, const RunInputs&) { EXPECT_TRUE(s.clearDatabase()); }},
                      DropCase{"ClearMapEntries",
                               [](TaggingSession& s, const RunInputs&) { s.ClearMapEntries(); }},
                      DropCase{"Write",
                               [](TaggingSession& s, const RunInputs&) {
                                   Recorder r;
                                   EXPECT_EQ(s.WritePreview(r), RunResult::done);
                               }}),
    [](const auto& p) { return p.param.name; });

TEST(Preview, StoppedPreviewKeepsNoPlan) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:00"));
    Recorder first;
    ASSERT_EQ(place.session.Preview(place.Inputs(), first), RunResult::done);
    class Stopping : public Recorder {
    public:
        bool StopRequested() override { return true; }
    } stopping;
    EXPECT_EQ(place.session.Preview(place.Inputs(), stopping), RunResult::stopped);
    EXPECT_EQ(place.session.LastPreview(), nullptr);
}

TEST(Preview, WriteFromInsideTheImportIsBusy) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:00"));
    Recorder first;
    ASSERT_EQ(place.session.Preview(place.Inputs(), first), RunResult::done);
    Recorder second;
    std::optional<RunResult> inner;
    second.onProcessMessages = [&] {
        Recorder r;
        inner = place.session.WritePreview(r);
    };
    ASSERT_EQ(place.session.Preview(place.Inputs(), second), RunResult::done);
    EXPECT_EQ(inner, RunResult::busy);
    EXPECT_EQ(GpsTimeOf(place.photos / "a.jpg"), "none");
}

// The preview's modes hold for the write: a photo that has a position stays as it is, unchanged and not
// matched again.
TEST(Preview, SkippedPhotoStaysSkippedWithoutAMatch) {
    Place place;
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:00"));
    Recorder first;
    ASSERT_EQ(place.session.Run(place.Inputs(), first), RunResult::done);
    const Bytes tagged = ReadFileBytes(place.photos / "a.jpg");
    WriteFileBytes(place.photos / "b.jpg", Photo("2024:06:15 10:00:10", 1));
    RunInputs inputs = place.Inputs();
    inputs.modes.skipTagged = true;
    Recorder preview;
    ASSERT_EQ(place.session.Preview(inputs, preview), RunResult::done);
    Recorder write;
    ASSERT_EQ(place.session.WritePreview(write), RunResult::done);
    ASSERT_EQ(write.reports.size(), 2U);
    EXPECT_EQ(write.ReportOf(place.photos / "a.jpg")->status, PhotoStatus::skipped);
    EXPECT_FALSE(write.ReportOf(place.photos / "a.jpg")->rematched);
    EXPECT_EQ(write.ReportOf(place.photos / "b.jpg")->status, PhotoStatus::tagged);
    EXPECT_FALSE(write.ReportOf(place.photos / "b.jpg")->rematched);
    EXPECT_TRUE(BytesEqual(tagged, ReadFileBytes(place.photos / "a.jpg")));
    EXPECT_NE(GpsTimeOf(place.photos / "b.jpg"), "none");
}

// Between preview and write every track point moves, so a photo written as planned and one matched again
// tell themselves apart by where they end up; with the points gone a photo matched again finds none.
enum class Change { none, touched, resized, deleted, added };
enum class Table { moved, emptied };
enum class Outcome { planned, current, none, gone };

struct WriteCase {
    std::string name;
    Change change;
    Table table;
    Outcome want;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteAsShown : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteAsShown, PlannedOrMatchedAgain) {
    const WriteCase& c = GetParam();
    Place place;
    const fs::path photo = place.photos / "b.jpg";
    WriteFileBytes(place.photos / "a.jpg", Photo("2024:06:15 10:00:10"));  // stays as it is
    if (c.change != Change::added) {
        WriteFileBytes(photo, Photo("2024:06:15 10:00:00"));
    }
    Recorder preview;
    ASSERT_EQ(place.session.Preview(place.Inputs(), preview), RunResult::done);

    switch (c.change) {
        case Change::none:
            break;
        case Change::touched: {
            const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, timespec{1'000'000'000, 5}};
            ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times.data(), 0), 0);
            break;
        }
        case Change::resized: {
            // Longer by a description, with the modification time the preview saw: the size alone tells.
            const std::int64_t seen = MtimeNsOf(photo);
            sample::PhotoSpec spec;
            spec.width = 32;
            spec.height = 24;
            spec.dateTimeOriginal = "2024:06:15 10:00:00";
            spec.descriptionLength = 16;
            WriteFileBytes(photo, sample::MakePhoto(spec));
            const std::array<timespec, 2> times{timespec{0, UTIME_OMIT},
                                                timespec{seen / 1'000'000'000, seen % 1'000'000'000}};
            ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times.data(), 0), 0);
            ASSERT_EQ(MtimeNsOf(photo), seen);
            break;
        }
        case Change::deleted:
            fs::remove(photo);
            break;
        case Change::added:
            WriteFileBytes(photo, Photo("2024:06:15 10:00:00"));
            break;
    }
    place.session.connection().Execute(c.table == Table::moved ? "UPDATE gpx SET lat='10.5', lon='20.25'"
                                                               : "DELETE FROM gpx");

    Recorder write;
    ASSERT_EQ(place.session.WritePreview(write), RunResult::done);
    EXPECT_EQ(place.session.LastPreview(), nullptr);
    EXPECT_TRUE(write.errors.empty());
    // The unchanged photo keeps the plan whatever the table holds now.
    const PhotoReport* same = write.ReportOf(place.photos / "a.jpg");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->status, PhotoStatus::tagged);
    EXPECT_EQ(same->lat, "-33.8567");
    EXPECT_FALSE(same->rematched);

    const PhotoReport* report = write.ReportOf(photo);
    ASSERT_NE(report, nullptr);
    switch (c.want) {
        case Outcome::planned:
            EXPECT_EQ(report->status, PhotoStatus::tagged);
            EXPECT_EQ(report->lat, "48.1234");
            EXPECT_FALSE(report->rematched);
            break;
        case Outcome::current:
            EXPECT_EQ(report->status, PhotoStatus::tagged);
            EXPECT_EQ(report->lat, "10.5");
            EXPECT_TRUE(report->rematched);
            break;
        case Outcome::none:
            EXPECT_EQ(report->status, PhotoStatus::noMatch);
            EXPECT_TRUE(report->rematched);
            EXPECT_EQ(GpsTimeOf(photo), "none");
            break;
        case Outcome::gone:
            EXPECT_EQ(report->status, PhotoStatus::failed);
            EXPECT_EQ(report->message, "b.jpg: " + std::string(kPlannedPhotoGone));
            EXPECT_NE(std::find(write.lines.begin(), write.lines.end(), " - " + report->message),
                      write.lines.end());
            EXPECT_EQ(write.progress.front(), "max 2");
            break;
    }
    if (c.want == Outcome::planned || c.want == Outcome::current) {
        TExifData exif;
        exif.LoadFromJPEG(photo.string());
        ASSERT_FALSE(exif.GPSLatitude().MissingOrInvalid());
        EXPECT_EQ(exif.GPSLatitude().Degrees(),
                  TTiffLongWordFraction(c.want == Outcome::planned ? 48 : 10, 1));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Preview, WriteAsShown,
    ::testing::Values(WriteCase{"UnchangedWithPointsMoved", Change::none, Table::moved, Outcome::planned},
                      WriteCase{"UnchangedWithPointsGone", Change::none, Table::emptied, Outcome::planned},
                      WriteCase{"TouchedMatchedAgain", Change::touched, Table::moved, Outcome::current},
                      WriteCase{"TouchedFindsNoPointNow", Change::touched, Table::emptied, Outcome::none},
                      WriteCase{"ResizedMatchedAgain", Change::resized, Table::moved, Outcome::current},
                      WriteCase{"NewPhotoMatched", Change::added, Table::moved, Outcome::current},
                      WriteCase{"DeletedIsReportedFailed", Change::deleted, Table::moved, Outcome::gone}),
    [](const auto& p) { return p.param.name; });

// The write of a plan gives the photos, map list, log (but the import's lines) and an undoable record
// exactly as a run that tags the same photos.
struct SameCase {
    std::string name;
    std::function<void(RunInputs&, RunSettings&)> set;
    std::string track = kTrack;
    bool raw = false;  // a TIFF-based RAW beside the JPEG photos
};

// A TIFF whose Exif directory holds the shot time: the smallest TIFF-based RAW.
Bytes ShotTiff(const std::string& shot) {
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, shot)});
    return tiff.Build();
}

void PrintTo(const SameCase& c, std::ostream* os) { *os << c.name; }

class WriteLikeARun : public ::testing::TestWithParam<SameCase> {};

std::vector<std::string> WithoutImportLines(std::vector<std::string> lines) {
    std::erase_if(lines, [](const std::string& line) {
        return line == " - Starte Datenbankimport" || line.ends_with(" Datensätze gelesen und importiert");
    });
    return lines;
}

TEST_P(WriteLikeARun, SameResultAsTheRun) {
    Place run;
    Place planned;
    for (Place* place : {&run, &planned}) {
        fs::create_directories(place->photos / "Sub");
        WriteFileBytes(place->photos / "a.jpg", Photo("2024:06:15 10:00:00"));
        WriteFileBytes(place->photos / "Sub" / "b.jpg", Photo("2024:06:15 10:00:04", 1));
        WriteFileBytes(place->photos / "c.jpg", Photo("2024:06:15 12:00:00", 2));
        WriteFileBytes(place->photos / "d.jpg", Photo(std::nullopt, 3));
        if (GetParam().raw) {
            WriteFileBytes(place->photos / "e.dng", ShotTiff("2024:06:15 10:00:20"));
        }
        WriteFileText(place->gpx, GetParam().track);
    }
    const Bytes original = ReadFileBytes(run.photos / "a.jpg");
    RunInputs inputs = run.Inputs(5);
    RunSettings settings;
    GetParam().set(inputs, settings);
    Recorder runLog;
    ASSERT_EQ(run.session.Run(inputs, runLog, settings), RunResult::done);

    RunInputs previewInputs = planned.Inputs(5);
    RunSettings previewSettings;
    GetParam().set(previewInputs, previewSettings);
    Recorder preview;
    ASSERT_EQ(planned.session.Preview(previewInputs, preview, previewSettings), RunResult::done);
    planned.session.connection().Execute("DELETE FROM gpx");
    Recorder write;
    ASSERT_EQ(planned.session.WritePreview(write), RunResult::done);

    EXPECT_EQ(write.lines, WithoutImportLines(runLog.lines));
    EXPECT_EQ(write.progress, runLog.progress);
    EXPECT_EQ(planned.session.MapEntries(), run.session.MapEntries());
    ASSERT_EQ(write.reports.size(), runLog.reports.size());
    for (std::size_t i = 0; i < write.reports.size(); ++i) {
        const PhotoReport& got = write.reports[i];
        const PhotoReport& want = runLog.reports[i];
        EXPECT_EQ(fs::relative(got.path, planned.photos), fs::relative(want.path, run.photos));
        EXPECT_EQ(got.status, want.status) << got.path;
        EXPECT_EQ(got.message, want.message) << got.path;
        EXPECT_EQ(got.utcTime, want.utcTime) << got.path;
        EXPECT_EQ(got.distanceSeconds, want.distanceSeconds) << got.path;
        EXPECT_FALSE(got.rematched) << got.path;
    }
    EXPECT_EQ(write.reports.size(), GetParam().raw ? 5U : 4U);
    // a.jpg and b.jpg are tagged in every case, and so is the RAW.
    EXPECT_EQ(run.session.MapEntries().size(), GetParam().raw ? 3U : 2U);
    for (const char* name : {"a.jpg", "Sub/b.jpg", "c.jpg", "d.jpg", "e.dng", "e.dng.xmp"}) {
        if (!fs::exists(run.photos / name)) {
            EXPECT_FALSE(fs::exists(planned.photos / name)) << name;
            continue;
        }
        EXPECT_TRUE(BytesEqual(ReadFileBytes(run.photos / name), ReadFileBytes(planned.photos / name)))
            << name;
    }
    // The record takes the write back as it takes the run back.
    Recorder undo;
    const UndoSummary undone = planned.session.UndoLastRun(undo, false);
    EXPECT_TRUE(undone.found);
    EXPECT_EQ(undone.restored, run.session.MapEntries().size());
    EXPECT_TRUE(BytesEqual(original, ReadFileBytes(planned.photos / "a.jpg")));
}

INSTANTIATE_TEST_SUITE_P(
    Preview, WriteLikeARun,
    ::testing::Values(SameCase{"Plain", [](RunInputs&, RunSettings&) {}},
                      SameCase{"KeepMtimeAndDetails",
                               [](RunInputs& in, RunSettings& s) {
                                   in.modes.keepMtime = true;
                                   s.explain = true;
                               }},
                      SameCase{"InterpolatedWithAltitude",
                               [](RunInputs&, RunSettings& s) {
                                   s.interpolateMaxGap = 60;
                                   s.altitude = true;
                               }},
                      SameCase{"ClockOffsetAndNamedZone",
                               [](RunInputs&, RunSettings& s) {
                                   s.clockOffsetSeconds = 2;
                                   s.zone = CameraZone::Parse("Europe/Berlin");
                               }},
                      SameCase{"SeveralJobs", [](RunInputs& in, RunSettings&) { in.jobs = 4; }},
                      SameCase{"PlacesAndZoneFromTrack",
                               [](RunInputs&, RunSettings& s) {
                                   s.places = PlacesMode::fill;
                                   s.zoneFromTrack = true;
                                   s.placeFile = (BuildDir() / kPlaceFileName).string();
                               },
                               kCologne},
                      SameCase{"RawInFileAndSidecar",
                               [](RunInputs&, RunSettings& s) {
                                   s.allPhotos = true;
                                   s.rawInFile = true;
                               },
                               kTrack, true},
                      SameCase{"SidecarOnly", [](RunInputs&, RunSettings& s) { s.allPhotos = true; }, kTrack,
                               true}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace zeloro::test
