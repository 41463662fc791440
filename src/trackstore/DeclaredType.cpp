// src/trackstore/DeclaredType.cpp: what a result column holds, from its declared type.
#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <string>

#include "common/AsciiText.h"
#include "trackstore/Database.h"
#include "trackstore/detail/StoredText.h"

namespace zeloro {

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

}  // namespace zeloro
