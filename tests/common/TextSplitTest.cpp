// tests/common/TextSplitTest.cpp: text split at a separator, empty parts kept.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/TextSplit.h"

namespace zeloro {
namespace {

using Strings = std::vector<std::string>;

struct SplitCase {
    std::string_view name;
    std::string_view sep;
    std::string_view text;
    Strings want;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, MatchesTable) { EXPECT_EQ(SplitBySeparator(GetParam().sep, GetParam().text), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    TextSplit, Split,
    ::testing::Values(SplitCase{"MapEntry", "|", "48.1|11.5|/p/a.jpg", {"48.1", "11.5", "/p/a.jpg"}},
                      SplitCase{"Empty", "|", "", {""}}, SplitCase{"TrailingSeparator", "|", "a|", {"a", ""}},
                      SplitCase{"OnlySeparator", "|", "|", {"", ""}},
                      SplitCase{"NoSeparator", "|", "abc", {"abc"}},
                      SplitCase{"EmptyParts", "|", "||x||", {"", "", "x", "", ""}},
                      SplitCase{"LongSeparator", "ab", "xabyabz", {"x", "y", "z"}},
                      SplitCase{"OverlappingSeparator", "aa", "aaa", {"", "a"}},
                      SplitCase{"EmptySeparatorNeverOccurs", "", "a|b", {"a|b"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro
