// src/trackread/GeoJsonRead.cpp: GeoJSON. Times are no part of the format: a Point feature carries one
// as a property, a line as a list of times beside its coordinates (coordTimes, or coordinateProperties'
// times), one per position.
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
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

constexpr std::string_view kNotGeoJson = "Die Datei ist keine GeoJSON-Datei";

// The property names a Point feature's time goes by in the files users meet.
bool IsTimeProperty(std::string_view key) {
    const std::string lower = LowerAscii(key);
    return lower == "time" || lower == "timestamp" || lower == "when" || lower == "datetime" ||
           lower == "date_time" || lower == "date-time" || lower == "utctime" || lower == "utc_time" ||
           lower == "time_utc" || lower == "gps_time";
}

bool IsGeoJsonType(std::string_view type) {
    for (const std::string_view known :
         {"FeatureCollection", "Feature", "Point", "MultiPoint", "LineString", "MultiLineString", "Polygon",
          "MultiPolygon", "GeometryCollection"}) {
        if (type == known) {
            return true;
        }
    }
    return false;
}

// A line's positions and times pair up in order as they come; since a feature's members come in any
// order (a writer that sorts them puts "geometry" before "properties"), what comes first waits for its
// partner: the times (8 bytes each) when the properties come first, else the positions. An untimed line's
// positions wait until its feature ends.
class GeoJsonHandler final : public JsonEventHandler {
public:
    explicit GeoJsonHandler(TrackPointSink& sink) : out_(sink) {}

    void Start(const std::vector<JsonLevel>& path) override {
        if (path.size() == 1 && path[0].array) {
            throw TrackFormatError(std::string(kNotGeoJson) + ": sie ist kein JSON-Objekt.");
        }
        if (IsFeature(path)) {
            featureNumber_ += path.size() > 1 ? 1U : 0U;
            feature_ = {};
        }
    }

    void End(const std::vector<JsonLevel>& path) override {
        const std::size_t depth = path.size();
        if (featureLevel_ != 0 && depth > featureLevel_) {
            EndInsideFeature(path);
        }
        if (IsFeature(path)) {
            FinishFeature();
        }
    }

    void Scalar(const std::vector<JsonLevel>& path, const JsonScalar& value) override {
        if (path.empty()) {
            throw TrackFormatError(std::string(kNotGeoJson) + ": sie ist kein JSON-Objekt.");
        }
        if (path.size() == 1 && path[0].key == "type") {
            rootType_ = value.kind == JsonScalar::Kind::string ? std::string(value.text) : std::string("?");
        }
        if (!CurrentFeature(path)) {
            return;
        }
        const std::size_t f = featureLevel_;  // path[f - 1] is the feature object
        const std::size_t depth = path.size();
        // geometry.type
        if (depth == f + 1 && path[f - 1].key == "geometry" && path[f].key == "type") {
            feature_.geometryType = std::string(value.text);
            return;
        }
        // geometry.coordinates, any level of nesting: the numbers of the innermost arrays
        if (depth >= f + 2 && path[f - 1].key == "geometry" && !path[f].array &&
            path[f].key == "coordinates") {
            if (value.kind != JsonScalar::Kind::number) {
                throw TrackFormatError(Where() + ": die Koordinate " + Quoted(value.text) +
                                       " ist keine Zahl.");
            }
            if (numbers_.size() == 4) {
                throw TrackFormatError(Where() + ": eine Position hat mehr als 4 Koordinaten.");
            }
            numbers_.push_back(value.number);
            return;
        }
        if (depth >= f + 1 && path[f - 1].key == "properties") {
            PropertyScalar(path, value);
        }
    }

    void Finish() const {
        if (!rootType_ || !IsGeoJsonType(*rootType_)) {
            throw TrackFormatError(std::string(kNotGeoJson) + ": ihr fehlt der GeoJSON-Typ.");
        }
    }

private:
    struct Position {
        TrackPoint point;
        std::uint64_t line = 0;
    };
    struct Feature {
        std::string geometryType;
        std::deque<Position> waitingPositions;
        std::deque<DateTimeValue> waitingTimes;  // NaN for a position without a time
        std::uint64_t positions = 0;
        std::uint64_t times = 0;
        std::optional<TrackPoint> firstPosition;
        bool emitted = false;  // a point of a line went to the sink
        std::uint64_t lastLine = 0;
        // A Point's time property as written; read only for a Point, since a line may name its start so.
        std::optional<JsonScalar::Kind> pointTimeKind;
        std::string pointTimeText;
    };

    SegmentedSink out_;
    Feature feature_;
    std::vector<double> numbers_;   // of the position array being read
    std::size_t featureLevel_ = 0;  // the path length at which the current feature is open; 0 for none
    std::uint64_t featureNumber_ = 0;
    std::optional<std::string> rootType_;
    bool pointRun_ = false;

    // The root object, or an element of its "features" list.
    bool IsFeature(const std::vector<JsonLevel>& path) {
        const bool feature =
            (path.size() == 1 && !path[0].array) ||
            (path.size() == 3 && path[0].key == "features" && path[1].array && !path[2].array);
        if (feature) {
            featureLevel_ = path.size();
        }
        return feature;
    }

    bool CurrentFeature(const std::vector<JsonLevel>& path) {
        // A feature of the list is the innermost one; the root counts only while no listed one is open.
        if (path.size() >= 3 && path[0].key == "features" && path[1].array && !path[2].array) {
            featureLevel_ = 3;
            return true;
        }
        featureLevel_ = 1;
        return !path.empty() && !path[0].array;
    }

    // The feature as the file shows it: its place in the list, or the document itself.
    [[nodiscard]] std::string Where() const {
        return featureLevel_ > 1 ? "Feature Nr. " + std::to_string(featureNumber_)
                                 : std::string("Das Feature");
    }

    void EndInsideFeature(const std::vector<JsonLevel>& path) {
        if (!CurrentFeature(path)) {
            return;
        }
        const std::size_t f = featureLevel_;
        if (path.size() >= f + 2 && path[f - 1].key == "geometry" && path[f].key == "coordinates" &&
            path.back().array && !numbers_.empty()) {
            // A position ends; a MultiLineString's positions lie a level deeper than a LineString's, and
            // its line is the element of coordinates they are in.
            if (numbers_.size() < 2 || numbers_.size() > 4) {
                throw TrackFormatError(Where() + ": eine Position hat " + std::to_string(numbers_.size()) +
                                       " Koordinaten.");
            }
            Position position;
            position.point.longitude = numbers_[0];
            position.point.latitude = numbers_[1];
            if (numbers_.size() >= 3) {
                position.point.elevation = numbers_[2];
            }
            position.line = path.size() >= f + 4 ? path[f + 1].count : 0;
            numbers_.clear();
            if (++feature_.positions == 1) {
                feature_.firstPosition = position.point;
            }
            feature_.waitingPositions.push_back(position);
            Pair();
        }
    }

    void PropertyScalar(const std::vector<JsonLevel>& path, const JsonScalar& value) {
        const std::size_t f = featureLevel_;
        const std::size_t depth = path.size();
        if (depth == f + 1 && !path[f].array && IsTimeProperty(path[f].key) && !feature_.pointTimeKind) {
            feature_.pointTimeKind = value.kind;
            feature_.pointTimeText = value.text;
            return;
        }
        const bool coordTimes =
            depth >= f + 2 && !path[f].array && path[f].key == "coordTimes" && path[f + 1].array;
        const bool propertyTimes = depth >= f + 3 && !path[f].array &&
                                   path[f].key == "coordinateProperties" && !path[f + 1].array &&
                                   path[f + 1].key == "times" && path[f + 2].array;
        if ((coordTimes || propertyTimes) && path.back().array) {
            ++feature_.times;
            feature_.waitingTimes.push_back(TimeOf(value).value_or(std::numeric_limits<double>::quiet_NaN()));
            Pair();
        }
    }

    // A time as text (ISO 8601) or as a number (Unix seconds or milliseconds); nullopt for null, a day
    // alone or an empty text.
    std::optional<DateTimeValue> TimeOf(const JsonScalar& value) const {
        DateTimeValue utc = 0;
        if (value.kind == JsonScalar::Kind::null ||
            (value.kind == JsonScalar::Kind::string && Trimmed(value.text).empty())) {
            return std::nullopt;
        }
        if (value.kind == JsonScalar::Kind::number && ParseUnixTime(value.text, utc)) {
            return utc;
        }
        if (value.kind == JsonScalar::Kind::string) {
            switch (ParseIsoTime(value.text, utc)) {
                case TimeText::moment:
                    return utc;
                case TimeText::dayOnly:
                    return std::nullopt;
                case TimeText::invalid:
                    break;
            }
        }
        throw TrackFormatError(Where() + ": die Zeit " + Quoted(value.text) + " ist nicht lesbar.");
    }

    // Gives the sink the points of a line whose position and time have both been read.
    void Pair() {
        Feature& f = feature_;
        while (!f.waitingPositions.empty() && !f.waitingTimes.empty()) {
            const Position position = f.waitingPositions.front();
            const DateTimeValue time = f.waitingTimes.front();
            f.waitingPositions.pop_front();
            f.waitingTimes.pop_front();
            if (std::isnan(time)) {
                continue;
            }
            if (!f.emitted || position.line != f.lastLine) {
                out_.BreakSegment();
                pointRun_ = false;
            }
            f.emitted = true;
            f.lastLine = position.line;
            TrackPoint point = position.point;
            point.utcTime = time;
            out_.Add(point);
        }
    }

    void FinishFeature() {
        Feature feature = std::move(feature_);
        feature_ = {};
        numbers_.clear();
        if (feature.times == 0) {
            // A line without times, as gpsbabel writes one, gives nothing; a Point its time property.
            if (feature.geometryType != "Point" || feature.positions != 1 || !feature.pointTimeKind) {
                return;
            }
            JsonScalar written;
            written.kind = *feature.pointTimeKind;
            written.text = feature.pointTimeText;
            const std::optional<DateTimeValue> time = TimeOf(written);
            if (!time) {
                return;
            }
            if (!pointRun_) {
                out_.BreakSegment();
                pointRun_ = true;
            }
            TrackPoint point = *feature.firstPosition;
            point.utcTime = *time;
            out_.Add(point);
            return;
        }
        if (feature.times != feature.positions) {
            throw TrackFormatError(Where() + ": " + std::to_string(feature.times) + " Zeiten für " +
                                   std::to_string(feature.positions) + " Positionen.");
        }
        if (feature.emitted) {
            out_.BreakSegment();
        }
    }
};

}  // namespace

}  // namespace trackread

void ReadGeoJson(std::istream& in, TrackPointSink& sink) {
    trackread::GeoJsonHandler handler(sink);
    trackread::ReadJsonEvents(in, handler, "GeoJSON");
    handler.Finish();
}

}  // namespace zeloro
