#include <gtest/gtest.h>

#include "common/Currency.h"
#include "common/Error.h"
#include "common/Win1252.h"

namespace zeloro {
namespace {

TEST(Currency, RoundsTiesToEven) {
    struct Case {
        long double in;
        std::int64_t want;
    };
    for (const Case c : {Case{24.24000000003L, 242400}, Case{59.99996L, 600000}, Case{0.00005L, 0},
                         Case{0.00015L, 2}, Case{-0.00015L, -2}, Case{12.3456L, 123456}}) {
        EXPECT_EQ(Currency::FromReal(c.in).value, c.want) << static_cast<double>(c.in);
    }
    EXPECT_THROW((void)Currency::FromReal(1e300L), RangeError);
}

TEST(Win1252, ConvertsBothWays) {
    const std::string bytes{"\x80 \xE4\xF6\xFC\xDF \x9F", 8};
    const std::string utf8 = "€ äöüß Ÿ";
    EXPECT_EQ(Win1252ToUtf8(bytes), utf8);
    EXPECT_EQ(Utf8ToWin1252(utf8), bytes);
    EXPECT_EQ(Utf8ToWin1252("日本"), "??");
    EXPECT_EQ(Utf8ToWin1252(std::string{"a\xC3"}), "a?");  // a cut sequence
}

}  // namespace
}  // namespace zeloro
