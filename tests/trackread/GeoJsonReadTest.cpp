// tests/trackread/GeoJsonReadTest.cpp: GeoJSON points with a time property and lines with times beside
// their coordinates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TextTrackTesting.h"
#include "trackread/TextTracks.h"

namespace zeloro::test {
namespace {

using Segments = std::vector<std::vector<std::string>>;

std::string Collection(const std::string& features) {
    return R"({"features": [)" + features + R"(], "type": "FeatureCollection"})";
}

// Point features in a row share a segment, whatever their time property is called and however the time
// is written (ISO 8601 with a zone, Unix seconds or milliseconds); a line is a segment, each line of a
// MultiLineString its own; properties may come before or after the geometry; a line without times, a
// polygon and a point without time give nothing; a null time leaves its position out.
TEST(GeoJsonRead, PointsAndLinesWithTheirTimes) {
    const std::string json = Collection(R"(
      {"type": "Feature", "geometry": {"type": "Point", "coordinates": [8.5, 47.25, 410.5]},
       "properties": {"name": "a", "time": "2024-06-15T10:00:00+02:00"}},
      {"type": "Feature", "properties": {"Timestamp": 1718445601}, "geometry": {"coordinates": [8.6, 47.3], "type": "Point"}},
      {"type": "Feature", "geometry": {"type": "Point", "coordinates": [8.7, 47.4]}, "properties": {"when": 1718445602500}},
      {"type": "Feature", "geometry": {"type": "Point", "coordinates": [1, 2]}, "properties": {"name": "no time"}},
      {"type": "Feature", "geometry": {"type": "LineString", "coordinates": [[-122.1, 37.5, 12], [-122.2, 37.6], [-122.3, 37.7]]},
       "properties": {"time": "a start, not a point's time", "coordTimes": ["2024-06-15T09:00:00Z", null, "2024-06-15T09:00:02.125Z"]}},
      {"type": "Feature", "geometry": {"type": "LineString", "coordinates": [[1, 2], [3, 4]]}, "properties": {}},
      {"type": "Feature", "properties": {"coordinateProperties": {"times": [["2024-06-15T11:00:00Z", "2024-06-15T11:00:01Z"], ["2024-06-15T12:00:00Z"]]}},
       "geometry": {"type": "MultiLineString", "coordinates": [[[1, 2, 3], [1.5, 2.5]], [[4, 5]]]}},
      {"type": "Feature", "geometry": {"type": "Point", "coordinates": [-0.5, -45.5]}, "properties": {"datetime": "2024-06-15T13:00:00Z"}},
      {"type": "Feature", "geometry": {"type": "Polygon", "coordinates": [[[0, 0], [1, 0], [1, 1], [0, 0]]]}, "properties": {"time": "2024-06-15T14:00:00Z"}}
    )");
    const Segments expected{
        {"47.2500000 8.5000000 2024-06-15 08:00:00.000 410.50",
         "47.3000000 8.6000000 2024-06-15 10:00:01.000 -", "47.4000000 8.7000000 2024-06-15 10:00:02.500 -"},
        {"37.5000000 -122.1000000 2024-06-15 09:00:00.000 12.00",
         "37.7000000 -122.3000000 2024-06-15 09:00:02.125 -"},
        {"2.0000000 1.0000000 2024-06-15 11:00:00.000 3.00", "2.5000000 1.5000000 2024-06-15 11:00:01.000 -"},
        {"5.0000000 4.0000000 2024-06-15 12:00:00.000 -"},
        {"-45.5000000 -0.5000000 2024-06-15 13:00:00.000 -"},
    };
    EXPECT_EQ(ReadText(ReadGeoJson, json), expected);
}

// A single Feature as the whole document is read like one of a collection.
TEST(GeoJsonRead, SingleFeatureDocument) {
    const std::string json = R"({"type": "Feature", "properties": {"coordTimes": ["2024-06-15T09:00:00Z"]},
                                 "geometry": {"type": "LineString", "coordinates": [[10, 20]]}})";
    EXPECT_EQ(ReadText(ReadGeoJson, json), (Segments{{"20.0000000 10.0000000 2024-06-15 09:00:00.000 -"}}));
}

TEST(GeoJsonRead, DamagedFilesAreRefused) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"type": "FeatureCollection", "features": [)",
         "Die GeoJSON-Datei ist kein gültiges JSON (Byte 44)."},
        {"", "Die GeoJSON-Datei ist kein gültiges JSON (Byte 1)."},
        {R"([1, 2])", "Die Datei ist keine GeoJSON-Datei: sie ist kein JSON-Objekt."},
        {R"({"locations": []})", "Die Datei ist keine GeoJSON-Datei: ihr fehlt der GeoJSON-Typ."},
        {Collection(
             R"({"type": "Feature", "geometry": {"type": "LineString", "coordinates": [[1, 2], [3, 4]]},
                        "properties": {"coordTimes": ["2024-06-15T09:00:00Z"]}})"),
         "Feature Nr. 1: 1 Zeiten für 2 Positionen."},
        {Collection(R"({"type": "Feature", "geometry": {"type": "Point", "coordinates": [1, "2"]},
                        "properties": {"time": "2024-06-15T09:00:00Z"}})"),
         "Feature Nr. 1: die Koordinate \"2\" ist keine Zahl."},
        {Collection(R"({"type": "Feature", "geometry": {"type": "Point", "coordinates": [1, 2]},
                        "properties": {"time": "yesterday"}})"),
         "Feature Nr. 1: die Zeit \"yesterday\" ist nicht lesbar."},
        {R"({"a": )" + std::string(600, '[') + std::string(600, ']') + "}",
         "Die GeoJSON-Datei ist zu tief verschachtelt."},
    };
    for (const auto& [json, message] : cases) {
        EXPECT_EQ(ReadError(ReadGeoJson, json), message) << json;
    }
}

}  // namespace
}  // namespace zeloro::test
