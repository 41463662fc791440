// src/trackread/GoogleRead.cpp: Google's location history, as Takeout's Records.json and as the timeline
// a phone exports itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trackread/TextTracks.h"
#include "trackread/detail/JsonEvents.h"
#include "trackread/detail/TextFields.h"

namespace zeloro {

namespace trackread {

namespace {

// Degrees times 10^7. Some exports write a negative value as its unsigned 32-bit twin (4 233 000 000 for
// -61 967 296): the field is a signed 32-bit number, and is read as one.
std::optional<double> E7Degrees(const JsonScalar& value) {
    if (value.kind != JsonScalar::Kind::number) {
        return std::nullopt;
    }
    double e7 = value.number;
    if (value.integer && *value.integer > INT32_MAX &&
        *value.integer <= static_cast<std::int64_t>(UINT32_MAX)) {
        e7 = static_cast<double>(*value.integer - (std::int64_t{1} << 32));
    }
    return e7 / 1e7;
}

class RecordsHandler final : public JsonEventHandler {
public:
    explicit RecordsHandler(TrackPointSink& sink) : out_(sink) {}

    void Start(const std::vector<JsonLevel>& path) override {
        if (path.size() == 1 && path[0].array) {
            throw TrackFormatError(kNotRecords);
        }
        if (path.size() == 2 && path[0].key == "locations") {
            if (!path[1].array) {
                throw TrackFormatError(kNotRecords);
            }
            sawLocations_ = true;
        }
        if (InLocation(path)) {
            ++number_;
            location_ = {};
        }
    }

    void End(const std::vector<JsonLevel>& path) override {
        if (!InLocation(path)) {
            return;
        }
        const Location& at = location_;
        if (!at.latitude || !at.longitude || !at.time) {
            return;  // no position or no time: not a track point
        }
        TrackPoint point;
        point.latitude = *at.latitude;
        point.longitude = *at.longitude;
        point.utcTime = *at.time;
        point.elevation = at.altitude;
        out_.Add(point);
    }

    void Scalar(const std::vector<JsonLevel>& path, const JsonScalar& value) override {
        if (path.empty()) {
            throw TrackFormatError(kNotRecords);
        }
        if (path.size() == 1 && path[0].key == "locations") {
            throw TrackFormatError(kNotRecords);
        }
        if (!InLocation(path)) {
            return;
        }
        const std::string& key = path.back().key;
        if (key == "latitudeE7" || key == "longitudeE7") {
            const std::optional<double> degrees = E7Degrees(value);
            if (!degrees && value.kind != JsonScalar::Kind::null) {
                throw TrackFormatError(Where() + ": " + key + " " + Quoted(value.text) + " ist keine Zahl.");
            }
            (key == "latitudeE7" ? location_.latitude : location_.longitude) = degrees;
        } else if (key == "timestamp" && value.kind == JsonScalar::Kind::string) {
            DateTimeValue utc = 0;
            const TimeText kind = ParseIsoTime(value.text, utc);
            if (kind == TimeText::invalid) {
                throw TrackFormatError(Where() + ": die Zeit " + Quoted(value.text) + " ist nicht lesbar.");
            }
            if (kind == TimeText::moment) {
                location_.time = utc;
            }
        } else if (key == "timestampMs" && value.kind != JsonScalar::Kind::null) {
            DateTimeValue utc = 0;
            const bool whole = value.text.find_first_not_of("0123456789") == std::string_view::npos;
            if (!whole || !UnixMillisecondsToUtc(ParseMs(value.text), utc)) {
                throw TrackFormatError(Where() + ": timestampMs " + Quoted(value.text) +
                                       " ist nicht lesbar.");
            }
            location_.time = utc;
        } else if (key == "altitude" && value.kind == JsonScalar::Kind::number) {
            location_.altitude = value.number;
        }
    }

    void Finish() const {
        if (!sawLocations_) {
            throw TrackFormatError(kNotRecords);
        }
    }

private:
    static constexpr const char* kNotRecords =
        "Die Datei ist keine Records.json des Google-Standortverlaufs: ihr fehlt die Liste „locations“.";

    struct Location {
        std::optional<double> latitude;
        std::optional<double> longitude;
        std::optional<DateTimeValue> time;
        std::optional<double> altitude;
    };
    SegmentedSink out_;
    Location location_;
    std::uint64_t number_ = 0;
    bool sawLocations_ = false;

    // An element of the top-level "locations" list, not what lies deeper (its activity records carry
    // timestamps of their own).
    static bool InLocation(const std::vector<JsonLevel>& path) {
        return path.size() == 3 && !path[0].array && path[0].key == "locations" && path[1].array &&
               !path[2].array;
    }

    [[nodiscard]] std::string Where() const { return "locations Nr. " + std::to_string(number_); }

    static std::int64_t ParseMs(std::string_view digits) {
        std::int64_t ms = 0;
        for (const char c : digits.substr(0, 18)) {
            ms = ms * 10 + (c - '0');
        }
        return digits.size() > 18 || digits.empty() ? INT64_MAX : ms;
    }
};

// "48.1375°, 11.5755°" (or "geo:48.1375,11.5755"): latitude first.
bool ParseTimelinePoint(std::string_view text, TrackPoint& point) {
    std::string plain;
    text = Trimmed(text);
    if (text.substr(0, 4) == "geo:") {
        text.remove_prefix(4);
    }
    constexpr std::string_view kDegree = "\xC2\xB0";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, kDegree.size()) == kDegree) {
            ++i;
            continue;
        }
        plain += text[i];
    }
    const std::size_t comma = plain.find(',');
    if (comma == std::string::npos) {
        return false;
    }
    const std::optional<double> latitude = ParseNumber(std::string_view(plain).substr(0, comma));
    const std::optional<double> longitude = ParseNumber(std::string_view(plain).substr(comma + 1));
    if (!latitude || !longitude) {
        return false;
    }
    point.latitude = *latitude;
    point.longitude = *longitude;
    return true;
}

class TimelineHandler final : public JsonEventHandler {
public:
    explicit TimelineHandler(TrackPointSink& sink) : out_(sink) {}

    void Start(const std::vector<JsonLevel>& path) override {
        if (path.size() == 1 && path[0].array) {
            throw TrackFormatError(kNotTimeline);
        }
        if (path.size() == 2 && path[0].key == "semanticSegments") {
            if (!path[1].array) {
                throw TrackFormatError(kNotTimeline);
            }
            sawSegments_ = true;
        }
        if (InPathPoint(path)) {
            pointText_.reset();
            timeText_.reset();
        }
    }

    void End(const std::vector<JsonLevel>& path) override {
        if (!InPathPoint(path) || !pointText_ || !timeText_) {
            return;
        }
        const std::string where = "semanticSegments Nr. " + std::to_string(path[1].count) +
                                  ", timelinePath Nr. " + std::to_string(path[3].count);
        TrackPoint point;
        const TimeText kind = ParseIsoTime(*timeText_, point.utcTime);
        if (kind == TimeText::invalid) {
            throw TrackFormatError(where + ": die Zeit " + Quoted(*timeText_) + " ist nicht lesbar.");
        }
        if (!ParseTimelinePoint(*pointText_, point)) {
            throw TrackFormatError(where + ": der Punkt " + Quoted(*pointText_) + " ist nicht lesbar.");
        }
        if (kind == TimeText::moment) {
            out_.Add(point);
        }
    }

    void Scalar(const std::vector<JsonLevel>& path, const JsonScalar& value) override {
        if (path.empty() || (path.size() == 1 && path[0].key == "semanticSegments")) {
            throw TrackFormatError(kNotTimeline);
        }
        if (!InPathPoint(path) || value.kind != JsonScalar::Kind::string) {
            return;
        }
        if (path.back().key == "point") {
            pointText_ = std::string(value.text);
        } else if (path.back().key == "time") {
            timeText_ = std::string(value.text);
        }
    }

    void Finish() const {
        if (!sawSegments_) {
            throw TrackFormatError(kNotTimeline);
        }
    }

private:
    static constexpr const char* kNotTimeline =
        "Die Datei ist kein Zeitachsen-Export von Google: ihr fehlt die Liste „semanticSegments“.";
    SegmentedSink out_;
    std::optional<std::string> pointText_;
    std::optional<std::string> timeText_;
    bool sawSegments_ = false;

    static bool InPathPoint(const std::vector<JsonLevel>& path) {
        return path.size() == 5 && path[0].key == "semanticSegments" && path[1].array && !path[2].array &&
               path[2].key == "timelinePath" && path[3].array && !path[4].array;
    }
};

}  // namespace

}  // namespace trackread

void ReadGoogleRecords(std::istream& in, TrackPointSink& sink) {
    trackread::RecordsHandler handler(sink);
    trackread::ReadJsonEvents(in, handler, "Records.json");
    handler.Finish();
}

void ReadGoogleTimeline(std::istream& in, TrackPointSink& sink) {
    trackread::TimelineHandler handler(sink);
    trackread::ReadJsonEvents(in, handler, "Zeitachsen");
    handler.Finish();
}

}  // namespace zeloro
