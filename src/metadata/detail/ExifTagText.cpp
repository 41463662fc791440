// src/metadata/detail/ExifTagText.cpp: the text forms of tag data: UTF-16LE text, comma lists and numbers.
#include "metadata/detail/ExifTagText.h"

#include <cstdio>

#include "common/Win1252.h"

namespace zeloro {

std::string FormatFloat(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

void AppendCommaItem(std::string& out, const std::string& item) {
    if (item.find_first_of(" ,\"") == std::string::npos) {
        out += item;
        return;
    }
    out += '"';
    for (const char c : item) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::vector<std::string> SplitCommaText(std::string_view text) {
    std::vector<std::string> items;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    };
    skipBlanks();
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item += text[i++];
        } else {
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item += text[i++];
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < n && text[i] == ',') {
            ++i;
            skipBlanks();
            if (i == n) items.emplace_back();
        }
    }
    return items;
}

std::string Utf16LeToUtf8(const std::uint8_t* p, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        char32_t cu = static_cast<char32_t>(p[2 * i] | (p[2 * i + 1] << 8U));
        if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < units) {
            const char32_t lo = static_cast<char32_t>(p[2 * i + 2] | (p[2 * i + 3] << 8U));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cu = 0x10000 + ((cu - 0xD800) << 10U) + (lo - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cu);
    }
    return out;
}

std::vector<std::uint8_t> Utf8ToUtf16LeZ(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::size_t pos = 0;
    auto put = [&out](char32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFFU));
        out.push_back(static_cast<std::uint8_t>((u >> 8U) & 0xFFU));
    };
    while (pos < text.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(text, pos, cp)) cp = U'?';
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10U));
            put(0xDC00 + (cp & 0x3FFU));
        } else {
            put(cp);
        }
    }
    put(0);
    return out;
}

}  // namespace zeloro
