// src/trackstore/InsertBatch.cpp: many rows in one INSERT statement, bound by position.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "trackstore/Database.h"
#include "trackstore/detail/SqliteError.h"

namespace zeloro {

void InsertBatch::FinalizeStmt::operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }

InsertBatch::InsertBatch(Connection& connection, std::string_view table,
                         std::span<const std::string_view> columns, std::size_t rows)
    : connection_(connection),
      table_(table),
      rows_(rows),
      columns_(columns.size()),
      texts_(rows * columns.size()),
      nulls_(rows * columns.size(), false) {
    sql_ = "INSERT OR ABORT INTO ";
    sql_ += table;
    sql_ += " (";
    for (std::size_t c = 0; c < columns.size(); ++c) {
        sql_ += c == 0 ? "" : ",";
        sql_ += columns[c];
    }
    sql_ += ") VALUES ";
    for (std::size_t r = 0; r < rows; ++r) {
        sql_ += r == 0 ? "(" : ",(";
        for (std::size_t c = 0; c < columns.size(); ++c) {
            sql_ += c == 0 ? "?" : ",?";
        }
        sql_ += ")";
    }
}

InsertBatch::~InsertBatch() = default;

namespace {

// No row gets this rowid: a new one is one more than the largest, or a random positive number.
constexpr std::int64_t kNoRowid = INT64_MIN;

struct FinalizeQuietly {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

// The one integer a query gives (NULL as 0). Throws DatabaseError.
std::int64_t SingleInteger(sqlite3* db, const std::string& sql, std::int64_t parameter) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &raw, nullptr);
    const std::unique_ptr<sqlite3_stmt, FinalizeQuietly> stmt(raw);
    if (rc != SQLITE_OK) {
        throwDb(db, rc);
    }
    if (sqlite3_bind_parameter_count(raw) > 0) {
        sqlite3_bind_int64(raw, 1, parameter);
    }
    rc = sqlite3_step(raw);
    if (rc != SQLITE_ROW) {
        throwDb(db, rc);
    }
    return sqlite3_column_int64(raw, 0);
}

}  // namespace

std::int64_t InsertBatch::LargestRowid() {
    sqlite3* db = connection_.Handle();
    if (lastRowid_ && sqlite3_last_insert_rowid(db) == *lastRowid_) {
        return *lastRowid_;
    }
    return SingleInteger(db, "SELECT max(rowid) FROM " + table_, 0);
}

void InsertBatch::Run() {
    sqlite3* db = connection_.Handle();
    if (!stmt_) {
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare_v3(db, sql_.c_str(), static_cast<int>(sql_.size()) + 1,
                                          SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
        stmt_.reset(raw);
        if (rc != SQLITE_OK) {
            throwDb(db, rc);
        }
    }
    sqlite3_stmt* stmt = stmt_.get();
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        // The texts stay untouched until the statement has run, so SQLite reads them in place.
        const int rc = nulls_[i] ? sqlite3_bind_null(stmt, index)
                                 : sqlite3_bind_text64(stmt, index, texts_[i].data(), texts_[i].size(),
                                                       SQLITE_STATIC, SQLITE_UTF8);
        if (rc != SQLITE_OK) {
            throwDb(db, rc);
        }
    }
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        const DatabaseError error(rc, sqlite3_errmsg(db));
        sqlite3_reset(stmt);
        throw error;
    }
    sqlite3_reset(stmt);
}

void InsertBatch::Exec() {
    sqlite3* db = connection_.Handle();
    if (db == nullptr) {
        throwNotConnected();
    }
    std::int64_t largest = 0;
    try {
        largest = LargestRowid();
    } catch (const DatabaseError& error) {
        throw InsertBatchError(error, 0, true);  // nothing has changed yet
    }
    const std::int64_t lastBefore = sqlite3_last_insert_rowid(db);
    const bool autocommitBefore = sqlite3_get_autocommit(db) != 0;
    // Each row that goes in sets the last inserted rowid, and a rollback does not set it back: after a
    // failure it tells how far the run came even when SQLite has undone the whole transaction.
    sqlite3_set_last_insert_rowid(db, kNoRowid);
    try {
        Run();
    } catch (const DatabaseError& error) {
        lastRowid_.reset();
        const std::int64_t lastAfter = sqlite3_last_insert_rowid(db);
        if ((sqlite3_get_autocommit(db) != 0) != autocommitBefore) {
            // The transaction is gone, and with it every row: nothing can be replayed.
            const std::int64_t came = lastAfter == kNoRowid ? 0 : lastAfter - largest;
            throw InsertBatchError(error, static_cast<std::size_t>(std::max<std::int64_t>(came, 0)), false);
        }
        // Whether SQLite undid the rows of the run or kept those before the failing one depends on the
        // error and the table's constraints; the table says which.
        std::int64_t kept = 0;
        try {
            kept = SingleInteger(db, "SELECT count(*) FROM " + table_ + " WHERE rowid > ?", largest);
        } catch (const DatabaseError&) {
            throw InsertBatchError(error, 0, false);
        }
        if (kept == 0) {
            sqlite3_set_last_insert_rowid(db, lastBefore);
        }
        throw InsertBatchError(error, static_cast<std::size_t>(kept), kept == 0);
    }
    lastRowid_ = sqlite3_last_insert_rowid(db);
}

bool InsertBatch::TableHasTriggers(Connection& connection, std::string_view table) {
    Query query(connection);
    query.SetSQL(
        "SELECT 1 AS found FROM (SELECT tbl_name FROM sqlite_schema WHERE type = 'trigger' UNION ALL "
        "SELECT tbl_name FROM temp.sqlite_schema WHERE type = 'trigger') WHERE tbl_name = :name COLLATE "
        "NOCASE");
    query.ParamByName("name").SetAsString(table);
    query.Open();
    return !query.Eof();
}

}  // namespace zeloro
