// src/trackread/IgcTrack.cpp: B records into timed points.
#include "trackread/IgcTrack.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/AsciiText.h"
#include "common/DateTime.h"
#include "trackread/LineInput.h"

namespace zeloro {

namespace {

constexpr std::size_t kLongestLine = 1024;
// "B" HHMMSS DDMMmmm N DDDMMmmm E V PPPPP GGGGG
constexpr std::size_t kBRecordLength = 35;

std::optional<int> Decimal(std::string_view text) {
    int value = 0;
    if (text.empty()) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Degrees and thousandths of minutes, with the hemisphere letter.
std::optional<double> Angle(std::string_view text, std::size_t degreeDigits, char negative, char positive) {
    const std::optional<int> degrees = Decimal(text.substr(0, degreeDigits));
    const std::optional<int> milliMinutes = Decimal(text.substr(degreeDigits, 5));
    const char hemisphere = text[degreeDigits + 5];
    if (!degrees || !milliMinutes || *milliMinutes >= 60000 ||
        (hemisphere != negative && hemisphere != positive)) {
        return std::nullopt;
    }
    const double angle = *degrees + *milliMinutes / 60000.0;
    return hemisphere == negative ? -angle : angle;
}

// Signed, for a pressure altitude below the reference ("-0012").
std::optional<int> Altitude(std::string_view text) {
    if (!text.empty() && text[0] == '-') {
        const std::optional<int> value = Decimal(text.substr(1));
        return value ? std::optional<int>(-*value) : std::nullopt;
    }
    return Decimal(text);
}

class IgcDecoder {
public:
    explicit IgcDecoder(TrackPointSink& sink) : sink_(sink) {}

    void Line(std::string_view line) {
        if (line.size() >= 5 && SameTextAscii(line.substr(0, 5), "HFDTE")) {
            Date(line.substr(5));
        } else if (!line.empty() && line[0] == 'B') {
            Fix(line);
        }
    }

private:
    void Date(std::string_view text) {
        if (text.size() >= 5 && SameTextAscii(text.substr(0, 5), "DATE:")) {
            text.remove_prefix(5);
        }
        const std::optional<int> day = Decimal(text.substr(0, 2));
        const std::optional<int> month = text.size() >= 4 ? Decimal(text.substr(2, 2)) : std::nullopt;
        const std::optional<int> year = text.size() >= 6 ? Decimal(text.substr(4, 2)) : std::nullopt;
        DateTimeValue value = 0;
        if (day && month && year &&
            TryEncodeDate(*year < 80 ? 2000 + *year : 1900 + *year, *month, *day, value)) {
            day_ = static_cast<std::int64_t>(value);
            lastSecond_ = -1;
        }
    }

    void Fix(std::string_view line) {
        if (!day_ || line.size() < kBRecordLength) {
            return;
        }
        const std::optional<int> hour = Decimal(line.substr(1, 2));
        const std::optional<int> minute = Decimal(line.substr(3, 2));
        const std::optional<int> second = Decimal(line.substr(5, 2));
        const std::optional<double> latitude = Angle(line.substr(7, 8), 2, 'S', 'N');
        const std::optional<double> longitude = Angle(line.substr(15, 9), 3, 'W', 'E');
        if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59 || !latitude ||
            !longitude) {
            return;
        }
        const int ofDay = *hour * 3600 + *minute * 60 + *second;
        if (ofDay < lastSecond_) {
            ++*day_;  // one file holds one flight: a time that goes back has passed midnight
        }
        lastSecond_ = ofDay;
        TrackPoint point;
        point.latitude = *latitude;
        point.longitude = *longitude;
        point.utcTime = static_cast<double>(*day_) + ofDay / kSecsPerDay;
        const std::optional<int> pressure = Altitude(line.substr(25, 5));
        const std::optional<int> gnss = Altitude(line.substr(30, 5));
        if (gnss && *gnss != 0) {
            point.elevation = *gnss;
        } else if (pressure && *pressure != 0) {
            point.elevation = *pressure;
        }
        if (!begun_) {
            sink_.NewSegment();
            begun_ = true;
        }
        sink_.Add(point);
    }

    TrackPointSink& sink_;
    std::optional<std::int64_t> day_;
    int lastSecond_ = -1;
    bool begun_ = false;
};

}  // namespace

void ReadIgc(std::istream& in, TrackPointSink& sink) {
    IgcDecoder decoder(sink);
    LineInput lines(in, kLongestLine);
    std::string line;
    while (lines.Next(line)) {
        if (!lines.Cut()) {
            decoder.Line(line);
        }
    }
}

}  // namespace zeloro
