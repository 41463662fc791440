// bench/TrackLookupBench.cpp: track lookups over 1,000,000 points in a copy of the delivered database,
// the two candidate statements for the nearest point of a window, and the import rate of the reused
// INSERT statement.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/DateTime.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"

namespace {

namespace fs = std::filesystem;
using namespace zeloro;

constexpr std::int64_t kPoints = 1000000;
const DateTimeValue kFirst = EncodeDateTime(2010, 6, 1, 0, 0, 0, 0);

// A fresh copy of the delivered (empty) database in its own temporary folder.
struct TempDatabase {
    TempDatabase() {
        std::string pattern = (fs::temp_directory_path() / "zeloro-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        folder = pattern;
        path = (folder / "zeloro.sqlite").string();
        fs::copy_file(ZELORO_DELIVERED_DB, path);
    }
    ~TempDatabase() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;
    fs::path folder;
    std::string path;
};

// One point per second, as a logger writes them, in one transaction as the GPX import does.
void importPoints(Connection& connection, std::int64_t count) {
    Query query(connection);
    connection.StartTransaction();
    for (std::int64_t i = 0; i < count; ++i) {
        query.Close();
        query.SetSQL("INSERT INTO gpx (lat,lon,utctime) VALUES (:lat,:lon,:utctime);");
        query.ParamByName("lat").SetAsString("48.1234567");
        query.ParamByName("lon").SetAsString("-11.7654321");
        query.ParamByName("utctime").SetAsDateTime(ShiftSeconds(kFirst, i));
        query.ExecSQL();
    }
    connection.Commit();
}

struct TrackTable {
    TrackTable() {
        connection.Open(database.path);
        importPoints(connection, kPoints);
    }
    TempDatabase database;
    Connection connection;
};

TrackTable& table() {
    static TrackTable instance;
    return instance;
}

// Shot times spread over the whole track (and, for misses, the days after it).
void lookups(benchmark::State& state, int tolerance, std::int64_t offset) {
    TrackTable& t = table();
    Query query(t.connection);
    std::uint64_t seed = 12345;
    std::int64_t found = 0;
    for (auto _ : state) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto second = static_cast<std::int64_t>((seed >> 33U) % kPoints) + offset;
        const TCoord coord = searchGPX(ShiftSeconds(kFirst, second), kZoneIndexUtc, tolerance, query);
        found += coord.found ? 1 : 0;
        benchmark::DoNotOptimize(coord);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["found"] =
        benchmark::Counter(static_cast<double>(found) / static_cast<double>(state.iterations()));
}

// The two ways of taking the nearest point of a window, as bare statements side by side: the one the
// lookup uses (one step through the index on either side of the photo) and an ORDER BY on the distance
// over every point of the window. At one point per second the window holds 2 * tolerance + 1 points.
constexpr const char* kNearestByDistanceSortSql =
    "SELECT * FROM gpx WHERE utctime BETWEEN :timelow AND :timehigh "
    "ORDER BY abs(strftime('%s', utctime) - strftime('%s', :utctime)), utctime, rowid LIMIT 1";

void nearestQuery(benchmark::State& state, const char* sql) {
    TrackTable& t = table();
    Query query(t.connection);
    query.SetSQL(sql);
    const std::int64_t tolerance = state.range(0);
    std::uint64_t seed = 12345;
    std::int64_t found = 0;
    for (auto _ : state) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const DateTimeValue utc = ShiftSeconds(kFirst, static_cast<std::int64_t>((seed >> 33U) % kPoints));
        query.ParamByName("utctime").SetAsDateTime(utc);
        query.ParamByName("timelow").SetAsDateTime(ShiftSeconds(utc, -tolerance));
        query.ParamByName("timehigh").SetAsDateTime(ShiftSeconds(utc, tolerance));
        query.Open();
        if (!query.Eof()) {
            ++found;
            benchmark::DoNotOptimize(query.FieldByName("lat").AsString());
        }
        query.Close();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["found"] =
        benchmark::Counter(static_cast<double>(found) / static_cast<double>(state.iterations()));
}

void BM_NearestByIndexSteps(benchmark::State& state) { nearestQuery(state, kWindowLookupSql); }
void BM_NearestByDistanceSort(benchmark::State& state) { nearestQuery(state, kNearestByDistanceSortSql); }

void BM_LookupExact(benchmark::State& state) { lookups(state, 0, 0); }
void BM_LookupWindow5(benchmark::State& state) { lookups(state, 5, 0); }
void BM_LookupWindow500(benchmark::State& state) { lookups(state, 500, 0); }
void BM_LookupMiss(benchmark::State& state) { lookups(state, 0, 2 * kPoints); }

void BM_Import(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        TempDatabase database;
        Connection connection;
        connection.Open(database.path);
        state.ResumeTiming();
        importPoints(connection, state.range(0));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_LookupExact);
BENCHMARK(BM_LookupWindow5);
BENCHMARK(BM_LookupWindow500);
BENCHMARK(BM_LookupMiss);
BENCHMARK(BM_NearestByIndexSteps)->Arg(5)->Arg(500);
BENCHMARK(BM_NearestByDistanceSort)->Arg(5)->Arg(500);
BENCHMARK(BM_Import)->Arg(kPoints)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
