// src/common/DateTime.cpp: proleptic Gregorian calendar over the day count.
#include "common/DateTime.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/Error.h"

namespace zeloro {
namespace {

// Days from 1 January of year 1 (day 1) to 30 December 1899.
constexpr std::int64_t kDateDelta = 693594;
constexpr std::int64_t kMSecsPerDayInt = 86400000;

std::int64_t daysBeforeYear(std::int64_t year) noexcept {
    const std::int64_t y = year - 1;
    return y * 365 + y / 4 - y / 100 + y / 400;
}

struct Stamp {
    std::int64_t date;  // days since 1 January of year 1, that day being 1
    std::int64_t time;  // milliseconds of the day
};

// Rounds the whole value to milliseconds first, so 23:59:59.9996 becomes the next day's midnight.
Stamp toStamp(DateTimeValue value) noexcept {
    // NaN and values far outside the calendar would overflow the millisecond count; they decode as
    // the zero date, like every other value the calendar cannot place.
    if (!(std::fabs(value) < 1e11)) {
        return {0, 0};
    }
    const auto ms = static_cast<std::int64_t>(std::nearbyint(value * kMSecsPerDay));
    return {kDateDelta + ms / kMSecsPerDayInt, std::llabs(ms) % kMSecsPerDayInt};
}

// Appends value with exactly `width` digits, zeros in front; the value must fit the width.
void appendDigits(std::string& out, unsigned value, int width) {
    char digits[4];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

bool IsLeapYear(int year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) noexcept {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, DateTimeValue& out) noexcept {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return false;
    }
    std::int64_t days = daysBeforeYear(year);
    for (int m = 1; m < month; ++m) {
        days += DaysInMonth(year, m);
    }
    days += day;
    out = static_cast<double>(days - kDateDelta);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, DateTimeValue& out) noexcept {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        millisecond < 0 || millisecond >= 1000) {
        return false;
    }
    const auto ms = static_cast<std::int64_t>(hour) * 3600000 + minute * 60000 + second * 1000 + millisecond;
    out = static_cast<double>(ms) / kMSecsPerDay;
    return true;
}

DateTimeValue EncodeDate(int year, int month, int day) {
    DateTimeValue result = 0;
    if (!TryEncodeDate(year, month, day, result)) {
        throw ConvertError(kDateEncodeError);
    }
    return result;
}

DateTimeValue EncodeTime(int hour, int minute, int second, int millisecond) {
    DateTimeValue result = 0;
    if (!TryEncodeTime(hour, minute, second, millisecond, result)) {
        throw ConvertError(kTimeEncodeError);
    }
    return result;
}

DateTimeValue EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                             int millisecond) {
    const DateTimeValue date = EncodeDate(year, month, day);
    const DateTimeValue time = EncodeTime(hour, minute, second, millisecond);
    // Before the epoch the day count is negative while the time still counts forward.
    return date >= 0 ? date + time : date - time;
}

CalendarDate DecodeDate(DateTimeValue value) noexcept {
    const Stamp stamp = toStamp(value);
    if (stamp.date <= 0 || !std::isfinite(value)) {
        return {};
    }
    // Civil-from-days over days since 1 March of year 0.
    const std::int64_t z = stamp.date - 1 + 306;  // day 1 is 1 January of year 1
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    if (y > 65535) {
        return {};
    }
    return {static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(m), static_cast<std::uint16_t>(d)};
}

ClockTime DecodeTime(DateTimeValue value) noexcept {
    if (!std::isfinite(value)) {
        return {};
    }
    const Stamp stamp = toStamp(value);
    const std::int64_t t = stamp.time;
    return {static_cast<std::uint16_t>(t / 3600000), static_cast<std::uint16_t>(t / 60000 % 60),
            static_cast<std::uint16_t>(t / 1000 % 60), static_cast<std::uint16_t>(t % 1000)};
}

int DayOfWeek(DateTimeValue value) noexcept {
    const Stamp stamp = toStamp(value);
    return static_cast<int>(((stamp.date % 7) + 7) % 7) + 1;
}

void AppendDateTimeText(std::string& text, DateTimeValue value) {
    const CalendarDate d = DecodeDate(value);
    const ClockTime t = DecodeTime(value);
    // Formatted by hand: every imported point and every lookup binds one of these, and a formatted
    // print costs more than the rest of the binding.
    if (d.year > 9999) {
        text += std::to_string(d.year);
    } else {
        appendDigits(text, d.year, 4);
    }
    text += '-';
    appendDigits(text, d.month, 2);
    text += '-';
    appendDigits(text, d.day, 2);
    text += ' ';
    appendDigits(text, t.hour, 2);
    text += ':';
    appendDigits(text, t.minute, 2);
    text += ':';
    appendDigits(text, t.second, 2);
}

std::string DateTimeText(DateTimeValue value) {
    std::string text;
    text.reserve(20);
    AppendDateTimeText(text, value);
    return text;
}

std::string LogStamp(DateTimeValue value) {
    const CalendarDate d = DecodeDate(value);
    const ClockTime t = DecodeTime(value);
    char buf[48];
    if (t.hour == 0 && t.minute == 0 && t.second == 0) {
        std::snprintf(buf, sizeof buf, "%02u.%02u.%04u", unsigned{d.day}, unsigned{d.month},
                      unsigned{d.year});
    } else {
        std::snprintf(buf, sizeof buf, "%02u.%02u.%04u %02u:%02u:%02u", unsigned{d.day}, unsigned{d.month},
                      unsigned{d.year}, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
    }
    return buf;
}

DateTimeValue Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

}  // namespace zeloro
