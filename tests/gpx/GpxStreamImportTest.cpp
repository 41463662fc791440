// tests/gpx/GpxStreamImportTest.cpp: the import that inserts points while it reads gives what the import
// over the whole tree gives, for sound and for broken files: the result or the error, the log lines, the
// rows with their rowids, the columns, and whether a transaction is left open.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Error.h"
#include "gpx/GpxImport.h"
#include "support/TestSupport.h"
#include "trackstore/Database.h"

namespace zeloro {
namespace {

struct Outcome {
    std::string result;   // "true", "false", or the error's text
    std::string failure;  // what a failed import says of the point it failed at
    std::vector<std::string> log;
    std::vector<std::string> rows;
    std::vector<std::string> columns;
    bool inTransaction = false;
};

// The streamed import must leave everything as the tree import leaves it: result, log, rows, table.
void ExpectSameOutcome(const Outcome& streamed, const Outcome& tree) {
    EXPECT_EQ(streamed.result, tree.result);
    EXPECT_EQ(streamed.failure, tree.failure);
    EXPECT_EQ(streamed.log, tree.log);
    EXPECT_EQ(streamed.rows, tree.rows);
    EXPECT_EQ(streamed.columns, tree.columns);
    EXPECT_EQ(streamed.inTransaction, tree.inTransaction);
}

std::string Point(const char* name, int second, const std::string& extra = "") {
    return "<" + std::string(name) + " lat=\"48." + std::to_string(second) + "\" lon=\"11." +
           std::to_string(second) + "\"><time>2024-06-15T10:" + (second < 10 ? "0" : "") +
           std::to_string(second % 60) + ":00Z</time>" + extra + "</" + name + ">";
}

std::string BigTrack(int points, int badAt) {
    std::string gpx = "<gpx><trk>";
    for (int i = 0; i < points; ++i) {
        if (i % 700 == 0) {
            gpx += i == 0 ? "<trkseg>" : "</trkseg><trkseg>";
        }
        gpx += i == badAt ? "<trkpt lat=\"1\" lon=\"2\"><time>now</time></trkpt>"
                          : Point("trkpt", i % 60, "<ele>" + std::to_string(i) + ".5</ele><name>p</name>");
    }
    return gpx + "</trkseg></trk></gpx>";
}

// The text with the file's path as "PATH": each run reads a file of its own.
std::string WithoutPath(std::string text, const std::string& path) {
    for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at)) {
        text.replace(at, path.size(), "PATH");
    }
    return text;
}

struct Case {
    const char* name;
    std::string gpx;
};

std::vector<Case> Cases() {
    const std::string bad = "<trkpt lat=\"1\" lon=\"2\"><time>2024-13-45T99:00:00Z</time></trkpt>";
    std::string deep;
    for (int i = 0; i < 1001; ++i) {
        deep += "<e>";
    }
    return {
        {"track", "<?xml version=\"1.0\"?><gpx><trk><trkseg>" + Point("trkpt", 1) + Point("trkpt", 2) +
                      "<trkpt lat=\"5\" lon=\"5\"/>" + Point("trkpt", 3, "<ele>512</ele>") +
                      "</trkseg></trk></gpx>"},
        {"waypoints, route, track in the file's order",
         "<gpx>" + Point("wpt", 1) + "<rte>" + Point("rtept", 2) + Point("rtept", 3) + "</rte><trk><trkseg>" +
             Point("trkpt", 4) + "</trkseg></trk></gpx>"},
        {"track, then waypoint",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + "</trkseg></trk>" + Point("wpt", 2) + "</gpx>"},
        {"untimed waypoint after the track",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + "</trkseg></trk><wpt lat=\"1\" lon=\"1\"/></gpx>"},
        {"bad time halfway", "<gpx><trk><trkseg>" + Point("trkpt", 1) + Point("trkpt", 2) + bad +
                                 Point("trkpt", 4) + "</trkseg></trk></gpx>"},
        {"bad time, then a timed waypoint",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + bad + "</trkseg></trk>" + Point("wpt", 3) + "</gpx>"},
        {"bad route point before the track",
         "<gpx><rte><rtept lat=\"1\" lon=\"2\"><time>x</time></rtept></rte><trk><trkseg>" +
             Point("trkpt", 1) + Point("trkpt", 2) + "</trkseg></trk></gpx>"},
        {"missing close tag halfway", "<gpx><trk><trkseg>" + Point("trkpt", 1) + Point("trkpt", 2) +
                                          "<trkpt lat=\"3\" lon=\"3\"><time>2024-06-15T10:03:00Z</time>"},
        {"wrong close tag",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + Point("trkpt", 2) + "</trkseq></trk></gpx>"},
        {"bad time, then not well-formed",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + bad + Point("trkpt", 3) + "</trkseg></trk><a></b></gpx>"},
        {"error after the root element",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + "</trkseg></trk></gpx><x><y>"},
        {"nested points and letter case",
         "<gpx><trk><trkseg><TRKPT lat=\"7\" lon=\"8\"><Time>2024-06-15T10:07:00Z</Time><extensions>" +
             Point("trkpt", 9) + Point("TrkPt", 10) + "</extensions></TRKPT>" + Point("trkpt", 11) +
             "</trkseg></trk></gpx>"},
        {"nested waypoint in a track point",
         "<gpx><trk><trkseg>" + Point("trkpt", 1, Point("wpt", 2)) + "</trkseg></trk></gpx>"},
        {"points outside the root", "<!-- " + Point("wpt", 1) + " --><gpx>" + Point("wpt", 2) +
                                        "</gpx><gpx>" + Point("wpt", 3) + "</gpx>"},
        {"declarations named like points",
         "<!DOCTYPE gpx [<!ELEMENT wpt ANY><!ELEMENT trkpt ANY>]><gpx><!ELEMENT trkpt x>" + Point("wpt", 1) +
             "</gpx>"},
        {"segments, routes and elevations",
         "<gpx><trk><trkseg>" + Point("trkpt", 1, "<ele>-3.25</ele>") + Point("trkpt", 2, "<ele>high</ele>") +
             "</trkseg><trkseg>" + Point("trkpt", 3) + "</trkseg></trk><rte>" + Point("rtept", 4) +
             "</rte><rte>" + Point("rtept", 5, "<ele>7</ele>") + "</rte></gpx>"},
        {"route between track segments, and a segment with both kinds",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + "</trkseg></trk><rte>" + Point("rtept", 2) +
             "</rte><trk><trkseg>" + Point("rtept", 3) + Point("trkpt", 4) + "</trkseg></trk><rte>" +
             Point("rtept", 5, "<ele>1</ele>") + "</rte>" + Point("wpt", 6) + "</gpx>"},
        {"bad route point, then a bad track point",
         "<gpx><rte><rtept lat=\"1\" lon=\"2\"><time>x</time></rtept></rte><trk><trkseg>" +
             Point("trkpt", 1) + bad + "</trkseg></trk></gpx>"},
        {"text and comments between points", "<gpx><trk><trkseg>text<!-- c -->" + Point("trkpt", 1) +
                                                 "more<![CDATA[<trkpt>]]>" + Point("trkpt", 2) +
                                                 "</trkseg></trk></gpx>"},
        {"empty root", "<gpx/>"},
        {"no root", "<!-- only a comment -->"},
        {"nested too deeply", "<gpx>" + deep},
        {"big track", BigTrack(6000, -1)},
        {"big track with a bad time near the end", BigTrack(6000, 5000)},
        {"latitude off the globe inside a batch",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + Point("trkpt", 2) +
             "<trkpt lat=\"90.0001\" lon=\"2\"><time>2024-06-15T10:03:00Z</time></trkpt>" +
             Point("trkpt", 4) + "</trkseg></trk></gpx>"},
        {"route point off the globe",
         "<gpx>" + Point("wpt", 1) + "<rte>" + Point("rtept", 2) +
             "<rtept lat=\"1\" lon=\"-181\"><time>2024-06-15T10:03:00Z</time></rtept></rte></gpx>"},
        {"waypoint off the globe after the track",
         "<gpx><trk><trkseg>" + Point("trkpt", 1) + "</trkseg></trk><wpt lat=\"-1e3\" lon=\"2\"/>" +
             "<wpt lat=\"-1e3\" lon=\"2\"><time>2024-06-15T10:03:00Z</time></wpt></gpx>"},
    };
}

class GpxStreamImport : public ::testing::Test {
protected:
    Outcome Run(const std::string& gpx, bool streamed, ImportDetails details, bool callersTransaction,
                const std::function<bool()>& stopRequested = {}) {
        const auto path = dir_ / ("t" + std::to_string(files_++) + ".gpx");
        test::WriteFileText(path, gpx);
        Connection uniCon;
        uniCon.Open(":memory:");
        uniCon.Execute(schema_.empty() ? test::ReadFileText(test::SourceDir() / "db" / "schema.sql")
                                       : schema_);
        uniCon.Execute("INSERT INTO gpx (lat,lon,utctime) VALUES ('1','2','2020-01-01 00:00:00')");
        if (callersTransaction) {
            uniCon.StartTransaction();
        }
        Query query(uniCon);
        test::MessageLog log;
        Outcome outcome;
        try {
            const bool ok = (streamed ? importGpx : importGpxTree)(path.string(), uniCon, query, log, {},
                                                                   details, stopRequested, &outcome.failure);
            outcome.result = ok ? "true" : "false";
        } catch (const Error& e) {
            outcome.result = WithoutPath(e.what(), path.string());
        }
        outcome.failure = WithoutPath(outcome.failure, path.string());
        outcome.log = log.messages;
        outcome.inTransaction = uniCon.InTransaction();
        Query select(uniCon);
        select.SetSQL("SELECT rowid AS r, * FROM gpx ORDER BY rowid");
        for (select.Open(); !select.Eof(); select.Next()) {
            std::string row;
            for (const Field& field : select.Fields()) {
                row += field.Name() + "=" + (field.IsNull() ? "NULL" : field.AsString()) + " ";
            }
            outcome.rows.push_back(row);
        }
        Query info(uniCon);
        info.SetSQL("PRAGMA table_info(gpx)");
        for (info.Open(); !info.Eof(); info.Next()) {
            outcome.columns.push_back(info.FieldByName("name").AsString());
        }
        return outcome;
    }

    test::TempDir dir_;
    int files_ = 0;
    std::string schema_;  // empty: the delivered schema
};

TEST_F(GpxStreamImport, GivesWhatTheTreeImportGives) {
    for (const Case& c : Cases()) {
        for (const ImportDetails details :
             {ImportDetails::positionsOnly, ImportDetails::elevationAndSegments}) {
            for (const bool callersTransaction : {false, true}) {
                SCOPED_TRACE(std::string(c.name) +
                             (details == ImportDetails::positionsOnly ? "" : ", details") +
                             (callersTransaction ? ", caller's transaction" : ""));
                const Outcome tree = Run(c.gpx, false, details, callersTransaction);
                const Outcome streamed = Run(c.gpx, true, details, callersTransaction);
                ExpectSameOutcome(streamed, tree);
            }
        }
    }
}

// The cases above reach every outcome, so that agreeing with the tree import is not agreeing on nothing.
TEST_F(GpxStreamImport, CasesCoverEveryOutcome) {
    const auto of = [this](const std::string& gpx, bool callers) {
        return Run(gpx, true, ImportDetails::positionsOnly, callers);
    };
    const std::vector<Case> cases = Cases();
    const auto gpx = [&cases](std::string_view name) {
        for (const Case& c : cases) {
            if (c.name == name) {
                return c.gpx;
            }
        }
        ADD_FAILURE() << name;
        return std::string();
    };
    const Outcome big = of(gpx("big track"), false);
    EXPECT_EQ(big.result, "true");
    EXPECT_EQ(big.rows.size(), 6001U);
    const Outcome halfway = of(gpx("bad time halfway"), true);
    EXPECT_EQ(halfway.result, "false");
    EXPECT_EQ(halfway.rows.size(), 3U);  // the row before the import and the two before the bad time
    EXPECT_EQ(halfway.log.back(), " - 2 Datensätze gelesen und importiert");
    EXPECT_EQ(halfway.failure,
              "PATH: trkpt Nr. 3 (lat \"1\", lon \"2\", time \"2024-13-45T99:00:00Z\"): "
              "Ungültiges Argument zum Codieren des Datums");
    EXPECT_EQ(of(gpx("big track with a bad time near the end"), false).failure,
              "PATH: trkpt Nr. 5001 (lat \"1\", lon \"2\", time \"now\"): ''now'' ist kein gültiger "
              "Integer-Wert");
    const Outcome offGlobe = of(gpx("latitude off the globe inside a batch"), false);
    EXPECT_EQ(offGlobe.result, "false");
    EXPECT_EQ(offGlobe.rows.size(), 1U);  // only the row from before the import
    EXPECT_EQ(offGlobe.failure,
              "PATH: trkpt Nr. 3 (lat \"90.0001\", lon \"2\", time \"2024-06-15T10:03:00Z\"): " +
                  std::string(kPointOffGlobe));
    EXPECT_EQ(of(gpx("route point off the globe"), false).failure,
              "PATH: rtept Nr. 2 (lat \"1\", lon \"-181\", time \"2024-06-15T10:03:00Z\"): " +
                  std::string(kPointOffGlobe));
    // Read again over the tree, which counts the untimed waypoint too.
    EXPECT_EQ(of(gpx("waypoint off the globe after the track"), false).failure,
              "PATH: wpt Nr. 2 (lat \"-1e3\", lon \"2\", time \"2024-06-15T10:03:00Z\"): " +
                  std::string(kPointOffGlobe));
    EXPECT_EQ(big.failure, "");
    const Outcome malformed = of(gpx("missing close tag halfway"), true);
    EXPECT_EQ(malformed.result, "PATH: Missing close tag in element trkpt");
    EXPECT_EQ(malformed.failure, "");
    EXPECT_EQ(malformed.rows.size(), 1U);
    EXPECT_EQ(of(gpx("waypoints, route, track in the file's order"), false).rows.size(), 5U);
    EXPECT_EQ(of(gpx("bad route point before the track"), true).rows.size(), 3U);
}

// A stop between points (Ctrl+C while a long track goes in) leaves what the tree import's stop leaves, and
// the streamed import reads no further: it is asked no more often than the tree import.
TEST_F(GpxStreamImport, StopLeavesWhatTheTreeImportLeaves) {
    const std::string track = BigTrack(6000, -1);
    for (const int stopAt : {1, 2, 3000}) {
        for (const ImportDetails details :
             {ImportDetails::positionsOnly, ImportDetails::elevationAndSegments}) {
            for (const bool callersTransaction : {false, true}) {
                SCOPED_TRACE("stop at " + std::to_string(stopAt) +
                             (details == ImportDetails::positionsOnly ? "" : ", details") +
                             (callersTransaction ? ", caller's transaction" : ""));
                int treeAsked = 0;
                const Outcome tree = Run(track, false, details, callersTransaction,
                                         [&treeAsked, stopAt] { return ++treeAsked == stopAt; });
                int streamAsked = 0;
                const Outcome streamed = Run(track, true, details, callersTransaction,
                                             [&streamAsked, stopAt] { return ++streamAsked == stopAt; });
                EXPECT_EQ(tree.result, "false");
                EXPECT_EQ(tree.log.back(),
                          " - " + std::to_string(stopAt - 1) + " Datensätze gelesen und importiert");
                EXPECT_EQ(streamAsked, stopAt);
                EXPECT_EQ(treeAsked, stopAt);
                ExpectSameOutcome(streamed, tree);
            }
        }
    }
}

// Points go in many at a time; where the table refuses one, or a trigger decides about it, the rows, the
// error and the count are still those of one insert per point. The track is long enough for several
// batches, the refused point lies inside one, and the table's own conflict rules (ignore, replace, fail,
// rollback) must win over the way a batch is put in.
TEST_F(GpxStreamImport, TableRulesActAsOnOneInsertPerPoint) {
    std::string track = "<gpx><trk><trkseg>";
    for (int i = 0; i < 300; ++i) {
        const std::string second = std::to_string(i % 50 + 10);  // times repeat every 50 points
        track += "<trkpt lat=\"48." + std::to_string(i) + "\" lon=\"11." + std::to_string(i % 7) +
                 "\"><time>2024-06-15T10:00:" + second + "Z</time>" + (i == 150 ? "" : "<ele>5</ele>") +
                 "</trkpt>";
    }
    track += "</trkseg></trk></gpx>";
    const std::string columns = "lat TEXT, lon TEXT, utctime DATETIME";
    const std::string index = "; CREATE INDEX gpx_utctime ON gpx (utctime);";
    const std::vector<std::pair<const char*, std::string>> schemas{
        {"check fails halfway", "CREATE TABLE gpx (" + columns + ", CHECK (lat <> '48.150'))" + index},
        {"repeated times ignored", "CREATE TABLE gpx (" + columns + ", UNIQUE (utctime) ON CONFLICT IGNORE)"},
        {"repeated times replace",
         "CREATE TABLE gpx (" + columns + ", UNIQUE (utctime) ON CONFLICT REPLACE)"},
        {"repeated place fails", "CREATE TABLE gpx (" + columns + ", UNIQUE (lon) ON CONFLICT FAIL)"},
        {"repeated place rolls back",
         "CREATE TABLE gpx (" + columns + ", UNIQUE (lon) ON CONFLICT ROLLBACK)"},
        {"elevation required",
         "CREATE TABLE gpx (" + columns + ", ele REAL NOT NULL ON CONFLICT FAIL DEFAULT 0, segment INTEGER)"},
        {"trigger fails halfway", "CREATE TABLE gpx (" + columns + ")" + index +
                                      "CREATE TRIGGER t BEFORE INSERT ON gpx WHEN NEW.lat = '48.150' BEGIN "
                                      "SELECT RAISE(FAIL, 'no'); END"},
        {"temporary trigger drops points", "CREATE TABLE gpx (" + columns +
                                               ");CREATE TEMP TRIGGER t BEFORE INSERT ON gpx "
                                               "WHEN NEW.lat LIKE '48.1%' BEGIN SELECT RAISE(IGNORE); END"},
    };
    for (const auto& [name, schema] : schemas) {
        schema_ = schema;
        for (const ImportDetails details :
             {ImportDetails::positionsOnly, ImportDetails::elevationAndSegments}) {
            for (const bool callersTransaction : {false, true}) {
                SCOPED_TRACE(std::string(name) +
                             (details == ImportDetails::positionsOnly ? "" : ", details") +
                             (callersTransaction ? ", caller's transaction" : ""));
                const Outcome tree = Run(track, false, details, callersTransaction);
                const Outcome streamed = Run(track, true, details, callersTransaction);
                ExpectSameOutcome(streamed, tree);
            }
        }
    }
    // The cases reach what they are meant to: a failure halfway, and rows the table drops or replaces.
    schema_ = schemas[0].second;
    const Outcome halfway = Run(track, true, ImportDetails::positionsOnly, true);
    EXPECT_EQ(halfway.result, "false");
    EXPECT_EQ(halfway.rows.size(), 151U);  // the row before the import and the 150 before the refused one
    EXPECT_EQ(halfway.log.back(), " - 150 Datensätze gelesen und importiert");
    schema_ = schemas[1].second;
    const Outcome ignored = Run(track, true, ImportDetails::positionsOnly, false);
    EXPECT_EQ(ignored.result, "true");
    EXPECT_EQ(ignored.rows.size(), 51U);
    EXPECT_EQ(ignored.log.back(), " - 300 Datensätze gelesen und importiert");
    schema_ = schemas[6].second;
    EXPECT_EQ(Run(track, true, ImportDetails::positionsOnly, true).rows.size(), 151U);
}

}  // namespace
}  // namespace zeloro
