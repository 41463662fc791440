// src/gpx/GpxImport.h: the import of a GPX file's timed points into the track table.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/Error.h"
#include "common/LogSink.h"
#include "trackstore/Database.h"

namespace zeloro {

inline constexpr const char* kGpxInsertStatement =
    "INSERT INTO gpx (lat,lon,utctime) VALUES (:lat,:lon,:utctime);";
inline constexpr const char* kLogImportStart = " - Starte Datenbankimport";
inline constexpr const char* kLogImportFailed = " - Import fehlerhaft abgebrochen";
inline constexpr const char* kLogImportCountSuffix = " Datensätze gelesen und importiert";

// What an import keeps of each point beyond its position and time.
enum class ImportDetails : std::uint8_t {
    positionsOnly,         // lat, lon and utctime: the plain run's rows
    elevationAndSegments,  // also `ele` (the number of <ele>; NULL when it has none or it is no number)
                           // and `segment` (one new number per parent element of trkpt and rtept, so
                           // per trkseg and per rte; NULL for a wpt); adds the two columns when missing
};

// Why a point is refused although its texts are numbers: a position off the globe would be written as
// EXIF degrees no program can place.
inline constexpr const char* kPointOffGlobe = "Position außerhalb von ±90° Breite und ±180° Länge";

// Appends one row (lat and lon texts as written, the time as UTC date-time text) for every wpt, then
// every trkpt, then every rtept below the root that has a direct time child, all in one transaction.
// A point whose lat or lon is a number beyond ±90 or ±180 is an error of that point (kPointOffGlobe); a
// text that is no number is stored as written.
// Logs the start, a failure and the row count through log; calls processMessages once between loading
// the file and the first insert.
// A file that cannot be opened, is not well-formed or has an unsupported encoding throws GpxLoadError
// out of here after the start line only: "PATH: " and the loader's text, or the open error, which names
// the file itself. Any later error is caught: the result is false, and a transaction that this call
// started is rolled back, so no part of a failed import becomes permanent. A transaction the caller had
// open is used and left open. When the error was one of a point, failure (if given) receives
// "PATH: trkpt Nr. N (lat "..", lon "..", time ".."): REASON", the point counted among those of its name
// in the file; otherwise it is left as it was.
// The points are inserted as the file is read, so the memory the import takes does not grow with the
// file; the rows, log lines, errors and the table a failure leaves are those of importGpxTree (which it
// runs itself for a file whose timed points do not come as wpt, then trkpt, then rtept). processMessages
// is called before the first point instead of after the load, so also for a file that turns out not to be
// well-formed further on.
// stopRequested, when given, is asked between points; a stop ends the import as a failed one (the result
// is false and the table is as a failed import leaves it), and the rest of the file is not read.
bool importGpx(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
               const std::function<void()>& processMessages,
               ImportDetails details = ImportDetails::positionsOnly,
               const std::function<bool()>& stopRequested = {}, std::string* failure = nullptr);

// A GPX file that could not be read or parsed; what() is the loader's own text.
class GpxLoadError : public Error {
public:
    using Error::Error;
};

// The same import over the whole document tree, loaded before the first insert.
bool importGpxTree(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
                   const std::function<void()>& processMessages,
                   ImportDetails details = ImportDetails::positionsOnly,
                   const std::function<bool()>& stopRequested = {}, std::string* failure = nullptr);

}  // namespace zeloro
