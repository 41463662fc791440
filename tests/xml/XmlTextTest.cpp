// tests/xml/XmlTextTest.cpp: entity decoding, unquoting, trimming and tag tokens.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "xml/XmlText.h"

namespace zeloro {
namespace {

struct TextCase {
    std::string_view name;
    std::string_view input;
    std::string_view want;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class Unescape : public ::testing::TestWithParam<TextCase> {};
TEST_P(Unescape, MatchesTable) { EXPECT_EQ(UnescapeText(GetParam().input), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    XmlText, Unescape,
    ::testing::Values(TextCase{"Amp", "a&amp;b", "a&b"}, TextCase{"AmpInCapitalsStays", "a&AMP;b", "a&AMP;b"},
                      TextCase{"AllFive", "&lt;&gt;&apos;&quot;&amp;", "<>'\"&"},
                      TextCase{"Decimal", "&#65;", "A"}, TextCase{"HexLower", "&#x41;", "A"},
                      TextCase{"HexUpper", "&#X4a;", "J"}, TextCase{"TwoByteUnit", "&#228;", "\xC3\xA4"},
                      TextCase{"HighestUnit", "&#65534;", "\xEF\xBF\xBE"},
                      TextCase{"UnitFFFFStays", "&#65535;", "&#65535;"},
                      TextCase{"BeyondSixteenBitsStays", "&#x1F600;", "&#x1F600;"},
                      TextCase{"NegativeStays", "&#-1;", "&#-1;"}, TextCase{"EmptyNumberStays", "&#;", "&#;"},
                      TextCase{"EmptyHexStays", "&#x;", "&#x;"},
                      TextCase{"NotANumberStays", "&#12a;", "&#12a;"},
                      TextCase{"UnknownStays", "&nbsp;x", "&nbsp;x"},
                      TextCase{"NoSemicolonCopiesRest", "a&amp b", "a&amp b"},
                      TextCase{"NotScannedAgain", "&amp;lt;", "&lt;"},
                      TextCase{"AmpersandsRunToNextSemicolon", "&&amp;", "&&amp;"},
                      TextCase{"Plain", "no references", "no references"}),
    [](const auto& p) { return std::string(p.param.name); });

class Unquote : public ::testing::TestWithParam<TextCase> {};
TEST_P(Unquote, MatchesTable) { EXPECT_EQ(UnquoteText(GetParam().input), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    XmlText, Unquote,
    ::testing::Values(TextCase{"Double", "\"47.5\"", "47.5"}, TextCase{"Single", "'47.5'", "47.5"},
                      TextCase{"EmptyQuoted", "\"\"", ""},
                      TextCase{"DoubledQuoteInside", "\"a\"\"b\"", "a\"b"},
                      TextCase{"OtherQuoteInside", "\"it's\"", "it's"},
                      TextCase{"BlanksKept", "\" 1 \"", " 1 "}, TextCase{"Unclosed", "\"abc", "abc"},
                      TextCase{"TextAfterCloseDropped", "\"a\"b", "a"}, TextCase{"Unquoted", "47.5", "47.5"},
                      TextCase{"SingleQuoteAlone", "\"", "\""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(XmlText, TrimBlanksRemovesOnlyTheFourBlanks) {
    EXPECT_EQ(TrimBlanks(" \t\r\n x y \n"), "x y");
    EXPECT_EQ(TrimBlanks("\v x\f"), "\v x\f");
    EXPECT_EQ(TrimBlanks(" \n "), "");
}

struct TokenCase {
    std::string_view name;
    std::string_view input;
    std::vector<std::string> want;
    bool joined = false;  // blanks around an "=" were dropped
};
void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }

class Tokens : public ::testing::TestWithParam<TokenCase> {};
TEST_P(Tokens, MatchesTable) {
    std::vector<std::string> got{"left over"};
    SplitTagTokens(GetParam().input, got);
    EXPECT_EQ(got, GetParam().want);
    // The views give the same tokens wherever they do not refuse, and refuse only where blanks around an
    // "=" go.
    std::vector<std::string_view> views{"left over"};
    const bool taken = SplitTagTokenViews(GetParam().input, views);
    EXPECT_EQ(taken, !GetParam().joined);
    if (taken) {
        EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), GetParam().want);
    }
}

INSTANTIATE_TEST_SUITE_P(
    XmlText, Tokens,
    ::testing::Values(
        TokenCase{"Empty", "  \n ", {}}, TokenCase{"NameOnly", "trkpt", {"trkpt"}},
        TokenCase{"Attributes", " trkpt lat=\"1.5\"\tlon='2' ", {"trkpt", "lat=\"1.5\"", "lon='2'"}},
        TokenCase{"BlankBeforeEquals", "a lat =\"1\"", {"a", "lat=\"1\""}, true},
        TokenCase{"BlankAfterEquals", "a lat= \"1\"", {"a", "lat=\"1\""}, true},
        TokenCase{"BlanksAroundEquals", "a lat = \"1\"", {"a", "lat=\"1\""}, true},
        TokenCase{"BlanksInsideQuotes", "a t=\" x  y \"", {"a", "t=\" x  y \""}},
        TokenCase{"OtherQuoteInsideQuotes", "a t=\"it's\" u='\"'", {"a", "t=\"it's\"", "u='\"'"}},
        TokenCase{"NoEqualsKeepsQuotedToken", "a b \"c\"", {"a", "b", "\"c\""}},
        TokenCase{"RunOfEquals", "a b = = \"c\"", {"a", "b==\"c\""}, true},
        TokenCase{"Valueless", "a checked", {"a", "checked"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro
