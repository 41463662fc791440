// src/trackstore/TrackDetails.cpp: adding the elevation and segment columns, and numbering segments.
#include "trackstore/TrackDetails.h"

#include <string>

#include "trackstore/Database.h"

namespace zeloro {

void EnsureTrackDetailColumns(Connection& connection) {
    bool haveElevation = false;
    bool haveSegment = false;
    bool haveTable = false;
    {
        Query info(connection);
        info.SetSQL("PRAGMA table_info(gpx)");
        for (info.Open(); !info.Eof(); info.Next()) {
            haveTable = true;
            const std::string name = info.FieldByName("name").AsString();
            haveElevation = haveElevation || name == kElevationColumn;
            haveSegment = haveSegment || name == kSegmentColumn;
        }
    }
    if (!haveTable) {
        // The pragma is silent about a missing table; the insert would name it, so let this statement do.
        connection.Execute("SELECT 1 FROM gpx");
    }
    if (!haveElevation) {
        connection.Execute(std::string("ALTER TABLE gpx ADD COLUMN ") + kElevationColumn + " REAL");
    }
    if (!haveSegment) {
        connection.Execute(std::string("ALTER TABLE gpx ADD COLUMN ") + kSegmentColumn + " INTEGER");
    }
}

std::int64_t NextTrackSegment(Connection& connection) {
    Query query(connection);
    query.SetSQL(std::string("SELECT COALESCE(MAX(") + kSegmentColumn + "), 0) + 1 AS next FROM gpx");
    query.Open();
    return query.FieldByName("next").AsInteger();
}

}  // namespace zeloro
