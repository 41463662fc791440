// src/trackread/detail/JsonEvents.h: a JSON file read as a stream of events (nlohmann::json's SAX
// interface), with the path of containers down to each one, so that a reader keeps only the members it
// wants and never the whole document.
#pragma once
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeloro::trackread {

// One open object or array.
struct JsonLevel {
    bool array = false;
    std::string key;          // an object's member being read (the last key seen)
    std::uint64_t count = 0;  // the members or elements begun so far
};

// A value that is no container. text is a string's content, or a number as written.
struct JsonScalar {
    enum class Kind : std::uint8_t { string, number, boolean, null };
    Kind kind = Kind::null;
    std::string_view text;
    std::optional<std::int64_t> integer;  // for a number without fraction or exponent within int64
    double number = 0;                    // for any number
};

class JsonEventHandler {
public:
    JsonEventHandler() = default;
    JsonEventHandler(const JsonEventHandler&) = delete;
    JsonEventHandler& operator=(const JsonEventHandler&) = delete;
    virtual ~JsonEventHandler() = default;
    // path holds the open containers from the outermost on; at Start the new one is the last, at End it
    // is still there. A value's place is path.back() (its key, when path.back() is an object).
    virtual void Start(const std::vector<JsonLevel>& path) = 0;
    virtual void End(const std::vector<JsonLevel>& path) = 0;
    virtual void Scalar(const std::vector<JsonLevel>& path, const JsonScalar& value) = 0;
};

// Reads in as one JSON value and nothing after it. Throws TrackFormatError "Die <formatName>-Datei ist
// kein gültiges JSON (Byte N)." for a text that is not JSON, and "... ist zu tief verschachtelt." beyond
// 512 levels; what the handler throws ends the read unchanged.
void ReadJsonEvents(std::istream& in, JsonEventHandler& handler, std::string_view formatName);

}  // namespace zeloro::trackread
