// src/trackstore/detail/SqliteError.h: sqlite3 failures raised as DatabaseError with SQLite's code.
#pragma once
#include <sqlite3.h>

#include "common/Error.h"

namespace zeloro {

// SQLite's text for the connection's last error, or for the code alone when there is no connection.
[[noreturn]] inline void throwDb(sqlite3* db, int rc) {
    throw DatabaseError(rc, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

[[noreturn]] inline void throwNotConnected() {
    throw DatabaseError(SQLITE_MISUSE, "Keine Verbindung zur Datenbank");
}

}  // namespace zeloro
