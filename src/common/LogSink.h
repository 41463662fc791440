// src/common/LogSink.h: the append-only log panel as the core sees it.
#pragma once
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace zeloro {

class LogSink {
public:
    virtual ~LogSink() = default;
    // One whole line as the log panel shows it, stamp included.
    virtual void AppendLine(const std::string& line) = 0;
};

// Appends the current local stamp followed by the message; the messages carry their own " - ".
inline void LogLine(LogSink& sink, std::string_view message) {
    sink.AppendLine(LogStamp(Now()) + std::string(message));
}

}  // namespace zeloro
