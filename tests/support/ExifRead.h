// tests/support/ExifRead.h: the GPS tags of a written photo, read back by our own reader and by exiftool,
// an independent one.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zeloro::test {

// Where and when a photo was tagged, in the texts a test knows them by.
struct GpsFix {
    std::string lat;  // signed decimal degrees as the track holds them: "-33.8567"
    std::string lon;
    std::string utc;  // "2024:06:15 08:00:30"
};

// Signed decimal degrees.
struct GpsPosition {
    double lat = 0;
    double lon = 0;
};

// The position our own reader finds in the photo; nullopt when the photo has no valid one.
[[nodiscard]] std::optional<GpsPosition> GpsPositionOf(const std::filesystem::path& photo);

// Our own reader sees the fix: hemisphere letters, whole degrees and minutes, the position within 1e-7
// degrees and the UTC stamp to the second.
void ExpectGpsByOurReader(const std::filesystem::path& photo, const GpsFix& fix);
// exiftool sees the same: signed decimal degrees within 1e-7 and the UTC stamp.
void ExpectGpsByExiftool(const std::filesystem::path& photo, const GpsFix& fix);

// What exiftool reads for each tag as a number (-n), in the order asked, "-" for a tag the photo lacks.
// A failed run or an answer of another length is a test failure, and the result is then empty.
[[nodiscard]] std::vector<std::string> ExiftoolValues(const std::filesystem::path& photo,
                                                      const std::vector<std::string>& tags);

}  // namespace zeloro::test
