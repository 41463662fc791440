// src/trackread/detail/JsonEvents.cpp
#include "trackread/detail/JsonEvents.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <istream>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <vector>

#include "trackread/TrackPoint.h"

namespace zeloro::trackread {

namespace {

constexpr std::size_t kMaxDepth = 512;
// No string or number of a track file comes near this; the parser keeps a token whole, so a longer one
// would let the memory of a read grow with the file.
constexpr std::size_t kMaxToken = 1024 * 1024;

// The stream's bytes a chunk at a time, watched for a token longer than kMaxToken: at one, the bytes
// end there (the parser then fails) and tooLong tells why.
class TokenGuard final : public std::streambuf {
public:
    explicit TokenGuard(std::istream& in) : in_(in), buffer_(64 * 1024) {}
    bool tooLong = false;
    bool readError = false;

protected:
    int_type underflow() override {
        if (tooLong || readError) {
            return traits_type::eof();
        }
        in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        if (in_.bad()) {
            readError = true;
            return traits_type::eof();
        }
        std::size_t size = static_cast<std::size_t>(in_.gcount());
        for (std::size_t i = 0; i < size; ++i) {
            if (!Watch(buffer_[i])) {
                tooLong = true;
                size = i;
            }
        }
        if (size == 0) {
            return traits_type::eof();
        }
        setg(buffer_.data(), buffer_.data(), buffer_.data() + size);
        return traits_type::to_int_type(buffer_[0]);
    }

private:
    std::istream& in_;
    std::vector<char> buffer_;
    bool inString_ = false;
    bool escaped_ = false;
    std::size_t run_ = 0;  // bytes of the token being read

    // False when c makes the token too long.
    bool Watch(char c) noexcept {
        if (inString_) {
            if (escaped_) {
                escaped_ = false;
            } else if (c == '\\') {
                escaped_ = true;
            } else if (c == '"') {
                inString_ = false;
                run_ = 0;
                return true;
            }
            return ++run_ <= kMaxToken;
        }
        switch (c) {
            case '"':
                inString_ = true;
                run_ = 0;
                return true;
            case '{':
            case '}':
            case '[':
            case ']':
            case ',':
            case ':':
            case ' ':
            case '\t':
            case '\r':
            case '\n':
                run_ = 0;
                return true;
            default:
                return ++run_ <= kMaxToken;
        }
    }
};

class SaxAdapter {
public:
    using json = nlohmann::json;
    SaxAdapter(JsonEventHandler& handler, std::string_view formatName, const TokenGuard& guard)
        : handler_(handler), format_(formatName), guard_(guard) {}

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
        if (guard_.readError) {
            throw TrackFormatError("Die Datei kann nicht gelesen werden.");
        }
        if (guard_.tooLong) {
            throw TrackFormatError("Die " + format_ + "-Datei enthält einen Wert von mehr als " +
                                   std::to_string(kMaxToken) + " Bytes (vor Byte " +
                                   std::to_string(position) + ").");
        }
        throw TrackFormatError("Die " + format_ + "-Datei ist kein gültiges JSON (Byte " +
                               std::to_string(position) + ").");
    }

private:
    JsonEventHandler& handler_;
    std::string format_;
    const TokenGuard& guard_;
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
    TokenGuard guard(in);
    std::istream guarded(&guard);
    SaxAdapter adapter(handler, formatName, guard);
    nlohmann::json::sax_parse(guarded, &adapter, nlohmann::json::input_format_t::json, true);
}

}  // namespace zeloro::trackread
