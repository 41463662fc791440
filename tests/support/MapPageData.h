// tests/support/MapPageData.h: what the map page shows, read from the data element it carries.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zeloro::test {

struct PagePhoto {
    double lat = 0;
    double lon = 0;
    std::string name;
    std::string shot;  // the popup's camera time, empty when the photo has none
    bool operator==(const PagePhoto&) const = default;
};

struct PageData {
    std::vector<PagePhoto> photos;
    std::vector<std::vector<std::array<double, 2>>> tracks;  // [lat, lon] in track order
    std::string notice = {};                                 // the line above the map, empty when none
    bool operator==(const PageData&) const = default;
};

void PrintTo(const PageData& data, std::ostream* os);

// The JSON text between the data element's tags; a test failure and empty when the page has none.
[[nodiscard]] std::string PageDataText(const std::string& page);
// The page with the data element's content cut out: the part that is the same whatever the photos.
[[nodiscard]] std::string PageWithoutData(const std::string& page);
// The page's data; a test failure and nullopt when the element is missing or not of that shape.
[[nodiscard]] std::optional<PageData> ReadPageData(const std::string& page);

// Every element of the page is closed, in the order opened, and a script's text ends where its own
// closing tag is: so a browser builds the tree the page was written as. Void elements (meta, link, img,
// br) and the doctype stand alone.
[[nodiscard]] ::testing::AssertionResult PageWellFormed(const std::string& page);

}  // namespace zeloro::test
