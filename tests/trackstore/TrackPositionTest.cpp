// tests/trackstore/TrackPositionTest.cpp: interpolation between the points around a photo's UTC time,
// the fall-back to the point lookup, elevations, and the detail columns of the track table.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/Error.h"
#include "support/TestSupport.h"
#include "trackstore/Database.h"
#include "trackstore/TrackDetails.h"
#include "trackstore/TrackPosition.h"

namespace zeloro {
namespace {

DateTimeValue at(int h, int mi, int s) { return EncodeDateTime(2024, 6, 15, h, mi, s, 0); }

struct Point {
    std::string lat;
    std::string lon;
    DateTimeValue utc;
    std::optional<int> segment;
    std::optional<std::string> ele;
};

class Position : public ::testing::Test {
protected:
    void SetUp() override {
        connection.Open(":memory:");
        connection.Execute(test::ReadFileText(test::SourceDir() / "db" / "schema.sql"));
        EnsureTrackDetailColumns(connection);
    }

    void insert(const std::vector<Point>& points) {
        query.SetSQL(kGpxInsertWithDetailsStatement);
        for (const Point& p : points) {
            query.ParamByName("lat").SetAsString(p.lat);
            query.ParamByName("lon").SetAsString(p.lon);
            query.ParamByName("utctime").SetAsDateTime(p.utc);
            Param& segment = query.ParamByName("segment");
            Param& ele = query.ParamByName("ele");
            segment.Clear();
            ele.Clear();
            if (p.segment) {
                segment.SetAsString(std::to_string(*p.segment));
            }
            if (p.ele) {
                ele.SetAsString(*p.ele);
            }
            query.ExecSQL();
        }
    }

    static PositionRules Interpolating(int maxGap = 60, int tolerance = 0) {
        return PositionRules{tolerance, maxGap, true};
    }

    Connection connection;
    Query query{connection};
};

TEST_F(Position, InterpolatesLatitudeLongitudeAndElevationLinearlyInTime) {
    insert({{"48.0", "11.0", at(8, 0, 0), 1, "100"}, {"48.0001", "11.0002", at(8, 0, 10), 1, "110"}});
    const TrackPosition p = FindTrackPosition(at(8, 0, 4), Interpolating(), query);
    ASSERT_TRUE(p.coord.found);
    EXPECT_TRUE(p.interpolated);
    EXPECT_EQ(p.coord.lat, "48.00004");
    EXPECT_EQ(p.coord.lon, "11.00008");
    EXPECT_EQ(p.coord.gps_lt_dr, "N");
    EXPECT_EQ(p.coord.gps_ln_dr, "E");
    EXPECT_EQ(p.coord.gps_lt_dg, 48);
    EXPECT_EQ(p.coord.gps_lt_mm, 0);
    EXPECT_NEAR(static_cast<double>(p.coord.gps_lt_ss), 0.144, 1e-9);  // 0.00004° = 0.144"
    // The photo's own second, not a point's.
    EXPECT_EQ(DateTimeText(p.coord.utctime), "2024-06-15 08:00:04");
    ASSERT_TRUE(p.altitude.has_value());
    EXPECT_NEAR(static_cast<double>(*p.altitude), 104.0, 1e-9);
    EXPECT_FALSE(query.Active());
}

TEST_F(Position, SouthWestAndAcrossTheDateLine) {
    insert({{"-33.8567", "-70.65", at(8, 0, 0), 1, "-10"},
            {"-33.8569", "-70.6502", at(8, 0, 20), 1, "-20"},
            // Across the 180th meridian the short way: 0.0002° of longitude in 10 s.
            {"-17.0", "179.9999", at(9, 0, 0), 2, std::nullopt},
            {"-17.0", "-179.9999", at(9, 0, 10), 2, std::nullopt}});
    const TrackPosition sw = FindTrackPosition(at(8, 0, 5), Interpolating(), query);
    EXPECT_EQ(sw.coord.lat, "-33.85675");
    EXPECT_EQ(sw.coord.lon, "-70.65005");
    EXPECT_EQ(sw.coord.gps_lt_dr, "S");
    EXPECT_EQ(sw.coord.gps_ln_dr, "W");
    ASSERT_TRUE(sw.altitude.has_value());
    EXPECT_NEAR(static_cast<double>(*sw.altitude), -12.5, 1e-9);

    const TrackPosition east = FindTrackPosition(at(9, 0, 2), Interpolating(), query);
    EXPECT_EQ(east.coord.lon, "179.99994");
    EXPECT_EQ(east.coord.gps_ln_dr, "E");
    const TrackPosition west = FindTrackPosition(at(9, 0, 8), Interpolating(), query);
    EXPECT_EQ(west.coord.lon, "-179.99994");
    EXPECT_EQ(west.coord.gps_ln_dr, "W");
    EXPECT_FALSE(west.altitude.has_value());  // neither point has an elevation
}

TEST_F(Position, ExactlyOnAPointTakesItsOwnTexts) {
    insert({{"48.1000", "11.5000", at(8, 0, 0), 1, "395"},
            {"+48.1001", "11.5002", at(8, 0, 10), 1, "396.5"},
            {"48.1002", "11.5004", at(8, 0, 20), 1, std::nullopt}});
    const TrackPosition p = FindTrackPosition(at(8, 0, 10) + 0.4 / 86400, Interpolating(), query);
    ASSERT_TRUE(p.coord.found);
    EXPECT_EQ(p.coord.lat, "+48.1001");  // as stored, sign and all
    EXPECT_EQ(p.coord.lon, "11.5002");
    EXPECT_EQ(DateTimeText(p.coord.utctime), "2024-06-15 08:00:10");
    ASSERT_TRUE(p.altitude.has_value());
    EXPECT_NEAR(static_cast<double>(*p.altitude), 396.5, 1e-9);
    // On the last point: nothing after it is needed.
    const TrackPosition last = FindTrackPosition(at(8, 0, 20), Interpolating(), query);
    EXPECT_EQ(last.coord.lat, "48.1002");
    EXPECT_FALSE(last.altitude.has_value());
}

struct GapCase {
    std::string name;
    DateTimeValue photo;
    int maxGap;
    int tolerance = 0;
    std::optional<std::string> lat;  // nullopt: not found
    bool interpolated;
};

void PrintTo(const GapCase& c, std::ostream* os) { *os << c.name; }

class PositionGap : public Position, public ::testing::WithParamInterface<GapCase> {};

// Segment 1 ends at 08:00:10, segment 2 runs from 08:00:30 to 08:01:30 (60 s) and on to 08:02:31 (61 s).
TEST_P(PositionGap, FallsBackToThePointLookup) {
    const GapCase& c = GetParam();
    insert({{"1.0", "1.0", at(8, 0, 0), 1, std::nullopt},
            {"1.1", "1.0", at(8, 0, 10), 1, std::nullopt},
            {"2.0", "2.0", at(8, 0, 30), 2, std::nullopt},
            {"2.6", "2.0", at(8, 1, 30), 2, std::nullopt},
            {"3.21", "2.0", at(8, 2, 31), 2, std::nullopt}});
    const TrackPosition p = FindTrackPosition(c.photo, Interpolating(c.maxGap, c.tolerance), query);
    EXPECT_EQ(p.coord.found, c.lat.has_value());
    if (c.lat) {
        EXPECT_EQ(p.coord.lat, *c.lat);
    }
    EXPECT_EQ(p.interpolated, c.interpolated);
}

INSTANTIATE_TEST_SUITE_P(
    Position, PositionGap,
    ::testing::Values(
        // 08:00:20 lies between two segments: no interpolation across the gap, the point lookup decides.
        GapCase{"SegmentGapExactLookupFindsNothing", at(8, 0, 20), 60, 0, std::nullopt, false},
        // The fallback takes the point nearest in the window; of two equally near, the earlier.
        GapCase{"SegmentGapWindowTakesTheNearerPoint", at(8, 0, 22), 60, 15, "2.0", false},
        GapCase{"SegmentGapWindowEquallyNearTakesTheEarlier", at(8, 0, 20), 60, 10, "1.1", false},
        // A gap of exactly MAXGAP is bridged, one second more is not.
        GapCase{"GapOfExactlyMaxGap", at(8, 1, 0), 60, 0, "2.3", true},
        GapCase{"GapBeyondMaxGap", at(8, 2, 0), 60, 0, std::nullopt, false},
        GapCase{"GapBeyondMaxGapWindow", at(8, 2, 0), 60, 30, "2.6", false},
        GapCase{"LargerMaxGapBridgesIt", at(8, 2, 0), 61, 0, "2.9", true},
        // Before the first and after the last point there is nothing to interpolate between.
        GapCase{"BeforeTheTrack", at(7, 59, 59), 60, 0, std::nullopt, false},
        GapCase{"BeforeTheTrackWindow", at(7, 59, 59), 60, 1, "1.0", false},
        GapCase{"AfterTheTrack", at(8, 2, 32), 60, 0, std::nullopt, false}),
    [](const auto& p) { return p.param.name; });

TEST_F(Position, PointsInNoSegmentAreNotInterpolated) {
    // Waypoints, and rows a plain import wrote, have no segment.
    insert({{"1.0", "1.0", at(8, 0, 0), std::nullopt, std::nullopt},
            {"1.1", "1.0", at(8, 0, 10), std::nullopt, std::nullopt}});
    EXPECT_FALSE(FindTrackPosition(at(8, 0, 5), Interpolating(), query).coord.found);
}

TEST_F(Position, ARowWhoseTimeIsNoTimeIsNeverInterpolatedWith) {
    // Text that is no date-time sorts after every time and reads back as 0; it must not pass for the
    // point after the photo.
    insert({{"1.0", "1.0", at(8, 0, 0), 1, std::nullopt}});
    connection.Execute("INSERT INTO gpx (lat,lon,utctime,segment) VALUES ('9.0','9.0','no time',1)");
    EXPECT_FALSE(FindTrackPosition(at(8, 0, 5), Interpolating(), query).coord.found);
}

TEST_F(Position, WithoutInterpolationTheElevationIsThePointsOwn) {
    insert({{"1.0", "1.0", at(8, 0, 0), std::nullopt, "-3.5"},
            {"1.1", "1.0", at(8, 0, 10), std::nullopt, std::nullopt}});
    const PositionRules rules{0, std::nullopt, true};
    const TrackPosition below = FindTrackPosition(at(8, 0, 0), rules, query);
    ASSERT_TRUE(below.coord.found);
    EXPECT_FALSE(below.interpolated);
    ASSERT_TRUE(below.altitude.has_value());
    EXPECT_NEAR(static_cast<double>(*below.altitude), -3.5, 1e-9);
    const TrackPosition none = FindTrackPosition(at(8, 0, 10), rules, query);
    ASSERT_TRUE(none.coord.found);
    EXPECT_FALSE(none.altitude.has_value());
    // Not asked for: none.
    EXPECT_FALSE(FindTrackPosition(at(8, 0, 0), PositionRules{0, std::nullopt, false}, query).altitude);
    // The point's time stays its own without interpolation.
    const TrackPosition window = FindTrackPosition(at(8, 0, 3), PositionRules{3, std::nullopt, true}, query);
    EXPECT_EQ(DateTimeText(window.coord.utctime), "2024-06-15 08:00:00");
}

TEST_F(Position, ACoordinateThatIsNoNumberEndsTheLookupAsThePlainOneDoes) {
    insert(
        {{"48.0", "11.0", at(8, 0, 0), 1, std::nullopt}, {"48,0,1", "11.0", at(8, 0, 10), 1, std::nullopt}});
    try {
        (void)FindTrackPosition(at(8, 0, 5), Interpolating(), query);
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'48,0,1' ist kein gültiger Gleitkommawert");
    }
}

TEST(TrackDetails, ATableWithoutTheColumnsGainsThemAndKeepsItsRows) {
    Connection connection;
    connection.Open(":memory:");
    connection.Execute(test::ReadFileText(test::SourceDir() / "db" / "schema.sql"));
    connection.Execute("INSERT INTO gpx (lat,lon,utctime) VALUES ('1.5','2.5','2024-06-15 08:00:00')");
    Query query(connection);
    // Before the columns exist, interpolation falls back to the plain lookup.
    const TrackPosition before =
        FindTrackPosition(at(8, 0, 0) + 1.0 / 86400, PositionRules{1, 60, false}, query);
    EXPECT_EQ(before.coord.lat, "1.5");
    EXPECT_FALSE(before.interpolated);

    EnsureTrackDetailColumns(connection);
    EnsureTrackDetailColumns(connection);  // a second call finds both and adds nothing
    EXPECT_EQ(NextTrackSegment(connection), 1);
    query.SetSQL("SELECT lat, lon, utctime, ele, segment FROM gpx");
    query.Open();
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.FieldByName("lat").AsString(), "1.5");
    EXPECT_EQ(query.FieldByName("utctime").AsString(), "2024-06-15 08:00:00");
    EXPECT_TRUE(query.FieldByName("ele").IsNull());
    EXPECT_TRUE(query.FieldByName("segment").IsNull());
    EXPECT_EQ(query.FieldByName("ele").Kind(), FieldKind::real);
    EXPECT_EQ(query.FieldByName("segment").Kind(), FieldKind::integer);
    query.Close();

    connection.Execute("INSERT INTO gpx (lat,lon,utctime,segment) VALUES ('1','2','2024-06-15 08:00:01',41)");
    EXPECT_EQ(NextTrackSegment(connection), 42);
}

TEST(TrackDetails, AMissingTableIsNamed) {
    Connection connection;
    connection.Open(":memory:");
    try {
        EnsureTrackDetailColumns(connection);
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "no such table: gpx");
    }
}

TEST(TrackPosition, DegreesTextHasAtMostSevenDecimals) {
    EXPECT_EQ(DegreesText(48.00004L), "48.00004");
    EXPECT_EQ(DegreesText(48.0L), "48");
    EXPECT_EQ(DegreesText(-33.85675L), "-33.85675");
    EXPECT_EQ(DegreesText(11.123456789L), "11.1234568");
    EXPECT_EQ(DegreesText(-0.00000001L), "0");
    EXPECT_EQ(DegreesText(-179.99994L), "-179.99994");
    EXPECT_EQ(DegreesText(0.5L), "0.5");
}

}  // namespace
}  // namespace zeloro
