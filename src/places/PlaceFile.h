// src/places/PlaceFile.h: the layout of the place file, written by tools/MakePlaces and read by PlaceIndex.
#pragma once
#include <cstdint>
#include <string_view>

namespace zeloro::placefile {

// All numbers little-endian; every table starts at a multiple of 4. After the header:
// cells[kCellCount + 1] (u32: index of a cell's first place; the last entry is the place count),
// places[placeCount], countries[countryCount], zones[zoneCount], states[stateCount] (u32 name offsets),
// then the text pool: UTF-8 names, each ended by a zero byte.
inline constexpr std::string_view kMagic{"ZELPLC01", 8};
inline constexpr std::uint32_t kVersion = 1;

// Places are sorted into cells of one degree: row = floor(lat) + 90, column = floor(lon) + 180.
inline constexpr int kRows = 180;
inline constexpr int kColumns = 360;
inline constexpr std::uint32_t kCellCount = static_cast<std::uint32_t>(kRows) * kColumns;
// Coordinates are stored in units of 1e-5 degrees (about a metre).
inline constexpr double kUnitsPerDegree = 1e5;
inline constexpr std::uint16_t kNoState = 0xFFFF;

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t placeCount;
    std::uint32_t countryCount;
    std::uint32_t zoneCount;
    std::uint32_t stateCount;
    std::uint32_t textSize;
};
static_assert(sizeof(Header) == 32);

enum PlaceFlags : std::uint8_t {
    kQuarter = 1,  // a section of a town (GeoNames PPLX): named only when no town is close
};
// The bits above kQuarter hold the place's size: the binary logarithm of its inhabitants (0 unknown), so
// that a quarter is named after its town rather than after a smaller neighbour of it.
inline constexpr int kSizeShift = 1;

struct Place {
    std::int32_t lat;  // units
    std::int32_t lon;
    std::uint32_t name;    // text offset
    std::uint16_t state;   // index into states, or kNoState
    std::uint8_t country;  // index into countries
    std::uint8_t flags;    // PlaceFlags
};
static_assert(sizeof(Place) == 16);

// A country's zones lie together: first those of their own rules, then the names the database keeps only
// as another zone's alias ("Europe/Busingen" for "Europe/Zurich"), which mark small exclaves.
struct Country {
    char code[2];  // ISO 3166-1 alpha-2
    std::uint16_t firstZone;
    std::uint32_t name;  // text offset: the German name
    std::uint16_t zoneCount;
    std::uint16_t ownZoneCount;  // of zoneCount, those of their own rules
};
static_assert(sizeof(Country) == 12);

// A zone's principal place as the time-zone database lists it, with the zone's name.
struct Zone {
    std::int32_t lat;  // units
    std::int32_t lon;
    std::uint32_t name;  // text offset
};
static_assert(sizeof(Zone) == 12);

}  // namespace zeloro::placefile
