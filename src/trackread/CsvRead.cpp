// src/trackread/CsvRead.cpp: tracks as comma-, semicolon- or tab-separated values with a header row, as
// loggers, phone apps and spreadsheets write them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "trackread/TextTracks.h"
#include "trackread/detail/TextFields.h"

namespace zeloro {

namespace trackread {

namespace {

// Bounds that keep a read's memory small whatever the file holds (an unclosed quote would otherwise make
// the rest of the file one field).
constexpr std::size_t kMaxField = 64 * 1024;
constexpr std::size_t kMaxFields = 1000;

// Bytes of the stream, a chunk at a time, with the header line already taken out put back in front.
class CsvInput {
public:
    explicit CsvInput(std::istream& in) : in_(in) {}

    // The first line, without its line end; false for an empty file.
    bool FirstLine(std::string& line) {
        line.clear();
        int c = Get();
        if (c == -1) {
            return false;
        }
        for (; c != -1 && c != '\n'; c = Get()) {
            if (line.size() >= kMaxField) {
                throw TrackFormatError("Die Kopfzeile der CSV-Datei ist zu lang.");
            }
            line += static_cast<char>(c);
        }
        if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            line.erase(0, 3);
        }
        pushedBack_ = line + "\n";
        pushedAt_ = 0;
        return true;
    }

    int Get() {
        if (peeked_ != kNone) {
            return std::exchange(peeked_, kNone);
        }
        return Raw();
    }

    int Peek() {
        if (peeked_ == kNone) {
            peeked_ = Raw();
        }
        return peeked_;
    }

private:
    static constexpr int kNone = -2;
    std::istream& in_;
    std::vector<char> buffer_ = std::vector<char>(64 * 1024);
    std::size_t at_ = 0;
    std::size_t size_ = 0;
    std::string pushedBack_;
    std::size_t pushedAt_ = 0;
    int peeked_ = kNone;

    // The next byte, or -1 at the end.
    int Raw() {
        if (pushedAt_ < pushedBack_.size()) {
            return static_cast<unsigned char>(pushedBack_[pushedAt_++]);
        }
        if (at_ == size_) {
            in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
            if (in_.bad()) {
                throw TrackFormatError("Die Datei kann nicht gelesen werden.");
            }
            size_ = static_cast<std::size_t>(in_.gcount());
            at_ = 0;
            if (size_ == 0) {
                return -1;
            }
        }
        return static_cast<unsigned char>(buffer_[at_++]);
    }
};

// The separator that occurs most often outside quotes in the header line; ',' when none does.
char DetectSeparator(std::string_view header) {
    std::array<std::size_t, 3> counts{};
    constexpr std::array<char, 3> kSeparators{',', ';', '\t'};
    bool quoted = false;
    for (const char c : header) {
        if (c == '"') {
            quoted = !quoted;
        }
        for (std::size_t i = 0; i < kSeparators.size(); ++i) {
            counts[i] += !quoted && c == kSeparators[i] ? 1U : 0U;
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < counts.size(); ++i) {
        best = counts[i] > counts[best] ? i : best;
    }
    return kSeparators[best];
}

// Reads one record into fields; false at the end of the file. line is the record's first line number.
class CsvRecords {
public:
    CsvRecords(CsvInput& input, char separator) : input_(input), separator_(separator) {}

    bool Next(std::vector<std::string>& fields, std::uint64_t& line) {
        fields.clear();
        int c = input_.Get();
        if (c == -1) {
            return false;
        }
        line = ++line_;
        fields.emplace_back();
        bool quoted = false;  // inside a quoted part
        bool wasQuoted = false;
        for (;; c = input_.Get()) {
            if (c == -1) {
                if (quoted) {
                    throw TrackFormatError("Zeile " + std::to_string(line) +
                                           ": ein Anführungszeichen wird nicht geschlossen.");
                }
                break;
            }
            const char ch = static_cast<char>(c);
            if (quoted) {
                if (ch == '"') {
                    if (input_.Peek() == '"') {
                        input_.Get();
                        Append(fields, '"', line);
                    } else {
                        quoted = false;
                    }
                } else {
                    line_ += ch == '\n' ? 1 : 0;
                    Append(fields, ch, line);
                }
                continue;
            }
            if (ch == '\n') {
                break;
            }
            if (ch == '\r') {
                continue;
            }
            if (ch == separator_) {
                if (fields.size() >= kMaxFields) {
                    throw TrackFormatError("Zeile " + std::to_string(line) + ": mehr als " +
                                           std::to_string(kMaxFields) + " Spalten.");
                }
                fields.emplace_back();
                wasQuoted = false;
                continue;
            }
            if (ch == '"' && fields.back().empty() && !wasQuoted) {
                quoted = true;
                wasQuoted = true;
                continue;
            }
            Append(fields, ch, line);
        }
        return true;
    }

private:
    CsvInput& input_;
    char separator_;
    std::uint64_t line_ = 0;

    static void Append(std::vector<std::string>& fields, char c, std::uint64_t line) {
        if (fields.back().size() >= kMaxField) {
            throw TrackFormatError("Zeile " + std::to_string(line) + ": ein Feld ist länger als " +
                                   std::to_string(kMaxField) + " Bytes.");
        }
        fields.back() += c;
    }
};

enum class Column : std::uint8_t { timestamp, date, time, latitude, longitude, elevation, other };

// A header name without case, blanks, '_', '-', '.' and a unit in brackets: "Latitude (deg)" is
// "latitude", "date_time" is "datetime".
std::string HeaderKey(std::string_view name) {
    name = Trimmed(name);
    const std::size_t bracket = name.find_first_of("([");
    if (bracket != std::string_view::npos && bracket > 0) {
        name = Trimmed(name.substr(0, bracket));
    }
    std::string key;
    for (const char c : LowerAscii(name)) {
        if (c != ' ' && c != '_' && c != '-' && c != '.' && c != '"') {
            key += c;
        }
    }
    return key;
}

Column Classify(std::string_view name) {
    const std::string key = HeaderKey(name);
    struct Entry {
        std::string_view key;
        Column column;
    };
    static constexpr Entry kKeys[] = {
        {"time", Column::time},
        {"utctime", Column::time},
        {"timeutc", Column::time},
        {"gpstime", Column::time},
        {"timestamp", Column::timestamp},
        {"timestampms", Column::timestamp},
        {"datetime", Column::timestamp},
        {"dateandtime", Column::timestamp},
        {"datetimeutc", Column::timestamp},
        {"utcdatetime", Column::timestamp},
        {"isotime", Column::timestamp},
        {"unixtime", Column::timestamp},
        {"epoch", Column::timestamp},
        {"date", Column::date},
        {"utcdate", Column::date},
        {"gpsdate", Column::date},
        {"lat", Column::latitude},
        {"latitude", Column::latitude},
        {"lon", Column::longitude},
        {"lng", Column::longitude},
        {"long", Column::longitude},
        {"longitude", Column::longitude},
        {"ele", Column::elevation},
        {"alt", Column::elevation},
        {"altitude", Column::elevation},
        {"elevation", Column::elevation},
    };
    for (const Entry& entry : kKeys) {
        if (entry.key == key) {
            return entry.column;
        }
    }
    return Column::other;
}

// "dd.mm.yyyy" and "yyyy/mm/dd" as "yyyy-mm-dd"; other texts unchanged.
std::string IsoDate(std::string_view text) {
    text = Trimmed(text);
    if (text.size() >= 10 && text[2] == '.' && text[5] == '.') {
        return std::string(text.substr(6, 4)) + "-" + std::string(text.substr(3, 2)) + "-" +
               std::string(text.substr(0, 2)) + std::string(text.substr(10));
    }
    if (text.size() >= 10 && text[4] == '/' && text[7] == '/') {
        std::string date(text);
        date[4] = '-';
        date[7] = '-';
        return date;
    }
    return std::string(text);
}

// Unix seconds or milliseconds: digits, an optional sign and fraction.
bool IsDecimal(std::string_view text) {
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    return !whole.empty() && whole.find_first_not_of("0123456789") == std::string_view::npos &&
           fraction.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<double> CsvNumber(std::string_view text, char separator) {
    // Where the separator is no comma, a spreadsheet may write the decimal point as one.
    if (separator != ',' && text.find(',') != std::string_view::npos &&
        text.find('.') == std::string_view::npos) {
        std::string point(text);
        for (char& c : point) {
            c = c == ',' ? '.' : c;
        }
        return ParseNumber(point);
    }
    return ParseNumber(text);
}

class CsvReader {
public:
    CsvReader(std::istream& in, TrackPointSink& sink) : input_(in), out_(sink) {}

    void Read() {
        std::string header;
        if (!input_.FirstLine(header)) {
            throw TrackFormatError("Die CSV-Datei ist leer.");
        }
        separator_ = DetectSeparator(header);
        CsvRecords records(input_, separator_);
        std::vector<std::string> fields;
        std::uint64_t line = 0;
        records.Next(fields, line);
        Columns(fields);
        while (records.Next(fields, line)) {
            Row(fields, line);
        }
    }

private:
    CsvInput input_;
    SegmentedSink out_;
    char separator_ = ',';
    std::optional<std::size_t> timestamp_;  // a whole time, or with date_ the time of day
    std::optional<std::size_t> date_;
    std::optional<std::size_t> latitude_;
    std::optional<std::size_t> longitude_;
    std::optional<std::size_t> elevation_;

    void Columns(const std::vector<std::string>& names) {
        std::optional<std::size_t> timeOfDay;
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::optional<std::size_t>* slot = nullptr;
            switch (Classify(names[i])) {
                case Column::timestamp:
                    slot = &timestamp_;
                    break;
                case Column::time:
                    slot = &timeOfDay;
                    break;
                case Column::date:
                    slot = &date_;
                    break;
                case Column::latitude:
                    slot = &latitude_;
                    break;
                case Column::longitude:
                    slot = &longitude_;
                    break;
                case Column::elevation:
                    slot = &elevation_;
                    break;
                case Column::other:
                    break;
            }
            if (slot != nullptr && !*slot) {
                *slot = i;
            }
        }
        // "time" is the whole time, unless a date column gives the day; a date column alone may hold both.
        if (!timestamp_) {
            timestamp_ = timeOfDay;
        }
        if (!timestamp_) {
            timestamp_ = std::exchange(date_, std::nullopt);
        }
        std::string missing;
        if (!timestamp_) {
            missing = "die Zeit (time, timestamp, datetime oder date und time)";
        } else if (!latitude_) {
            missing = "die Breite (lat, latitude)";
        } else if (!longitude_) {
            missing = "die Länge (lon, lng, longitude)";
        }
        if (!missing.empty()) {
            throw TrackFormatError("Die Kopfzeile der CSV-Datei nennt keine Spalte für " + missing + ".");
        }
    }

    static std::string_view Field(const std::vector<std::string>& fields,
                                  const std::optional<std::size_t>& column) {
        return column && *column < fields.size() ? std::string_view(fields[*column]) : std::string_view{};
    }

    void Row(const std::vector<std::string>& fields, std::uint64_t line) {
        const std::string_view timeText = Trimmed(Field(fields, timestamp_));
        const std::string_view latitudeText = Trimmed(Field(fields, latitude_));
        const std::string_view longitudeText = Trimmed(Field(fields, longitude_));
        if (timeText.empty() || latitudeText.empty() || longitudeText.empty()) {
            return;  // no time or no position: no track point (an empty line too)
        }
        const std::string where = "Zeile " + std::to_string(line);
        TrackPoint point;
        std::string written(timeText);
        if (date_) {
            written = IsoDate(Field(fields, date_)) + "T" + written;
        }
        if (IsDecimal(written)) {
            if (!ParseUnixTime(written, point.utcTime)) {
                throw TrackFormatError(where + ": die Zeit " + Quoted(written) + " ist nicht lesbar.");
            }
        } else {
            switch (ParseIsoTime(IsoDate(written), point.utcTime)) {
                case TimeText::moment:
                    break;
                case TimeText::dayOnly:
                    return;
                case TimeText::invalid:
                    throw TrackFormatError(where + ": die Zeit " + Quoted(written) + " ist nicht lesbar.");
            }
        }
        const std::optional<double> latitude = CsvNumber(latitudeText, separator_);
        const std::optional<double> longitude = CsvNumber(longitudeText, separator_);
        if (!latitude) {
            throw TrackFormatError(where + ": die Breite " + Quoted(latitudeText) + " ist keine Zahl.");
        }
        if (!longitude) {
            throw TrackFormatError(where + ": die Länge " + Quoted(longitudeText) + " ist keine Zahl.");
        }
        point.latitude = *latitude;
        point.longitude = *longitude;
        point.elevation = CsvNumber(Field(fields, elevation_), separator_);
        out_.Add(point);
    }
};

}  // namespace

}  // namespace trackread

void ReadCsv(std::istream& in, TrackPointSink& sink) {
    trackread::CsvReader reader(in, sink);
    reader.Read();
}

}  // namespace zeloro
