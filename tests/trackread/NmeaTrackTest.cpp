// tests/trackread/NmeaTrackTest.cpp: NMEA sentences into points.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/TestSupport.h"
#include "trackread/CollectingSink.h"
#include "trackread/NmeaTrack.h"

namespace zeloro::test {
namespace {

// "$BODY*hh" with the checksum of the body.
std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + body + "*" + hex + "\r\n";
}

std::string Rmc(const std::string& time, const std::string& date, char status = 'A',
                const std::string& talker = "GP") {
    return Sentence(talker + "RMC," + time + "," + status + ",4807.038,N,01131.000,E,0.0,0.0," + date + ",,");
}

std::string Gga(const std::string& time, char quality = '1', const std::string& talker = "GP") {
    return Sentence(talker + "GGA," + time + ",4807.038,N,01131.000,W," + quality +
                    ",08,0.9,545.4,M,46.9,M,,");
}

std::vector<TrackPoint> Read(const std::string& text, CollectingSink& sink) {
    std::istringstream in(text);
    ReadNmea(in, sink);
    EXPECT_TRUE(sink.orphans.empty());
    EXPECT_LE(sink.segments.size(), 1U);  // one segment per file
    return sink.Points();
}

std::vector<std::string> Times(const std::vector<TrackPoint>& points) {
    std::vector<std::string> times;
    for (const TrackPoint& point : points) {
        times.push_back(DateTimeText(point.utcTime));
    }
    return times;
}

TEST(NmeaTrack, ReadsRmcPosition) {
    CollectingSink sink;
    const auto points = Read(Rmc("123519.000", "230394"), sink);
    ASSERT_EQ(points.size(), 1U);
    EXPECT_DOUBLE_EQ(points[0].latitude, 48 + 7.038 / 60);
    EXPECT_DOUBLE_EQ(points[0].longitude, 11 + 31.0 / 60);
    EXPECT_EQ(DateTimeText(points[0].utcTime), "1994-03-23 12:35:19");
    EXPECT_FALSE(points[0].elevation.has_value());
}

struct NmeaCase {
    std::string name;
    std::string text;
    std::vector<std::string> times;
};
void PrintTo(const NmeaCase& c, std::ostream* os) { *os << c.name; }

class NmeaCases : public ::testing::TestWithParam<NmeaCase> {};

TEST_P(NmeaCases, GivesThePointsOfTheseSeconds) {
    CollectingSink sink;
    EXPECT_EQ(Times(Read(GetParam().text, sink)), GetParam().times);
}

INSTANTIATE_TEST_SUITE_P(
    NmeaTrack, NmeaCases,
    ::testing::Values(
        NmeaCase{"WrongChecksumLeftOut",
                 "$GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,150624,,*00\n" + Rmc("120001", "150624"),
                 {"2024-06-15 12:00:01"}},
        NmeaCase{"WithoutChecksum",
                 "$GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,150624,,\n",
                 {"2024-06-15 12:00:00"}},
        NmeaCase{"VoidFixLeftOut",
                 Rmc("120000", "150624", 'V') + Rmc("120001", "150624"),
                 {"2024-06-15 12:00:01"}},
        NmeaCase{"QualityZeroLeftOut",
                 Rmc("120000", "150624") + Gga("120001", '0') + Gga("120002"),
                 {"2024-06-15 12:00:00", "2024-06-15 12:00:02"}},
        NmeaCase{
            "GgaTakesTheDateOfTheLastRmc",
            Rmc("120000", "150624") + Gga("120005") + Rmc("120010", "160624") + Gga("120015"),
            {"2024-06-15 12:00:00", "2024-06-15 12:00:05", "2024-06-16 12:00:10", "2024-06-16 12:00:15"}},
        NmeaCase{
            "GgaPastMidnightIsOfTheNextDay",
            Rmc("235958", "311224") + Gga("235959") + Gga("000001") + Gga("000002"),
            {"2024-12-31 23:59:58", "2024-12-31 23:59:59", "2025-01-01 00:00:01", "2025-01-01 00:00:02"}},
        NmeaCase{"GgaBeforeAnyRmcOnlyWithTheRmcOfItsSecond",
                 Gga("115959") + Gga("120000") + Rmc("120000", "150624"),
                 {"2024-06-15 12:00:00"}},
        NmeaCase{
            "OtherTalkers",
            Rmc("120000", "150624", 'A', "GN") + Rmc("120001", "150624", 'A', "GL") +
                Rmc("120002", "150624", 'A', "GA") + Rmc("120003", "150624", 'A', "BD") +
                Rmc("120004", "150624", 'A', "GX"),
            {"2024-06-15 12:00:00", "2024-06-15 12:00:01", "2024-06-15 12:00:02", "2024-06-15 12:00:03"}},
        NmeaCase{"GnsWithoutFixLeftOut",
                 Rmc("120000", "150624") +
                     Sentence("GNGNS,120001,4807.038,N,01131.000,E,NN,08,0.9,545.4,46.9,,") +
                     Sentence("GNGNS,120002,4807.038,N,01131.000,E,AN,08,0.9,545.4,46.9,,"),
                 {"2024-06-15 12:00:00", "2024-06-15 12:00:02"}},
        NmeaCase{"NoSentences", "hello\nworld\n", {}}),
    [](const auto& p) { return p.param.name; });

TEST(NmeaTrack, JoinsTheSentencesOfOneSecond) {
    CollectingSink sink;
    const auto points =
        Read(Gga("120000.00") + Rmc("120000.00", "150624") + Rmc("120001", "150624") + Gga("120001"), sink);
    ASSERT_EQ(points.size(), 2U);
    // The first sentence's position (the GGA's is west), the GGA's elevation.
    EXPECT_LT(points[0].longitude, 0);
    EXPECT_EQ(points[0].elevation, 545.4);
    EXPECT_GT(points[1].longitude, 0);
    EXPECT_EQ(points[1].elevation, 545.4);
}

TEST(NmeaTrack, KeepsFractionsOfASecond) {
    CollectingSink sink;
    const auto points = Read(Rmc("120000.75", "150624"), sink);
    ASSERT_EQ(points.size(), 1U);
    EXPECT_EQ(DecodeTime(points[0].utcTime).millisecond, 750);
}

}  // namespace
}  // namespace zeloro::test
