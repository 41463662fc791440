// fuzz/TrackreadCsvFuzz.cpp: the CSV reader, under the checks of TrackreadFuzzSink.h.
#include <cstddef>
#include <cstdint>

#include "TrackreadFuzzSink.h"
#include "trackread/TextTracks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::fuzz::ReadChecked(zeloro::ReadCsv, data, size, zeloro::fuzz::PointCheck::calendarTime);
    return 0;
}
