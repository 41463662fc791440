// tests/xml/XmlDateTimeTest.cpp: date-time texts by position, integer conversions and the local bias.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Error.h"
#include "xml/XmlDateTime.h"

namespace zeloro {
namespace {

struct TimeCase {
    std::string_view name;
    std::string_view text;
    std::optional<DateTimeValue> want;  // nullopt: error
    std::string_view error;
};
void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.name; }

DateTimeValue At(int h, int m, int s, int ms) { return EncodeDateTime(2011, 1, 15, h, m, s, ms); }

class FromText : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FromText, MatchesTable) {
    const TimeCase& c = GetParam();
    if (c.want) {
        EXPECT_DOUBLE_EQ(DateTimeFromText(c.text, false), *c.want);
        return;
    }
    try {
        (void)DateTimeFromText(c.text, false);
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string_view(e.what()), c.error);
    }
}

// The text the track table stores is the one made from the value, whichever way it is made.
std::string ThroughTheValue(std::string_view text, bool useLocalBias) {
    try {
        return DateTimeText(DateTimeFromText(text, useLocalBias));
    } catch (const ConvertError& e) {
        return e.what();
    }
}

std::string Appended(std::string_view text, bool useLocalBias) {
    std::string out = "kept ";  // what was there stays
    try {
        AppendDateTimeFromText(out, text, useLocalBias);
    } catch (const ConvertError& e) {
        return e.what();
    }
    EXPECT_TRUE(out.starts_with("kept ")) << text;
    return out.substr(5);
}

TEST_P(FromText, AppendedTextIsTheValuesText) {
    EXPECT_EQ(Appended(GetParam().text, false), ThroughTheValue(GetParam().text, false));
}

TEST(XmlDateTime, AppendedTextIsTheValuesTextOnEveryDayAndEdge) {
    std::vector<std::string> texts;
    char text[32];
    for (const int year : {1, 4, 99, 100, 400, 1582, 1600, 1700, 1899, 1900, 1970, 2000, 2024, 2100, 9999}) {
        for (int month = 0; month <= 13; ++month) {
            for (int day = 0; day <= 32; ++day) {
                for (const char* time :
                     {"00:00:00", "12:34:56", "23:59:59", "24:00:00", "23:60:00", "23:59:60"}) {
                    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%sZ", year, month, day, time);
                    texts.emplace_back(text);
                }
            }
        }
    }
    for (const char* other :
         {"2024-06-15T08:00:00", "2024-06-15 08:00:00x", "2024-06-15T08:00:00.999Z",
          "2024-06-15T08:00:00+02:00", "2024-06-15T8:00:00Z", "2024-06-15T08:00:0 Z", "2024-06-15T08:00:00ZZ",
          "+024-06-15T08:00:00Z", "2024-06-15T08:00:-1Z", "0000-01-01T00:00:00Z"}) {
        texts.emplace_back(other);
    }
    for (const std::string& t : texts) {
        EXPECT_EQ(Appended(t, false), ThroughTheValue(t, false)) << t;
    }
    // With the local bias the zone counts: never the copy of the fields.
    for (const char* t : {"2024-06-15T08:00:00Z", "2024-06-15T23:59:59"}) {
        EXPECT_EQ(Appended(t, true), ThroughTheValue(t, true)) << t;
    }
}

INSTANTIATE_TEST_SUITE_P(
    DateTimeFromText, FromText,
    ::testing::Values(
        TimeCase{"ZoneLetterIgnored", "2011-01-15T08:30:05Z", At(8, 30, 5, 0), ""},
        TimeCase{"ThreeFractionDigits", "2011-01-15T08:30:05.250Z", At(8, 30, 5, 250), ""},
        TimeCase{"TwoDigitsAtEndAreMilliseconds", "2011-01-15T08:30:05.25", At(8, 30, 5, 25), ""},
        TimeCase{"OneDigitBeforeZoneIsNoInteger", "2011-01-15T08:30:05.5Z", At(8, 30, 5, 0), ""},
        TimeCase{"FourthDigitNeverRead", "2011-01-15T08:30:05.1234Z", At(8, 30, 5, 123), ""},
        TimeCase{"OffsetIgnored", "2011-01-15T08:30:05+02:00", At(8, 30, 5, 0), ""},
        TimeCase{"BlankSeparator", "2011-01-15 08:30:05", At(8, 30, 5, 0), ""},
        TimeCase{"SeventeenBytesEmptySecond", "2011-01-15T08:30Z", At(8, 30, 0, 0), ""},
        TimeCase{"SixteenBytesNoTime", "2011-01-15T08:30", At(0, 0, 0, 0), ""},
        TimeCase{"DateOnly", "2011-01-15", At(0, 0, 0, 0), ""},
        TimeCase{"LenientSecond", "2011-01-15T08:30:xxZ", At(8, 30, 0, 0), ""},
        TimeCase{"AnySeparators", "2011/01/15x08h30m05", At(8, 30, 5, 0), ""},
        TimeCase{"LeadingSpaceInField", "2011- 1-15T08:30:05Z", At(8, 30, 5, 0), ""},
        // Before the epoch the day count is negative while the time of day still counts forward.
        TimeCase{"BeforeEpochTimeCountsForward", "1899-12-29T06:00:00", -1.0 - 0.25, ""},
        TimeCase{"Year1800", "1800-06-15T18:30:15Z", EncodeDateTime(1800, 6, 15, 18, 30, 15, 0), ""},
        TimeCase{"Year1234", "1234-12-12T08:00:00Z", EncodeDateTime(1234, 12, 12, 8, 0, 0, 0), ""},
        TimeCase{"LeapDay2000", "2000-02-29T00:00:00Z", EncodeDate(2000, 2, 29), ""},
        TimeCase{"Empty", "", std::nullopt, "'''' ist kein gültiger Integer-Wert"},
        TimeCase{"ShortMonth", "2011-1-5T08:30:05Z", std::nullopt, "''1-'' ist kein gültiger Integer-Wert"},
        TimeCase{"EightBytes", "2011-01-", std::nullopt, "'''' ist kein gültiger Integer-Wert"},
        TimeCase{"BadHour", "2011-01-15Tx8:30:05Z", std::nullopt, "''x8'' ist kein gültiger Integer-Wert"},
        TimeCase{"NoLeapYear", "2011-02-29T00:00:00Z", std::nullopt,
                 "Ungültiges Argument zum Codieren des Datums"},
        TimeCase{"Year1900NoLeapYear", "1900-02-29T00:00:00Z", std::nullopt,
                 "Ungültiges Argument zum Codieren des Datums"},
        TimeCase{"YearZero", "0000-01-01", std::nullopt, "Ungültiges Argument zum Codieren des Datums"},
        TimeCase{"MonthThirteen", "2011-13-01", std::nullopt, "Ungültiges Argument zum Codieren des Datums"},
        TimeCase{"NegativeDay", "2011-01--1", std::nullopt, "Ungültiges Argument zum Codieren des Datums"},
        TimeCase{"Hour24", "2011-01-15T24:00:00Z", std::nullopt,
                 "Ungültiges Argument zum Codieren der Uhrzeit"},
        TimeCase{"LeapSecond", "2011-01-15T23:59:60Z", std::nullopt,
                 "Ungültiges Argument zum Codieren der Uhrzeit"},
        TimeCase{"NegativeMinute", "2011-01-15T08:-1:00Z", std::nullopt,
                 "Ungültiges Argument zum Codieren der Uhrzeit"},
        // The date is checked before the time.
        TimeCase{"DateErrorFirst", "2011-02-30T25:00:00Z", std::nullopt,
                 "Ungültiges Argument zum Codieren des Datums"}),
    [](const auto& p) { return std::string(p.param.name); });

// A GPX time before 30 December 1899 reaches the track table as the same calendar text.
TEST(XmlDateTime, TimesBeforeTheEpochKeepTheirCalendarText) {
    const struct {
        std::string_view text;
        std::string_view stored;
    } cases[] = {
        {"1800-06-15T18:30:15Z", "1800-06-15 18:30:15"}, {"1234-12-12T08:00:00Z", "1234-12-12 08:00:00"},
        {"1899-12-29T23:59:59Z", "1899-12-29 23:59:59"}, {"0001-01-01T00:00:01Z", "0001-01-01 00:00:01"},
        {"1899-12-30T12:00:00Z", "1899-12-30 12:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateTimeText(DateTimeFromText(c.text, false)), c.stored) << c.text;
    }
}

struct IntCase {
    std::string_view text;
    std::optional<int> strict;
    int lenient;
};

TEST(XmlInteger, StrictAndLenientReadTheSameNumbers) {
    const IntCase cases[] = {
        {"42", 42, 42},
        {"  7", 7, 7},
        {"-5", -5, -5},
        {"+5", 5, 5},
        {"", std::nullopt, 0},
        {"5 ", std::nullopt, 0},
        {"1-", std::nullopt, 0},
        {"-", std::nullopt, 0},
        {"\t5", std::nullopt, 0},
        {"$1F", std::nullopt, 0},
        {"0x1F", std::nullopt, 0},
        {"99999999999", std::nullopt, 0},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        if (c.strict) {
            EXPECT_EQ(StrToIntStrict(c.text), *c.strict);
        } else {
            EXPECT_THROW((void)StrToIntStrict(c.text), ConvertError);
        }
        EXPECT_EQ(StrToIntLenient(c.text), c.lenient);
    }
}

// Sets TZ for one test and restores it.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(LocalBias, FollowsTheHostZone) {
    {
        const ZoneGuard zone("UTC0");
        EXPECT_EQ(LocalBiasMinutes(), 0);
    }
    {
        const ZoneGuard zone("XXX-3");  // three hours east of UTC, no daylight time
        EXPECT_EQ(LocalBiasMinutes(), -180);
    }
}

TEST(LocalBias, OnlyWithTheFlagTheOffsetAndBiasCount) {
    const ZoneGuard zone("XXX-3");
    const std::string_view text = "2011-01-15T08:30:05.000+02:00";
    EXPECT_DOUBLE_EQ(DateTimeFromText(text, false), At(8, 30, 5, 0));
    // "+02:00" takes two hours off (to UTC), the bias of -180 minutes adds three (to local time).
    EXPECT_NEAR(DateTimeFromText(text, true), At(9, 30, 5, 0), 1e-9);
    EXPECT_NEAR(DateTimeFromText("2011-01-15T08:30:05Z", true), At(11, 30, 5, 0), 1e-9);
}

}  // namespace
}  // namespace zeloro
