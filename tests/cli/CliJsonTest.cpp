// tests/cli/CliJsonTest.cpp: the --json object of a photo, byte for byte: its coordinates are the numbers
// the lookup read, and a name that is no valid UTF-8 keeps every byte in "file_bytes".
#include <gtest/gtest.h>

#include <string>

#include "cli/CliObserver.h"

namespace zeloro::cli {
namespace {

PhotoReport Tagged(std::string lat, std::string lon) {
    PhotoReport report;
    report.path = "/p/IMG_1.jpg";
    report.status = PhotoStatus::tagged;
    report.lat = std::move(lat);
    report.lon = std::move(lon);
    report.message = "m";
    return report;
}

struct CoordinateCase {
    std::string lat;
    std::string lon;
    std::string json;  // "latitude":..,"longitude":..
};

// Every text the lookup reads as a number is that number in the object.
TEST(PhotoJson, CoordinatesAreTheNumbersTheLookupReads) {
    for (const CoordinateCase& c : {
             CoordinateCase{"+47.5", " 9.5", R"("latitude":47.5,"longitude":9.5)"},
             CoordinateCase{"48,25", "-0,5 ", R"("latitude":48.25,"longitude":-0.5)"},
             CoordinateCase{" -33.8567", "+1e1", R"("latitude":-33.8567,"longitude":10.0)"},
             CoordinateCase{"90", "-180", R"("latitude":90.0,"longitude":-180.0)"},
             CoordinateCase{"north", "", R"("latitude":null,"longitude":null)"},
         }) {
        SCOPED_TRACE(c.lat + "|" + c.lon);
        EXPECT_EQ(PhotoJson(Tagged(c.lat, c.lon)),
                  R"({"file":"/p/IMG_1.jpg",)" + c.json +
                      R"(,"message":"m","status":"tagged","utc_time":"1899-12-30T00:00:00Z"})");
    }
}

// Two names that differ only in bytes that are no UTF-8 read alike, but their bytes tell them apart.
TEST(PhotoJson, StrayBytesOfANameAreKeptBesideTheReadableName) {
    PhotoReport report;
    report.message = "m";
    const auto json = [&report](const std::string& path) {
        report.path = path;
        return PhotoJson(report);
    };
    EXPECT_EQ(json("/p/a\xFF.jpg"),
              "{\"file\":\"/p/a\xEF\xBF\xBD.jpg\",\"file_bytes\":\"/p/a\\\\xFF.jpg\",\"latitude\":null,"
              "\"longitude\":null,\"message\":\"m\",\"status\":\"no_match\",\"utc_time\":null}");
    EXPECT_EQ(json("/p/a\xFE.jpg"),
              "{\"file\":\"/p/a\xEF\xBF\xBD.jpg\",\"file_bytes\":\"/p/a\\\\xFE.jpg\",\"latitude\":null,"
              "\"longitude\":null,\"message\":\"m\",\"status\":\"no_match\",\"utc_time\":null}");
    // Valid UTF-8 beyond ASCII and control characters are JSON text as they are: no second field.
    EXPECT_EQ(
        json("/p/\xC3\x9C\x62\x65r\n.jpg"),
        "{\"file\":\"/p/\xC3\x9C\x62\x65r\\n.jpg\",\"latitude\":null,\"longitude\":null,\"message\":\"m\","
        "\"status\":\"no_match\",\"utc_time\":null}");
    // Beside a stray byte, every byte beyond printable ASCII and the backslash, which would otherwise
    // read as the start of an escape, are written as escapes.
    EXPECT_EQ(json("/p/\\xFF\xC3\x9C\t\xC0.jpg"),
              "{\"file\":\"/p/\\\\xFF\xC3\x9C\\t\xEF\xBF\xBD.jpg\","
              "\"file_bytes\":\"/p/\\\\x5CxFF\\\\xC3\\\\x9C\\\\x09\\\\xC0.jpg\",\"latitude\":null,"
              "\"longitude\":null,\"message\":\"m\",\"status\":\"no_match\",\"utc_time\":null}");
}

}  // namespace
}  // namespace zeloro::cli
