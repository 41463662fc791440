// src/mapexport/MapPage.h: the web map page of the photos tagged in the last run.
#pragma once
#include <string>
#include <vector>

namespace zeloro {

// Map entries are "lat|lon|file name"; the coordinate texts go into the page's script as they are, but
// for a decimal comma written as a point. An entry without two fields throws RangeError, a coordinate
// with other than number characters ConvertError "'<text>' ist kein gültiger Gleitkommawert".
// Texts use CR LF line ends and carry no line end after their last line.

// Lines "<html>" to "  var store_locations = new Array(); ", centred on the entry's position.
[[nodiscard]] std::string getHtmlHeader(const std::string& firstline);
// "store_locations = [" with one marker line per entry, then "];".
[[nodiscard]] std::string getHtmlPlaces(const std::vector<std::string>& mapsSL);
// The constant rest of the script and the page body.
[[nodiscard]] std::string getHtmlFooter();
// Header, places and footer, each followed by CR LF.
[[nodiscard]] std::string BuildMapPage(const std::vector<std::string>& mapsSL);

// Writes dataFolder + "maps/index.html", replacing an earlier page, and returns that path. Throws
// FileError "Datei <path> kann nicht erstellt werden. <reason>" when the file cannot be written,
// RangeError for an empty map list (the caller tells the user "Keine aktuellen Geodaten vorhanden!"
// before it gets here); nothing is written when an entry is refused.
std::string WriteMapPage(const std::string& dataFolder, const std::vector<std::string>& mapsSL);

}  // namespace zeloro
