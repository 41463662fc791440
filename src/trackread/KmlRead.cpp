// src/trackread/KmlRead.cpp: KML and KMZ. Track points come as timed Placemark Points (gpsbabel and
// many loggers write one per point) and as gx:Track, whose when and gx:coord lists pair up in order.
#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "trackread/TextTracks.h"
#include "trackread/detail/TextFields.h"
#include "trackread/detail/XmlEvents.h"

namespace zeloro {

namespace trackread {

namespace {

// A text wider than this is no time or position; it is kept only far enough to be shown.
constexpr std::size_t kMaxText = 4096;

enum class Kml : std::uint8_t { kml, placemark, timeStamp, when, point, coordinates, track, coord, other };

Kml Classify(std::string_view name) noexcept {
    struct Entry {
        std::string_view name;
        Kml code;
    };
    static constexpr Entry kNames[] = {
        {"kml", Kml::kml},     {"Placemark", Kml::placemark}, {"TimeStamp", Kml::timeStamp},
        {"when", Kml::when},   {"Point", Kml::point},         {"coordinates", Kml::coordinates},
        {"Track", Kml::track}, {"coord", Kml::coord},
    };
    for (const Entry& entry : kNames) {
        if (entry.name == name) {
            return entry.code;
        }
    }
    return Kml::other;
}

// "lon,lat[,alt]" as KML writes a Point (blanks beside the commas tolerated); the first tuple when a
// careless writer gives more.
bool ParseKmlTuple(std::string_view text, TrackPoint& point) {
    std::string tuple;
    text = Trimmed(text);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            const std::size_t next = text.find_first_not_of(" \t\r\n", i);
            if (!tuple.empty() && tuple.back() != ',' &&
                (next == std::string_view::npos || text[next] != ',')) {
                break;  // the end of the first tuple
            }
            continue;
        }
        tuple += c;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = tuple;
    for (std::size_t comma = rest.find(',');; comma = rest.find(',')) {
        parts.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (parts.size() < 2 || parts.size() > 3) {
        return false;
    }
    const std::optional<double> lon = ParseNumber(parts[0]);
    const std::optional<double> lat = ParseNumber(parts[1]);
    if (!lon || !lat) {
        return false;
    }
    point.longitude = *lon;
    point.latitude = *lat;
    point.elevation = parts.size() == 3 ? ParseNumber(parts[2]) : std::nullopt;
    return true;
}

// gx:coord: "lon lat [alt]", blank-separated.
bool ParseTrackCoord(std::string_view text, TrackPoint& point) {
    std::vector<std::string_view> parts;
    text = Trimmed(text);
    while (!text.empty()) {
        const std::size_t end = text.find_first_of(" \t\r\n");
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text = Trimmed(text.substr(end));
    }
    if (parts.size() < 2 || parts.size() > 3) {
        return false;
    }
    const std::optional<double> lon = ParseNumber(parts[0]);
    const std::optional<double> lat = ParseNumber(parts[1]);
    if (!lon || !lat) {
        return false;
    }
    point.longitude = *lon;
    point.latitude = *lat;
    point.elevation = parts.size() == 3 ? ParseNumber(parts[2]) : std::nullopt;
    return true;
}

class KmlHandler final : public XmlEventHandler {
public:
    explicit KmlHandler(TrackPointSink& sink) : out_(sink) {}

    void StartElement(std::string_view localName) override {
        const Kml code = Classify(localName);
        if (stack_.empty() && code != Kml::kml) {
            throw TrackFormatError("Die Datei ist keine KML-Datei: ihr Wurzelelement ist <" +
                                   std::string(localName.substr(0, 60)) + ">.");
        }
        const Kml parent = Up(0);
        const Kml grandparent = Up(1);
        stack_.push_back(code);
        collecting_ = false;
        switch (code) {
            case Kml::placemark:
                ++placemarkNumber_;
                placemarkTime_.reset();
                placemarkPosition_.reset();
                break;
            case Kml::when:
                collecting_ =
                    (parent == Kml::timeStamp && grandparent == Kml::placemark) || parent == Kml::track;
                break;
            case Kml::coordinates:
                collecting_ = parent == Kml::point && grandparent == Kml::placemark;
                break;
            case Kml::coord:
                collecting_ = parent == Kml::track;
                break;
            case Kml::track:
                ++trackNumber_;
                trackTimes_.clear();
                trackPositions_.clear();
                whenCount_ = 0;
                coordCount_ = 0;
                pointRun_ = false;
                out_.BreakSegment();
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
        const Kml code = stack_.back();
        stack_.pop_back();
        const bool collected = collecting_;
        collecting_ = false;
        switch (code) {
            case Kml::when:
                if (collected && Up(0) == Kml::track) {
                    ++whenCount_;
                    trackTimes_.push_back(TimeOf(text_, "gx:Track", trackNumber_)
                                              .value_or(std::numeric_limits<double>::quiet_NaN()));
                    PairTrackPoints();
                } else if (collected) {
                    placemarkTime_ = TimeOf(text_, "Placemark", placemarkNumber_);
                }
                break;
            case Kml::coordinates:
                if (collected) {
                    TrackPoint point;
                    if (!ParseKmlTuple(text_, point)) {
                        throw TrackFormatError("Placemark Nr. " + std::to_string(placemarkNumber_) +
                                               ": die Koordinaten " + Quoted(text_) + " sind nicht lesbar.");
                    }
                    placemarkPosition_ = point;
                }
                break;
            case Kml::coord:
                if (collected) {
                    ++coordCount_;
                    TrackPoint point;
                    if (!ParseTrackCoord(text_, point)) {
                        throw TrackFormatError("gx:Track Nr. " + std::to_string(trackNumber_) +
                                               ": die Position " + Quoted(text_) + " ist nicht lesbar.");
                    }
                    trackPositions_.push_back(point);
                    PairTrackPoints();
                }
                break;
            case Kml::track:
                // A track without any time is no track to match photos to; one with times must give a
                // time to each position.
                if (whenCount_ != 0 && whenCount_ != coordCount_) {
                    throw TrackFormatError("gx:Track Nr. " + std::to_string(trackNumber_) + ": " +
                                           std::to_string(whenCount_) + " Zeitangaben (when), aber " +
                                           std::to_string(coordCount_) + " Positionen (gx:coord).");
                }
                trackTimes_.clear();
                trackPositions_.clear();
                out_.BreakSegment();
                break;
            case Kml::placemark:
                if (placemarkTime_ && *placemarkTime_ && placemarkPosition_) {
                    if (!pointRun_) {
                        out_.BreakSegment();
                        pointRun_ = true;
                    }
                    placemarkPosition_->utcTime = **placemarkTime_;
                    out_.Add(*placemarkPosition_);
                }
                break;
            default:
                break;
        }
    }

private:
    SegmentedSink out_;
    std::vector<Kml> stack_;
    std::string text_;
    bool collecting_ = false;
    std::uint64_t placemarkNumber_ = 0;
    std::uint64_t trackNumber_ = 0;
    // Of the placemark being read; a time that is nullopt inside is one without a time of day.
    std::optional<std::optional<DateTimeValue>> placemarkTime_;
    std::optional<TrackPoint> placemarkPosition_;
    bool pointRun_ = false;  // the last points came from placemarks, and more join their segment
    // The when and gx:coord of the track being read not yet paired: a writer puts all the times first
    // (and only those wait here, 8 bytes each; NaN for a when without a moment) or pairs them as it goes.
    std::deque<DateTimeValue> trackTimes_;
    std::deque<TrackPoint> trackPositions_;
    std::uint64_t whenCount_ = 0;
    std::uint64_t coordCount_ = 0;

    [[nodiscard]] Kml Up(std::size_t levels) const noexcept {
        return stack_.size() > levels ? stack_[stack_.size() - 1 - levels] : Kml::other;
    }

    // The time of a when; nullopt for an empty one or a day, month or year alone, which are no moments.
    static std::optional<DateTimeValue> TimeOf(std::string_view text, std::string_view kind,
                                               std::uint64_t number) {
        if (Trimmed(text).empty()) {
            return std::nullopt;
        }
        DateTimeValue utc = 0;
        switch (ParseIsoTime(text, utc)) {
            case TimeText::moment:
                return utc;
            case TimeText::dayOnly:
                return std::nullopt;
            case TimeText::invalid:
                break;
        }
        throw TrackFormatError(std::string(kind) + " Nr. " + std::to_string(number) + ": die Zeit " +
                               Quoted(text) + " ist nicht lesbar.");
    }

    void PairTrackPoints() {
        while (!trackTimes_.empty() && !trackPositions_.empty()) {
            TrackPoint point = trackPositions_.front();
            const DateTimeValue time = trackTimes_.front();
            trackPositions_.pop_front();
            trackTimes_.pop_front();
            if (!std::isnan(time)) {
                point.utcTime = time;
                out_.Add(point);
            }
        }
    }
};

void ReadKmlSource(ByteSource& source, TrackPointSink& sink) {
    KmlHandler handler(sink);
    ReadXmlEvents(source, handler, "KML");
}

struct ZipDiscard {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileClose>;

class ZipEntrySource final : public ByteSource {
public:
    explicit ZipEntrySource(zip_file_t* file) noexcept : file_(file) {}
    std::size_t Read(char* buffer, std::size_t size) override {
        const zip_int64_t got = zip_fread(file_, buffer, size);
        if (got < 0) {
            throw TrackFormatError("Die KML-Datei im KMZ-Archiv ist beschädigt.");
        }
        return static_cast<std::size_t>(got);
    }

private:
    zip_file_t* file_;
};

bool EndsWithKml(std::string_view name) {
    return name.size() > 4 && LowerAscii(name.substr(name.size() - 4)) == ".kml";
}

}  // namespace

}  // namespace trackread

void ReadKml(std::istream& in, TrackPointSink& sink) {
    trackread::StreamSource source(in);
    trackread::ReadKmlSource(source, sink);
}

void ReadKmz(const std::string& path, TrackPointSink& sink) {
    using namespace trackread;
    // Opened here, so that a file that cannot be read is told apart from one that is no archive.
    // Without blocking on a named pipe, which is no archive either.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0) {
        throw TrackFormatError("Die KMZ-Datei kann nicht gelesen werden: " + ReasonText(errno) + ".");
    }
    if (!S_ISREG(status.st_mode)) {
        throw TrackFormatError("Die KMZ-Datei ist keine gewöhnliche Datei.");
    }
    int code = 0;
    const ZipPtr archive(zip_fdopen(fd.get(), ZIP_RDONLY, &code));
    if (!archive) {
        throw TrackFormatError("Die KMZ-Datei ist kein lesbares ZIP-Archiv.");
    }
    (void)fd.release();  // the archive owns it now
    // The document is doc.kml by convention; a writer that names it otherwise puts it first.
    zip_int64_t entry = zip_name_locate(archive.get(), "doc.kml", ZIP_FL_NOCASE);
    if (entry < 0) {
        const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
        for (zip_int64_t i = 0; i < count && entry < 0; ++i) {
            const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
            if (name != nullptr && EndsWithKml(name)) {
                entry = i;
            }
        }
    }
    if (entry < 0) {
        throw TrackFormatError("Das KMZ-Archiv enthält keine KML-Datei.");
    }
    const ZipFilePtr file(zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(entry), 0));
    if (!file) {
        const int reason = zip_error_code_zip(zip_get_error(archive.get()));
        if (reason == ZIP_ER_NOPASSWD || reason == ZIP_ER_ENCRNOTSUPP) {
            throw TrackFormatError("Die KML-Datei im KMZ-Archiv ist verschlüsselt.");
        }
        if (reason == ZIP_ER_COMPNOTSUPP) {
            throw TrackFormatError(
                "Die KML-Datei im KMZ-Archiv ist mit einem nicht unterstützten Verfahren gepackt.");
        }
        throw TrackFormatError("Die KML-Datei im KMZ-Archiv ist beschädigt.");
    }
    ZipEntrySource source(file.get());
    ReadKmlSource(source, sink);
}

}  // namespace zeloro
