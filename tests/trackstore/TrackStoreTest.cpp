// tests/trackstore/TrackStoreTest.cpp: the data-access layer, data folder, table emptying, the
// delivered database and the track lookup.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Error.h"
#include "support/TestSupport.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"
#include "trackstore/TrackStore.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr const char* kInsertSql = "INSERT INTO gpx (lat,lon,utctime) VALUES (:lat,:lon,:utctime);";

DateTimeValue at(int h, int mi, int s, int ms = 0) { return EncodeDateTime(2010, 6, 1, h, mi, s, ms); }

std::string schemaText() { return test::ReadFileText(test::SourceDir() / "db" / "schema.sql"); }

// A connection to an in-memory track table made from the delivered schema, and the statement object.
class Store : public ::testing::Test {
protected:
    void SetUp() override {
        connection.Open(":memory:");
        connection.Execute(schemaText());
    }

    void insert(const std::string& lat, const std::string& lon, DateTimeValue utc) {
        query.Close();
        query.SetSQL(kInsertSql);
        query.ParamByName("lat").SetAsString(lat);
        query.ParamByName("lon").SetAsString(lon);
        query.ParamByName("utctime").SetAsDateTime(utc);
        query.ExecSQL();
    }

    // Each row of a one-column query, as text.
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> values;
        query.SetSQL(sql);
        query.Open();
        for (; !query.Eof(); query.Next()) {
            values.push_back(query.Fields().at(0).AsString());
        }
        query.Close();
        return values;
    }

    Connection connection;
    Query query{connection};
};

struct BindCase {
    std::string_view name;
    DateTimeValue value;
    std::string stored;
};
void PrintTo(const BindCase& c, std::ostream* os) { *os << c.name; }

class BindDateTime : public Store, public ::testing::WithParamInterface<BindCase> {};

// Milliseconds are rounded first and then dropped; the text is stored as text (not as a number).
TEST_P(BindDateTime, StoresFixedWidthText) {
    insert("1", "2", GetParam().value);
    EXPECT_EQ(column("SELECT utctime || '/' || typeof(utctime) FROM gpx"),
              std::vector<std::string>{GetParam().stored + "/text"});
}

INSTANTIATE_TEST_SUITE_P(
    Store, BindDateTime,
    ::testing::Values(
        BindCase{"WholeSecond", at(12, 0, 5), "2010-06-01 12:00:05"},
        BindCase{"FourTenths", at(12, 0, 5) + 0.4 / 86400, "2010-06-01 12:00:05"},
        BindCase{"HalfSecondDropped", at(12, 0, 5, 500), "2010-06-01 12:00:05"},
        BindCase{"RoundedUpToNextSecond", at(12, 0, 5) + 0.9996 / 86400, "2010-06-01 12:00:06"},
        BindCase{"RoundedUpToNextDay", EncodeDateTime(2010, 6, 1, 23, 59, 59, 0) + 0.9996 / 86400,
                 "2010-06-02 00:00:00"},
        BindCase{"JustBelowTheRounding", at(12, 0, 5) + 0.9994 / 86400, "2010-06-01 12:00:05"},
        // Values the calendar cannot place bind as the zero date rather than overflowing on the way.
        BindCase{"FarOutsideTheCalendar", 1e300, "0000-00-00 00:00:00"},
        BindCase{"NotANumber", std::nan(""), "0000-00-00 00:00:00"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Store, TextComesBackAsWritten) {
    insert("-33.8567", "151.215000", at(12, 0, 0));
    insert("1e5", "0x10", at(12, 0, 1));
    insert("", "Ünïcode", at(12, 0, 2));
    query.SetSQL("SELECT lat, lon, utctime FROM gpx ORDER BY utctime");
    query.Open();
    const Field& lat = query.FieldByName("LAT");  // names are found whatever their letter case
    const Field& lon = query.FieldByName("lon");
    std::vector<std::string> seen;
    for (; !query.Eof(); query.Next()) {
        seen.push_back(lat.AsString() + "|" + lon.AsString());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"-33.8567|151.215000", "1e5|0x10", "|Ünïcode"}));
    EXPECT_TRUE(query.Active());
    query.Close();
    EXPECT_FALSE(query.Active());
    EXPECT_TRUE(query.Eof());
}

TEST_F(Store, DateTimeColumnReadsItsTextAndNothingElse) {
    connection.Execute(
        "INSERT INTO gpx VALUES ('1','2','2010-06-01 12:00:05');"
        "INSERT INTO gpx VALUES ('1','2',40330.5);"  // a number: not a date-time text
        "INSERT INTO gpx VALUES ('1','2','2010-06-01T12:00:05');"
        "INSERT INTO gpx VALUES ('1','2',NULL);");
    query.SetSQL("SELECT * FROM gpx");
    query.Open();
    std::vector<DateTimeValue> values;
    std::vector<bool> nulls;
    for (; !query.Eof(); query.Next()) {
        values.push_back(query.FieldByName("utctime").AsDateTime());
        nulls.push_back(query.FieldByName("utctime").IsNull());
    }
    ASSERT_EQ(values.size(), 4U);
    EXPECT_EQ(DateTimeText(values[0]), "2010-06-01 12:00:05");
    EXPECT_EQ(values[1], 0.0);
    EXPECT_EQ(values[2], 0.0);
    EXPECT_EQ(values[3], 0.0);
    EXPECT_EQ(nulls, (std::vector<bool>{false, false, false, true}));
}

TEST_F(Store, NumberStoredAsTimeNeverMatchesALookup) {
    connection.Execute("INSERT INTO gpx VALUES ('1','2',40330.5)");  // 2010-06-01 12:00:00 as a day count
    EXPECT_FALSE(searchGPX(at(12, 0, 0), kZoneIndexUtc, 0, query).found);
    EXPECT_FALSE(searchGPX(at(12, 0, 0), kZoneIndexUtc, 500, query).found);
}

TEST_F(Store, ParametersAreNamedByColonAndName) {
    query.SetSQL("SELECT ':skip' AS a, \":id\" , :Value AS b, :value AS c -- :comment\n");
    ASSERT_EQ(query.Params().size(), 1U);  // the same name twice is one parameter
    EXPECT_EQ(query.Params()[0].Name(), "Value");
    query.ParamByName("VALUE").SetAsString("v");
    EXPECT_THROW((void)query.ParamByName("skip"), DatabaseError);
    EXPECT_THROW((void)query.ParamByName("comment"), DatabaseError);
}

TEST_F(Store, UnsetParameterBindsNullAndUnknownFieldThrows) {
    query.SetSQL("SELECT :p IS NULL AS unset");
    query.Open();
    EXPECT_EQ(query.FieldByName("unset").AsString(), "1");
    EXPECT_THROW((void)query.FieldByName("nope"), DatabaseError);
    query.Close();
}

TEST_F(Store, SameStatementTextKeepsItsParameterValues) {
    query.SetSQL("SELECT :x AS x");
    query.ParamByName("x").SetAsString("first");
    query.SetSQL("SELECT :x AS x");
    query.Open();
    EXPECT_EQ(query.FieldByName("x").AsString(), "first");
    // A changed parameter while rows are open does not disturb them: SQLite keeps its own copy.
    query.ParamByName("x").SetAsString("second, much longer than the first value to force a new buffer");
    EXPECT_EQ(query.FieldByName("x").AsString(), "first");
    query.Open();
    EXPECT_EQ(query.FieldByName("x").AsString(),
              "second, much longer than the first value to force a new buffer");
    query.SetSQL("SELECT :y AS y");
    EXPECT_FALSE(query.Active());
    EXPECT_TRUE(query.ParamByName("y").IsNull());
}

// An import sets the same INSERT text once per point; it must be prepared once, not per point, also
// when other statements run in between.
TEST_F(Store, ReusedStatementIsPreparedOnce) {
    for (int i = 0; i < 50; ++i) {
        insert(std::to_string(i), "0", at(12, 0, i % 60));
        if (i % 10 == 0) {
            EXPECT_EQ(column("SELECT count(*) FROM gpx"), std::vector<std::string>{std::to_string(i + 1)});
        }
    }
    EXPECT_EQ(column("SELECT count(*) FROM gpx"), std::vector<std::string>{"50"});
    EXPECT_EQ(query.PrepareCount(), 2U);
    connection.Close();  // statements belong to their connection: a new one prepares afresh
    connection.Open(":memory:");
    connection.Execute(schemaText());
    insert("1", "2", at(12, 0, 0));
    EXPECT_EQ(query.PrepareCount(), 3U);
}

// Each cached statement finds its parameters by its own layout: the same names at other places, a name
// used twice, and a statement evicted from the cache and prepared again all bind the values set by name.
TEST_F(Store, ParametersReachTheirPlacesInEveryCachedStatement) {
    const auto row = [&](const std::string& sql, const std::string& a, const std::string& b) {
        query.SetSQL(sql);
        query.ParamByName("a").SetAsString(a);
        query.ParamByName("b").SetAsString(b);
        query.Open();
        std::string text;
        for (const Field& field : query.Fields()) {
            text += field.AsString() + "|";
        }
        query.Close();
        return text;
    };
    for (int round = 0; round < 3; ++round) {
        const std::string n = std::to_string(round);
        EXPECT_EQ(row("SELECT :a AS x, :b AS y", "a" + n, "b" + n), "a" + n + "|b" + n + "|");
        EXPECT_EQ(row("SELECT :B AS x, :a AS y, :A AS z", "a" + n, "b" + n),
                  "b" + n + "|a" + n + "|a" + n + "|");
        // More texts than the cache holds push the first two out before the next round.
        for (int other = 0; other < 20; ++other) {
            EXPECT_EQ(row("SELECT :b AS x, " + std::to_string(other) + " AS n, :a AS y", n, "v"),
                      "v|" + std::to_string(other) + "|" + n + "|");
        }
    }
}

TEST_F(Store, DatabaseErrorsCarrySqliteText) {
    query.SetSQL("SELECT * FROM nothere");
    try {
        query.Open();
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_STREQ(e.what(), "no such table: nothere");
    }
    EXPECT_FALSE(query.Active());
    connection.Execute("DROP TABLE gpx");
    try {
        (void)searchGPX(at(12, 0, 0), kZoneIndexUtc, 0, query);
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_STREQ(e.what(), "no such table: gpx");
    }
}

TEST_F(Store, TwoStatementsInOneTextAreRefused) {
    query.SetSQL("DELETE FROM gpx; DROP TABLE gpx");
    EXPECT_THROW(query.ExecSQL(), DatabaseError);
    EXPECT_EQ(column("SELECT count(*) FROM sqlite_master WHERE name='gpx'"), std::vector<std::string>{"1"});
}

TEST_F(Store, TransactionsOnTheConnection) {
    EXPECT_FALSE(connection.InTransaction());
    connection.StartTransaction();
    EXPECT_TRUE(connection.InTransaction());
    insert("1", "2", at(12, 0, 0));
    connection.Commit();
    EXPECT_FALSE(connection.InTransaction());
    connection.StartTransaction();
    insert("3", "4", at(12, 0, 1));
    connection.Rollback();
    EXPECT_EQ(column("SELECT lat FROM gpx"), std::vector<std::string>{"1"});
}

TEST_F(Store, EmptyTrackTableEmptiesTheTable) {
    EXPECT_TRUE(EmptyTrackTable(query));  // empty table: the delete and the compaction both succeed
    insert("1", "2", at(12, 0, 0));
    insert("3", "4", at(12, 0, 1));
    query.SetSQL("SELECT * FROM gpx");
    query.Open();  // left open on purpose: the emptying closes it first
    EXPECT_TRUE(EmptyTrackTable(query));
    EXPECT_EQ(column("SELECT count(*) FROM gpx"), std::vector<std::string>{"0"});
}

TEST_F(Store, EmptyTrackTableFailsWithoutTable) {
    connection.Execute("DROP TABLE gpx");
    EXPECT_FALSE(EmptyTrackTable(query));
}

// A file database: what survives a close is what reached the disk.
class StoreFile : public ::testing::Test {
protected:
    void SetUp() override {
        path = (dir / "zeloro.sqlite").string();
        connection.Open(path);
        connection.Execute(schemaText());
    }

    std::string count() {
        Query q(connection);
        q.SetSQL("SELECT count(*) AS n FROM gpx");
        q.Open();
        return q.FieldByName("n").AsString();
    }

    void insertRow(Query& q, DateTimeValue utc) {
        q.SetSQL(kInsertSql);
        q.ParamByName("lat").SetAsString("1");
        q.ParamByName("lon").SetAsString("2");
        q.ParamByName("utctime").SetAsDateTime(utc);
        q.ExecSQL();
    }

    TempDir dir;
    std::string path;
    Connection connection;
};

TEST_F(StoreFile, CloseRollsBackAnOpenTransaction) {
    Query q(connection);
    insertRow(q, at(12, 0, 0));
    connection.StartTransaction();
    insertRow(q, at(12, 0, 1));
    q.SetSQL("SELECT * FROM gpx");
    q.Open();  // an open result must not keep the close from rolling back
    connection.Close();
    EXPECT_FALSE(connection.Connected());
    EXPECT_FALSE(q.Active());
    connection.Open(path);
    EXPECT_EQ(count(), "1");
    insertRow(q, at(12, 0, 2));  // the statement object works on with the reopened connection
    EXPECT_EQ(count(), "2");
}

// The emptied file holds nothing of the points, as small as a new one, whether or not the connection
// zeroes freed pages; the connection keeps that setting.
TEST_F(StoreFile, EmptyTrackTableLeavesNoTraceOfThePoints) {
    const std::string fresh = (dir / "fresh.sqlite").string();
    {
        Connection other;
        other.Open(fresh);
        other.Execute(schemaText());
    }
    for (const char* secureDelete : {"0", "1"}) {
        SCOPED_TRACE(std::string("secure_delete = ") + secureDelete);
        connection.Execute(std::string("PRAGMA secure_delete = ") + secureDelete);
        Query q(connection);
        connection.StartTransaction();
        for (int i = 0; i < 3000; ++i) {
            q.SetSQL(kInsertSql);
            q.ParamByName("lat").SetAsString("47.123trace" + std::to_string(i));
            q.ParamByName("lon").SetAsString("8.5");
            q.ParamByName("utctime").SetAsDateTime(at(12, 0, 0) + i / 86400.0);
            q.ExecSQL();
        }
        connection.Commit();
        EXPECT_TRUE(EmptyTrackTable(q));
        EXPECT_EQ(count(), "0");
        q.SetSQL("PRAGMA secure_delete");
        q.Open();
        EXPECT_EQ(q.Fields().front().AsString(), secureDelete);
        q.Close();
        const std::string bytes = test::ReadFileText(path);
        EXPECT_EQ(bytes.find("trace"), std::string::npos);
        EXPECT_EQ(bytes.size(), std::filesystem::file_size(fresh));
    }
}

TEST_F(StoreFile, EmptyTrackTableInsideATransactionDeletesButReportsFailure) {
    Query q(connection);
    insertRow(q, at(12, 0, 0));
    connection.StartTransaction();  // as a failed import leaves it
    insertRow(q, at(12, 0, 1));
    EXPECT_FALSE(EmptyTrackTable(q));  // the compaction is refused inside a transaction
    EXPECT_EQ(count(), "0");           // the delete happened within the transaction
    connection.Close();                // and is rolled back with it, together with the second insert
    connection.Open(path);
    EXPECT_EQ(count(), "1");
}

TEST_F(StoreFile, QueryOutlivingItsConnectionIsHarmless) {
    auto owner = std::make_unique<Connection>();
    owner->Open(path);
    Query q(*owner);
    q.SetSQL("SELECT * FROM gpx");
    q.Open();
    owner.reset();
    EXPECT_FALSE(q.Active());
    EXPECT_THROW(q.Open(), DatabaseError);
}

TEST(Connection, OpenFailureLeavesItClosed) {
    TempDir dir;
    Connection connection;
    try {
        connection.Open((dir / "missing" / "zeloro.sqlite").string());
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.code(), 14);  // SQLITE_CANTOPEN
        EXPECT_STREQ(e.what(), "unable to open database file");
    }
    EXPECT_FALSE(connection.Connected());
    EXPECT_FALSE(connection.InTransaction());
    Query query(connection);
    query.SetSQL("SELECT 1");
    EXPECT_THROW(query.Open(), DatabaseError);
}

TEST(DeliveredDatabase, HoldsTheTrackTableWithItsTimeIndex) {
    const fs::path delivered = test::BuildDir() / "zeloro.sqlite";
    ASSERT_TRUE(fs::exists(delivered)) << delivered;
    TempDir dir;
    fs::copy_file(delivered, dir / "zeloro.sqlite");
    Connection connection;
    connection.Open((dir / "zeloro.sqlite").string());
    Query query(connection);
    query.SetSQL("SELECT name, type FROM pragma_table_info('gpx')");
    query.Open();
    std::vector<std::string> columns;
    for (; !query.Eof(); query.Next()) {
        columns.push_back(query.FieldByName("name").AsString() + " " + query.FieldByName("type").AsString());
    }
    EXPECT_EQ(columns, (std::vector<std::string>{"lat TEXT", "lon TEXT", "utctime DATETIME"}));
    // Both lookups search the index, so each costs O(log n) however many points were imported.
    for (const char* sql : {kExactLookupSql, kWindowLookupSql}) {
        query.SetSQL(std::string("EXPLAIN QUERY PLAN ") + sql);
        query.Open();
        ASSERT_FALSE(query.Eof());
        EXPECT_NE(query.FieldByName("detail").AsString().find("USING INDEX gpx_utctime"), std::string::npos)
            << sql;
        query.Close();
    }
    query.SetSQL("SELECT count(*) AS n FROM gpx");
    query.Open();
    EXPECT_EQ(query.FieldByName("n").AsString(), "0");
}

struct KindCase {
    std::string_view declared;
    FieldKind kind;
    std::size_t size;
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << '"' << c.declared << '"'; }

class DeclaredTypes : public ::testing::TestWithParam<KindCase> {};

TEST_P(DeclaredTypes, FirstMatchingRuleWins) {
    const DeclaredKind got = KindOfDeclaredType(GetParam().declared);
    EXPECT_EQ(got.kind, GetParam().kind);
    EXPECT_EQ(got.size, GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Field, DeclaredTypes,
    ::testing::Values(
        KindCase{"TINYINT", FieldKind::smallInt, 0}, KindCase{"smallint", FieldKind::smallInt, 0},
        KindCase{"BIGINT", FieldKind::largeInt, 0}, KindCase{"INTEGER", FieldKind::integer, 0},
        KindCase{"UNSIGNED BIG INT", FieldKind::integer, 0}, KindCase{"POINT", FieldKind::integer, 0},
        KindCase{"VARCHAR(20)", FieldKind::fixedText, 20}, KindCase{"nchar (5, 2)", FieldKind::fixedText, 5},
        KindCase{"CHARACTER", FieldKind::fixedText, 0}, KindCase{"TEXT", FieldKind::longText, 0},
        KindCase{"CLOB", FieldKind::longText, 0}, KindCase{"BLOB", FieldKind::bytes, 0},
        KindCase{"REAL", FieldKind::real, 0}, KindCase{"FLOAT", FieldKind::real, 0},
        KindCase{"DOUBLE PRECISION", FieldKind::real, 0}, KindCase{"NUMERIC", FieldKind::real, 0},
        KindCase{"DECIMAL(10,2)", FieldKind::real, 0}, KindCase{"NUMBER", FieldKind::real, 0},
        KindCase{"MONEY", FieldKind::currency, 0}, KindCase{"BOOLEAN", FieldKind::boolean, 0},
        KindCase{"BINARY", FieldKind::bytes, 0}, KindCase{"VARBINARY(8)", FieldKind::bytes, 0},
        KindCase{"DATE", FieldKind::date, 0}, KindCase{"TIME", FieldKind::time, 0},
        KindCase{"TIMESTAMP", FieldKind::dateTime, 0}, KindCase{"datetime", FieldKind::dateTime, 0},
        KindCase{"DATETIME2", FieldKind::text, 0}, KindCase{"NUMERICAL", FieldKind::text, 0},
        KindCase{"", FieldKind::text, 0}));

TEST_F(Store, FieldsFollowTheirDeclaredKind) {
    connection.Execute(
        "CREATE TABLE k (i INTEGER, r REAL, b BOOLEAN, d DATE, t TIME, x BLOB);"
        "INSERT INTO k VALUES ('12', 2.5, 3, '2010-06-01 12:00:00', '2010-06-01 06:00:00', x'00ff');");
    query.SetSQL("SELECT * FROM k");
    query.Open();
    EXPECT_EQ(query.FieldByName("i").AsString(), "12");
    EXPECT_EQ(query.FieldByName("r").AsString(), "2.5");
    EXPECT_EQ(query.FieldByName("b").AsString(), "True");
    EXPECT_EQ(query.FieldByName("d").AsDateTime(), EncodeDate(2010, 6, 1));
    EXPECT_EQ(query.FieldByName("t").AsDateTime(), 0.25);
    EXPECT_EQ(query.FieldByName("x").AsString(), std::string("\x00\xff", 2));
}

TEST(DataFolder, CandidatesInOrder) {
    TempDir dir;
    const fs::path common = dir / "common";
    const fs::path exe = dir / "exe";
    fs::create_directories(common / "kvd" / "zeloro");
    fs::create_directories(exe);
    const std::string commonText = common.string();
    const std::string exeText = exe.string() + "/";
    const std::string commonData = commonText + "/kvd/zeloro/";

    EXPECT_EQ(ResolveDataFolder(commonText, exeText), "");  // no database anywhere
    fs::create_directory(exe / "zeloro.sqlite");            // a folder of that name is no database
    EXPECT_EQ(ResolveDataFolder(commonText, exeText), "");
    fs::remove(exe / "zeloro.sqlite");
    test::WriteFileText(exe / "zeloro.sqlite", "");
    EXPECT_EQ(ResolveDataFolder(commonText, exeText), exeText);
    test::WriteFileText(common / "kvd" / "zeloro" / "zeloro.sqlite", "");
    EXPECT_EQ(ResolveDataFolder(commonText, exeText), commonData);  // both: the common folder wins
    EXPECT_EQ(ResolveDataFolder(commonText + "/", exeText), commonData);
    EXPECT_EQ(ResolveDataFolder("", exeText), exeText);
    EXPECT_EQ(DatabasePath(commonData), commonData + "zeloro.sqlite");
    // The bare name would open, or create, a database in the current folder.
    EXPECT_THROW(static_cast<void>(DatabasePath("")), DatabaseError);
}

TEST(DataFolder, FilledFromTheTemplateOnceWhenMissing) {
    TempDir dir;
    const fs::path common = dir / "share";
    const fs::path exe = dir / "bin";
    const fs::path templ = dir / "template";
    fs::create_directories(exe);
    fs::create_directories(templ / "maps" / "images");
    test::WriteFileText(exe / "zeloro.sqlite", "exe");
    test::WriteFileText(templ / "zeloro.sqlite", "template");
    test::WriteFileText(templ / "doku.pdf", "help");
    test::WriteFileText(templ / "maps" / "images" / "layers.png", "layers");
    test::WriteFileText(templ / "stray.txt", "not part of a data folder");
    for (const fs::path& file :
         {templ / "zeloro.sqlite", templ / "doku.pdf", templ / "maps" / "images" / "layers.png"}) {
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    const std::string exeText = exe.string() + "/";
    const std::string templText = templ.string() + "/";
    const fs::path data = common / "kvd" / "zeloro";

    // A template without a database is no template: the build tree's rule holds.
    EXPECT_EQ(ResolveDataFolder(common.string(), exeText, exeText + "../nothing/"), exeText);
    EXPECT_FALSE(fs::exists(common));

    EXPECT_EQ(ResolveDataFolder(common.string(), exeText, templText), data.string() + "/");
    EXPECT_EQ(test::ReadFileText(data / "zeloro.sqlite"), "template");
    EXPECT_EQ(test::ReadFileText(data / "doku.pdf"), "help");
    EXPECT_EQ(test::ReadFileText(data / "maps" / "images" / "layers.png"), "layers");
    EXPECT_FALSE(fs::exists(data / "stray.txt"));
    EXPECT_NE(fs::status(data / "zeloro.sqlite").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(fs::status(data / "maps" / "images" / "layers.png").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_EQ(std::distance(fs::directory_iterator(common / "kvd"), fs::directory_iterator()), 1);

    // Once there, the folder is the user's: a later start copies nothing over it.
    test::WriteFileText(data / "zeloro.sqlite", "the user's table");
    EXPECT_EQ(ResolveDataFolder(common.string(), exeText, templText), data.string() + "/");
    EXPECT_EQ(test::ReadFileText(data / "zeloro.sqlite"), "the user's table");
}

TEST(DataFolder, ACopyThatFailsLeavesNothingBehindAndNamesTheFolder) {
    TempDir dir;
    const fs::path templ = dir / "template";
    fs::create_directories(templ / "maps");
    test::WriteFileText(templ / "zeloro.sqlite", "template");
    test::WriteFileText(dir / "file", "");
    const std::string target = (dir / "file" / "kvd" / "zeloro").string() + "/";
    try {
        CreateDataFolderFromTemplate(templ.string() + "/", target);
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "Der Datenordner " + target + " kann nicht angelegt werden: ein Teil des Pfades ist kein Ordner");
    }
    // A dangling link in the template cannot be copied: no half-filled folder stays behind.
    fs::create_symlink(dir / "nowhere", templ / "maps" / "broken.png");
    const fs::path data = dir / "share" / "kvd" / "zeloro";
    EXPECT_THROW(CreateDataFolderFromTemplate(templ.string() + "/", data.string() + "/"), FileError);
    EXPECT_FALSE(fs::exists(data));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "share" / "kvd"), fs::directory_iterator()), 0);
}

TEST(DataFolder, WritableDatabasePassesTheCheck) {
    TempDir dir;
    test::WriteFileText(dir / "zeloro.sqlite", "");
    EXPECT_NO_THROW(CheckDatabaseWritable((dir / "zeloro.sqlite").string()));
    EXPECT_NO_THROW(CheckDatabaseWritable((dir / "missing.sqlite").string()));  // left to the caller
    // The refusals need a user the permission bits hold for: scripts/check-install.sh runs them as one.
}

}  // namespace
}  // namespace zeloro
