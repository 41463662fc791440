// tests/time/CameraZoneTest.cpp: zones of the camera clock (list items, fixed offsets, named zones with
// summer time), the clock offset and the zone offset a photo stores.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "support/TestSupport.h"
#include "time/CameraZone.h"
#include "time/TimeRules.h"

namespace zeloro {
namespace {

// "yyyy-mm-dd hh:mm:ss" as a date-time value.
DateTimeValue At(std::string_view text) { return test::TimeFromText(text); }

struct OffsetCase {
    std::string text;
    std::optional<std::int64_t> want;
};

TEST(ClockOffset, SecondsOrHoursMinutesSeconds) {
    const std::vector<OffsetCase> cases{
        {"90", 90},
        {"+90", 90},
        {"-90", -90},
        {"0", 0},
        {"01:30:00", 5400},
        {"-01:30:00", -5400},
        {"+00:00:05", 5},
        {"1:00:00", 3600},
        {"100:00:01", 360001},
        {"999999999", 999999999},
        {"277777:46:39", 999999999},
        // Beyond about 31 years, and anything that is not one of the two forms.
        {"1000000000", std::nullopt},
        {"277777:46:40", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"1.5", std::nullopt},
        {"90s", std::nullopt},
        {" 90", std::nullopt},
        {"01:60:00", std::nullopt},
        {"01:00:60", std::nullopt},
        {"1:2:3", std::nullopt},
        {"01:30", std::nullopt},
        {"--5", std::nullopt},
        {":00:00", std::nullopt},
    };
    for (const OffsetCase& c : cases) {
        EXPECT_EQ(ParseClockOffset(c.text), c.want) << "'" << c.text << "'";
    }
}

struct StoredCase {
    std::string text;
    std::optional<int> want;
};

TEST(StoredOffset, ExactlySignHoursColonMinutes) {
    const std::vector<StoredCase> cases{
        {"+05:30", 19800},
        {"-03:30", -12600},
        {"+05:45", 20700},
        {"+00:00", 0},
        {"-00:00", 0},
        {"+14:00", 50400},
        {"-12:00", -43200},
        {std::string("+02:00\0", 7), 7200},  // as stored, with its terminator
        {"+02:00  ", 7200},
        {"   :  ", std::nullopt},  // a camera that does not know its zone
        {"+14:01", std::nullopt},
        {"-12:30", std::nullopt},
        {"+05:60", std::nullopt},
        {"+5:30", std::nullopt},
        {"05:30", std::nullopt},
        {"+05:30:00", std::nullopt},
        {"+0530", std::nullopt},
        {"", std::nullopt},
    };
    for (const StoredCase& c : cases) {
        EXPECT_EQ(ParseStoredOffset(c.text), c.want) << "'" << c.text << "'";
    }
}

struct ZoneTextCase {
    std::string text;
    std::optional<int> listIndex;
    std::optional<int> offset;  // seconds east of UTC, for a fixed offset
};

TEST(CameraZone, ParsesFixedOffsetsAndMapsWholeListHoursToTheList) {
    const std::vector<ZoneTextCase> cases{
        {"UTC + 5:30", std::nullopt, 19800},
        {"+05:45", std::nullopt, 20700},
        {"-03:30", std::nullopt, -12600},
        {"UTC+5:30", std::nullopt, 19800},
        {"utc \xE2\x88\x92 3:30", std::nullopt, -12600},  // the minus sign U+2212
        {"+0530", std::nullopt, 19800},
        {"GMT-9:30", std::nullopt, -34200},
        {"+13:00", std::nullopt, 46800},
        {"+14:00", std::nullopt, 50400},
        {"-12:00", std::nullopt, -43200},
        {"UTC", 11, std::nullopt},
        {"+00:00", 11, std::nullopt},
        {"+02:00", 13, std::nullopt},
        {"UTC + 2", 13, std::nullopt},
        {"-11", 0, std::nullopt},
        {"+12:00", 23, std::nullopt},
        {"-1:00", 10, std::nullopt},
    };
    for (const ZoneTextCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<CameraZone> zone = CameraZone::Parse(c.text);
        ASSERT_TRUE(zone.has_value());
        EXPECT_EQ(zone->ListIndex(), c.listIndex);
        if (c.offset) {
            EXPECT_EQ(zone->OffsetSecondsAt(At("2024-06-15 12:00:00")), *c.offset);
        }
        EXPECT_EQ(zone->Name(), "");
    }
    for (const char* bad : {"", "+15:00", "-12:01", "+14:30", "5:30", "UTC 5:30", "+5:3", "+05:30:00",
                            "+05:60", "+123", "UTC++1", "Mars/Olympus_Mons", "Europe/", "../etc/passwd"}) {
        EXPECT_EQ(CameraZone::Parse(bad), std::nullopt) << "'" << bad << "'";
    }
}

TEST(CameraZone, ListItemsShiftExactlyAsTheList) {
    const DateTimeValue shot = At("2010-06-01 08:00:00") + 0.123456789;
    for (int index = -1; index <= kZoneCount; ++index) {
        const DateTimeValue want = makeUTCDifference(shot, index);
        EXPECT_EQ(CameraZone::FromListIndex(index).ToUtc(shot), want) << index;
    }
    // The same hours written as an offset give the very same value, to the last bit.
    EXPECT_EQ(CameraZone::Parse("+02:00")->ToUtc(shot), makeUTCDifference(shot, 13));
    EXPECT_EQ(CameraZone::FromOffset(-11 * 3600).ToUtc(shot), makeUTCDifference(shot, 0));
}

struct ToUtcCase {
    std::string name;
    std::string zone;
    std::string local;
    std::string utc;
};

void PrintTo(const ToUtcCase& c, std::ostream* os) { *os << c.name; }

class ZoneToUtc : public ::testing::TestWithParam<ToUtcCase> {};

TEST_P(ZoneToUtc, MatchesTable) {
    const ToUtcCase& c = GetParam();
    const std::optional<CameraZone> zone = CameraZone::Parse(c.zone);
    ASSERT_TRUE(zone.has_value()) << c.zone;
    EXPECT_EQ(DateTimeText(zone->ToUtc(At(c.local))), c.utc);
}

INSTANTIATE_TEST_SUITE_P(
    CameraZone, ZoneToUtc,
    ::testing::Values(
        ToUtcCase{"India", "UTC + 5:30", "2024-06-15 13:30:00", "2024-06-15 08:00:00"},
        ToUtcCase{"Nepal", "+05:45", "2024-06-15 13:45:10", "2024-06-15 08:00:10"},
        ToUtcCase{"Newfoundland", "-03:30", "2024-06-15 04:30:00", "2024-06-15 08:00:00"},
        // Across midnight and the month's end in both directions.
        ToUtcCase{"IndiaBackIntoLastMonth", "UTC + 5:30", "2024-03-01 05:00:00", "2024-02-29 23:30:00"},
        ToUtcCase{"NewfoundlandIntoNextYear", "-03:30", "2024-12-31 21:00:00", "2025-01-01 00:30:00"},
        ToUtcCase{"Kiribati", "+14:00", "2024-01-01 10:00:00", "2023-12-31 20:00:00"},
        // Berlin: winter time (+1) and summer time (+2), taken for each photo's own date.
        ToUtcCase{"BerlinWinter", "Europe/Berlin", "2024-01-15 12:00:00", "2024-01-15 11:00:00"},
        ToUtcCase{"BerlinSummer", "Europe/Berlin", "2024-07-15 12:00:00", "2024-07-15 10:00:00"},
        // Summer time begins on 31 March 2024 at 02:00, when the clock jumps to 03:00.
        ToUtcCase{"BerlinLastSecondOfWinter", "Europe/Berlin", "2024-03-31 01:59:59", "2024-03-31 00:59:59"},
        ToUtcCase{"BerlinSkippedHourReadAsWinter", "Europe/Berlin", "2024-03-31 02:30:00",
                  "2024-03-31 01:30:00"},
        ToUtcCase{"BerlinFirstSecondOfSummer", "Europe/Berlin", "2024-03-31 03:00:00", "2024-03-31 01:00:00"},
        // Summer time ends on 27 October 2024 at 03:00, when the clock goes back to 02:00: the hour from
        // 02:00 to 03:00 occurs twice and is read as summer time, the earlier of the two.
        ToUtcCase{"BerlinLastHourOfSummer", "Europe/Berlin", "2024-10-27 01:59:59", "2024-10-26 23:59:59"},
        ToUtcCase{"BerlinRepeatedHourReadAsSummer", "Europe/Berlin", "2024-10-27 02:30:00",
                  "2024-10-27 00:30:00"},
        ToUtcCase{"BerlinFirstSecondOfWinter", "Europe/Berlin", "2024-10-27 03:00:00", "2024-10-27 02:00:00"},
        ToUtcCase{"Kolkata", "Asia/Kolkata", "2024-06-15 13:30:00", "2024-06-15 08:00:00"},
        ToUtcCase{"NameInAnyLetterCase", "europe/berlin", "2024-07-15 12:00:00", "2024-07-15 10:00:00"},
        // Southern summer: Sydney runs on +11 in January and +10 in July.
        ToUtcCase{"SydneyJanuary", "Australia/Sydney", "2024-01-15 12:00:00", "2024-01-15 01:00:00"},
        ToUtcCase{"SydneyJuly", "Australia/Sydney", "2024-07-15 12:00:00", "2024-07-15 02:00:00"}),
    [](const auto& p) { return p.param.name; });

TEST(CameraZone, NamedZoneKeepsItsName) {
    const std::optional<CameraZone> zone = CameraZone::Parse("europe/berlin");
    ASSERT_TRUE(zone.has_value());
    EXPECT_EQ(zone->Name(), "Europe/Berlin");
    EXPECT_EQ(zone->ListIndex(), std::nullopt);
    EXPECT_EQ(zone->OffsetSecondsAt(At("2024-07-15 12:00:00")), 7200);
    EXPECT_EQ(zone->OffsetSecondsAt(At("2024-01-15 12:00:00")), 3600);
}

struct ZoneLabelCase {
    std::string name;
    std::string zone;  // as the user gives it
    std::string local;
    std::string text;
};

void PrintTo(const ZoneLabelCase& c, std::ostream* os) { *os << c.name; }

class ZoneLabel : public ::testing::TestWithParam<ZoneLabelCase> {};

// The zone as the map's popup names it beside a local time.
TEST_P(ZoneLabel, MatchesTable) {
    const ZoneLabelCase& c = GetParam();
    const std::optional<CameraZone> zone = CameraZone::Parse(c.zone);
    ASSERT_TRUE(zone.has_value()) << c.zone;
    EXPECT_EQ(zone->Text(At(c.local)), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    CameraZone, ZoneLabel,
    ::testing::Values(
        ZoneLabelCase{"ListItem", "UTC + 2:00", "2024-01-15 12:00:00", "UTC + 2:00"},
        ZoneLabelCase{"WholeHourOffsetIsTheListItem", "-05:00", "2024-01-15 12:00:00", "UTC - 5:00"},
        ZoneLabelCase{"Utc", "+00:00", "2024-01-15 12:00:00", "UTC"},
        ZoneLabelCase{"India", "+05:30", "2024-01-15 12:00:00", "UTC + 5:30"},
        ZoneLabelCase{"Newfoundland", "-03:30", "2024-01-15 12:00:00", "UTC - 3:30"},
        ZoneLabelCase{"Nepal", "+0545", "2024-01-15 12:00:00", "UTC + 5:45"},
        ZoneLabelCase{"Kiribati", "+14:00", "2024-01-15 12:00:00", "UTC + 14:00"},
        ZoneLabelCase{"BerlinSummer", "Europe/Berlin", "2024-07-15 12:00:00", "Europe/Berlin, UTC + 2:00"},
        ZoneLabelCase{"BerlinWinter", "Europe/Berlin", "2024-01-15 12:00:00", "Europe/Berlin, UTC + 1:00"},
        ZoneLabelCase{"NamedHalfHourWest", "America/St_Johns", "2024-01-15 12:00:00",
                      "America/St_Johns, UTC - 3:30"}),
    [](const auto& p) { return p.param.name; });

TEST(CameraZone, OffsetTextLeavesSecondsOutAndListIndexOutsideTheListNamesNone) {
    EXPECT_EQ(OffsetZoneText(-1800), "UTC - 0:30");
    EXPECT_EQ(OffsetZoneText(3600 + 59), "UTC + 1:00");
    EXPECT_EQ(OffsetZoneText(59), "UTC");
    EXPECT_EQ(CameraZone::FromListIndex(-1).Text(At("2024-01-15 12:00:00")), "");
    EXPECT_EQ(CameraZone::FromListIndex(kZoneCount).Text(At("2024-01-15 12:00:00")), "");
}

TEST(CameraZone, ShiftToUtcMovesHoursAndOtherOffsets) {
    const DateTimeValue local = At("2024-06-15 13:30:00");
    EXPECT_EQ(ShiftToUtc(local, 0), local);
    EXPECT_EQ(ShiftToUtc(local, 7200), ShiftHours(local, -2));
    EXPECT_EQ(DateTimeText(ShiftToUtc(local, 19800)), "2024-06-15 08:00:00");
    EXPECT_EQ(DateTimeText(ShiftToUtc(local, -12600)), "2024-06-15 17:00:00");
}

}  // namespace
}  // namespace zeloro
