// bench/PreviewWriteBench.cpp: "Jetzt schreiben" after a preview against a run that tags the same photos:
// the write of the plan neither imports the track nor looks a photo up. 200 small photos, one a second,
// on a track of 200,000 points.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SamplePhoto.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"

namespace {

namespace fs = std::filesystem;
using zeloro::RunObserver;

constexpr int kPhotos = 200;
constexpr int kPoints = 200'000;

class Quiet : public RunObserver {
public:
    void AppendLine(const std::string& /*line*/) override {}
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& /*text*/) override {}
};

// A data folder, a track of a point a second from 00:00 UTC on 15 June 2024, and photos shot a second apart
// from 02:00 in UTC + 2:00 (list index 13), each on a point.
struct Setup {
    Setup() {
        fs::create_directories(photos);
        zeloro::Connection con;
        con.Open((root / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        std::ofstream gpx(root / "track.gpx");
        gpx << "<gpx><trk><trkseg>\n";
        for (int i = 0; i < kPoints; ++i) {
            std::array<char, 160> line{};
            std::snprintf(
                line.data(), line.size(),
                "<trkpt lat=\"50.%06d\" lon=\"6.%06d\"><time>2024-06-%02dT%02d:%02d:%02dZ</time></trkpt>\n",
                i % 1'000'000, (i * 7) % 1'000'000, 15 + i / 86400, i / 3600 % 24, i / 60 % 60, i % 60);
            gpx << line.data();
        }
        gpx << "</trkseg></trk></gpx>\n";
        for (int i = 0; i < kPhotos; ++i) {
            zeloro::sample::PhotoSpec spec;
            spec.width = 320;
            spec.height = 240;
            spec.scene = i;
            std::array<char, 32> shot{};
            std::snprintf(shot.data(), shot.size(), "2024:06:15 %02d:%02d:%02d", 2 + i / 3600, i / 60 % 60,
                          i % 60);
            spec.dateTimeOriginal = shot.data();
            originals.push_back(zeloro::sample::MakePhoto(spec));
        }
    }
    ~Setup() { fs::remove_all(root); }
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

    void RestorePhotos() const {
        for (int i = 0; i < kPhotos; ++i) {
            std::ofstream out(photos / ("p" + std::to_string(i) + ".jpg"),
                              std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(originals[static_cast<std::size_t>(i)].data()),
                      static_cast<std::streamsize>(originals[static_cast<std::size_t>(i)].size()));
        }
    }
    [[nodiscard]] zeloro::RunInputs Inputs() const {
        return {(root / "track.gpx").string(), photos.string(), 13, 0, zeloro::RunModes{}, 1};
    }

    fs::path root = fs::temp_directory_path() / ("zeloro-preview-bench-" + std::to_string(::getpid()));
    fs::path photos = root / "photos";
    std::vector<std::vector<std::uint8_t>> originals;
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

void RunThatTags(benchmark::State& state) {
    Setup& setup = Shared();
    zeloro::TaggingSession session((setup.root / "").string());
    session.Connect();
    Quiet quiet;
    for (auto _ : state) {
        state.PauseTiming();
        setup.RestorePhotos();
        static_cast<void>(session.clearDatabase());
        state.ResumeTiming();
        benchmark::DoNotOptimize(session.Run(setup.Inputs(), quiet));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kPhotos);
}
BENCHMARK(RunThatTags)->Unit(benchmark::kMillisecond);

void WriteOfAPreview(benchmark::State& state) {
    Setup& setup = Shared();
    zeloro::TaggingSession session((setup.root / "").string());
    session.Connect();
    Quiet quiet;
    for (auto _ : state) {
        state.PauseTiming();
        setup.RestorePhotos();
        static_cast<void>(session.clearDatabase());
        static_cast<void>(session.Preview(setup.Inputs(), quiet));
        state.ResumeTiming();
        benchmark::DoNotOptimize(session.WritePreview(quiet));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kPhotos);
}
BENCHMARK(WriteOfAPreview)->Unit(benchmark::kMillisecond);

void PreviewItself(benchmark::State& state) {
    Setup& setup = Shared();
    zeloro::TaggingSession session((setup.root / "").string());
    session.Connect();
    Quiet quiet;
    setup.RestorePhotos();
    for (auto _ : state) {
        state.PauseTiming();
        static_cast<void>(session.clearDatabase());
        state.ResumeTiming();
        benchmark::DoNotOptimize(session.Preview(setup.Inputs(), quiet));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kPhotos);
}
BENCHMARK(PreviewItself)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
