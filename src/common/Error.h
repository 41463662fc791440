// src/common/Error.h: the root of every exception the system raises; what() is the user's text.
#pragma once
#include <stdexcept>
#include <string>

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

// Text-to-number and calendar conversions ("''%s'' ist kein gültiger Integer-Wert", ...).
class ConvertError : public Error {
public:
    using Error::Error;
};

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
