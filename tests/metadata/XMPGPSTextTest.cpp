// tests/metadata/XMPGPSTextTest.cpp: the XMP text of a GPS coordinate, written and read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "common/Currency.h"
#include "metadata/XMPGPSText.h"

namespace zeloro {
namespace {

// The EXIF value in degrees.
double ExifDegrees(TTiffLongWordFraction d, TTiffLongWordFraction m, TTiffLongWordFraction s) {
    double value = static_cast<double>(d.Numerator) / d.Denominator +
                   static_cast<double>(m.Numerator) / m.Denominator / 60;
    if (s.Denominator != 0) {
        value += static_cast<double>(s.Numerator) / s.Denominator / 3600;
    }
    return value;
}

// Seconds numerator over the given denominator as read back from the text, for whole degrees and minutes.
std::uint64_t SecondsNumeratorReadBack(const std::string& text, std::uint32_t degrees, std::uint32_t minutes,
                                       std::uint32_t denominator) {
    const auto read = ParseXMPGPSCoordinate(text);
    EXPECT_TRUE(read.has_value()) << text;
    if (!read) {
        return 0;
    }
    const double seconds = (read->degrees - degrees - minutes / 60.0) * 3600;
    return static_cast<std::uint64_t>(std::llround(seconds * denominator));
}

struct TextCase {
    TTiffLongWordFraction degrees;
    TTiffLongWordFraction minutes;
    TTiffLongWordFraction seconds;
    char direction;
    const char* text;
};

TEST(XMPGPSText, DecimalMinutesForm) {
    const TextCase cases[] = {
        {{47, 1}, {39, 1}, {17433, 500}, 'N', "47,39.5811N"},
        {{51, 1}, {30, 1}, TTiffLongWordFraction(Currency::FromReal(12.3456L)), 'N', "51,30.20576N"},
        {{0, 1}, {1, 1}, {48, 1}, 'W', "0,1.8W"},
        {{122, 1}, {25, 1}, {1, 10000}, 'w', "122,25.00000167W"},
        {{10, 1}, {0, 1}, {0, 1}, 'S', "10,0.0S"},
        {{89, 1}, {59, 1}, {599999, 10000}, 'N', "89,59.99999833N"},
        {{89, 1}, {59, 1}, {599999999, 10000000}, 'N', "90,0.0N"},  // rounds into the next degree
        {{95, 2}, {30, 1}, {0, 0}, 'E', "48,0.0E"},                 // half a degree carries into minutes
        {{7, 1}, {2, 3}, {0, 0}, 'E', "7,0.66666667E"},
        {{7, 1}, {5, 1}, {0, 0}, '\0', "7,5.0"},
        {{7, 0}, {5, 1}, {1, 1}, 'E', ""},
        {{7, 1}, {5, 0}, {1, 1}, 'E', ""},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(XMPGPSCoordinateText(c.degrees, c.minutes, c.seconds, c.direction), c.text)
            << c.degrees.Numerator << "/" << c.degrees.Denominator << " " << c.minutes.Numerator << "/"
            << c.minutes.Denominator << " " << c.seconds.Numerator << "/" << c.seconds.Denominator;
    }
}

// Every seconds value a run can store (four decimals) comes back from the text exactly.
TEST(XMPGPSText, ReadingBackReproducesTheExifValue) {
    for (const std::uint32_t degrees : {0U, 47U, 89U, 179U}) {
        for (const std::uint32_t minutes : {0U, 39U, 59U}) {
            for (std::uint32_t numerator = 0; numerator < 600000; numerator += 37) {
                const TTiffLongWordFraction seconds(numerator, 10000);
                const std::string text = XMPGPSCoordinateText({degrees, 1}, {minutes, 1}, seconds, 'N');
                ASSERT_EQ(SecondsNumeratorReadBack(text, degrees, minutes, 10000), numerator) << text;
            }
        }
    }
    // The seconds the run stores are reduced (12.3456 -> 7716/625): the same holds for those.
    for (std::int64_t tenThousandths = 0; tenThousandths < 600000; tenThousandths += 7) {
        const TTiffLongWordFraction seconds(
            Currency::FromReal(static_cast<long double>(tenThousandths) / 10000));
        const std::string text = XMPGPSCoordinateText({179, 1}, {59, 1}, seconds, 'E');
        const auto read = ParseXMPGPSCoordinate(text);
        ASSERT_TRUE(read.has_value()) << text;
        EXPECT_LT(std::fabs(read->degrees - ExifDegrees({179, 1}, {59, 1}, seconds)), 0.5 / 10000 / 3600)
            << text;
    }
}

TEST(XMPGPSText, ReadingTakesEveryForm) {
    struct ReadCase {
        const char* text;
        double degrees;
        char direction;
    };
    const ReadCase cases[] = {
        {"47,39.5811N", 47 + 39.5811 / 60, 'N'},
        {"47,39,17433/500N", 47 + 39 / 60.0 + 34.866 / 3600, 'N'},  // the fraction form of older files
        {"47,39,34.866n", 47 + 39 / 60.0 + 34.866 / 3600, 'N'},
        {"122,25W", 122 + 25 / 60.0, 'W'},
        {"95/2,0.0s", 47.5, 'S'},
        {"0,1.8E", 1.8 / 60, 'E'},
    };
    for (const ReadCase& c : cases) {
        const auto read = ParseXMPGPSCoordinate(c.text);
        ASSERT_TRUE(read.has_value()) << c.text;
        EXPECT_NEAR(read->degrees, c.degrees, 1e-12) << c.text;
        EXPECT_EQ(read->direction, c.direction) << c.text;
    }
    for (const char* bad : {"", "N", "47N", "47,39.5811", "47,39.5811X", "47,,1N", "47,39,1,2N", "-47,39N",
                            "47,3/0N", "47,39.5e3N", "4 7,39N"}) {
        EXPECT_FALSE(ParseXMPGPSCoordinate(bad).has_value()) << bad;
    }
}

}  // namespace
}  // namespace zeloro
