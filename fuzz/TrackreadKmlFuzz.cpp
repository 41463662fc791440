// fuzz/TrackreadKmlFuzz.cpp: the KML and TCX readers on the same bytes. A reader may refuse the input
// (TrackFormatError) and must do nothing else: every point comes after a segment began, with a time
// that is a date of the calendar.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "trackread/TextTracks.h"

namespace {

class CheckingSink : public zeloro::TrackPointSink {
public:
    void NewSegment() override { open_ = true; }
    void Add(const zeloro::TrackPoint& point) override {
        if (!open_ || !(point.utcTime > -693594.0 && point.utcTime < 2958466.0)) {
            __builtin_trap();
        }
    }

private:
    bool open_ = false;
};

void Read(void (*reader)(std::istream&, zeloro::TrackPointSink&), const std::string& bytes) {
    std::istringstream in(bytes);
    CheckingSink sink;
    try {
        reader(in, sink);
    } catch (const zeloro::TrackFormatError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Read(zeloro::ReadKml, bytes);
    Read(zeloro::ReadTcx, bytes);
    return 0;
}
