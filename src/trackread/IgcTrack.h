// src/trackread/IgcTrack.h: the track points of an IGC flight recorder file.
#pragma once
#include <istream>

#include "trackread/TrackPoint.h"

namespace zeloro {

// Every B record after the date (HFDTE, also written HFDTEDATE:) becomes a point of the file's one
// segment; a time earlier than the one before is of the next day. Elevation: the GNSS altitude, else the
// pressure altitude, when not 0. B records before any date and damaged ones are left out. Throws only
// what the sink throws.
void ReadIgc(std::istream& in, TrackPointSink& sink);

}  // namespace zeloro
