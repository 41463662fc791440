// src/trackstore/Database.h: a thin data-access layer over sqlite3: one connection, reusable statement
// objects with named parameters (":name") and result fields read by name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/DateTime.h"
#include "common/Error.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zeloro {

class Query;

// One thread uses a connection and its queries. The connection must stay at its address while queries
// are attached to it (hence neither copied nor moved).
class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens (creating it when missing) the database file for reading and writing; an open connection is
    // closed first. Throws DatabaseError with SQLite's code and text; the connection then stays closed.
    void Open(const std::string& utf8Path);
    // Rolls back an open transaction, releases every statement of the attached queries and closes.
    void Close() noexcept;
    [[nodiscard]] bool Connected() const noexcept { return db_ != nullptr; }

    [[nodiscard]] bool InTransaction() const;
    void StartTransaction();  // "BEGIN DEFERRED"
    void Commit();            // "COMMIT"
    void Rollback();          // "ROLLBACK"

    // Runs every statement of the text in turn (a schema script, a transaction command); result rows
    // are skipped. Throws DatabaseError at the first failing statement; the ones before it stay done.
    void Execute(const std::string& sql);

    // The raw handle, for the layer's own statements; null while closed.
    [[nodiscard]] sqlite3* Handle() const noexcept { return db_.get(); }

private:
    friend class Query;
    struct CloseDb {
        void operator()(sqlite3* db) const noexcept;
    };
    void attach(Query* query);
    void detach(Query* query) noexcept;

    std::unique_ptr<sqlite3, CloseDb> db_;
    std::vector<Query*> queries_;
};

// A named parameter of a statement; the value is bound as text, or NULL while unset.
class Param {
public:
    explicit Param(std::string name) : name_(std::move(name)) {}
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    void SetAsString(std::string_view value) {
        value_.assign(value);
        set_ = true;
    }
    // Rounded to the nearest millisecond, then written as "yyyy-mm-dd hh:nn:ss" with the milliseconds
    // dropped: 12:00:05.5 binds as 12:00:05, 12:00:05.9996 as 12:00:06.
    void SetAsDateTime(DateTimeValue value);
    void Clear() noexcept {
        value_.clear();
        set_ = false;
    }
    [[nodiscard]] bool IsNull() const noexcept { return !set_; }
    [[nodiscard]] const std::string& Text() const noexcept { return value_; }

private:
    std::string name_;
    std::string value_;
    bool set_ = false;
};

// What a result column holds, from its declared type (see KindOfDeclaredType).
enum class FieldKind : std::uint8_t {
    smallInt,
    largeInt,
    integer,
    fixedText,
    longText,
    bytes,
    real,
    currency,
    boolean,
    date,
    time,
    dateTime,
    text
};

struct DeclaredKind {
    FieldKind kind = FieldKind::text;
    std::size_t size = 0;  // the first number in parentheses of a CHAR type, else 0
};

// Upper-cases the declared type, cuts it at the first "(" and applies the first matching rule of the
// type table (exact names first, then the contained words INT, CHAR, TEXT/CLOB, BLOB, REAL/FLOA/DOUB).
// An unknown or missing declared type reads as text.
[[nodiscard]] DeclaredKind KindOfDeclaredType(std::string_view declared);

// "yyyy-MM-dd hh:mm:ss" (the time part optional); nullopt when the text does not parse that way.
[[nodiscard]] std::optional<DateTimeValue> ParseDateTimeText(std::string_view text);
// "hh:mm:ss" alone or after a date; nullopt when it does not parse.
[[nodiscard]] std::optional<DateTimeValue> ParseTimeText(std::string_view text);

// One column of the current result row; its value changes with Query::Next.
class Field {
public:
    Field(std::string name, DeclaredKind kind) : name_(std::move(name)), kind_(kind) {}
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    [[nodiscard]] FieldKind Kind() const noexcept { return kind_.kind; }
    [[nodiscard]] bool IsNull() const noexcept { return null_; }
    // The value as text: for text kinds SQLite's UTF-8 rendering of whatever is stored; a NULL is empty.
    [[nodiscard]] std::string AsString() const;
    // Date, time and date-time columns parse their text; text that does not parse gives 0. Numeric
    // columns give their number. Other text columns parse like a date-time column. A NULL gives 0.
    [[nodiscard]] DateTimeValue AsDateTime() const;
    [[nodiscard]] std::int64_t AsInteger() const;
    [[nodiscard]] double AsFloat() const;

private:
    friend class Query;
    void load(sqlite3_stmt* stmt, int column);

    std::string name_;
    DeclaredKind kind_;
    bool null_ = true;
    std::string text_;
    std::int64_t integer_ = 0;
    double real_ = 0;
};

// The one reusable statement object. Prepared statements are kept in a small cache keyed by SQL text,
// so a statement set again with the same text (an INSERT per track point) is prepared only once.
// Closing the connection releases the statements of its queries (they work on after a reopen); a query
// that outlives its connection only throws DatabaseError when run.
class Query {
public:
    explicit Query(Connection& connection);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Ends an open result; the statement text and parameters stay.
    void Close() noexcept;
    // Sets the statement text and its parameters (":name", each name once); an open result is closed
    // first. Setting the same text again keeps the parameters and their values.
    void SetSQL(std::string sql);
    [[nodiscard]] const std::string& SQL() const noexcept { return sql_; }
    // Letter case of the name is ignored. Throws DatabaseError when the statement has no such parameter.
    [[nodiscard]] Param& ParamByName(std::string_view name);
    [[nodiscard]] const std::vector<Param>& Params() const noexcept { return params_; }

    // Runs a statement to its end (result rows are skipped). Throws DatabaseError with SQLite's text.
    void ExecSQL();
    // Runs a query and positions on its first row (Eof when there is none). Throws DatabaseError.
    void Open();
    [[nodiscard]] bool Active() const noexcept { return active_; }
    [[nodiscard]] bool Eof() const noexcept { return eof_; }
    // Moves to the next row; Eof after the last. Throws DatabaseError.
    void Next();
    // Letter case of the name is ignored. Throws DatabaseError when the result has no such column. The
    // field follows the current row and stays valid until the query is closed or opened again.
    [[nodiscard]] const Field& FieldByName(std::string_view name) const;
    [[nodiscard]] const std::vector<Field>& Fields() const noexcept { return fields_; }
    // How many statements this object has prepared so far: texts set again are served from the cache.
    [[nodiscard]] std::size_t PrepareCount() const noexcept { return prepareCount_; }

private:
    friend class Connection;
    struct FinalizeStmt {
        void operator()(sqlite3_stmt* stmt) const noexcept;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStmt>;
    struct CachedStatement {
        std::string sql;
        Statement stmt;
        // For each parameter slot of the statement, the index of its Param in params_, or -1: resolved
        // once when prepared, since the same text always yields the same parameters.
        std::vector<int> places;
    };

    CachedStatement& prepared();
    // copy: SQLite keeps its own copy of each text, for rows read while the caller changes parameters.
    void bindParams(const CachedStatement& statement, bool copy);
    void step();
    void releaseStatements() noexcept;

    Connection* connection_;
    std::string sql_;
    std::vector<Param> params_;
    std::vector<CachedStatement> cache_;
    std::size_t lastUsed_ = 0;         // index in cache_ of the statement served last
    sqlite3_stmt* current_ = nullptr;  // the statement of the open result, owned by cache_
    std::vector<Field> fields_;
    bool active_ = false;
    bool eof_ = true;
    std::size_t prepareCount_ = 0;
};

// A failed run of an InsertBatch: SQLite's code and text, and what the run left in the table.
class InsertBatchError : public DatabaseError {
public:
    InsertBatchError(const DatabaseError& error, std::size_t kept, bool replayable)
        : DatabaseError(error), kept_(kept), replayable_(replayable) {}
    // How many of the run's rows (the first ones) went in before the failure.
    [[nodiscard]] std::size_t Kept() const noexcept { return kept_; }
    // Nothing of the run stayed and the transaction is as it was: inserting the rows one by one instead
    // finds the row that fails, with its own error, and keeps the rows before it.
    [[nodiscard]] bool Replayable() const noexcept { return replayable_; }

private:
    std::size_t kept_;
    bool replayable_;
};

// An INSERT of a fixed number of rows in one statement, prepared once and bound by position: a long run
// of rows goes in at a fraction of the cost of one statement run per row. The values are texts (or NULL)
// bound the way Query binds its parameters, so a row stores the same as with a one-row INSERT. The table
// must have rowids, given as one more than the largest (no AUTOINCREMENT), and should have no trigger
// (see TableHasTriggers): a trigger may keep or drop rows in ways a failed run cannot tell.
class InsertBatch {
public:
    // "INSERT OR ABORT INTO table (columns) VALUES (?,...),..." with rows groups; prepared on the first
    // Exec.
    InsertBatch(Connection& connection, std::string_view table, std::span<const std::string_view> columns,
                std::size_t rows);
    ~InsertBatch();
    InsertBatch(const InsertBatch&) = delete;
    InsertBatch& operator=(const InsertBatch&) = delete;

    [[nodiscard]] std::size_t Rows() const noexcept { return rows_; }
    [[nodiscard]] std::size_t Columns() const noexcept { return columns_; }
    // The value of one column of one row: its storage is kept between runs, so filling it allocates
    // nothing once the texts have been this long before. Set the null flag to bind NULL.
    [[nodiscard]] std::string& Text(std::size_t row, std::size_t column) noexcept {
        return texts_[row * columns_ + column];
    }
    void SetNull(std::size_t row, std::size_t column, bool null) noexcept {
        nulls_[row * columns_ + column] = null;
    }
    [[nodiscard]] bool IsNull(std::size_t row, std::size_t column) const noexcept {
        return nulls_[row * columns_ + column];
    }
    // Inserts every row. Throws InsertBatchError with SQLite's code and text.
    void Exec();

    // Whether a trigger (of the database or a temporary one) fires on the table: it may keep part of a
    // failed run. Throws DatabaseError.
    [[nodiscard]] static bool TableHasTriggers(Connection& connection, std::string_view table);

private:
    struct FinalizeStmt {
        void operator()(sqlite3_stmt* stmt) const noexcept;
    };
    void Run();
    [[nodiscard]] std::int64_t LargestRowid();

    Connection& connection_;
    std::string table_;
    std::string sql_;
    std::unique_ptr<sqlite3_stmt, FinalizeStmt> stmt_;
    // The largest rowid of the table after this object's last run, while no other insert came after it:
    // then SQLite's last inserted rowid is still this one.
    std::optional<std::int64_t> lastRowid_;
    std::size_t rows_;
    std::size_t columns_;
    std::vector<std::string> texts_;
    std::vector<bool> nulls_;
};

}  // namespace zeloro
