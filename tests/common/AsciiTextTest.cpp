#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/AsciiText.h"

namespace zeloro {
namespace {

TEST(AsciiText, FoldsOnlyAsciiLetters) {
    for (int b = 0; b < 256; ++b) {
        const auto c = static_cast<char>(b);
        const bool lower = c >= 'a' && c <= 'z';
        const bool upper = c >= 'A' && c <= 'Z';
        EXPECT_EQ(AsciiUpper(c), lower ? static_cast<char>(b - 32) : c) << b;
        EXPECT_EQ(AsciiLower(c), upper ? static_cast<char>(b + 32) : c) << b;
    }
}

struct CompareCase {
    std::string_view name;
    std::string_view a;
    std::string_view b;
    int order;  // sign of CompareTextAscii(a, b)
};
void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }
class CompareAscii : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareAscii, OrdersAndMatchesAlike) {
    const CompareCase& c = GetParam();
    const int got = CompareTextAscii(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.order);
    EXPECT_EQ(CompareTextAscii(c.b, c.a), -got);
    EXPECT_EQ(SameTextAscii(c.a, c.b), c.order == 0);
}

INSTANTIATE_TEST_SUITE_P(
    AsciiText, CompareAscii,
    ::testing::Values(CompareCase{"Equal", "rdf:Description", "rdf:Description", 0},
                      CompareCase{"CaseOnly", "UTF-8", "utf-8", 0}, CompareCase{"Empty", "", "", 0},
                      CompareCase{"PrefixFirst", "http://ns.adobe.com/xap/1.0/",
                                  "http://ns.adobe.com/xap/1.0/mm/", -1},
                      CompareCase{"LetterOrder", "Alpha", "beta", -1},
                      CompareCase{"UnderscoreBeforeLetters", "A_B", "AB", -1},
                      CompareCase{"HighBytesAfterAscii", "\xC3\xA4", "z", 1},
                      CompareCase{"HighBytesKeepTheirCase", "\xC3\xA4", "\xC3\x84", 1},
                      CompareCase{"ZeroByteCounts", std::string_view("a\0b", 3), "a", 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AsciiText, SameTextFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(SameTextAscii("TrkPt", "trkpt"));
    EXPECT_FALSE(SameTextAscii("trkpt", "trkpts"));
    EXPECT_FALSE(SameTextAscii("[", "{"));  // 0x5B and 0x7B differ by the case bit but are no letters
    EXPECT_FALSE(SameTextAscii("\xC3\x84", "\xC3\xA4"));
}

TEST(AsciiText, TrimsOnlyLeadingSpaces) {
    EXPECT_EQ(TrimLeadingSpaces("  12 "), "12 ");
    EXPECT_EQ(TrimLeadingSpaces("\t12"), "\t12");
    EXPECT_EQ(TrimLeadingSpaces("   "), "");
}

struct IntCase {
    std::string_view name;
    std::string_view text;
    std::optional<std::int64_t> asInt;       // ParseInteger<int>
    std::optional<std::int64_t> asUnsigned;  // ParseInteger<std::uint32_t>
};
void PrintTo(const IntCase& c, std::ostream* os) { *os << c.name; }
class ParseDecimal : public ::testing::TestWithParam<IntCase> {};

TEST_P(ParseDecimal, TakesTheWholeText) {
    const IntCase& c = GetParam();
    const std::optional<int> i = ParseInteger<int>(c.text);
    const std::optional<std::uint32_t> u = ParseInteger<std::uint32_t>(c.text);
    EXPECT_EQ(i.has_value(), c.asInt.has_value());
    if (i && c.asInt) {
        EXPECT_EQ(*i, *c.asInt);
    }
    EXPECT_EQ(u.has_value(), c.asUnsigned.has_value());
    if (u && c.asUnsigned) {
        EXPECT_EQ(*u, *c.asUnsigned);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsciiText, ParseDecimal,
    ::testing::Values(IntCase{"Plain", "42", 42, 42}, IntCase{"Plus", "+42", 42, 42},
                      IntCase{"Minus", "-42", -42, std::nullopt}, IntCase{"MinusZero", "-0", 0, std::nullopt},
                      IntCase{"LeadingZeros", "000000000000000000007", 7, 7},
                      IntCase{"Empty", "", std::nullopt, std::nullopt},
                      IntCase{"SignAlone", "+", std::nullopt, std::nullopt},
                      IntCase{"TwoSigns", "+-5", std::nullopt, std::nullopt},
                      IntCase{"MinusPlus", "-+5", std::nullopt, std::nullopt},
                      IntCase{"LeadingBlank", " 5", std::nullopt, std::nullopt},
                      IntCase{"TrailingBlank", "5 ", std::nullopt, std::nullopt},
                      IntCase{"Fraction", "5.0", std::nullopt, std::nullopt},
                      IntCase{"Hexadecimal", "0x10", std::nullopt, std::nullopt},
                      IntCase{"IntMax", "2147483647", 2147483647, 2147483647},
                      IntCase{"IntMin", "-2147483648", -2147483648LL, std::nullopt},
                      IntCase{"PastIntMax", "2147483648", std::nullopt, 2147483648LL},
                      IntCase{"UnsignedMax", "4294967295", std::nullopt, 4294967295LL},
                      IntCase{"PastUnsignedMax", "4294967296", std::nullopt, std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

// A name in a log line must not look like a line break or turn the line around; its neighbours in the
// same blocks (and every other letter) are plain text and stay as they are.
TEST(LogSafeText, EscapesSeparatorsAndBidirectionalControlsByteByByte) {
    struct Case {
        const char* text;
        const char* want;
    };
    for (const Case& c : {
             Case{"a\u2028b", "a\\xE2\\x80\\xA8b"},                     // line separator
             Case{"a\u2029b", "a\\xE2\\x80\\xA9b"},                     // paragraph separator
             Case{"\u202Aa", "\\xE2\\x80\\xAAa"},                       // left-to-right embedding
             Case{"\u202Ba", "\\xE2\\x80\\xABa"},                       // right-to-left embedding
             Case{"\u202Ca", "\\xE2\\x80\\xACa"},                       // pop directional formatting
             Case{"\u202Da", "\\xE2\\x80\\xADa"},                       // left-to-right override
             Case{"gpj.\u202Egnp.exe", "gpj.\\xE2\\x80\\xAEgnp.exe"},   // right-to-left override
             Case{"\u2066a", "\\xE2\\x81\\xA6a"},                       // left-to-right isolate
             Case{"\u2067a", "\\xE2\\x81\\xA7a"},                       // right-to-left isolate
             Case{"\u2068a", "\\xE2\\x81\\xA8a"},                       // first strong isolate
             Case{"\u2069a", "\\xE2\\x81\\xA9a"},                       // pop directional isolate
             Case{"\u200Ea\u200F", "\\xE2\\x80\\x8Ea\\xE2\\x80\\x8F"},  // the marks
             Case{"\u061Ca", "\\xD8\\x9Ca"},                            // Arabic letter mark
             Case{"Köln.jpg", "Köln.jpg"},
             Case{"\u2027\u202F\u2065\u206A\u200D\u0640\u061B", "\u2027\u202F\u2065\u206A\u200D\u0640\u061B"},
         }) {
        EXPECT_EQ(LogSafeText(c.text), c.want) << c.want;
    }
}

}  // namespace
}  // namespace zeloro
