// src/trackread/FitTrack.h: the track points of a Garmin FIT activity file.
#pragma once
#include <istream>

#include "trackread/TrackPoint.h"

namespace zeloro {

// Gives every record message with a valid time, latitude and longitude as a point, its elevation from
// enhanced_altitude or else altitude when valid; a session or lap message starts a new segment before the
// next point. Chained files are read one after the other. The header's and the file's checksums are
// checked, the file's only after its points have gone to the sink: a caller that must not keep the points
// of a damaged file undoes them when this throws. Throws TrackFormatError for a file that is no FIT file,
// is cut short or fails a checksum; what the sink throws leaves unchanged.
void ReadFit(std::istream& in, TrackPointSink& sink);

}  // namespace zeloro
