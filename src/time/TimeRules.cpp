// src/time/TimeRules.cpp: zone shift, hour and second increments, summer-time rule.
#include "time/TimeRules.h"

namespace zeloro {
namespace {

constexpr std::array<std::string_view, kZoneCount> kZoneItems{
    "UTC - 11:00", "UTC - 10:00", "UTC - 9:00", "UTC - 8:00",  "UTC - 7:00",  "UTC - 6:00",
    "UTC - 5:00",  "UTC - 4:00",  "UTC - 3:00", "UTC - 2:00",  "UTC - 1:00",  "UTC",
    "UTC + 1:00",  "UTC + 2:00",  "UTC + 3:00", "UTC + 4:00",  "UTC + 5:00",  "UTC + 6:00",
    "UTC + 7:00",  "UTC + 8:00",  "UTC + 9:00", "UTC + 10:00", "UTC + 11:00", "UTC + 12:00"};

// The day count runs backwards before the epoch while the time of day runs forwards, so the increment
// is subtracted there; the x87 extended type keeps the intermediate exact for whole-second steps.
DateTimeValue shift(DateTimeValue value, std::int64_t n, long double unitsPerDay) noexcept {
    const long double v = value;
    const auto count = static_cast<long double>(n);
    const long double result =
        v > 0 ? (v * unitsPerDay + count) / unitsPerDay : (v * unitsPerDay - count) / unitsPerDay;
    return static_cast<DateTimeValue>(result);
}

// The last Sunday on or before the given day of the month, at the given hour.
DateTimeValue lastSundayAt(int year, int month, int day, int hour) noexcept {
    DateTimeValue date = 0;
    if (!TryEncodeDate(year, month, day, date)) {
        return 0;  // not reached: the callers keep the year within 1981..9999
    }
    return date - static_cast<double>(DayOfWeek(date) - 1) + static_cast<double>(hour) / 24.0;
}

}  // namespace

const std::array<std::string_view, kZoneCount>& ZoneItems() noexcept { return kZoneItems; }

int ZoneHoursToUtc(int zoneIndex) noexcept {
    if (zoneIndex >= 0 && zoneIndex < kZoneIndexUtc) {
        return kZoneIndexUtc - zoneIndex;
    }
    if (zoneIndex > kZoneIndexUtc && zoneIndex < kZoneCount) {
        return -(zoneIndex - kZoneIndexUtc);
    }
    return 0;
}

DateTimeValue ShiftHours(DateTimeValue value, std::int64_t n) noexcept { return shift(value, n, 24.0L); }

DateTimeValue ShiftSeconds(DateTimeValue value, std::int64_t n) noexcept { return shift(value, n, 86400.0L); }

DateTimeValue makeUTCDifference(DateTimeValue inVal, int zoneIndex) noexcept {
    const int hours = ZoneHoursToUtc(zoneIndex);
    if (hours == 0) {
        return inVal;
    }
    return ShiftHours(inVal, hours);
}

bool CheckSZ(DateTimeValue Datum) noexcept {
    const int year = DecodeDate(Datum).year;
    // Values the calendar cannot place decode to year 0 (or beyond 9999); they are not summer time either.
    if (year <= 1980 || year > 9999) {
        return false;
    }
    const DateTimeValue start = lastSundayAt(year, 3, 31, 2);
    const DateTimeValue end = year <= 1995 ? lastSundayAt(year, 9, 30, 3) : lastSundayAt(year, 10, 31, 3);
    return start <= Datum && Datum < end;
}

int DefaultZoneIndex(DateTimeValue now) noexcept {
    return CheckSZ(now) ? kZoneIndexSummer : kZoneIndexWinter;
}

}  // namespace zeloro
