// src/trackread/TrackPoint.h: what every track file reader gives, whatever the file's format: timed
// positions in file order, grouped in segments, handed to a sink as they are read so that the memory a
// read takes does not grow with the file.
#pragma once
#include <optional>

#include "common/DateTime.h"
#include "common/Error.h"

namespace zeloro {

// One timed position of a track file.
struct TrackPoint {
    double latitude = 0;   // degrees north, WGS 84
    double longitude = 0;  // degrees east
    DateTimeValue utcTime = 0;
    std::optional<double> elevation;  // metres above sea level, when the file gives one
};

// Where a reader puts its points, in file order. NewSegment comes before the first point of each of the
// format's own segments (a trkseg, a gx:Track, a TCX lap, a FIT session); a format without segments
// calls it once. What Add throws (a stop, a database error) ends the read and leaves the reader.
class TrackPointSink {
public:
    virtual ~TrackPointSink() = default;
    virtual void NewSegment() = 0;
    virtual void Add(const TrackPoint& point) = 0;
};

// A track file that is damaged or not of the format read; what() is a German text without the file's
// path (the import puts "<file>: " before it).
class TrackFormatError : public Error {
public:
    using Error::Error;
};

// True for a position EXIF degrees can place: latitude within ±90, longitude within ±180, both finite.
[[nodiscard]] bool IsOnGlobe(double latitude, double longitude) noexcept;

}  // namespace zeloro
