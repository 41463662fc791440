// fuzz/TrackreadIgcFuzz.cpp: the IGC reader on any bytes: it ends or throws TrackFormatError, and every
// point it gives lies in a segment, with finite numbers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "trackread/IgcTrack.h"

namespace {

class CheckingSink : public zeloro::TrackPointSink {
public:
    void NewSegment() override { open = true; }
    void Add(const zeloro::TrackPoint& point) override {
        if (!open || !std::isfinite(point.latitude) || !std::isfinite(point.longitude) ||
            !std::isfinite(point.utcTime) || (point.elevation && !std::isfinite(*point.elevation))) {
            __builtin_trap();
        }
    }
    bool open = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CheckingSink sink;
    try {
        zeloro::ReadIgc(in, sink);
    } catch (const zeloro::TrackFormatError&) {  // NOLINT(bugprone-empty-catch): damage is an answer
    }
    return 0;
}
