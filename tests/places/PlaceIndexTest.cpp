// tests/places/PlaceIndexTest.cpp: the rules of the place lookup on small files built here, the checks
// on damaged files, and the names and zones the delivered data gives for well-known spots.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "places/PlaceFile.h"
#include "places/PlaceIndex.h"
#include "support/PlaceFileBuilder.h"
#include "support/TestSupport.h"

namespace zeloro {

// Readable failures; found by argument lookup in the type's namespace.
void PrintTo(const PlaceNames& n, std::ostream* os) {
    *os << "{" << n.city << " | " << n.state << " | " << n.country << " | " << n.countryCode << "}";
}

namespace {

using test::BuiltCountry;
using test::BuiltPlace;
using test::PlaceFileBuilder;

// Two countries on the equator and around the date line, one with two zones and an exclave's alias zone.
PlaceFileBuilder RuleWorld() {
    PlaceFileBuilder b;
    b.countries = {
        BuiltCountry{"AA", "Aland", {{"Etc/Aland", 0, 10, false}}},
        BuiltCountry{"BB",
                     "Beland",
                     {{"Bb/West", 0, 20, false}, {"Bb/East", 0, 24, false}, {"Bb/Exclave", 0, 19, true}}},
        BuiltCountry{"FJ", "Fidschi", {{"Pacific/Fiji", 0, 179.9, false}}},
        BuiltCountry{"PN", "Polarland", {{"Polar/Station", 89.95, 100, false}}},
    };
    b.states = {"Nordprovinz"};
    // One degree is 111.2 km at the equator: 0.1 degrees is 11.1 km.
    b.places = {
        {"Aastadt", 0, 10, 0, 0, false, 20},
        {"Aadorf", 0, 10.2, 0, 0, false, 10},     // 22 km east of the town
        {"Altstadt", 0, 10.05, 0, 0, true, 0},    // a quarter, 5.6 km from its town
        {"Fernviertel", 1, 10, 0, -1, true, 0},   // a quarter with no town near it
        {"Bestadt", 0, 20.45, 1, -1, false, 16},  // 50 km from Aastadt's meridian... and beyond
        {"Labasa", 0, 179.95, 2, -1, false, 12},
        {"Polstation", 89.95, 100, 3, -1, false, 8},
    };
    return b;
}

struct RuleCase {
    std::string_view name;
    double lat;
    double lon;
    PlaceNames want;
};
void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class LookupRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(LookupRules, MatchesTable) {
    const RuleCase& c = GetParam();
    const PlaceIndex index = PlaceIndex::FromBytes(RuleWorld().Bytes());
    EXPECT_EQ(index.Lookup(c.lat, c.lon), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    PlaceIndex, LookupRules,
    ::testing::Values(RuleCase{"TownItself", 0, 10, {"Aastadt", "Nordprovinz", "Aland", "AA"}},
                      // Nearer to the village than to the town: the village, though smaller.
                      RuleCase{"VillageBesideTown", 0, 10.16, {"Aadorf", "Nordprovinz", "Aland", "AA"}},
                      // Nearest is the quarter; its town lies within 15 km, so the town is named.
                      RuleCase{"QuarterOfTown", 0, 10.06, {"Aastadt", "Nordprovinz", "Aland", "AA"}},
                      // A quarter with no other place within 15 km keeps its own name.
                      RuleCase{"QuarterAlone", 1.01, 10, {"Fernviertel", "", "Aland", "AA"}},
                      // 33 km from the village: past the city radius, within the country radius.
                      RuleCase{"CountryOnly", 0, 10.5, {"", "", "Aland", "AA"}},
                      // 55 km from anything: open sea.
                      RuleCase{"OpenSea", 0, 15, {}},
                      // Across the date line: 0.15 degrees (16.7 km) from Labasa the other way round.
                      RuleCase{"DateLine", 0, -179.9, {"Labasa", "", "Fidschi", "FJ"}},
                      // The pole is 5.6 km from the station, whatever the longitude.
                      RuleCase{"NorthPole", 90, -45, {"Polstation", "", "Polarland", "PN"}},
                      RuleCase{"SouthPole", -90, 0, {}}, RuleCase{"OutsideGlobe", 91, 0, {}},
                      RuleCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), 0, {}}),
    [](const auto& p) { return std::string(p.param.name); });

struct ZoneCase {
    std::string_view name;
    double lat;
    double lon;
    std::string_view want;
};
void PrintTo(const ZoneCase& c, std::ostream* os) { *os << c.name; }

class ZoneRules : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(ZoneRules, MatchesTable) {
    const ZoneCase& c = GetParam();
    const PlaceIndex index = PlaceIndex::FromBytes(RuleWorld().Bytes());
    EXPECT_EQ(index.ZoneName(c.lat, c.lon), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    PlaceIndex, ZoneRules,
    ::testing::Values(ZoneCase{"OneZone", 0, 10.1, "Etc/Aland"},
                      // Of two zones of one country, the one whose principal place is nearer.
                      ZoneCase{"WestOfTwo", 0, 20.45, "Bb/West"},
                      // 200 km from the country's only place: still its country, now its eastern zone.
                      ZoneCase{"EastOfTwo", 0, 22.3, "Bb/East"},
                      // The alias zone lies nearest, but an exclave's zone holds only on the exclave.
                      ZoneCase{"ExclavePassedOver", 0, 19.1, "Bb/West"},
                      ZoneCase{"OnTheExclave", 0, 19.05, "Bb/Exclave"},
                      ZoneCase{"DateLine", 0, -179.95, "Pacific/Fiji"},
                      // No place within 300 km: the nautical zone, a whole hour per 15 degrees.
                      ZoneCase{"SeaEast", 30, 30, "Etc/GMT-2"}, ZoneCase{"SeaWest", 45, -30, "Etc/GMT+2"},
                      ZoneCase{"SeaGreenwich", -60, 7, "Etc/GMT"}, ZoneCase{"SouthPole", -90, 0, "Etc/GMT"}),
    [](const auto& p) { return std::string(p.param.name); });

// A place file someone replaced must neither crash the reader nor put unchecked bytes into a photo.
struct DamageCase {
    std::string_view name;
    void (*damage)(std::vector<std::uint8_t>&);
};
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedFile : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFile, IsRefused) {
    std::vector<std::uint8_t> bytes = RuleWorld().Bytes();
    GetParam().damage(bytes);
    try {
        static_cast<void>(PlaceIndex::FromBytes(bytes));
        FAIL() << "accepted";
    } catch (const PlaceDataError& e) {
        EXPECT_TRUE(
            std::string_view(e.what()).starts_with("Die Ortsdaten (Speicher) können nicht gelesen werden: "))
            << e.what();
    }
}

constexpr std::size_t kCellTable = sizeof(placefile::Header);

INSTANTIATE_TEST_SUITE_P(
    PlaceIndex, DamagedFile,
    ::testing::Values(
        DamageCase{"Empty", [](std::vector<std::uint8_t>& b) { b.clear(); }},
        DamageCase{"HeaderOnly", [](std::vector<std::uint8_t>& b) { b.resize(sizeof(placefile::Header)); }},
        DamageCase{"OtherMagic", [](std::vector<std::uint8_t>& b) { b[0] = 'X'; }},
        DamageCase{"OtherVersion", [](std::vector<std::uint8_t>& b) { b[8] = 2; }},
        DamageCase{"Truncated", [](std::vector<std::uint8_t>& b) { b.pop_back(); }},
        DamageCase{"TrailingByte", [](std::vector<std::uint8_t>& b) { b.push_back(0); }},
        // A place count in the billions: the sizes must not wrap into a small file.
        DamageCase{"HugePlaceCount",
                   [](std::vector<std::uint8_t>& b) {
                       b[12] = 0xFF;
                       b[13] = 0xFF;
                       b[14] = 0xFF;
                       b[15] = 0x0F;
                   }},
        DamageCase{"TextNotEnded", [](std::vector<std::uint8_t>& b) { b.back() = 'x'; }},
        // A cell that starts past the places would send the lookup beyond the table.
        DamageCase{"CellPastPlaces",
                   [](std::vector<std::uint8_t>& b) {
                       const std::uint32_t big = 1000;
                       std::memcpy(&b[kCellTable + 4], &big, 4);
                   }},
        DamageCase{"CellsDownwards",
                   [](std::vector<std::uint8_t>& b) {
                       const std::uint32_t one = 1;
                       std::memcpy(&b[kCellTable], &one, 4);
                   }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PlaceIndex, LeavesOutNamesThatAreNoCleanText) {
    PlaceFileBuilder b = RuleWorld();
    b.places[0].name = "Aa\x1b[31mstadt";  // a terminal escape
    b.states[0] = "Nord\xC3provinz";       // broken UTF-8
    b.countries[0].name = "Al\xC2\x85nd";  // a C1 control character
    const PlaceIndex index = PlaceIndex::FromBytes(b.Bytes());
    EXPECT_EQ(index.Lookup(0, 10), (PlaceNames{"", "", "", "AA"}));
}

TEST(PlaceIndex, IgnoresIndexesPastTheirTables) {
    PlaceFileBuilder b = RuleWorld();
    b.places[0].state = 7;    // there is one state
    b.places[0].country = 9;  // and four countries
    const PlaceIndex index = PlaceIndex::FromBytes(b.Bytes());
    EXPECT_EQ(index.Lookup(0, 10), (PlaceNames{"Aastadt", "", "", ""}));
    EXPECT_EQ(index.ZoneName(0, 10), "Etc/GMT-1");
}

TEST(PlaceIndex, OpenNamesTheFileAndReason) {
    const test::TempDir dir;
    const std::string missing = (dir.path() / "none.bin").string();
    try {
        static_cast<void>(PlaceIndex::Open(missing));
        FAIL() << "opened";
    } catch (const PlaceDataError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Die Ortsdaten " + missing + " können nicht gelesen werden: nicht vorhanden");
    }
    const std::string built = (dir.path() / "world.bin").string();
    const std::vector<std::uint8_t> bytes = RuleWorld().Bytes();
    test::WriteFileBytes(built, bytes);
    EXPECT_EQ(PlaceIndex::Open(built).Lookup(0, -179.9).city, "Labasa");
}

// ---- the delivered data: what a traveller's photos get

struct SpotCase {
    std::string_view name;
    double lat;
    double lon;
    PlaceNames want;
    std::string_view zone;
};
void PrintTo(const SpotCase& c, std::ostream* os) { *os << c.name; }

class DeliveredData : public ::testing::TestWithParam<SpotCase> {};

TEST_P(DeliveredData, NamesTheSpot) {
    const SpotCase& c = GetParam();
    const PlaceIndex index = PlaceIndex::Open((test::BuildDir() / kPlaceFileName).string());
    EXPECT_EQ(index.Lookup(c.lat, c.lon), c.want);
    EXPECT_EQ(index.ZoneName(c.lat, c.lon), c.zone);
}

INSTANTIATE_TEST_SUITE_P(
    PlaceIndex, DeliveredData,
    ::testing::Values(
        SpotCase{"Cologne",
                 50.9375,
                 6.9603,
                 {"Köln", "North Rhine-Westphalia", "Deutschland", "DE"},
                 "Europe/Berlin"},
        SpotCase{"Munich", 48.1372, 11.5755, {"Munich", "Bavaria", "Deutschland", "DE"}, "Europe/Berlin"},
        // Schwabing is a quarter of Munich: the photo is named after the city.
        SpotCase{
            "MunichSchwabing", 48.1650, 11.5860, {"Munich", "Bavaria", "Deutschland", "DE"}, "Europe/Berlin"},
        // A town of its own at Munich's edge keeps its name.
        SpotCase{"Unterfoehring",
                 48.1925,
                 11.6444,
                 {"Unterföhring", "Bavaria", "Deutschland", "DE"},
                 "Europe/Berlin"},
        SpotCase{"Tromso", 69.6496, 18.9560, {"Tromsø", "Troms", "Norwegen", "NO"}, "Europe/Oslo"},
        SpotCase{"Helgoland",
                 54.1810,
                 7.8850,
                 {"Helgoland", "Schleswig-Holstein", "Deutschland", "DE"},
                 "Europe/Berlin"},
        SpotCase{"Longyearbyen",
                 78.2230,
                 15.6460,
                 {"Longyearbyen", "Svalbard", "Svalbard und Jan Mayen", "SJ"},
                 "Arctic/Longyearbyen"},
        // Both sides of the Neisse, a few hundred metres apart.
        SpotCase{"Goerlitz", 51.1528, 14.9872, {"Görlitz", "Saxony", "Deutschland", "DE"}, "Europe/Berlin"},
        SpotCase{
            "Zgorzelec", 51.1500, 15.0083, {"Zgorzelec", "Lower Silesia", "Polen", "PL"}, "Europe/Warsaw"},
        // And of the Rhine.
        SpotCase{
            "Kehl", 48.5725, 7.8150, {"Kehl", "Baden-Wurttemberg", "Deutschland", "DE"}, "Europe/Berlin"},
        // Konstanz lies 18 km from Büsingen, whose zone keeps Zurich's rules: Konstanz keeps Germany's.
        SpotCase{"Konstanz",
                 47.6603,
                 9.1758,
                 {"Konstanz", "Baden-Wurttemberg", "Deutschland", "DE"},
                 "Europe/Berlin"},
        SpotCase{"Buesingen",
                 47.6969,
                 8.6903,
                 {"Büsingen", "Baden-Wurttemberg", "Deutschland", "DE"},
                 "Europe/Busingen"},
        SpotCase{
            "Strasbourg", 48.5734, 7.7521, {"Strasbourg", "Grand Est", "Frankreich", "FR"}, "Europe/Paris"},
        SpotCase{"Kolkata", 22.5726, 88.3639, {"Kolkata", "West Bengal", "Indien", "IN"}, "Asia/Kolkata"},
        SpotCase{"Kathmandu",
                 27.7172,
                 85.3240,
                 {"Kathmandu", "Bagmati Province", "Nepal", "NP"},
                 "Asia/Kathmandu"},
        SpotCase{"Lisbon", 38.7223, -9.1393, {"Lisbon", "Lisbon", "Portugal", "PT"}, "Europe/Lisbon"},
        SpotCase{"Funchal", 32.6669, -16.9241, {"Funchal", "Madeira", "Portugal", "PT"}, "Atlantic/Madeira"},
        SpotCase{"Reykjavik",
                 64.1466,
                 -21.9426,
                 {"Reykjavík", "Capital Region", "Island", "IS"},
                 "Atlantic/Reykjavik"},
        SpotCase{"BuenosAires",
                 -34.6037,
                 -58.3816,
                 {"Buenos Aires", "Buenos Aires F.D.", "Argentinien", "AR"},
                 "America/Argentina/Buenos_Aires"},
        // 44 km west of Egvekinot across the 180th meridian: Russia, but no town near enough to name.
        SpotCase{"DateLineChukotka", 66.3232, 179.9, {"", "", "Russische Föderation", "RU"}, "Asia/Anadyr"},
        SpotCase{"NorthPole", 90, 0, {}, "Etc/GMT"}, SpotCase{"MidAtlantic", 45, -30, {}, "Etc/GMT+2"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro
