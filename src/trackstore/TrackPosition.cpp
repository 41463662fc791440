// src/trackstore/TrackPosition.cpp: interpolated positions and elevations from the track table.
#include "trackstore/TrackPosition.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "time/TimeRules.h"
#include "trackstore/Database.h"
#include "trackstore/TrackDetails.h"
#include "trackstore/TrackLookup.h"

namespace zeloro {
namespace {

struct PointRow {
    std::string lat;
    std::string lon;
    std::int64_t second = 0;  // on a linear scale, for differences
    std::optional<std::int64_t> segment;
    std::optional<long double> elevation;
};

// Seconds on a linear scale. Before 30 December 1899 the day count runs backwards while the time of day
// still runs forwards, so the two parts are taken apart first.
std::int64_t LinearSeconds(DateTimeValue value) noexcept {
    const double days = std::trunc(value);
    return static_cast<std::int64_t>(days) * 86400 + std::llround(std::fabs(value - days) * kSecsPerDay);
}

const Field* OptionalField(const Query& query, std::string_view name) noexcept {
    for (const Field& field : query.Fields()) {
        if (field.Name() == name) {
            return &field;
        }
    }
    return nullptr;
}

std::optional<PointRow> PointNear(Query& query, const char* sql, DateTimeValue utc) {
    query.Close();
    query.SetSQL(sql);
    query.ParamByName("utctime").SetAsDateTime(utc);
    query.Open();
    if (query.Eof()) {
        query.Close();
        return std::nullopt;
    }
    PointRow row;
    row.lat = query.FieldByName("lat").AsString();
    row.lon = query.FieldByName("lon").AsString();
    row.second = LinearSeconds(query.FieldByName("utctime").AsDateTime());
    // Rows of a table without the detail columns are in no segment and have no elevation.
    if (const Field* segment = OptionalField(query, kSegmentColumn);
        segment != nullptr && !segment->IsNull()) {
        row.segment = segment->AsInteger();
    }
    if (const Field* ele = OptionalField(query, kElevationColumn); ele != nullptr && !ele->IsNull()) {
        row.elevation = ele->AsFloat();
    }
    query.Close();
    return row;
}

std::optional<long double> ElevationOf(const TCoord& coord, Query& query) {
    query.Close();
    query.SetSQL(kElevationOfPointSql);
    query.ParamByName("utctime").SetAsDateTime(coord.utctime);
    query.ParamByName("lat").SetAsString(coord.lat);
    query.ParamByName("lon").SetAsString(coord.lon);
    query.Open();
    std::optional<long double> elevation;
    if (!query.Eof()) {
        elevation = query.FieldByName(kElevationColumn).AsFloat();
    }
    query.Close();
    return elevation;
}

// The UTC second the lookups bind for utc, as a date-time value.
std::optional<DateTimeValue> BoundSecond(DateTimeValue utc) {
    Param second("utctime");
    second.SetAsDateTime(utc);
    return ParseDateTimeText(second.Text());
}

}  // namespace

std::string DegreesText(long double degrees) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      static_cast<double>(degrees), std::chars_format::fixed, 7);
    std::string text(buffer.data(), result.ptr);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    if (text == "-0") {
        text = "0";
    }
    return text;
}

TrackPosition FindTrackPosition(DateTimeValue utc, const PositionRules& rules, Query& query) {
    TrackPosition position;
    if (rules.interpolateMaxGap) {
        const std::optional<DateTimeValue> second = BoundSecond(utc);
        const std::optional<PointRow> after =
            second ? PointNear(query, kPointAtOrAfterSql, utc) : std::optional<PointRow>();
        const std::int64_t t = second ? LinearSeconds(*second) : 0;
        if (after && after->second == t) {
            // A point of exactly this second: no interpolation, its own texts.
            position.coord.found = true;
            position.coord.lat = after->lat;
            position.coord.lon = after->lon;
            position.coord.utctime = *second;
            FillDmsFields(position.coord);
            position.altitude = rules.altitude ? after->elevation : std::nullopt;
            position.interpolated = true;
            return position;
        }
        const std::optional<PointRow> before =
            after ? PointNear(query, kPointAtOrBeforeSql, utc) : std::optional<PointRow>();
        // The order check guards against a stored time that does not read back as one (it reads as 0).
        if (before && before->segment && before->segment == after->segment && before->second < t &&
            t < after->second && after->second - before->second <= *rules.interpolateMaxGap) {
            const auto fraction = static_cast<long double>(t - before->second) /
                                  static_cast<long double>(after->second - before->second);
            const long double lat0 = CoordinateValue(before->lat, true);
            const long double lat1 = CoordinateValue(after->lat, true);
            const long double lon0 = CoordinateValue(before->lon, false);
            long double lonStep = CoordinateValue(after->lon, false) - lon0;
            // A track that crosses the 180th meridian goes the short way, not once around the globe.
            if (lonStep > 180.0L) {
                lonStep -= 360.0L;
            } else if (lonStep < -180.0L) {
                lonStep += 360.0L;
            }
            long double lon = lon0 + lonStep * fraction;
            if (lon > 180.0L) {
                lon -= 360.0L;
            } else if (lon < -180.0L) {
                lon += 360.0L;
            }
            position.coord.found = true;
            position.coord.lat = DegreesText(lat0 + (lat1 - lat0) * fraction);
            position.coord.lon = DegreesText(lon);
            position.coord.utctime = *second;
            FillDmsFields(position.coord);
            if (rules.altitude && before->elevation && after->elevation) {
                position.altitude = *before->elevation + (*after->elevation - *before->elevation) * fraction;
            }
            position.interpolated = true;
            return position;
        }
    }
    position.coord = searchGPX(utc, kZoneIndexUtc, rules.toleranceSeconds, query);
    if (rules.altitude && position.coord.found) {
        position.altitude = ElevationOf(position.coord, query);
    }
    return position;
}

}  // namespace zeloro
