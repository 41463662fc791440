// src/places/PlaceIndex.cpp: the mapped place file, its checks, and the nearest-place and zone lookups.
#include "places/PlaceIndex.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <string_view>
#include <utility>

#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "common/SystemFolders.h"
#include "places/PlaceFile.h"

namespace zeloro {

namespace pf = placefile;

namespace {

constexpr double kEarthRadiusKm = 6371.0088;
constexpr double kKmPerDegree = kEarthRadiusKm * std::numbers::pi / 180.0;
constexpr double kExclaveKm = 10.0;

std::string CannotRead(const std::string& path, const std::string& reason) {
    return "Die Ortsdaten " + path + " können nicht gelesen werden: " + reason;
}

template <typename T>
T ReadAt(const std::uint8_t* base, std::size_t offset) noexcept {
    T value;
    std::memcpy(&value, base + offset, sizeof(T));
    return value;
}

// A name fit for a photo's metadata: well-formed UTF-8 without control characters. A place file someone
// replaced could hold anything; such a name is left out rather than written.
bool IsCleanText(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        std::size_t length = 1;
        std::uint32_t lowest = 0;
        if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            lowest = 0x10000;
        } else if (c >= 0xE0) {
            length = 3;
            lowest = 0x800;
        } else if (c >= 0xC2 && c < 0xE0) {
            length = 2;
            lowest = 0x80;
        } else if (c >= 0x80) {
            return false;
        }
        if (length > text.size() - i) {
            return false;
        }
        std::uint32_t code = length == 1 ? c : (c & (0xFFU >> (length + 1)));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3FU);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
            (code >= 0x80 && code < 0xA0)) {
            return false;
        }
        i += length;
    }
    return true;
}

int Row(double lat) noexcept { return std::clamp(static_cast<int>(std::floor(lat)) + 90, 0, pf::kRows - 1); }

}  // namespace

// The bytes of a place file, mapped or held, with the offsets of its tables once they have been checked.
struct PlaceIndex::Mapping {
    const std::uint8_t* base = nullptr;
    std::size_t size = 0;
    void* mapped = nullptr;  // what munmap gets back, when the bytes are a mapping
    std::vector<std::uint8_t> held;
    pf::Header header{};
    std::size_t cells = 0;
    std::size_t places = 0;
    std::size_t countries = 0;
    std::size_t zones = 0;
    std::size_t states = 0;
    std::size_t text = 0;

    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() {
        if (mapped != nullptr) {
            ::munmap(mapped, size);
        }
    }

    // The layout's sizes, counted in 64 bits so that no count from the file can wrap them. Empty when the
    // file is not one of ours; then the reason.
    [[nodiscard]] std::optional<std::string> Check() {
        if (size < sizeof(pf::Header)) {
            return "die Datei ist zu kurz";
        }
        header = ReadAt<pf::Header>(base, 0);
        if (std::string_view(header.magic, sizeof(header.magic)) != pf::kMagic ||
            header.version != pf::kVersion) {
            return "die Datei hat nicht das Format der Ortsdaten";
        }
        const std::uint64_t cellBytes = (static_cast<std::uint64_t>(pf::kCellCount) + 1) * 4;
        std::uint64_t at = sizeof(pf::Header);
        cells = static_cast<std::size_t>(at);
        at += cellBytes;
        places = static_cast<std::size_t>(at);
        at += static_cast<std::uint64_t>(header.placeCount) * sizeof(pf::Place);
        countries = static_cast<std::size_t>(at);
        at += static_cast<std::uint64_t>(header.countryCount) * sizeof(pf::Country);
        zones = static_cast<std::size_t>(at);
        at += static_cast<std::uint64_t>(header.zoneCount) * sizeof(pf::Zone);
        states = static_cast<std::size_t>(at);
        at += static_cast<std::uint64_t>(header.stateCount) * 4;
        text = static_cast<std::size_t>(at);
        at += header.textSize;
        if (at != size || header.textSize == 0 || base[size - 1] != 0) {
            return "die Größe der Datei passt nicht zu ihrem Kopf";
        }
        // The cells must run upwards to the place count: a lookup then never reads past the places.
        std::uint32_t previous = 0;
        for (std::uint32_t cell = 0; cell <= pf::kCellCount; ++cell) {
            const auto first = ReadAt<std::uint32_t>(base, cells + std::size_t{cell} * 4);
            if (first < previous || first > header.placeCount) {
                return "die Zellen der Datei sind nicht geordnet";
            }
            previous = first;
        }
        if (previous != header.placeCount) {
            return "die Zellen der Datei sind nicht geordnet";
        }
        return std::nullopt;
    }

    [[nodiscard]] std::uint32_t CellStart(std::uint32_t cell) const noexcept {
        return ReadAt<std::uint32_t>(base, cells + std::size_t{cell} * 4);
    }
    [[nodiscard]] pf::Place PlaceAt(std::uint32_t i) const noexcept {
        return ReadAt<pf::Place>(base, places + std::size_t{i} * sizeof(pf::Place));
    }
    [[nodiscard]] std::optional<pf::Country> CountryAt(std::uint32_t i) const noexcept {
        if (i >= header.countryCount) {
            return std::nullopt;
        }
        return ReadAt<pf::Country>(base, countries + std::size_t{i} * sizeof(pf::Country));
    }
    [[nodiscard]] pf::Zone ZoneAt(std::uint32_t i) const noexcept {
        return ReadAt<pf::Zone>(base, zones + std::size_t{i} * sizeof(pf::Zone));
    }
};

struct PlaceIndex::Found {
    std::optional<pf::Place> nearest;  // any place
    double nearestKm = std::numeric_limits<double>::infinity();
    std::optional<pf::Place>
        town;  // the largest that is no quarter within kTownOfQuarterKm, the nearer of two
    double townKm = std::numeric_limits<double>::infinity();
};

PlaceIndex::PlaceIndex(std::unique_ptr<Mapping> mapping) : mapping_(std::move(mapping)) {}
PlaceIndex::PlaceIndex(PlaceIndex&&) noexcept = default;
PlaceIndex& PlaceIndex::operator=(PlaceIndex&&) noexcept = default;
PlaceIndex::~PlaceIndex() = default;

PlaceIndex PlaceIndex::Open(const std::string& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw PlaceDataError(CannotRead(path, ReasonText(errno)));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        throw PlaceDataError(CannotRead(path, ReasonText(errno)));
    }
    if (!S_ISREG(st.st_mode)) {
        throw PlaceDataError(CannotRead(path, "sie ist keine gewöhnliche Datei"));
    }
    auto mapping = std::make_unique<Mapping>();
    mapping->size = static_cast<std::size_t>(st.st_size);
    if (mapping->size > 0) {
        void* mapped = ::mmap(nullptr, mapping->size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
        if (mapped == MAP_FAILED) {
            throw PlaceDataError(CannotRead(path, ReasonText(errno)));
        }
        mapping->mapped = mapped;
        mapping->base = static_cast<const std::uint8_t*>(mapped);
    }
    if (const std::optional<std::string> problem = mapping->Check()) {
        throw PlaceDataError(CannotRead(path, *problem));
    }
    return PlaceIndex(std::move(mapping));
}

PlaceIndex PlaceIndex::FromBytes(std::vector<std::uint8_t> bytes) {
    auto mapping = std::make_unique<Mapping>();
    mapping->held = std::move(bytes);
    mapping->base = mapping->held.data();
    mapping->size = mapping->held.size();
    if (const std::optional<std::string> problem = mapping->Check()) {
        throw PlaceDataError(CannotRead("(Speicher)", *problem));
    }
    return PlaceIndex(std::move(mapping));
}

std::size_t PlaceIndex::PlaceCount() const noexcept { return mapping_->header.placeCount; }

std::string PlaceIndex::Text(std::uint32_t offset) const {
    const Mapping& m = *mapping_;
    if (offset >= m.header.textSize) {
        return {};
    }
    // The pool ends with a zero byte (checked at open), so every name ends within it.
    const auto* start = reinterpret_cast<const char*>(m.base + m.text + offset);
    const std::string_view name(start);
    return IsCleanText(name) ? std::string(name) : std::string();
}

double DistanceKm(double lat1, double lon1, double lat2, double lon2) noexcept {
    constexpr double kRadians = std::numbers::pi / 180.0;
    const double dLat = (lat2 - lat1) * kRadians;
    const double dLon = (lon2 - lon1) * kRadians;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) + std::cos(lat1 * kRadians) *
                                                                   std::cos(lat2 * kRadians) *
                                                                   std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
}

PlaceIndex::Found PlaceIndex::Nearest(double lat, double lon, double radiusKm) const {
    const Mapping& m = *mapping_;
    Found found;
    const double dLat = radiusKm / kKmPerDegree;
    const int firstRow = Row(lat - dLat);
    const int lastRow = Row(lat + dLat);
    // The columns of the widest row the circle touches; near a pole every column.
    const double farthest = std::min(90.0, std::max(std::fabs(lat - dLat), std::fabs(lat + dLat)));
    const double shrink = std::cos(farthest * std::numbers::pi / 180.0);
    int firstColumn = 0;
    int columns = pf::kColumns;
    // Places outside the band of latitudes, or (away from the poles) of longitudes, around the position
    // are too far for the radius; the costly exact distance is computed only for the rest. A place dLon
    // degrees of longitude away lies at least shrink * dLon degrees of arc away, for it and the position
    // both lie where the parallels are at least shrink long; the margin covers the rounding of small arcs.
    const auto lowest = static_cast<std::int32_t>(std::floor((lat - dLat) * pf::kUnitsPerDegree));
    const auto highest = static_cast<std::int32_t>(std::ceil((lat + dLat) * pf::kUnitsPerDegree));
    double lonLimit = 360.0;
    if (shrink > 1e-6 && dLat / shrink < 179.0) {
        const double dLon = dLat / shrink;
        if (dLon < 10.0) {
            lonLimit = dLon * 1.02;
        }
        firstColumn = static_cast<int>(std::floor(lon - dLon)) + 180;
        columns = std::min(pf::kColumns, static_cast<int>(std::floor(lon + dLon)) + 180 - firstColumn + 1);
    }
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int k = 0; k < columns; ++k) {
            // Across the date line the columns continue on the other side.
            const int column = ((firstColumn + k) % pf::kColumns + pf::kColumns) % pf::kColumns;
            const auto cell = static_cast<std::uint32_t>(row * pf::kColumns + column);
            const std::uint32_t end = m.CellStart(cell + 1);
            for (std::uint32_t i = m.CellStart(cell); i < end; ++i) {
                const pf::Place place = m.PlaceAt(i);
                if (place.lat < lowest || place.lat > highest) {
                    continue;
                }
                double apart = std::fabs(place.lon / pf::kUnitsPerDegree - lon);
                if (std::min(apart, 360.0 - apart) > lonLimit) {
                    continue;
                }
                const double km =
                    DistanceKm(lat, lon, place.lat / pf::kUnitsPerDegree, place.lon / pf::kUnitsPerDegree);
                if (km > radiusKm) {
                    continue;
                }
                if (km < found.nearestKm) {
                    found.nearest = place;
                    found.nearestKm = km;
                }
                if ((place.flags & pf::kQuarter) == 0 && km <= kTownOfQuarterKm) {
                    const int size = place.flags >> pf::kSizeShift;
                    const int townSize = found.town ? found.town->flags >> pf::kSizeShift : -1;
                    if (size > townSize || (size == townSize && km < found.townKm)) {
                        found.town = place;
                        found.townKm = km;
                    }
                }
            }
        }
    }
    return found;
}

PlaceNames PlaceIndex::Lookup(double lat, double lon) const {
    PlaceNames names;
    if (!(lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180)) {
        return names;
    }
    const Found found = Nearest(lat, lon, kCountryRadiusKm);
    if (!found.nearest) {
        return names;
    }
    if (const std::optional<pf::Country> country = mapping_->CountryAt(found.nearest->country)) {
        const std::string_view code(country->code, 2);
        if (IsCleanText(code) &&
            std::all_of(code.begin(), code.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
            names.countryCode = code;
            names.country = Text(country->name);
        }
    }
    if (found.nearestKm <= kCityRadiusKm) {
        const pf::Place& place =
            (found.nearest->flags & pf::kQuarter) != 0 && found.town ? *found.town : *found.nearest;
        names.city = Text(place.name);
        if (place.state != pf::kNoState && place.state < mapping_->header.stateCount) {
            names.state =
                Text(ReadAt<std::uint32_t>(mapping_->base, mapping_->states + std::size_t{place.state} * 4));
        }
    }
    return names;
}

std::string PlaceIndex::ZoneName(double lat, double lon) const {
    if (!(lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180)) {
        return {};
    }
    const Mapping& m = *mapping_;
    Found found = Nearest(lat, lon, kCountryRadiusKm);
    if (!found.nearest) {
        found = Nearest(lat, lon, kZoneRadiusKm);
    }
    if (found.nearest) {
        const std::optional<pf::Country> country = m.CountryAt(found.nearest->country);
        if (country && country->zoneCount > 0 &&
            std::uint32_t{country->firstZone} + country->zoneCount <= m.header.zoneCount) {
            std::optional<pf::Zone> best;
            double bestKm = std::numeric_limits<double>::infinity();
            const std::uint32_t first = country->firstZone;
            const std::uint32_t own = std::min(country->ownZoneCount, country->zoneCount);
            for (std::uint32_t z = first; z < first + country->zoneCount; ++z) {
                const pf::Zone zone = m.ZoneAt(z);
                const double km =
                    DistanceKm(lat, lon, zone.lat / pf::kUnitsPerDegree, zone.lon / pf::kUnitsPerDegree);
                // An alias zone of a country that has zones of its own marks an exclave (Büsingen in
                // Germany keeps Zurich's time): it is the zone only on the exclave itself.
                if (own > 0 && z >= first + own && km > kExclaveKm) {
                    continue;
                }
                if (km < bestKm) {
                    best = zone;
                    bestKm = km;
                }
            }
            if (std::string name = best ? Text(best->name) : std::string(); !name.empty()) {
                return name;
            }
        }
    }
    // At sea the zone is the nautical one, a whole hour per 15 degrees; the database names zones east of
    // Greenwich with a minus sign.
    const long hours = std::lround(lon / 15.0);
    if (hours == 0) {
        return "Etc/GMT";
    }
    return "Etc/GMT" + std::string(hours > 0 ? "-" : "+") + std::to_string(std::labs(hours));
}

std::string DefaultPlaceFilePath() {
    const std::string exe = ExecutableFolder();
    if (exe.empty()) {
        return kPlaceFileName;
    }
    const std::string installed = exe + "../share/zeloro/" + kPlaceFileName;
    if (::access(installed.c_str(), R_OK) == 0) {
        return installed;
    }
    return exe + kPlaceFileName;
}

}  // namespace zeloro
