// src/time/CameraZone.h: the zone a camera clock ran in (list item, fixed offset or named zone) and the
// clock offset that corrects a camera running fast or slow.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace date {
class time_zone;
}

namespace zeloro {

// Fixed offsets are accepted from UTC - 12:00 to UTC + 14:00, the span of the zones in use on earth.
inline constexpr int kLowestZoneOffsetSeconds = -12 * 3600;
inline constexpr int kHighestZoneOffsetSeconds = 14 * 3600;

// A clock offset is at most this many seconds either way (about 31 years: a camera whose clock was
// never set starts decades early).
inline constexpr std::int64_t kLargestClockOffsetSeconds = 999'999'999;

// How a camera's wall-clock time becomes UTC. Three kinds:
// - an item of the window's zone list: exactly the list's own whole-hour shift;
// - a fixed offset east of UTC in seconds (India "+05:30", Newfoundland "-03:30");
// - a named zone of the system's time-zone database ("Europe/Berlin"): the offset, summer time included,
//   in force at each photo's own local date and time. A local time that occurs twice (the hour after
//   summer time ends) is read in the offset before the change, the earlier of the two instants, since the
//   clock shows summer time first; a local time that does not occur (the hour skipped when summer time
//   begins) is read in the offset before the change too, which is the same as moving it forward by the
//   skipped hour: the clock has most likely not been set forward yet.
// A value is cheap to copy; a named zone refers to the database, which lives as long as the process.
class CameraZone {
public:
    // The list item at index (as makeUTCDifference takes it; -1 and indexes outside the list shift
    // nothing).
    [[nodiscard]] static CameraZone FromListIndex(int index) noexcept;
    // Seconds east of UTC. An offset of whole hours that the list holds becomes that list item, so that
    // "+02:00" and "UTC + 2:00" give the same result to the last bit.
    [[nodiscard]] static CameraZone FromOffset(int offsetSeconds) noexcept;

    // A fixed offset: optional blanks, an optional "UTC" or "GMT" (any letter case), a sign ("+", "-" or
    // the minus sign U+2212), hours (one or two digits) and optionally ":" and two digits of minutes, or
    // four digits "hhmm" ("UTC + 5:30", "+05:45", "-03:30", "+0530"); or a zone name of the system's
    // time-zone database ("Europe/Berlin", "Asia/Kolkata"; letter case ignored when the exact name is
    // not found). nullopt for anything else, for offsets outside UTC - 12:00 .. UTC + 14:00 and when the
    // database cannot be read.
    [[nodiscard]] static std::optional<CameraZone> Parse(std::string_view text);

    // The list index for a list item, else nullopt.
    [[nodiscard]] std::optional<int> ListIndex() const noexcept;
    // The name of a named zone, else the empty text.
    [[nodiscard]] std::string Name() const;

    // Seconds east of UTC in force at the local time: the list item's hours, the fixed offset, or the
    // named zone's offset at that local date and time (0 for a value the calendar cannot place).
    [[nodiscard]] int OffsetSecondsAt(DateTimeValue local) const;
    // The zone as a person reads it with a time: a list item's own text ("UTC + 2:00"), a fixed offset in
    // the same form ("UTC + 5:30", "UTC - 3:30"), a named zone by its name and its offset at the local time
    // ("Europe/Berlin, UTC + 2:00"), so that summer time shows.
    [[nodiscard]] std::string Text(DateTimeValue local) const;
    // The local time as UTC. A list item shifts exactly as makeUTCDifference does; the other kinds move
    // whole hours with ShiftHours and other offsets with ShiftSeconds.
    [[nodiscard]] DateTimeValue ToUtc(DateTimeValue local) const;

    friend bool operator==(const CameraZone& a, const CameraZone& b) noexcept {
        return a.kind_ == b.kind_ && a.listIndex_ == b.listIndex_ && a.offsetSeconds_ == b.offsetSeconds_ &&
               a.zone_ == b.zone_;
    }

private:
    enum class Kind : std::uint8_t { listItem, fixedOffset, named };
    CameraZone() = default;

    Kind kind_ = Kind::listItem;
    int listIndex_ = -1;
    int offsetSeconds_ = 0;
    const date::time_zone* zone_ = nullptr;
};

// The local time moved to UTC by an offset east of UTC: whole hours by ShiftHours, other offsets by
// ShiftSeconds; an offset of 0 returns the value bit for bit.
[[nodiscard]] DateTimeValue ShiftToUtc(DateTimeValue local, int offsetSeconds) noexcept;

// An offset east of UTC in the form of the zone list: "UTC" for none, else "UTC + H:MM" or "UTC - H:MM"
// (seconds of the offset left out).
[[nodiscard]] std::string OffsetZoneText(int offsetSeconds);

// A clock offset as the user writes it: whole seconds with an optional sign ("90", "-3600"), or
// "[+-]H:MM:SS" with any number of hour digits and minutes and seconds below 60 ("-01:30:00"). nullopt
// for anything else and beyond kLargestClockOffsetSeconds.
[[nodiscard]] std::optional<std::int64_t> ParseClockOffset(std::string_view text);

// The zone offset a camera stores with its times (EXIF OffsetTimeOriginal and OffsetTime): exactly a
// sign, two digits of hours, ":" and two digits of minutes ("+05:30"), trailing blanks ignored; nullopt
// for anything else (also the blank "   :  " of a camera that does not know its zone) and for offsets
// outside UTC - 12:00 .. UTC + 14:00.
[[nodiscard]] std::optional<int> ParseStoredOffset(std::string_view text);

}  // namespace zeloro
