// A camera clock's offset as the clock dialog says it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tagging/ClockSentence.h"

namespace zeloro::test {
namespace {

TEST(ClockSentence, NamesTheSpanAndWhetherTheCameraIsSlowOrFast) {
    struct Case {
        std::int64_t offset;
        std::string sentence;
    };
    const std::vector<Case> cases{
        {0, "Die Kamera geht genau."},
        {90, "Die Kamera geht 1 min 30 s nach."},
        {-90, "Die Kamera geht 1 min 30 s vor."},
        {7, "Die Kamera geht 7 s nach."},
        {-3600, "Die Kamera geht 1 h vor."},
        {3600 + 5, "Die Kamera geht 1 h 5 s nach."},
        {86400, "Die Kamera geht 1 Tag nach."},
        {-(3 * 86400 + 2 * 3600 + 60), "Die Kamera geht 3 Tage 2 h 1 min vor."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClockSentence(c.offset), c.sentence) << c.offset;
    }
}

TEST(ClockSentence, TheExtremeValuesKeepTheirDirection) {
    const std::string slow = ClockSentence(std::numeric_limits<std::int64_t>::max());
    const std::string fast = ClockSentence(std::numeric_limits<std::int64_t>::min());
    EXPECT_TRUE(slow.ends_with(" s nach.")) << slow;
    EXPECT_TRUE(fast.ends_with(" s vor.")) << fast;
    EXPECT_NE(slow.find(" Tage "), std::string::npos) << slow;
}

}  // namespace
}  // namespace zeloro::test
