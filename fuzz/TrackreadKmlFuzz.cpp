// fuzz/TrackreadKmlFuzz.cpp: the KML and TCX readers on the same bytes, under the checks of
// TrackreadFuzzSink.h.
#include <cstddef>
#include <cstdint>

#include "TrackreadFuzzSink.h"
#include "trackread/TextTracks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::fuzz::ReadChecked(zeloro::ReadKml, data, size, zeloro::fuzz::PointCheck::calendarTime);
    zeloro::fuzz::ReadChecked(zeloro::ReadTcx, data, size, zeloro::fuzz::PointCheck::calendarTime);
    return 0;
}
