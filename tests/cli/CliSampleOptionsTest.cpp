// tests/cli/CliSampleOptionsTest.cpp: zeloro-cli on a copy of the bundled sample with each time and
// matching option, the written photos read back by exiftool, an independent reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "SamplePhoto.h"
#include "support/ExifRead.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// What exiftool reads from a tagged photo: signed decimal degrees, UTC date and time, and the altitude
// tags ("-" when missing).
struct SampleFix {
    std::string lat;
    std::string lon;
    std::string utc;     // "2026:05:16 08:00:30"
    std::string logged;  // the position as the log and the map page write it: the track's own texts
    std::string altitude = "-";
    std::string altitudeRef = "-";
};

// Points of the sample track (sample/track.gpx) that the photos meet: IMG_0001, IMG_0002, the two 5 s
// either side of IMG_0003, IMG_0007 (in India) and Hafen/IMG_0006.
const SampleFix kPoint3{"47.659685", "9.17578", "2026:05:16 08:00:30", "47.659685,9.175780"};
const SampleFix kPoint13{"47.660218", "9.17638", "2026:05:16 08:02:10", "47.660218,9.176380"};
const SampleFix kPoint26{"47.66059", "9.17716", "2026:05:16 08:04:20", "47.660590,9.177160"};
const SampleFix kPoint27{"47.660608", "9.17722", "2026:05:16 08:04:30", "47.660608,9.177220"};
const SampleFix kPoint30{"47.660662", "9.1774", "2026:05:16 08:05:00", "47.660662,9.177400"};
const SampleFix kPoint48{"47.661257", "9.17848", "2026:05:16 08:08:00", "47.661257,9.178480"};
// IMG_0003 halfway between points 26 and 27, at its own time; the texts are the interpolation's own.
const SampleFix kBetween26And27{"47.660599", "9.17719", "2026:05:16 08:04:25", "47.660599,9.17719"};

SampleFix WithAltitude(SampleFix fix, std::string metres, std::string ref) {
    fix.altitude = std::move(metres);
    fix.altitudeRef = std::move(ref);
    return fix;
}

using Expected = std::map<std::string, std::optional<SampleFix>>;

// The sample's six photos and IMG_0007, made here: 13:35:00 on a camera that stores "+05:30", which is
// 08:05:00 UTC, but 11:35:00 UTC when read in the zone of the other photos ("UTC + 2:00").
Expected Plain() {
    return {{"IMG_0001.jpg", kPoint3},      {"IMG_0002.jpg", kPoint13},     {"IMG_0003.jpg", std::nullopt},
            {"IMG_0004.jpg", std::nullopt}, {"IMG_0005.jpg", std::nullopt}, {"Hafen/IMG_0006.jpg", kPoint48},
            {"IMG_0007.jpg", std::nullopt}};
}

Expected With(Expected base, const Expected& changes) {
    for (const auto& [photo, fix] : changes) {
        base[photo] = fix;
    }
    return base;
}

Expected OnlyIMG0003(const SampleFix& fix) {
    Expected none;
    for (const auto& [photo, fix0] : Plain()) {
        none[photo] = std::nullopt;
    }
    none["IMG_0003.jpg"] = fix;
    return none;
}

struct SampleCase {
    std::string name;
    std::vector<std::string> options;  // "SECOND" stands for a second GPX file made by the test
    Expected photos;
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

bool HaveExiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

class CliSample : public ::testing::TestWithParam<SampleCase> {
protected:
    void SetUp() override {
        if (!HaveExiftool()) {
            if (std::getenv("CI") != nullptr) {
                FAIL() << "exiftool is missing (scripts/bootstrap.sh installs libimage-exiftool-perl)";
            }
            GTEST_SKIP() << "exiftool is not installed; the photos cannot be read back";
        }
        cli_ = BuildDir() / "zeloro-cli";
        ASSERT_TRUE(fs::exists(cli_)) << cli_;
        fs::copy(SourceDir() / "sample", sample_, fs::copy_options::recursive);
        fs::create_directories(data_);
        fs::copy_file(BuildDir() / "zeloro.sqlite", data_ / "zeloro.sqlite");
        sample::PhotoSpec india;
        india.scene = 6;
        india.dateTimeOriginal = "2026:05:16 13:35:00";
        india.offsetTimeOriginal = "+05:30";
        WriteFileBytes(sample_ / "photos" / "IMG_0007.jpg", sample::MakePhoto(india));
        // A second logger, on after the walk, at the shore of the lake below sea level.
        WriteFileText(second_, GpxText({{"47.6", "9.2", "2026-05-16T08:30:00Z", "-3.5"}}));
    }

    // exiftool's view of one photo.
    static std::optional<SampleFix> ReadBack(const fs::path& photo) {
        const std::vector<std::string> v =
            ExiftoolValues(photo, {"-Composite:GPSLatitude", "-Composite:GPSLongitude", "-GPSDateStamp",
                                   "-GPSTimeStamp", "-EXIF:GPSAltitude", "-EXIF:GPSAltitudeRef"});
        if (v.size() != 6U) {
            return std::nullopt;
        }
        if (v[0] == "-" && v[1] == "-" && v[2] == "-" && v[3] == "-") {
            return std::nullopt;
        }
        return SampleFix{v[0], v[1], v[2] + " " + v[3], "", v[4], v[5]};
    }

    TempDir tmp_;
    fs::path sample_ = tmp_ / "sample";
    fs::path data_ = tmp_ / "data";
    fs::path second_ = tmp_ / "second.gpx";
    fs::path cli_;
};

TEST_P(CliSample, PhotosReadBackByExiftool) {
    const SampleCase& c = GetParam();
    std::vector<std::string> args{"--data-dir", data_.string(),
                                  "--gpx",      (sample_ / "track.gpx").string(),
                                  "--photos",   (sample_ / "photos").string()};
    bool zoneGiven = false;
    for (const std::string& option : c.options) {
        args.push_back(option == "SECOND" ? second_.string() : option);
        zoneGiven = zoneGiven || option == "--zone";
    }
    if (!zoneGiven) {
        args.insert(args.end(), {"--zone", "UTC + 2:00"});  // the camera clock of the sample
    }
    std::map<std::string, Bytes> before;
    for (const auto& [photo, fix] : c.photos) {
        before[photo] = ReadFileBytes(sample_ / "photos" / photo);
    }

    const ProcessResult r = RunProcess(cli_, args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& [photo, fix] : c.photos) {
        SCOPED_TRACE(photo);
        const fs::path path = sample_ / "photos" / photo;
        const std::optional<SampleFix> read = ReadBack(path);
        ASSERT_EQ(read.has_value(), fix.has_value());
        if (!fix) {
            EXPECT_TRUE(BytesEqual(before[photo], ReadFileBytes(path)));  // not rewritten at all
            continue;
        }
        EXPECT_EQ(read->lat, fix->lat);
        EXPECT_EQ(read->lon, fix->lon);
        EXPECT_EQ(read->utc, fix->utc);
        EXPECT_EQ(read->altitude, fix->altitude);
        EXPECT_EQ(read->altitudeRef, fix->altitudeRef);
        // The log names the position that was written.
        EXPECT_NE(r.out.find(" - " + fix->logged + " getaggt!"), std::string::npos) << r.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    CliRun, CliSample,
    ::testing::Values(
        SampleCase{"NoNewOption", {}, Plain()},
        // A camera 5 s fast meets point 26 with IMG_0003 and nothing else; 5 s slow, point 27.
        SampleCase{"OffsetInSeconds", {"--offset", "-5"}, OnlyIMG0003(kPoint26)},
        SampleCase{"OffsetAsHoursMinutesSeconds", {"--offset", "+00:00:05"}, OnlyIMG0003(kPoint27)},
        // In May Berlin runs on summer time, the sample's "UTC + 2:00".
        SampleCase{"NamedZone", {"--zone", "Europe/Berlin"}, Plain()},
        SampleCase{"WholeHourOffsetZone", {"--zone", "+02:00"}, Plain()},
        // The same clock read as India time, 3 h 30 min late: the offset comes first, then the zone.
        SampleCase{
            "FixedHalfHourZoneAfterTheOffset", {"--zone", "UTC + 5:30", "--offset", "03:30:00"}, Plain()},
        SampleCase{"PhotoZone", {"--photo-zone"}, With(Plain(), {{"IMG_0007.jpg", kPoint30}})},
        SampleCase{"PhotoZoneBeforeANamedZone",
                   {"--photo-zone", "--zone", "Europe/Berlin"},
                   With(Plain(), {{"IMG_0007.jpg", kPoint30}})},
        SampleCase{"Interpolate", {"--interpolate"}, With(Plain(), {{"IMG_0003.jpg", kBetween26And27}})},
        // Points 10 s apart are not bridged with a largest gap of 9 s.
        SampleCase{"InterpolateGapTooLarge", {"--interpolate=9"}, Plain()},
        SampleCase{"Altitude",
                   {"--altitude"},
                   With(Plain(), {{"IMG_0001.jpg", WithAltitude(kPoint3, "398", "0")},
                                  {"IMG_0002.jpg", WithAltitude(kPoint13, "401", "0")},
                                  {"Hafen/IMG_0006.jpg", WithAltitude(kPoint48, "401", "0")}})},
        SampleCase{"InterpolateWithAltitude",
                   {"--interpolate", "--altitude"},
                   With(Plain(), {{"IMG_0001.jpg", WithAltitude(kPoint3, "398", "0")},
                                  {"IMG_0002.jpg", WithAltitude(kPoint13, "401", "0")},
                                  {"IMG_0003.jpg", WithAltitude(kBetween26And27, "400.5", "0")},
                                  {"Hafen/IMG_0006.jpg", WithAltitude(kPoint48, "401", "0")}})},
        // The second file's point meets IMG_0004, after the walk, 3.5 m below sea level.
        SampleCase{"TwoGpxFilesAndAltitudeBelowSeaLevel",
                   {"--gpx", "SECOND", "--altitude"},
                   With(Plain(), {{"IMG_0001.jpg", WithAltitude(kPoint3, "398", "0")},
                                  {"IMG_0002.jpg", WithAltitude(kPoint13, "401", "0")},
                                  {"IMG_0004.jpg",
                                   SampleFix{"47.6", "9.2", "2026:05:16 08:30:00", "47.6,9.2", "3.5", "1"}},
                                  {"Hafen/IMG_0006.jpg", WithAltitude(kPoint48, "401", "0")}})}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace zeloro::test
