// bench/TrackImportBench.cpp: imports one track file of any format into a fresh copy of the delivered
// database, the way a tagging run does, and reports wall time, points per second and the process's peak
// resident memory. Usage: zeloro_track_import_bench TRACK [DELIVERED_DATABASE]
// Built once more as zeloro_gpx_import_bench with ZELORO_GPX_ONLY: the GPX import alone, without the
// format detection in front of it, for the comparison with the parse floor.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/Error.h"
#ifdef ZELORO_GPX_ONLY
#include "gpx/GpxImport.h"
#else
#include "trackimport/TrackImport.h"
#endif
#include "trackstore/Database.h"

namespace {

class SilentLog : public zeloro::LogSink {
public:
    void AppendLine(const std::string& line) override { last = line; }
    std::string last;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TRACK [DELIVERED_DATABASE]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path gpx = argv[1];
    const std::filesystem::path delivered = argc > 2 ? std::filesystem::path(argv[2]) : ZELORO_DELIVERED_DB;
    const std::filesystem::path work = std::filesystem::temp_directory_path() / "zeloro-track-bench.sqlite";
    try {
        std::filesystem::copy_file(delivered, work, std::filesystem::copy_options::overwrite_existing);
        zeloro::Connection uniCon;
        uniCon.Open(work.string());
        zeloro::Query query(uniCon);
        SilentLog log;
        const auto start = std::chrono::steady_clock::now();
#ifdef ZELORO_GPX_ONLY
        const bool ok = zeloro::importGpx(gpx.string(), uniCon, query, log, [] {});
#else
        const bool ok = zeloro::importTrack(gpx.string(), uniCon, query, log, [] {});
#endif
        const auto stop = std::chrono::steady_clock::now();
        query.SetSQL("SELECT COUNT(*) AS n FROM gpx");
        query.Open();
        const long long rows = query.FieldByName("n").AsInteger();
        query.Close();
        uniCon.Close();
        std::filesystem::remove(work);
        const double seconds = std::chrono::duration<double>(stop - start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const auto fileBytes = static_cast<double>(std::filesystem::file_size(gpx));
        std::printf(
            "result=%s rows=%lld seconds=%.3f points_per_second=%.0f peak_rss_mib=%.1f "
            "file_mib=%.1f rss_over_file=%.2f\nlog:%s\n",
            ok ? "true" : "false", rows, seconds, static_cast<double>(rows) / seconds,
            static_cast<double>(usage.ru_maxrss) / 1024.0, fileBytes / 1048576.0,
            static_cast<double>(usage.ru_maxrss) * 1024.0 / fileBytes, log.last.c_str());
        return ok ? 0 : 1;
    } catch (const zeloro::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::error_code ec;
        std::filesystem::remove(work, ec);
        return 1;
    }
}
