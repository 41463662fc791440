// fuzz/TrackimportDetectFuzz.cpp: telling a track file's format from any first bytes (zip headers, XML
// prologues, JSON, text lines): it ends, and a file that is no track file says what it is.
#include <cstddef>
#include <cstdint>
#include <span>

#include "trackimport/TrackFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> head(data, size);
    // The name's extension is a hint only where the content leaves a choice: try both kinds of hint.
    for (const char* name : {"track", "track.gpx", "track.kmz", "track.igc"}) {
        const zeloro::DetectedTrack detected = zeloro::DetectTrackFormat(head, name);
        if (detected.format == zeloro::TrackFormat::none && detected.what.empty()) {
            __builtin_trap();
        }
    }
    return 0;
}
