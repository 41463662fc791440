// src/trackstore/TrackRows.h: rows of the track table written as an import writes them, many to a
// statement, each row's failure still its own.
#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "trackstore/Database.h"

namespace zeloro {

// The columns of a track row, in the order of the insert statements.
enum TrackColumn : std::size_t { kTrackLat, kTrackLon, kTrackUtctime, kTrackEle, kTrackSegment };

// Fills the table gpx a row at a time: the caller writes the texts of the row in hand (Text, SetNull), then
// Add. With a batch the rows wait and go in a whole batch at a time; Flush puts in the ones still waiting.
// A batch that fails is put in again one row at a time through the query, so the failure comes at its own
// row with its own error, and the rows before it are in, as without the batch. Without a batch (Direct),
// Add inserts the row through the query at once. The query's statement text must be the insert of the
// columns in use (kGpxInsertStatement, or kGpxInsertWithDetailsStatement with the details).
class TrackRows {
public:
    // Throws DatabaseError when the query's statement lacks a parameter of the columns.
    TrackRows(Query& query, bool withDetails, long long& counter);
    ~TrackRows();
    TrackRows(const TrackRows&) = delete;
    TrackRows& operator=(const TrackRows&) = delete;

    // Rows wait in a batch of this many rows from now on, unless the table has triggers, which may keep
    // part of a failed batch or drop rows of one that goes in. Throws DatabaseError.
    void UseBatch(Connection& connection, std::size_t rows);
    // From now on each row goes in on its own; rows still waiting are dropped (Flush first to keep them).
    void Direct() noexcept;

    // The row in hand; its storage is kept, so filling it allocates nothing once its texts were this long.
    [[nodiscard]] std::string& Text(TrackColumn column) noexcept;
    void SetNull(TrackColumn column, bool null) noexcept;

    // Throws as the insert does (DatabaseError); the counter counts every row that went in.
    void Add();
    // Throws as the first failing insert does; the rows after it are dropped.
    void Flush();

private:
    void Bind(std::size_t column, const std::string& text, bool null);

    Query& query_;
    bool withDetails_;
    long long& counter_;
    std::optional<InsertBatch> batch_;
    std::size_t pending_ = 0;            // rows waiting in the batch
    std::array<Param*, 5> params_{};     // the query's, for the rows that go in one by one
    std::array<std::string, 5> single_;  // the row in hand while there is no batch
    std::array<bool, 5> singleNull_{};
};

}  // namespace zeloro
