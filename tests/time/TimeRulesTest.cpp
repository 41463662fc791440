// tests/time/TimeRulesTest.cpp: zone table, hour and second shifts, summer-time rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "time/TimeRules.h"

namespace zeloro {
namespace {

DateTimeValue at(int y, int mo, int d, int h, int mi, int s) { return EncodeDateTime(y, mo, d, h, mi, s, 0); }

bool sameBits(DateTimeValue a, DateTimeValue b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct ZoneCase {
    int index;
    std::string_view text;
    std::string utcOf20100601At0800;  // what the camera time 2010-06-01 08:00:00 becomes
};
void PrintTo(const ZoneCase& c, std::ostream* os) { *os << c.index; }

class ZoneTable : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(ZoneTable, ItemTextAndShiftToUtc) {
    const ZoneCase& c = GetParam();
    EXPECT_EQ(ZoneItems()[static_cast<std::size_t>(c.index)], c.text);
    EXPECT_EQ(DateTimeText(makeUTCDifference(at(2010, 6, 1, 8, 0, 0), c.index)), c.utcOf20100601At0800);
}

INSTANTIATE_TEST_SUITE_P(
    TimeRules, ZoneTable,
    ::testing::Values(
        ZoneCase{0, "UTC - 11:00", "2010-06-01 19:00:00"}, ZoneCase{1, "UTC - 10:00", "2010-06-01 18:00:00"},
        ZoneCase{2, "UTC - 9:00", "2010-06-01 17:00:00"}, ZoneCase{3, "UTC - 8:00", "2010-06-01 16:00:00"},
        ZoneCase{4, "UTC - 7:00", "2010-06-01 15:00:00"}, ZoneCase{5, "UTC - 6:00", "2010-06-01 14:00:00"},
        ZoneCase{6, "UTC - 5:00", "2010-06-01 13:00:00"}, ZoneCase{7, "UTC - 4:00", "2010-06-01 12:00:00"},
        ZoneCase{8, "UTC - 3:00", "2010-06-01 11:00:00"}, ZoneCase{9, "UTC - 2:00", "2010-06-01 10:00:00"},
        ZoneCase{10, "UTC - 1:00", "2010-06-01 09:00:00"}, ZoneCase{11, "UTC", "2010-06-01 08:00:00"},
        ZoneCase{12, "UTC + 1:00", "2010-06-01 07:00:00"}, ZoneCase{13, "UTC + 2:00", "2010-06-01 06:00:00"},
        ZoneCase{14, "UTC + 3:00", "2010-06-01 05:00:00"}, ZoneCase{15, "UTC + 4:00", "2010-06-01 04:00:00"},
        ZoneCase{16, "UTC + 5:00", "2010-06-01 03:00:00"}, ZoneCase{17, "UTC + 6:00", "2010-06-01 02:00:00"},
        ZoneCase{18, "UTC + 7:00", "2010-06-01 01:00:00"}, ZoneCase{19, "UTC + 8:00", "2010-06-01 00:00:00"},
        ZoneCase{20, "UTC + 9:00", "2010-05-31 23:00:00"}, ZoneCase{21, "UTC + 10:00", "2010-05-31 22:00:00"},
        ZoneCase{22, "UTC + 11:00", "2010-05-31 21:00:00"},
        ZoneCase{23, "UTC + 12:00", "2010-05-31 20:00:00"}),
    [](const auto& p) { return "Index" + std::to_string(p.param.index); });

TEST(TimeRules, NoShiftForUtcNoSelectionAndUnknownIndexes) {
    // Not a whole number of seconds: any arithmetic on it would show in the last bits.
    const DateTimeValue camera = at(2010, 6, 1, 8, 0, 0) + 0.1234567;
    for (const int index : {11, -1, 24, 100, -12}) {
        EXPECT_TRUE(sameBits(makeUTCDifference(camera, index), camera)) << index;
    }
}

struct ShiftCase {
    std::string_view name;
    DateTimeValue value;
    std::int64_t n;
    bool hours;
    DateTimeValue want;
};
void PrintTo(const ShiftCase& c, std::ostream* os) { *os << c.name; }

class Shift : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(Shift, MatchesTable) {
    const ShiftCase& c = GetParam();
    const DateTimeValue got = c.hours ? ShiftHours(c.value, c.n) : ShiftSeconds(c.value, c.n);
    EXPECT_TRUE(sameBits(got, c.want)) << got << " vs " << c.want;
}

INSTANTIATE_TEST_SUITE_P(
    TimeRules, Shift,
    ::testing::Values(
        // At and before the epoch the shift goes the other way: the camera time 0 of a photo without a shot
        // time, in zone "UTC + 1:00", becomes 01:00 of 30 December 1899.
        ShiftCase{"ZeroMinusOneHour", 0.0, -1, true, 1.0 / 24.0},
        ShiftCase{"ZeroPlusOneHour", 0.0, 1, true, -1.0 / 24.0},
        ShiftCase{"NegativeMinusOneHour", -1.0, -1, true, -23.0 / 24.0},
        ShiftCase{"PositivePlusOneHour", 1.0, 1, true, 25.0 / 24.0},
        ShiftCase{"PositiveMinusOneHour", 1.0, -1, true, 23.0 / 24.0},
        ShiftCase{"ZeroPlusOneSecond", 0.0, 1, false, -1.0 / 86400.0},
        ShiftCase{"HalfDayPlusDay", 0.5, 86400, false, 1.5}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TimeRules, ShiftSecondsBuildsTheLookupWindow) {
    const DateTimeValue noon = at(2010, 6, 1, 12, 0, 0);
    EXPECT_EQ(DateTimeText(ShiftSeconds(noon, -5)), "2010-06-01 11:59:55");
    EXPECT_EQ(DateTimeText(ShiftSeconds(noon, 5)), "2010-06-01 12:00:05");
    EXPECT_EQ(DateTimeText(ShiftSeconds(at(2010, 12, 31, 23, 59, 58), 500)), "2011-01-01 00:08:18");
}

struct SummerCase {
    std::string_view name;
    DateTimeValue when;
    bool summer;
};
void PrintTo(const SummerCase& c, std::ostream* os) { *os << c.name; }

class SummerTime : public ::testing::TestWithParam<SummerCase> {};

TEST_P(SummerTime, CheckSZ) {
    const SummerCase& c = GetParam();
    EXPECT_EQ(CheckSZ(c.when), c.summer);
    EXPECT_EQ(DefaultZoneIndex(c.when), c.summer ? 13 : 12);
}

INSTANTIATE_TEST_SUITE_P(
    TimeRules, SummerTime,
    ::testing::Values(
        SummerCase{"Start2010Before", at(2010, 3, 28, 1, 59, 59), false},
        SummerCase{"Start2010At", at(2010, 3, 28, 2, 0, 0), true},
        SummerCase{"End2010Before", at(2010, 10, 31, 2, 59, 59), true},  // 31 October 2010 is itself a Sunday
        SummerCase{"End2010At", at(2010, 10, 31, 3, 0, 0), false},
        SummerCase{"Start2013OnMarch31Before", at(2013, 3, 31, 1, 59, 59), false},
        SummerCase{"Start2013OnMarch31At", at(2013, 3, 31, 2, 0, 0), true},
        SummerCase{"Start2013NotAWeekEarlier", at(2013, 3, 24, 12, 0, 0), false},
        SummerCase{"End1995SeptemberBefore", at(1995, 9, 24, 2, 59, 59), true},
        SummerCase{"End1995SeptemberAt", at(1995, 9, 24, 3, 0, 0), false},
        SummerCase{"October1995", at(1995, 10, 20, 12, 0, 0), false},
        SummerCase{"October1996", at(1996, 10, 20, 12, 0, 0), true},
        SummerCase{"End1996OctoberAt", at(1996, 10, 27, 3, 0, 0), false},
        SummerCase{"Summer1980", at(1980, 7, 1, 12, 0, 0), false},
        SummerCase{"Summer1981", at(1981, 7, 1, 12, 0, 0), true}, SummerCase{"Epoch", 0.0, false},
        SummerCase{"Winter2026", at(2026, 12, 10, 0, 0, 0), false},
        SummerCase{"Summer9999", at(9999, 7, 1, 0, 0, 0), true}, SummerCase{"BeyondTheCalendar", 1e9, false}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro
