// fuzz/TrackreadFitFuzz.cpp: the FIT decoder on any bytes, under the checks of TrackreadFuzzSink.h.
#include <cstddef>
#include <cstdint>

#include "TrackreadFuzzSink.h"
#include "trackread/FitTrack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::fuzz::ReadChecked(zeloro::ReadFit, data, size, zeloro::fuzz::PointCheck::finiteNumbers);
    return 0;
}
