// bench/MetadataReadBench.cpp: reading DateTimeOriginal from large photos, as the tagging run does for
// every photo. The photos are 8 MB each: the head (EXIF, tables) of a shared test photo, or a small built
// head when the shared collection is absent, followed by entropy-coded filler. Counters: photos per
// second and the bytes actually read from each file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "metadata/ExifData.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPhotos = 32;
constexpr std::size_t kPhotoSize = 8 * 1024 * 1024;

std::vector<std::uint8_t> PhotoHead() {
    // Everything before the first SOS of a real photo, so the walk meets a real set of segments.
    const fs::path shared =
        fs::path(ZELORO_SOURCE_DIR) / ".." / "shared" / "testdata" / "jpeg" / "exiftool_Canon.jpg";
    std::ifstream in(shared, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() > 4) {
        zeloro::ReadOnlyMemoryStream s(bytes);
        zeloro::TJPEGHeaderParser parser(s, zeloro::TJPEGMarkers{zeloro::jmSOS});
        if (parser.MoveNext()) {
            bytes.resize(static_cast<std::size_t>(parser.Current()->MarkerOffset()));
            return bytes;
        }
    }
    // SOI + APP1 "Exif" with IFD0 -> EXIF IFD holding DateTimeOriginal.
    std::vector<std::uint8_t> tiff{'I', 'I', 42, 0,  8, 0, 0,  0, 1, 0, 0x69, 0x87, 4, 0,    1,
                                   0,   0,   0,  26, 0, 0, 0,  0, 0, 0, 0,    1,    0, 0x03, 0x90,
                                   2,   0,   20, 0,  0, 0, 44, 0, 0, 0, 0,    0,    0, 0};
    const std::string dto = "2010:07:15 14:03:27";
    tiff.insert(tiff.end(), dto.begin(), dto.end());
    tiff.push_back(0);
    std::vector<std::uint8_t> head{0xFF, 0xD8, 0xFF, 0xE1};
    const std::size_t len = tiff.size() + 8;
    head.push_back(static_cast<std::uint8_t>(len >> 8U));
    head.push_back(static_cast<std::uint8_t>(len & 0xFFU));
    head.insert(head.end(), {'E', 'x', 'i', 'f', 0, 0});
    head.insert(head.end(), tiff.begin(), tiff.end());
    return head;
}

struct PhotoSet {
    fs::path dir;
    std::vector<std::string> files;
    PhotoSet() {
        dir = fs::temp_directory_path() / ("zeloro-metadata-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::vector<std::uint8_t> photo = PhotoHead();
        const std::vector<std::uint8_t> sos{0xFF, 0xDA, 0x00, 0x08, 1, 1, 0x00, 0, 63, 0};
        photo.insert(photo.end(), sos.begin(), sos.end());
        photo.resize(kPhotoSize - 2, 0x55);
        photo.push_back(0xFF);
        photo.push_back(0xD9);
        for (std::size_t i = 0; i < kPhotos; ++i) {
            files.push_back((dir / ("photo" + std::to_string(i) + ".jpg")).string());
            std::ofstream(files.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(photo.data()),
                       static_cast<std::streamsize>(photo.size()));
        }
    }
    ~PhotoSet() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

PhotoSet& Photos() {
    static PhotoSet set;
    return set;
}

// The run's road: one container for all photos, LoadFromJPEG(path), DateTimeOriginal.
void BM_DateTimeOriginalHeadRead(benchmark::State& state) {
    const auto& files = Photos().files;
    zeloro::TExifData exif;
    std::size_t i = 0;
    std::int64_t bytesRead = 0;
    std::int64_t loads = 0;
    for (auto _ : state) {
        zeloro::HeadFileStream stream(files[i++ % files.size()]);
        exif.LoadFromJPEG(stream);
        benchmark::DoNotOptimize(exif.DateTimeOriginal());
        bytesRead += stream.BytesRead();
        ++loads;
    }
    state.SetItemsProcessed(loads);
    state.counters["bytes_read_per_photo"] = static_cast<double>(bytesRead) / static_cast<double>(loads);
    state.counters["photo_bytes"] = static_cast<double>(kPhotoSize);
}
BENCHMARK(BM_DateTimeOriginalHeadRead)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The path API itself (what the run calls), for the same rate.
void BM_DateTimeOriginalByPath(benchmark::State& state) {
    const auto& files = Photos().files;
    zeloro::TExifData exif;
    std::size_t i = 0;
    for (auto _ : state) {
        exif.LoadFromJPEG(files[i++ % files.size()]);
        benchmark::DoNotOptimize(exif.DateTimeOriginal());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DateTimeOriginalByPath)->Unit(benchmark::kMicrosecond)->UseRealTime();

// For comparison: reading each whole photo into memory first.
void BM_DateTimeOriginalWholeFile(benchmark::State& state) {
    const auto& files = Photos().files;
    zeloro::TExifData exif;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto bytes = zeloro::ReadWholeFile(files[i++ % files.size()]);
        exif.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
        benchmark::DoNotOptimize(exif.DateTimeOriginal());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes_read_per_photo"] = static_cast<double>(kPhotoSize);
}
BENCHMARK(BM_DateTimeOriginalWholeFile)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
