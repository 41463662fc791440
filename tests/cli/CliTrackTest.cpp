// tests/cli/CliTrackTest.cpp: zeloro-cli with track files other than GPX: told by their content, read from
// the standard input, converted by gpsbabel, and refused by what they are.
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "SamplePhoto.h"
#include "support/TestSupport.h"
#include "trackread/FitBuilder.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kEight = 1087372800;  // 2024-06-15 08:00:00 UTC as a FIT time
constexpr std::int32_t kLat = 574204953;      // 48.129303166642785 degrees
constexpr std::int32_t kLon = 128849019;      // 10.800000010058284 degrees

std::string NmeaSentence(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + body + "*" + hex + "\r\n";
}

// A fix at 07:59:50 and one at 08:00:00 UTC, the second at 47.5 N 9.5 E.
const std::string kNmea = NmeaSentence("GPRMC,075950,A,4700.000,N,00900.000,E,0.0,0.0,150624,,") +
                          NmeaSentence("GPRMC,080000,A,4730.000,N,00930.000,E,0.0,0.0,150624,,");

class CliTrack : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = BuildDir() / "zeloro-cli";
        ASSERT_TRUE(fs::exists(cli_)) << cli_;
        fs::create_directories(data_ / "maps");
        fs::copy_file(BuildDir() / "zeloro.sqlite", data_ / "zeloro.sqlite");
        fs::create_directories(photos_);
        sample::PhotoSpec spec;
        spec.width = 64;
        spec.height = 48;
        spec.dateTimeOriginal = "2024:06:15 10:00:00";  // 08:00:00 UTC in zone 13, UTC + 2:00
        WriteFileBytes(photos_ / "IMG_1.jpg", sample::MakePhoto(spec));
        before_ = ReadFileBytes(photos_ / "IMG_1.jpg");
    }

    std::vector<std::string> Args(const std::vector<std::string>& tracks) const {
        std::vector<std::string> args{"--data-dir", data_.string()};
        args.insert(args.end(), tracks.begin(), tracks.end());
        args.insert(args.end(), {"--photos", photos_.string(), "--zone", "13", "--json"});
        return args;
    }

    // The position --json reports for the one photo, or the run's error.
    static std::pair<double, double> Position(const ProcessResult& r) {
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        const std::vector<std::string> lines = SplitLines(r.out);
        if (lines.empty()) {
            ADD_FAILURE() << "no output";
            return {};
        }
        const nlohmann::json photo = nlohmann::json::parse(lines[0]);
        EXPECT_EQ(photo.at("status"), "tagged");
        return {photo.at("latitude").get<double>(), photo.at("longitude").get<double>()};
    }

    TempDir tmp_;
    fs::path data_ = tmp_ / "data";
    fs::path photos_ = tmp_ / "photos";
    fs::path cli_;
    Bytes before_;
};

TEST_F(CliTrack, TagsFromAFitFileToldByItsContent) {
    FitBuilder fit;
    fit.Define(0, kFitRecord, {{kFitTimestamp, 4}, {kFitLat, 4}, {kFitLon, 4}})
        .Data(0, {kEight, static_cast<std::uint32_t>(kLat), static_cast<std::uint32_t>(kLon)});
    const fs::path track = tmp_ / "ride.dat";
    WriteFileBytes(track, fit.Bytes());
    const auto [lat, lon] = Position(RunProcess(cli_, Args({"--gpx", track.string()})));
    EXPECT_DOUBLE_EQ(lat, 48.129303166642785);
    EXPECT_DOUBLE_EQ(lon, 10.800000010058284);
}

TEST_F(CliTrack, TrackIsTheOtherNameOfGpx) {
    const fs::path track = tmp_ / "log.nmea";
    WriteFileText(track, kNmea);
    EXPECT_EQ(Position(RunProcess(cli_, Args({"--track", track.string()}))), std::make_pair(47.5, 9.5));
}

TEST_F(CliTrack, ReadsTheStandardInput) {
    EXPECT_EQ(Position(RunProcessWithInput(cli_, Args({"--gpx", "-"}), kNmea)), std::make_pair(47.5, 9.5));
}

TEST_F(CliTrack, GpsbabelReadsTheFileOfANamedFormat) {
    if (std::system("gpsbabel -V >/dev/null 2>&1") != 0) {
        ZELORO_SKIP_OUTSIDE_CI("gpsbabel is not installed");
    }
    const fs::path track = tmp_ / "log.txt";
    WriteFileText(track, kNmea);
    EXPECT_EQ(Position(RunProcess(cli_, Args({"--track-format", "nmea", "--gpx", track.string()}))),
              std::make_pair(47.5, 9.5));
}

struct RefusedCase {
    std::string name;
    std::string file;
    std::string content;
    std::string error;  // after "PATH: "
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class CliRefusedTrack : public CliTrack, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(CliRefusedTrack, ExitsThreeNamingTheFileAndWhatItIs) {
    const RefusedCase& c = GetParam();
    const fs::path track = tmp_ / c.file;
    WriteFileText(track, c.content);
    const ProcessResult r = RunProcess(cli_, Args({"--gpx", track.string()}));
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.err, track.string() + ": " + c.error + "\n");
    EXPECT_TRUE(BytesEqual(before_, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

INSTANTIATE_TEST_SUITE_P(
    CliTrack, CliRefusedTrack,
    ::testing::Values(RefusedCase{"Photo", "IMG_2.gpx", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10),
                                  "keine Trackdatei (erkannt: JPEG-Bild)"},
                      RefusedCase{"NmeaWithoutTimes", "log.nmea",
                                  NmeaSentence("GPRMC,080000,V,4730.000,N,00930.000,E,0.0,0.0,150624,,"),
                                  "NMEA ohne Zeitangaben – keine Trackpunkte importiert."}),
    [](const auto& p) { return p.param.name; });

TEST_F(CliTrack, TrackFormatWantsAFileAfterIt) {
    const ProcessResult r = RunProcess(cli_, Args({"--gpx", "x.gpx", "--track-format", "nmea"}));
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, "Die Option --track-format gilt für die folgende --gpx-Datei, doch es folgt keine.\n");
}

}  // namespace
}  // namespace zeloro::test
