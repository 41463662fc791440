// tests/mapexport/MapPageTest.cpp: the map page byte for byte, its file, and the delivered marker image.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Error.h"
#include "mapexport/MapPage.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::TempDir;

// The page lines as a browser receives them; the header's centre line and the marker lines vary.
constexpr std::string_view kHead =
    "<html>\r\n"
    "<head>\r\n"
    "<meta name=\"viewport\" content=\"initial-scale=1.0, user-scalable=no\" />\r\n"
    "<style type=\"text/css\">body {height: 100%;margin: 0;padding: 0;}</style>\r\n"
    "<script type=\"text/javascript\" "
    "src=\"https://maps.googleapis.com/maps/api/js?sensor=false\"></script>\r\n"
    "<script type=\"text/javascript\">\r\n"
    "  function initialize() {\r\n"
    "    var markers = new Array();\r\n"
    "    var myOptions = { \r\n"
    "          zoom: 15,   \r\n";
constexpr std::string_view kAfterCentre =
    "          mapTypeId: google.maps.MapTypeId.HYBRID\r\n"
    "    }\r\n"
    "  var store_locations = new Array(); \r\n";
constexpr std::string_view kFoot =
    "  var map = new google.maps.Map(document.getElementById(\"map_canvas\"),myOptions);\r\n"
    "  var image = new google.maps.MarkerImage('marker.png',\r\n"
    "       new google.maps.Size(30, 30),\r\n"
    "       new google.maps.Point(0, 0),\r\n"
    "       new google.maps.Point(15, 30),\r\n"
    "       new google.maps.Size(30, 30)\r\n"
    "  );\r\n"
    "  for(i=0;i<store_locations.length;i++)\r\n"
    "  {\r\n"
    "    markers[i] = new google.maps.Marker(\r\n"
    "    {\r\n"
    "      position: store_locations[i],\r\n"
    "      map: map,\r\n"
    "      icon: image\r\n"
    "    });\r\n"
    "    }\r\n"
    "}\r\n"
    "</script>\r\n"
    "</head>\r\n"
    "<body onload=\"initialize()\">\r\n"
    "<div id=\"map_canvas\" style=\"width:100%; height:100%\"></div>\r\n"
    "</body>\r\n"
    "</html>\r\n";

std::string page(std::string_view centre, std::string_view markers) {
    return std::string(kHead) + std::string(centre) + std::string(kAfterCentre) + std::string(markers) +
           std::string(kFoot);
}

TEST(MapPage, OneEntry) {
    EXPECT_EQ(BuildMapPage({"-33.8567|151.215|/photos/opera.jpg"}),
              page("          center: new google.maps.LatLng(-33.8567,151.215),\r\n",
                   "store_locations = [new google.maps.LatLng(-33.8567,151.215)\r\n"
                   "];\r\n"));
}

TEST(MapPage, ThreeEntriesTheLastWithoutComma) {
    EXPECT_EQ(BuildMapPage({"48.1|11.5|a.jpg", "48.2|-11.6|b.jpg", "48.1|11.5|c.jpg"}),
              page("          center: new google.maps.LatLng(48.1,11.5),\r\n",
                   "store_locations = [new google.maps.LatLng(48.1,11.5),\r\n"
                   "new google.maps.LatLng(48.2,-11.6),\r\n"
                   "new google.maps.LatLng(48.1,11.5)\r\n"
                   "];\r\n"));
}

TEST(MapPage, PartsCarryNoLineEndAfterTheirLastLine) {
    EXPECT_EQ(getHtmlPlaces({"1|2|x"}), "store_locations = [new google.maps.LatLng(1,2)\r\n];");
    EXPECT_EQ(getHtmlFooter(), kFoot.substr(0, kFoot.size() - 2));
    EXPECT_EQ(getHtmlHeader("1|2|x") + "\r\n", std::string(kHead) +
                                                   "          center: new google.maps.LatLng(1,2),\r\n" +
                                                   std::string(kAfterCentre));
}

TEST(MapPage, DecimalCommaBecomesThePointOfTheScript) {
    EXPECT_EQ(getHtmlPlaces({"48,25|-11,5|a.jpg", " 1e-1|+2|b.jpg"}),
              "store_locations = [new google.maps.LatLng(48.25,-11.5),\r\n"
              "new google.maps.LatLng( 1e-1,+2)\r\n"
              "];");
}

TEST(MapPage, MalformedOrMissingEntriesAreRefused) {
    EXPECT_THROW((void)BuildMapPage({}), RangeError);
    EXPECT_THROW((void)BuildMapPage({"48.1"}), RangeError);
    EXPECT_THROW((void)BuildMapPage({"1|2|a", "nope"}), RangeError);
    try {
        (void)BuildMapPage({"1|2|a", "3|4);alert(1|b"});
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'4);alert(1' ist kein gültiger Gleitkommawert");
    }
    EXPECT_THROW((void)BuildMapPage({"|2|a"}), ConvertError);
}

TEST(MapPage, WriteReplacesTheEarlierPage) {
    TempDir dir;
    fs::create_directory(dir / "maps");
    const std::string folder = dir.path().string() + "/";
    test::WriteFileText(dir / "maps" / "index.html", std::string(20000, 'x'));
    const std::vector<std::string> entries{"1.5|2.5|a.jpg", "3|4|b.jpg"};
    const std::string path = WriteMapPage(folder, entries);
    EXPECT_EQ(path, folder + "maps/index.html");
    EXPECT_EQ(test::ReadFileText(path), BuildMapPage(entries));
    // Repeating the command rewrites the page from the current list.
    EXPECT_EQ(WriteMapPage(folder, {"5|6|c.jpg"}), path);
    EXPECT_EQ(test::ReadFileText(path), BuildMapPage({"5|6|c.jpg"}));
}

TEST(MapPage, RefusedEntryLeavesTheEarlierPage) {
    TempDir dir;
    fs::create_directory(dir / "maps");
    const std::string folder = dir.path().string() + "/";
    const std::string path = WriteMapPage(folder, {"1|2|a.jpg"});
    EXPECT_THROW((void)WriteMapPage(folder, {"x|2|a.jpg"}), ConvertError);
    EXPECT_EQ(test::ReadFileText(path), BuildMapPage({"1|2|a.jpg"}));
}

TEST(MapPage, MissingMapsFolderIsAFileError) {
    TempDir dir;
    const std::string folder = dir.path().string() + "/";
    try {
        (void)WriteMapPage(folder, {"1|2|a.jpg"});
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "Datei " + folder + "maps/index.html kann nicht erstellt werden. No such file or directory");
    }
    EXPECT_FALSE(fs::exists(dir / "maps"));
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
