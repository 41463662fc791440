// tests/trackread/IgcTrackTest.cpp: IGC B records into points.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/TestSupport.h"
#include "trackread/CollectingSink.h"
#include "trackread/IgcTrack.h"

namespace zeloro::test {
namespace {

std::vector<TrackPoint> Read(const std::string& text, CollectingSink& sink) {
    std::istringstream in(text);
    ReadIgc(in, sink);
    EXPECT_TRUE(sink.orphans.empty());
    return sink.Points();
}

TEST(IgcTrack, ReadsBRecordsWithTheirDayRollingOverAtMidnight) {
    CollectingSink sink;
    const auto points = Read(
        "AXXX001\r\n"
        "B2359584807038N01131000EA0045000460\r\n"  // before the date: left out
        "HFDTEDATE:311224,01\r\n"
        "B2359584807038N01131000EA0045000460\r\n"
        "B0000024807038S01131000WA0045000000\r\n"
        "BDAMAGED\r\n"
        "B0000034807038N01131000EV0000000000\r\n",
        sink);
    ASSERT_EQ(points.size(), 3U);
    EXPECT_EQ(sink.segments.size(), 1U);
    EXPECT_DOUBLE_EQ(points[0].latitude, 48 + 7.038 / 60);
    EXPECT_DOUBLE_EQ(points[0].longitude, 11 + 31.0 / 60);
    EXPECT_EQ(DateTimeText(points[0].utcTime), "2024-12-31 23:59:58");
    EXPECT_EQ(points[0].elevation, 460.0);  // the GNSS altitude
    EXPECT_DOUBLE_EQ(points[1].latitude, -(48 + 7.038 / 60));
    EXPECT_DOUBLE_EQ(points[1].longitude, -(11 + 31.0 / 60));
    EXPECT_EQ(DateTimeText(points[1].utcTime), "2025-01-01 00:00:02");
    EXPECT_EQ(points[1].elevation, 450.0);  // the pressure altitude when the GNSS one is 0
    EXPECT_FALSE(points[2].elevation.has_value());
}

TEST(IgcTrack, ReadsTheShortDateLine) {
    CollectingSink sink;
    const auto points = Read("HFDTE250502\nB1706213003731N09136621WA0000000001\n", sink);
    ASSERT_EQ(points.size(), 1U);
    EXPECT_EQ(DateTimeText(points[0].utcTime), "2002-05-25 17:06:21");
}

TEST(IgcTrack, GivesNothingWithoutADate) {
    CollectingSink sink;
    EXPECT_TRUE(Read("AXXX\nB1706213003731N09136621WA0000000001\n", sink).empty());
    EXPECT_TRUE(sink.segments.empty());
}

}  // namespace
}  // namespace zeloro::test
