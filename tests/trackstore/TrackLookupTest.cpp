// tests/trackstore/TrackLookupTest.cpp: exact lookups, the nearest point of a window, the zone shift on
// the way, and the conversion of stored coordinate texts into hemisphere, degrees, minutes and seconds.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/Error.h"
#include "support/TestSupport.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"

namespace zeloro {
namespace {

using test::TempDir;

DateTimeValue at(int h, int mi, int s) { return EncodeDateTime(2010, 6, 1, h, mi, s, 0); }

class Lookup : public ::testing::Test {
protected:
    void SetUp() override {
        connection.Open(":memory:");
        connection.Execute(test::ReadFileText(test::SourceDir() / "db" / "schema.sql"));
    }

    void insert(const std::string& lat, const std::string& lon, DateTimeValue utc) {
        query.SetSQL("INSERT INTO gpx (lat,lon,utctime) VALUES (:lat,:lon,:utctime);");
        query.ParamByName("lat").SetAsString(lat);
        query.ParamByName("lon").SetAsString(lon);
        query.ParamByName("utctime").SetAsDateTime(utc);
        query.ExecSQL();
    }

    Connection connection;
    Query query{connection};
};

TEST_F(Lookup, ExactMatchesTheSameSecondOnly) {
    insert("48.5", "11.25", at(12, 0, 5) + 0.5 / 86400);  // stored as 12:00:05
    insert("10", "20", at(12, 0, 6));
    const TCoord hit = searchGPX(at(12, 0, 5), kZoneIndexUtc, 0, query);
    ASSERT_TRUE(hit.found);
    EXPECT_EQ(hit.lat, "48.5");
    EXPECT_EQ(hit.lon, "11.25");
    EXPECT_EQ(DateTimeText(hit.utctime), "2010-06-01 12:00:05");
    EXPECT_FALSE(query.Active());
    EXPECT_FALSE(searchGPX(at(12, 0, 4), kZoneIndexUtc, 0, query).found);
    EXPECT_EQ(searchGPX(at(12, 0, 6), kZoneIndexUtc, 0, query).lat, "10");
}

TEST_F(Lookup, WindowIncludesBothEnds) {
    insert("1", "1", at(11, 59, 58));
    insert("2", "2", at(12, 0, 4));
    EXPECT_FALSE(searchGPX(at(12, 0, 2), kZoneIndexUtc, 0, query).found);
    EXPECT_FALSE(searchGPX(at(12, 0, 2), kZoneIndexUtc, 1, query).found);
    EXPECT_EQ(searchGPX(at(12, 0, 2), kZoneIndexUtc, 2, query).lat, "2");    // 12:00:00..12:00:04
    EXPECT_EQ(searchGPX(at(11, 59, 53), kZoneIndexUtc, 5, query).lat, "1");  // upper end of 11:59:48..58
    EXPECT_FALSE(searchGPX(at(11, 59, 52), kZoneIndexUtc, 5, query).found);
    EXPECT_EQ(searchGPX(at(12, 0, 9), kZoneIndexUtc, 5, query).lat, "2");  // lower end of 12:00:04..14
    EXPECT_FALSE(searchGPX(at(12, 0, 10), kZoneIndexUtc, 5, query).found);
}

// A point's latitude names it in the expectation: 1 before the photo, 2 after it, 3 of the photo's own
// second or the first imported of a second, 4 the second imported, 5 and 9 farther away.
struct Point {
    std::string lat;
    DateTimeValue utc;
};

struct NearestCase {
    std::string_view name;
    std::vector<Point> points;  // imported in this order
    DateTimeValue photo;
    int tolerance = 0;
    std::optional<std::string> taken;  // lat of the point taken; nullopt: none found
};
void PrintTo(const NearestCase& c, std::ostream* os) { *os << c.name; }

class NearestInWindow : public Lookup, public ::testing::WithParamInterface<NearestCase> {};

TEST_P(NearestInWindow, TakesThePointNearestInTime) {
    const NearestCase& c = GetParam();
    for (const Point& p : c.points) {
        insert(p.lat, "11", p.utc);
    }
    const TCoord coord = searchGPX(c.photo, kZoneIndexUtc, c.tolerance, query);
    EXPECT_FALSE(query.Active());
    if (!c.taken) {
        EXPECT_FALSE(coord.found) << coord.lat;
        return;
    }
    ASSERT_TRUE(coord.found);
    EXPECT_EQ(coord.lat, *c.taken);
    for (const Point& p : c.points) {
        if (p.lat == *c.taken) {
            EXPECT_EQ(DateTimeText(coord.utctime), DateTimeText(p.utc));
        }
    }
}

DateTimeValue on(int y, int mo, int d, int h, int mi, int s) { return EncodeDateTime(y, mo, d, h, mi, s, 0); }

// The index hands out the earliest point of the window first and, within one second, the last
// imported first when read backwards: the cases are laid out so that neither order passes by chance.
INSTANTIATE_TEST_SUITE_P(
    TrackLookup, NearestInWindow,
    ::testing::Values(
        NearestCase{"LaterPointIsNearer",  //
                    {{"1", at(11, 59, 58)}, {"2", at(12, 0, 4)}},
                    at(12, 0, 2),
                    5,
                    "2"},
        NearestCase{"EarlierPointIsNearer",  //
                    {{"2", at(12, 0, 3)}, {"1", at(11, 59, 59)}},
                    at(12, 0, 0),
                    5,
                    "1"},
        NearestCase{"EquallyNearTakesTheEarlier",  //
                    {{"2", at(12, 0, 2)}, {"1", at(11, 59, 58)}},
                    at(12, 0, 0),
                    5,
                    "1"},
        NearestCase{"OwnSecondWinsOverAnyOther",
                    {{"1", at(11, 59, 59)}, {"2", at(12, 0, 1)}, {"3", at(12, 0, 0)}},
                    at(12, 0, 0),
                    30,
                    "3"},
        NearestCase{"DenseTrackGivesOwnSecond",
                    {{"5", at(11, 59, 55)}, {"1", at(11, 59, 59)}, {"3", at(12, 0, 0)}, {"2", at(12, 0, 1)}},
                    at(12, 0, 0),
                    5,
                    "3"},
        NearestCase{"WindowWithoutPoints",  //
                    {{"1", at(11, 59, 54)}, {"2", at(12, 0, 6)}},
                    at(12, 0, 0),
                    5,
                    std::nullopt},
        NearestCase{"SameSecondOwnTakesFirstImported",  //
                    {{"3", at(12, 0, 0)}, {"4", at(12, 0, 0)}},
                    at(12, 0, 0),
                    5,
                    "3"},
        NearestCase{"SameSecondBeforeTakesFirstImported",
                    {{"3", at(11, 59, 58)}, {"4", at(11, 59, 58)}, {"9", at(12, 0, 5)}},
                    at(12, 0, 0),
                    5,
                    "3"},
        NearestCase{"SameSecondAfterTakesFirstImported",
                    {{"9", at(11, 59, 55)}, {"3", at(12, 0, 2)}, {"4", at(12, 0, 2)}},
                    at(12, 0, 0),
                    5,
                    "3"},
        NearestCase{"OverMidnight",  //
                    {{"1", on(2010, 12, 31, 23, 59, 54)}, {"2", on(2011, 1, 1, 0, 0, 1)}},
                    on(2010, 12, 31, 23, 59, 58),
                    5,
                    "2"},
        NearestCase{"BeforeTheUnixEpoch",  //
                    {{"1", on(1850, 3, 1, 7, 0, 0)}, {"2", on(1850, 3, 1, 7, 0, 3)}},
                    on(1850, 3, 1, 7, 0, 2),
                    5,
                    "2"},
        NearestCase{"WholeToleranceAway",  //
                    {{"1", at(11, 51, 40)}, {"2", at(12, 8, 20)}},
                    at(12, 0, 0),
                    500,
                    "1"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Lookup, CameraTimeIsShiftedByTheZone) {
    insert("2", "2", at(12, 0, 4));
    EXPECT_TRUE(searchGPX(at(14, 0, 4), kZoneIndexSummer, 0, query).found);  // UTC + 2:00
    EXPECT_FALSE(searchGPX(at(14, 0, 4), kZoneIndexWinter, 0, query).found);
    EXPECT_TRUE(searchGPX(at(3, 0, 4), 2, 0, query).found);  // UTC - 9:00
}

TEST_F(Lookup, FoundPointIsConvertedToDegreesMinutesSeconds) {
    insert("-33.8567", "151.215", at(12, 0, 0));
    const TCoord c = searchGPX(at(12, 0, 0), kZoneIndexUtc, 0, query);
    ASSERT_TRUE(c.found);
    EXPECT_EQ(c.lat, "-33.8567");  // the stored texts stay as they are, sign included
    EXPECT_EQ(c.gps_lt_dr, "S");
    EXPECT_EQ(c.gps_lt_dg, 33.0L);
    EXPECT_EQ(c.gps_lt_mm, 51.0L);
    EXPECT_NEAR(static_cast<double>(c.gps_lt_ss), 24.12, 1e-9);
    EXPECT_EQ(c.gps_ln_dr, "E");
    EXPECT_EQ(c.gps_ln_dg, 151.0L);
    EXPECT_EQ(c.gps_ln_mm, 12.0L);
    EXPECT_NEAR(static_cast<double>(c.gps_ln_ss), 54.0, 1e-9);
}

TEST_F(Lookup, CoordinateThatIsNoNumberEndsTheLookupWithTheQueryClosed) {
    insert("48.1234N", "11", at(12, 0, 0));
    try {
        (void)searchGPX(at(12, 0, 0), kZoneIndexUtc, 0, query);
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'48,1234N' ist kein gültiger Gleitkommawert");
    }
    EXPECT_FALSE(query.Active());
}

struct DmsCase {
    std::string_view name;
    std::string text;
    std::string hemisphere;
    long double degrees;
    long double minutes;
    long double seconds;
};
void PrintTo(const DmsCase& c, std::ostream* os) { *os << c.name; }

class Dms : public ::testing::TestWithParam<DmsCase> {};

TEST_P(Dms, MatchesTable) {
    const DmsCase& c = GetParam();
    const auto got = CoordinateToDms(c.text, "N", "S");
    EXPECT_EQ(got.hemisphere, c.hemisphere);
    EXPECT_EQ(got.degrees, c.degrees);
    EXPECT_EQ(got.minutes, c.minutes);
    EXPECT_NEAR(static_cast<double>(got.seconds), static_cast<double>(c.seconds), 1e-9);
    EXPECT_GE(got.seconds, 0.0L);
}

INSTANTIATE_TEST_SUITE_P(TrackLookup, Dms,
                         ::testing::Values(DmsCase{"North", "48.1234", "N", 48, 7, 24.24L},
                                           DmsCase{"WestAsSecondLetter", "-122.4194", "S", 122, 25, 9.84L},
                                           DmsCase{"BelowOneDegree", "-0.5", "S", 0, 30, 0},
                                           DmsCase{"Zero", "0", "N", 0, 0, 0},
                                           DmsCase{"NegativeZero", "-0.0", "S", 0, 0, 0},
                                           DmsCase{"Integer", "90", "N", 90, 0, 0},
                                           DmsCase{"CommaSeparator", "48,1234", "N", 48, 7, 24.24L},
                                           DmsCase{"PlusSign", "+10.25", "N", 10, 15, 0},
                                           DmsCase{"Blanks", "  10.25 ", "N", 10, 15, 0},
                                           DmsCase{"BlankBeforeSign", " -10.25", "S", 10, 15, 0},
                                           DmsCase{"Exponent", "1.025E1", "N", 10, 15, 0},
                                           // The exponent's own sign stays: 0.15 degrees, not 15.
                                           DmsCase{"NegativeExponent", "-1.5e-1", "S", 0, 9, 0},
                                           DmsCase{"LeadingSeparator", ".5", "N", 0, 30, 0},
                                           DmsCase{"TrailingSeparator", "7.", "N", 7, 0, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

struct BadCase {
    std::string_view name;
    std::string text;
    std::string message;
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class NotANumber : public ::testing::TestWithParam<BadCase> {};

// The message names the text as the lookup worked on it: sign taken off, "." written as ",".
TEST_P(NotANumber, FailsWithTheGermanMessage) {
    const BadCase& c = GetParam();
    try {
        (void)CoordinateToDms(c.text, "E", "W");
        FAIL() << "no error for " << c.text;
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + c.message + "' ist kein gültiger Gleitkommawert");
    }
}

INSTANTIATE_TEST_SUITE_P(
    TrackLookup, NotANumber,
    ::testing::Values(BadCase{"Empty", "", ""}, BadCase{"OnlySign", "-", ""}, BadCase{"Word", "abc", "abc"},
                      BadCase{"TwoSeparators", "1.2.3", "1,2,3"},
                      BadCase{"MixedSeparators", "1,2.3", "1,2,3"}, BadCase{"DoubleSign", "--5", "-5"},
                      BadCase{"SignAfterSign", "-+5", "+5"}, BadCase{"InnerBlank", "4 8", "4 8"},
                      BadCase{"Suffix", "48.1N", "48,1N"}, BadCase{"OpenExponent", "1e", "1e"},
                      BadCase{"Hex", "0x10", "0x10"}, BadCase{"Infinity", "inf", "inf"},
                      BadCase{"NotANumber", "nan", "nan"}, BadCase{"Overflow", "1e99999", "1e99999"},
                      BadCase{"OnlySeparator", ".", ","}, BadCase{"Tab", "\t1", "\t1"}),
    [](const auto& p) { return std::string(p.param.name); });

// A position off the globe is refused like a text that is no number, once the caller says which of the
// two values it is; told nothing, the conversion keeps to the letters and takes any size.
TEST(TrackLookup, CoordinateBeyondTheGlobeIsNoNumber) {
    struct Case {
        std::string text;
        CoordinateAxis axis;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"90", CoordinateAxis::latitude, false},        {"-90", CoordinateAxis::latitude, false},
        {"90.0000001", CoordinateAxis::latitude, true}, {"-91", CoordinateAxis::latitude, true},
        {"122.4194", CoordinateAxis::latitude, true},   {"-122.4194", CoordinateAxis::longitude, false},
        {"180", CoordinateAxis::longitude, false},      {"181", CoordinateAxis::longitude, true},
        {"1e5", CoordinateAxis::longitude, true},       {"1e5", CoordinateAxis::unchecked, false},
    };
    for (const Case& c : cases) {
        const char* positive = c.axis == CoordinateAxis::latitude ? "N" : "E";
        const char* negative = c.axis == CoordinateAxis::latitude ? "S" : "W";
        if (c.refused) {
            EXPECT_THROW((void)CoordinateToDms(c.text, positive, negative, c.axis), ConvertError) << c.text;
        } else {
            EXPECT_NO_THROW((void)CoordinateToDms(c.text, positive, negative, c.axis)) << c.text;
        }
    }
    try {
        (void)CoordinateValue("-91", true);
        ADD_FAILURE() << "-91 was taken as a latitude";
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'91' ist kein gültiger Gleitkommawert");
    }
    EXPECT_EQ(CoordinateValue("-  -5", false), -5.0L);
}

TEST(TrackLookup, StrToCoordinateIsIndependentOfTheCLocale) {
    // Under a German numeric locale the C library reads "," and stops at "."; ours reads both. The
    // locale is built into the test's own folder, since hosts rarely have it installed.
    TempDir dir;
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        GTEST_SKIP() << "localedef cannot build a German locale here";
    }
    setenv("LOCPATH", dir.path().c_str(), 1);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "the German locale does not load";
    }
    char* end = nullptr;
    const char* german = "48,25";
    const double cLibrary = std::strtod(german, &end);
    const bool localeActive = cLibrary == 48.25 && *end == '\0';
    const long double dot = StrToCoordinate("48.25");
    const long double comma = StrToCoordinate("48,25");
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    ASSERT_TRUE(localeActive);
    EXPECT_EQ(dot, 48.25L);
    EXPECT_EQ(comma, 48.25L);
}

}  // namespace
}  // namespace zeloro
