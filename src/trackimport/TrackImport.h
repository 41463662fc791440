// src/trackimport/TrackImport.h: the import of a track file of any format the system reads into the
// track table.
#pragma once
#include <functional>
#include <string>

#include "common/LogSink.h"
#include "gpx/GpxImport.h"
#include "trackimport/TrackFormat.h"
#include "trackstore/Database.h"

namespace zeloro {

// A track file that cannot be imported at all: no track file, a damaged one, one without timed points,
// or one gpsbabel could not convert. what() names the file first ("PATH: ..."). A GpxLoadError, so a
// front end treats it as the GPX file that does not load.
class TrackLoadError : public GpxLoadError {
public:
    using GpxLoadError::GpxLoadError;
};

// "keine Trackdatei (erkannt: JPEG-Bild)"
inline constexpr const char* kNoTrackFile = "keine Trackdatei (erkannt: %s)";
// "KML ohne Zeitangaben – keine Trackpunkte importiert"
inline constexpr const char* kNoTimedPoints = "%s ohne Zeitangaben – keine Trackpunkte importiert";

// importGpx for a file of any track format (DetectTrackFormat): GPX goes to importGpx unchanged. Any
// other format is read by its reader as the file is read, with importGpx's contract: the same log lines,
// the points inserted in batches inside a savepoint of one transaction (a transaction the caller had open
// is used and committed as importGpx does), a stop asked between points, a point off the globe the
// point's error ("PATH: Punkt Nr. N (lat "..", lon "..", time ".."): REASON" into failure), the elevation
// and segment columns with ImportDetails::elevationAndSegments (one segment number per segment the file
// has). Coordinates are stored as the shortest decimal text that reads back as the same double.
// Throws TrackLoadError after the start line, with nothing of the file kept, for a file that is no track
// file, is damaged (the reader's text) or has no timed point (kNoTimedPoints); the open error of a file
// that cannot be read is a FileError naming it.
bool importTrack(const std::string& path, Connection& uniCon, Query& query, LogSink& log,
                 const std::function<void()>& processMessages,
                 ImportDetails details = ImportDetails::positionsOnly,
                 const std::function<bool()>& stopRequested = {}, std::string* failure = nullptr);

// The same for a file gpsbabel reads in its format gpsbabelFormat (its -i name, options after commas):
// converted to GPX in a private temporary file (gpsbabel -t -w -r, run without a shell), then imported by
// importGpx; the converted file is removed afterwards. Messages name path, not the temporary file. Throws
// TrackLoadError when gpsbabel is not installed or cannot read the file.
bool importTrackThroughGpsbabel(const std::string& gpsbabelFormat, const std::string& path,
                                Connection& uniCon, Query& query, LogSink& log,
                                const std::function<void()>& processMessages,
                                ImportDetails details = ImportDetails::positionsOnly,
                                const std::function<bool()>& stopRequested = {},
                                std::string* failure = nullptr);

}  // namespace zeloro
