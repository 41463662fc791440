// src/common/DateTime.h: the date-time value (days since 30 December 1899) and its calendar.
#pragma once
#include <cstdint>
#include <string>

namespace zeloro {

// Days since 30 December 1899 00:00; the fraction is the time of day. Negative values count back
// from that day, the fraction still being added (-1.25 is 29 December 1899 06:00).
using DateTimeValue = double;

inline constexpr double kMSecsPerDay = 86400000.0;
inline constexpr double kSecsPerDay = 86400.0;

struct CalendarDate {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

struct ClockTime {
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
    friend bool operator==(const ClockTime&, const ClockTime&) = default;
};

[[nodiscard]] bool IsLeapYear(int year) noexcept;
[[nodiscard]] int DaysInMonth(int year, int month) noexcept;  // 0 for a month outside 1..12

// Year 1..9999, month 1..12, day within the month; false (out untouched) otherwise.
[[nodiscard]] bool TryEncodeDate(int year, int month, int day, DateTimeValue& out) noexcept;
// Hour < 24, minute < 60, second < 60, millisecond < 1000; false otherwise.
[[nodiscard]] bool TryEncodeTime(int hour, int minute, int second, int millisecond,
                                 DateTimeValue& out) noexcept;
// Throw ConvertError "Ungültiges Argument zum Codieren des Datums" / "... der Uhrzeit".
[[nodiscard]] DateTimeValue EncodeDate(int year, int month, int day);
[[nodiscard]] DateTimeValue EncodeTime(int hour, int minute, int second, int millisecond);
[[nodiscard]] DateTimeValue EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                                           int millisecond);

// Splits by whole milliseconds, rounding the value to the nearest millisecond first; values outside
// the calendar (before year 1 or after 9999) give the zero date 0/0/0.
[[nodiscard]] CalendarDate DecodeDate(DateTimeValue value) noexcept;
[[nodiscard]] ClockTime DecodeTime(DateTimeValue value) noexcept;
// 1 = Sunday .. 7 = Saturday.
[[nodiscard]] int DayOfWeek(DateTimeValue value) noexcept;

inline constexpr const char* kDateEncodeError = "Ungültiges Argument zum Codieren des Datums";
inline constexpr const char* kTimeEncodeError = "Ungültiges Argument zum Codieren der Uhrzeit";

// "yyyy-mm-dd hh:nn:ss": the form the track table stores and compares.
[[nodiscard]] std::string DateTimeText(DateTimeValue value);
// The same text appended to text, whose storage a caller formatting many values can keep.
void AppendDateTimeText(std::string& text, DateTimeValue value);
// The log stamp in the German default form "dd.mm.yyyy hh:nn:ss"; the time is left out at 00:00:00.
[[nodiscard]] std::string LogStamp(DateTimeValue value);
// The current local date and time.
[[nodiscard]] DateTimeValue Now();

}  // namespace zeloro
