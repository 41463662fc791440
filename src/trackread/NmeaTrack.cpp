// src/trackread/NmeaTrack.cpp: RMC, GGA and GNS sentences into timed points.
#include "trackread/NmeaTrack.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "trackread/LineInput.h"

namespace zeloro {

namespace {

// A sentence is at most 82 characters; more room for receivers that write longer ones.
constexpr std::size_t kLongestLine = 1024;
constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kHalfDayMs = kMsPerDay / 2;

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The sentence between "$" and "*" when its checksum, if given, is right.
std::optional<std::string_view> Body(std::string_view line) {
    const std::size_t dollar = line.find('$');
    if (dollar == std::string_view::npos) {
        return std::nullopt;
    }
    line.remove_prefix(dollar + 1);
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos) {
        return line;
    }
    const std::string_view body = line.substr(0, star);
    if (line.size() < star + 3) {
        return std::nullopt;
    }
    const int high = HexDigit(line[star + 1]);
    const int low = HexDigit(line[star + 2]);
    if (high < 0 || low < 0) {
        return std::nullopt;
    }
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    if (sum != static_cast<unsigned>(high * 16 + low)) {
        return std::nullopt;
    }
    return body;
}

std::vector<std::string_view> Fields(std::string_view body) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t comma = body.find(',');
        fields.push_back(body.substr(0, comma));
        if (comma == std::string_view::npos) {
            return fields;
        }
        body.remove_prefix(comma + 1);
    }
}

std::optional<double> Number(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool Digits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !text.empty();
}

// "hhmmss" with an optional fraction: milliseconds of the day.
std::optional<std::int64_t> TimeOfDay(std::string_view text) {
    if (text.size() < 6 || !Digits(text.substr(0, 6))) {
        return std::nullopt;
    }
    const int hour = (text[0] - '0') * 10 + (text[1] - '0');
    const int minute = (text[2] - '0') * 10 + (text[3] - '0');
    const int second = (text[4] - '0') * 10 + (text[5] - '0');
    if (hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    double fraction = 0;
    if (text.size() > 6) {
        if (text[6] != '.' || (text.size() > 7 && !Digits(text.substr(7)))) {
            return std::nullopt;
        }
        const std::string decimal = "0" + std::string(text.substr(6));
        fraction = Number(decimal).value_or(0);
    }
    const auto ms = static_cast<std::int64_t>(std::llround(fraction * 1000.0));
    return std::min<std::int64_t>((hour * 3600 + minute * 60 + second) * 1000LL + ms, kMsPerDay - 1);
}

// "ddmmyy": the day as a date-time value; two-digit years from 80 are of the 1900s.
std::optional<DateTimeValue> Date(std::string_view text) {
    if (text.size() != 6 || !Digits(text)) {
        return std::nullopt;
    }
    const int day = (text[0] - '0') * 10 + (text[1] - '0');
    const int month = (text[2] - '0') * 10 + (text[3] - '0');
    const int year = (text[4] - '0') * 10 + (text[5] - '0');
    DateTimeValue value = 0;
    if (!TryEncodeDate(year < 80 ? 2000 + year : 1900 + year, month, day, value)) {
        return std::nullopt;
    }
    return value;
}

// "ddmm.mmm" (or "dddmm.mmm") with its hemisphere letter: signed degrees. The minutes are read from their
// own digits, so that 4807.149 gives 7.149 minutes exactly as written, not 4807.149 - 4800.
std::optional<double> Angle(std::string_view text, std::string_view hemisphere, char negative, char positive,
                            double limit) {
    if (hemisphere.size() != 1 || (hemisphere[0] != negative && hemisphere[0] != positive)) {
        return std::nullopt;
    }
    const std::size_t dot = std::min(text.find('.'), text.size());
    if (dot < 3 || !Digits(text.substr(0, dot)) || (dot + 1 < text.size() && !Digits(text.substr(dot + 1)))) {
        return std::nullopt;
    }
    const std::optional<double> degrees = Number(text.substr(0, dot - 2));
    const std::optional<double> minutes = Number(text.substr(dot - 2));
    if (!degrees || !minutes || *minutes >= 60.0) {
        return std::nullopt;
    }
    const double angle = *degrees + *minutes / 60.0;
    if (angle > limit) {
        return std::nullopt;
    }
    return hemisphere[0] == negative ? -angle : angle;
}

struct Fix {
    std::optional<std::int64_t> day;  // days since 30 December 1899; none before the first RMC
    std::int64_t ms = 0;              // of the day
    double latitude = 0;
    double longitude = 0;
    std::optional<double> elevation;
};

class NmeaDecoder {
public:
    explicit NmeaDecoder(TrackPointSink& sink) : sink_(sink) {}

    void Line(std::string_view line) {
        const std::optional<std::string_view> body = Body(line);
        if (!body || body->size() < 5) {
            return;
        }
        const std::string_view talker = body->substr(0, 2);
        if (talker != "GP" && talker != "GN" && talker != "GL" && talker != "GA" && talker != "BD") {
            return;
        }
        const std::string_view type = body->substr(2, 3);
        const std::vector<std::string_view> fields = Fields(*body);
        if (type == "RMC") {
            Rmc(fields);
        } else if (type == "GGA") {
            PositionOfDay(fields, fields.size() > 6 && !fields[6].empty() && fields[6] != "0", 9);
        } else if (type == "GNS") {
            bool fixed = false;
            if (fields.size() > 6) {
                for (const char mode : fields[6]) {
                    fixed = fixed || mode != 'N';
                }
            }
            PositionOfDay(fields, fixed, 9);
        }
    }

    void Finish() { Emit(); }

private:
    void Rmc(const std::vector<std::string_view>& fields) {
        if (fields.size() < 10 || fields[2] != "A") {
            return;
        }
        const std::optional<std::int64_t> ms = TimeOfDay(fields[1]);
        const std::optional<DateTimeValue> date = Date(fields[9]);
        const std::optional<double> latitude = Angle(fields[3], fields[4], 'S', 'N', 90.0);
        const std::optional<double> longitude = Angle(fields[5], fields[6], 'W', 'E', 180.0);
        if (!ms || !date || !latitude || !longitude) {
            return;
        }
        day_ = static_cast<std::int64_t>(*date);
        lastMs_ = *ms;
        Take(Fix{day_, *ms, *latitude, *longitude, std::nullopt});
    }

    void PositionOfDay(const std::vector<std::string_view>& fields, bool fixed, std::size_t elevationField) {
        if (!fixed || fields.size() < 6) {
            return;
        }
        const std::optional<std::int64_t> ms = TimeOfDay(fields[1]);
        const std::optional<double> latitude = Angle(fields[2], fields[3], 'S', 'N', 90.0);
        const std::optional<double> longitude = Angle(fields[4], fields[5], 'W', 'E', 180.0);
        if (!ms || !latitude || !longitude) {
            return;
        }
        Fix fix{std::nullopt, *ms, *latitude, *longitude, std::nullopt};
        if (fields.size() > elevationField) {
            fix.elevation = Number(fields[elevationField]);
        }
        if (day_) {
            // A time well before the last one is past midnight.
            if (*ms + kHalfDayMs < lastMs_) {
                ++*day_;
            }
            lastMs_ = *ms;
            fix.day = day_;
        }
        Take(fix);
    }

    // Sentences of one second describe one fix: they join into one point.
    void Take(const Fix& fix) {
        if (pending_ && pending_->ms / 1000 == fix.ms / 1000 &&
            (!pending_->day || pending_->day == fix.day)) {
            if (!pending_->day) {
                pending_->day = fix.day;
            }
            if (!pending_->elevation) {
                pending_->elevation = fix.elevation;
            }
            return;
        }
        Emit();
        pending_ = fix;
    }

    void Emit() {
        if (!pending_ || !pending_->day) {
            pending_.reset();
            return;
        }
        if (!begun_) {
            sink_.NewSegment();
            begun_ = true;
        }
        TrackPoint point;
        point.latitude = pending_->latitude;
        point.longitude = pending_->longitude;
        point.utcTime =
            static_cast<double>(*pending_->day) + static_cast<double>(pending_->ms) / kMSecsPerDay;
        point.elevation = pending_->elevation;
        pending_.reset();
        sink_.Add(point);
    }

    TrackPointSink& sink_;
    std::optional<std::int64_t> day_;
    std::int64_t lastMs_ = 0;
    std::optional<Fix> pending_;
    bool begun_ = false;
};

}  // namespace

void ReadNmea(std::istream& in, TrackPointSink& sink) {
    NmeaDecoder decoder(sink);
    LineInput lines(in, kLongestLine);
    std::string line;
    while (lines.Next(line)) {
        if (!lines.Cut()) {
            decoder.Line(line);
        }
    }
    decoder.Finish();
}

}  // namespace zeloro
