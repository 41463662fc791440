// src/common/AsciiText.h: letter case and decimal integers of ASCII text, the same under every locale.
#pragma once
#include <charconv>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace zeloro {

// Only 'a'..'z' and 'A'..'Z' change; every other byte, UTF-8 included, stays as it is.
[[nodiscard]] constexpr char AsciiUpper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
[[nodiscard]] constexpr char AsciiLower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with every control character (C0, DEL, C1), every byte that is not part of valid UTF-8, the
// line and paragraph separators (U+2028, U+2029) and the bidirectional controls (U+061C, U+200E, U+200F,
// U+202A..U+202E, U+2066..U+2069) written as "\xNN" per byte (U+2028 as "\xE2\x80\xA8"), so that a
// file name in a log line can neither break the line, fake another one, turn the rest of it around nor
// send escape sequences to a terminal. Any other text, other non-ASCII letters included, is returned
// unchanged. For log lines only: the map page and the JSON output keep names as they are.
[[nodiscard]] std::string LogSafeText(std::string_view text);

// Equal when ASCII letters are taken without their case; every other byte must match exactly.
[[nodiscard]] bool SameTextAscii(std::string_view a, std::string_view b) noexcept;
// Negative, zero or positive: the texts ordered byte by byte (unsigned) with ASCII letters lower-cased, a
// text before every longer text it starts. Lower-casing puts "_" before the letters.
[[nodiscard]] int CompareTextAscii(std::string_view a, std::string_view b) noexcept;

// The text without the spaces at its start (only ' ').
[[nodiscard]] constexpr std::string_view TrimLeadingSpaces(std::string_view text) noexcept {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    return text;
}

// The whole text as a decimal integer: an optional sign ('-' only for a signed T), then digits and
// nothing else, blanks included; nullopt otherwise and for a value outside T.
template <std::integral T>
[[nodiscard]] std::optional<T> ParseInteger(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;  // from_chars would take the second sign
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    T value{};
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace zeloro
