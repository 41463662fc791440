// tests/tagging/TaggingRunTest.cpp: the tagging run through the session, on a temporary track database
// and photos built here.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SamplePhoto.h"
#include "common/Error.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/SafeFileWrite.h"
#include "mapexport/MapPage.h"
#include "metadata/ExifData.h"
#include "support/MapPageData.h"
#include "support/TestSupport.h"
#include "tagging/MissReason.h"
#include "tagging/RunInputs.h"
#include "tagging/TaggingRun.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"

// Readable failures of the map page's content; found by argument lookup in the types' namespace.
namespace zeloro {
void PrintTo(const MapPoint& p, std::ostream* os) { *os << "(" << p.latitude << ", " << p.longitude << ")"; }
void PrintTo(const MapPhoto& p, std::ostream* os) {
    *os << p.fileName << " " << p.shotTime << " ";
    PrintTo(p.position, os);
}
}  // namespace zeloro

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

struct DmsCase {
    std::string name;
    long double degrees, minutes, seconds;
    DmsParts want;
};

void PrintTo(const DmsCase& c, std::ostream* os) { *os << c.name; }

class DmsConversion : public ::testing::TestWithParam<DmsCase> {};

TEST_P(DmsConversion, MatchesTable) {
    const DmsCase& c = GetParam();
    EXPECT_EQ(ToDmsParts(c.degrees, c.minutes, c.seconds), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    TaggingRun, DmsConversion,
    ::testing::Values(DmsCase{"HalfDegree", 48, 30, 0, {48, 30, {0}}},
                      DmsCase{"NoiseBelowTheFourthDecimal", 48, 7, 24.24000000003L, {48, 7, {242400}}},
                      // Rounding reaches 60 seconds; nothing is carried into the minutes.
                      DmsCase{"SecondsRoundUpToSixty", 10, 59, 59.99996L, {10, 59, {600000}}},
                      // 1/32 and 3/32 second are exact binary fractions: ties go to the even count.
                      DmsCase{"TieToEvenDown", 0, 0, 0.03125L, {0, 0, {312}}},
                      DmsCase{"TieToEvenUp", 0, 0, 0.09375L, {0, 0, {938}}},
                      DmsCase{"LargestLongitude", 180, 0, 0, {180, 0, {0}}}),
    [](const auto& p) { return p.param.name; });

TEST(TaggingRun, DegreesThatNoRationalHoldsAreARangeError) {
    EXPECT_THROW(static_cast<void>(ToDmsParts(4294967296.0L, 0, 0)), RangeError);
    EXPECT_THROW(static_cast<void>(ToDmsParts(-1, 0, 0)), RangeError);
    EXPECT_THROW(static_cast<void>(ToDmsParts(0, 1e30L, 0)), RangeError);
    EXPECT_THROW(static_cast<void>(ToDmsParts(0, 0, 1e30L)), RangeError);
}

TEST(TaggingRun, FileNameIsTheLastPathComponent) {
    EXPECT_EQ(PhotoFileName("/a/b/IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(PhotoFileName("IMG_1.jpg"), "IMG_1.jpg");
    EXPECT_EQ(PhotoFileName("/a/b/"), "");
}

TEST(TaggingRun, ReadPhotoFileReadsAllOrNamesTheFile) {
    const TempDir tmp;
    Bytes big(200000);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7U);
    }
    WriteFileBytes(tmp / "big.jpg", big);
    EXPECT_TRUE(BytesEqual(big, ReadPhotoFile((tmp / "big.jpg").string())));
    WriteFileBytes(tmp / "empty.jpg", {});
    EXPECT_TRUE(ReadPhotoFile((tmp / "empty.jpg").string()).empty());
    const std::string missing = (tmp / "missing.jpg").string();
    try {
        static_cast<void>(ReadPhotoFile(missing));
        ADD_FAILURE() << "no error for a missing file";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Datei " + missing + " kann nicht geöffnet werden. No such file or directory");
    }
    EXPECT_THROW(static_cast<void>(ReadPhotoFile(tmp.path().string())), FileSkippedError);
}

// Records what the run reports; the stamps are cut off the log lines.
class RecordingObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        // "dd.mm.yyyy hh:mm:ss - ..." or, exactly at midnight, "dd.mm.yyyy - ...".
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? "NO STAMP:" + line : line.substr(dash));
    }
    void SetProgressMax(int maximum) override { progress.push_back("max " + std::to_string(maximum)); }
    void SetProgressPosition(int position) override {
        progress.push_back("pos " + std::to_string(position));
        if (onProgress) {
            onProgress(position);
        }
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ProcessMessages() override {
        if (onProcessMessages) {
            onProcessMessages();
        }
    }
    bool StopRequested() override { return stop; }
    void RunStopped(std::size_t done, std::size_t total, const std::string& message) override {
        stops.push_back(std::to_string(done) + " of " + std::to_string(total) + ": " + message);
    }
    void ImportFailed(const std::string& reason) override { importFailures.push_back(reason); }

    std::vector<std::string> lines;
    std::vector<std::string> stops;
    std::vector<std::string> progress;
    std::vector<std::string> errors;
    std::vector<std::string> importFailures;
    std::function<void()> onProcessMessages;
    std::function<void(int)> onProgress;
    bool stop = false;
};

Bytes Photo(std::optional<std::string> shot) {
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = std::move(shot);
    return sample::MakePhoto(spec);
}

class SessionRun : public ::testing::Test {
protected:
    void SetUp() override {
        Connection con;
        con.Open((tmp_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos_);
        // Two points; the camera ran in UTC + 2:00 (zone 13).
        WriteFileText(gpx_,
                      "<gpx><trk><trkseg>"
                      "<trkpt lat=\"48.1234\" lon=\"-122.4194\"><time>2024-06-15T08:00:00Z</time></trkpt>"
                      "<trkpt lat=\"-33.8567\" lon=\"151.215\"><time>2024-06-15T08:00:10Z</time></trkpt>"
                      "</trkseg></trk></gpx>");
        session_.Connect();
    }

    RunInputs Inputs() const { return {gpx_.string(), photos_.string(), 13, 0, RunModes{}, 0}; }

    TempDir tmp_;
    fs::path photos_ = tmp_ / "photos";
    fs::path gpx_ = tmp_ / "track.gpx";
    TaggingSession session_{(tmp_.path() / "").string()};
    RecordingObserver observer_;
};

TEST_F(SessionRun, WritesWholeDegreesAndMinutesAndCurrencySeconds) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10"));
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);

    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    // 48.1234 = 48 deg 7 min 24.24 s = 242400/10000 = 606/25; 122.4194 = 122 deg 25 min 9.84 s = 246/25.
    EXPECT_EQ(exif.GPSLatitude().Direction(), ltNorth);
    EXPECT_EQ(exif.GPSLatitude().Degrees(), TTiffLongWordFraction(48, 1));
    EXPECT_EQ(exif.GPSLatitude().Minutes(), TTiffLongWordFraction(7, 1));
    EXPECT_EQ(exif.GPSLatitude().Seconds(), TTiffLongWordFraction(606, 25));
    EXPECT_EQ(exif.GPSLongitude().Direction(), lnWest);
    EXPECT_EQ(exif.GPSLongitude().Degrees(), TTiffLongWordFraction(122, 1));
    EXPECT_EQ(exif.GPSLongitude().Minutes(), TTiffLongWordFraction(25, 1));
    EXPECT_EQ(exif.GPSLongitude().Seconds(), TTiffLongWordFraction(246, 25));
    // The point's own time, not the photo's converted one (here they agree to the second).
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 6, 15, 8, 0, 0, 0));

    exif.LoadFromJPEG((photos_ / "b.jpg").string());
    // -33.8567 = S 33 deg 51 min 24.12 s = 603/25; 151.215 = E 151 deg 12 min 54 s = 54/1.
    EXPECT_EQ(exif.GPSLatitude().Direction(), ltSouth);
    EXPECT_EQ(exif.GPSLatitude().Degrees(), TTiffLongWordFraction(33, 1));
    EXPECT_EQ(exif.GPSLatitude().Minutes(), TTiffLongWordFraction(51, 1));
    EXPECT_EQ(exif.GPSLatitude().Seconds(), TTiffLongWordFraction(603, 25));
    EXPECT_EQ(exif.GPSLongitude().Direction(), lnEast);
    EXPECT_EQ(exif.GPSLongitude().Degrees(), TTiffLongWordFraction(151, 1));
    EXPECT_EQ(exif.GPSLongitude().Minutes(), TTiffLongWordFraction(12, 1));
    EXPECT_EQ(exif.GPSLongitude().Seconds(), TTiffLongWordFraction(54, 1));

    EXPECT_EQ(session_.MapEntries(),
              (std::vector<std::string>{"48.1234|-122.4194|a.jpg", "-33.8567|151.215|b.jpg"}));
}

// The Google page's script gets a number a script can read, the one the photo was tagged with; a plain
// stored text stays as it was, byte for byte.
TEST_F(SessionRun, GooglePageGetsTheNumbersThePhotosHold) {
    WriteFileText(gpx_,
                  "<gpx><trk><trkseg>"
                  "<trkpt lat=\"047.5\" lon=\"-  -5\"><time>2024-06-15T08:00:00Z</time></trkpt>"
                  "<trkpt lat=\"-33.8567\" lon=\"1.5e2\"><time>2024-06-15T08:00:10Z</time></trkpt>"
                  "</trkseg></trk></gpx>");
    WriteFileText(tmp_ / kGoogleMapsKeyFile, "key\n");
    fs::create_directories(tmp_ / "maps");
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10"));
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(exif.GPSLongitude().Direction(), lnWest);
    const std::optional<std::string> page = session_.WriteMapPage();
    ASSERT_TRUE(page);
    EXPECT_NE(ReadFileText(*page).find(
                  "[new google.maps.LatLng(47.5,-5),\r\nnew google.maps.LatLng(-33.8567,1.5e2)"),
              std::string::npos)
        << ReadFileText(*page);
}

// The photos of the page that carry an EXIF thumbnail get it beside the page, numbered by their place on
// it; whatever the thumbs folder held before goes, a link there is replaced and not followed, and a notice
// page, which names no photo, leaves no thumbnail.
TEST_F(SessionRun, MapPageWritesTheThumbnailsOfItsPhotos) {
    sample::PhotoSpec small;
    small.width = 16;
    small.height = 12;
    const Bytes thumbnail = sample::EncodePicture(small);
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = "2024:06:15 10:00:10";
    spec.thumbnail = thumbnail;
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", sample::MakePhoto(spec));
    const fs::path maps = tmp_ / "maps";
    const fs::path elsewhere = tmp_ / "elsewhere";
    fs::create_directories(maps);
    fs::create_directories(elsewhere);
    WriteFileText(elsewhere / "2.jpg", "not ours");
    fs::create_directory_symlink(elsewhere, maps / "thumbs");
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);

    const std::optional<std::string> page = session_.WriteMapPage();
    ASSERT_TRUE(page);
    EXPECT_FALSE(fs::is_symlink(maps / "thumbs"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(maps / "thumbs")) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"2.jpg"});
    EXPECT_EQ(ReadFileBytes(maps / "thumbs" / "2.jpg"), thumbnail);
    EXPECT_EQ(ReadFileText(elsewhere / "2.jpg"), "not ours");
    const std::string data = PageDataText(ReadFileText(*page));
    EXPECT_NE(data.find("\"name\":\"a.jpg\",\"shot\":\"15.06.2024 10:00:00 (UTC + 2:00)\"}"),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("\"name\":\"b.jpg\",\"shot\":\"15.06.2024 10:00:10 (UTC + 2:00)\",\"thumb\":2}"),
              std::string::npos)
        << data;
    // Nothing of the folder filled aside is left.
    for (const auto& entry : fs::directory_iterator(maps)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".thumbs")) << entry.path();
    }

    (void)session_.WriteNoticeMapPage("GPS-Daten entfernt");
    EXPECT_FALSE(fs::exists(fs::symlink_status(maps / "thumbs")));
}

// Thumbnails that cannot be written (a full disk) leave the page without any, an earlier page's included;
// the page itself is written. (Seattle to Sydney is shorter over the Pacific: the page cuts at Sydney.)
TEST_F(SessionRun, ThumbnailsThatCannotBeWrittenLeaveThePageWithoutThem) {
    sample::PhotoSpec small;
    small.width = 16;
    small.height = 12;
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = "2024:06:15 10:00:00";
    spec.thumbnail = sample::EncodePicture(small);
    WriteFileBytes(photos_ / "a.jpg", sample::MakePhoto(spec));
    fs::create_directories(tmp_ / "maps" / "thumbs");
    WriteFileText(tmp_ / "maps" / "thumbs" / "1.jpg", "an earlier page's photo");
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    SetSafeWriteFaultHook([](SafeWriteStep step) { return step == SafeWriteStep::write ? ENOSPC : 0; });
    const std::optional<std::string> page = session_.WriteMapPage();
    SetSafeWriteFaultHook(nullptr);
    ASSERT_TRUE(page);
    EXPECT_EQ(PageDataText(ReadFileText(*page)),
              "{\"photos\":[{\"lat\":48.1234,\"lon\":-122.4194,\"name\":\"a.jpg\","
              "\"shot\":\"15.06.2024 10:00:00 (UTC + 2:00)\"}],"
              "\"tracks\":[[[48.1234,-122.4194],[-33.8567,151.215]]],\"cut\":151.215}");
    EXPECT_FALSE(fs::exists(tmp_ / "maps" / "thumbs"));
    for (const auto& entry : fs::directory_iterator(tmp_ / "maps")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".thumbs")) << entry.path();
    }
}

TEST_F(SessionRun, ProgressCountsPhotosAndListsKeepScanOrder) {
    fs::create_directories(photos_ / "Sub");
    WriteFileBytes(photos_ / "B.JPG", Photo("2024:06:15 10:00:10"));
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 11:00:00"));
    WriteFileBytes(photos_ / "Sub" / "b.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileText(photos_ / "notes.txt", "not a photo");
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    const std::string folder = photos_.string() + "/";
    EXPECT_EQ(session_.Photos(),
              (std::vector<std::string>{folder + "a.jpg", folder + "B.JPG", folder + "Sub/b.jpg"}));
    EXPECT_EQ(observer_.progress, (std::vector<std::string>{"max 3", "pos 1", "pos 2", "pos 3", "pos 0"}));
    EXPECT_EQ(session_.MapEntries(),
              (std::vector<std::string>{"-33.8567|151.215|B.JPG", "48.1234|-122.4194|b.jpg"}));
    EXPECT_EQ(observer_.lines,
              (std::vector<std::string>{" - Lese Bilddateien", " - 3 Bilder im Verzeichnis gefunden",
                                        " - Starte Datenbankimport", " - 2 Datensätze gelesen und importiert",
                                        " - a.jpg keine Koordinaten gefunden",
                                        " - B.JPG Koordinaten gefunden:", " - -33.8567,151.215 getaggt!",
                                        " - b.jpg Koordinaten gefunden:", " - 48.1234,-122.4194 getaggt!"}));
    EXPECT_TRUE(observer_.errors.empty());
}

struct InputCase {
    std::string name;
    bool gpx;
    bool folder;
    std::string error;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class InputChecks : public SessionRun, public ::testing::WithParamInterface<InputCase> {};

TEST_P(InputChecks, ShowTheErrorAndChangeNothing) {
    const InputCase& c = GetParam();
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    const std::vector<std::string> photos = session_.Photos();
    const std::vector<std::string> entries = session_.MapEntries();
    ASSERT_EQ(entries.size(), 1U);

    RecordingObserver second;
    RunInputs inputs = Inputs();
    if (!c.gpx) {
        inputs.gpxPath.clear();
    }
    if (!c.folder) {
        inputs.folder.clear();
    }
    EXPECT_EQ(session_.Run(inputs, second), RunResult::inputMissing);
    EXPECT_EQ(second.errors, std::vector<std::string>{c.error});
    EXPECT_TRUE(second.lines.empty());
    EXPECT_TRUE(second.progress.empty());
    EXPECT_EQ(session_.Photos(), photos);
    EXPECT_EQ(session_.MapEntries(), entries);
}

INSTANTIATE_TEST_SUITE_P(
    TaggingRun, InputChecks,
    ::testing::Values(InputCase{"NoGpx", false, true, "Bitte geben Sie eine gpx-Datei an!"},
                      InputCase{"NoFolder", true, false, "Bitte geben Sie einen Ordner mit jpg-Dateien an!"},
                      InputCase{"NeitherNamesTheGpxFirst", false, false,
                                "Bitte geben Sie eine gpx-Datei an!"}),
    [](const auto& p) { return p.param.name; });

TEST_F(SessionRun, FailedImportKeepsTheProgressBarAndTouchesNoPhoto) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    const Bytes before = ReadFileBytes(photos_ / "a.jpg");
    WriteFileText(gpx_, "<gpx><wpt lat=\"1\" lon=\"2\"><time>kaputt</time></wpt></gpx>");
    EXPECT_EQ(session_.Run(Inputs(), observer_), RunResult::importFailed);
    EXPECT_EQ(observer_.progress, std::vector<std::string>{"max 1"});
    EXPECT_EQ(observer_.lines.back(), " - 0 Datensätze gelesen und importiert");
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "a.jpg")));
}

TEST_F(SessionRun, ErrorEndsTheRunAndKeepsProgressAndEntries) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileText(photos_ / "b.jpg", "damaged");
    WriteFileBytes(photos_ / "c.jpg", Photo("2024:06:15 10:00:10"));
    const Bytes third = ReadFileBytes(photos_ / "c.jpg");
    EXPECT_THROW(session_.Run(Inputs(), observer_), Error);
    EXPECT_EQ(observer_.progress, (std::vector<std::string>{"max 3", "pos 1"}));
    EXPECT_EQ(session_.MapEntries(), std::vector<std::string>{"48.1234|-122.4194|a.jpg"});
    EXPECT_TRUE(BytesEqual(third, ReadFileBytes(photos_ / "c.jpg")));
    // The session is usable again after the error.
    WriteFileBytes(photos_ / "b.jpg", Photo(std::nullopt));
    RecordingObserver again;
    EXPECT_EQ(session_.Run(Inputs(), again), RunResult::done);
}

TEST_F(SessionRun, PhotoWhoseSaveFailsKeepsItsMapEntry) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    // An EXIF segment filled almost to its size limit: with the GPS tags added it no longer fits one
    // segment, so the save is refused after the map entry went in.
    sample::PhotoSpec full;
    full.width = 32;
    full.height = 24;
    full.dateTimeOriginal = "2024:06:15 10:00:10";
    full.descriptionLength = 65260;
    WriteFileBytes(photos_ / "b.jpg", sample::MakePhoto(full));
    const Bytes before = ReadFileBytes(photos_ / "b.jpg");

    EXPECT_THROW(session_.Run(Inputs(), observer_), Error);
    EXPECT_EQ(session_.MapEntries(),
              (std::vector<std::string>{"48.1234|-122.4194|a.jpg", "-33.8567|151.215|b.jpg"}));
    EXPECT_EQ(observer_.lines.back(), " - b.jpg Koordinaten gefunden:");
    EXPECT_EQ(observer_.progress, (std::vector<std::string>{"max 2", "pos 1"}));
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "b.jpg")));
    // No temporary file of the refused save is left beside the photos.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(photos_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

TEST_F(SessionRun, StartFromInsideTheImportIsIgnored) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    std::optional<RunResult> nested;
    std::optional<bool> cleared;
    observer_.onProcessMessages = [&] {
        RecordingObserver inner;
        nested = session_.Run(Inputs(), inner);
        cleared = session_.clearDatabase();
    };
    EXPECT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    EXPECT_EQ(nested, RunResult::busy);
    EXPECT_EQ(cleared, false);
    EXPECT_EQ(session_.MapEntries().size(), 1U);
    EXPECT_TRUE(session_.clearDatabase());  // once the run is over the table can be emptied again
}

TEST_F(SessionRun, StopRequestEndsTheRunBetweenPhotos) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10"));
    const Bytes second = ReadFileBytes(photos_ / "b.jpg");
    observer_.onProgress = [this](int position) { observer_.stop = position == 1; };
    EXPECT_EQ(session_.Run(Inputs(), observer_), RunResult::stopped);
    EXPECT_EQ(session_.MapEntries(), std::vector<std::string>{"48.1234|-122.4194|a.jpg"});
    EXPECT_TRUE(BytesEqual(second, ReadFileBytes(photos_ / "b.jpg")));
    EXPECT_EQ(observer_.progress, (std::vector<std::string>{"max 2", "pos 1", "pos 0"}));
    // One closing line says that the run was stopped and how far it got.
    ASSERT_GE(observer_.lines.size(), 2U);
    EXPECT_EQ(observer_.lines[observer_.lines.size() - 2], " - 48.1234,-122.4194 getaggt!");
    EXPECT_EQ(observer_.lines.back(), " - Lauf abgebrochen: 1 von 2 Bildern bearbeitet.");
    // And a front end that shows no log lines is told so, once.
    EXPECT_EQ(observer_.stops,
              std::vector<std::string>{"1 of 2: Lauf abgebrochen: 1 von 2 Bildern bearbeitet."});
}

// A stop that comes during the import ends it as a failed one; the run says it was stopped all the same.
TEST_F(SessionRun, StopDuringTheImportIsAStoppedRun) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    const Bytes photo = ReadFileBytes(photos_ / "a.jpg");
    observer_.stop = true;
    EXPECT_EQ(session_.Run(Inputs(), observer_), RunResult::stopped);
    ASSERT_GE(observer_.lines.size(), 2U);
    EXPECT_EQ(observer_.lines[observer_.lines.size() - 2], " - 0 Datensätze gelesen und importiert");
    EXPECT_EQ(observer_.lines.back(), " - Lauf abgebrochen: 0 von 1 Bild bearbeitet.");
    EXPECT_EQ(observer_.stops,
              std::vector<std::string>{"0 of 1: Lauf abgebrochen: 0 von 1 Bild bearbeitet."});
    EXPECT_TRUE(BytesEqual(photo, ReadFileBytes(photos_ / "a.jpg")));
}

TEST(TaggingRun, StoppedRunMessageCountsPhotos) {
    EXPECT_EQ(StoppedRunMessage(12, 300), "Lauf abgebrochen: 12 von 300 Bildern bearbeitet.");
    EXPECT_EQ(StoppedRunMessage(0, 1), "Lauf abgebrochen: 0 von 1 Bild bearbeitet.");
    EXPECT_EQ(PathBelowFolder("/p/sub/a.jpg", "/p/"), "sub/a.jpg");
    EXPECT_EQ(PathBelowFolder("/q/a.jpg", "/p/"), "a.jpg");
}

// A photo the user may not write is not replaced by the rename: the save refuses it by name, and the run
// ends as for any failed save. Bytes, mode, inode and times stay; no temporary file is left behind.
TEST_F(SessionRun, ReadOnlyPhotoIsRefusedAndStaysAsItWas) {
    const fs::path photo = photos_ / "a.jpg";
    WriteFileBytes(photo, Photo("2024:06:15 10:00:00"));
    ASSERT_EQ(::chmod(photo.c_str(), 0444), 0);
    const std::array<timespec, 2> times{timespec{1'500'000'000, 111'222'333},
                                        timespec{1'500'000'000, 444'555'666}};
    ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times.data(), 0), 0);
    const Bytes bytes = ReadFileBytes(photo);
    struct stat before {};
    ASSERT_EQ(::stat(photo.c_str(), &before), 0);

    try {
        static_cast<void>(session_.Run(Inputs(), observer_));
        ADD_FAILURE() << "the read-only photo was saved";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Die Datei " + photo.string() + " ist schreibgeschützt und wird nicht geändert.");
    }
    struct stat after {};
    ASSERT_EQ(::stat(photo.c_str(), &after), 0);
    EXPECT_TRUE(BytesEqual(bytes, ReadFileBytes(photo)));
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    for (const auto& [was, is] :
         {std::pair{before.st_mtim, after.st_mtim}, std::pair{before.st_ctim, after.st_ctim}}) {
        EXPECT_EQ(is.tv_sec, was.tv_sec);
        EXPECT_EQ(is.tv_nsec, was.tv_nsec);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(photos_), fs::directory_iterator()), 1);
    // The rule of a failed save: its map entry was made before the save, its log stops at the find.
    EXPECT_EQ(session_.MapEntries(), std::vector<std::string>{"48.1234|-122.4194|a.jpg"});
    EXPECT_EQ(observer_.lines.back(), " - a.jpg Koordinaten gefunden:");
}

// The page's markers carry the camera time of each tagged photo and the zone the run took it in; a name
// may hold the entry's separator.
TEST_F(SessionRun, MapPageContentCarriesShotTimesAndFileNames) {
    WriteFileBytes(photos_ / "a|<b>\"c\".jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10"));
    WriteFileBytes(photos_ / "c.jpg", Photo("2024:06:15 12:00:00"));  // no point
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    const std::vector<MapPhoto> want{
        {{48.1234, -122.4194}, "a|<b>\"c\".jpg", "15.06.2024 10:00:00 (UTC + 2:00)"},
        {{-33.8567, 151.215}, "b.jpg", "15.06.2024 10:00:10 (UTC + 2:00)"}};
    EXPECT_EQ(session_.MapPageContent().photos, want);

    // Another zone moves the camera time and names it; the lists of the earlier run are gone.
    fs::remove(photos_ / "a|<b>\"c\".jpg");
    fs::remove(photos_ / "b.jpg");
    RunInputs utc = Inputs();
    utc.zoneIndex = 11;
    WriteFileBytes(photos_ / "d.jpg", Photo("2024:06:15 08:00:10"));
    ASSERT_EQ(session_.Run(utc, observer_), RunResult::done);
    EXPECT_EQ(session_.MapPageContent().photos,
              (std::vector<MapPhoto>{{{-33.8567, 151.215}, "d.jpg", "15.06.2024 08:00:10 (UTC)"}}));
    session_.ClearMapEntries();
    EXPECT_TRUE(session_.MapShots().empty());
    EXPECT_TRUE(session_.MapPageContent().photos.empty());
}

// The lines are the table's points in time order; a pause of more than 15 minutes starts a new line, and
// a point whose coordinates are no number is left out (it never reaches the page).
TEST_F(SessionRun, TrackLinesFollowTheTableInTimeOrder) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    session_.connection().Execute(
        "INSERT INTO gpx VALUES ('1,5', '2', '2024-06-15 08:15:10'),"  // exactly 15 minutes: same line
        "('3', '4', '2024-06-15 08:30:11'),"                           // 15 minutes and 1 second: new
        "('5', '6', '2024-06-15 07:59:59'),"                           // inserted late, comes first
        "('1\"</script><b>', '2', '2024-06-15 08:20:00'), ('7', '', '2024-06-15 08:20:01'),"
        "('1e400', '2', '2024-06-15 08:20:02'),"  // no double holds it
        "('9', '10', '2024-06-15 08:30:11')");    // same second: import order
    const std::vector<std::vector<MapPoint>> want{
        {{5, 6}, {48.1234, -122.4194}, {-33.8567, 151.215}, {1.5, 2}}, {{3, 4}, {9, 10}}};
    EXPECT_EQ(session_.MapPageContent().tracks, want);

    // The lines only accompany the markers: without a readable table the page has none.
    session_.connection().Execute("DROP TABLE gpx");
    const MapContent content = session_.MapPageContent();
    EXPECT_TRUE(content.tracks.empty());
    EXPECT_EQ(content.photos.size(), 1U);
}

// ---- the opt-in settings of a run ----

Bytes PhotoStoringOffset(std::string shot, std::string offsetTimeOriginal) {
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = std::move(shot);
    spec.offsetTimeOriginal = std::move(offsetTimeOriginal);
    return sample::MakePhoto(spec);
}

TEST_F(SessionRun, PhotoZoneTakesTheOffsetAPhotoStores) {
    // 13:30 in India (+05:30) is 08:00 UTC, the first point; read in the list zone it would be 11:30 UTC.
    const Bytes india = PhotoStoringOffset("2024:06:15 13:30:00", "+05:30");
    WriteFileBytes(photos_ / "b.jpg", india);
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:10"));  // stores none: the list zone
    RunSettings settings;
    settings.photoZone = true;
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    EXPECT_EQ(session_.MapEntries(),
              (std::vector<std::string>{"-33.8567|151.215|a.jpg", "48.1234|-122.4194|b.jpg"}));
    // Each popup names the offset its photo was read in.
    EXPECT_EQ(session_.MapPageContent().photos,
              (std::vector<MapPhoto>{{{-33.8567, 151.215}, "a.jpg", "15.06.2024 10:00:10 (UTC + 2:00)"},
                                     {{48.1234, -122.4194}, "b.jpg", "15.06.2024 13:30:00 (UTC + 5:30)"}}));

    // Without the setting the stored offset is not looked at.
    WriteFileBytes(photos_ / "b.jpg", india);
    RecordingObserver plain;
    ASSERT_EQ(session_.Run(Inputs(), plain), RunResult::done);
    EXPECT_EQ(plain.lines.back(), " - b.jpg keine Koordinaten gefunden");
    EXPECT_TRUE(BytesEqual(india, ReadFileBytes(photos_ / "b.jpg")));
}

TEST_F(SessionRun, ClockOffsetAndNamedZoneMoveTheShotTime) {
    // The camera ran 90 s slow in Berlin summer time: 09:58:30 on its clock was 08:00:00 UTC.
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 09:58:30"));
    RunSettings settings;
    settings.clockOffsetSeconds = 90;
    settings.zone = CameraZone::Parse("Europe/Berlin");
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    EXPECT_EQ(session_.MapEntries(), std::vector<std::string>{"48.1234|-122.4194|a.jpg"});
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(DateTimeText(exif.GPSDateTimeUTC()), "2024-06-15 08:00:00");
    // The popup shows the local time, the slow clock corrected, in the zone it was read in.
    EXPECT_EQ(session_.MapPageContent().photos,
              (std::vector<MapPhoto>{
                  {{48.1234, -122.4194}, "a.jpg", "15.06.2024 10:00:00 (Europe/Berlin, UTC + 2:00)"}}));
}

TEST_F(SessionRun, SeveralGpxFilesAreAllImportedBeforeAnyPhotoIsMatched) {
    // Two loggers whose points interleave: file A at :00, :20 and :40, file B at :10 and :30.
    WriteFileText(gpx_,
                  "<gpx><trk><trkseg>"
                  "<trkpt lat=\"1.0\" lon=\"1.0\"><time>2024-06-15T08:00:00Z</time></trkpt>"
                  "<trkpt lat=\"1.2\" lon=\"1.0\"><time>2024-06-15T08:00:20Z</time></trkpt>"
                  "<trkpt lat=\"1.4\" lon=\"1.0\"><time>2024-06-15T08:00:40Z</time></trkpt>"
                  "</trkseg></trk></gpx>");
    const fs::path second = tmp_ / "second.gpx";
    WriteFileText(second,
                  "<gpx><trk><trkseg>"
                  "<trkpt lat=\"2.1\" lon=\"2.0\"><time>2024-06-15T08:00:10Z</time></trkpt>"
                  "<trkpt lat=\"2.3\" lon=\"2.0\"><time>2024-06-15T08:00:30Z</time></trkpt>"
                  "</trkseg></trk></gpx>");
    for (int s = 0; s <= 40; s += 10) {
        WriteFileBytes(photos_ / ("p" + std::to_string(s) + ".jpg"),
                       Photo("2024:06:15 10:00:" + std::string(s < 10 ? "0" : "") + std::to_string(s)));
    }
    RunSettings settings;
    settings.moreGpxPaths = {second.string()};
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    const std::vector<std::string> head(observer_.lines.begin(), observer_.lines.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{
                        " - Lese Bilddateien", " - 5 Bilder im Verzeichnis gefunden",
                        " - Starte Datenbankimport", " - 3 Datensätze gelesen und importiert",
                        " - Starte Datenbankimport", " - 2 Datensätze gelesen und importiert"}));
    EXPECT_EQ(session_.MapEntries(),
              (std::vector<std::string>{"1.0|1.0|p0.jpg", "2.1|2.0|p10.jpg", "1.2|1.0|p20.jpg",
                                        "2.3|2.0|p30.jpg", "1.4|1.0|p40.jpg"}));

    // Interpolation never bridges two files: 08:00:05 lies between a point of A and one of B, so the
    // point lookup decides (5 s either way: both are equally near, the earlier is A's).
    fs::remove_all(photos_);
    fs::create_directories(photos_);
    WriteFileBytes(photos_ / "between.jpg", Photo("2024:06:15 10:00:05"));
    settings.interpolateMaxGap = 60;
    RunInputs inputs = Inputs();
    inputs.toleranceSeconds = 5;
    RecordingObserver again;
    ASSERT_EQ(session_.Run(inputs, again, settings), RunResult::done);
    EXPECT_EQ(session_.MapEntries(), std::vector<std::string>{"1.0|1.0|between.jpg"});
}

TEST_F(SessionRun, InterpolatedPositionAltitudeBelowSeaLevelAndThePhotosOwnTime) {
    WriteFileText(
        gpx_,
        "<gpx><trk><trkseg>"
        "<trkpt lat=\"48.0\" lon=\"11.0\"><ele>-10</ele><time>2024-06-15T08:00:00Z</time></trkpt>"
        "<trkpt lat=\"48.0001\" lon=\"11.0002\"><ele>-20</ele><time>2024-06-15T08:00:10Z</time></trkpt>"
        "</trkseg></trk></gpx>");
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:04"));
    RunSettings settings;
    settings.interpolateMaxGap = 60;
    settings.altitude = true;
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    EXPECT_EQ(observer_.lines.back(), " - 48.00004,11.00008 getaggt!");
    EXPECT_EQ(session_.MapEntries(), std::vector<std::string>{"48.00004|11.00008|a.jpg"});
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(exif.GPSLatitude().Degrees(), TTiffLongWordFraction(48, 1));
    EXPECT_EQ(exif.GPSLatitude().Minutes(), TTiffLongWordFraction(0, 1));
    EXPECT_EQ(exif.GPSLatitude().Seconds(), TTiffLongWordFraction(18, 125));   // 0.144"
    EXPECT_EQ(exif.GPSLongitude().Seconds(), TTiffLongWordFraction(36, 125));  // 0.288"
    EXPECT_EQ(DateTimeText(exif.GPSDateTimeUTC()), "2024-06-15 08:00:04");
    EXPECT_EQ(exif.GPSAltitudeRef(), alBelowSeaLevel);
    EXPECT_EQ(exif.GPSAltitude(), TTiffLongWordFraction(14, 1));
}

TEST_F(SessionRun, AltitudeOfATrackWithoutElevationsWritesTheSamePhoto) {
    // The same photo tagged once plainly and once asking for altitudes that the track does not have.
    const Bytes photo = Photo("2024:06:15 10:00:00");
    WriteFileBytes(photos_ / "a.jpg", photo);
    ASSERT_EQ(session_.Run(Inputs(), observer_), RunResult::done);
    const Bytes plain = ReadFileBytes(photos_ / "a.jpg");
    WriteFileBytes(photos_ / "a.jpg", photo);
    RunSettings settings;
    settings.altitude = true;
    RecordingObserver withAltitude;
    ASSERT_EQ(session_.Run(Inputs(), withAltitude, settings), RunResult::done);
    EXPECT_TRUE(BytesEqual(plain, ReadFileBytes(photos_ / "a.jpg")));
    EXPECT_EQ(withAltitude.lines, observer_.lines);
}

TEST_F(SessionRun, AnEmptyFurtherGpxPathIsAMissingGpxFile) {
    RunSettings settings;
    settings.moreGpxPaths = {gpx_.string(), ""};
    EXPECT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::inputMissing);
    EXPECT_EQ(observer_.errors, std::vector<std::string>{"Bitte geben Sie eine gpx-Datei an!"});
    EXPECT_TRUE(observer_.lines.empty());
}

TEST_F(SessionRun, AFurtherGpxFileThatFailsEndsTheRunBeforeAnyPhoto) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    const Bytes before = ReadFileBytes(photos_ / "a.jpg");
    const fs::path broken = tmp_ / "broken.gpx";
    WriteFileText(broken, "<gpx><wpt lat=\"1\" lon=\"2\"><time>kaputt</time></wpt></gpx>");
    RunSettings settings;
    settings.moreGpxPaths = {broken.string(), gpx_.string()};
    EXPECT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::importFailed);
    EXPECT_EQ(observer_.lines,
              (std::vector<std::string>{" - Lese Bilddateien", " - 1 Bilder im Verzeichnis gefunden",
                                        " - Starte Datenbankimport", " - 2 Datensätze gelesen und importiert",
                                        " - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                        " - 0 Datensätze gelesen und importiert"}));
    // Why, for a front end that says it beside the log: the file and the point. No error box.
    EXPECT_EQ(
        observer_.importFailures,
        std::vector<std::string>{broken.string() + ": wpt Nr. 1 (lat \"1\", lon \"2\", time \"kaputt\"): " +
                                 "''kapu'' ist kein gültiger Integer-Wert"});
    EXPECT_TRUE(observer_.errors.empty());
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "a.jpg")));
}

}  // namespace
}  // namespace zeloro::test
