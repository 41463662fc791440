// src/common/AsciiText.cpp: letter case of ASCII text.
#include "common/AsciiText.h"

#include <algorithm>

namespace zeloro {

bool SameTextAscii(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

int CompareTextAscii(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

namespace {

// The length of the valid UTF-8 sequence at text[at] (no overlong form, no surrogate, at most U+10FFFF),
// or 0.
std::size_t Utf8Length(std::string_view text, std::size_t at) noexcept {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// The format characters that change how a line looks without being control characters: the line and
// paragraph separators, which a viewer may show as a line break, and the bidirectional controls (the
// marks U+061C, U+200E, U+200F, the embeddings and overrides U+202A..U+202E, the isolates
// U+2066..U+2069), which can show a name's end before its start or carry a reversed text over the rest
// of the line. sequence is one valid UTF-8 sequence.
bool IsLayoutCharacter(std::string_view sequence) noexcept {
    const auto byte = [&sequence](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (sequence.size() == 2) {
        return byte(0) == 0xD8 && byte(1) == 0x9C;  // U+061C
    }
    if (sequence.size() != 3 || byte(0) != 0xE2) {
        return false;
    }
    const unsigned char second = byte(1);
    const unsigned char third = byte(2);
    return (second == 0x80 && (third == 0x8E || third == 0x8F || (third >= 0xA8 && third <= 0xAE))) ||
           (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

void AppendEscaped(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.append("\\x").push_back(kHex[byte >> 4U]);
    out.push_back(kHex[byte & 0x0FU]);
}

}  // namespace

std::string LogSafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F) {
                AppendEscaped(out, lead);
            } else {
                out.push_back(static_cast<char>(lead));
            }
            ++at;
            continue;
        }
        const std::size_t length = Utf8Length(text, at);
        // U+0080..U+009F, the C1 controls, are C2 80..C2 9F.
        if (length == 0 || (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) ||
            IsLayoutCharacter(text.substr(at, length))) {
            const std::size_t bytes = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < bytes; ++i) {
                AppendEscaped(out, static_cast<unsigned char>(text[at + i]));
            }
            at += bytes;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

}  // namespace zeloro
