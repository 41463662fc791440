// fuzz/TrackreadFuzzSink.h: what every track reader's fuzz target asks of it. A reader may refuse its
// input (TrackFormatError) and must do nothing else: every point comes after a segment began, and its
// numbers are what the reader's format can give.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "trackread/TrackPoint.h"

namespace zeloro::fuzz {

enum class PointCheck {
    calendarTime,   // text formats hand positions on as read; the time must be a date of the calendar
    finiteNumbers,  // binary and fixed-field formats compute every number, so none may be NaN or infinite
};

class CheckingSink : public TrackPointSink {
public:
    explicit CheckingSink(PointCheck check) : check_(check) {}
    void NewSegment() override { open_ = true; }
    void Add(const TrackPoint& point) override {
        const bool good = check_ == PointCheck::calendarTime
                              ? point.utcTime > -693594.0 && point.utcTime < 2958466.0
                              : std::isfinite(point.latitude) && std::isfinite(point.longitude) &&
                                    std::isfinite(point.utcTime) &&
                                    (!point.elevation || std::isfinite(*point.elevation));
        if (!open_ || !good) {
            __builtin_trap();
        }
    }

private:
    PointCheck check_;
    bool open_ = false;
};

inline void ReadChecked(void (*reader)(std::istream&, TrackPointSink&), const std::uint8_t* data,
                        std::size_t size, PointCheck check) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CheckingSink sink(check);
    try {
        reader(in, sink);
    } catch (const TrackFormatError&) {  // NOLINT(bugprone-empty-catch): damage is an answer
    }
}

}  // namespace zeloro::fuzz
