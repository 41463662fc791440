// fuzz/TrackreadJsonFuzz.cpp: the GeoJSON reader and both Google readers on the same bytes, under the checks
// of TrackreadFuzzSink.h.
#include <cstddef>
#include <cstdint>

#include "TrackreadFuzzSink.h"
#include "trackread/TextTracks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::fuzz::ReadChecked(zeloro::ReadGeoJson, data, size, zeloro::fuzz::PointCheck::calendarTime);
    zeloro::fuzz::ReadChecked(zeloro::ReadGoogleRecords, data, size, zeloro::fuzz::PointCheck::calendarTime);
    zeloro::fuzz::ReadChecked(zeloro::ReadGoogleTimeline, data, size, zeloro::fuzz::PointCheck::calendarTime);
    return 0;
}
