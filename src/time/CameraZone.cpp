// src/time/CameraZone.cpp: zone kinds, their shift to UTC, and the texts of zones and clock offsets.
#include "time/CameraZone.h"

#include <date/tz.h>

#include <chrono>
#include <exception>

#include "common/AsciiText.h"
#include "time/TimeRules.h"

namespace zeloro {
namespace {

constexpr int kSecondsPerHour = 3600;

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool InZoneRange(int offsetSeconds) noexcept {
    return offsetSeconds >= kLowestZoneOffsetSeconds && offsetSeconds <= kHighestZoneOffsetSeconds;
}

// Upper case without blanks, the minus sign U+2212 as "-": "utc − 5:30" and "UTC-5:30" read alike.
std::string Compact(std::string_view text) {
    static constexpr std::string_view kMinusSign = "\xE2\x88\x92";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, kMinusSign.size()) == kMinusSign) {
            out += '-';
            i += kMinusSign.size() - 1;
        } else if (text[i] != ' ' && text[i] != '\t') {
            out += AsciiUpper(text[i]);
        }
    }
    return out;
}

std::optional<int> ParseFixedOffset(std::string_view text) {
    const std::string s = Compact(text);
    std::string_view rest(s);
    const bool named = rest.starts_with("UTC") || rest.starts_with("GMT");
    if (named) {
        rest.remove_prefix(3);
        if (rest.empty()) {
            return 0;
        }
    }
    if (rest.empty() || (rest.front() != '+' && rest.front() != '-')) {
        return std::nullopt;
    }
    const int sign = rest.front() == '-' ? -1 : 1;
    rest.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < rest.size() && IsDigit(rest[digits])) {
        ++digits;
    }
    int hours = 0;
    int minutes = 0;
    // Only ever given digits checked above, at most two of them.
    const auto number = [](std::string_view d) { return ParseInteger<int>(d).value_or(0); };
    if (digits == rest.size() && digits == 4) {  // "hhmm"
        hours = number(rest.substr(0, 2));
        minutes = number(rest.substr(2, 2));
    } else if (digits == rest.size() && (digits == 1 || digits == 2)) {
        hours = number(rest);
    } else if ((digits == 1 || digits == 2) && rest.size() == digits + 3 && rest[digits] == ':' &&
               IsDigit(rest[digits + 1]) && IsDigit(rest[digits + 2])) {
        hours = number(rest.substr(0, digits));
        minutes = number(rest.substr(digits + 1, 2));
    } else {
        return std::nullopt;
    }
    if (minutes >= 60) {
        return std::nullopt;
    }
    const int offset = sign * (hours * kSecondsPerHour + minutes * 60);
    if (!InZoneRange(offset)) {
        return std::nullopt;
    }
    return offset;
}

const date::time_zone* FindNamedZone(std::string_view name) {
    if (name.empty()) {
        return nullptr;
    }
    try {
        return date::locate_zone(std::string(name));
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): not found by its exact name
    }
    try {
        for (const date::time_zone& zone : date::get_tzdb().zones) {
            if (SameTextAscii(zone.name(), name)) {
                return &zone;
            }
        }
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): no readable database: no zone
    }
    return nullptr;
}

}  // namespace

DateTimeValue ShiftToUtc(DateTimeValue local, int offsetSeconds) noexcept {
    if (offsetSeconds == 0) {
        return local;
    }
    if (offsetSeconds % kSecondsPerHour == 0) {
        return ShiftHours(local, -(offsetSeconds / kSecondsPerHour));
    }
    return ShiftSeconds(local, -offsetSeconds);
}

CameraZone CameraZone::FromListIndex(int index) noexcept {
    CameraZone zone;
    zone.kind_ = Kind::listItem;
    zone.listIndex_ = index;
    return zone;
}

CameraZone CameraZone::FromOffset(int offsetSeconds) noexcept {
    if (offsetSeconds % kSecondsPerHour == 0) {
        const int hours = offsetSeconds / kSecondsPerHour;
        // Index 11 is "UTC"; the list runs from 11 hours west (index 0) to 12 hours east (index 23).
        if (hours >= -kZoneIndexUtc && hours <= kZoneCount - 1 - kZoneIndexUtc) {
            return FromListIndex(kZoneIndexUtc + hours);
        }
    }
    CameraZone zone;
    zone.kind_ = Kind::fixedOffset;
    zone.offsetSeconds_ = offsetSeconds;
    return zone;
}

std::optional<CameraZone> CameraZone::Parse(std::string_view text) {
    if (const std::optional<int> offset = ParseFixedOffset(text)) {
        return FromOffset(*offset);
    }
    if (const date::time_zone* found = FindNamedZone(text)) {
        CameraZone zone;
        zone.kind_ = Kind::named;
        zone.zone_ = found;
        return zone;
    }
    return std::nullopt;
}

std::optional<int> CameraZone::ListIndex() const noexcept {
    if (kind_ == Kind::listItem) {
        return listIndex_;
    }
    return std::nullopt;
}

std::string CameraZone::Name() const { return zone_ != nullptr ? zone_->name() : std::string(); }

std::string CameraZone::Text(DateTimeValue local) const {
    switch (kind_) {
        case Kind::listItem:
            return listIndex_ >= 0 && listIndex_ < kZoneCount
                       ? std::string(ZoneItems()[static_cast<std::size_t>(listIndex_)])
                       : std::string();
        case Kind::fixedOffset:
            return OffsetZoneText(offsetSeconds_);
        case Kind::named:
            break;
    }
    return Name() + ", " + OffsetZoneText(OffsetSecondsAt(local));
}

std::string OffsetZoneText(int offsetSeconds) {
    const int minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    if (minutes == 0) {
        return "UTC";
    }
    const int minute = minutes % 60;
    return std::string(offsetSeconds < 0 ? "UTC - " : "UTC + ") + std::to_string(minutes / 60) +
           (minute < 10 ? ":0" : ":") + std::to_string(minute);
}

int CameraZone::OffsetSecondsAt(DateTimeValue local) const {
    switch (kind_) {
        case Kind::listItem:
            return -ZoneHoursToUtc(listIndex_) * kSecondsPerHour;
        case Kind::fixedOffset:
            return offsetSeconds_;
        case Kind::named:
            break;
    }
    const CalendarDate d = DecodeDate(local);
    if (d.year == 0) {
        return 0;
    }
    const ClockTime c = DecodeTime(local);
    const date::local_seconds wall =
        date::local_days{date::year{d.year} / date::month{d.month} / date::day{d.day}} +
        std::chrono::hours{c.hour} + std::chrono::minutes{c.minute} + std::chrono::seconds{c.second};
    // For a time that occurs twice, `first` is the earlier instant (summer time); for a skipped time it is
    // the offset before the change. Both are the documented choice, so `first` serves every case.
    const date::local_info info = zone_->get_info(wall);
    return static_cast<int>(info.first.offset.count());
}

DateTimeValue CameraZone::ToUtc(DateTimeValue local) const {
    if (kind_ == Kind::listItem) {
        return makeUTCDifference(local, listIndex_);
    }
    return ShiftToUtc(local, OffsetSecondsAt(local));
}

std::optional<std::int64_t> ParseClockOffset(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t sign = 1;
    if (text.front() == '+' || text.front() == '-') {
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
    }
    std::size_t i = 0;
    // Ten digits already exceed the largest offset; stopping there keeps the value far from overflow.
    while (i < text.size() && IsDigit(text[i]) && i < 10) {
        ++i;
    }
    if (i == 0) {
        return std::nullopt;
    }
    std::int64_t value = ParseInteger<std::int64_t>(text.substr(0, i)).value_or(0);
    if (i < text.size()) {
        // "H:MM:SS": the digits read so far were hours.
        if (text.size() != i + 6 || text[i] != ':' || text[i + 3] != ':') {
            return std::nullopt;
        }
        for (const std::size_t at : {i + 1, i + 2, i + 4, i + 5}) {
            if (!IsDigit(text[at])) {
                return std::nullopt;
            }
        }
        const int minutes = ParseInteger<int>(text.substr(i + 1, 2)).value_or(0);
        const int seconds = ParseInteger<int>(text.substr(i + 4, 2)).value_or(0);
        if (minutes >= 60 || seconds >= 60) {
            return std::nullopt;
        }
        value = value * kSecondsPerHour + minutes * 60 + seconds;
    }
    if (value > kLargestClockOffsetSeconds) {
        return std::nullopt;
    }
    return sign * value;
}

std::optional<int> ParseStoredOffset(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.remove_suffix(1);
    }
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || !IsDigit(text[1]) || !IsDigit(text[2]) ||
        text[3] != ':' || !IsDigit(text[4]) || !IsDigit(text[5])) {
        return std::nullopt;
    }
    const int hours = ParseInteger<int>(text.substr(1, 2)).value_or(0);
    const int minutes = ParseInteger<int>(text.substr(4, 2)).value_or(0);
    if (minutes >= 60) {
        return std::nullopt;
    }
    const int offset = (text[0] == '-' ? -1 : 1) * (hours * kSecondsPerHour + minutes * 60);
    if (!InZoneRange(offset)) {
        return std::nullopt;
    }
    return offset;
}

}  // namespace zeloro
