// src/common/TextSplit.h: splitting a text at a separator, as the map entries are read back.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zeloro {

// Splits text at every occurrence of sep; empty parts are kept, so the result always has one element
// more than sep occurs. An empty sep does not occur: the result is the whole text.
[[nodiscard]] std::vector<std::string> SplitBySeparator(std::string_view sep, std::string_view text);

}  // namespace zeloro
