// src/trackread/detail/JsonEvents.cpp
#include "trackread/detail/JsonEvents.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "trackread/TrackPoint.h"

namespace zeloro::trackread {

namespace {

constexpr std::size_t kMaxDepth = 512;

class SaxAdapter {
public:
    using json = nlohmann::json;
    SaxAdapter(JsonEventHandler& handler, std::string_view formatName)
        : handler_(handler), format_(formatName) {}

    bool null() {
        JsonScalar value;
        Value(value);
        return true;
    }
    bool boolean(bool /*value*/) {
        JsonScalar value;
        value.kind = JsonScalar::Kind::boolean;
        Value(value);
        return true;
    }
    bool number_integer(json::number_integer_t number) {
        std::array<char, 24> text{};
        const auto end = std::to_chars(text.data(), text.data() + text.size(), number).ptr;
        JsonScalar value;
        value.kind = JsonScalar::Kind::number;
        value.text = std::string_view(text.data(), static_cast<std::size_t>(end - text.data()));
        value.integer = number;
        value.number = static_cast<double>(number);
        Value(value);
        return true;
    }
    bool number_unsigned(json::number_unsigned_t number) {
        std::array<char, 24> text{};
        const auto end = std::to_chars(text.data(), text.data() + text.size(), number).ptr;
        JsonScalar value;
        value.kind = JsonScalar::Kind::number;
        value.text = std::string_view(text.data(), static_cast<std::size_t>(end - text.data()));
        if (number <= static_cast<json::number_unsigned_t>(INT64_MAX)) {
            value.integer = static_cast<std::int64_t>(number);
        }
        value.number = static_cast<double>(number);
        Value(value);
        return true;
    }
    bool number_float(json::number_float_t number, const json::string_t& text) {
        JsonScalar value;
        value.kind = JsonScalar::Kind::number;
        value.text = text;
        value.number = number;
        Value(value);
        return true;
    }
    bool string(json::string_t& text) {
        JsonScalar value;
        value.kind = JsonScalar::Kind::string;
        value.text = text;
        Value(value);
        return true;
    }
    bool binary(json::binary_t& /*bytes*/) { return true; }  // not in JSON text
    bool start_object(std::size_t /*size*/) {
        Open(false);
        return true;
    }
    bool key(json::string_t& name) {
        path_.back().key = name;
        return true;
    }
    bool end_object() {
        Close();
        return true;
    }
    bool start_array(std::size_t /*size*/) {
        Open(true);
        return true;
    }
    bool end_array() {
        Close();
        return true;
    }
    bool parse_error(std::size_t position, const std::string& /*token*/,
                     const nlohmann::detail::exception& /*e*/) {
        throw TrackFormatError("Die " + format_ + "-Datei ist kein gültiges JSON (Byte " +
                               std::to_string(position) + ").");
    }

private:
    JsonEventHandler& handler_;
    std::string format_;
    std::vector<JsonLevel> path_;

    void Count() {
        if (!path_.empty()) {
            ++path_.back().count;
        }
    }
    void Value(const JsonScalar& value) {
        Count();
        handler_.Scalar(path_, value);
    }
    void Open(bool array) {
        if (path_.size() >= kMaxDepth) {
            throw TrackFormatError("Die " + format_ + "-Datei ist zu tief verschachtelt.");
        }
        Count();
        path_.push_back({array, {}, 0});
        handler_.Start(path_);
    }
    void Close() {
        handler_.End(path_);
        path_.pop_back();
    }
};

}  // namespace

void ReadJsonEvents(std::istream& in, JsonEventHandler& handler, std::string_view formatName) {
    SaxAdapter adapter(handler, formatName);
    nlohmann::json::sax_parse(in, &adapter, nlohmann::json::input_format_t::json, true);
    if (in.bad()) {
        throw TrackFormatError("Die Datei kann nicht gelesen werden.");
    }
}

}  // namespace zeloro::trackread
