// tests/trackimport/TrackFormatTest.cpp: the format of a track file told by its content.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "trackimport/TrackFormat.h"

namespace zeloro::test {
namespace {

struct FormatCase {
    std::string name;
    std::string fileName;
    std::string head;
    TrackFormat format;
    std::string what;  // for no track file
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

// A zip archive's first local header naming one stored file of that content.
std::string Zip(const std::string& name, const std::string& content) {
    std::string zip("PK\x03\x04\x14\0\0\0\0\0\0\0\0\0\0\0\0\0", 18);
    const auto le = [&zip](std::size_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            zip += static_cast<char>((value >> (8 * i)) & 0xFFU);
        }
    };
    le(content.size(), 4);
    le(content.size(), 4);
    le(name.size(), 2);
    le(0, 2);
    return zip + name + content;
}

class DetectFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DetectFormat, TellsTheFormatByTheContent) {
    const FormatCase& c = GetParam();
    const std::vector<std::uint8_t> head(c.head.begin(), c.head.end());
    const DetectedTrack detected = DetectTrackFormat(head, c.fileName);
    EXPECT_EQ(detected.format, c.format) << TrackFormatName(detected.format);
    EXPECT_EQ(detected.what, c.what);
}

const std::string kFitHead("\x0E\x10\x11\x08\xF8\x04\0\0.FIT\x1F\x37", 14);

INSTANTIATE_TEST_SUITE_P(
    TrackFormat, DetectFormat,
    ::testing::Values(
        FormatCase{"Fit", "x.dat", kFitHead, TrackFormat::fit, {}},
        FormatCase{"Gpx", "x.xml", "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\">", TrackFormat::gpx, {}},
        FormatCase{"AnyOtherXmlIsGpx", "x", "<root/>", TrackFormat::gpx, {}},
        FormatCase{"Utf16Gpx", "x", std::string("\xFF\xFE<\0g\0", 6), TrackFormat::gpx, {}},
        FormatCase{"KmlBehindCommentAndPrefix",
                   "x.gpx",
                   "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- <gpx> --><kml:kml xmlns:kml=\"x\">",
                   TrackFormat::kml,
                   {}},
        FormatCase{"Tcx", "x", "<TrainingCenterDatabase xmlns=\"x\">", TrackFormat::tcx, {}},
        FormatCase{"Kmz", "x.zip", Zip("doc.kml", "<kml/>"), TrackFormat::kmz, {}},
        FormatCase{"KmzByName", "x.kmz", Zip("files/a.png", "png"), TrackFormat::kmz, {}},
        FormatCase{"ZipWithoutKml", "x.zip", Zip("a.txt", "a"), TrackFormat::none, "ZIP-Archiv"},
        FormatCase{"GeoJson",
                   "x.json",
                   "{\"type\": \"FeatureCollection\", \"features\": []}",
                   TrackFormat::geoJson,
                   {}},
        FormatCase{"GoogleRecords",
                   "Records.json",
                   "{\n  \"locations\": [{\"latitudeE7\": 1}]",
                   TrackFormat::googleRecords,
                   {}},
        FormatCase{
            "GoogleTimeline", "Timeline.json", "{\"semanticSegments\": [", TrackFormat::googleTimeline, {}},
        FormatCase{"OtherJson", "x.json", "{\"a\": 1}", TrackFormat::none, "JSON-Datei"},
        FormatCase{
            "Nmea", "x.log", "garbage from the start\r\n$GPGGA,120000,4807.038,N", TrackFormat::nmea, {}},
        FormatCase{"Igc", "x.txt", "AXXXZZZ\r\nHFDTE250502\r\nB1706", TrackFormat::igc, {}},
        FormatCase{
            "Csv", "x.txt", "time,latitude,longitude\n2024-01-01T00:00:00Z,1,2\n", TrackFormat::csv, {}},
        FormatCase{"Jpeg", "x.gpx", "\xFF\xD8\xFF\xE0", TrackFormat::none, "JPEG-Bild"},
        FormatCase{"Png", "x.fit", "\x89PNG\r\n\x1A\n", TrackFormat::none, "PNG-Bild"},
        FormatCase{"Pdf", "x", "%PDF-1.7", TrackFormat::none, "PDF-Dokument"},
        FormatCase{"Heic", "x",
                   std::string("\0\0\0\x18"
                               "ftyp"
                               "heic",
                               12),
                   TrackFormat::none, "HEIF-Bild"},
        FormatCase{"Raw", "x.gpx", std::string("II*\0\x08\0\0\0", 8), TrackFormat::none, "RAW-Bild (TIFF)"},
        FormatCase{"OtherIsoMedia", "x",
                   std::string("\0\0\0\x18"
                               "ftyp"
                               "M4A ",
                               12),
                   TrackFormat::none, "ISO-Mediendatei"},
        FormatCase{"Empty", "x.fit", "", TrackFormat::none, "leere Datei"},
        FormatCase{"EmptyGpxStaysGpx", "x.gpx", "", TrackFormat::gpx, {}},
        FormatCase{"Text", "x.nmea", "Hallo Welt\n", TrackFormat::none, "Textdatei"},
        FormatCase{"TextNamedGpxIsGpx", "x.GPX", "Hallo Welt\n", TrackFormat::gpx, {}},
        FormatCase{"Binary", "x", std::string("\x01\x02\x03\0", 4), TrackFormat::none,
                   "Datei unbekannter Art"}),
    [](const auto& p) { return p.param.name; });

TEST(TrackFormat, TellsEachSharedTrackFile) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    const std::vector<std::pair<std::string, TrackFormat>> byEnding{
        {".Records.json", TrackFormat::googleRecords},
        {".Timeline.json", TrackFormat::googleTimeline},
        {".geojson", TrackFormat::geoJson},
        {".kml", TrackFormat::kml},
        {".nmea", TrackFormat::nmea},
        {".tcx", TrackFormat::tcx},
        {".igc", TrackFormat::igc},
        {".csv", TrackFormat::csv},
        {".fit", TrackFormat::fit},
        {".md", TrackFormat::none}};
    std::size_t files = 0;
    for (const auto& file : SharedFiles("tracks")) {
        const std::string name = file.filename().string();
        for (const auto& [ending, format] : byEnding) {
            if (name.size() > ending.size() && name.ends_with(ending)) {
                EXPECT_EQ(DetectTrackFormat(file.string()).format, format) << name;
                ++files;
                break;
            }
        }
    }
    EXPECT_EQ(files, SharedFiles("tracks").size());
    for (const auto& file : SharedFiles("gpx")) {
        EXPECT_EQ(DetectTrackFormat(file.string()).format, TrackFormat::gpx) << file;
    }
}

}  // namespace
}  // namespace zeloro::test
