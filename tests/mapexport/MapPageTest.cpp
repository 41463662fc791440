// tests/mapexport/MapPageTest.cpp: the two map pages as texts, the key, the file, and the delivered marker
// image.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Error.h"
#include "mapexport/MapPage.h"
#include "mapexport/MapThumbnails.h"
#include "support/MapPageData.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ScopedVariable;
using test::TempDir;

// ---- the page on OpenStreetMap tiles

std::size_t Count(std::string_view text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// What the page should show of the content: a marker per photo with its popup, a line per track.
test::PageData DataOf(const MapContent& content) {
    test::PageData data;
    for (const MapPhoto& photo : content.photos) {
        data.photos.push_back(
            {photo.position.latitude, photo.position.longitude, photo.fileName, photo.shotTime});
    }
    for (const auto& track : content.tracks) {
        auto& line = data.tracks.emplace_back();
        for (const MapPoint& point : track) {
            line.push_back({point.latitude, point.longitude});
        }
    }
    return data;
}

MapContent TwoPhotosOneTrack() {
    MapContent content;
    content.photos.push_back({{47.659685, 9.17578}, "IMG_0001.jpg", "16.05.2026 10:00:30 (UTC + 2:00)"});
    content.photos.push_back({{-33.8567, 151.215}, "Ä.jpg", ""});
    content.tracks.push_back({{47.6595, 9.1756}, {47.659562, 9.17566}});
    return content;
}

TEST(LeafletPage, CarriesPhotosAndTracksAsData) {
    EXPECT_EQ(test::ReadPageData(BuildLeafletPage(TwoPhotosOneTrack())), DataOf(TwoPhotosOneTrack()));
    // Several tracks, an empty one included; numbers are the shortest text of the same double, so the
    // page shows the very position the photo holds.
    MapContent content;
    content.photos.push_back({{1e-7, -0.5}, "a", "b"});
    content.tracks = {{{1, 2}}, {}, {{3.25, -4}}};
    const std::string page = BuildLeafletPage(content);
    EXPECT_EQ(test::ReadPageData(page), DataOf(content));
    EXPECT_EQ(test::PageDataText(page),
              "{\"photos\":[{\"lat\":1e-07,\"lon\":-0.5,\"name\":\"a\",\"shot\":\"b\"}],"
              "\"tracks\":[[[1,2]],[],[[3.25,-4]]]}");
}

// The popup names the place only on a page whose photos carry one; every other page is the one it was.
TEST(LeafletPage, PlaceLineOnlyForPhotosWithAPlace) {
    MapContent content;
    content.photos.push_back({{1, 2}, "a", "b"});
    const std::string plain = BuildLeafletPage(content);
    content.photos.push_back({{3, 4}, "c", "d", "Köln, Deutschland"});
    const std::string placed = BuildLeafletPage(content);
    EXPECT_EQ(plain.find("Ort: "), std::string::npos);
    EXPECT_EQ(test::PageDataText(placed),
              "{\"photos\":[{\"lat\":1,\"lon\":2,\"name\":\"a\",\"shot\":\"b\"},"
              "{\"lat\":3,\"lon\":4,\"name\":\"c\",\"shot\":\"d\",\"place\":\"Köln, Deutschland\"}],"
              "\"tracks\":[]}");
    const std::string lines =
        "    if (photo.place) {\r\n"
        "      popup.appendChild(document.createElement('br'));\r\n"
        "      popup.appendChild(document.createTextNode('Ort: ' + photo.place));\r\n"
        "    }\r\n";
    std::string expected = plain;
    expected.replace(expected.find(test::PageDataText(plain)), test::PageDataText(plain).size(),
                     test::PageDataText(placed));
    expected.insert(expected.find("    marker.bindPopup(popup);"), lines);
    EXPECT_EQ(placed, expected);
    EXPECT_TRUE(test::PageWellFormed(placed));
}

TEST(LeafletPage, LoadsNoScriptFromTheNet) {
    const std::string page = BuildLeafletPage(TwoPhotosOneTrack());
    EXPECT_TRUE(test::PageWellFormed(page));
    EXPECT_TRUE(
        page.starts_with("<!DOCTYPE html>\r\n<html lang=\"de\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"));
    EXPECT_TRUE(page.ends_with("</body>\r\n</html>\r\n"));
    EXPECT_EQ(Count(page, "\n"), Count(page, "\r\n")) << "CR LF line ends only";
    // Leaflet, its style and the marker are files beside the page; the tiles and the attribution's
    // link are the only addresses on the net.
    EXPECT_EQ(Count(page, "src="), 2U);
    EXPECT_NE(page.find("<script src=\"leaflet.js\"></script>\r\n<script src=\"leaflet.markercluster.js\">"),
              std::string::npos);
    EXPECT_EQ(Count(page, "href="), 4U);
    for (const char* style : {"leaflet.css", "MarkerCluster.css", "MarkerCluster.Default.css"}) {
        EXPECT_NE(page.find("<link rel=\"stylesheet\" href=\"" + std::string(style) + "\">"),
                  std::string::npos)
            << style;
    }
    EXPECT_NE(page.find("iconUrl: 'marker.png'"), std::string::npos);
    EXPECT_EQ(Count(page, "://"), 2U);
    EXPECT_NE(page.find("'https://tile.openstreetmap.org/{z}/{x}/{y}.png'"), std::string::npos);
    EXPECT_NE(page.find("&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap "
                        "contributors</a>"),
              std::string::npos);
}

struct EscapeCase {
    std::string name;
    std::string text;
    std::string json;
    std::optional<std::string> shown = std::nullopt;  // what the page shows, when not the text itself
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.name; }

class JsonText : public ::testing::TestWithParam<EscapeCase> {};

// A file name reaches the page only as a JSON string in which nothing can end the data element.
TEST_P(JsonText, MatchesTable) {
    const EscapeCase& c = GetParam();
    MapContent content;
    content.photos.push_back({{1, 2}, c.text, c.text});
    const std::string page = BuildLeafletPage(content);
    EXPECT_EQ(test::PageDataText(page), "{\"photos\":[{\"lat\":1,\"lon\":2,\"name\":" + c.json +
                                            ",\"shot\":" + c.json + "}],\"tracks\":[]}");
    const std::string shown = c.shown.value_or(c.text);
    EXPECT_EQ(test::ReadPageData(page), (test::PageData{{{1, 2, shown, shown}}, {}}));
}

INSTANTIATE_TEST_SUITE_P(
    LeafletPage, JsonText,
    ::testing::Values(
        EscapeCase{"Plain", "IMG_1.jpg", "\"IMG_1.jpg\""},
        EscapeCase{"Quotes", "a\"b'c.jpg", "\"a\\\"b'c.jpg\""},
        EscapeCase{"Backslash", "a\\b.jpg", "\"a\\\\b.jpg\""},
        EscapeCase{"EndOfScript", "</script><script>alert(1)</script>.jpg",
                   "\"\\u003c/script\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e.jpg\""},
        EscapeCase{"CommentOpen", "<!--.jpg", "\"\\u003c!--.jpg\""},
        EscapeCase{"Markup", "<img src=x onerror=alert(1)>&amp;.jpg",
                   "\"\\u003cimg src=x onerror=alert(1)\\u003e\\u0026amp;.jpg\""},
        EscapeCase{"Controls", std::string("a\tb\nc\x01\x1f", 7) + std::string(1, '\0') + "d",
                   "\"a\\u0009b\\u000ac\\u0001\\u001f\\u0000d\""},
        EscapeCase{"LineSeparators", "a\u2028b\u2029c", "\"a\\u2028b\\u2029c\""},
        EscapeCase{"Umlauts", "Grüße 📷.jpg", "\"Grüße 📷.jpg\""},
        EscapeCase{"MalformedUtf8", "a\xC3(\xFF.jpg", "\"a\uFFFD(\uFFFD.jpg\"", "a\uFFFD(\uFFFD.jpg"}),
    [](const auto& p) { return p.param.name; });

TEST(LeafletPage, HostileNamesLeaveTheStructureAlone) {
    MapContent plain;
    plain.photos.push_back({{1, 2}, "a.jpg", "x"});
    MapContent hostile;
    hostile.photos.push_back({{1, 2}, "</SCRIPT><script>document.title='x'</script>\"'<!--<b>", "</script>"});
    const std::string page = BuildLeafletPage(hostile);
    EXPECT_EQ(test::PageWithoutData(page), test::PageWithoutData(BuildLeafletPage(plain)));
    EXPECT_TRUE(test::PageWellFormed(page));
    EXPECT_EQ(Count(page, "<script"), 4U);
    EXPECT_EQ(Count(page, "</script"), 4U);
    EXPECT_EQ(Count(page, "</SCRIPT"), 0U);
    EXPECT_EQ(Count(page, "<!--"), 0U);
}

// The page after an undo or a removal: the notice as data, shown as text above the map, and a view for a
// page without markers; a page without a notice is the one it was.
TEST(LeafletPage, NoticeLineWithoutPhotos) {
    MapContent content;
    content.tracks = {{{1, 2}, {3, 4}}};
    content.notice = "GPS-Daten entfernt: 2 Fotos </script><b>";
    const std::string page = BuildLeafletPage(content);
    test::PageData expected = DataOf(content);
    expected.notice = content.notice;
    EXPECT_EQ(test::ReadPageData(page), expected);
    EXPECT_EQ(test::PageDataText(page),
              "{\"photos\":[],\"tracks\":[[[1,2],[3,4]]],"
              "\"notice\":\"GPS-Daten entfernt: 2 Fotos \\u003c/script\\u003e\\u003cb\\u003e\"}");
    EXPECT_TRUE(test::PageWellFormed(page));
    EXPECT_NE(page.find("  notice.textContent = places.notice;\r\n"), std::string::npos);
    EXPECT_NE(page.find("  if (!bounds.isValid()) {\r\n"), std::string::npos);

    MapContent plain;
    plain.photos.push_back({{1, 2}, "a", "b"});
    const std::string before = BuildLeafletPage(plain);
    EXPECT_EQ(before.find("notice"), std::string::npos);
    EXPECT_EQ(before.find("isValid"), std::string::npos);
}

// The data name a photo's thumbnail by its number and, for points on both sides of the date line, the
// longitude west of which the page draws them a turn further east; the rest of the page is the same.
TEST(LeafletPage, ThumbnailAndDateLineCutAreData) {
    MapContent plain;
    plain.photos.push_back({{-18.1416, 178.4419}, "a.jpg", "x"});
    MapContent content = plain;
    content.photos[0].thumbnail = 12;
    content.photos.push_back({{-13.8333, -171.7667}, "b.jpg", "y"});
    content.tracks = {{{-16.5, 179.6}, {-15.2, -178.9}}};
    const std::string page = BuildLeafletPage(content);
    EXPECT_EQ(
        test::PageDataText(page),
        "{\"photos\":[{\"lat\":-18.1416,\"lon\":178.4419,\"name\":\"a.jpg\",\"shot\":\"x\",\"thumb\":12},"
        "{\"lat\":-13.8333,\"lon\":-171.7667,\"name\":\"b.jpg\",\"shot\":\"y\"}],"
        "\"tracks\":[[[-16.5,179.6],[-15.2,-178.9]]],\"cut\":178.4419}");
    EXPECT_EQ(test::PageWithoutData(page), test::PageWithoutData(BuildLeafletPage(plain)));
    EXPECT_TRUE(test::PageWellFormed(page));
}

struct CutCase {
    std::string name;
    std::vector<double> longitudes;
    std::optional<double> cut;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

// The span of the longitudes as the page draws them with the cut.
double DrawnSpan(const std::vector<double>& longitudes, std::optional<double> cut) {
    double west = 1000;
    double east = -1000;
    for (const double lon : longitudes) {
        const double drawn = cut && lon < *cut ? lon + 360 : lon;
        west = std::min(west, drawn);
        east = std::max(east, drawn);
    }
    return east - west;
}

class DateLine : public ::testing::TestWithParam<CutCase> {};

TEST_P(DateLine, CutMatchesTable) {
    const CutCase& c = GetParam();
    const std::optional<double> cut = DateLineCut(c.longitudes);
    EXPECT_EQ(cut, c.cut);
    // Whatever the table says, no cut of the circle draws the points in less longitude: try a cut just
    // above each point.
    if (!c.longitudes.empty() && std::all_of(c.longitudes.begin(), c.longitudes.end(),
                                             [](double lon) { return lon >= -180 && lon <= 180; })) {
        const double drawn = DrawnSpan(c.longitudes, cut);
        EXPECT_LE(drawn, DrawnSpan(c.longitudes, std::nullopt));
        for (const double lon : c.longitudes) {
            EXPECT_LE(drawn, DrawnSpan(c.longitudes, std::nextafter(lon, 1000.0)) + 1e-9) << lon;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LeafletPage, DateLine,
                         ::testing::Values(
                             // Suva to Apia: both sides of the date line, 10 degrees apart over it, 350 the
                             // other way; all west of Suva is drawn east of the date line.
                             CutCase{"FijiToSamoa", {178.4419, 179.6, -178.9, -171.7667}, 178.4419},
                             CutCase{"Europe", {9.17578, -3.7038, 13.405, 2.3522}, std::nullopt},
                             CutCase{"TrackExactlyAt180", {179.99, 180, -180, -179.99}, 179.99},
                             CutCase{"BothNamesOfTheDateLine", {180, -180}, 180},
                             CutCase{"OneSpot", {-171.7667}, std::nullopt},
                             CutCase{"AroundTheWorldEvenly", {-120, 0, 120}, std::nullopt},
                             CutCase{"PacificWideButShorterOverTheDateLine", {150, -150, 100, -100}, 100},
                             CutCase{"OutsideTheRange", {179, -181}, std::nullopt},
                             CutCase{"None", {}, std::nullopt}),
                         [](const auto& p) { return p.param.name; });

TEST(LeafletPage, AllLongitudesArePhotosThenTracks) {
    MapContent content;
    content.photos = {{{1, 2}, "a", ""}, {{3, 4}, "b", ""}};
    content.tracks = {{{5, 6}}, {}, {{7, 8}, {9, 10}}};
    EXPECT_EQ(AllLongitudes(content), (std::vector<double>{2, 4, 6, 8, 10}));
}

TEST(LeafletPage, NoPhotoOrAnInfiniteCoordinateIsRefused) {
    EXPECT_THROW((void)BuildLeafletPage({}), RangeError);
    for (const double bad :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()}) {
        MapContent content;
        content.photos.push_back({{1, bad}, "a", ""});
        EXPECT_THROW((void)BuildLeafletPage(content), RangeError);
        content.photos[0].position.longitude = 2;
        content.tracks = {{{bad, 1}}};
        EXPECT_THROW((void)BuildLeafletPage(content), RangeError);
    }
}

TEST(LeafletPage, ShotTimeIsTheCameraClockWithItsZone) {
    EXPECT_EQ(ShotTimeText(EncodeDateTime(2026, 5, 16, 10, 0, 30, 0), "UTC + 2:00"),
              "16.05.2026 10:00:30 (UTC + 2:00)");
    // Midnight keeps its time, unlike the log stamp; years below 1000 keep four digits.
    EXPECT_EQ(ShotTimeText(EncodeDateTime(987, 1, 2, 0, 0, 0, 0), "UTC"), "02.01.0987 00:00:00 (UTC)");
    EXPECT_EQ(ShotTimeText(EncodeDateTime(2024, 12, 31, 23, 59, 59, 0), ""), "31.12.2024 23:59:59");
}

// ---- the page on the Google Maps script, with a key

constexpr std::string_view kKey = "AIzaSyA-b_c9";

// The text between `before` and the next `after` from `from` on; empty when either is missing.
std::string Between(const std::string& text, std::string_view before, std::string_view after,
                    std::size_t from = 0) {
    const std::size_t open = text.find(before, from);
    if (open == std::string::npos) {
        return {};
    }
    const std::size_t start = open + before.size();
    const std::size_t close = text.find(after, start);
    return close == std::string::npos ? std::string() : text.substr(start, close - start);
}

// What the Google page shows: the script's key, the map's centre and the markers, each position as the
// page's script text "lat,lon".
struct GoogleData {
    std::string key;
    std::string centre;
    std::vector<std::string> markers;
    bool operator==(const GoogleData&) const = default;
};

void PrintTo(const GoogleData& d, std::ostream* os) {
    *os << "key " << d.key << ", centre " << d.centre << ", markers";
    for (const std::string& m : d.markers) {
        *os << " (" << m << ")";
    }
}

GoogleData ReadGooglePage(const std::string& page) {
    GoogleData data;
    data.key = Between(page, "src=\"https://maps.googleapis.com/maps/api/js?sensor=false&key=", "\"");
    data.centre = Between(page, "center: new google.maps.LatLng(", "),");
    const std::string list = Between(page, "store_locations = [", "];");
    constexpr std::string_view kLatLng = "new google.maps.LatLng(";
    for (std::size_t at = list.find(kLatLng); at != std::string::npos; at = list.find(kLatLng, at + 1)) {
        data.markers.push_back(Between(list, kLatLng, ")", at));
    }
    return data;
}

// The map every Google page draws: a hybrid map at zoom 15 filling the window, one marker of the
// delivered 30 by 30 image per place, its tip at the bottom centre; CR LF line ends only.
void ExpectGoogleMap(const std::string& page) {
    EXPECT_TRUE(test::PageWellFormed(page));
    EXPECT_TRUE(page.starts_with("<html>\r\n<head>\r\n"));
    EXPECT_TRUE(page.ends_with("</body>\r\n</html>\r\n"));
    EXPECT_EQ(Count(page, "\n"), Count(page, "\r\n")) << "CR LF line ends only";
    EXPECT_EQ(Count(page, "://"), 1U) << "the script is the only address on the net";
    for (const std::string_view part :
         {"zoom: 15,", "mapTypeId: google.maps.MapTypeId.HYBRID", "<body onload=\"initialize()\">",
          "new google.maps.Map(document.getElementById(\"map_canvas\"),myOptions)",
          "<div id=\"map_canvas\" style=\"width:100%; height:100%\"></div>",
          "new google.maps.MarkerImage('marker.png',", "new google.maps.Size(30, 30)",
          "new google.maps.Point(0, 0),", "new google.maps.Point(15, 30),",
          "for(i=0;i<store_locations.length;i++)", "position: store_locations[i],", "icon: image"}) {
        EXPECT_EQ(Count(page, part), part.starts_with("new google.maps.Size") ? 2U : 1U) << part;
    }
}

TEST(GooglePage, OneEntry) {
    const std::string page = BuildGooglePage({"-33.8567|151.215|/photos/opera.jpg"}, kKey);
    EXPECT_EQ(ReadGooglePage(page),
              (GoogleData{std::string(kKey), "-33.8567,151.215", {"-33.8567,151.215"}}));
    ExpectGoogleMap(page);
}

TEST(GooglePage, ThreeEntriesTheLastWithoutComma) {
    const std::vector<std::string> entries{"48.1|11.5|a.jpg", "48.2|-11.6|b.jpg", "48.1|11.5|c.jpg"};
    const std::string page = BuildGooglePage(entries, kKey);
    EXPECT_EQ(ReadGooglePage(page),
              (GoogleData{std::string(kKey), "48.1,11.5", {"48.1,11.5", "48.2,-11.6", "48.1,11.5"}}));
    ExpectGoogleMap(page);
    EXPECT_EQ(getHtmlPlaces(entries),
              "store_locations = [new google.maps.LatLng(48.1,11.5),\r\n"
              "new google.maps.LatLng(48.2,-11.6),\r\n"
              "new google.maps.LatLng(48.1,11.5)\r\n"
              "];");
}

// The page is its three parts, each followed by a line end it does not carry itself.
TEST(GooglePage, PartsCarryNoLineEndAfterTheirLastLine) {
    const std::vector<std::string> entries{"1|2|x", "3|4|y"};
    const std::string header = getHtmlHeader(entries[0], kKey);
    const std::string places = getHtmlPlaces(entries);
    const std::string footer = getHtmlFooter();
    EXPECT_EQ(BuildGooglePage(entries, kKey), header + "\r\n" + places + "\r\n" + footer + "\r\n");
    EXPECT_EQ(places, "store_locations = [new google.maps.LatLng(1,2),\r\nnew google.maps.LatLng(3,4)\r\n];");
    EXPECT_TRUE(header.ends_with("\r\n  var store_locations = new Array(); ")) << header;
    EXPECT_TRUE(footer.starts_with("  var map = new google.maps.Map(")) << footer;
    EXPECT_TRUE(footer.ends_with("\r\n</html>")) << footer;
    // The footer is the same for every page: the places are the script's only data.
    EXPECT_EQ(footer.find("store_locations = ["), std::string::npos);
}

// The key cannot end the attribute or add a parameter of its own; without a key there is no page.
TEST(GooglePage, KeyIsPercentEncoded) {
    const std::string plain = getHtmlHeader("1|2|x", "K");
    const std::string hostile = getHtmlHeader("1|2|x", "a\"b&c=d <e>/~.-_");
    EXPECT_EQ(ReadGooglePage(hostile).key, "a%22b%26c%3Dd%20%3Ce%3E%2F~.-_");
    // Only the key differs from the header of a plain key.
    const std::size_t at = plain.find("&key=K\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(hostile, plain.substr(0, at) + "&key=a%22b%26c%3Dd%20%3Ce%3E%2F~.-_" + plain.substr(at + 6));
    EXPECT_EQ(ReadGooglePage(getHtmlHeader("1|2|x", "\xC3\xA4")).key, "%C3%A4");
    EXPECT_THROW((void)getHtmlHeader("1|2|x", ""), RangeError);
    EXPECT_THROW((void)BuildGooglePage({"1|2|x"}, ""), RangeError);
}

TEST(GooglePage, DecimalCommaBecomesThePointOfTheScript) {
    EXPECT_EQ(getHtmlPlaces({"48,25|-11,5|a.jpg", " 1e-1|+2|b.jpg"}),
              "store_locations = [new google.maps.LatLng(48.25,-11.5),\r\n"
              "new google.maps.LatLng( 1e-1,+2)\r\n"
              "];");
}

TEST(GooglePage, MalformedOrMissingEntriesAreRefused) {
    EXPECT_THROW((void)BuildGooglePage({}, kKey), RangeError);
    EXPECT_THROW((void)BuildGooglePage({"48.1"}, kKey), RangeError);
    EXPECT_THROW((void)BuildGooglePage({"1|2|a", "nope"}, kKey), RangeError);
    try {
        (void)BuildGooglePage({"1|2|a", "3|4);alert(1|b"}, kKey);
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'4);alert(1' ist kein gültiger Gleitkommawert");
    }
    EXPECT_THROW((void)BuildGooglePage({"|2|a"}, kKey), ConvertError);
    EXPECT_THROW((void)BuildGooglePage({"1|2</script>|a"}, kKey), ConvertError);
}

TEST(GooglePage, KeyComesFromTheEnvironmentOrTheDataFolder) {
    TempDir dir;
    const std::string folder = dir.path().string() + "/";
    {
        const ScopedVariable none(kGoogleMapsKeyVariable, nullptr);
        EXPECT_EQ(ConfiguredGoogleMapsKey(folder), "");
        test::WriteFileText(dir / kGoogleMapsKeyFile, "\xEF\xBB\xBF  file-key \r\nsecond line\n");
        EXPECT_EQ(ConfiguredGoogleMapsKey(folder), "file-key");
    }
    {
        const ScopedVariable blank(kGoogleMapsKeyVariable, " \t");
        EXPECT_EQ(ConfiguredGoogleMapsKey(folder), "file-key");
    }
    {
        const ScopedVariable set(kGoogleMapsKeyVariable, " env-key\n");
        EXPECT_EQ(ConfiguredGoogleMapsKey(folder), "env-key");
    }
    const ScopedVariable none(kGoogleMapsKeyVariable, nullptr);
    test::WriteFileText(dir / kGoogleMapsKeyFile, " \r\n");
    EXPECT_EQ(ConfiguredGoogleMapsKey(folder), "");
    test::WriteFileText(dir / kGoogleMapsKeyFile, "");
    EXPECT_EQ(ConfiguredGoogleMapsKey(folder), "");
}

// ---- the file

TEST(MapPageFile, WriteReplacesTheEarlierPage) {
    TempDir dir;
    fs::create_directory(dir / "maps");
    const std::string folder = dir.path().string() + "/";
    test::WriteFileText(dir / "maps" / "index.html", std::string(20000, 'x'));
    const std::string path = WriteMapPageFile(folder, "first");
    EXPECT_EQ(path, folder + "maps/index.html");
    EXPECT_EQ(test::ReadFileText(path), "first");
    // Repeating the command rewrites the page from the current list.
    EXPECT_EQ(WriteMapPageFile(folder, "second"), path);
    EXPECT_EQ(test::ReadFileText(path), "second");
}

TEST(MapPageFile, MissingMapsFolderIsAFileError) {
    TempDir dir;
    const std::string folder = dir.path().string() + "/";
    try {
        (void)WriteMapPageFile(folder, "page");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "Datei " + folder + "maps/index.html kann nicht erstellt werden. No such file or directory");
    }
    EXPECT_FALSE(fs::exists(dir / "maps"));
}

// The thumbnails are filled in aside and take the place of the old folder as a whole only on Commit; a
// writer given up leaves the old folder and nothing of its own.
TEST(MapThumbnails, ReplaceTheOldFolderOnlyWhenCommitted) {
    TempDir dir;
    fs::create_directories(dir / "maps" / "thumbs");
    test::WriteFileText(dir / "maps" / "thumbs" / "1.jpg", "old");
    const std::string folder = dir.path().string() + "/";
    const auto entries = [&dir] {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "maps")) {
            names.push_back(fs::relative(entry.path(), dir / "maps").string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    {
        MapThumbnailFolder abandoned(folder);
        abandoned.Add(1, std::vector<std::uint8_t>{1, 2, 3});
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"thumbs", "thumbs/1.jpg"}));
    EXPECT_EQ(test::ReadFileText(dir / "maps" / "thumbs" / "1.jpg"), "old");

    MapThumbnailFolder thumbnails(folder);
    thumbnails.Add(2, std::vector<std::uint8_t>{0xFF, 0xD8});
    thumbnails.Add(10, std::vector<std::uint8_t>{0xFF, 0xD9});
    EXPECT_THROW(thumbnails.Add(2, std::vector<std::uint8_t>{0}), FileError) << "a number is written once";
    thumbnails.Commit();
    EXPECT_EQ(entries(), (std::vector<std::string>{"thumbs", "thumbs/10.jpg", "thumbs/2.jpg"}));
    EXPECT_EQ(test::ReadFileBytes(dir / "maps" / "thumbs" / "2.jpg"), (Bytes{0xFF, 0xD8}));
    EXPECT_EQ(fs::status(dir / "maps" / "thumbs").permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                  fs::perms::others_exec);

    RemoveMapThumbnails(folder);
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

TEST(MapThumbnails, MissingMapsFolderIsAFileError) {
    TempDir dir;
    const std::string folder = dir.path().string() + "/";
    try {
        MapThumbnailFolder thumbnails(folder);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Datei " + folder + "maps/thumbs kann nicht erstellt werden. No such file or directory");
    }
}

// The delivered marker image, checked with a decoder of the test's own.

std::uint32_t be32(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b.at(at)} << 24U) | (std::uint32_t{b.at(at + 1)} << 16U) |
           (std::uint32_t{b.at(at + 2)} << 8U) | std::uint32_t{b.at(at + 3)};
}

std::uint32_t crc32(const Bytes& b, std::size_t from, std::size_t to) {
    std::uint32_t c = 0xFFFFFFFFU;
    for (std::size_t i = from; i < to; ++i) {
        c ^= b[i];
        for (int k = 0; k < 8; ++k) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1U) : c >> 1U;
        }
    }
    return ~c;
}

TEST(MapMarker, IsA30By30PinAnchoredAtTheBottomCentre) {
    const Bytes png = test::ReadFileBytes(test::BuildDir() / "maps" / "marker.png");
    const Bytes signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GT(png.size(), signature.size());
    ASSERT_TRUE(test::BytesEqual(signature, Bytes(png.begin(), png.begin() + 8)));
    Bytes header;
    Bytes zlib;
    std::size_t pos = 8;
    std::string last;
    while (pos + 12 <= png.size()) {
        const std::uint32_t length = be32(png, pos);
        ASSERT_LE(length, png.size() - pos - 12);
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                               png.begin() + static_cast<std::ptrdiff_t>(pos + 8));
        const auto data = png.begin() + static_cast<std::ptrdiff_t>(pos + 8);
        EXPECT_EQ(be32(png, pos + 8 + length), crc32(png, pos + 4, pos + 8 + length)) << type;
        if (type == "IHDR") {
            header.assign(data, data + length);
        } else if (type == "IDAT") {
            zlib.insert(zlib.end(), data, data + length);
        }
        last = type;
        pos += 12 + length;
    }
    EXPECT_EQ(last, "IEND");
    EXPECT_EQ(pos, png.size());
    ASSERT_EQ(header.size(), 13U);
    EXPECT_EQ(be32(header, 0), 30U);
    EXPECT_EQ(be32(header, 4), 30U);
    EXPECT_EQ(header[8], 8);  // bits per channel
    EXPECT_EQ(header[9], 6);  // RGBA

    // Stored deflate blocks: the rows come out as they are, each led by its filter byte.
    ASSERT_GE(zlib.size(), 6U);
    EXPECT_EQ((zlib[0] * 256U + zlib[1]) % 31U, 0U);
    Bytes raw;
    std::size_t at = 2;
    bool final = false;
    while (!final) {
        ASSERT_LE(at + 5, zlib.size());
        final = (zlib[at] & 1U) != 0;
        ASSERT_EQ(zlib[at] & 6U, 0U) << "not a stored block";
        const std::size_t len = zlib[at + 1] | (std::size_t{zlib[at + 2]} << 8U);
        const std::size_t nlen = zlib[at + 3] | (std::size_t{zlib[at + 4]} << 8U);
        ASSERT_EQ(len ^ 0xFFFFU, nlen);
        ASSERT_LE(len, zlib.size() - at - 5);
        raw.insert(raw.end(), zlib.begin() + static_cast<std::ptrdiff_t>(at + 5),
                   zlib.begin() + static_cast<std::ptrdiff_t>(at + 5 + len));
        at += 5 + len;
    }
    ASSERT_EQ(at + 4, zlib.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521U;
        b = (b + a) % 65521U;
    }
    EXPECT_EQ(be32(zlib, at), (b << 16U) | a);
    ASSERT_EQ(raw.size(), 30U * (1 + 30 * 4));

    const auto alpha = [&](int x, int y) { return raw[static_cast<std::size_t>(y * 121 + 1 + x * 4 + 3)]; };
    for (int y = 0; y < 30; ++y) {
        EXPECT_EQ(raw[static_cast<std::size_t>(y * 121)], 0) << "row filter " << y;
    }
    // Transparent corners, an opaque head, and the tip at the anchor point (15, 30).
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(29, 0), 0);
    EXPECT_EQ(alpha(0, 29), 0);
    EXPECT_EQ(alpha(29, 29), 0);
    EXPECT_EQ(alpha(15, 11), 255);
    EXPECT_GT(alpha(14, 28) + alpha(15, 28), 200);
    EXPECT_EQ(alpha(5, 28), 0);
}

}  // namespace
}  // namespace zeloro
