// src/trackstore/Database.cpp: connection, statement cache, parameters and fields over sqlite3.
#include "trackstore/Database.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/AsciiText.h"
#include "common/Error.h"

namespace zeloro {
namespace {

// Statements the track store uses are few; the bound only guards against callers that build texts.
constexpr std::size_t kStatementCacheSize = 16;

bool isNameChar(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

[[noreturn]] void throwDb(sqlite3* db, int rc) {
    throw DatabaseError(rc, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

[[noreturn]] void throwNotConnected() {
    throw DatabaseError(SQLITE_MISUSE, "Keine Verbindung zur Datenbank");
}

// The ":name" parameters of a statement text in order of appearance, each name once. Quoted texts,
// quoted identifiers and comments are skipped, so a colon inside them is no parameter.
std::vector<Param> parseParams(const std::string& sql) {
    std::vector<Param> params;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const std::size_t end = sql.find(close, i + 1);
            i = end == std::string::npos ? n : end + 1;  // a doubled quote reopens at once: same effect
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            const std::size_t end = sql.find('\n', i);
            i = end == std::string::npos ? n : end + 1;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (c == ':' && i + 1 < n && isNameChar(sql[i + 1])) {
            std::size_t end = i + 1;
            while (end < n && isNameChar(sql[end])) {
                ++end;
            }
            std::string name = sql.substr(i + 1, end - i - 1);
            const bool known = std::any_of(params.begin(), params.end(),
                                           [&](const Param& p) { return SameTextAscii(p.Name(), name); });
            if (!known) {
                params.emplace_back(std::move(name));
            }
            i = end;
        } else {
            ++i;
        }
    }
    return params;
}

std::string_view trimBlanks(std::string_view text) noexcept {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads 1..maxDigits decimal digits at pos.
bool readNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits, int& out) noexcept {
    const std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && pos - start < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    out = value;
    return pos > start;
}

bool expect(std::string_view text, std::size_t& pos, char c) noexcept {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// "hh:mm[:ss[.zzz]]" from pos to the end of text.
std::optional<TDateTime> parseClock(std::string_view text, std::size_t pos) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
    if (!readNumber(text, pos, 2, hour) || !expect(text, pos, ':') || !readNumber(text, pos, 2, minute)) {
        return std::nullopt;
    }
    if (expect(text, pos, ':')) {
        if (!readNumber(text, pos, 2, second)) {
            return std::nullopt;
        }
        if (expect(text, pos, '.')) {
            const std::size_t start = pos;
            if (!readNumber(text, pos, 3, millis)) {
                return std::nullopt;
            }
            for (std::size_t digits = pos - start; digits < 3; ++digits) {
                millis *= 10;
            }
        }
    }
    TDateTime time = 0;
    if (pos != text.size() || !TryEncodeTime(hour, minute, second, millis, time)) {
        return std::nullopt;
    }
    return time;
}

// "yyyy-MM-dd" at the start of text; pos ends behind it.
std::optional<TDateTime> parseDate(std::string_view text, std::size_t& pos) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (!readNumber(text, pos, 4, year) || !expect(text, pos, '-') || !readNumber(text, pos, 2, month) ||
        !expect(text, pos, '-') || !readNumber(text, pos, 2, day)) {
        return std::nullopt;
    }
    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date)) {
        return std::nullopt;
    }
    return date;
}

std::string formatReal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return {buffer, result.ptr};
}

}  // namespace

// ---- parsing of stored date-time texts

std::optional<TDateTime> ParseDateTimeText(std::string_view text) {
    text = trimBlanks(text);
    std::size_t pos = 0;
    const std::optional<TDateTime> date = parseDate(text, pos);
    if (!date) {
        return std::nullopt;
    }
    if (pos == text.size()) {
        return date;
    }
    if (!expect(text, pos, ' ')) {
        return std::nullopt;
    }
    const std::optional<TDateTime> time = parseClock(text, pos);
    if (!time) {
        return std::nullopt;
    }
    // Before the epoch the day count is negative while the time of day still counts forward.
    return *date >= 0 ? *date + *time : *date - *time;
}

std::optional<TDateTime> ParseTimeText(std::string_view text) {
    text = trimBlanks(text);
    std::size_t pos = 0;
    if (parseDate(text, pos)) {
        if (!expect(text, pos, ' ')) {
            return std::nullopt;
        }
        return parseClock(text, pos);
    }
    return parseClock(text, 0);
}

DeclaredKind KindOfDeclaredType(std::string_view declared) {
    std::string type;
    for (const char c : declared.substr(0, declared.find('('))) {
        type += AsciiUpper(c);
    }
    const std::string_view t = trimBlanks(type);
    const auto contains = [t](std::string_view word) { return t.find(word) != std::string_view::npos; };
    const auto is = [t](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), t) != names.end();
    };
    if (is({"TINYINT", "SMALLINT"})) {
        return {FieldKind::smallInt, 0};
    }
    if (is({"BIGINT"})) {
        return {FieldKind::largeInt, 0};
    }
    if (contains("INT")) {
        return {FieldKind::integer, 0};
    }
    if (contains("CHAR")) {
        std::size_t size = 0;
        const std::size_t open = declared.find('(');
        if (open != std::string_view::npos) {
            const std::string_view rest = declared.substr(open + 1);
            const std::size_t digit = rest.find_first_of("0123456789");
            if (digit != std::string_view::npos) {
                std::from_chars(rest.data() + digit, rest.data() + rest.size(), size);
            }
        }
        return {FieldKind::fixedText, size};
    }
    if (contains("TEXT") || contains("CLOB")) {
        return {FieldKind::longText, 0};
    }
    if (contains("BLOB")) {
        return {FieldKind::bytes, 0};
    }
    if (contains("REAL") || contains("FLOA") || contains("DOUB") || is({"NUMERIC", "DECIMAL", "NUMBER"})) {
        return {FieldKind::real, 0};
    }
    if (is({"MONEY"})) {
        return {FieldKind::currency, 0};
    }
    if (t.starts_with("BOOL")) {
        return {FieldKind::boolean, 0};
    }
    if (is({"BINARY", "VARBINARY"})) {
        return {FieldKind::bytes, 0};
    }
    if (is({"DATE"})) {
        return {FieldKind::date, 0};
    }
    if (is({"TIME"})) {
        return {FieldKind::time, 0};
    }
    if (is({"TIMESTAMP", "DATETIME"})) {
        return {FieldKind::dateTime, 0};
    }
    return {FieldKind::text, 0};
}

// ---- Connection

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

// ---- Param

void Param::SetAsDateTime(TDateTime value) {
    value_ = DateTimeText(value);
    set_ = true;
}

// ---- Field

void Field::load(sqlite3_stmt* stmt, int column) {
    null_ = sqlite3_column_type(stmt, column) == SQLITE_NULL;
    text_.clear();
    integer_ = 0;
    real_ = 0;
    if (null_) {
        return;
    }
    switch (kind_.kind) {
        case FieldKind::smallInt:
        case FieldKind::largeInt:
        case FieldKind::integer:
        case FieldKind::boolean:
            integer_ = sqlite3_column_int64(stmt, column);
            break;
        case FieldKind::real:
        case FieldKind::currency:
            real_ = sqlite3_column_double(stmt, column);
            break;
        case FieldKind::bytes: {
            const void* blob = sqlite3_column_blob(stmt, column);
            const int size = sqlite3_column_bytes(stmt, column);
            if (blob != nullptr && size > 0) {
                text_.assign(static_cast<const char*>(blob), static_cast<std::size_t>(size));
            }
            break;
        }
        default: {
            const unsigned char* text = sqlite3_column_text(stmt, column);
            const int size = sqlite3_column_bytes(stmt, column);
            if (text != nullptr && size > 0) {
                text_.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
            }
            break;
        }
    }
}

std::string Field::AsString() const {
    if (null_) {
        return {};
    }
    switch (kind_.kind) {
        case FieldKind::smallInt:
        case FieldKind::largeInt:
        case FieldKind::integer:
            return std::to_string(integer_);
        case FieldKind::boolean:
            return integer_ != 0 ? "True" : "False";
        case FieldKind::real:
        case FieldKind::currency:
            return formatReal(real_);
        default:
            return text_;
    }
}

TDateTime Field::AsDateTime() const {
    if (null_) {
        return 0;
    }
    switch (kind_.kind) {
        case FieldKind::dateTime:
            return ParseDateTimeText(text_).value_or(0);
        case FieldKind::date: {
            const TDateTime value = ParseDateTimeText(text_).value_or(0);
            return std::trunc(value);
        }
        case FieldKind::time: {
            const TDateTime value = ParseTimeText(text_).value_or(0);
            return std::fabs(value - std::trunc(value));
        }
        case FieldKind::smallInt:
        case FieldKind::largeInt:
        case FieldKind::integer:
        case FieldKind::boolean:
            return static_cast<TDateTime>(integer_);
        case FieldKind::real:
        case FieldKind::currency:
            return real_;
        default: {
            const std::optional<TDateTime> value = ParseDateTimeText(text_);
            if (!value) {
                throw InvalidValueError(kNotADateTime, text_);
            }
            return *value;
        }
    }
}

std::int64_t Field::AsInteger() const {
    if (null_) {
        return 0;
    }
    switch (kind_.kind) {
        case FieldKind::smallInt:
        case FieldKind::largeInt:
        case FieldKind::integer:
        case FieldKind::boolean:
            return integer_;
        case FieldKind::real:
        case FieldKind::currency:
            if (!(std::fabs(real_) < 9.2e18)) {
                throw RangeError();
            }
            return std::llround(real_);
        default: {
            std::int64_t value = 0;
            const std::string_view text = trimBlanks(text_);
            const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
            if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
                throw InvalidValueError(kNotAnInteger, text_);
            }
            return value;
        }
    }
}

double Field::AsFloat() const {
    if (null_) {
        return 0;
    }
    switch (kind_.kind) {
        case FieldKind::smallInt:
        case FieldKind::largeInt:
        case FieldKind::integer:
        case FieldKind::boolean:
            return static_cast<double>(integer_);
        case FieldKind::real:
        case FieldKind::currency:
            return real_;
        default: {
            double value = 0;
            const std::string_view text = trimBlanks(text_);
            const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
            if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
                throw InvalidValueError(kNotAFloat, text_);
            }
            return value;
        }
    }
}

// ---- Query

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

sqlite3_stmt* Query::prepared() {
    if (connection_ == nullptr || !connection_->Connected()) {
        throwNotConnected();
    }
    sqlite3* db = connection_->Handle();
    const auto hit =
        std::find_if(cache_.begin(), cache_.end(), [&](const CachedStatement& c) { return c.sql == sql_; });
    if (hit != cache_.end()) {
        return hit->stmt.get();
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
    if (cache_.size() >= kStatementCacheSize) {
        cache_.erase(cache_.begin());
    }
    cache_.push_back({sql_, std::move(stmt)});
    return cache_.back().stmt.get();
}

void Query::bindParams(sqlite3_stmt* stmt) {
    sqlite3* db = connection_->Handle();
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= count; ++i) {
        const char* rawName = sqlite3_bind_parameter_name(stmt, i);
        const Param* param = nullptr;
        if (rawName != nullptr && rawName[0] == ':') {
            const std::string_view name(rawName + 1);
            for (const Param& p : params_) {
                if (SameTextAscii(p.Name(), name)) {
                    param = &p;
                    break;
                }
            }
        }
        int rc = SQLITE_OK;
        if (param == nullptr || param->IsNull()) {
            rc = sqlite3_bind_null(stmt, i);
        } else {
            // Copied by SQLite: a caller may change the parameter while rows are still read.
            rc = sqlite3_bind_text64(stmt, i, param->Text().data(), param->Text().size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
        }
        if (rc != SQLITE_OK) {
            throwDb(db, rc);
        }
    }
}

void Query::ExecSQL() {
    Close();
    sqlite3_stmt* stmt = prepared();
    bindParams(stmt);
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
    sqlite3_stmt* stmt = prepared();
    bindParams(stmt);
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
