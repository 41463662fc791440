// tests/tagging/PhotoKindsTest.cpp: every photo kind in a run: the scan, sidecar names, shot times of
// each clock, the sidecar a run writes, and a run that goes on over failed photos.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "SamplePhoto.h"
#include "common/Error.h"
#include "common/ReasonText.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGSegments.h"
#include "metadata/XMPSidecar.h"
#include "rawfile/RawGpsWrite.h"
#include "support/TestSupport.h"
#include "tagging/FolderScan.h"
#include "tagging/PhotoKinds.h"
#include "tagging/TaggingSession.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct PlanCase {
    std::string_view name;
    Strings photos;
    SidecarNaming naming;
    Strings sidecars;  // per photo
    Strings owners;    // per photo: the owner of its base name, "" when none
};
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }
class SidecarNames : public ::testing::TestWithParam<PlanCase> {};
TEST_P(SidecarNames, MatchesTable) {
    const PlanCase& c = GetParam();
    const SidecarPlan plan(c.photos, c.naming);
    for (std::size_t i = 0; i < c.photos.size(); ++i) {
        EXPECT_EQ(plan.SidecarOf(c.photos[i]), c.sidecars[i]) << c.photos[i];
        EXPECT_EQ(plan.BaseOwnerOf(c.photos[i]).value_or(""), c.owners[i]) << c.photos[i];
    }
}
INSTANTIATE_TEST_SUITE_P(
    PhotoKinds, SidecarNames,
    ::testing::Values(PlanCase{"ExtensionKeepsTheWholeName",
                               {"d/IMG_1.CR2", "d/IMG_1.MOV"},
                               SidecarNaming::extension,
                               {"d/IMG_1.CR2.xmp", "d/IMG_1.MOV.xmp"},
                               {"", ""}},
                      PlanCase{"BaseGoesToRawThenHeifThenVideo",
                               {"d/IMG_1.HEIC", "d/IMG_1.MOV", "d/IMG_1.nef"},
                               SidecarNaming::base,
                               {"d/IMG_1.HEIC.xmp", "d/IMG_1.MOV.xmp", "d/IMG_1.xmp"},
                               {"d/IMG_1.nef", "d/IMG_1.nef", ""}},
                      PlanCase{"SameRankByName",
                               {"d/a.mov", "d/a.mp4"},
                               SidecarNaming::base,
                               {"d/a.xmp", "d/a.mp4.xmp"},
                               {"", "d/a.mov"}},
                      PlanCase{"OtherFoldersAndJpegsClaimNothing",
                               {"d/a.jpg", "d/a.mov", "e/a.cr3"},
                               SidecarNaming::base,
                               {"d/a.xmp", "d/a.xmp", "e/a.xmp"},
                               {"", "", ""}},
                      PlanCase{
                          "HiddenNameWithoutBase", {"d/.mov"}, SidecarNaming::base, {"d/.mov.xmp"}, {""}}),
    [](const auto& p) { return std::string(p.param.name); });

// Compared as texts to the second: the shifts add and subtract fractions of a day.
TEST(PhotoKinds, ShotTimesOfEachClockInUtc) {
    RunInputs inputs;
    inputs.zoneIndex = 13;  // UTC + 2:00
    const RunSettings plain;
    const DateTimeValue ten = EncodeDateTime(2024, 6, 15, 10, 0, 0, 0);
    const DateTimeValue eight = EncodeDateTime(2024, 6, 15, 8, 0, 0, 0);
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::camera, 0}, inputs, plain)),
              DateTimeText(eight));
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::utc, 0}, inputs, plain)),
              DateTimeText(ten));
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::offset, 120}, inputs, plain)),
              DateTimeText(eight));
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::offset, -330}, inputs, plain)),
              DateTimeText(EncodeDateTime(2024, 6, 15, 15, 30, 0, 0)));
    // The camera's clock offset counts for every kind; the zone only for the camera's clock.
    RunSettings slow;
    slow.clockOffsetSeconds = 90;
    const DateTimeValue ninety = EncodeDateTime(2024, 6, 15, 10, 1, 30, 0);
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::utc, 0}, inputs, slow)),
              DateTimeText(ninety));
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::camera, 0}, inputs, slow)),
              DateTimeText(EncodeDateTime(2024, 6, 15, 8, 1, 30, 0)));
    EXPECT_EQ(DateTimeText(MediaShotToUtc(ShotTime{ten, ShotTime::Clock::offset, 0}, inputs, slow)),
              DateTimeText(ninety));
}

TEST(PhotoKinds, SidecarDatesWithAndWithoutOffset) {
    const DateTimeValue ten = EncodeDateTime(2024, 6, 15, 10, 0, 0, 0);
    EXPECT_EQ(SidecarShot(XMPSidecarTime{ten, std::nullopt}), (ShotTime{ten, ShotTime::Clock::camera, 0}));
    EXPECT_EQ(SidecarShot(XMPSidecarTime{ten, 3600}), (ShotTime{ten, ShotTime::Clock::offset, 60}));
    EXPECT_EQ(SidecarShot(XMPSidecarTime{ten, 0}), (ShotTime{ten, ShotTime::Clock::offset, 0}));
}

TEST(PhotoKinds, ErrorsThatEndARunThatGoesOn) {
    EXPECT_TRUE(EndsRunAlways(DatabaseError(10, "disk I/O error")));
    EXPECT_TRUE(EndsRunAlways(StreamError(std::string(kStreamWriteError) + ": " + ReasonText(ENOSPC))));
    EXPECT_TRUE(EndsRunAlways(FileError("Datei x kann nicht erstellt werden. " + ReasonText(EDQUOT))));
    EXPECT_TRUE(EndsRunAlways(std::bad_alloc()));
    EXPECT_FALSE(EndsRunAlways(EInvalidJPEGHeader()));
    EXPECT_FALSE(EndsRunAlways(StreamError(std::string(kStreamReadError) + ": " + ReasonText(EIO))));
    EXPECT_FALSE(EndsRunAlways(MediaError("Box zu kurz")));
    EXPECT_FALSE(EndsRunAlways(UnknownPhotoKind()));
}

// One folder with a file of every sort the scan of every kind tells apart.
TEST(PhotoKinds, ScanOfEveryKindListsPhotosNotesSidecarsAndCountsTheRest) {
    const TempDir dir;
    const fs::path& r = dir.path();
    fs::create_directories(r / "S");
    for (const char* file : {"a.CR2", "a.CR2.xmp", "b.heic", "c.JPEG", "d.jpg", "e.mov", "notes.txt", "f.XMP",
                             ".e.mov.zeloro-abc123", ".a.CR2.xmp.zeloro-abc123", "S/g.mp4", "S/h.png"}) {
        WriteFileText(r / file, "x");
    }
    WriteFileText(r / RawJournalName("a.CR2"), "x");  // a killed write into the RAW: for its recovery
    ASSERT_EQ(mkfifo((r / "fifo.nef").c_str(), 0600), 0);
    fs::create_symlink(r / "f.XMP", r / "link.xmp");
    Strings list;
    ScanFindings findings;
    FindPhotosRecursive(
        r.string(), [](std::string_view name) { return IsAllPhotosName(name); }, list, true, &findings, true);
    const std::string root = r.string() + "/";
    EXPECT_EQ(list, (Strings{root + "a.CR2", root + "b.heic", root + "c.JPEG", root + "d.jpg", root + "e.mov",
                             root + "S/g.mp4"}));
    EXPECT_EQ(findings.sidecars.size(), 3U);
    EXPECT_TRUE(findings.sidecars.contains(root + "a.CR2.xmp"));
    EXPECT_TRUE(findings.sidecars.contains(root + "link.xmp"));
    EXPECT_TRUE(findings.links.contains(root + "link.xmp"));
    EXPECT_EQ(findings.otherFiles, 2U);  // notes.txt, S/h.png; the FIFO is no file at all
    EXPECT_EQ(findings.rawJournals, Strings{root + RawJournalName("a.CR2")});
    // A killed save of the sidecar left its temporary file, as one of the video did.
    std::sort(findings.staleTemporaries.begin(), findings.staleTemporaries.end());
    EXPECT_EQ(findings.staleTemporaries,
              (Strings{root + ".a.CR2.xmp.zeloro-abc123", root + ".e.mov.zeloro-abc123"}));
}

TEST(PhotoKinds, DefaultScanNotesNoSidecars) {
    const TempDir dir;
    WriteFileText(dir / "a.jpg", "x");
    WriteFileText(dir / "a.jpg.xmp", "x");
    WriteFileText(dir / ".a.jpg.xmp.zeloro-abc123", "x");
    Strings list;
    ScanFindings findings;
    FindFilesRecursive(dir.path().string(), "*.jpg", list, true, &findings);
    EXPECT_EQ(list.size(), 1U);
    EXPECT_TRUE(findings.sidecars.empty());
    EXPECT_EQ(findings.otherFiles, 0U);
    EXPECT_TRUE(findings.staleTemporaries.empty());
}

class KindsObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void PhotoHandled(const PhotoReport& report) override { reports.push_back(report); }
    void Notice(const std::string& text) override { notices.push_back(text); }
    Strings lines;
    Strings errors;
    Strings notices;
    std::vector<PhotoReport> reports;
};

Bytes Photo(const std::string& shot) {
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = shot;
    return sample::MakePhoto(spec);
}

// The first bytes of a HEIF image: a file type box with the brand heic.
Bytes HeifHead() {
    Bytes bytes =
        Raw(std::string_view("\0\0\0\x18"
                             "ftypheic\0\0\0\0mif1heic",
                             24));
    bytes.resize(64, 0);
    return bytes;
}

// A TIFF whose Exif directory holds the shot time: the smallest TIFF-based RAW.
Bytes ShotTiff(const std::string& shot) {
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, shot)});
    return tiff.Build();
}

class KindsRun : public ::testing::Test {
protected:
    void SetUp() override {
        Connection con;
        con.Open((tmp_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos_);
        WriteFileText(gpx_,
                      "<gpx><trk><trkseg>"
                      "<trkpt lat=\"48.1234\" lon=\"-122.4194\"><time>2024-06-15T08:00:00Z</time></trkpt>"
                      "<trkpt lat=\"-33.8567\" lon=\"151.215\"><time>2024-06-15T08:00:10Z</time></trkpt>"
                      "</trkseg></trk></gpx>");
        session_.Connect();
    }

    RunInputs Inputs() const { return {gpx_.string(), photos_.string(), 13, 0, RunModes{}, 1}; }

    TempDir tmp_;
    fs::path photos_ = tmp_ / "photos";
    fs::path gpx_ = tmp_ / "track.gpx";
    TaggingSession session_{(tmp_.path() / "").string()};
    KindsObserver observer_;
};

// A truncated JPEG and a HEIF named .jpg amid good photos: by default the first ends the run as it always
// did; going on over failures, both are reported skipped and every other photo is tagged.
TEST_F(KindsRun, KeepGoingSkipsTheFailedPhotosAndTagsTheRest) {
    const Bytes good = Photo("2024:06:15 10:00:00");
    WriteFileBytes(photos_ / "a.jpg", good);
    WriteFileBytes(photos_ / "b.jpg", Bytes(good.begin(), good.begin() + 40));
    WriteFileBytes(photos_ / "c.jpg", HeifHead());
    WriteFileBytes(photos_ / "d.jpg", Photo("2024:06:15 10:00:10"));
    const Bytes last = ReadFileBytes(photos_ / "d.jpg");

    EXPECT_THROW(session_.Run(Inputs(), observer_), Error);
    EXPECT_TRUE(BytesEqual(last, ReadFileBytes(photos_ / "d.jpg")));
    ASSERT_EQ(observer_.reports.size(), 2U);
    EXPECT_EQ(observer_.reports[1].status, PhotoStatus::failed);

    WriteFileBytes(photos_ / "a.jpg", good);
    KindsObserver going;
    RunSettings settings;
    settings.keepGoing = true;
    ASSERT_EQ(session_.Run(Inputs(), going, settings), RunResult::done);
    ASSERT_EQ(going.reports.size(), 4U);
    EXPECT_EQ(going.reports[0].status, PhotoStatus::tagged);
    EXPECT_EQ(going.reports[1].status, PhotoStatus::failed);
    EXPECT_EQ(going.reports[2].status, PhotoStatus::failed);
    EXPECT_EQ(going.reports[3].status, PhotoStatus::tagged);
    EXPECT_EQ(going.reports[2].message, "c.jpg: JPEG header is not valid – übersprungen");
    EXPECT_TRUE(std::find(going.lines.begin(), going.lines.end(),
                          " - c.jpg: JPEG header is not valid – übersprungen") != going.lines.end());
    EXPECT_TRUE(going.reports[1].message.starts_with("b.jpg: ")) << going.reports[1].message;
    EXPECT_TRUE(going.reports[1].message.ends_with(" – übersprungen")) << going.reports[1].message;
    EXPECT_EQ(session_.MapEntries(), (Strings{"48.1234|-122.4194|a.jpg", "-33.8567|151.215|d.jpg"}));
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "d.jpg").string());
    EXPECT_EQ(exif.GPSLatitude().Direction(), ltSouth);
}

// Every kind in one folder: the JPEG in the file whatever its name, the RAW through a new sidecar, the
// unknown content under a photo name failed, the rest counted.
TEST_F(KindsRun, AllPhotosTagsAJpegInTheFileAndARawThroughItsSidecar) {
    WriteFileBytes(photos_ / "a.jpeg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.nef", Photo("2024:06:15 10:00:10"));  // a JPEG under a RAW name
    const Bytes raw = ShotTiff("2024:06:15 10:00:10");
    WriteFileBytes(photos_ / "c.dng", raw);
    WriteFileText(photos_ / "notes.txt", "x");
    WriteFileText(photos_ / "z.mov", "no movie");
    RunSettings settings;
    settings.allPhotos = true;
    settings.keepGoing = true;
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    EXPECT_EQ(observer_.notices, Strings{"1 Datei in einem anderen Format übersprungen"});
    EXPECT_EQ(session_.MapEntries(),
              (Strings{"48.1234|-122.4194|a.jpeg", "-33.8567|151.215|b.nef", "-33.8567|151.215|c.dng"}));
    // A camera's clock of any kind is shown in the list zone it was read in.
    EXPECT_EQ(session_.MapPageContent().photos.at(2).shotTime, "15.06.2024 10:00:10 (UTC + 2:00)");
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "b.nef").string());
    EXPECT_EQ(exif.GPSLatitude().Direction(), ltSouth);
    // The RAW itself is untouched; its sidecar is the new small packet.
    EXPECT_TRUE(BytesEqual(raw, ReadFileBytes(photos_ / "c.dng")));
    const std::string sidecar = ReadFileText(photos_ / "c.dng.xmp");
    EXPECT_EQ(sidecar, NewXMPSidecarText(
                           std::vector<XMPSidecarProperty>{{"GPSVersionID", "2.3.0.0"},
                                                           {"GPSLatitude", "33,51.402S"},
                                                           {"GPSLongitude", "151,12.9E"},
                                                           {"GPSTimeStamp", "2024-06-15T08:00:10.000Z"}}));
    ASSERT_EQ(observer_.reports.size(), 4U);
    EXPECT_EQ(observer_.reports[3].message, "z.mov: unbekanntes Dateiformat – übersprungen");
    EXPECT_FALSE(fs::exists(photos_ / "z.mov.xmp"));
}

TEST_F(KindsRun, ExistingSidecarGivesTheShotTimeAndIsSplicedAndADryRunWritesNothing) {
    // A RAW without a shot time of its own; its sidecar has one, with an offset, and a rating.
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Short(0x0112, {1})});
    WriteFileBytes(photos_ / "IMG_1.dng", tiff.Build());
    const std::string before =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
        " <rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/'"
        " xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='5'"
        " exif:DateTimeOriginal='2024-06-15T09:00:10+01:00'/>\n"
        "</rdf:RDF></x:xmpmeta>\n";
    WriteFileText(photos_ / "IMG_1.xmp", before);
    RunSettings settings;
    settings.allPhotos = true;
    settings.sidecar = SidecarNaming::base;
    RunInputs dry = Inputs();
    dry.modes.dryRun = true;
    ASSERT_EQ(session_.Run(dry, observer_, settings), RunResult::done);
    EXPECT_EQ(session_.MapEntries(), Strings{"-33.8567|151.215|IMG_1.dng"});
    EXPECT_EQ(ReadFileText(photos_ / "IMG_1.xmp"), before);
    // The map's popup shows the time in the offset it was stored with.
    EXPECT_EQ(session_.MapPageContent().photos.at(0).shotTime, "15.06.2024 09:00:10 (UTC + 1:00)");

    KindsObserver real;
    ASSERT_EQ(session_.Run(Inputs(), real, settings), RunResult::done);
    const std::string after = ReadFileText(photos_ / "IMG_1.xmp");
    EXPECT_EQ(after, UpdateXMPSidecarText(before, std::vector<XMPSidecarProperty>{
                                                      {"GPSVersionID", "2.3.0.0"},
                                                      {"GPSLatitude", "33,51.402S"},
                                                      {"GPSLongitude", "151,12.9E"},
                                                      {"GPSTimeStamp", "2024-06-15T08:00:10.000Z"}}));
    EXPECT_EQ(after.substr(0, before.find("\n</rdf:RDF>")), before.substr(0, before.find("\n</rdf:RDF>")));
    // The sidecar's position now counts as the file's own.
    KindsObserver skip;
    RunInputs skipTagged = Inputs();
    skipTagged.modes.skipTagged = true;
    ASSERT_EQ(session_.Run(skipTagged, skip, settings), RunResult::done);
    ASSERT_EQ(skip.reports.size(), 1U);
    EXPECT_EQ(skip.reports[0].status, PhotoStatus::skipped);
}

// Two RAW files of one base name: the first by name owns "c.xmp", the other keeps "c.nef.xmp" and says why.
TEST_F(KindsRun, SharedBaseNameGivesTheBaseSidecarToTheFirstAndSaysSoForTheOther) {
    WriteFileBytes(photos_ / "c.dng", ShotTiff("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "c.nef", ShotTiff("2024:06:15 10:00:10"));
    RunSettings settings;
    settings.allPhotos = true;
    settings.sidecar = SidecarNaming::base;
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    EXPECT_EQ(std::vector<std::string>(observer_.lines.end() - 5, observer_.lines.end()),
              (Strings{" - c.dng Koordinaten gefunden:", " - 48.1234,-122.4194 getaggt!",
                       " - c.nef Koordinaten gefunden:",
                       " - c.nef: Begleitdatei c.nef.xmp, da c.xmp zu c.dng gehört",
                       " - -33.8567,151.215 getaggt!"}));
    EXPECT_NE(ReadFileText(photos_ / "c.xmp").find("48,7.404N"), std::string::npos);
    EXPECT_NE(ReadFileText(photos_ / "c.nef.xmp").find("33,51.402S"), std::string::npos);
    EXPECT_FALSE(fs::exists(photos_ / "c.dng.xmp"));
}

// A RAW whose image data reaches past its end cannot safely take the position in itself: the run says so
// and writes the sidecar instead; the file stays byte for byte.
TEST_F(KindsRun, RawInFileRefusedForACutFileGivesTheSidecar) {
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Long(0x0111, {100000}), tiff.Long(0x0117, {64}), tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, "2024:06:15 10:00:00")});
    const Bytes cut = tiff.Build();
    WriteFileBytes(photos_ / "cut.nef", cut);
    RunSettings settings;
    settings.allPhotos = true;
    settings.rawInFile = true;
    ASSERT_EQ(session_.Run(Inputs(), observer_, settings), RunResult::done);
    EXPECT_TRUE(
        std::find(observer_.lines.begin(), observer_.lines.end(),
                  " - cut.nef: nicht in der Datei getaggt: Bilddaten reichen über das Dateiende hinaus "
                  "(die Datei ist abgeschnitten); die Position steht in der Begleitdatei cut.nef.xmp") !=
        observer_.lines.end())
        << ::testing::PrintToString(observer_.lines);
    EXPECT_EQ(observer_.lines.back(), " - 48.1234,-122.4194 getaggt!");
    EXPECT_TRUE(BytesEqual(cut, ReadFileBytes(photos_ / "cut.nef")));
    EXPECT_TRUE(ReadXMPSidecarFacts(ReadFileText(photos_ / "cut.nef.xmp")).hasGpsPosition);
}

}  // namespace
}  // namespace zeloro::test
