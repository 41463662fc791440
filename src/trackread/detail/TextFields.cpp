// src/trackread/detail/TextFields.cpp
#include "trackread/detail/TextFields.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace zeloro::trackread {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kUnixEpochDay = 25569;  // 1970-01-01 in days since 1899-12-30

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Exactly count digits at text[at...]; false when there are fewer.
bool Digits(std::string_view text, std::size_t& at, int count, int& value) noexcept {
    value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (at >= text.size() || !IsDigit(text[at])) {
            return false;
        }
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

// The value of a moment given in milliseconds since 1899-12-30 00:00 UTC: the day count with the time of
// day as its fraction, which before that day is added away from zero, as EncodeDateTime does.
bool ValueFromMs(std::int64_t ms, DateTimeValue& utc) noexcept {
    DateTimeValue first = 0;
    DateTimeValue last = 0;
    if (!TryEncodeDate(1, 1, 1, first) || !TryEncodeDate(9999, 12, 31, last)) {
        return false;
    }
    std::int64_t day = ms / kMsPerDay;
    std::int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --day;
    }
    if (static_cast<double>(day) < first || static_cast<double>(day) > last) {
        return false;
    }
    const double fraction = static_cast<double>(rest) / static_cast<double>(kMsPerDay);
    utc = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
    return true;
}

}  // namespace

std::string_view Trimmed(std::string_view text) noexcept {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        quoted += byte < 0x20 || byte == 0x7f ? '?' : text[i];
    }
    quoted += text.size() > kShown ? "...\"" : "\"";
    return quoted;
}

TimeText ParseIsoTime(std::string_view text, DateTimeValue& utc) noexcept {
    text = Trimmed(text);
    std::size_t at = 0;
    int year = 0;
    int month = 1;
    int day = 1;
    if (!Digits(text, at, 4, year)) {
        return TimeText::invalid;
    }
    if (at == text.size()) {
        return year >= 1 ? TimeText::dayOnly : TimeText::invalid;
    }
    if (text[at++] != '-' || !Digits(text, at, 2, month)) {
        return TimeText::invalid;
    }
    DateTimeValue date = 0;
    if (at == text.size()) {
        return TryEncodeDate(year, month, 1, date) ? TimeText::dayOnly : TimeText::invalid;
    }
    if (text[at++] != '-' || !Digits(text, at, 2, day) || !TryEncodeDate(year, month, day, date)) {
        return TimeText::invalid;
    }
    if (at == text.size()) {
        return TimeText::dayOnly;
    }
    if (text[at] != 'T' && text[at] != 't' && text[at] != ' ') {
        return TimeText::invalid;
    }
    ++at;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    if (!Digits(text, at, 2, hour) || at >= text.size() || text[at++] != ':' ||
        !Digits(text, at, 2, minute)) {
        return TimeText::invalid;
    }
    if (at < text.size() && text[at] == ':') {
        ++at;
        if (!Digits(text, at, 2, second)) {
            return TimeText::invalid;
        }
        if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
            ++at;
            const std::size_t first = at;
            int scale = 100;
            for (; at < text.size() && IsDigit(text[at]); ++at) {
                millisecond += (text[at] - '0') * scale;
                scale /= 10;
            }
            if (at == first) {
                return TimeText::invalid;
            }
        }
    }
    int offsetMinutes = 0;
    if (at < text.size()) {
        const char zone = text[at++];
        if (zone == 'Z' || zone == 'z') {
            if (at != text.size()) {
                return TimeText::invalid;
            }
        } else if (zone == '+' || zone == '-') {
            int hours = 0;
            int minutes = 0;
            if (!Digits(text, at, 2, hours)) {
                return TimeText::invalid;
            }
            if (at < text.size()) {
                if (text[at] == ':') {
                    ++at;
                }
                if (!Digits(text, at, 2, minutes) || at != text.size()) {
                    return TimeText::invalid;
                }
            }
            if (hours > 23 || minutes > 59) {
                return TimeText::invalid;
            }
            offsetMinutes = (zone == '-' ? -1 : 1) * (hours * 60 + minutes);
        } else {
            return TimeText::invalid;
        }
    }
    DateTimeValue clock = 0;
    if (!TryEncodeTime(hour, minute, second, millisecond, clock)) {
        return TimeText::invalid;
    }
    const std::int64_t ms = static_cast<std::int64_t>(date) * kMsPerDay + hour * 3600000LL +
                            minute * 60000LL + second * 1000LL + millisecond - offsetMinutes * 60000LL;
    return ValueFromMs(ms, utc) ? TimeText::moment : TimeText::invalid;
}

bool UnixMillisecondsToUtc(std::int64_t ms, DateTimeValue& utc) noexcept {
    constexpr std::int64_t kLimit = std::int64_t{400000} * kMsPerDay;  // beyond the years 1..9999 anyway
    if (ms > kLimit || ms < -kLimit) {
        return false;
    }
    return ValueFromMs(kUnixEpochDay * kMsPerDay + ms, utc);
}

bool ParseUnixTime(std::string_view text, DateTimeValue& utc) noexcept {
    text = Trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if (whole.empty() || whole.size() > 15 || (point != std::string_view::npos && fraction.empty())) {
        return false;
    }
    std::int64_t number = 0;
    for (const char c : whole) {
        if (!IsDigit(c)) {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    // Milliseconds from here on; the digits beyond the millisecond are cut off.
    const bool inMs = number >= 100000000000LL;
    std::int64_t ms = inMs ? number : number * 1000;
    int scale = inMs ? 0 : 100;
    for (const char c : fraction) {
        if (!IsDigit(c)) {
            return false;
        }
        ms += (c - '0') * scale;
        scale /= 10;
    }
    return UnixMillisecondsToUtc(negative ? -ms : ms, utc);
}

std::optional<double> ParseNumber(std::string_view text) noexcept {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace zeloro::trackread
