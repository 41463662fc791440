// tests/gpx/GpxImportDetailsTest.cpp: the opt-in import that also keeps each point's elevation and track
// segment, on a table that has the two columns or gains them.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gpx/GpxImport.h"
#include "support/TestSupport.h"
#include "trackstore/Database.h"

namespace zeloro {
namespace {

struct DetailRow {
    std::string lat;
    std::string utctime;
    std::optional<double> ele;
    std::optional<long long> segment;
    friend bool operator==(const DetailRow&, const DetailRow&) = default;
};
void PrintTo(const DetailRow& r, std::ostream* os) {
    *os << "{" << r.lat << "|" << r.utctime << "|" << (r.ele ? std::to_string(*r.ele) : "NULL") << "|"
        << (r.segment ? std::to_string(*r.segment) : "NULL") << "}";
}

class GpxImportDetails : public ::testing::Test {
protected:
    void SetUp() override {
        uniCon.Open(":memory:");
        uniCon.Execute(test::ReadFileText(test::SourceDir() / "db" / "schema.sql"));
    }

    bool Import(std::string_view gpx, ImportDetails details) {
        const auto path = dir / ("t" + std::to_string(files++) + ".gpx");
        test::WriteFileText(path, gpx);
        return importGpx(path.string(), uniCon, query, log, {}, details);
    }

    std::vector<std::string> Columns() {
        Query info(uniCon);
        info.SetSQL("PRAGMA table_info(gpx)");
        std::vector<std::string> names;
        for (info.Open(); !info.Eof(); info.Next()) {
            names.push_back(info.FieldByName("name").AsString());
        }
        return names;
    }

    std::vector<DetailRow> Rows() {
        Query select(uniCon);
        select.SetSQL("SELECT lat, utctime, ele, segment FROM gpx ORDER BY rowid");
        std::vector<DetailRow> rows;
        for (select.Open(); !select.Eof(); select.Next()) {
            DetailRow row{
                select.FieldByName("lat").AsString(), select.FieldByName("utctime").AsString(), {}, {}};
            if (!select.FieldByName("ele").IsNull()) {
                row.ele = select.FieldByName("ele").AsFloat();
            }
            if (!select.FieldByName("segment").IsNull()) {
                row.segment = select.FieldByName("segment").AsInteger();
            }
            rows.push_back(row);
        }
        return rows;
    }

    test::TempDir dir;
    int files = 0;
    Connection uniCon;
    Query query{uniCon};
    test::MessageLog log;
};

constexpr std::string_view kTrack =
    "<gpx>"
    "<wpt lat=\"1\" lon=\"1\"><ele>12</ele><time>2024-06-15T07:00:00Z</time></wpt>"
    "<trk><trkseg>"
    "<trkpt lat=\"2\" lon=\"2\"><ele>395</ele><time>2024-06-15T08:00:00Z</time></trkpt>"
    "<trkpt lat=\"3\" lon=\"3\"><ele>-12.5</ele><time>2024-06-15T08:00:10Z</time></trkpt>"
    "</trkseg><trkseg>"
    "<trkpt lat=\"4\" lon=\"4\"><ele> 7,25 </ele><time>2024-06-15T08:01:00Z</time></trkpt>"
    "<trkpt lat=\"5\" lon=\"5\"><ele>high</ele><time>2024-06-15T08:01:10Z</time></trkpt>"
    "<trkpt lat=\"6\" lon=\"6\"><time>2024-06-15T08:01:20Z</time></trkpt>"
    "</trkseg></trk>"
    "<rte><rtept lat=\"7\" lon=\"7\"><ELE>1e3</ELE><time>2024-06-15T09:00:00Z</time></rtept>"
    "<rtept lat=\"8\" lon=\"8\"><time>2024-06-15T09:00:30Z</time></rtept></rte>"
    "</gpx>";

TEST_F(GpxImportDetails, KeepsElevationsAndNumbersEachSegment) {
    ASSERT_TRUE(Import(kTrack, ImportDetails::elevationAndSegments));
    const std::vector<DetailRow> want{
        {"1", "2024-06-15 07:00:00", 12.0, std::nullopt},  // a waypoint stands alone
        {"2", "2024-06-15 08:00:00", 395.0, 1},
        {"3", "2024-06-15 08:00:10", -12.5, 1},
        {"4", "2024-06-15 08:01:00", 7.25, 2},
        {"5", "2024-06-15 08:01:10", std::nullopt, 2},  // an elevation that is no number is none
        {"6", "2024-06-15 08:01:20", std::nullopt, 2},
        {"7", "2024-06-15 09:00:00", 1000.0, 3},  // a route is one segment
        {"8", "2024-06-15 09:00:30", std::nullopt, 3},
    };
    EXPECT_EQ(Rows(), want);
    // The log is the plain import's.
    EXPECT_EQ(log.messages, (std::vector<std::string>{" - Starte Datenbankimport",
                                                      " - 8 Datensätze gelesen und importiert"}));
}

TEST_F(GpxImportDetails, AnOlderTableGainsTheColumnsAndLaterImportsTakeNewNumbers) {
    ASSERT_TRUE(Import(kTrack, ImportDetails::positionsOnly));
    // The plain import leaves the table as it was delivered.
    EXPECT_EQ(Columns(), (std::vector<std::string>{"lat", "lon", "utctime"}));

    ASSERT_TRUE(Import(kTrack, ImportDetails::elevationAndSegments));
    EXPECT_EQ(Columns(), (std::vector<std::string>{"lat", "lon", "utctime", "ele", "segment"}));
    ASSERT_TRUE(Import(kTrack, ImportDetails::elevationAndSegments));
    ASSERT_TRUE(Import(kTrack, ImportDetails::positionsOnly));
    const std::vector<DetailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 32U);
    for (std::size_t i = 0; i < 8; ++i) {
        // The plain rows, before and after, have neither.
        EXPECT_EQ(rows[i].ele, std::nullopt);
        EXPECT_EQ(rows[i].segment, std::nullopt);
        EXPECT_EQ(rows[24 + i].ele, std::nullopt);
        EXPECT_EQ(rows[24 + i].segment, std::nullopt);
    }
    // The second detailed import goes on where the first stopped, so two files never share a segment.
    EXPECT_EQ(rows[9].segment, 1);
    EXPECT_EQ(rows[15].segment, 3);
    EXPECT_EQ(rows[17].segment, 4);
    EXPECT_EQ(rows[23].segment, 6);
    EXPECT_EQ(rows[17].ele, 395.0);
}

TEST_F(GpxImportDetails, AMissingTableFailsAsThePlainImportDoes) {
    uniCon.Execute("DROP TABLE gpx");
    EXPECT_FALSE(Import(kTrack, ImportDetails::elevationAndSegments));
    EXPECT_EQ(log.messages,
              (std::vector<std::string>{" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                        " - 0 Datensätze gelesen und importiert"}));
    EXPECT_FALSE(uniCon.InTransaction());
}

}  // namespace
}  // namespace zeloro
