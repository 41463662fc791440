// src/trackstore/TrackLookup.cpp: the track point of a shot time and the decimal-to-DMS conversion.
#include "trackstore/TrackLookup.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"

namespace zeloro {
namespace {

[[noreturn]] void throwNotFloat(const std::string& text) { throw InvalidValueError(kNotAFloat, text); }

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The text the original conversion saw, for the message: the leading sign taken away, "." as ",".
std::string workText(const std::string& text) {
    std::string work = !text.empty() && text.front() == '-' ? text.substr(1) : text;
    for (char& c : work) {
        if (c == '.') {
            c = ',';
        }
    }
    return work;
}

// The text as from_chars reads it ("." as the one separator, no blanks, no "+"). Checked by hand so that
// the accepted syntax does not depend on the C library's locale or its extras (hexadecimal, "inf", "nan").
std::string PlainNumberText(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ') {
        ++i;
    }
    std::string plain;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            plain += '-';
        }
        ++i;
    }
    bool digits = false;
    bool separator = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            digits = true;
            plain += c;
        } else if ((c == '.' || c == ',') && !separator) {
            separator = true;
            plain += '.';
        } else {
            break;
        }
    }
    if (!digits) {
        throwNotFloat(text);
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            plain += text[i];
            ++i;
        }
        const std::size_t start = i;
        while (i < n && isDigit(text[i])) {
            plain += text[i];
            ++i;
        }
        if (i == start) {
            throwNotFloat(text);
        }
    }
    while (i < n && text[i] == ' ') {
        ++i;
    }
    if (i != n) {
        throwNotFloat(text);
    }
    return plain;
}

template <typename Number>
Number ConvertCoordinate(const std::string& text) {
    const std::string plain = PlainNumberText(text);
    Number value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec != std::errc{} || result.ptr != plain.data() + plain.size() || !std::isfinite(value)) {
        throwNotFloat(text);
    }
    return value;
}

}  // namespace

long double StrToCoordinate(const std::string& text) { return ConvertCoordinate<long double>(text); }

double CoordinateNumber(const std::string& text) {
    try {
        return ConvertCoordinate<double>(text);
    } catch (const ConvertError&) {
        // A value beyond double's range, in either direction, is still a number to the lookup.
        return static_cast<double>(StrToCoordinate(text));
    }
}

Dms CoordinateToDms(const std::string& text, const char* positive, const char* negative,
                    CoordinateAxis axis) {
    // The sign goes into the hemisphere letter; only the leading "-" is the sign, a later one belongs
    // to the exponent. A second sign behind the first ("--5") is no number.
    const bool south = !text.empty() && text.front() == '-';
    if (south && text.size() > 1 && (text[1] == '-' || text[1] == '+')) {
        throwNotFloat(workText(text));
    }
    long double x = 0;
    try {
        x = StrToCoordinate(south ? text.substr(1) : text);
    } catch (const ConvertError&) {
        throwNotFloat(workText(text));
    }
    Dms result;
    result.hemisphere = south || std::signbit(x) ? negative : positive;
    x = std::fabs(x);  // a sign behind leading blanks counts like the leading "-"
    // A position off the globe would be written as EXIF degrees no program can place.
    const long double limit = axis == CoordinateAxis::latitude ? 90.0L : 180.0L;
    if (axis != CoordinateAxis::unchecked && !(x <= limit)) {
        throwNotFloat(workText(text));
    }
    result.degrees = std::trunc(x);
    const long double minutes = (x - result.degrees) * 60.0L;
    result.minutes = std::trunc(minutes);
    result.seconds = (minutes - result.minutes) * 60.0L;
    return result;
}

long double CoordinateValue(const std::string& text, bool latitude) {
    const char* negative = latitude ? "S" : "W";
    const Dms dms = latitude ? CoordinateToDms(text, "N", negative, CoordinateAxis::latitude)
                             : CoordinateToDms(text, "E", negative, CoordinateAxis::longitude);
    const long double value = dms.degrees + dms.minutes / 60.0L + dms.seconds / 3600.0L;
    return dms.hemisphere == negative ? -value : value;
}

void FillDmsFields(TCoord& coord) {
    const Dms lat = CoordinateToDms(coord.lat, "N", "S", CoordinateAxis::latitude);
    coord.gps_lt_dr = lat.hemisphere;
    coord.gps_lt_dg = lat.degrees;
    coord.gps_lt_mm = lat.minutes;
    coord.gps_lt_ss = lat.seconds;
    const Dms lon = CoordinateToDms(coord.lon, "E", "W", CoordinateAxis::longitude);
    coord.gps_ln_dr = lon.hemisphere;
    coord.gps_ln_dg = lon.degrees;
    coord.gps_ln_mm = lon.minutes;
    coord.gps_ln_ss = lon.seconds;
}

TCoord searchGPX(DateTimeValue inTime, int zoneIndex, int toleranceSeconds, Query& query) {
    const DateTimeValue utc = makeUTCDifference(inTime, zoneIndex);
    query.Close();
    if (toleranceSeconds == 0) {
        query.SetSQL(kExactLookupSql);
        query.ParamByName("utctime").SetAsDateTime(utc);
    } else {
        query.SetSQL(kWindowLookupSql);
        query.ParamByName("utctime").SetAsDateTime(utc);
        query.ParamByName("timelow").SetAsDateTime(ShiftSeconds(utc, -toleranceSeconds));
        query.ParamByName("timehigh").SetAsDateTime(ShiftSeconds(utc, toleranceSeconds));
    }
    query.Open();
    TCoord coord;
    if (query.Eof()) {
        query.Close();
        return coord;
    }
    coord.found = true;
    coord.lat = query.FieldByName("lat").AsString();
    coord.lon = query.FieldByName("lon").AsString();
    coord.utctime = query.FieldByName("utctime").AsDateTime();
    query.Close();
    FillDmsFields(coord);
    return coord;
}

}  // namespace zeloro
