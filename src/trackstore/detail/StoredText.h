// src/trackstore/detail/StoredText.h: the blanks around a stored text, which its readers ignore.
#pragma once
#include <string_view>

namespace zeloro {

// Spaces and tabs at both ends removed.
inline std::string_view trimBlanks(std::string_view text) noexcept {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace zeloro
