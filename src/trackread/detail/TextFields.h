// src/trackread/detail/TextFields.h: the texts the text track readers share: times, numbers, and the
// segment bookkeeping that gives the sink a NewSegment before a segment's first timed point.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trackread/TrackPoint.h"

namespace zeloro::trackread {

enum class TimeText : std::uint8_t {
    moment,   // a date with a time of day: a track point's time
    dayOnly,  // a year, month or day without a time of day: no moment a photo can be matched to
    invalid,
};

// ISO 8601 in its extended form: "yyyy-mm-dd" then 'T' (or a space) and "hh:mm[:ss[.fff...]]", then
// "Z", "+hh:mm", "+hhmm", "+hh" or nothing (nothing is UTC); "yyyy" and "yyyy-mm" count as dayOnly.
// Fractions are kept to the millisecond, digits beyond cut off, as the GPX import keeps them.
[[nodiscard]] TimeText ParseIsoTime(std::string_view text, DateTimeValue& utc) noexcept;

// Seconds since 1970-01-01 UTC, or milliseconds for a number of more than 11 digits' worth (from
// 100,000,000,000 on: as seconds that would be the year 5138, as milliseconds it is 1973). Decimal text
// with an optional sign and fraction; false for anything else or a time outside the years 1 to 9999.
[[nodiscard]] bool ParseUnixTime(std::string_view text, DateTimeValue& utc) noexcept;
// The same for a whole number of milliseconds.
[[nodiscard]] bool UnixMillisecondsToUtc(std::int64_t ms, DateTimeValue& utc) noexcept;

// A finite decimal number ("-12.5", "+3", "1e-3"), blanks around it allowed; nothing else.
[[nodiscard]] std::optional<double> ParseNumber(std::string_view text) noexcept;

// The text without leading and trailing blanks (space, tab, CR, LF).
[[nodiscard]] std::string_view Trimmed(std::string_view text) noexcept;
// ASCII letters lower-cased.
[[nodiscard]] std::string LowerAscii(std::string_view text);

// A quoted piece of the file for an error text: at most 60 bytes, control bytes shown as "?".
[[nodiscard]] std::string Quoted(std::string_view text);

// Hands points to the sink, calling NewSegment before the first point of each segment the reader
// names. A segment without a timed point is never begun.
class SegmentedSink {
public:
    explicit SegmentedSink(TrackPointSink& sink) noexcept : sink_(sink) {}
    // The points from here on belong to a new segment.
    void BreakSegment() noexcept { open_ = false; }
    void Add(const TrackPoint& point) {
        if (!open_) {
            sink_.NewSegment();
            open_ = true;
        }
        sink_.Add(point);
    }

private:
    TrackPointSink& sink_;
    bool open_ = false;
};

}  // namespace zeloro::trackread
