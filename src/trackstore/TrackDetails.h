// src/trackstore/TrackDetails.h: the columns of the track table that only the opt-in matching rules use:
// a point's elevation and the track segment it belongs to.
#pragma once
#include <cstdint>

namespace zeloro {

class Connection;

// Both columns are nullable: rows imported without them (by a plain run, or before the columns existed)
// hold NULL, which the rules read as "no elevation" and "in no segment".
inline constexpr const char* kElevationColumn = "ele";    // REAL, metres above sea level
inline constexpr const char* kSegmentColumn = "segment";  // INTEGER, the same number for one segment

inline constexpr const char* kGpxInsertWithDetailsStatement =
    "INSERT INTO gpx (lat,lon,utctime,ele,segment) VALUES (:lat,:lon,:utctime,:ele,:segment);";

// Adds whichever of the two columns the table gpx lacks, so that a database delivered or filled before
// them keeps its rows and works on. Throws DatabaseError with SQLite's text (a missing table: "no such
// table: gpx").
void EnsureTrackDetailColumns(Connection& connection);

// A segment number no row of the table uses yet: one above the largest stored, 1 for none. Throws
// DatabaseError.
[[nodiscard]] std::int64_t NextTrackSegment(Connection& connection);

}  // namespace zeloro
