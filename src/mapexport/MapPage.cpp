// src/mapexport/MapPage.cpp: the map page text and its file.
#include "mapexport/MapPage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "common/Error.h"
#include "common/TextSplit.h"

namespace zeloro {
namespace {

constexpr const char* kCrLf = "\r\n";

struct CloseFile {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// The coordinate goes into the page's script as a number literal: only number characters may pass (no
// text can end the script or add to it), and a decimal comma, which the track lookup accepts, becomes
// the point the script needs, or it would read as an argument separator and move the marker.
std::string scriptNumber(std::string text) {
    if (text.empty() || text.find_first_not_of("0123456789+-.,eE ") != std::string::npos) {
        throw InvalidValueError(kNotAFloat, text);
    }
    for (char& c : text) {
        if (c == ',') {
            c = '.';
        }
    }
    return text;
}

// Entries are "lat|lon|file"; a malformed entry lacks a field and is refused rather than guessed.
std::pair<std::string, std::string> position(const std::string& entry) {
    std::vector<std::string> parts = SplitBySeparator("|", entry);
    if (parts.size() < 2) {
        throw RangeError();
    }
    return {scriptNumber(std::move(parts[0])), scriptNumber(std::move(parts[1]))};
}

[[noreturn]] void throwCreateError(const std::string& path, int error) {
    throw FileError("Datei " + path + " kann nicht erstellt werden. " + std::strerror(error));
}

}  // namespace

std::string getHtmlHeader(const std::string& firstline) {
    const auto [lat, lon] = position(firstline);
    std::string text;
    text += "<html>\r\n";
    text += "<head>\r\n";
    text += "<meta name=\"viewport\" content=\"initial-scale=1.0, user-scalable=no\" />\r\n";
    text += "<style type=\"text/css\">body {height: 100%;margin: 0;padding: 0;}</style>\r\n";
    text +=
        "<script type=\"text/javascript\" "
        "src=\"https://maps.googleapis.com/maps/api/js?sensor=false\"></script>\r\n";
    text += "<script type=\"text/javascript\">\r\n";
    text += "  function initialize() {\r\n";
    text += "    var markers = new Array();\r\n";
    text += "    var myOptions = { \r\n";
    text += "          zoom: 15,   \r\n";
    text += "          center: new google.maps.LatLng(" + lat + "," + lon + "),\r\n";
    text += "          mapTypeId: google.maps.MapTypeId.HYBRID\r\n";
    text += "    }\r\n";
    text += "  var store_locations = new Array(); ";
    return text;
}

std::string getHtmlPlaces(const std::vector<std::string>& mapsSL) {
    std::string text = "store_locations = [";
    for (std::size_t i = 0; i < mapsSL.size(); ++i) {
        const auto [lat, lon] = position(mapsSL[i]);
        text.append("new google.maps.LatLng(").append(lat).append(",").append(lon).append(")");
        if (i + 1 < mapsSL.size()) {
            text += ",";
        }
        text += kCrLf;
    }
    text += "];";
    return text;
}

std::string getHtmlFooter() {
    return "  var map = new google.maps.Map(document.getElementById(\"map_canvas\"),myOptions);\r\n"
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
           "</html>";
}

std::string BuildMapPage(const std::vector<std::string>& mapsSL) {
    if (mapsSL.empty()) {
        throw RangeError();
    }
    return getHtmlHeader(mapsSL.front()) + kCrLf + getHtmlPlaces(mapsSL) + kCrLf + getHtmlFooter() + kCrLf;
}

std::string WriteMapPage(const std::string& dataFolder, const std::vector<std::string>& mapsSL) {
    const std::string page = BuildMapPage(mapsSL);
    std::string path = dataFolder + "maps/index.html";
    std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throwCreateError(path, errno);
    }
    if (std::fwrite(page.data(), 1, page.size(), file.get()) != page.size() || std::fflush(file.get()) != 0) {
        throwCreateError(path, errno);
    }
    // Closing reports the last write errors; a page that did not reach the disk is a failure.
    if (std::fclose(file.release()) != 0) {
        throwCreateError(path, errno);
    }
    return path;
}

}  // namespace zeloro
