// src/trackstore/Field.cpp: one column of a result row and its value as text, date-time or number.
#include <sqlite3.h>

#include <charconv>
#include <cmath>

#include "common/Error.h"
#include "trackstore/Database.h"
#include "trackstore/detail/StoredText.h"

namespace zeloro {

namespace {

std::string formatReal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return {buffer, result.ptr};
}

}  // namespace

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

DateTimeValue Field::AsDateTime() const {
    if (null_) {
        return 0;
    }
    switch (kind_.kind) {
        case FieldKind::dateTime:
            return ParseDateTimeText(text_).value_or(0);
        case FieldKind::date: {
            const DateTimeValue value = ParseDateTimeText(text_).value_or(0);
            return std::trunc(value);
        }
        case FieldKind::time: {
            const DateTimeValue value = ParseTimeText(text_).value_or(0);
            return std::fabs(value - std::trunc(value));
        }
        case FieldKind::smallInt:
        case FieldKind::largeInt:
        case FieldKind::integer:
        case FieldKind::boolean:
            return static_cast<DateTimeValue>(integer_);
        case FieldKind::real:
        case FieldKind::currency:
            return real_;
        default: {
            const std::optional<DateTimeValue> value = ParseDateTimeText(text_);
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

}  // namespace zeloro
