// fuzz/RawfileTiffWriteFuzz.cpp: the GPS write into a RAW file whose bytes anyone can choose. The input is
// the file. Whatever it holds, the write never crashes; a refused file stays exactly as it was; a written
// one keeps every old byte but the four of the pointer, reads again as TIFF with its GPS directory, and
// takes a second write the same way; a removal of the run's tags from either keeps every old byte but
// the four of the pointer, and putting those back gives the file before it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/Currency.h"
#include "common/DateTime.h"
#include "metadata/ExifData.h"
#include "rawfile/RawGpsWrite.h"
#include "rawfile/TiffLayout.h"

namespace {

namespace fs = std::filesystem;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

std::vector<std::uint8_t> Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, std::span<const std::uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0);
    Check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// A folder in memory where there is one: the write syncs after each step.
const fs::path& Folder() {
    static const fs::path folder = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "zeloro-rawfile-fuzz-XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr);
        return fs::path(pattern);
    }();
    return folder;
}

// Writes and checks; false when the file was refused.
bool WriteAndCheck(const fs::path& file, const zeloro::TExifData& gps) {
    const std::vector<std::uint8_t> before = Contents(file);
    try {
        zeloro::WriteGpsIntoRaw(file.string(), gps, false, true);
    } catch (const zeloro::RawFileRefused&) {
        Check(Contents(file) == before);
        return false;
    }
    const std::vector<std::uint8_t> after = Contents(file);
    Check(after.size() > before.size());
    std::size_t changed = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i]) {
            first = changed == 0 ? i : first;
            ++changed;
            Check(i < first + 4);
        }
    }
    Check(changed > 0);
    const zeloro::TiffLayout layout = zeloro::ReadTiffLayout(zeloro::MemoryTiffSource(after));
    Check(layout.gpsEntry.has_value() && layout.gps.offset >= before.size());
    return true;
}

// Takes the run's tags out and checks; an undo's putting back gives the file as it was before.
void RemoveAndCheck(const fs::path& file) {
    const std::vector<std::uint8_t> before = Contents(file);
    std::optional<zeloro::RawWriteDone> done;
    try {
        done = zeloro::RemoveGpsFromRaw(file.string(), false, false, false);
    } catch (const zeloro::RawFileRefused&) {
        Check(Contents(file) == before);
        return;
    }
    std::vector<std::uint8_t> after = Contents(file);
    if (!done) {
        Check(after == before);
        return;
    }
    Check(after.size() > before.size() && done->oldSize == before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        Check(before[i] == after[i] || (i >= done->pointerOffset && i < done->pointerOffset + 4));
    }
    const zeloro::TiffLayout layout = zeloro::ReadTiffLayout(zeloro::MemoryTiffSource(after));
    for (const zeloro::TiffEntry& entry : layout.gps.entries) {
        Check(entry.tag == 0 || (entry.tag > 7 && entry.tag != 0x1D));
    }
    std::copy(done->oldPointer.begin(), done->oldPointer.end(),
              after.begin() + static_cast<std::ptrdiff_t>(done->pointerOffset));
    after.resize(before.size());
    Check(after == before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static zeloro::TExifData* gps = [] {
        auto* filled = new zeloro::TExifData;
        filled->GPSLatitude().Assign(33U, 51U, zeloro::Currency::FromReal(24.12L), zeloro::ltSouth);
        filled->GPSLongitude().Assign(151U, 12U, zeloro::Currency::FromReal(55.08L), zeloro::lnEast);
        filled->SetGPSDateTimeUTC(zeloro::EncodeDateTime(2024, 6, 15, 8, 0, 30, 0));
        filled->SetGPSAltitudeRef(zeloro::alAboveSeaLevel);
        filled->SetGPSAltitude(zeloro::TTiffLongWordFraction(585, 10));
        return filled;
    }();
    const fs::path file = Folder() / "a.dng";
    Write(file, std::span<const std::uint8_t>(data, size));
    RemoveAndCheck(file);
    Write(file, std::span<const std::uint8_t>(data, size));
    if (WriteAndCheck(file, *gps)) {
        // The written file is a sound one: the next write must take it too, and a removal after it.
        Check(WriteAndCheck(file, *gps));
        RemoveAndCheck(file);
    }
    // Nothing but the file: no journal, no temporary file left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Folder())) {
        ++entries;
    }
    Check(entries == 1);
    return 0;
}
