// tests/trackread/CollectingSink.h: a sink that keeps what a reader gives, segment by segment.
#pragma once
#include <vector>

#include "trackread/TrackPoint.h"

namespace zeloro::test {

class CollectingSink : public TrackPointSink {
public:
    void NewSegment() override { segments.emplace_back(); }
    void Add(const TrackPoint& point) override {
        if (segments.empty()) {
            orphans.push_back(point);  // a reader must open a segment first
            return;
        }
        segments.back().push_back(point);
    }
    [[nodiscard]] std::vector<TrackPoint> Points() const {
        std::vector<TrackPoint> all;
        for (const auto& segment : segments) {
            all.insert(all.end(), segment.begin(), segment.end());
        }
        return all;
    }
    std::vector<std::vector<TrackPoint>> segments;
    std::vector<TrackPoint> orphans;
};

}  // namespace zeloro::test
