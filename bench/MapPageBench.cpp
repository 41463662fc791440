// bench/MapPageBench.cpp: the "Maps" command for a run of 1,000 tagged photos, each a 1024 x 768 JPEG
// with a 160 x 120 EXIF thumbnail: the whole page write (thumbnails read from the heads of the photos and
// written beside the page, the track lines read from the table, the page built and written), and the
// page text alone for contrast.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "SamplePhoto.h"
#include "mapexport/MapPage.h"
#include "tagging/RunObserver.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"

namespace {

namespace fs = std::filesystem;
constexpr int kPhotos = 1000;

class QuietObserver : public zeloro::RunObserver {
public:
    void AppendLine(const std::string& /*line*/) override {}
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { throw std::runtime_error(text); }
};

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A data folder and a session whose last run tagged kPhotos photos, one every ten seconds along a track.
struct TaggedRun {
    fs::path root = fs::temp_directory_path() / ("zeloro-map-bench-" + std::to_string(::getpid()));
    std::unique_ptr<zeloro::TaggingSession> session;

    TaggedRun() {
        fs::create_directories(root / "photos");
        fs::create_directories(root / "maps");
        {
            zeloro::Connection con;
            con.Open((root / "zeloro.sqlite").string());
            con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        }
        zeloro::sample::PhotoSpec picture;
        picture.width = 1024;
        picture.height = 768;
        const zeloro::sample::ByteVector pixels = zeloro::sample::EncodePicture(picture);
        zeloro::sample::PhotoSpec small;
        small.width = 160;
        small.height = 120;
        small.scene = 2;
        std::string gpx = "<gpx><trk><trkseg>\n";
        for (int i = 0; i < kPhotos; ++i) {
            const int second = i * 10;
            const std::string clock =
                Two(second / 3600) + ":" + Two(second / 60 % 60) + ":" + Two(second % 60);
            gpx += "<trkpt lat=\"" + std::to_string(47.6 + i * 1e-4) + "\" lon=\"" +
                   std::to_string(9.17 + i * 1e-4) + "\"><time>2024-06-15T" + clock + "Z</time></trkpt>\n";
            zeloro::sample::PhotoSpec spec;
            spec.width = picture.width;
            spec.height = picture.height;
            spec.dateTimeOriginal = "2024:06:15 " + clock;
            spec.thumbnail = zeloro::sample::EncodePicture(small);
            const auto photo = zeloro::sample::InsertApp1(pixels, zeloro::sample::BuildExifPayload(spec));
            std::ofstream(root / "photos" / ("IMG_" + std::to_string(1000 + i) + ".jpg"), std::ios::binary)
                .write(reinterpret_cast<const char*>(photo.data()),
                       static_cast<std::streamsize>(photo.size()));
        }
        gpx += "</trkseg></trk></gpx>\n";
        std::ofstream(root / "track.gpx") << gpx;
        session = std::make_unique<zeloro::TaggingSession>((root / "").string());
        session->Connect();
        QuietObserver observer;
        const zeloro::RunInputs inputs{
            (root / "track.gpx").string(), (root / "photos").string(), 11, 0, zeloro::RunModes{}, 0};
        if (session->Run(inputs, observer) != zeloro::RunResult::done ||
            session->MapEntries().size() != kPhotos) {
            throw std::runtime_error("the benchmark's run did not tag every photo");
        }
    }
    ~TaggedRun() {
        session.reset();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

TaggedRun& Run() {
    static TaggedRun run;
    return run;
}

void WriteMapPageOf1000Photos(benchmark::State& state) {
    TaggedRun& run = Run();
    for (auto _ : state) {
        benchmark::DoNotOptimize(run.session->WriteMapPage());
    }
    std::size_t thumbnails = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(run.root / "maps" / "thumbs")) {
        ++thumbnails;
    }
    state.counters["thumbnails"] = static_cast<double>(thumbnails);
    state.counters["photos"] = kPhotos;
}
BENCHMARK(WriteMapPageOf1000Photos)->Unit(benchmark::kMillisecond);

void BuildPageTextOf1000Photos(benchmark::State& state) {
    const zeloro::MapContent content = Run().session->MapPageContent();
    for (auto _ : state) {
        benchmark::DoNotOptimize(zeloro::BuildLeafletPage(content));
    }
}
BENCHMARK(BuildPageTextOf1000Photos)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
