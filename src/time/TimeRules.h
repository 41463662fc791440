// src/time/TimeRules.h: camera time to UTC by the chosen zone, hour and second shifts, summer time.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "common/DateTime.h"

namespace zeloro {

inline constexpr int kZoneCount = 24;
inline constexpr int kZoneIndexUtc = 11;
inline constexpr int kZoneIndexWinter = 12;  // "UTC + 1:00"
inline constexpr int kZoneIndexSummer = 13;  // "UTC + 2:00"

// The item texts of the zone list, "UTC - 11:00" (index 0) to "UTC + 12:00" (index 23).
[[nodiscard]] const std::array<std::string_view, kZoneCount>& ZoneItems() noexcept;

// Hours that the zone at zoneIndex adds to a camera time to reach UTC; 0 for "UTC", -1 (no item) and
// any index outside the list.
[[nodiscard]] int ZoneHoursToUtc(int zoneIndex) noexcept;

// value + n hours / seconds, computed in extended precision and rounded to double at the end. Values
// at or before 30 December 1899 (value <= 0) move the other way: there the day count runs backwards
// while the time of day still runs forwards, so 0 shifted by -1 hour is 01:00 of that day.
[[nodiscard]] DateTimeValue ShiftHours(DateTimeValue value, std::int64_t n) noexcept;
[[nodiscard]] DateTimeValue ShiftSeconds(DateTimeValue value, std::int64_t n) noexcept;

// The camera time inVal as UTC for the zone list's item index; unchanged for "UTC", -1 and any index
// outside 0..23.
[[nodiscard]] DateTimeValue makeUTCDifference(DateTimeValue inVal, int zoneIndex) noexcept;

// True from the last Sunday of March 02:00 (included) to the last Sunday of October 03:00 (excluded);
// up to 1995 the period ends on the last Sunday of September. Always false for 1980 and earlier.
[[nodiscard]] bool CheckSZ(DateTimeValue Datum) noexcept;

// The zone a front end preselects at start-up for the local time now: summer time "UTC + 2:00",
// otherwise "UTC + 1:00".
[[nodiscard]] int DefaultZoneIndex(DateTimeValue now) noexcept;

}  // namespace zeloro
