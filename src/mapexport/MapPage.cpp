// src/mapexport/MapPage.cpp: the map page texts and their file.
#include "mapexport/MapPage.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/Error.h"
#include "common/TextSplit.h"
#include "common/Win1252.h"

namespace zeloro {
namespace {

constexpr const char* kCrLf = "\r\n";

struct CloseFile {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// The page around its data. Leaflet, its style and the marker image are relative names, files of the
// maps folder: the page opens from disk, where every browser allows a classic script beside it but no
// fetch of a data file, so the data travel inside the page as JSON that only JSON.parse reads. Popup
// texts are set as text nodes: a file name is shown, never parsed as markup.
constexpr std::string_view kLeafletHead = R"(<!DOCTYPE html>
<html lang="de">
<head>
<meta charset="utf-8">
<meta name="viewport" content="initial-scale=1.0, user-scalable=no">
<title>Zeloro geotagging</title>
<link rel="stylesheet" href="leaflet.css">
<link rel="stylesheet" href="MarkerCluster.css">
<link rel="stylesheet" href="MarkerCluster.Default.css">
<style>html, body, #map_canvas {height: 100%; margin: 0; padding: 0;}
.leaflet-popup-content img.thumb {display: block; max-width: 160px; max-height: 160px; margin-bottom: 4px;}</style>
<script src="leaflet.js"></script>
<script src="leaflet.markercluster.js"></script>
</head>
<body>
<div id="map_canvas"></div>
<script type="application/json" id="places">)";

// Photos go into one cluster group, so a trip of a thousand photos reads as a few numbered circles that
// open up as the user zooms in. A data folder filled before the clusters came with the tool lacks their
// script; its page shows every marker on its own instead. The view is set before the group joins the map,
// since the group places its markers for the map's zoom. Points west of "cut" are drawn one turn further
// east, so a trip over the date line lies together instead of at both ends of the world; the popup still
// names each photo's position as it was tagged.
constexpr std::string_view kLeafletTail = R"(</script>
<script>
(function () {
  'use strict';
  var canvas = document.getElementById('map_canvas');
  if (typeof L === 'undefined') {
    canvas.textContent = 'Die Kartenbibliothek leaflet.js fehlt im Ordner maps.';
    return;
  }
  var places = JSON.parse(document.getElementById('places').textContent);
  var map = L.map(canvas);
  L.tileLayer('https://tile.openstreetmap.org/{z}/{x}/{y}.png', {
    maxZoom: 19,
    attribution: '&copy; <a href="https://www.openstreetmap.org/copyright">OpenStreetMap contributors</a>'
  }).addTo(map);
  function drawn(lat, lon) {
    return L.latLng(lat, typeof places.cut === 'number' && lon < places.cut ? lon + 360 : lon);
  }
  var bounds = L.latLngBounds([]);
  places.tracks.forEach(function (track) {
    var line = track.map(function (point) { return drawn(point[0], point[1]); });
    L.polyline(line, {color: '#1c5fb8', weight: 3, opacity: 0.8, interactive: false}).addTo(map);
    line.forEach(function (point) { bounds.extend(point); });
  });
  var icon = L.icon({iconUrl: 'marker.png', iconSize: [30, 30], iconAnchor: [15, 30], popupAnchor: [0, -30]});
  var group = typeof L.markerClusterGroup === 'function' ? L.markerClusterGroup() : L.featureGroup();
  var markers = places.photos.map(function (photo) {
    var position = drawn(photo.lat, photo.lon);
    var popup = document.createElement('div');
    var marker = L.marker(position, {icon: icon, title: photo.name});
    if (typeof photo.thumb === 'number') {
      var thumb = document.createElement('img');
      thumb.className = 'thumb';
      thumb.alt = '';
      thumb.addEventListener('load', function () { marker.getPopup().update(); });
      popup.appendChild(thumb);
      marker.on('popupopen', function () {
        if (!thumb.getAttribute('src')) {
          thumb.src = 'thumbs/' + photo.thumb + '.jpg';
        }
      });
    }
    var name = document.createElement('strong');
    name.textContent = photo.name;
    popup.appendChild(name);
    popup.appendChild(document.createElement('br'));
    popup.appendChild(document.createTextNode('Aufnahme: ' + photo.shot));
    popup.appendChild(document.createElement('br'));
    popup.appendChild(document.createTextNode('Position: ' + photo.lat + ', ' + photo.lon));
    marker.bindPopup(popup);
    bounds.extend(position);
    return marker;
  });
  if (bounds.getNorthEast().equals(bounds.getSouthWest())) {
    map.setView(bounds.getCenter(), 15);
  } else {
    map.fitBounds(bounds, {padding: [40, 40]});
  }
  if (typeof group.addLayers === 'function') {
    group.addLayers(markers);
  } else {
    markers.forEach(function (marker) { group.addLayer(marker); });
  }
  group.addTo(map);
})();
</script>
</body>
</html>
)";

constexpr std::string_view kMarkerLine = "    marker.bindPopup(popup);";
constexpr std::string_view kMapLine = "  var map = L.map(canvas);";
constexpr std::string_view kNoticeLines = R"(  var notice = document.createElement('p');
  notice.id = 'notice';
  notice.textContent = places.notice;
  document.body.insertBefore(notice, canvas);
)";
constexpr std::string_view kViewLine = "  if (bounds.getNorthEast()";
constexpr std::string_view kEmptyViewLines = R"(  if (!bounds.isValid()) {
    map.setView([0, 0], 2);
  } else )";
constexpr std::string_view kPlaceLines = R"(    if (photo.place) {
      popup.appendChild(document.createElement('br'));
      popup.appendChild(document.createTextNode('Ort: ' + photo.place));
    }
)";

// The source keeps plain line ends; the page has CR LF like the other page the tool writes.
std::string withCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

void appendHex4(std::string& out, char32_t unit) {
    constexpr std::string_view kHex = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(unit >> static_cast<unsigned>(shift)) & 0xFU];
    }
}

// A JSON string that stays inside its script element whatever the text holds: "<", ">" and "&" are
// escaped, so no "</script" or "<!--" can appear, and malformed UTF-8 becomes U+FFFD instead of being
// left to each browser's decoder.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(text, pos, cp)) {
            cp = 0xFFFD;
        }
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp < 0x20 || cp == '<' || cp == '>' || cp == '&' || cp == 0x2028 || cp == 0x2029) {
            appendHex4(out, cp);
        } else {
            AppendUtf8(out, cp);
        }
    }
    out += '"';
}

// The shortest text that reads back as the same double: "48.1" stays "48.1".
void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        throw RangeError();
    }
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

void appendJsonPoint(std::string& out, const MapPoint& point) {
    out += '[';
    appendJsonNumber(out, point.latitude);
    out += ',';
    appendJsonNumber(out, point.longitude);
    out += ']';
}

std::string placesJson(const MapContent& content) {
    std::string out = "{\"photos\":[";
    for (std::size_t i = 0; i < content.photos.size(); ++i) {
        const MapPhoto& photo = content.photos[i];
        out += i == 0 ? "" : ",";
        out += "{\"lat\":";
        appendJsonNumber(out, photo.position.latitude);
        out += ",\"lon\":";
        appendJsonNumber(out, photo.position.longitude);
        out += ",\"name\":";
        appendJsonString(out, photo.fileName);
        out += ",\"shot\":";
        appendJsonString(out, photo.shotTime);
        if (!photo.place.empty()) {
            out += ",\"place\":";
            appendJsonString(out, photo.place);
        }
        if (photo.thumbnail != 0) {
            out += ",\"thumb\":";
            out += std::to_string(photo.thumbnail);
        }
        out += '}';
    }
    out += "],\"tracks\":[";
    for (std::size_t t = 0; t < content.tracks.size(); ++t) {
        out += t == 0 ? "[" : ",[";
        const std::vector<MapPoint>& track = content.tracks[t];
        for (std::size_t i = 0; i < track.size(); ++i) {
            out += i == 0 ? "" : ",";
            appendJsonPoint(out, track[i]);
        }
        out += ']';
    }
    out += ']';
    if (const std::optional<double> cut = DateLineCut(AllLongitudes(content))) {
        out += ",\"cut\":";
        appendJsonNumber(out, *cut);
    }
    if (!content.notice.empty()) {
        out += ",\"notice\":";
        appendJsonString(out, content.notice);
    }
    out += '}';
    return out;
}

void appendTwoDigits(std::string& out, unsigned value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

// The coordinate goes into the script of the Google page as a number literal: only number characters
// may pass (no text can end the script or add to it), and a decimal comma, which the track lookup
// accepts, becomes the point the script needs, or it would read as an argument separator and move the
// marker.
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

// The key goes into a script address inside an attribute: everything but the unreserved characters of
// a URL is percent-encoded, so a key can neither end the attribute nor add a parameter.
std::string percentEncoded(std::string_view text) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4U];
            out += kHex[byte & 0xFU];
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\f\v";
    constexpr std::string_view kBom = "\xEF\xBB\xBF";  // an editor's byte-order mark is no part of the key
    if (text.starts_with(kBom)) {
        text.remove_prefix(kBom.size());
    }
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

[[noreturn]] void throwCreateError(const std::string& path, int error) {
    throw FileError("Datei " + path + " kann nicht erstellt werden. " + std::strerror(error));
}

}  // namespace

std::vector<double> AllLongitudes(const MapContent& content) {
    std::vector<double> longitudes;
    longitudes.reserve(content.photos.size());
    for (const MapPhoto& photo : content.photos) {
        longitudes.push_back(photo.position.longitude);
    }
    for (const std::vector<MapPoint>& track : content.tracks) {
        for (const MapPoint& point : track) {
            longitudes.push_back(point.longitude);
        }
    }
    return longitudes;
}

std::optional<double> DateLineCut(std::vector<double> longitudes) {
    if (longitudes.empty() || std::any_of(longitudes.begin(), longitudes.end(), [](double lon) {
            return !std::isfinite(lon) || lon < -180 || lon > 180;
        })) {
        return std::nullopt;
    }
    std::sort(longitudes.begin(), longitudes.end());
    // The widest stretch of the circle without a point is the part the view leaves out. As drawn, that
    // is the stretch over the date line; only a wider gap elsewhere moves the points west of it a turn
    // east, so that the gap over the date line is drawn instead.
    const double overDateLine = longitudes.front() + 360 - longitudes.back();
    double widest = overDateLine;
    std::optional<double> cut;
    for (std::size_t i = 1; i < longitudes.size(); ++i) {
        const double gap = longitudes[i] - longitudes[i - 1];
        if (gap > widest) {
            widest = gap;
            cut = longitudes[i];
        }
    }
    return cut;
}

std::string ShotTimeText(DateTimeValue shot, std::string_view zone) {
    const CalendarDate date = DecodeDate(shot);
    const ClockTime time = DecodeTime(shot);
    std::string text;
    appendTwoDigits(text, date.day);
    text += '.';
    appendTwoDigits(text, date.month);
    text += '.';
    appendTwoDigits(text, date.year / 100U);
    appendTwoDigits(text, date.year % 100U);
    text += ' ';
    appendTwoDigits(text, time.hour);
    text += ':';
    appendTwoDigits(text, time.minute);
    text += ':';
    appendTwoDigits(text, time.second);
    if (!zone.empty()) {
        text += " (";
        text += zone;
        text += ')';
    }
    return text;
}

std::string BuildLeafletPage(const MapContent& content) {
    if (content.photos.empty() && content.notice.empty()) {
        throw RangeError();
    }
    std::string tail(kLeafletTail);
    // The notice and a view without markers only on a page that has a notice, so every other page stays
    // as it was.
    if (!content.notice.empty()) {
        tail.insert(tail.find(kMapLine), kNoticeLines);
        const std::size_t view = tail.find(kViewLine);
        tail.replace(view, 4, std::string(kEmptyViewLines) + "if");
    }
    // The popup's line of the place only on a page of photos that carry one, so every other page stays
    // as it was.
    if (std::any_of(content.photos.begin(), content.photos.end(),
                    [](const MapPhoto& photo) { return !photo.place.empty(); })) {
        tail.insert(tail.find(kMarkerLine), kPlaceLines);
    }
    return withCrLf(kLeafletHead) + placesJson(content) + withCrLf(tail);
}

std::string ConfiguredGoogleMapsKey(const std::string& dataFolder) {
    if (const char* variable = std::getenv(kGoogleMapsKeyVariable)) {
        const std::string_view key = trimmed(variable);
        if (!key.empty()) {
            return std::string(key);
        }
    }
    std::ifstream file(dataFolder + kGoogleMapsKeyFile, std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return {};
    }
    return std::string(trimmed(line));
}

std::string getHtmlHeader(const std::string& firstline, std::string_view googleKey) {
    if (googleKey.empty()) {
        throw RangeError();  // without a key the script serves a map marked as unusable
    }
    const auto [lat, lon] = position(firstline);
    std::string text;
    text += "<html>\r\n";
    text += "<head>\r\n";
    text += "<meta name=\"viewport\" content=\"initial-scale=1.0, user-scalable=no\" />\r\n";
    text += "<style type=\"text/css\">body {height: 100%;margin: 0;padding: 0;}</style>\r\n";
    text +=
        "<script type=\"text/javascript\" src=\"https://maps.googleapis.com/maps/api/js?sensor=false&key=" +
        percentEncoded(googleKey) + "\"></script>\r\n";
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
        text += "new google.maps.LatLng(" + lat + "," + lon + ")";
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

std::string BuildGooglePage(const std::vector<std::string>& mapsSL, std::string_view googleKey) {
    if (mapsSL.empty()) {
        throw RangeError();
    }
    return getHtmlHeader(mapsSL.front(), googleKey) + kCrLf + getHtmlPlaces(mapsSL) + kCrLf +
           getHtmlFooter() + kCrLf;
}

std::string WriteMapPageFile(const std::string& dataFolder, const std::string& page) {
    const std::string path = dataFolder + "maps/index.html";
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
