// tools/PlacesSeeds.cpp: seeds of the place file fuzz target, small worlds built with the tests' builder
// and written in the target's compact form (its cell table as the places each cell adds).
// Usage: zeloro_places_seeds FOLDER
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "places/PlaceFile.h"
#include "support/PlaceFileBuilder.h"

namespace {

namespace pf = zeloro::placefile;
using zeloro::test::PlaceFileBuilder;

std::vector<std::uint8_t> Compact(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> out(file.begin(), file.begin() + sizeof(pf::Header));
    std::vector<std::pair<std::uint32_t, std::int32_t>> entries;
    std::uint32_t previous = 0;
    for (std::uint32_t cell = 1; cell <= pf::kCellCount; ++cell) {
        std::uint32_t start = 0;
        std::memcpy(&start, file.data() + sizeof(pf::Header) + std::size_t{cell} * 4, 4);
        if (start != previous) {
            entries.emplace_back(cell - 1, static_cast<std::int32_t>(start - previous));
            previous = start;
        }
    }
    const auto count = static_cast<std::uint16_t>(entries.size());
    out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&count),
               reinterpret_cast<const std::uint8_t*>(&count) + 2);
    for (const auto& [cell, added] : entries) {
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&cell),
                   reinterpret_cast<const std::uint8_t*>(&cell) + 4);
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&added),
                   reinterpret_cast<const std::uint8_t*>(&added) + 4);
    }
    const std::size_t rest = sizeof(pf::Header) + (std::size_t{pf::kCellCount} + 1) * 4;
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(rest), file.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " FOLDER\n";
        return 2;
    }
    PlaceFileBuilder world;
    world.countries = {{"AA", "Aland", {{"Etc/Aland", 0, 10, false}}},
                       {"BB", "Beland", {{"Bb/West", 0, 20, false}, {"Bb/Exclave", 0, 19, true}}},
                       {"FJ", "Fidschi", {{"Pacific/Fiji", 0, 179.9, false}}}};
    world.states = {"Nordprovinz"};
    world.places = {{"Aastadt", 0, 10, 0, 0, false, 20},         {"Altstadt", 0, 10.05, 0, 0, true, 0},
                    {"Bestadt", 0, 20.45, 1, -1, false, 16},     {"Labasa", 0, 179.95, 2, -1, false, 12},
                    {"Polstation", 89.95, 100, 0, -1, false, 8}, {"Köln", 50.9375, 6.9603, 1, 0, false, 20}};
    PlaceFileBuilder empty;
    empty.countries = {{"AA", "Aland", {}}};
    const std::vector<std::pair<std::string, PlaceFileBuilder>> seeds{{"world.bin", world},
                                                                      {"empty.bin", empty}};
    for (const auto& [name, builder] : seeds) {
        const std::vector<std::uint8_t> bytes = Compact(builder.Bytes());
        std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::cerr << "cannot write " << name << "\n";
            return 1;
        }
    }
    return 0;
}
