// src/xml/XmlText.cpp: the text helpers of the XML reader.
#include "xml/XmlText.h"

#include <cstdint>

#include "common/Win1252.h"

namespace zeloro {

namespace {

bool IsQuote(char c) noexcept { return c == '"' || c == '\''; }

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The number of a character reference ("65", "x41", "-3"); -1 when it is no number or out of range.
std::int64_t ReferenceNumber(std::string_view body) {
    constexpr std::int64_t kLimit = 1'000'000;  // far above every accepted value, so no overflow
    if (body.empty()) {
        return -1;
    }
    if (body.front() == 'x' || body.front() == 'X') {
        body.remove_prefix(1);
        if (body.empty()) {
            return -1;
        }
        std::int64_t value = 0;
        for (const char c : body) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                return -1;
            }
            value = value * 16 + digit;
            if (value > kLimit) {
                return -1;
            }
        }
        return value;
    }
    bool negative = false;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) {
        return -1;
    }
    std::int64_t value = 0;
    for (const char c : body) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
        if (value > kLimit) {
            return -1;
        }
    }
    return negative && value != 0 ? -1 : value;
}

void AppendUnit(std::string& out, unsigned unit) {
    // A lone 16-bit unit, surrogate halves included, is encoded as it stands.
    if (unit < 0x80U) {
        out.push_back(static_cast<char>(unit));
    } else if (unit < 0x800U) {
        out.push_back(static_cast<char>(0xC0U | (unit >> 6U)));
        out.push_back(static_cast<char>(0x80U | (unit & 0x3FU)));
    } else {
        out.push_back(static_cast<char>(0xE0U | (unit >> 12U)));
        out.push_back(static_cast<char>(0x80U | ((unit >> 6U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | (unit & 0x3FU)));
    }
}

// Appends token i to the token before it when joins(flag of token i-1, token i) holds, where the flag
// and the token are taken as they were before this pass.
template <typename Flag, typename Joins>
void MergeInto(std::vector<std::string>& tokens, Flag flag, Joins joins) {
    if (tokens.size() < 2) {
        return;
    }
    bool previous = flag(tokens[0]);
    std::size_t out = 0;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const bool current = flag(tokens[i]);
        if (joins(previous, tokens[i])) {
            tokens[out] += tokens[i];
        } else {
            ++out;
            if (out != i) {
                tokens[out] = std::move(tokens[i]);
            }
        }
        previous = current;
    }
    tokens.resize(out + 1);
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) noexcept {
    while (!text.empty() && IsXmlBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsXmlBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string UnquoteText(std::string_view value) {
    if (value.size() < 2 || !IsQuote(value.front())) {
        return std::string(value);
    }
    const char quote = value.front();
    std::string out;
    std::size_t i = 1;
    while (i < value.size()) {
        if (value[i] == quote) {
            if (i + 1 < value.size() && value[i + 1] == quote) {
                out.push_back(quote);
                i += 2;
                continue;
            }
            break;
        }
        out.push_back(value[i]);
        ++i;
    }
    return out;
}

std::string UnescapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, amp - pos));
        const std::size_t semi = text.find(';', amp);
        if (semi == std::string_view::npos) {
            out.append(text.substr(amp));
            break;
        }
        const std::string_view ref = text.substr(amp, semi - amp + 1);
        pos = semi + 1;
        if (ref.size() >= 2 && ref[1] == '#') {
            const std::int64_t n = ReferenceNumber(ref.substr(2, ref.size() - 3));
            if (n >= 0 && n <= 65534) {
                AppendUnit(out, static_cast<unsigned>(n));
            } else {
                out.append(ref);
            }
            continue;
        }
        if (ref == "&amp;") {
            out.push_back('&');
        } else if (ref == "&lt;") {
            out.push_back('<');
        } else if (ref == "&gt;") {
            out.push_back('>');
        } else if (ref == "&apos;") {
            out.push_back('\'');
        } else if (ref == "&quot;") {
            out.push_back('"');
        } else {
            out.append(ref);
        }
    }
    return out;
}

namespace {

// Calls take(token) for each run of the text between blanks outside quotes.
template <typename Take>
void ForEachRawToken(std::string_view text, Take take) {
    text = TrimBlanks(text);
    if (text.empty()) {
        return;
    }
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (IsQuote(c)) {
            quote = c;
        } else if (IsXmlBlank(c)) {
            if (i > start) {
                take(text.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        take(text.substr(start));
    }
}

}  // namespace

void SplitTagTokens(std::string_view text, std::vector<std::string>& tokens) {
    tokens.clear();
    ForEachRawToken(text, [&tokens](std::string_view token) { tokens.emplace_back(token); });
    // name = "value" in any spacing becomes the one entry name="value". Whether a token joins the one
    // before it depends only on the first bytes of the two, so one forward pass per rule gives the same
    // result as joining from the last token back, in linear time.
    MergeInto(
        tokens, [](const std::string&) { return false; },
        [](bool, const std::string& cur) { return cur.front() == '='; });
    MergeInto(
        tokens, [](const std::string& token) { return token.find('=') != std::string::npos; },
        [](bool previousHasEquals, const std::string& cur) {
            return previousHasEquals && IsQuote(cur.front());
        });
}

bool SplitTagTokenViews(std::string_view text, std::vector<std::string_view>& tokens) {
    tokens.clear();
    bool joins = false;
    bool previousHasEquals = false;
    ForEachRawToken(text, [&](std::string_view token) {
        // Either merge rule of SplitTagTokens would join this token to the one before.
        joins = joins ||
                (!tokens.empty() && (token.front() == '=' || (previousHasEquals && IsQuote(token.front()))));
        previousHasEquals = token.find('=') != std::string_view::npos;
        tokens.push_back(token);
    });
    return !joins;
}

}  // namespace zeloro
