// tests/support/PlaceFileBuilder.cpp: the place file layout written from a test's own places.
#include "support/PlaceFileBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "places/PlaceFile.h"

namespace zeloro::test {
namespace {

namespace pf = placefile;

template <typename T>
void Append(std::vector<std::uint8_t>& out, const T& value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(value));
}

std::int32_t Units(double degrees) {
    return static_cast<std::int32_t>(std::lround(degrees * pf::kUnitsPerDegree));
}

}  // namespace

std::vector<std::uint8_t> PlaceFileBuilder::Bytes() const {
    std::string text(1, '\0');
    const auto add = [&text](const std::string& s) {
        const auto offset = static_cast<std::uint32_t>(text.size());
        text += s;
        text += '\0';
        return offset;
    };
    std::vector<std::pair<std::uint32_t, pf::Place>> sorted;
    for (const BuiltPlace& p : places) {
        pf::Place place{};
        place.lat = Units(p.lat);
        place.lon = Units(p.lon);
        place.name = add(p.name);
        place.state = p.state < 0 ? pf::kNoState : static_cast<std::uint16_t>(p.state);
        place.country = p.country;
        place.flags = static_cast<std::uint8_t>((p.quarter ? pf::kQuarter : 0) | (p.size << pf::kSizeShift));
        const int row = std::clamp(static_cast<int>(std::floor(p.lat)) + 90, 0, pf::kRows - 1);
        const int column = std::clamp(static_cast<int>(std::floor(p.lon)) + 180, 0, pf::kColumns - 1);
        sorted.emplace_back(static_cast<std::uint32_t>(row * pf::kColumns + column), place);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<pf::Country> countryRecords;
    std::vector<pf::Zone> zoneRecords;
    for (const BuiltCountry& c : countries) {
        pf::Country record{};
        std::memcpy(record.code, c.code.data(), std::min<std::size_t>(2, c.code.size()));
        record.name = add(c.name);
        record.firstZone = static_cast<std::uint16_t>(zoneRecords.size());
        record.zoneCount = static_cast<std::uint16_t>(c.zones.size());
        for (const bool alias : {false, true}) {
            for (const BuiltZone& z : c.zones) {
                if (z.alias == alias) {
                    zoneRecords.push_back(pf::Zone{Units(z.lat), Units(z.lon), add(z.name)});
                    record.ownZoneCount = static_cast<std::uint16_t>(record.ownZoneCount + (alias ? 0 : 1));
                }
            }
        }
        countryRecords.push_back(record);
    }
    std::vector<std::uint32_t> stateRecords;
    for (const std::string& s : states) {
        stateRecords.push_back(add(s));
    }

    std::vector<std::uint8_t> out;
    pf::Header header{};
    std::memcpy(header.magic, pf::kMagic.data(), pf::kMagic.size());
    header.version = pf::kVersion;
    header.placeCount = static_cast<std::uint32_t>(sorted.size());
    header.countryCount = static_cast<std::uint32_t>(countryRecords.size());
    header.zoneCount = static_cast<std::uint32_t>(zoneRecords.size());
    header.stateCount = static_cast<std::uint32_t>(stateRecords.size());
    header.textSize = static_cast<std::uint32_t>(text.size());
    Append(out, header);
    std::uint32_t at = 0;
    for (std::uint32_t cell = 0; cell <= pf::kCellCount; ++cell) {
        while (at < sorted.size() && sorted[at].first < cell) {
            ++at;
        }
        Append(out, at);
    }
    for (const auto& entry : sorted) {
        Append(out, entry.second);
    }
    for (const pf::Country& c : countryRecords) {
        Append(out, c);
    }
    for (const pf::Zone& z : zoneRecords) {
        Append(out, z);
    }
    for (const std::uint32_t s : stateRecords) {
        Append(out, s);
    }
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

}  // namespace zeloro::test
