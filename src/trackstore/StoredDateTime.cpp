// src/trackstore/StoredDateTime.cpp: the date-time texts stored in the database, parsed.
#include <optional>
#include <string_view>

#include "trackstore/Database.h"
#include "trackstore/detail/StoredText.h"

namespace zeloro {

namespace {

// Reads 1..maxDigits decimal digits at pos.
bool readNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits, int& out) noexcept {
    const std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && pos - start < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    out = value;
    return pos > start;
}

bool expect(std::string_view text, std::size_t& pos, char c) noexcept {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// "hh:mm[:ss[.zzz]]" from pos to the end of text.
std::optional<DateTimeValue> parseClock(std::string_view text, std::size_t pos) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
    if (!readNumber(text, pos, 2, hour) || !expect(text, pos, ':') || !readNumber(text, pos, 2, minute)) {
        return std::nullopt;
    }
    if (expect(text, pos, ':')) {
        if (!readNumber(text, pos, 2, second)) {
            return std::nullopt;
        }
        if (expect(text, pos, '.')) {
            const std::size_t start = pos;
            if (!readNumber(text, pos, 3, millis)) {
                return std::nullopt;
            }
            for (std::size_t digits = pos - start; digits < 3; ++digits) {
                millis *= 10;
            }
        }
    }
    DateTimeValue time = 0;
    if (pos != text.size() || !TryEncodeTime(hour, minute, second, millis, time)) {
        return std::nullopt;
    }
    return time;
}

// "yyyy-MM-dd" at the start of text; pos ends behind it.
std::optional<DateTimeValue> parseDate(std::string_view text, std::size_t& pos) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (!readNumber(text, pos, 4, year) || !expect(text, pos, '-') || !readNumber(text, pos, 2, month) ||
        !expect(text, pos, '-') || !readNumber(text, pos, 2, day)) {
        return std::nullopt;
    }
    DateTimeValue date = 0;
    if (!TryEncodeDate(year, month, day, date)) {
        return std::nullopt;
    }
    return date;
}

}  // namespace

std::optional<DateTimeValue> ParseDateTimeText(std::string_view text) {
    text = trimBlanks(text);
    std::size_t pos = 0;
    const std::optional<DateTimeValue> date = parseDate(text, pos);
    if (!date) {
        return std::nullopt;
    }
    if (pos == text.size()) {
        return date;
    }
    if (!expect(text, pos, ' ')) {
        return std::nullopt;
    }
    const std::optional<DateTimeValue> time = parseClock(text, pos);
    if (!time) {
        return std::nullopt;
    }
    // Before the epoch the day count is negative while the time of day still counts forward.
    return *date >= 0 ? *date + *time : *date - *time;
}

std::optional<DateTimeValue> ParseTimeText(std::string_view text) {
    text = trimBlanks(text);
    std::size_t pos = 0;
    if (parseDate(text, pos)) {
        if (!expect(text, pos, ' ')) {
            return std::nullopt;
        }
        return parseClock(text, pos);
    }
    return parseClock(text, 0);
}

}  // namespace zeloro
