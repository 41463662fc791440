// tests/trackread/CsvReadTest.cpp: CSV tracks under the header spellings, separators and time forms
// users' files have.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TextTrackTesting.h"
#include "trackread/TextTracks.h"

namespace zeloro::test {
namespace {

using Segments = std::vector<std::vector<std::string>>;

struct CsvCase {
    const char* what;
    std::string csv;
    std::vector<std::string> points;  // one segment
};

TEST(CsvRead, HeaderSpellingsSeparatorsAndTimes) {
    const CsvCase cases[] = {
        {"comma, short names, ISO with Z and a fraction",
         "Time,Lat,Lng,Ele\n2024-06-15T08:00:00Z,47.25,8.5,410.5\n2024-06-15T08:00:01.25Z,47.3,8.6,\n",
         {"47.2500000 8.5000000 2024-06-15 08:00:00.000 410.50",
          "47.3000000 8.6000000 2024-06-15 08:00:01.250 -"}},
        {"semicolon, date and time columns, German dates and decimal commas",
         "Datum;date;time;latitude;longitude;altitude\r\nx;15.06.2024;10:00:00;47,25;8,5;410,5\r\n",
         {"47.2500000 8.5000000 2024-06-15 10:00:00.000 410.50"}},
        {"tab, Unix seconds",
         "timestamp\tLAT\tLON\n1718445600\t-33.5\t151.25\n",
         {"-33.5000000 151.2500000 2024-06-15 10:00:00.000 -"}},
        {"Unix milliseconds",
         "datetime,lat,lon\n1718445600123,1,2\n",
         {"1.0000000 2.0000000 2024-06-15 10:00:00.123 -"}},
        {"quoted names with units, a zone offset, no zone as UTC, a space for T",
         "\"Date Time\",\"Latitude (deg)\",\"Longitude (deg)\",\"Altitude (m)\"\n"
         "\"2024-06-15T10:00:00+02:00\",\"47.25\",\"8.5\",\"1\"\n2024-06-15 08:00:05,47.26,8.51,2\n",
         {"47.2500000 8.5000000 2024-06-15 08:00:00.000 1.00",
          "47.2600000 8.5100000 2024-06-15 08:00:05.000 2.00"}},
        {"byte order mark, slashes in the date, a quoted field with separator, quote and line end",
         "\xEF\xBB\xBFname,utc_date,utc_time,lat,lon\n\"a, "
         "\"\"b\"\"\nc\",2024/06/15,08:00:00,1,2\n,2024/06/15,08:00:01,3,4\n",
         {"1.0000000 2.0000000 2024-06-15 08:00:00.000 -", "3.0000000 4.0000000 2024-06-15 08:00:01.000 -"}},
        {"rows without time or position and empty lines left out, a date alone is no moment",
         "date,lat,lon\n\n,1,2\n2024-06-15T08:00:00Z,,2\n2024-06-15,1,2\n2024-06-15T08:00:00-0130,5,6\n",
         {"5.0000000 6.0000000 2024-06-15 09:30:00.000 -"}},
    };
    for (const CsvCase& c : cases) {
        const Segments expected = c.points.empty() ? Segments{} : Segments{c.points};
        EXPECT_EQ(ReadText(ReadCsv, c.csv), expected) << c.what;
    }
}

TEST(CsvRead, DamagedFilesAreRefused) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "Die CSV-Datei ist leer."},
        {"time,lat,name\n2024-06-15T08:00:00Z,1,2\n",
         "Die Kopfzeile der CSV-Datei nennt keine Spalte für die Länge (lon, lng, longitude)."},
        {"lat,lon\n1,2\n",
         "Die Kopfzeile der CSV-Datei nennt keine Spalte für die Zeit (time, timestamp, datetime oder date "
         "und "
         "time)."},
        {"time,lat,lon\n2024-06-15T08:00:00Z,1,2\n2024-06-15T08:00:01Z,N47,2\n",
         "Zeile 3: die Breite \"N47\" ist keine Zahl."},
        {"time,lat,lon\n2024-06-15T25:00:00Z,1,2\n",
         "Zeile 2: die Zeit \"2024-06-15T25:00:00Z\" ist nicht lesbar."},
        {"time,lat,lon\n\"2024-06-15T08:00:00Z,1,2\n",
         "Zeile 2: ein Anführungszeichen wird nicht geschlossen."},
        {"name,time,lat,lon\n\"a\nb\",2024-06-15T08:00:00Z,1,2\n,2024-06-15T08:00:00Z,x,2\n",
         "Zeile 4: die Breite \"x\" ist keine Zahl."},
    };
    for (const auto& [csv, message] : cases) {
        EXPECT_EQ(ReadError(ReadCsv, csv), message) << csv;
    }
}

// An unclosed quote does not make the rest of a big file one field in memory.
TEST(CsvRead, OverlongFieldIsRefused) {
    const std::string csv = "time,lat,lon\n\"" + std::string(70000, 'x') + "\n";
    EXPECT_EQ(ReadError(ReadCsv, csv), "Zeile 2: ein Feld ist länger als 65536 Bytes.");
}

}  // namespace
}  // namespace zeloro::test
