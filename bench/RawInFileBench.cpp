// bench/RawInFileBench.cpp: GPS written into a large RAW file in place, against exiftool writing the same
// position.
//
//   zeloro_raw_in_file_bench make SAMPLE.dng OUT.dng [MB]   pads the sample's last strip with noise to MB
//                                                           (default 25) and fixes its byte count
//   zeloro_raw_in_file_bench run BIG.dng DIR [RUNS]         times both on fresh copies in DIR
//
// Each copy is synced before it is timed, so neither writer pays for the copy's dirty pages. Ours syncs
// its journal, its tail and its pointer (the crash safety it promises); exiftool syncs nothing, so it is
// timed also with a `sync FILE` after it, the same promise of the bytes being on the disk. Bytes written:
// ours as counted by the kernel for this process (/proc/self/io wchar); exiftool writes a whole new copy
// of the file (its size).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Currency.h"
#include "common/DateTime.h"
#include "metadata/ExifData.h"
#include "rawfile/RawGpsWrite.h"
#include "rawfile/TiffLayout.h"

namespace fs = std::filesystem;
using namespace zeloro;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

int Shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 1;
}

std::vector<std::uint8_t> Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes this process has handed to write calls so far.
long long WrittenByUs() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            return value;
        }
    }
    return -1;
}

int Make(const fs::path& sample, const fs::path& out, long long megabytes) {
    std::vector<std::uint8_t> bytes = Contents(sample);
    const TiffLayout layout = ReadTiffLayout(MemoryTiffSource(bytes));
    const auto entry = [&layout](std::uint16_t tag) {
        return std::find_if(
            layout.ifd0.entries.begin(), layout.ifd0.entries.end(),
            [tag](const TiffEntry& e) { return e.tag == tag && e.count == 1 && e.type == 4; });
    };
    const auto offsets = entry(0x0111);
    const auto sizes = entry(0x0117);
    if (offsets == layout.ifd0.entries.end() || sizes == layout.ifd0.entries.end() ||
        TiffGet32(offsets->value.data(), layout.bigEndian) +
                TiffGet32(sizes->value.data(), layout.bigEndian) !=
            bytes.size()) {
        std::fprintf(stderr, "the sample's IFD0 has no single strip at the end of the file\n");
        return 1;
    }
    const std::size_t target = static_cast<std::size_t>(megabytes) * 1000 * 1000;
    std::uint32_t state = 12345;
    while (bytes.size() < target) {
        state = state * 1664525U + 1013904223U;
        bytes.push_back(static_cast<std::uint8_t>(state >> 24U));
    }
    const std::uint32_t count = TiffGet32(sizes->value.data(), layout.bigEndian) +
                                static_cast<std::uint32_t>(target - layout.fileSize);
    TiffPut32(bytes.data() + sizes->at + 8, count, layout.bigEndian);
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::printf("%s: %zu bytes, strip of %u bytes\n", out.c_str(), bytes.size(), count);
    return 0;
}

int Run(const fs::path& big, const fs::path& dir, int runs) {
    fs::create_directories(dir);
    TExifData gps;
    gps.GPSLatitude().Assign(33U, 51U, Currency::FromReal(24.12L), ltSouth);
    gps.GPSLongitude().Assign(151U, 12U, Currency::FromReal(55.08L), lnEast);
    gps.SetGPSDateTimeUTC(EncodeDateTime(2024, 6, 15, 8, 0, 30, 0));
    const std::string exiftool =
        "exiftool -q -q -GPSLatitude=33.8567 -GPSLatitudeRef=S -GPSLongitude=151.2153 -GPSLongitudeRef=E "
        "-GPSDateStamp=2024:06:15 -GPSTimeStamp=08:00:30 -overwrite_original ";
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> theirsSynced;
    long long oursBytes = 0;
    for (int r = 0; r < runs; ++r) {
        const fs::path a = dir / ("ours-" + std::to_string(r) + ".dng");
        const fs::path b = dir / ("exiftool-" + std::to_string(r) + ".dng");
        const fs::path c = dir / ("exiftool-synced-" + std::to_string(r) + ".dng");
        for (const fs::path& copy : {a, b, c}) {
            fs::copy_file(big, copy, fs::copy_options::overwrite_existing);
        }
        ::sync();
        const long long before = WrittenByUs();
        auto start = Clock::now();
        WriteGpsIntoRaw(a.string(), gps, false, false);
        ours.push_back(Seconds(start));
        oursBytes = WrittenByUs() - before;
        start = Clock::now();
        if (Shell(exiftool + "'" + b.string() + "'") != 0) {
            std::fprintf(stderr, "exiftool failed\n");
            return 1;
        }
        theirs.push_back(Seconds(start));
        start = Clock::now();
        if (Shell(exiftool + "'" + c.string() + "' && sync '" + c.string() + "'") != 0) {
            std::fprintf(stderr, "exiftool failed\n");
            return 1;
        }
        theirsSynced.push_back(Seconds(start));
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const auto size = [](const fs::path& p) { return static_cast<long long>(fs::file_size(p)); };
    const fs::path lastOurs = dir / ("ours-" + std::to_string(runs - 1) + ".dng");
    const fs::path lastTheirs = dir / ("exiftool-" + std::to_string(runs - 1) + ".dng");
    std::printf("file: %lld bytes, %d runs, median\n", size(big), runs);
    std::printf("zeloro in place (synced):   %8.4f s, %lld bytes written, file grew by %lld bytes\n",
                median(ours), oursBytes, size(lastOurs) - size(big));
    std::printf("exiftool (not synced):      %8.4f s, %lld bytes written (a whole new copy)\n",
                median(theirs), size(lastTheirs));
    std::printf("exiftool + sync FILE:       %8.4f s\n", median(theirsSynced));
    Shell("exiftool -n -s -GPSLatitude -GPSLongitude '" + lastOurs.string() + "'");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "make") {
        return Make(args[1], args[2], args.size() > 3 ? std::stoll(args[3]) : 25);
    }
    if (args.size() >= 3 && args[0] == "run") {
        return Run(args[1], args[2], args.size() > 3 ? std::max(1, std::stoi(args[3])) : 5);
    }
    std::fprintf(stderr,
                 "usage: zeloro_raw_in_file_bench make SAMPLE.dng OUT.dng [MB]\n"
                 "       zeloro_raw_in_file_bench run BIG.dng DIR [RUNS]\n");
    return 2;
}
