// src/places/PlaceIndex.h: place names and time zones of a position, from the place file the build makes
// out of GeoNames (places of 1,000 inhabitants and more, and seats), iso-codes and the zone table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Error.h"

namespace zeloro {

// The name of the place file, in the installed template folder and beside the programs of a build.
inline constexpr const char* kPlaceFileName = "zeloro-places.bin";

// A place within this distance names the photo's city and state.
inline constexpr double kCityRadiusKm = 30.0;
// A place within this distance names the photo's country: farther out the position is taken as open
// sea or land the data does not cover, and no country is named.
inline constexpr double kCountryRadiusKm = 50.0;
// A quarter of a town (GeoNames' PPLX) is named only when no other place lies this close to the position;
// else the largest of those places is, its town.
inline constexpr double kTownOfQuarterKm = 15.0;
// How far the zone lookup looks for a place to take the country from; beyond it the zone is the
// nautical one of the longitude.
inline constexpr double kZoneRadiusKm = 300.0;

// A place file that is missing, unreadable or not of our layout.
class PlaceDataError : public Error {
public:
    using Error::Error;
};

// What a position is called; every part empty where the data has nothing to say.
struct PlaceNames {
    std::string city;         // the place's name as GeoNames has it ("Köln", "Munich", "Tromsø")
    std::string state;        // its first-order division ("North Rhine-Westphalia"), when the data has one
    std::string country;      // in German ("Deutschland")
    std::string countryCode;  // ISO 3166-1 alpha-2 ("DE")
    [[nodiscard]] bool Empty() const noexcept { return city.empty() && countryCode.empty(); }
    friend bool operator==(const PlaceNames&, const PlaceNames&) = default;
};

// The place file, mapped into memory for as long as the index lives. Lookups are const and may run on
// several threads at once.
class PlaceIndex {
public:
    // Maps the file. Throws PlaceDataError "Die Ortsdaten PATH können nicht gelesen werden: REASON" when it
    // cannot be opened or mapped, or its layout does not check out.
    [[nodiscard]] static PlaceIndex Open(const std::string& path);
    // The same over bytes held by the index (tests, fuzzing). Throws PlaceDataError as Open does.
    [[nodiscard]] static PlaceIndex FromBytes(std::vector<std::uint8_t> bytes);

    PlaceIndex(PlaceIndex&&) noexcept;
    PlaceIndex& operator=(PlaceIndex&&) noexcept;
    ~PlaceIndex();

    // The names of a position in degrees (north and east positive). City and state: the nearest place
    // within kCityRadiusKm, but for a quarter the largest other place within kTownOfQuarterKm; country and
    // its code: those of the nearest place within kCountryRadiusKm. Beyond that, at the poles and for
    // coordinates outside the globe: nothing.
    [[nodiscard]] PlaceNames Lookup(double lat, double lon) const;

    // The zone of the time-zone database in force at a position: the country of the nearest place within
    // kZoneRadiusKm; of a country's several zones the one whose principal place (as the zone table lists
    // it) lies nearest, an exclave's (an alias of another country's zone) only within 10 km of it. Without
    // such a place (open sea, the poles) the nautical zone of the longitude, "Etc/GMT-2" for 30 degrees east.
    [[nodiscard]] std::string ZoneName(double lat, double lon) const;

    [[nodiscard]] std::size_t PlaceCount() const noexcept;

private:
    struct Mapping;
    struct Found;
    explicit PlaceIndex(std::unique_ptr<Mapping> mapping);
    [[nodiscard]] Found Nearest(double lat, double lon, double radiusKm) const;
    [[nodiscard]] std::string Text(std::uint32_t offset) const;

    std::unique_ptr<Mapping> mapping_;
};

// The place file a program of this build or installation reads: the installed template folder's
// (../share/zeloro/ from the program's folder) when it holds one, else the one beside the program.
[[nodiscard]] std::string DefaultPlaceFilePath();

// Great-circle distance in kilometres.
[[nodiscard]] double DistanceKm(double lat1, double lon1, double lat2, double lon2) noexcept;

}  // namespace zeloro
