// tests/support/PlaceFileBuilder.h: small place files built in code, byte for byte in the layout the
// build's converter writes, so a test sees every place its result depends on.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zeloro::test {

struct BuiltZone {
    std::string name;  // "Europe/Berlin"
    double lat = 0;    // its principal place
    double lon = 0;
    bool alias = false;  // a link of the database to another zone
};

struct BuiltCountry {
    std::string code;  // "DE"
    std::string name;  // "Deutschland"
    std::vector<BuiltZone> zones;
};

struct BuiltPlace {
    std::string name;
    double lat = 0;
    double lon = 0;
    std::uint8_t country = 0;  // index into the countries
    int state = -1;            // index into the states, -1 none
    bool quarter = false;
    std::uint8_t size = 0;  // binary logarithm of the inhabitants, 0 unknown
};

struct PlaceFileBuilder {
    std::vector<BuiltCountry> countries;
    std::vector<std::string> states;
    std::vector<BuiltPlace> places;
    [[nodiscard]] std::vector<std::uint8_t> Bytes() const;
};

}  // namespace zeloro::test
