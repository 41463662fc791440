// tests/rawfile/TiffFixture.cpp: small TIFF files built byte by byte, and the exiftool views of a file.
#include "TiffFixture.h"

#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "common/Currency.h"

namespace zeloro::test {
namespace {

void Put16(Bytes& out, std::size_t at, std::uint16_t value, bool bigEndian) {
    out[at + (bigEndian ? 0 : 1)] = static_cast<std::uint8_t>(value >> 8U);
    out[at + (bigEndian ? 1 : 0)] = static_cast<std::uint8_t>(value & 0xFFU);
}

void Put32(Bytes& out, std::size_t at, std::uint32_t value, bool bigEndian) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = bigEndian ? 8 * (3 - i) : 8 * i;
        out[at + i] = static_cast<std::uint8_t>((value >> shift) & 0xFFU);
    }
}

std::size_t Even(std::size_t at) { return at + (at % 2); }

struct PipeClose {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string Run(const std::string& command) {
    std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    std::string out;
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    for (int c = std::fgetc(pipe.get()); c != EOF; c = std::fgetc(pipe.get())) {
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace

Bytes BuildTiff(const FixtureTiff& tiff) {
    // First pass: where each directory, each value stored apart and each data piece goes.
    std::vector<std::size_t> ifdAt(tiff.ifds.size());
    std::vector<std::vector<std::size_t>> valueAt(tiff.ifds.size());
    std::size_t at = 8;
    for (std::size_t i = 0; i < tiff.ifds.size(); ++i) {
        at = Even(at);
        ifdAt[i] = at;
        at += 2 + tiff.ifds[i].entries.size() * 12 + 4;
        for (const FixtureEntry& entry : tiff.ifds[i].entries) {
            at = Even(at);
            valueAt[i].push_back(at);
            if (entry.value.size() > 4) {
                at += entry.value.size();
            }
        }
    }
    std::vector<std::size_t> blobAt;
    for (const Bytes& blob : tiff.blobs) {
        at = Even(at);
        blobAt.push_back(at);
        at += blob.size();
    }
    Bytes out(at, 0);
    const bool be = tiff.bigEndian;
    out[0] = out[1] = be ? 'M' : 'I';
    Put16(out, 2, tiff.magic, be);
    Put32(out, 4, static_cast<std::uint32_t>(ifdAt[0]), be);
    for (std::size_t i = 0; i < tiff.ifds.size(); ++i) {
        const FixtureIfd& ifd = tiff.ifds[i];
        std::size_t entryAt = ifdAt[i];
        Put16(out, entryAt, static_cast<std::uint16_t>(ifd.entries.size()), be);
        entryAt += 2;
        for (std::size_t e = 0; e < ifd.entries.size(); ++e, entryAt += 12) {
            const FixtureEntry& entry = ifd.entries[e];
            Put16(out, entryAt, entry.tag, be);
            Put16(out, entryAt + 2, entry.type, be);
            Put32(out, entryAt + 4, entry.count, be);
            Bytes value = entry.value;
            if (entry.blobInValue >= 0) {
                Put32(value, 0,
                      static_cast<std::uint32_t>(blobAt[static_cast<std::size_t>(entry.blobInValue)]), be);
            }
            if (entry.ifd >= 0) {
                Put32(out, entryAt + 8,
                      static_cast<std::uint32_t>(ifdAt[static_cast<std::size_t>(entry.ifd)]), be);
            } else if (entry.blobOffset >= 0) {
                Put32(out, entryAt + 8,
                      static_cast<std::uint32_t>(blobAt[static_cast<std::size_t>(entry.blobOffset)]), be);
            } else if (value.size() > 4) {
                Put32(out, entryAt + 8, static_cast<std::uint32_t>(valueAt[i][e]), be);
                std::copy(value.begin(), value.end(),
                          out.begin() + static_cast<std::ptrdiff_t>(valueAt[i][e]));
            } else if (!value.empty()) {
                std::copy(value.begin(), value.end(), out.begin() + static_cast<std::ptrdiff_t>(entryAt + 8));
            } else {
                Put32(out, entryAt + 8, entry.rawValue, be);
            }
        }
        Put32(out, entryAt,
              ifd.next >= 0 ? static_cast<std::uint32_t>(ifdAt[static_cast<std::size_t>(ifd.next)]) : 0U, be);
    }
    for (std::size_t b = 0; b < tiff.blobs.size(); ++b) {
        std::copy(tiff.blobs[b].begin(), tiff.blobs[b].end(),
                  out.begin() + static_cast<std::ptrdiff_t>(blobAt[b]));
    }
    return out;
}

FixtureEntry ShortEntry(const FixtureTiff& tiff, std::uint16_t tag, std::uint16_t value) {
    FixtureEntry entry{tag, 3, 1, Bytes(4, 0)};
    Put16(entry.value, 0, value, tiff.bigEndian);
    return entry;
}

FixtureEntry LongEntry(const FixtureTiff& tiff, std::uint16_t tag, std::uint32_t value) {
    FixtureEntry entry{tag, 4, 1, Bytes(4, 0)};
    Put32(entry.value, 0, value, tiff.bigEndian);
    return entry;
}

FixtureEntry AsciiEntry(std::uint16_t tag, const std::string& text) {
    FixtureEntry entry{tag, 2, static_cast<std::uint32_t>(text.size() + 1), Bytes(text.begin(), text.end())};
    entry.value.push_back(0);
    return entry;
}

FixtureEntry RationalEntry(const FixtureTiff& tiff, std::uint16_t tag,
                           const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values) {
    FixtureEntry entry{tag, 5, static_cast<std::uint32_t>(values.size()), Bytes(values.size() * 8, 0)};
    for (std::size_t i = 0; i < values.size(); ++i) {
        Put32(entry.value, i * 8, values[i].first, tiff.bigEndian);
        Put32(entry.value, i * 8 + 4, values[i].second, tiff.bigEndian);
    }
    return entry;
}

FixtureEntry PointerEntry(std::uint16_t tag, int ifd) {
    FixtureEntry entry{tag, 4, 1, {}};
    entry.ifd = ifd;
    return entry;
}

FixtureTiff CameraTiff(bool bigEndian, bool withGps) {
    FixtureTiff tiff;
    tiff.bigEndian = bigEndian;
    // Data pieces: the strip, the thumbnail.
    tiff.blobs.push_back(Bytes{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160});
    tiff.blobs.push_back(Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0, 4, 1, 2, 0xFF, 0xD9});
    FixtureIfd ifd0;
    ifd0.entries.push_back(ShortEntry(tiff, 0x0100, 8));
    ifd0.entries.push_back(ShortEntry(tiff, 0x0101, 2));
    ifd0.entries.push_back(AsciiEntry(0x010F, "Zeloro Kamera"));
    ifd0.entries.push_back(AsciiEntry(0x0110, "Z1 Mark II"));
    FixtureEntry strip{0x0111, 4, 1, {}};
    strip.blobOffset = 0;
    ifd0.entries.push_back(strip);
    ifd0.entries.push_back(LongEntry(tiff, 0x0117, 16));
    ifd0.entries.push_back(RationalEntry(tiff, 0x011A, {{300, 1}}));
    ifd0.entries.push_back(PointerEntry(0x8769, 2));
    if (withGps) {
        ifd0.entries.push_back(PointerEntry(0x8825, 3));
    }
    ifd0.next = 1;
    FixtureIfd ifd1;
    FixtureEntry thumbnail{0x0201, 4, 1, {}};
    thumbnail.blobOffset = 1;
    ifd1.entries.push_back(thumbnail);
    ifd1.entries.push_back(LongEntry(tiff, 0x0202, 10));
    FixtureIfd exif;
    exif.entries.push_back(AsciiEntry(0x9003, "2024:06:15 10:00:30"));
    // A maker note that locates its data by absolute offset: it stays right only if nothing moves.
    FixtureEntry makerNote{0x927C, 7, 16,
                           Bytes{0, 0, 0, 0, 'Z', 'E', 'L', 'O', 'R', 'O', '-', 'M', 'N', 1, 2, 3}};
    makerNote.blobInValue = 0;
    exif.entries.push_back(makerNote);
    tiff.ifds = {ifd0, ifd1, exif};
    if (withGps) {
        FixtureIfd gps;
        gps.entries.push_back(FixtureEntry{0x0000, 1, 4, Bytes{2, 2, 0, 0}});
        gps.entries.push_back(AsciiEntry(0x0001, "S"));
        gps.entries.push_back(RationalEntry(tiff, 0x0002, {{10, 1}, {20, 1}, {30, 1}}));
        gps.entries.push_back(RationalEntry(tiff, 0x0006, {{1234, 10}}));
        gps.entries.push_back(AsciiEntry(0x0012, "WGS-84"));
        tiff.ifds.push_back(gps);
    }
    return tiff;
}

void FillTestPosition(TCustomExifData& gps, bool withAltitude) {
    gps.GPSLatitude().Assign(33U, 51U, Currency::FromReal(24.12L), ltSouth);
    gps.GPSLongitude().Assign(151U, 12U, Currency::FromReal(55.08L), lnEast);
    gps.SetGPSDateTimeUTC(TimeFromText("2024-06-15 08:00:30"));
    if (withAltitude) {
        gps.SetGPSAltitudeRef(alAboveSeaLevel);
        gps.SetGPSAltitude(TTiffLongWordFraction(585, 10));
    }
}

std::vector<std::string> ExiftoolDumpWithoutGps(const std::filesystem::path& file) {
    const std::string out = Run("exiftool -a -G1 -s -n " + Quoted(file.string()) + " 2>&1");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            end = out.size();
        }
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        if (line.find("GPS") != std::string::npos || line.starts_with("[System]") ||
            line.find("ExifToolVersion") != std::string::npos) {
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

Bytes ExiftoolBinary(const std::filesystem::path& file, const std::string& tag) {
    const std::string out =
        Run("exiftool -m -b " + Quoted("-" + tag) + " " + Quoted(file.string()) + " 2>/dev/null");
    return Bytes(out.begin(), out.end());
}

}  // namespace zeloro::test
