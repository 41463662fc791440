#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "common/Error.h"

namespace zeloro {
namespace {

struct DateCase {
    std::string_view name;
    int year, month, day;
    double value;
};
void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }
class EncodeDecode : public ::testing::TestWithParam<DateCase> {};

TEST_P(EncodeDecode, RoundTrips) {
    const DateCase& c = GetParam();
    EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.value);
    const CalendarDate d = DecodeDate(c.value);
    EXPECT_EQ(d, (CalendarDate{static_cast<std::uint16_t>(c.year), static_cast<std::uint16_t>(c.month),
                               static_cast<std::uint16_t>(c.day)}));
}

INSTANTIATE_TEST_SUITE_P(
    Calendar, EncodeDecode,
    ::testing::Values(DateCase{"Epoch", 1899, 12, 30, 0.0}, DateCase{"NewYear1900", 1900, 1, 1, 2.0},
                      DateCase{"Leap2000", 2000, 2, 29, 36585.0}, DateCase{"Y2010", 2010, 6, 1, 40330.0},
                      DateCase{"YearOne", 1, 1, 1, -693593.0}, DateCase{"Last", 9999, 12, 31, 2958465.0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DateTime, RejectsOutOfRangeWithGermanMessages) {
    struct Bad {
        int y, m, d;
    };
    for (const Bad b :
         {Bad{2011, 2, 29}, Bad{0, 1, 1}, Bad{10000, 1, 1}, Bad{2011, 13, 1}, Bad{2011, 4, 31}}) {
        try {
            (void)EncodeDate(b.y, b.m, b.d);
            ADD_FAILURE() << b.y << "-" << b.m << "-" << b.d << " encoded";
        } catch (const ConvertError& e) {
            EXPECT_STREQ(e.what(), "Ungültiges Argument zum Codieren des Datums");
        }
    }
    EXPECT_THROW((void)EncodeTime(24, 0, 0, 0), ConvertError);
    EXPECT_THROW((void)EncodeTime(23, 59, 60, 0), ConvertError);
    try {
        (void)EncodeTime(0, 0, 0, 1000);
        ADD_FAILURE();
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "Ungültiges Argument zum Codieren der Uhrzeit");
    }
}

TEST(DateTime, DecodesTimeRoundingToMilliseconds) {
    const double noon = EncodeDateTime(2010, 6, 1, 12, 0, 5, 500);
    EXPECT_EQ(DecodeTime(noon), (ClockTime{12, 0, 5, 500}));
    // A hair before midnight rounds into the next day as a whole, date and time together.
    const double late = EncodeDate(2010, 6, 1) + (86400000.0 - 0.4) / 86400000.0;
    EXPECT_EQ(DecodeTime(late), (ClockTime{0, 0, 0, 0}));
    EXPECT_EQ(DecodeDate(late), (CalendarDate{2010, 6, 2}));
    // Before the epoch the fraction still counts forward from the day's start.
    EXPECT_EQ(DecodeDate(-1.25), (CalendarDate{1899, 12, 29}));
    EXPECT_EQ(DecodeTime(-1.25), (ClockTime{6, 0, 0, 0}));
}

TEST(DateTime, DayOfWeekAndTexts) {
    EXPECT_EQ(DayOfWeek(EncodeDate(2010, 3, 28)), 1);  // a Sunday
    EXPECT_EQ(DayOfWeek(EncodeDate(2013, 3, 30)), 7);
    EXPECT_EQ(DayOfWeek(0.0), 7);  // 30 December 1899 was a Saturday
    EXPECT_EQ(DateTimeText(EncodeDateTime(2010, 6, 1, 8, 5, 9, 0)), "2010-06-01 08:05:09");
    EXPECT_EQ(LogStamp(EncodeDateTime(2026, 12, 9, 23, 5, 7, 0)), "09.12.2026 23:05:07");
    EXPECT_EQ(LogStamp(EncodeDate(2026, 12, 9)), "09.12.2026");
}

}  // namespace
}  // namespace zeloro
