// src/xml/XmlDateTime.h: XML date-time texts (GPX <time>) read by fixed byte positions.
#pragma once
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace zeloro {

inline constexpr const char* kInvalidInteger = "''%s'' ist kein gültiger Integer-Wert";

// Optional leading spaces, an optional sign, then decimal digits and nothing else. Throws ConvertError
// "''%s'' ist kein gültiger Integer-Wert" with the text otherwise (the empty text included).
[[nodiscard]] int StrToIntStrict(std::string_view text);
// The same reading; 0 where the strict form would fail.
[[nodiscard]] int StrToIntLenient(std::string_view text) noexcept;

// Year bytes 1-4, month 6-7, day 9-10; when the text is longer than 16 bytes also hour 12-13, minute
// 15-16 (strict) and second 18-19, millisecond 21-23 (lenient). The separators are never looked at.
// A zone designator counts only with useLocalBias, which shifts the value to local time.
// Throws ConvertError: the integer message, "Ungültiges Argument zum Codieren des Datums" or
// "Ungültiges Argument zum Codieren der Uhrzeit".
[[nodiscard]] DateTimeValue DateTimeFromText(std::string_view text, bool useLocalBias);

// Appends AppendDateTimeText's "yyyy-mm-dd hh:nn:ss" for DateTimeFromText(text, useLocalBias), with the
// same errors. A plain UTC time to the second ("2024-06-15T08:00:00Z", of 19 or 20 bytes) is copied
// field by field, without the detour over the number, which costs more than the rest of an imported
// point's binding.
void AppendDateTimeFromText(std::string& out, std::string_view text, bool useLocalBias);

// The host's current bias in minutes (UTC = local time + bias); 0 when it cannot be determined.
[[nodiscard]] int LocalBiasMinutes() noexcept;

}  // namespace zeloro
