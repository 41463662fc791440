// fuzz/TrackreadNmeaFuzz.cpp: the NMEA reader on any bytes, under the checks of TrackreadFuzzSink.h.
#include <cstddef>
#include <cstdint>

#include "TrackreadFuzzSink.h"
#include "trackread/NmeaTrack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::fuzz::ReadChecked(zeloro::ReadNmea, data, size, zeloro::fuzz::PointCheck::finiteNumbers);
    return 0;
}
