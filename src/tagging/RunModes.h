// src/tagging/RunModes.h: the opt-in modes of a tagging run and what it reports per photo. With the
// defaults a run writes, logs and reports exactly what it always did.
#pragma once
#include <string>

#include "common/DateTime.h"

namespace zeloro {

struct RunModes {
    bool dryRun = false;      // everything but the save: no photo file is opened for writing
    bool skipTagged = false;  // a photo that already holds a GPS position is left as it is
    bool keepMtime = false;   // a saved photo gets its former modification time back (to the nanosecond)
    [[nodiscard]] bool AnyOn() const noexcept { return dryRun || skipTagged || keepMtime; }
    friend bool operator==(const RunModes&, const RunModes&) = default;
};

inline constexpr const char* kLogDryRunTagged = " würde getaggt (Probelauf)";
inline constexpr const char* kLogSkippedTagged = " hat bereits eine GPS-Position, übersprungen";

enum class PhotoStatus { tagged, noMatch, skipped, failed };

// One handled photo, as a script wants to see it. In a dry run "tagged" means it would have been.
struct PhotoReport {
    std::string path;
    PhotoStatus status = PhotoStatus::noMatch;
    std::string lat;  // the track table's texts; empty unless tagged
    std::string lon;
    DateTimeValue utcTime = 0;  // the track point's UTC time; 0 unless tagged
    std::string message;        // the log message without stamp, or the error's text
    std::string reason;         // why no point was found, when the run explains misses; else empty
};

}  // namespace zeloro
