// src/metadata/detail/ExifTagText.h: the text forms of tag data: UTF-16LE text, comma lists and numbers.
#pragma once
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/AsciiText.h"

namespace zeloro {

// Blanks around the number are accepted, as the text-to-number routine of the system does.
template <std::integral T>
[[nodiscard]] std::optional<T> ParseBlankedInteger(std::string_view text) noexcept {
    text = TrimLeadingSpaces(text);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return ParseInteger<T>(text);
}

// The integer parser of date fields: optional leading blanks, an optional sign, then digits only.
[[nodiscard]] inline bool ParseField(const char* p, std::size_t n, int& out) noexcept {
    const std::optional<int> value = ParseInteger<int>(TrimLeadingSpaces(std::string_view(p, n)));
    if (value) out = *value;
    return value.has_value();
}

// Up to 15 significant digits in "%g" style.
[[nodiscard]] std::string FormatFloat(double v);
// One item of comma-separated text, quoted when it holds a blank, a comma or a double quote.
void AppendCommaItem(std::string& out, const std::string& item);
// The items of comma-separated text: blanks around them dropped, quoted items unquoted (a doubled quote
// is one), an empty item after a final comma kept.
[[nodiscard]] std::vector<std::string> SplitCommaText(std::string_view text);
// The first units UTF-16LE code units at p as UTF-8; a surrogate pair becomes one character.
[[nodiscard]] std::string Utf16LeToUtf8(const std::uint8_t* p, std::size_t units);
// UTF-8 as UTF-16LE with a terminating zero unit; a broken sequence becomes '?'.
[[nodiscard]] std::vector<std::uint8_t> Utf8ToUtf16LeZ(const std::string& text);

}  // namespace zeloro
