// tests/rawfile/TiffFixture.h: small TIFF files built byte by byte, in either byte order, with directories
// that point to each other and data pieces placed after them; and what the tests of the RAW write share.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "metadata/ExifData.h"
#include "support/TestSupport.h"

namespace zeloro::test {

struct FixtureEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    Bytes value;                 // in the file's byte order
    int ifd = -1;                // >= 0: the value is the offset of that directory
    int blobOffset = -1;         // >= 0: the value is the offset of that data piece
    int blobInValue = -1;        // >= 0: the first four bytes of the value are that data piece's offset
    std::uint32_t rawValue = 0;  // the value field as a number, when no other is given and count fits
};

struct FixtureIfd {
    std::vector<FixtureEntry> entries;
    int next = -1;  // the next directory's index, or -1
};

struct FixtureTiff {
    bool bigEndian = false;
    std::uint16_t magic = 42;
    std::vector<FixtureIfd> ifds;  // ifds[0] is IFD0
    std::vector<Bytes> blobs;      // placed after every directory, in order
};

// The bytes: header, each directory followed by its values stored apart, then the data pieces.
[[nodiscard]] Bytes BuildTiff(const FixtureTiff& tiff);

// Entries in the fixture's byte order.
[[nodiscard]] FixtureEntry ShortEntry(const FixtureTiff& tiff, std::uint16_t tag, std::uint16_t value);
[[nodiscard]] FixtureEntry LongEntry(const FixtureTiff& tiff, std::uint16_t tag, std::uint32_t value);
[[nodiscard]] FixtureEntry AsciiEntry(std::uint16_t tag, const std::string& text);
[[nodiscard]] FixtureEntry RationalEntry(const FixtureTiff& tiff, std::uint16_t tag,
                                         const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values);
[[nodiscard]] FixtureEntry PointerEntry(std::uint16_t tag, int ifd);

// A camera's file in miniature: IFD0 with values stored apart (Make, Model, XResolution), a strip, the EXIF
// directory with the shot time and a maker note that holds the strip's absolute offset, IFD1 with a JPEG
// thumbnail; withGps adds a GPS directory (version 2.2, a southern latitude, map datum, altitude).
[[nodiscard]] FixtureTiff CameraTiff(bool bigEndian, bool withGps);

// The position the tests write, filled as the tagging run fills a photo's: 33°51'24.12" S,
// 151°12'55.08" E, 2024-06-15 08:00:30 UTC, optionally 58.5 m.
void FillTestPosition(TCustomExifData& gps, bool withAltitude);
inline constexpr double kTestLatitude = -(33.0 + 51.0 / 60 + 24.12 / 3600);
inline constexpr double kTestLongitude = 151.0 + 12.0 / 60 + 55.08 / 3600;

// What exiftool prints for the file (-a -G1 -s -n), without the lines of GPS tags and of the file
// system (size, times, permissions), which a write changes; its warnings stay in.
[[nodiscard]] std::vector<std::string> ExiftoolDumpWithoutGps(const std::filesystem::path& file);
// The bytes exiftool extracts for one binary tag (-b -TAG); empty when the file has none.
[[nodiscard]] Bytes ExiftoolBinary(const std::filesystem::path& file, const std::string& tag);

}  // namespace zeloro::test
