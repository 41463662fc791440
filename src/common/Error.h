// src/common/Error.h: the root of every exception the system raises; what() is the user's text.
#pragma once
#include <stdexcept>
#include <string>
#include <string_view>

namespace zeloro {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "Stream-Lesefehler", "Stream-Schreibfehler"
class StreamError : public Error {
public:
    using Error::Error;
};

// "Fehler bei Bereichsprüfung"
class RangeError : public Error {
public:
    RangeError() : Error(kRangeCheckMessage) {}
    using Error::Error;
    static constexpr const char* kRangeCheckMessage = "Fehler bei Bereichsprüfung";
};

// Text-to-number and calendar conversions ("'%s' ist kein gültiger Integer-Wert", ...).
class ConvertError : public Error {
public:
    using Error::Error;
};

// The texts of a failed text-to-value conversion; %s stands for the text as given.
inline constexpr const char* kNotAnInteger = "'%s' ist kein gültiger Integer-Wert";
inline constexpr const char* kNotAFloat = "'%s' ist kein gültiger Gleitkommawert";
inline constexpr const char* kNotADateTime = "'%s' ist kein gültiges Datum und Uhrzeit";

// The format with the text in place of its first "%s"; a format without one comes back unchanged.
[[nodiscard]] std::string FillMessage(std::string_view format, std::string_view text);
// ConvertError with the format's message around the text that did not convert.
[[nodiscard]] ConvertError InvalidValueError(std::string_view format, std::string_view text);

// A file that cannot be opened, read or written ("Datei %s kann nicht geöffnet werden. %s").
class FileError : public Error {
public:
    using Error::Error;
};

class DatabaseError : public Error {
public:
    DatabaseError(int code, const std::string& message) : Error(message), code_(code) {}
    [[nodiscard]] int code() const noexcept { return code_; }

private:
    int code_;
};

inline constexpr const char* kStreamReadError = "Stream-Lesefehler";
inline constexpr const char* kStreamWriteError = "Stream-Schreibfehler";

}  // namespace zeloro
