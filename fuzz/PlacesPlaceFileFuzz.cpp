// fuzz/PlacesPlaceFileFuzz.cpp: the place file's checks and lookups on files anyone who can replace the
// installed file could write. The input is the file with its cell table given compactly, so that the
// fuzzer spends its time on the header, the places, the tables and the names rather than on a quarter of
// a megabyte of cell starts: a header (32 bytes), a count k (2 bytes), k pairs (cell, added places) of
// 4 bytes each (the cell table is the running sum of the places added before each cell, so a negative
// number can make it run downwards), then everything after the cell table.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "places/PlaceFile.h"
#include "places/PlaceIndex.h"

namespace {

namespace pf = zeloro::placefile;

std::vector<std::uint8_t> Expand(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(pf::Header) + 2) {
        return {data, data + size};
    }
    std::size_t at = sizeof(pf::Header);
    std::uint16_t count = 0;
    std::memcpy(&count, data + at, 2);
    at += 2;
    // Kept between runs: a fresh table of a quarter of a megabyte per input would slow the fuzzer down.
    static std::vector<std::int64_t> added(pf::kCellCount + 1, 0);
    std::fill(added.begin(), added.end(), 0);
    for (std::uint16_t i = 0; i < count && size - at >= 8; ++i, at += 8) {
        std::uint32_t cell = 0;
        std::int32_t places = 0;
        std::memcpy(&cell, data + at, 4);
        std::memcpy(&places, data + at + 4, 4);
        added[cell % pf::kCellCount] += places;
    }
    const std::size_t table = (std::size_t{pf::kCellCount} + 1) * 4;
    std::vector<std::uint8_t> file(sizeof(pf::Header) + table + (size - at));
    std::memcpy(file.data(), data, sizeof(pf::Header));
    std::int64_t sum = 0;
    for (std::uint32_t cell = 0; cell <= pf::kCellCount; ++cell) {
        const auto value = static_cast<std::uint32_t>(sum);
        std::memcpy(file.data() + sizeof(pf::Header) + std::size_t{cell} * 4, &value, 4);
        sum += added[cell];
    }
    std::memcpy(file.data() + sizeof(pf::Header) + table, data + at, size - at);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    try {
        const PlaceIndex index = PlaceIndex::FromBytes(Expand(data, size));
        // The spots where the searches wrap or widen: the date line, the poles, the equator, and points
        // just outside the globe.
        static constexpr double kSpots[][2] = {{-90, 0},  {-89.99, -180}, {0, -179.95},  {0, 179.95},
                                               {0, 0},    {0.5, 10},      {47.3, -0.01}, {89.95, 100},
                                               {90, 180}, {90.5, 0},      {0, 181}};
        for (const auto& [lat, lon] : kSpots) {
            {
                const PlaceNames names = index.Lookup(lat, lon);
                const std::string zone = index.ZoneName(lat, lon);
                // A name that reaches a photo is never longer than the file that holds it, and every
                // spot of the globe has a zone.
                const bool onGlobe = lat <= 90 && lon <= 180;
                if (names.city.size() > size || names.state.size() > size || zone.empty() == onGlobe) {
                    __builtin_trap();
                }
            }
        }
    } catch (const PlaceDataError&) {
        return 0;
    }
    return 0;
}
