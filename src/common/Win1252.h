// src/common/Win1252.h: the 8-bit code page of tag texts, converted to and from UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace zeloro {

// Every byte maps to a character; the five undefined bytes map to the C1 controls of the same value.
[[nodiscard]] std::string Win1252ToUtf8(std::string_view bytes);
// Characters without a Windows-1252 byte become '?'; invalid UTF-8 bytes become '?' too.
[[nodiscard]] std::string Utf8ToWin1252(std::string_view utf8);

// Decodes one UTF-8 character at pos; returns false on a malformed sequence (pos then advances by one).
[[nodiscard]] bool DecodeUtf8(std::string_view utf8, std::size_t& pos, char32_t& cp) noexcept;
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace zeloro
