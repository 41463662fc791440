// tests/trackimport/TrackImportTest.cpp: track files of every format into the track table, with the GPX
// import's log, transaction and failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "trackimport/TemporaryTrackFile.h"
#include "trackimport/TrackImport.h"
#include "trackread/FitBuilder.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

constexpr std::uint64_t kMorning = 1087372800;  // 2024-06-15 08:00:00 UTC as a FIT time
constexpr std::int32_t kLat = 574204953;        // 48.1293... degrees
constexpr std::int32_t kLon = 128849019;        // 10.80000001 degrees

std::uint64_t Signed(std::int32_t value) { return static_cast<std::uint32_t>(value); }

std::string NmeaSentence(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + body + "*" + hex + "\r\n";
}

// n fixes a second apart from 12:00:00, each an RMC and a GGA, moving north by 0.001 minutes a fix.
std::string NmeaTrack(int n) {
    std::string text = NmeaSentence("GPWPL,4807.038,N,01131.000,E,HOME");
    for (int i = 0; i < n; ++i) {
        char time[16];
        char lat[16];
        std::snprintf(time, sizeof time, "%02d%02d%02d", 12 + i / 3600, i / 60 % 60, i % 60);
        std::snprintf(lat, sizeof lat, "4807.%03d", i % 1000);
        text += NmeaSentence(std::string("GPRMC,") + time + ",A," + lat + ",N,01131.000,E,0.0,0.0,150624,,");
        text += NmeaSentence(std::string("GPGGA,") + time + "," + lat +
                             ",N,01131.000,E,1,08,0.9,512.5,M,46.9,M,,");
    }
    return text;
}

class TrackImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        uniCon.Open(":memory:");
        uniCon.Execute(
            "CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME); CREATE INDEX i ON gpx (utctime);");
    }

    std::string File(const std::string& name, const std::string& content) {
        const auto path = dir / name;
        WriteFileText(path, content);
        return path.string();
    }
    std::string File(const std::string& name, const std::vector<std::uint8_t>& content) {
        const auto path = dir / name;
        WriteFileBytes(path, content);
        return path.string();
    }

    bool Import(const std::string& path, ImportDetails details = ImportDetails::positionsOnly,
                const std::function<bool()>& stop = {}) {
        return importTrack(
            path, uniCon, query, log, [this] { ++messagesProcessed; }, details, stop, &failure);
    }

    std::vector<std::string> Rows(const std::string& columns = "lat, lon, utctime") {
        Query rows(uniCon);
        rows.SetSQL("SELECT " + columns + " FROM gpx ORDER BY rowid");
        std::vector<std::string> out;
        for (rows.Open(); !rows.Eof(); rows.Next()) {
            std::string row;
            for (const Field& field : rows.Fields()) {
                row += (row.empty() ? "" : "|") + (field.IsNull() ? std::string("NULL") : field.AsString());
            }
            out.push_back(row);
        }
        return out;
    }

    TempDir dir;
    Connection uniCon;
    Query query{uniCon};
    MessageLog log;
    std::string failure;
    int messagesProcessed = 0;
};

std::vector<std::uint8_t> TwoSessionFit(std::int32_t secondLat = kLat + 1000) {
    FitBuilder fit;
    fit.Define(0, kFitRecord, {{kFitTimestamp, 4}, {kFitLat, 4}, {kFitLon, 4}, {kFitAltitude, 2}})
        .Define(1, kFitSession, {{kFitTimestamp, 4}})
        .Data(0, {kMorning, Signed(kLat), Signed(kLon), (500 + 100) * 5})
        .Data(1, {kMorning})
        .Data(0, {kMorning + 1, Signed(secondLat), Signed(kLon), 0xFFFF});
    return fit.Bytes();
}

std::vector<std::uint8_t> SpoiltFit() {
    std::vector<std::uint8_t> bytes = TwoSessionFit();
    bytes.back() ^= 0x01;
    return bytes;
}

TEST_F(TrackImportTest, FitPointsGoInAsTheShortestDecimalOfTheirDegrees) {
    EXPECT_TRUE(Import(File("ride.fit", TwoSessionFit())));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"48.129303166642785|10.800000010058284|2024-06-15 08:00:00",
                                                "48.1293869856745|10.800000010058284|2024-06-15 08:00:01"}));
    EXPECT_EQ(log.messages, (std::vector<std::string>{" - Starte Datenbankimport",
                                                      " - 2 Datensätze gelesen und importiert"}));
    EXPECT_EQ(messagesProcessed, 1);
    EXPECT_FALSE(uniCon.InTransaction());
    EXPECT_TRUE(failure.empty());
}

TEST_F(TrackImportTest, DetailsGiveElevationAndOneSegmentNumberPerSegment) {
    uniCon.Execute(
        "ALTER TABLE gpx ADD COLUMN ele REAL; ALTER TABLE gpx ADD COLUMN segment INTEGER;"
        "INSERT INTO gpx VALUES ('1', '2', '2024-01-01 00:00:00', NULL, 4);");
    EXPECT_TRUE(Import(File("ride.fit", TwoSessionFit()), ImportDetails::elevationAndSegments));
    EXPECT_EQ(Rows("utctime, ele, segment"),
              (std::vector<std::string>{"2024-01-01 00:00:00|NULL|4", "2024-06-15 08:00:00|100|5",
                                        "2024-06-15 08:00:01|NULL|6"}));
}

TEST_F(TrackImportTest, BatchesAndSinglesGiveTheSameRows) {
    const std::string path = File("log.nmea", NmeaTrack(150));
    EXPECT_TRUE(Import(path));
    const std::vector<std::string> batched = Rows();
    ASSERT_EQ(batched.size(), 150U);
    EXPECT_EQ(batched[149], "48.11915|11.516666666666667|2024-06-15 12:02:29");
    uniCon.Execute("DELETE FROM gpx; CREATE TRIGGER t AFTER INSERT ON gpx BEGIN SELECT 1; END;");
    EXPECT_TRUE(Import(path));
    EXPECT_EQ(Rows(), batched);
    EXPECT_EQ(log.messages.back(), " - 150 Datensätze gelesen und importiert");
}

TEST_F(TrackImportTest, APointOffTheGlobeFailsTheImportNamingFileAndPoint) {
    const std::string path = File("ride.fit", TwoSessionFit(0x60000000));  // 135 degrees north
    EXPECT_FALSE(Import(path));
    EXPECT_EQ(failure, path +
                           ": Punkt Nr. 2 (lat \"135\", lon \"10.800000010058284\", time "
                           "\"2024-06-15T08:00:01Z\"): Position außerhalb von ±90° Breite und ±180° Länge");
    EXPECT_EQ(log.messages,
              (std::vector<std::string>{" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                        " - 1 Datensätze gelesen und importiert"}));
    EXPECT_TRUE(Rows().empty());  // the transaction the import began is rolled back
    EXPECT_FALSE(uniCon.InTransaction());
}

TEST_F(TrackImportTest, AStopEndsTheImportAsAFailedOne) {
    int asked = 0;
    EXPECT_FALSE(Import(File("log.nmea", NmeaTrack(100)), ImportDetails::positionsOnly,
                        [&asked] { return ++asked > 70; }));
    EXPECT_EQ(log.messages,
              (std::vector<std::string>{" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                        " - 70 Datensätze gelesen und importiert"}));
    EXPECT_TRUE(failure.empty());
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(uniCon.InTransaction());
}

TEST_F(TrackImportTest, RowsOfAFailedImportStayInTheCallersTransaction) {
    uniCon.StartTransaction();
    EXPECT_FALSE(Import(File("ride.fit", TwoSessionFit(0x60000000))));
    EXPECT_TRUE(uniCon.InTransaction());
    EXPECT_EQ(Rows().size(), 1U);
    uniCon.Rollback();
}

struct LoadErrorCase {
    std::string name;
    std::string file;
    std::vector<std::uint8_t> bytes;
    std::string error;  // after "PATH: "
};
void PrintTo(const LoadErrorCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class TrackLoadErrors : public TrackImportTest, public ::testing::WithParamInterface<LoadErrorCase> {};

TEST_P(TrackLoadErrors, NameTheFileAndLeaveNothing) {
    const LoadErrorCase& c = GetParam();
    uniCon.StartTransaction();
    uniCon.Execute("INSERT INTO gpx VALUES ('1', '2', '2024-01-01 00:00:00')");
    const std::string path = File(c.file, c.bytes);
    try {
        Import(path);
        FAIL() << "no error";
    } catch (const TrackLoadError& e) {
        EXPECT_EQ(std::string(e.what()), path + ": " + c.error);
    }
    EXPECT_EQ(log.messages, std::vector<std::string>{" - Starte Datenbankimport"});
    EXPECT_EQ(Rows().size(), 1U);  // the caller's row, nothing of the file
    EXPECT_TRUE(uniCon.InTransaction());
    uniCon.Rollback();
}

INSTANTIATE_TEST_SUITE_P(
    TrackImport, TrackLoadErrors,
    ::testing::Values(
        LoadErrorCase{
            "Jpeg", "photo.gpx", {0xFF, 0xD8, 0xFF, 0xE1, 0, 2}, "keine Trackdatei (erkannt: JPEG-Bild)"},
        LoadErrorCase{"Pdf", "track.fit", Bytes("%PDF-1.4\n"), "keine Trackdatei (erkannt: PDF-Dokument)"},
        LoadErrorCase{"PlainText", "notes.txt", Bytes("Hallo\n"), "keine Trackdatei (erkannt: Textdatei)"},
        // The checksum comes last: the file's points have gone into the table before it is known.
        LoadErrorCase{"FitChecksum", "ride.fit", SpoiltFit(), "FIT-Datei mit falscher Prüfsumme"},
        LoadErrorCase{"NmeaWithoutTimes", "log.nmea",
                      Bytes(NmeaSentence("GPWPL,4807.038,N,01131.000,E,HOME")),
                      "NMEA ohne Zeitangaben – keine Trackpunkte importiert"},
        LoadErrorCase{"KmlWithoutTimes", "places.kml",
                      Bytes("<kml><Document><Placemark><Point><coordinates>11.5,48.1</coordinates></Point>"
                            "</Placemark></Document></kml>"),
                      "KML ohne Zeitangaben – keine Trackpunkte importiert"},
        LoadErrorCase{"IgcWithoutDate", "flight.igc", Bytes("AXXX\nB1706213003731N09136621WA0000000001\n"),
                      "IGC ohne Zeitangaben – keine Trackpunkte importiert"}),
    [](const auto& p) { return p.param.name; });

// Every shared track file is told by its content and goes in, its rows counted in the log; a GeoJSON file
// gpsbabel wrote carries no times and says so.
TEST_F(TrackImportTest, ImportsEverySharedTrackFile) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    for (const auto& file : SharedFiles("tracks")) {
        const std::string name = file.filename().string();
        if (name.ends_with(".md")) {
            continue;
        }
        SCOPED_TRACE(name);
        uniCon.Execute("DELETE FROM gpx");
        try {
            EXPECT_TRUE(Import(file.string()));
        } catch (const TrackLoadError& e) {
            EXPECT_TRUE(name.ends_with(".geojson") && !name.ends_with(".timed.geojson")) << e.what();
            EXPECT_EQ(std::string(e.what()),
                      file.string() + ": GeoJSON ohne Zeitangaben – keine Trackpunkte importiert");
            continue;
        }
        EXPECT_FALSE(Rows().empty());
        EXPECT_EQ(log.messages.back(),
                  " - " + std::to_string(Rows().size()) + " Datensätze gelesen und importiert");
    }
}

TEST_F(TrackImportTest, AGpxFileGoesToTheGpxImportUnchanged) {
    const std::string gpx =
        "<?xml version=\"1.0\"?><gpx><trk><trkseg><trkpt lat=\"+48.10\" lon=\" "
        "11.5\"><time>2024-06-15T08:00:00Z"
        "</time></trkpt></trkseg></trk></gpx>";
    EXPECT_TRUE(Import(File("t.gpx", gpx)));
    EXPECT_EQ(Rows(), std::vector<std::string>{"+48.10| 11.5|2024-06-15 08:00:00"});
    try {
        Import(File("cut.gpx", "<gpx><trk>"));
        FAIL() << "no error";
    } catch (const TrackLoadError&) {
        FAIL() << "a GPX file's error is the GPX import's own";
    } catch (const GpxLoadError&) {
    }
}

TEST_F(TrackImportTest, GpsbabelReadsAFormatOfItsOwn) {
    if (std::system("gpsbabel -V >/dev/null 2>&1") != 0) {
        ZELORO_SKIP_OUTSIDE_CI("gpsbabel is not installed");
    }
    const std::string path = File("log.txt", NmeaTrack(3));
    EXPECT_TRUE(importTrackThroughGpsbabel("nmea", path, uniCon, query, log, {}, ImportDetails::positionsOnly,
                                           {}, &failure));
    EXPECT_EQ(Rows().size(), 3U);  // the timed fixes; the waypoint has no time
    try {
        importTrackThroughGpsbabel("no_such_format", path, uniCon, query, log, {});
        FAIL() << "no error";
    } catch (const TrackLoadError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      path + ": gpsbabel konnte die Datei im Format \"no_such_format\" nicht lesen", 0),
                  0U)
            << e.what();
    }
}

TEST_F(TrackImportTest, WithoutGpsbabelTheFormatOptionSaysSo) {
    const TempDir empty;
    const ScopedVariable path("PATH", empty.path().c_str());
    const std::string file = File("log.txt", NmeaTrack(3));
    try {
        importTrackThroughGpsbabel("nmea", file, uniCon, query, log, {});
        FAIL() << "no error";
    } catch (const TrackLoadError& e) {
        EXPECT_EQ(std::string(e.what()), file +
                                             ": --track-format braucht das Programm gpsbabel, das nicht "
                                             "installiert ist (Debian-Paket gpsbabel)");
    }
}

TEST(TemporaryTrackFile, CopiesADescriptorToItsEndAndGoesWithTheObject) {
    namespace fs = std::filesystem;
    const TempDir dir;
    WriteFileText(dir / "in", NmeaTrack(2));
    std::FILE* in = std::fopen((dir / "in").c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::string copied;
    {
        const auto copy = CopyToTemporaryFile(fileno(in));
        copied = copy->Path();
        EXPECT_EQ(ReadFileText(copied), NmeaTrack(2));
        EXPECT_TRUE(fs::path(copied).filename().string().starts_with("zeloro-standardeingabe-")) << copied;
        EXPECT_EQ(fs::status(copied).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    std::fclose(in);
    EXPECT_FALSE(std::filesystem::exists(copied));
}

}  // namespace
}  // namespace zeloro::test
