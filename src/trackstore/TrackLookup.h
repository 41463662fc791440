// src/trackstore/TrackLookup.h: the track point of a photo's shot time, as hemisphere, degrees, minutes
// and seconds.
#pragma once
#include <cstdint>
#include <string>

#include "common/Coord.h"
#include "common/DateTime.h"

namespace zeloro {

class Query;

inline constexpr const char* kExactLookupSql = "SELECT * FROM gpx WHERE utctime=:utctime";
// The point nearest in time within the window: the latest second at or before the photo and the
// earliest at or after it are each one step through the index, the nearer of the two wins (equally
// near: the earlier), and of that second the first imported point. Distances are compared in whole
// seconds, so that two equally near points are equal. (A min/max aggregate would read the whole
// window here: SQLite steps it in one index step only when it stands alone, not inside a UNION.)
inline constexpr const char* kWindowLookupSql =
    "SELECT * FROM gpx WHERE utctime = ("
    "SELECT utctime FROM ("
    "SELECT * FROM (SELECT utctime FROM gpx WHERE utctime BETWEEN :timelow AND :utctime "
    "ORDER BY utctime DESC LIMIT 1) "
    "UNION ALL "
    "SELECT * FROM (SELECT utctime FROM gpx WHERE utctime BETWEEN :utctime AND :timehigh "
    "ORDER BY utctime LIMIT 1)) "
    "ORDER BY abs(strftime('%s', utctime) - strftime('%s', :utctime)), utctime LIMIT 1) "
    "ORDER BY rowid LIMIT 1";

// Shifts inTime to UTC by the zone and takes the first stored point of that second (tolerance 0), or
// the point nearest in time within the window of +/- toleranceSeconds, both ends included (equally
// near: the earlier; of one second: the first imported). The query is left closed. Throws
// DatabaseError, ConvertError for a stored coordinate that is no number.
[[nodiscard]] TCoord searchGPX(DateTimeValue inTime, int zoneIndex, int toleranceSeconds, Query& query);

// Locale-independent decimal conversion: optional blanks, an optional sign, digits with at most one
// decimal separator ("," or "."), an optional exponent, optional blanks; the whole text must match.
// Throws ConvertError "'<text>' ist kein gültiger Gleitkommawert" otherwise (also for the empty text).
[[nodiscard]] long double StrToCoordinate(const std::string& text);
// The same number as the nearest double (a value beyond double's range as the long double's cast), for a
// front end that shows the coordinate as a number. Throws as StrToCoordinate.
[[nodiscard]] double CoordinateNumber(const std::string& text);

struct Dms {
    std::string hemisphere;
    long double degrees = 0;
    long double minutes = 0;
    long double seconds = 0;
};
// A stored coordinate text as hemisphere letter (negative: the second letter) and whole degrees, whole
// minutes and fractional seconds, all not negative. Throws ConvertError as StrToCoordinate, and for a
// latitude beyond 90 degrees or a longitude beyond 180 when axis names it.
enum class CoordinateAxis : std::uint8_t { unchecked, latitude, longitude };
[[nodiscard]] Dms CoordinateToDms(const std::string& text, const char* positive, const char* negative,
                                  CoordinateAxis axis = CoordinateAxis::unchecked);

// The signed value a stored coordinate text is tagged with (the hemisphere CoordinateToDms gives), so that
// what the map page draws and the interpolation computes is what the photo holds. Throws as CoordinateToDms.
[[nodiscard]] long double CoordinateValue(const std::string& text, bool latitude);

// The hemisphere, degree, minute and second fields of coord from its lat and lon texts. Throws
// ConvertError as CoordinateToDms.
void FillDmsFields(TCoord& coord);

}  // namespace zeloro
