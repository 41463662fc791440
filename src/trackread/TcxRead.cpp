// src/trackread/TcxRead.cpp: Garmin's Training Center files. A lap may hold several tracks and a track
// is what the device recorded without a break (a pause ends it), so a segment is a Track.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trackread/TextTracks.h"
#include "trackread/detail/TextFields.h"
#include "trackread/detail/XmlEvents.h"

namespace zeloro {

namespace trackread {

namespace {

constexpr std::size_t kMaxText = 4096;

enum class Tcx : std::uint8_t {
    root,
    track,
    trackpoint,
    time,
    position,
    latitude,
    longitude,
    altitude,
    other
};

Tcx Classify(std::string_view name) noexcept {
    struct Entry {
        std::string_view name;
        Tcx code;
    };
    static constexpr Entry kNames[] = {
        {"TrainingCenterDatabase", Tcx::root}, {"Track", Tcx::track},
        {"Trackpoint", Tcx::trackpoint},       {"Time", Tcx::time},
        {"Position", Tcx::position},           {"LatitudeDegrees", Tcx::latitude},
        {"LongitudeDegrees", Tcx::longitude},  {"AltitudeMeters", Tcx::altitude},
    };
    for (const Entry& entry : kNames) {
        if (entry.name == name) {
            return entry.code;
        }
    }
    return Tcx::other;
}

class TcxHandler final : public XmlEventHandler {
public:
    explicit TcxHandler(TrackPointSink& sink) : out_(sink) {}

    void StartElement(std::string_view localName) override {
        const Tcx code = Classify(localName);
        if (stack_.empty() && code != Tcx::root) {
            throw TrackFormatError("Die Datei ist keine TCX-Datei: ihr Wurzelelement ist <" +
                                   std::string(localName.substr(0, 60)) + ">.");
        }
        const Tcx parent = Up(0);
        const Tcx grandparent = Up(1);
        stack_.push_back(code);
        collecting_ = false;
        switch (code) {
            case Tcx::track:
                out_.BreakSegment();
                break;
            case Tcx::trackpoint:
                ++pointNumber_;
                time_.reset();
                latitude_.reset();
                longitude_.reset();
                altitude_.reset();
                break;
            case Tcx::time:
            case Tcx::altitude:
                collecting_ = parent == Tcx::trackpoint;
                break;
            case Tcx::latitude:
            case Tcx::longitude:
                collecting_ = parent == Tcx::position && grandparent == Tcx::trackpoint;
                break;
            default:
                break;
        }
        text_.clear();
    }

    void Text(std::string_view piece) override {
        if (collecting_ && text_.size() < kMaxText) {
            text_.append(piece.substr(0, kMaxText - text_.size()));
        }
    }

    void EndElement() override {
        const Tcx code = stack_.back();
        stack_.pop_back();
        const bool collected = collecting_;
        collecting_ = false;
        if (collected) {
            switch (code) {
                case Tcx::time:
                    time_ = text_;
                    break;
                case Tcx::latitude:
                    latitude_ = text_;
                    break;
                case Tcx::longitude:
                    longitude_ = text_;
                    break;
                case Tcx::altitude:
                    altitude_ = text_;
                    break;
                default:
                    break;
            }
        } else if (code == Tcx::track) {
            out_.BreakSegment();
        } else if (code == Tcx::trackpoint) {
            EndTrackpoint();
        }
    }

private:
    SegmentedSink out_;
    std::vector<Tcx> stack_;
    std::string text_;
    bool collecting_ = false;
    std::uint64_t pointNumber_ = 0;
    std::optional<std::string> time_;
    std::optional<std::string> latitude_;
    std::optional<std::string> longitude_;
    std::optional<std::string> altitude_;

    [[nodiscard]] Tcx Up(std::size_t levels) const noexcept {
        return stack_.size() > levels ? stack_[stack_.size() - 1 - levels] : Tcx::other;
    }

    // A trackpoint without a position (the receiver had no fix; heart rate alone) or without a time is
    // no track point.
    void EndTrackpoint() {
        if (!time_ || Trimmed(*time_).empty() || !latitude_ || !longitude_) {
            return;
        }
        const std::string where = "Trackpoint Nr. " + std::to_string(pointNumber_);
        TrackPoint point;
        switch (ParseIsoTime(*time_, point.utcTime)) {
            case TimeText::moment:
                break;
            case TimeText::dayOnly:
                return;
            case TimeText::invalid:
                throw TrackFormatError(where + ": die Zeit " + Quoted(*time_) + " ist nicht lesbar.");
        }
        const std::optional<double> latitude = ParseNumber(*latitude_);
        const std::optional<double> longitude = ParseNumber(*longitude_);
        if (!latitude) {
            throw TrackFormatError(where + ": die Breite " + Quoted(*latitude_) + " ist keine Zahl.");
        }
        if (!longitude) {
            throw TrackFormatError(where + ": die Länge " + Quoted(*longitude_) + " ist keine Zahl.");
        }
        point.latitude = *latitude;
        point.longitude = *longitude;
        // An unreadable altitude is none, as the GPX import treats an unreadable <ele>.
        point.elevation = altitude_ ? ParseNumber(*altitude_) : std::nullopt;
        out_.Add(point);
    }
};

}  // namespace

}  // namespace trackread

void ReadTcx(std::istream& in, TrackPointSink& sink) {
    trackread::StreamSource source(in);
    trackread::TcxHandler handler(sink);
    trackread::ReadXmlEvents(source, handler, "TCX");
}

}  // namespace zeloro
