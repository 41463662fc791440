// src/xml/XmlText.h: the text helpers of the XML reader (trimming, quoting, entities, tag tokens).
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zeloro {

// Bytes 9, 10, 13 and 32: the only white space the reader knows.
[[nodiscard]] constexpr bool IsXmlBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Removes leading and trailing blanks; the view refers into text.
[[nodiscard]] std::string_view TrimBlanks(std::string_view text) noexcept;

// A value of at least two bytes opening with a double or single quote gives the text up to the matching
// quote, a doubled quote inside standing for one (an unclosed value runs to the end); any other value
// comes back unchanged.
[[nodiscard]] std::string UnquoteText(std::string_view value);

// Replaces the five predefined entity references (exact case) and numeric references to 16-bit code
// units 0..65534 by their UTF-8 bytes; every other reference stays as written. Replacements are not
// scanned again.
[[nodiscard]] std::string UnescapeText(std::string_view text);

// Splits the text of a tag into its name and attribute tokens: blanks outside quotes separate, and
// blanks around an attribute's "=" are dropped so that each attribute is one token name="value".
void SplitTagTokens(std::string_view text, std::vector<std::string>& tokens);
// The same tokens as views into text, when no blank around an "=" has to be dropped (the tag as nearly
// every file writes it); false otherwise, and then tokens holds nothing of use.
[[nodiscard]] bool SplitTagTokenViews(std::string_view text, std::vector<std::string_view>& tokens);

}  // namespace zeloro
