#include <gtest/gtest.h>

#include <string>

#include "common/Error.h"

namespace zeloro {
namespace {

TEST(Error, ConversionMessagesCarryTheText) {
    struct Case {
        const char* format;
        std::string_view text;
        const char* want;
    };
    for (const Case& c :
         {Case{kNotAnInteger, "abc", "'abc' ist kein gültiger Integer-Wert"},
          Case{kNotAFloat, "48,1234N", "'48,1234N' ist kein gültiger Gleitkommawert"},
          Case{kNotADateTime, "", "'' ist kein gültiges Datum und Uhrzeit"},
          Case{"''%s'' ist kein gültiger Integer-Wert", "x8", "''x8'' ist kein gültiger Integer-Wert"},
          Case{kNotAnInteger, "%s", "'%s' ist kein gültiger Integer-Wert"}}) {
        const ConvertError error = InvalidValueError(c.format, c.text);
        EXPECT_STREQ(error.what(), c.want);
    }
}

TEST(Error, FillsTheFirstPlaceholderOnly) {
    EXPECT_EQ(FillMessage("Missing close tag in element %s", "trkpt"), "Missing close tag in element trkpt");
    EXPECT_EQ(FillMessage("%s and %s", "a"), "a and %s");
    EXPECT_EQ(FillMessage("No root element found in xml", "gpx"), "No root element found in xml");
}

}  // namespace
}  // namespace zeloro
