// tests/trackread/FitTrackTest.cpp: the FIT decoder on files built byte by byte.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "support/TestSupport.h"
#include "trackread/CollectingSink.h"
#include "trackread/FitBuilder.h"
#include "trackread/FitTrack.h"

namespace zeloro::test {
namespace {

// 2024-06-15 08:00:00 UTC in FIT's count of seconds from 1989-12-31 00:00 UTC.
constexpr std::uint64_t kMorning = 1087372800;
constexpr std::int32_t kLat = 574204953;    // 48.1293 degrees as semicircles
constexpr std::int32_t kLon = -1466152704;  // -122.8915 degrees
// The angle of semicircles, to the nearest double.
double Degrees(std::int32_t semicircles) { return semicircles * 180.0 / 2147483648.0; }

std::uint64_t Signed(std::int32_t value) { return static_cast<std::uint32_t>(value); }

std::vector<TrackPoint> Read(const std::vector<std::uint8_t>& bytes, CollectingSink& sink) {
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    ReadFit(in, sink);
    EXPECT_TRUE(sink.orphans.empty());
    return sink.Points();
}

std::vector<FitField> RecordFields() {
    return {{kFitTimestamp, 4}, {kFitLat, 4}, {kFitLon, 4}, {kFitAltitude, 2}};
}

// The same track in either byte order and header size: two points, the second at a compressed time.
class FitByteOrder : public ::testing::TestWithParam<std::pair<bool, std::uint8_t>> {};

TEST_P(FitByteOrder, GivesRecordsInBothArchitectures) {
    const auto [bigEndian, headerSize] = GetParam();
    FitBuilder fit(bigEndian, headerSize);
    fit.Define(0, kFitFileId, {{0, 1}})
        .Data(0, {4})
        .Define(1, kFitRecord, RecordFields())
        .Data(1, {kMorning, Signed(kLat), Signed(kLon), (500 + 123) * 5 + 2})
        .Define(2, kFitRecord, {{kFitLat, 4}, {kFitLon, 4}})
        .Compressed(2, (kMorning + 7) & 0x1F, {Signed(kLat + 1000), Signed(kLon - 1000)});
    CollectingSink sink;
    const std::vector<TrackPoint> points = Read(fit.Bytes(), sink);
    ASSERT_EQ(points.size(), 2U);
    ASSERT_EQ(sink.segments.size(), 1U);
    EXPECT_DOUBLE_EQ(points[0].latitude, Degrees(kLat));
    EXPECT_NEAR(points[0].latitude, 48.1293, 1e-4);
    EXPECT_DOUBLE_EQ(points[0].longitude, Degrees(kLon));
    EXPECT_EQ(DateTimeText(points[0].utcTime), "2024-06-15 08:00:00");
    ASSERT_TRUE(points[0].elevation.has_value());
    EXPECT_DOUBLE_EQ(*points[0].elevation, 123.4);
    EXPECT_DOUBLE_EQ(points[1].latitude, Degrees(kLat + 1000));
    EXPECT_EQ(DateTimeText(points[1].utcTime), "2024-06-15 08:00:07");
    EXPECT_FALSE(points[1].elevation.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    FitTrack, FitByteOrder,
    ::testing::Values(std::pair{false, std::uint8_t{14}}, std::pair{true, std::uint8_t{14}},
                      std::pair{false, std::uint8_t{12}}, std::pair{true, std::uint8_t{12}}),
    [](const auto& p) {
        return std::string(p.param.first ? "Big" : "Little") + std::to_string(p.param.second);
    });

TEST(FitTrack, CompressedTimesCountOnFromTheLastFullTime) {
    // The low five bits of kMorning + 1 are the base; an offset below them has passed a multiple of 32.
    const std::uint64_t base = kMorning + 1;
    const auto low = static_cast<std::uint8_t>(base & 0x1F);
    FitBuilder fit;
    fit.Define(0, kFitRecord, RecordFields())
        .Data(0, {base, Signed(kLat), Signed(kLon), 0xFFFF})
        .Define(1, kFitRecord, {{kFitLat, 4}, {kFitLon, 4}})
        .Compressed(1, static_cast<std::uint8_t>(low + 3), {Signed(kLat), Signed(kLon)})
        .Compressed(1, static_cast<std::uint8_t>(low + 1), {Signed(kLat), Signed(kLon)})
        .Compressed(1, static_cast<std::uint8_t>(low + 1), {Signed(kLat), Signed(kLon)});
    CollectingSink sink;
    const std::vector<TrackPoint> points = Read(fit.Bytes(), sink);
    ASSERT_EQ(points.size(), 4U);
    EXPECT_EQ(DateTimeText(points[0].utcTime), "2024-06-15 08:00:01");
    EXPECT_EQ(DateTimeText(points[1].utcTime), "2024-06-15 08:00:04");
    EXPECT_EQ(DateTimeText(points[2].utcTime), "2024-06-15 08:00:34");  // 3 -> 1: 30 seconds on
    EXPECT_EQ(DateTimeText(points[3].utcTime), "2024-06-15 08:00:34");  // the same low bits: no time passed
}

TEST(FitTrack, SkipsDeveloperFieldsAndInvalidValues) {
    FitBuilder fit;
    fit.Define(0, kFitRecord,
               {{kFitTimestamp, 4}, {kFitLat, 4}, {kFitLon, 4}, {kFitAltitude, 2}, {kFitEnhancedAltitude, 4}},
               {3, 1})
        // enhanced_altitude wins over altitude
        .Data(0, {kMorning, Signed(kLat), Signed(kLon), 2600, (500 + 1000) * 5})
        // no latitude: no point
        .Data(0, {kMorning + 1, 0x7FFFFFFF, Signed(kLon), 2600, 0xFFFFFFFF})
        // no time: no point
        .Data(0, {0xFFFFFFFF, Signed(kLat), Signed(kLon), 2600, 0xFFFFFFFF})
        // neither altitude: no elevation
        .Data(0, {kMorning + 3, Signed(kLat), Signed(kLon), 0xFFFF, 0xFFFFFFFF})
        // invalid enhanced_altitude: the altitude field
        .Data(0, {kMorning + 4, Signed(kLat), Signed(kLon), 2600, 0xFFFFFFFF});
    CollectingSink sink;
    const std::vector<TrackPoint> points = Read(fit.Bytes(), sink);
    ASSERT_EQ(points.size(), 3U);
    EXPECT_EQ(points[0].elevation, 1000.0);
    EXPECT_EQ(DateTimeText(points[1].utcTime), "2024-06-15 08:00:03");
    EXPECT_FALSE(points[1].elevation.has_value());
    EXPECT_EQ(points[2].elevation, 20.0);
}

TEST(FitTrack, SessionAndLapStartNewSegments) {
    FitBuilder fit;
    fit.Define(0, kFitRecord, RecordFields())
        .Define(1, kFitLap, {{kFitTimestamp, 4}})
        .Define(2, kFitSession, {{kFitTimestamp, 4}})
        .Data(0, {kMorning, Signed(kLat), Signed(kLon), 0xFFFF})
        .Data(0, {kMorning + 1, Signed(kLat), Signed(kLon), 0xFFFF})
        .Data(1, {kMorning + 1})
        .Data(0, {kMorning + 2, Signed(kLat), Signed(kLon), 0xFFFF})
        .Data(1, {kMorning + 2})
        .Data(2, {kMorning + 2})
        .Data(0, {kMorning + 3, Signed(kLat), Signed(kLon), 0xFFFF});
    CollectingSink sink;
    Read(fit.Bytes(), sink);
    ASSERT_EQ(sink.segments.size(), 3U);
    EXPECT_EQ(sink.segments[0].size(), 2U);
    EXPECT_EQ(sink.segments[1].size(), 1U);
    EXPECT_EQ(sink.segments[2].size(), 1U);
}

TEST(FitTrack, ReadsChainedFiles) {
    FitBuilder first;
    first.Define(0, kFitRecord, RecordFields()).Data(0, {kMorning, Signed(kLat), Signed(kLon), 0xFFFF});
    FitBuilder second(true);
    second.Define(3, kFitRecord, RecordFields()).Data(3, {kMorning + 60, Signed(kLat), Signed(kLon), 0xFFFF});
    std::vector<std::uint8_t> bytes = first.Bytes();
    const std::vector<std::uint8_t> more = second.Bytes();
    bytes.insert(bytes.end(), more.begin(), more.end());
    CollectingSink sink;
    const std::vector<TrackPoint> points = Read(bytes, sink);
    ASSERT_EQ(points.size(), 2U);
    EXPECT_EQ(DateTimeText(points[1].utcTime), "2024-06-15 08:01:00");
}

struct BadFitCase {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string error;
};
void PrintTo(const BadFitCase& c, std::ostream* os) { *os << c.name; }

std::vector<BadFitCase> BadFitCases() {
    FitBuilder good;
    good.Define(0, kFitRecord, RecordFields()).Data(0, {kMorning, Signed(kLat), Signed(kLon), 0xFFFF});
    std::vector<std::uint8_t> cut = good.Bytes();
    cut.resize(cut.size() - 5);
    FitBuilder undefined;
    undefined.Define(0, kFitRecord, RecordFields()).Data(0, {kMorning, Signed(kLat), Signed(kLon), 0xFFFF});
    std::vector<std::uint8_t> noDefinition = undefined.Bytes();
    noDefinition[14 + 0] = 0x45;  // the definition now defines local type 5, the data uses 0
    noDefinition.resize(noDefinition.size() - 2);
    const std::uint16_t crc = FitBuilder::Crc(noDefinition);
    noDefinition.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
    noDefinition.push_back(static_cast<std::uint8_t>(crc >> 8U));
    std::vector<std::uint8_t> jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0};
    return {
        {"FileChecksum", good.Bytes(true), "FIT-Datei mit falscher Prüfsumme"},
        {"HeaderChecksum", good.Bytes(false, true), "FIT-Dateikopf mit falscher Prüfsumme"},
        {"CutShort", cut, "FIT-Datei ist abgeschnitten"},
        {"DataWithoutDefinition", noDefinition, "FIT-Datennachricht ohne Definition (lokale Nummer 0)"},
        {"NoFitFile", jpeg, "kein FIT-Dateikopf"},
        {"Empty", {}, "leere Datei, kein FIT-Dateikopf"},
    };
}

class BadFit : public ::testing::TestWithParam<BadFitCase> {};

TEST_P(BadFit, IsRefusedWithItsReason) {
    const BadFitCase& c = GetParam();
    std::istringstream in(std::string(c.bytes.begin(), c.bytes.end()));
    CollectingSink sink;
    try {
        ReadFit(in, sink);
        FAIL() << "no error";
    } catch (const TrackFormatError& e) {
        EXPECT_EQ(std::string(e.what()), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(FitTrack, BadFit, ::testing::ValuesIn(BadFitCases()),
                         [](const auto& p) { return p.param.name; });

TEST(FitTrack, AcceptsAHeaderWithoutChecksum) {
    FitBuilder fit;
    fit.Define(0, kFitRecord, RecordFields()).Data(0, {kMorning, Signed(kLat), Signed(kLon), 0xFFFF});
    std::vector<std::uint8_t> bytes = fit.Bytes();
    bytes[12] = 0;
    bytes[13] = 0;
    bytes.resize(bytes.size() - 2);
    const std::uint16_t crc = FitBuilder::Crc(bytes);
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8U));
    CollectingSink sink;
    EXPECT_EQ(Read(bytes, sink).size(), 1U);
}

}  // namespace
}  // namespace zeloro::test
