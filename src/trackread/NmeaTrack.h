// src/trackread/NmeaTrack.h: the track points of an NMEA 0183 log.
#pragma once
#include <istream>

#include "trackread/TrackPoint.h"

namespace zeloro {

// Reads RMC, GGA and GNS sentences of the talkers GP, GN, GL, GA and BD; a sentence whose checksum is
// given and wrong is left out, and so is an RMC without a valid fix (V), a GGA of fix quality 0 and a GNS
// whose modes all say "no fix". RMC gives date and time; GGA and GNS only the time of day, dated by the
// last RMC (a time more than twelve hours before that RMC's is of the next day), and a GGA or GNS before
// the first RMC is kept only when an RMC of the same second follows. Sentences of the same second give
// one point (position of the first, elevation of the GGA or GNS). One segment per file. Throws only what
// the sink throws; a file without any of these sentences gives no point.
void ReadNmea(std::istream& in, TrackPointSink& sink);

}  // namespace zeloro
