// tests/trackread/GoogleReadTest.cpp: Google's Records.json and the phone's timeline export.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TextTrackTesting.h"
#include "trackread/TextTracks.h"

namespace zeloro::test {
namespace {

using Segments = std::vector<std::vector<std::string>>;

// E7 degrees, negative ones too (and their unsigned 32-bit spelling), an ISO timestamp or timestampMs
// as text or number; an activity's own timestamp is no location's; a location without position or time
// is left out.
TEST(GoogleRead, RecordsLocations) {
    const std::string json = R"({"locations": [
      {"latitudeE7": 472500000, "longitudeE7": 85000000, "altitude": 410, "timestamp": "2024-06-15T08:00:00.250Z",
       "activity": [{"timestamp": "2000-01-01T00:00:00Z", "activity": [{"type": "STILL", "confidence": 100}]}]},
      {"timestampMs": "1718445601000", "latitudeE7": -338688000, "longitudeE7": -1512093000},
      {"latitudeE7": 4233000000, "longitudeE7": 4290000000, "timestampMs": 1718445602000},
      {"latitudeE7": 1, "timestamp": "2024-06-15T08:00:03Z"},
      {"latitudeE7": 1, "longitudeE7": 2}
    ], "other": {"timestamp": "2000-01-01T00:00:00Z", "latitudeE7": 1, "longitudeE7": 1}})";
    const Segments expected{{
        "47.2500000 8.5000000 2024-06-15 08:00:00.250 410.00",
        "-33.8688000 -151.2093000 2024-06-15 10:00:01.000 -",
        "-6.1967296 -0.4967296 2024-06-15 10:00:02.000 -",
    }};
    EXPECT_EQ(ReadText(ReadGoogleRecords, json), expected);
}

// "lat°, lon°" points with local times and their offsets; visits and activities without a path add
// nothing.
TEST(GoogleRead, TimelinePaths) {
    const std::string json = R"({"semanticSegments": [
      {"startTime": "2024-06-15T10:00:00.000+02:00", "endTime": "2024-06-15T11:00:00.000+02:00",
       "timelinePath": [{"point": "47.25°, 8.5°", "time": "2024-06-15T10:00:00.000+02:00"},
                        {"point": "-33.8688°, -151.2093°", "time": "2024-06-14T22:00:01.500-10:00"}]},
      {"startTime": "2024-06-15T11:00:00.000+02:00", "visit": {"topCandidate": {"placeLocation": {"latLng": "1°, 2°"}}}},
      {"timelinePath": [{"time": "2024-06-15T12:00:00.000+02:00", "point": "48.1°,11.5°"}]}
    ], "rawSignals": [{"position": {"LatLng": "1°, 2°", "timestamp": "2024-06-15T10:00:00.000+02:00"}}]})";
    const Segments expected{{
        "47.2500000 8.5000000 2024-06-15 08:00:00.000 -",
        "-33.8688000 -151.2093000 2024-06-15 08:00:01.500 -",
        "48.1000000 11.5000000 2024-06-15 10:00:00.000 -",
    }};
    EXPECT_EQ(ReadText(ReadGoogleTimeline, json), expected);
}

// A string or number that no location has the room for is refused before the parser holds it whole,
// so that a file cannot make a read's memory grow with it.
TEST(GoogleRead, OverlongValueIsRefused) {
    const std::string json = R"({"locations": [{"source": ")" + std::string(2 * 1024 * 1024, 'x') + R"("}]})";
    EXPECT_EQ(ReadError(ReadGoogleRecords, json),
              "Die Records.json-Datei enthält einen Wert von mehr als 1048576 Bytes (vor Byte 1048604).");
    const std::string number = R"({"locations": [{"altitude": )" + std::string(2 * 1024 * 1024, '1') + "}]}";
    EXPECT_EQ(ReadError(ReadGoogleRecords, number),
              "Die Records.json-Datei enthält einen Wert von mehr als 1048576 Bytes (vor Byte 1048604).");
}

TEST(GoogleRead, DamagedFilesAreRefused) {
    const std::string notRecords =
        "Die Datei ist keine Records.json des Google-Standortverlaufs: ihr fehlt die Liste „locations“.";
    const std::string notTimeline =
        "Die Datei ist kein Zeitachsen-Export von Google: ihr fehlt die Liste „semanticSegments“.";
    EXPECT_EQ(ReadError(ReadGoogleRecords, R"({"semanticSegments": []})"), notRecords);
    EXPECT_EQ(ReadError(ReadGoogleRecords, R"([{"latitudeE7": 1}])"), notRecords);
    EXPECT_EQ(ReadError(ReadGoogleRecords, R"({"locations": {"latitudeE7": 1}})"), notRecords);
    EXPECT_EQ(ReadError(ReadGoogleRecords, R"({"locations": [{"latitudeE7": "x", "longitudeE7": 1}]})"),
              "locations Nr. 1: latitudeE7 \"x\" ist keine Zahl.");
    EXPECT_EQ(ReadError(ReadGoogleRecords, R"({"locations": [{"timestamp": "gestern"}]})"),
              "locations Nr. 1: die Zeit \"gestern\" ist nicht lesbar.");
    EXPECT_EQ(ReadError(ReadGoogleRecords, R"({"locations": [)"),
              "Die Records.json-Datei ist kein gültiges JSON (Byte 16).");
    EXPECT_EQ(ReadError(ReadGoogleTimeline, R"({"locations": []})"), notTimeline);
    EXPECT_EQ(
        ReadError(
            ReadGoogleTimeline,
            R"({"semanticSegments": [{}, {"timelinePath": [{}, {"point": "48.1° 11.5°", "time": "2024-06-15T12:00:00Z"}]}]})"),
        "semanticSegments Nr. 2, timelinePath Nr. 2: der Punkt \"48.1° 11.5°\" ist nicht lesbar.");
}

}  // namespace
}  // namespace zeloro::test
