// src/trackstore/Database.cpp: the connection to the database file and its transactions.
#include "trackstore/Database.h"

#include <sqlite3.h>

#include <utility>

#include "trackstore/detail/SqliteError.h"

namespace zeloro {

void Connection::CloseDb::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

Connection::~Connection() {
    Close();
    for (Query* query : queries_) {
        query->connection_ = nullptr;
    }
}

void Connection::Open(const std::string& utf8Path) {
    Close();
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(utf8Path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, CloseDb> db(raw);  // a handle comes back even when the open fails
    if (rc != SQLITE_OK) {
        throwDb(raw, rc);
    }
    db_ = std::move(db);
}

void Connection::Close() noexcept {
    if (!db_) {
        return;
    }
    for (Query* query : queries_) {
        query->releaseStatements();
    }
    // An open transaction holds work nobody committed: it must not become permanent by the close.
    if (sqlite3_get_autocommit(db_.get()) == 0) {
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    db_.reset();
}

bool Connection::InTransaction() const { return db_ && sqlite3_get_autocommit(db_.get()) == 0; }

void Connection::StartTransaction() { Execute("BEGIN DEFERRED"); }

void Connection::Commit() { Execute("COMMIT"); }

void Connection::Rollback() { Execute("ROLLBACK"); }

void Connection::Execute(const std::string& sql) {
    if (!db_) {
        throwNotConnected();
    }
    const char* next = sql.c_str();
    const char* const end = sql.c_str() + sql.size();
    while (next < end) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db_.get(), next, static_cast<int>(end - next), &raw, &tail);
        const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, &sqlite3_finalize);
        if (rc != SQLITE_OK) {
            throwDb(db_.get(), rc);
        }
        next = tail != nullptr && tail > next ? tail : end;
        if (!stmt) {
            continue;  // only blanks or a comment
        }
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
            throwDb(db_.get(), rc);
        }
    }
}

void Connection::attach(Query* query) { queries_.push_back(query); }

void Connection::detach(Query* query) noexcept { std::erase(queries_, query); }

}  // namespace zeloro
