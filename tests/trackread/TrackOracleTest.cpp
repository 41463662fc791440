// tests/trackread/TrackOracleTest.cpp: the FIT, NMEA and IGC readers against gpsbabel's reading of the same
// shared file.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "support/TestSupport.h"
#include "trackread/CollectingSink.h"
#include "trackread/FitTrack.h"
#include "trackread/IgcTrack.h"
#include "trackread/NmeaTrack.h"
#include "trackread/TextTrackTesting.h"

namespace zeloro::test {
namespace {

// The timed track points of a GPX text, without its waypoints, which a log keeps without a time.
std::vector<OraclePoint> TimedTrackPoints(const std::string& gpx) {
    static const std::regex point(R"re(<trkpt lat="([^"]+)" lon="([^"]+)">([\s\S]*?)</trkpt>)re");
    static const std::regex time(R"(<time>(\d{4}-\d\d-\d\d)T(\d\d:\d\d:\d\d))");
    std::vector<OraclePoint> points;
    for (auto it = std::sregex_iterator(gpx.begin(), gpx.end(), point); it != std::sregex_iterator(); ++it) {
        const std::string body = (*it)[3];
        std::smatch when;
        if (std::regex_search(body, when, time)) {
            points.push_back({std::stod((*it)[1]), std::stod((*it)[2]), when[1].str() + " " + when[2].str()});
        }
    }
    return points;
}

struct OracleCase {
    std::string file;
    std::string format;  // gpsbabel's name
    std::string twin;    // the GPX file it was written from, read instead, below the shared folder
    void (*read)(std::istream&, TrackPointSink&);
    double tolerance;  // degrees
};
void PrintTo(const OracleCase& c, std::ostream* os) { *os << c.file; }

class TrackOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(TrackOracle, GivesGpsbabelsTimedPoints) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    const OracleCase& c = GetParam();
    const std::filesystem::path file = SharedTestData() / "tracks" / c.file;
    std::vector<OraclePoint> expected;
    if (!c.twin.empty()) {
        expected = TimedTrackPoints(ReadFileText(SharedTestData() / c.twin));
    } else if (const auto read = GpsbabelTimedPoints(file, c.format)) {
        expected = *read;
    } else {
        ZELORO_SKIP_OUTSIDE_CI("gpsbabel is not installed");
    }
    ASSERT_FALSE(expected.empty());
    std::ifstream in(file, std::ios::binary);
    CollectingSink sink;
    c.read(in, sink);
    const std::vector<TrackPoint> points = sink.Points();
    ASSERT_EQ(points.size(), expected.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        SCOPED_TRACE("point " + std::to_string(i));
        EXPECT_NEAR(points[i].latitude, expected[i].latitude, c.tolerance);
        EXPECT_NEAR(points[i].longitude, expected[i].longitude, c.tolerance);
        EXPECT_EQ(DateTimeText(points[i].utcTime), expected[i].time);
    }
}

// NMEA and IGC write thousandths of a minute.
constexpr double kMilliMinute = 1.0 / 60000.0;

INSTANTIATE_TEST_SUITE_P(
    TrackRead, TrackOracle,
    ::testing::Values(OracleCase{"exiv2_FurnaceCreekInn.fit", "garmin_fit", {}, ReadFit, 1e-6},
                      OracleCase{"gpsbabel_expertgps.fit", "garmin_fit", {}, ReadFit, 1e-6},
                      // gpsbabel's own NMEA reading gives each GGA the time of the RMC after it when RMC
                      // comes first in a second, as gpsbabel writes it: the GPX twin the logs were written
                      // from holds the points of each second.
                      OracleCase{"exiv2_FurnaceCreekInn.nmea", "nmea", "gpx/exiv2_FurnaceCreekInn.gpx",
                                 ReadNmea, kMilliMinute},
                      OracleCase{"gpsbabel_expertgps.nmea", "nmea", "gpx/gpsbabel_expertgps.gpx", ReadNmea,
                                 kMilliMinute},
                      OracleCase{"exiftool_Geotag.igc", "igc", {}, ReadIgc, kMilliMinute},
                      OracleCase{"gpsbabel_fitwrite-track.igc", "igc", {}, ReadIgc, kMilliMinute}),
    [](const auto& p) {
        std::string name;
        for (const char ch : p.param.file) {
            name += std::isalnum(static_cast<unsigned char>(ch)) != 0 ? ch : '_';
        }
        return name;
    });

}  // namespace
}  // namespace zeloro::test
