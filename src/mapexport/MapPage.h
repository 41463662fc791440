// src/mapexport/MapPage.h: the web map page of the photos tagged in the last run.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"

namespace zeloro {

// ---- the page on OpenStreetMap tiles, drawn by the Leaflet copy in the maps folder

struct MapPoint {
    double latitude = 0;
    double longitude = 0;
    friend bool operator==(const MapPoint&, const MapPoint&) = default;
};

struct MapPhoto {
    MapPoint position;
    std::string fileName;    // UTF-8; shown as text, never read as markup
    std::string shotTime;    // as the popup shows it, e.g. ShotTimeText's result
    std::string place = {};  // the photo's place as the popup names it; empty: the popup has no such line
    // n of the thumbnail "thumbs/<n>.jpg" beside the page that the popup shows; 0: the photo has none.
    std::size_t thumbnail = 0;
    friend bool operator==(const MapPhoto&, const MapPhoto&) = default;
};

struct MapContent {
    std::vector<MapPhoto> photos;               // one marker each, in tagging order
    std::vector<std::vector<MapPoint>> tracks;  // each drawn as one line, in its own order
    std::string notice = {};  // a line above the map saying what the last run did; empty: the page has none
    friend bool operator==(const MapContent&, const MapContent&) = default;
};

// The longitudes of every photo and track point of the content, photos first.
[[nodiscard]] std::vector<double> AllLongitudes(const MapContent& content);

// Where the page cuts the circle of longitudes: points west of the returned longitude are drawn 360°
// further east, so that points on both sides of the date line are drawn side by side and the view spans
// the least longitude. nullopt when the points already lie closest as they are (no gap between them is
// wider than the one over the date line), and for no points or any longitude outside -180..180.
[[nodiscard]] std::optional<double> DateLineCut(std::vector<double> longitudes);

// "dd.mm.yyyy hh:nn:ss", then " (" zone ")" when zone is not empty: the camera's clock and the zone the
// user said it ran in.
[[nodiscard]] std::string ShotTimeText(DateTimeValue shot, std::string_view zone);

// The page: Leaflet's script and style and the marker image "marker.png" are files beside it in the
// maps folder, so it loads no script from the net; only the map tiles come from the tile server. The
// photos and tracks go into the page as JSON data that the page's constant script reads, never as
// script or markup. The photos' markers gather into clusters (Leaflet.markercluster, also beside the
// page) where they crowd. The view fits all markers and track lines, drawn on the side of the date line
// DateLineCut chooses; a single spot is shown at zoom 15. CR LF line ends.
// A page with a notice shows it as text above the map and may have no photo (the view then fits the
// tracks, or shows the whole world). Throws RangeError when there is neither a photo nor a notice or a
// coordinate is not finite.
[[nodiscard]] std::string BuildLeafletPage(const MapContent& content);

// ---- the page on the Google Maps script, written only for a user who configured a key

inline constexpr const char* kGoogleMapsKeyVariable = "ZELORO_GOOGLE_MAPS_KEY";
inline constexpr const char* kGoogleMapsKeyFile = "google-maps-key.txt";

// The key from the environment variable kGoogleMapsKeyVariable, or else from the first line of the file
// kGoogleMapsKeyFile in the data folder; blanks and line ends around it do not count. Empty when neither
// holds one (a file that cannot be read holds none).
[[nodiscard]] std::string ConfiguredGoogleMapsKey(const std::string& dataFolder);

// Map entries are "lat|lon|file name"; the coordinate texts go into the page's script as they are, but
// for a decimal comma written as a point. An entry without two fields throws RangeError, a coordinate
// with other than number characters ConvertError "'<text>' ist kein gültiger Gleitkommawert".
// Texts use CR LF line ends and carry no line end after their last line.

// Lines "<html>" to "  var store_locations = new Array(); ", centred on the entry's position; the
// script address carries "&key=" and the key, percent-encoded. Throws RangeError for an empty key.
[[nodiscard]] std::string getHtmlHeader(const std::string& firstline, std::string_view googleKey);
// "store_locations = [" with one marker line per entry, then "];".
[[nodiscard]] std::string getHtmlPlaces(const std::vector<std::string>& mapsSL);
// The constant rest of the script and the page body.
[[nodiscard]] std::string getHtmlFooter();
// Header, places and footer, each followed by CR LF. Throws RangeError for an empty map list.
[[nodiscard]] std::string BuildGooglePage(const std::vector<std::string>& mapsSL, std::string_view googleKey);

// ---- the file

// Writes page to dataFolder + "maps/index.html", replacing an earlier page, and returns that path.
// Throws FileError "Datei <path> kann nicht erstellt werden. <reason>" when the file cannot be written.
std::string WriteMapPageFile(const std::string& dataFolder, const std::string& page);

}  // namespace zeloro
