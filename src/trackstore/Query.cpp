// src/trackstore/Query.cpp: the reusable statement object: its text, parameters, statement cache and rows.
#include <sqlite3.h>

#include <algorithm>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "trackstore/Database.h"
#include "trackstore/detail/ParamScanner.h"
#include "trackstore/detail/SqliteError.h"

namespace zeloro {

namespace {

// Statements the track store uses are few; the bound only guards against callers that build texts.
constexpr std::size_t kStatementCacheSize = 16;

}  // namespace

void Query::FinalizeStmt::operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }

Query::Query(Connection& connection) : connection_(&connection) { connection.attach(this); }

Query::~Query() {
    releaseStatements();
    if (connection_ != nullptr) {
        connection_->detach(this);
    }
}

void Query::Close() noexcept {
    if (current_ != nullptr) {
        sqlite3_reset(current_);
        current_ = nullptr;
    }
    fields_.clear();
    active_ = false;
    eof_ = true;
}

void Query::releaseStatements() noexcept {
    Close();
    cache_.clear();
}

void Query::SetSQL(std::string sql) {
    Close();
    if (sql == sql_) {
        return;
    }
    params_ = parseParams(sql);
    sql_ = std::move(sql);
}

Param& Query::ParamByName(std::string_view name) {
    for (Param& param : params_) {
        if (SameTextAscii(param.Name(), name)) {
            return param;
        }
    }
    throw DatabaseError(SQLITE_RANGE, "Parameter '" + std::string(name) + "' nicht gefunden");
}

const Field& Query::FieldByName(std::string_view name) const {
    for (const Field& field : fields_) {
        if (SameTextAscii(field.Name(), name)) {
            return field;
        }
    }
    throw DatabaseError(SQLITE_RANGE, "Feld '" + std::string(name) + "' nicht gefunden");
}

Query::CachedStatement& Query::prepared() {
    if (connection_ == nullptr || !connection_->Connected()) {
        throwNotConnected();
    }
    sqlite3* db = connection_->Handle();
    // An insert per track point sets the same text again and again: look at the statement used last first.
    if (lastUsed_ < cache_.size() && cache_[lastUsed_].sql == sql_) {
        return cache_[lastUsed_];
    }
    const auto hit =
        std::find_if(cache_.begin(), cache_.end(), [&](const CachedStatement& c) { return c.sql == sql_; });
    if (hit != cache_.end()) {
        lastUsed_ = static_cast<std::size_t>(hit - cache_.begin());
        return *hit;
    }
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql_.c_str(), static_cast<int>(sql_.size()) + 1, &raw, &tail);
    Statement stmt(raw);
    ++prepareCount_;
    if (rc != SQLITE_OK) {
        throwDb(db, rc);
    }
    // A second statement in the same text would silently not run; refuse it instead.
    if (tail != nullptr) {
        for (const char* p = tail; *p != '\0'; ++p) {
            if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') {
                throw DatabaseError(SQLITE_MISUSE, "Nur eine SQL-Anweisung je Text erlaubt");
            }
        }
    }
    if (!stmt) {
        throw DatabaseError(SQLITE_MISUSE, "Leere SQL-Anweisung");
    }
    std::vector<int> places;
    const int count = sqlite3_bind_parameter_count(stmt.get());
    places.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        const char* rawName = sqlite3_bind_parameter_name(stmt.get(), i);
        int slot = -1;
        if (rawName != nullptr && rawName[0] == ':') {
            const std::string_view name(rawName + 1);
            const auto param = std::find_if(params_.begin(), params_.end(),
                                            [&](const Param& p) { return SameTextAscii(p.Name(), name); });
            if (param != params_.end()) {
                slot = static_cast<int>(param - params_.begin());
            }
        }
        places.push_back(slot);
    }
    if (cache_.size() >= kStatementCacheSize) {
        cache_.erase(cache_.begin());
    }
    cache_.push_back({sql_, std::move(stmt), std::move(places)});
    lastUsed_ = cache_.size() - 1;
    return cache_.back();
}

void Query::bindParams(const CachedStatement& statement, bool copy) {
    sqlite3_stmt* stmt = statement.stmt.get();
    for (std::size_t i = 0; i < statement.places.size(); ++i) {
        const int slot = statement.places[i];
        const Param* param = slot >= 0 ? &params_[static_cast<std::size_t>(slot)] : nullptr;
        const int index = static_cast<int>(i) + 1;
        int rc = SQLITE_OK;
        if (param == nullptr || param->IsNull()) {
            rc = sqlite3_bind_null(stmt, index);
        } else {
            rc = sqlite3_bind_text64(stmt, index, param->Text().data(), param->Text().size(),
                                     copy ? SQLITE_TRANSIENT : SQLITE_STATIC, SQLITE_UTF8);
        }
        if (rc != SQLITE_OK) {
            throwDb(connection_->Handle(), rc);
        }
    }
}

void Query::ExecSQL() {
    Close();
    const CachedStatement& statement = prepared();
    sqlite3_stmt* stmt = statement.stmt.get();
    // The texts stay untouched until the statement has run to its end, so SQLite reads them in place.
    // A later run binds every slot again before it steps.
    bindParams(statement, false);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        const DatabaseError error(rc, sqlite3_errmsg(connection_->Handle()));
        sqlite3_reset(stmt);
        throw error;
    }
    sqlite3_reset(stmt);
}

void Query::Open() {
    Close();
    const CachedStatement& statement = prepared();
    sqlite3_stmt* stmt = statement.stmt.get();
    // Copied by SQLite: a caller may change the parameter while rows are still read.
    bindParams(statement, true);
    const int columns = sqlite3_column_count(stmt);
    fields_.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        const char* declared = sqlite3_column_decltype(stmt, i);
        fields_.emplace_back(name != nullptr ? name : "",
                             KindOfDeclaredType(declared != nullptr ? declared : ""));
    }
    current_ = stmt;
    active_ = true;
    step();
}

void Query::Next() {
    if (!active_ || eof_) {
        return;
    }
    step();
}

void Query::step() {
    const int rc = sqlite3_step(current_);
    if (rc == SQLITE_ROW) {
        eof_ = false;
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            fields_[i].load(current_, static_cast<int>(i));
        }
        return;
    }
    eof_ = true;
    if (rc != SQLITE_DONE) {
        const DatabaseError error(rc, sqlite3_errmsg(connection_->Handle()));
        Close();
        throw error;
    }
}

}  // namespace zeloro
