// src/media/ShotTime.h: the shot time of a photo or video of any kind, and whether it holds a position.
#pragma once
#include <cstdint>
#include <optional>

#include "common/DateTime.h"
#include "common/Error.h"
#include "media/ByteSource.h"
#include "media/MediaKind.h"

namespace zeloro {

struct ShotTime {
    DateTimeValue time = 0;
    // camera: the camera's own clock, to which the run applies the camera zone (EXIF DateTimeOriginal; its
    // OffsetTimeOriginal is deliberately not applied here). utc: a QuickTime movie header's creation time,
    // UTC by that format's rule, so no zone applies. offset: a time written with its offset to UTC
    // (QuickTime's "com.apple.quicktime.creationdate", "2019-05-01T10:00:00+0200"); time is the local
    // clock as written, offsetMinutes its offset east of UTC.
    enum class Clock : std::uint8_t { camera, utc, offset } clock = Clock::camera;
    int offsetMinutes = 0;
    friend bool operator==(const ShotTime&, const ShotTime&) = default;
};

// A file that is damaged where its shot time must be read; what() names the damage in German.
class MediaError : public Error {
public:
    using Error::Error;
};

struct MediaFacts {
    std::optional<ShotTime> shot;  // nullopt: the file holds no shot time
    bool hasGpsPosition = false;   // a latitude and a longitude are there already
};

// Reads what the run needs of a file of the given kind (as DetectMediaKind told it), never the image or
// movie data; every size the file states is bounded by the file's size. Throws MediaError for a file that is
// damaged where it must be read; unknown and otherwise unreadable kinds give no shot time.
[[nodiscard]] MediaFacts ReadMediaFacts(MediaKind kind, const ByteSource& file);

}  // namespace zeloro
