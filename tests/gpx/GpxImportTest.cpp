// tests/gpx/GpxImportTest.cpp: the import's rows, log lines, transaction and failure paths, and the
// shared GPX files checked against an independent count made with libxml2.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Error.h"
#include "gpx/GpxImport.h"
#include "support/TestSupport.h"
#include "trackstore/Database.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStreams.h"

namespace zeloro {
namespace {

struct Row {
    std::string lat;
    std::string lon;
    std::string utctime;
    friend bool operator==(const Row&, const Row&) = default;
};
void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << r.lat << "|" << r.lon << "|" << r.utctime << "}";
}

class GpxImport : public ::testing::Test {
protected:
    void SetUp() override {
        uniCon.Open(":memory:");
        uniCon.Execute(test::ReadFileText(test::SourceDir() / "db" / "schema.sql"));
    }

    std::string Write(std::string_view text) {
        const auto path = dir / ("t" + std::to_string(files++) + ".gpx");
        test::WriteFileText(path, text);
        return path.string();
    }

    bool Import(const std::string& path) {
        return importGpx(path, uniCon, query, log, [this] { ++messagePasses; });
    }

    std::vector<Row> Rows() {
        Query select(uniCon);
        select.SetSQL("SELECT lat, lon, utctime FROM gpx ORDER BY rowid");
        select.Open();
        std::vector<Row> rows;
        for (; !select.Eof(); select.Next()) {
            rows.push_back({select.FieldByName("lat").AsString(), select.FieldByName("lon").AsString(),
                            select.FieldByName("utctime").AsString()});
        }
        return rows;
    }

    test::TempDir dir;
    int files = 0;
    Connection uniCon;
    Query query{uniCon};
    test::MessageLog log;
    int messagePasses = 0;
};

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
    return {lines.begin(), lines.end()};
}

TEST_F(GpxImport, WaypointsThenTrackPointsThenRoutePoints) {
    const std::string path = Write(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\">\n"
        " <rte><rtept lat=\"5\" lon=\"6\"><time>2011-01-15T09:00:00Z</time></rtept></rte>\n"
        " <wpt lat=\"1\" lon=\"2\"><name>no time</name></wpt>\n"
        " <trk><trkseg>\n"
        "  <trkpt lat=\"47.1\" lon=\"8.1\"><ele>400</ele><time>2011-01-15T08:30:05Z</time></trkpt>\n"
        "  <trkpt lat=\"47.2\" lon=\"8.2\"><time>2011-01-15T08:30:06.999Z</time></trkpt>\n"
        "  <trkpt lat=\"47.3\" lon=\"8.3\"><time>2011-01-15T10:30:07+02:00</time></trkpt>\n"
        " </trkseg></trk>\n"
        "</gpx>\n");
    EXPECT_TRUE(Import(path));
    EXPECT_EQ(Rows(), (std::vector<Row>{{"47.1", "8.1", "2011-01-15 08:30:05"},
                                        {"47.2", "8.2", "2011-01-15 08:30:06"},
                                        {"47.3", "8.3", "2011-01-15 10:30:07"},  // the offset is not applied
                                        {"5", "6", "2011-01-15 09:00:00"}}));
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport", " - 4 Datensätze gelesen und importiert"}));
    EXPECT_FALSE(uniCon.InTransaction());
    EXPECT_EQ(messagePasses, 1);
    EXPECT_EQ(query.SQL(), kGpxInsertStatement);
}

// A stop asked for while the points go in (Ctrl+C) ends the import between two points, as a failed one.
TEST_F(GpxImport, StopBetweenPointsEndsItAsAFailedImport) {
    const std::string path = Write(
        "<gpx><trk><trkseg>"
        "<trkpt lat=\"1\" lon=\"2\"><time>2024-06-15T08:00:00Z</time></trkpt>"
        "<trkpt lat=\"3\" lon=\"4\"><time>2024-06-15T08:00:01Z</time></trkpt>"
        "<trkpt lat=\"5\" lon=\"6\"><time>2024-06-15T08:00:02Z</time></trkpt>"
        "</trkseg></trk></gpx>");
    int asked = 0;
    EXPECT_FALSE(importGpx(path, uniCon, query, log, {}, ImportDetails::positionsOnly,
                           [&asked] { return ++asked == 2; }));
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(uniCon.InTransaction());
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                   " - 1 Datensätze gelesen und importiert"}));
}

TEST_F(GpxImport, UntimedPointsImportNothing) {
    EXPECT_TRUE(
        Import(Write("<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"/><trkpt lat=\"3\" lon=\"4\">"
                     "<ele>1</ele></trkpt></trkseg></trk></gpx>")));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport", " - 0 Datensätze gelesen und importiert"}));
}

TEST_F(GpxImport, CoordinatesStoredAsWritten) {
    EXPECT_TRUE(
        Import(Write("<gpx><wpt lat=\"+47.123456789012345\" lon=\" 8,5 \"><time>2011-01-15</time></wpt>"
                     "<wpt LAT='-0.0' lon=\"1&amp;2\"><time>2011-01-15T00:00:01Z</time></wpt>"
                     "<wpt><time>2011-01-15T00:00:02Z</time></wpt></gpx>")));
    EXPECT_EQ(Rows(), (std::vector<Row>{{"+47.123456789012345", " 8,5 ", "2011-01-15 00:00:00"},
                                        {"-0.0", "1&2", "2011-01-15 00:00:01"},
                                        {"", "", "2011-01-15 00:00:02"}}));  // missing lat/lon: empty texts
}

TEST_F(GpxImport, CapitalNamesFoundPrefixedNamesNot) {
    EXPECT_TRUE(
        Import(Write("<GPX><WPT lat=\"1\" lon=\"1\"><TIME>2011-01-15T00:00:01Z</TIME></WPT>"
                     "<TrkPt lat=\"2\" lon=\"2\"><Time>2011-01-15T00:00:02Z</Time></TrkPt>"
                     "<gpx:trkpt lat=\"3\" lon=\"3\"><gpx:time>2011-01-15T00:00:03Z</gpx:time></gpx:trkpt>"
                     "<trkpt lat=\"4\" lon=\"4\"><gpx:time>2011-01-15T00:00:04Z</gpx:time></trkpt>"
                     "</GPX>")));
    EXPECT_EQ(Rows(),
              (std::vector<Row>{{"1", "1", "2011-01-15 00:00:01"}, {"2", "2", "2011-01-15 00:00:02"}}));
}

TEST_F(GpxImport, ImportingTwiceAppendsTwice) {
    const std::string path =
        Write("<gpx><wpt lat=\"1\" lon=\"2\"><time>2011-01-15T00:00:01Z</time></wpt></gpx>");
    EXPECT_TRUE(Import(path));
    EXPECT_TRUE(Import(path));
    EXPECT_EQ(Rows().size(), 2U);
}

const char* const kBrokenAfterTwo =
    "<gpx><trk><trkseg>"
    "<trkpt lat=\"1\" lon=\"1\"><time>2011-01-15T00:00:01Z</time></trkpt>"
    "<trkpt lat=\"2\" lon=\"2\"><time>2011-01-15T00:00:02Z</time></trkpt>"
    "<trkpt lat=\"3\" lon=\"3\"><time></time></trkpt>"
    "<trkpt lat=\"4\" lon=\"4\"><time>2011-01-15T00:00:04Z</time></trkpt>"
    "</trkseg></trk></gpx>";

TEST_F(GpxImport, BrokenTimeAfterTwoPointsRollsBackItsOwnTransaction) {
    EXPECT_FALSE(Import(Write(kBrokenAfterTwo)));
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                   " - 2 Datensätze gelesen und importiert"}));
    // Nothing of the failed import stays: no open transaction that a later commit would make permanent.
    EXPECT_FALSE(uniCon.InTransaction());
    EXPECT_TRUE(Rows().empty());
    // The next import starts cleanly and commits only its own rows.
    EXPECT_TRUE(Import(Write("<gpx><wpt lat=\"9\" lon=\"9\"><time>2011-01-15T00:00:09Z</time></wpt></gpx>")));
    EXPECT_EQ(Rows(), (std::vector<Row>{{"9", "9", "2011-01-15 00:00:09"}}));
}

TEST_F(GpxImport, BrokenTimeInsideCallersTransactionLeavesItOpen) {
    uniCon.StartTransaction();
    EXPECT_FALSE(Import(Write(kBrokenAfterTwo)));
    EXPECT_TRUE(uniCon.InTransaction());
    EXPECT_EQ(Rows().size(), 2U);  // the caller decides about its own transaction
    uniCon.Rollback();
    EXPECT_TRUE(Rows().empty());
}

TEST_F(GpxImport, OpenTransactionIsUsedAndCommitted) {
    uniCon.StartTransaction();
    EXPECT_TRUE(Import(Write("<gpx><wpt lat=\"1\" lon=\"2\"><time>2011-01-15T00:00:01Z</time></wpt></gpx>")));
    EXPECT_FALSE(uniCon.InTransaction());
    EXPECT_EQ(Rows().size(), 1U);
}

struct GlobeCase {
    std::string_view name;
    std::string lat;
    std::string lon;
    bool imported;
};
void PrintTo(const GlobeCase& c, std::ostream* os) { *os << c.name; }

class GpxImportGlobe : public GpxImport, public ::testing::WithParamInterface<GlobeCase> {};

// A position off the globe is refused at its point, like a bad time, and names the file and the point;
// the edges of the globe and texts the lookup reads as such numbers are positions like any other.
TEST_P(GpxImportGlobe, RefusesPositionsOffTheGlobe) {
    const GlobeCase& c = GetParam();
    const std::string path = Write(
        "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"><time>2011-01-15T00:00:01Z</time></trkpt>"
        "<trkpt lat=\"" +
        c.lat + "\" lon=\"" + c.lon +
        "\"><time>2011-01-15T00:00:02Z</time></trkpt>"
        "</trkseg></trk></gpx>");
    std::string failure;
    EXPECT_EQ(importGpx(path, uniCon, query, log, {}, ImportDetails::positionsOnly, {}, &failure),
              c.imported);
    if (c.imported) {
        EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "2", "2011-01-15 00:00:01"},
                                            {c.lat, c.lon, "2011-01-15 00:00:02"}}));
        EXPECT_EQ(failure, "");
        return;
    }
    EXPECT_EQ(failure,
              path + ": trkpt Nr. 2 (lat \"" + c.lat + "\", lon \"" + c.lon +
                  "\", time \"2011-01-15T00:00:02Z\"): Position außerhalb von ±90° Breite und ±180° Länge");
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                   " - 1 Datensätze gelesen und importiert"}));
    EXPECT_TRUE(Rows().empty());  // rolled back, as after any failed import
    EXPECT_FALSE(uniCon.InTransaction());
}

INSTANTIATE_TEST_SUITE_P(GpxImport, GpxImportGlobe,
                         ::testing::Values(GlobeCase{"LatitudeNinetyOne", "91", "11.5", false},
                                           GlobeCase{"LongitudeOneEightyOne", "47", "181", false},
                                           GlobeCase{"LatitudeMinusNinetyAndAHalf", "-90.5", "8", false},
                                           GlobeCase{"LatitudeWithCommaAndExponent", " +0,91e2 ", "8", false},
                                           GlobeCase{"LongitudeJustPastTheEdge", "0", "-180.000001", false},
                                           GlobeCase{"NorthPole", "90", "0", true},
                                           GlobeCase{"SouthPole", "-90.0", "0", true},
                                           GlobeCase{"DateLineEast", "+90", "180", true},
                                           GlobeCase{"DateLineWest", " -90 ", "-180,0", true},
                                           GlobeCase{"NoNumberIsStoredAsWritten", "north", "1e99999", true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(GpxImport, MissingTableIsCaught) {
    uniCon.Execute("DROP TABLE gpx");
    EXPECT_FALSE(
        Import(Write("<gpx><wpt lat=\"1\" lon=\"2\"><time>2011-01-15T00:00:01Z</time></wpt></gpx>")));
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                   " - 0 Datensätze gelesen und importiert"}));
    EXPECT_FALSE(uniCon.InTransaction());
}

struct LoadFailureCase {
    std::string_view name;
    std::string content;  // empty name of file: the file is not written
    bool writeFile;
    std::string_view message;
};
void PrintTo(const LoadFailureCase& c, std::ostream* os) { *os << c.name; }

class GpxImportLoadFailure : public GpxImport, public ::testing::WithParamInterface<LoadFailureCase> {};

TEST_P(GpxImportLoadFailure, PropagatesAfterStartLineOnly) {
    const LoadFailureCase& c = GetParam();
    const std::string path = c.writeFile ? Write(c.content) : (dir / "missing.gpx").string();
    try {
        (void)Import(path);
        FAIL() << "no error";
    } catch (const GpxLoadError& e) {
        // The loader's text after the file's name; the open error names the file itself.
        std::string want = path + ": " + std::string(c.message);
        if (!c.writeFile) {
            want = "Datei " + path + " kann nicht geöffnet werden. No such file or directory";
        }
        EXPECT_EQ(std::string(e.what()), want);
    }
    EXPECT_EQ(log.messages, Lines({" - Starte Datenbankimport"}));
    EXPECT_FALSE(uniCon.InTransaction());
    EXPECT_EQ(query.SQL(), kGpxInsertStatement);
    EXPECT_EQ(messagePasses, 0);
}

INSTANTIATE_TEST_SUITE_P(
    GpxImport, GpxImportLoadFailure,
    ::testing::Values(LoadFailureCase{"MissingFile", "", false, ""},
                      LoadFailureCase{"Truncated", "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"><time>2011",
                                      true, "Missing close tag in element time"},
                      LoadFailureCase{"NoRoot", "<?xml version=\"1.0\"?>", true,
                                      "No root element found in xml"},
                      LoadFailureCase{"Empty", "", true, "Unsupported string encoding"}),
    [](const auto& p) { return std::string(p.param.name); });

// The shared GPX files, counted by libxml2.

struct XmlDocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
struct XmlCharFree {
    void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};

std::string QualifiedName(const xmlNode* node) {
    std::string name;
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        name = reinterpret_cast<const char*>(node->ns->prefix);
        name += ':';
    }
    name += reinterpret_cast<const char*>(node->name);
    return name;
}

std::string Property(xmlNode* node, const char* name) {
    // Attribute names compared without regard to case, the first one written wins.
    for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
        if (attr->ns == nullptr && strcasecmp(reinterpret_cast<const char*>(attr->name), name) == 0) {
            const std::unique_ptr<xmlChar, XmlCharFree> value(
                xmlNodeListGetString(node->doc, attr->children, 1));
            return value ? reinterpret_cast<const char*>(value.get()) : "";
        }
    }
    return "";
}

// Every timed point with the given name in document order, as the rows the import must write: lat and
// lon as written, the first 19 characters of the time with the date-time separator made a blank.
void CollectPoints(xmlNode* parent, const char* pointName, std::vector<Row>& rows) {
    for (xmlNode* node = parent->children; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (strcasecmp(QualifiedName(node).c_str(), pointName) == 0) {
            for (xmlNode* child = node->children; child != nullptr; child = child->next) {
                if (child->type == XML_ELEMENT_NODE &&
                    strcasecmp(QualifiedName(child).c_str(), "time") == 0) {
                    const std::unique_ptr<xmlChar, XmlCharFree> content(xmlNodeGetContent(child));
                    std::string time = reinterpret_cast<const char*>(content.get());
                    time.erase(0, time.find_first_not_of(" \t\r\n"));
                    time = time.substr(0, 19);
                    time[10] = ' ';
                    rows.push_back({Property(node, "lat"), Property(node, "lon"), time});
                    break;
                }
            }
        }
        CollectPoints(node, pointName, rows);
    }
}

std::vector<Row> IndependentRows(const std::filesystem::path& path) {
    const std::unique_ptr<xmlDoc, XmlDocFree> doc(
        xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc) {
        ADD_FAILURE() << "libxml2 cannot read " << path;
        return {};
    }
    std::vector<Row> rows;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    for (const char* name : {"wpt", "trkpt", "rtept"}) {
        CollectPoints(root, name, rows);
    }
    return rows;
}

TEST_F(GpxImport, SharedFilesImportEveryTimedPointAsWritten) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    const auto shared = test::SharedFiles("gpx");
    ASSERT_FALSE(shared.empty());
    for (const auto& file : shared) {
        SCOPED_TRACE(file.filename().string());
        uniCon.Execute("DELETE FROM gpx");
        log.messages.clear();
        const std::vector<Row> want = IndependentRows(file);
        EXPECT_TRUE(Import(file.string()));
        EXPECT_EQ(Rows(), want);
        ASSERT_EQ(log.messages.size(), 2U);
        EXPECT_EQ(log.messages[1],
                  " - " + std::to_string(want.size()) + " Datensätze gelesen und importiert");
    }
}

}  // namespace
}  // namespace zeloro
