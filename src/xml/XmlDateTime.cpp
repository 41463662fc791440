// src/xml/XmlDateTime.cpp: XML date-time texts read by fixed byte positions.
#include "xml/XmlDateTime.h"

#include <algorithm>
#include <array>
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

void AppendDateTimeFromText(std::string& out, std::string_view text, bool useLocalBias) {
    constexpr std::array<std::size_t, 14> kDigitAt{0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    const auto digitsAt = [&text](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    if (!useLocalBias && (text.size() == 19 || text.size() == 20) &&
        std::all_of(kDigitAt.begin(), kDigitAt.end(),
                    [&text](std::size_t at) { return text[at] >= '0' && text[at] <= '9'; })) {
        // The millisecond field lies past the end: it reads as 0, so the value is a whole second and
        // its text shows the fields as they stand.
        const int year = digitsAt(0) * 100 + digitsAt(2);
        const int month = digitsAt(5);
        const int day = digitsAt(8);
        if (year >= 1 && day >= 1 && day <= DaysInMonth(year, month) && digitsAt(11) < 24 &&
            digitsAt(14) < 60 && digitsAt(17) < 60) {
            std::array<char, 19> stored{};
            std::copy_n(text.begin(), stored.size(), stored.begin());
            stored[4] = '-';
            stored[7] = '-';
            stored[10] = ' ';
            stored[13] = ':';
            stored[16] = ':';
            out.append(stored.data(), stored.size());
            return;
        }
    }
    AppendDateTimeText(out, DateTimeFromText(text, useLocalBias));
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
