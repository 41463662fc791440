// tests/trackread/TcxReadTest.cpp: Training Center tracks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TextTrackTesting.h"
#include "trackread/TextTracks.h"

namespace zeloro::test {
namespace {

using Segments = std::vector<std::vector<std::string>>;

std::string Trackpoint(const std::string& time, const std::string& position, const std::string& extra = "") {
    return "<Trackpoint>" + (time.empty() ? "" : "<Time>" + time + "</Time>") + position + extra +
           "<HeartRateBpm><Value>120</Value></HeartRateBpm></Trackpoint>";
}

std::string Position(const std::string& lat, const std::string& lon) {
    return "<Position><LatitudeDegrees>" + lat + "</LatitudeDegrees><LongitudeDegrees>" + lon +
           "</LongitudeDegrees></Position>";
}

std::string Tcx(const std::string& laps) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<TrainingCenterDatabase xmlns="http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2"><Activities>
<Activity Sport="Biking"><Id>2024-06-15T08:00:00Z</Id>)" +
           laps + "</Activity></Activities></TrainingCenterDatabase>";
}

// A segment per Track, two in one lap and one in the next; a trackpoint without a position (no fix) or
// without a time is no track point; AltitudeMeters is the elevation, an unreadable one none; the lap's own
// begin position is no point.
TEST(TcxRead, TrackpointsBySegment) {
    const std::string tcx =
        Tcx("<Lap StartTime=\"2024-06-15T08:00:00Z\"><TotalTimeSeconds>60</TotalTimeSeconds>"
            "<BeginPosition><LatitudeDegrees>1</LatitudeDegrees><LongitudeDegrees>2</LongitudeDegrees></"
            "BeginPosition>"
            "<Track>" +
            Trackpoint("2024-06-15T08:00:00Z", Position("47.1", "8.1"),
                       "<AltitudeMeters>400.5</AltitudeMeters>") +
            Trackpoint("2024-06-15T08:00:01Z", "") + Trackpoint("", Position("47.15", "8.15")) +
            Trackpoint("2024-06-15T10:00:02.5+02:00", Position("47.2", "8.2"),
                       "<AltitudeMeters>?</AltitudeMeters>") +
            "</Track><Track>" + Trackpoint("2024-06-15T08:01:00Z", Position("-47.3", "-8.3")) +
            "</Track></Lap><Lap StartTime=\"2024-06-15T08:02:00Z\"><Track>" +
            Trackpoint("2024-06-15T08:02:00Z", Position(" 47.4 ", "8.4")) + "</Track></Lap>");
    const Segments expected{
        {"47.1000000 8.1000000 2024-06-15 08:00:00.000 400.50",
         "47.2000000 8.2000000 2024-06-15 08:00:02.500 -"},
        {"-47.3000000 -8.3000000 2024-06-15 08:01:00.000 -"},
        {"47.4000000 8.4000000 2024-06-15 08:02:00.000 -"},
    };
    EXPECT_EQ(ReadText(ReadTcx, tcx), expected);
}

TEST(TcxRead, DamagedFilesAreRefused) {
    const std::pair<std::string, std::string> cases[] = {
        {Tcx("<Lap><Track>" + Trackpoint("2024-06-15T08:00:00Z", Position("north", "8.1")) +
             "</Track></Lap>"),
         "Trackpoint Nr. 1: die Breite \"north\" ist keine Zahl."},
        {Tcx("<Lap><Track>" + Trackpoint("2024-06-15T08:00:00Z", Position("1", "2")) +
             Trackpoint("2024-13-15T08:00:00Z", Position("1", "2")) + "</Track></Lap>"),
         "Trackpoint Nr. 2: die Zeit \"2024-13-15T08:00:00Z\" ist nicht lesbar."},
        {"<kml/>", "Die Datei ist keine TCX-Datei: ihr Wurzelelement ist <kml>."},
        {Tcx("<Lap><Track>"), "Die TCX-Datei ist kein wohlgeformtes XML (Zeile 3)."},
    };
    for (const auto& [tcx, message] : cases) {
        EXPECT_EQ(ReadError(ReadTcx, tcx), message) << tcx;
    }
}

}  // namespace
}  // namespace zeloro::test
