// src/trackstore/detail/ParamScanner.cpp: the named parameters of a statement text.
#include "trackstore/detail/ParamScanner.h"

#include <algorithm>

#include "common/AsciiText.h"

namespace zeloro {

namespace {

bool isNameChar(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::vector<Param> parseParams(const std::string& sql) {
    std::vector<Param> params;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const std::size_t end = sql.find(close, i + 1);
            i = end == std::string::npos ? n : end + 1;  // a doubled quote reopens at once: same effect
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            const std::size_t end = sql.find('\n', i);
            i = end == std::string::npos ? n : end + 1;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (c == ':' && i + 1 < n && isNameChar(sql[i + 1])) {
            std::size_t end = i + 1;
            while (end < n && isNameChar(sql[end])) {
                ++end;
            }
            std::string name = sql.substr(i + 1, end - i - 1);
            const bool known = std::any_of(params.begin(), params.end(),
                                           [&](const Param& p) { return SameTextAscii(p.Name(), name); });
            if (!known) {
                params.emplace_back(std::move(name));
            }
            i = end;
        } else {
            ++i;
        }
    }
    return params;
}

}  // namespace zeloro
