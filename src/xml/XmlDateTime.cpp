// src/xml/XmlDateTime.cpp: XML date-time texts read by fixed byte positions.
#include "xml/XmlDateTime.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "common/AsciiText.h"
#include "common/Error.h"

namespace zeloro {

namespace {

// The bytes from 1-based position first, count of them; shorter or empty past the end of the text.
std::string_view Field(std::string_view text, std::size_t first, std::size_t count) noexcept {
    if (first - 1 >= text.size()) {
        return {};
    }
    return text.substr(first - 1, count);
}

// The fields are taken as 16-bit unsigned numbers, so a negative field lands far out of every range.
int AsWord(int value) noexcept { return static_cast<int>(static_cast<std::uint16_t>(value)); }

}  // namespace

int StrToIntStrict(std::string_view text) {
    const std::optional<int> value = ParseInteger<int>(TrimLeadingSpaces(text));
    if (!value) {
        throw InvalidValueError(kInvalidInteger, text);
    }
    return *value;
}

int StrToIntLenient(std::string_view text) noexcept {
    return ParseInteger<int>(TrimLeadingSpaces(text)).value_or(0);
}

DateTimeValue DateTimeFromText(std::string_view text, bool useLocalBias) {
    const int year = AsWord(StrToIntStrict(Field(text, 1, 4)));
    const int month = AsWord(StrToIntStrict(Field(text, 6, 2)));
    const int day = AsWord(StrToIntStrict(Field(text, 9, 2)));
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    if (text.size() > 16) {
        hour = AsWord(StrToIntStrict(Field(text, 12, 2)));
        minute = AsWord(StrToIntStrict(Field(text, 15, 2)));
        second = AsWord(StrToIntLenient(Field(text, 18, 2)));
        millisecond = AsWord(StrToIntLenient(Field(text, 21, 3)));
    }
    DateTimeValue result = EncodeDate(year, month, day);
    const DateTimeValue time = EncodeTime(hour, minute, second, millisecond);
    // Before 30 December 1899 the day count is negative while the time of day still counts forward.
    result = result < 0 ? result - time : result + time;
    if (useLocalBias) {
        if (text.size() > 24) {
            const int hours = StrToIntStrict(Field(text, 25, 2));
            const int minutes = StrToIntStrict(Field(text, 28, 2));
            int offset = hours * 60 + minutes;
            if (text[23] == '+') {
                offset = -offset;
            }
            result += offset / 1440.0;
        }
        result -= LocalBiasMinutes() / 1440.0;
    }
    return result;
}

int LocalBiasMinutes() noexcept {
    // tm_gmtoff is east of UTC in seconds, under the rule in force now (daylight time included);
    // the bias counts the other way: UTC = local time + bias.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    return static_cast<int>(-local.tm_gmtoff / 60);
}

}  // namespace zeloro
