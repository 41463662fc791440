// src/common/TextSplit.cpp: text split at a separator.
#include "common/TextSplit.h"

namespace zeloro {

std::vector<std::string> SplitBySeparator(std::string_view sep, std::string_view text) {
    std::vector<std::string> result;
    if (sep.empty()) {
        result.emplace_back(text);
        return result;
    }
    std::size_t start = 0;
    for (std::size_t at = text.find(sep); at != std::string_view::npos; at = text.find(sep, start)) {
        result.emplace_back(text.substr(start, at - start));
        start = at + sep.size();
    }
    result.emplace_back(text.substr(start));
    return result;
}

}  // namespace zeloro
