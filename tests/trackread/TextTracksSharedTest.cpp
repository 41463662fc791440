// tests/trackread/TextTracksSharedTest.cpp: the shared track files read by our readers against an
// independent reading of the same file (gpsbabel) or of its GPX twin.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TextTrackTesting.h"
#include "support/TestSupport.h"
#include "trackread/TextTracks.h"

namespace zeloro::test {
namespace {

std::filesystem::path Tracks() { return SharedTestData() / "tracks"; }

std::vector<TrackPoint> ReadFile(const StreamReader& reader, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << file;
    RecordingSink sink;
    reader(in, sink);
    return sink.points;
}

struct OracleCase {
    const char* file;
    const char* gpsbabelFormat;
    StreamReader reader;
};

// Each of these files gives the timed points gpsbabel reads from it; gpsbabel's GeoJSON carries no
// times, so there both find none (and the import says the file has no times).
TEST(TextTracksShared, FilesGiveTheTimedPointsGpsbabelReads) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    const OracleCase cases[] = {
        {"exiv2_FurnaceCreekInn.kml", "kml", ReadKml},
        {"exiv2_FurnaceCreekInn.gxtrack.kml", "kml", ReadKml},
        {"gpsbabel_expertgps.kml", "kml", ReadKml},
        {"exiv2_FurnaceCreekInn.tcx", "gtrnctr", ReadTcx},
        {"gpsbabel_expertgps.tcx", "gtrnctr", ReadTcx},
        {"exiv2_FurnaceCreekInn.geojson", "geojson", ReadGeoJson},
        {"gpsbabel_expertgps.geojson", "geojson", ReadGeoJson},
    };
    for (const OracleCase& c : cases) {
        SCOPED_TRACE(c.file);
        const auto expected = GpsbabelTimedPoints(Tracks() / c.file, c.gpsbabelFormat);
        if (!expected) {
            ZELORO_SKIP_OUTSIDE_CI("gpsbabel is not installed");
        }
        const std::vector<TrackPoint> points = ReadFile(c.reader, Tracks() / c.file);
        EXPECT_TRUE(SamePoints(*expected, points));
        const bool untimed = std::string(c.gpsbabelFormat) == "geojson";
        EXPECT_EQ(points.empty(), untimed);
    }
}

// The JSON, CSV and timed GeoJSON files hold the timed points of their GPX twin.
TEST(TextTracksShared, FilesGiveTheirGpxTwinsPoints) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    const std::vector<OraclePoint> twin =
        GpxTimedPoints(ReadFileText(SharedTestData() / "gpx" / "exiv2_FurnaceCreekInn.gpx"));
    ASSERT_EQ(twin.size(), 42U);
    const std::pair<const char*, StreamReader> cases[] = {
        {"exiv2_FurnaceCreekInn.csv", ReadCsv},
        {"exiv2_FurnaceCreekInn.Records.json", ReadGoogleRecords},
        {"exiv2_FurnaceCreekInn.Timeline.json", ReadGoogleTimeline},
        {"exiv2_FurnaceCreekInn.timed.geojson", ReadGeoJson},
    };
    for (const auto& [file, reader] : cases) {
        SCOPED_TRACE(file);
        EXPECT_TRUE(SamePoints(twin, ReadFile(reader, Tracks() / file)));
    }
}

}  // namespace
}  // namespace zeloro::test
