// fuzz/TrackreadIgcFuzz.cpp: the IGC reader on any bytes, under the checks of TrackreadFuzzSink.h.
#include <cstddef>
#include <cstdint>

#include "TrackreadFuzzSink.h"
#include "trackread/IgcTrack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::fuzz::ReadChecked(zeloro::ReadIgc, data, size, zeloro::fuzz::PointCheck::finiteNumbers);
    return 0;
}
