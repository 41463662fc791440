// bench/MetadataWriteBench.cpp: tagging and saving large photos in place, against `cp` of the same files.
//
//   zeloro_metadata_write_bench make DIR N [WIDTH HEIGHT]   writes N camera-like photos (EXIF, thumbnail)
//   into DIR zeloro_metadata_write_bench run DIR [RUNS]              times cp and our tag-and-save on fresh
//   copies of DIR
//
// Both work on a warm page cache (the copies were just made), nothing is synced: the numbers are the
// CPU and page-cache cost of reading and writing every byte, which is what `cp` costs too.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "filesafe/SafeFileWrite.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/Streams.h"

namespace fs = std::filesystem;
using namespace zeloro;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

int Shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 1;
}

// A picture with fine detail everywhere, so that it compresses like a photo rather than a flat card.
Bitmap CameraLikePicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    Bitmap bitmap(width, height);
    auto pixels = bitmap.Pixels();
    std::uint32_t state = seed * 2654435761U + 1;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            state = state * 1664525U + 1013904223U;
            const std::size_t p = (static_cast<std::size_t>(y) * width + x) * 3;
            const std::uint32_t noise = state >> 27U;
            pixels[p] = static_cast<std::uint8_t>((x * 255 / width + noise * 3) & 0xFF);
            pixels[p + 1] = static_cast<std::uint8_t>((y * 255 / height + noise * 5) & 0xFF);
            pixels[p + 2] = static_cast<std::uint8_t>(((x ^ y) & 0x3F) + noise * 4);
        }
    }
    return bitmap;
}

int Make(const fs::path& dir, int count, std::uint32_t width, std::uint32_t height) {
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        TJPEGImageEx image;
        image.SetCompressionQuality(92);
        image.Assign(CameraLikePicture(width, height, static_cast<std::uint32_t>(i)));
        std::vector<std::uint8_t> encoded;
        image.SaveToBytes(encoded);
        image.LoadFromBytes(std::move(encoded));
        TExifData& exif = image.ExifData();
        exif.SetCameraMake("Bench");
        exif.SetCameraModel("Large");
        exif.SetDateTimeOriginal(EncodeDateTime(2024, 6, 15, 10, 0, i % 60, 0));
        image.CreateThumbnail();
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
        image.SaveToFile((dir / name).string());
    }
    return 0;
}

double TagAll(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    const auto start = Clock::now();
    for (const fs::path& file : files) {
        // As the run does it: read once, load, set the three GPS values, save in place.
        TJPEGImageEx image;
        image.LoadFromBytes(ReadWholeFile(file.string()));
        image.ExifData().GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(28, 1),
                                              TTiffLongWordFraction(13800, 10000), ltNorth);
        image.ExifData().GPSLongitude().Assign(TTiffLongWordFraction(0, 1), TTiffLongWordFraction(1, 1),
                                               TTiffLongWordFraction(48, 1), lnWest);
        image.ExifData().SetGPSDateTimeUTC(EncodeDateTime(2024, 6, 15, 8, 0, 0, 0));
        image.SaveToFile(file.string());
    }
    return Seconds(start);
}

// The floor of any in-place rewrite: read each photo into memory and replace it with the same bytes
// through the safe replace, without looking at the metadata.
double RewriteAll(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files.push_back(entry.path());
    }
    const auto start = Clock::now();
    for (const fs::path& file : files) {
        const std::vector<std::uint8_t> bytes = ReadWholeFile(file.string());
        WriteFileReplacing(file.string(), bytes);
    }
    return Seconds(start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Run(const fs::path& pristine, int runs) {
    std::uintmax_t bytes = 0;
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(pristine)) {
        bytes += entry.file_size();
        ++count;
    }
    const fs::path work = pristine.parent_path() / "work";
    const fs::path copy = pristine.parent_path() / "copy";
    std::vector<double> cpTimes;
    std::vector<double> rewriteTimes;
    std::vector<double> tagTimes;
    for (int r = 0; r < runs; ++r) {
        fs::remove_all(work);
        fs::remove_all(copy);
        if (Shell("cp -r '" + pristine.string() + "' '" + work.string() + "' && sync") != 0) {
            return 1;
        }
        auto start = Clock::now();
        if (Shell("cp -r '" + work.string() + "' '" + copy.string() + "'") != 0) {
            return 1;
        }
        cpTimes.push_back(Seconds(start));
        // Each timed phase starts without dirty pages of the one before, so that write-back
        // throttling does not land on whichever phase runs later.
        Shell("sync");
        rewriteTimes.push_back(RewriteAll(copy));
        Shell("sync");
        tagTimes.push_back(TagAll(work));
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    const double cp = Median(cpTimes);
    const double rewrite = Median(rewriteTimes);
    const double tag = Median(tagTimes);
    std::printf("%zu photos, %.1f MB, median of %d runs\n", count, mb, runs);
    std::printf("cp -r        : %7.3f s  %8.1f MB/s\n", cp, mb / cp);
    std::printf("read+replace : %7.3f s  %8.1f MB/s  (same bytes back, no metadata work)  ratio to cp %.2f\n",
                rewrite, mb / rewrite, rewrite / cp);
    std::printf("tag and save : %7.3f s  %8.1f MB/s  %7.1f photos/s  ratio to cp %.2f\n", tag, mb / tag,
                static_cast<double>(count) / tag, tag / cp);
    fs::remove_all(work);
    fs::remove_all(copy);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "make") {
        const auto width = argc >= 6 ? static_cast<std::uint32_t>(std::stoul(argv[4])) : 4000U;
        const auto height = argc >= 6 ? static_cast<std::uint32_t>(std::stoul(argv[5])) : 3000U;
        return Make(argv[2], std::stoi(argv[3]), width, height);
    }
    if (argc >= 3 && std::string(argv[1]) == "run") {
        return Run(fs::path(argv[2]), argc >= 4 ? std::stoi(argv[3]) : 5);
    }
    std::fprintf(stderr, "usage: zeloro_metadata_write_bench make DIR N [WIDTH HEIGHT] | run DIR [RUNS]\n");
    return 2;
}
