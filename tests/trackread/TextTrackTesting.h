// tests/trackread/TextTrackTesting.h: what the tests of the text track readers share: a sink that keeps
// what it is given, points as comparable texts, and the independent readings of the shared tracks
// (gpsbabel's, and the GPX twin's read with libxml2).
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trackread/TrackPoint.h"

namespace zeloro::test {

// "lat lon yyyy-mm-dd hh:nn:ss.zzz ele": seven decimals, the time to the millisecond, "-" for no
// elevation.
[[nodiscard]] std::string PointText(const TrackPoint& point);

// Keeps the segments as texts of their points.
class RecordingSink : public TrackPointSink {
public:
    void NewSegment() override { segments.emplace_back(); }
    void Add(const TrackPoint& point) override;
    std::vector<std::vector<std::string>> segments;
    std::vector<TrackPoint> points;  // all of them, in order
};

using StreamReader = std::function<void(std::istream&, TrackPointSink&)>;

// The segments a reader gives for text.
[[nodiscard]] std::vector<std::vector<std::string>> ReadText(const StreamReader& reader,
                                                             std::string_view text);
// The TrackFormatError text a reader throws for text; empty when it throws none.
[[nodiscard]] std::string ReadError(const StreamReader& reader, std::string_view text);

// A timed point of an independent reading: degrees and "yyyy-mm-dd hh:nn:ss" UTC.
struct OraclePoint {
    double latitude = 0;
    double longitude = 0;
    std::string time;
};

// The timed wpt, trkpt and rtept of a GPX text (times in UTC, with "Z").
[[nodiscard]] std::vector<OraclePoint> GpxTimedPoints(const std::string& gpx);
// What gpsbabel reads from a file of the format given (its -i name); nullopt without gpsbabel.
[[nodiscard]] std::optional<std::vector<OraclePoint>> GpsbabelTimedPoints(const std::filesystem::path& file,
                                                                          std::string_view format);
// Success when the two lists hold the same points, in any order, to 1e-6° and the second.
[[nodiscard]] ::testing::AssertionResult SamePoints(std::vector<OraclePoint> expected,
                                                    const std::vector<TrackPoint>& actual);

}  // namespace zeloro::test
