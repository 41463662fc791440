#include "tagging/ClockSentence.h"

namespace zeloro {

std::string ClockSentence(std::int64_t offsetSeconds) {
    if (offsetSeconds == 0) {
        return "Die Kamera geht genau.";
    }
    // The magnitude in an unsigned type: the most negative value has no positive counterpart.
    std::uint64_t rest = offsetSeconds < 0 ? 0U - static_cast<std::uint64_t>(offsetSeconds)
                                           : static_cast<std::uint64_t>(offsetSeconds);
    const std::uint64_t days = rest / 86400U;
    rest %= 86400U;
    const std::uint64_t parts[] = {rest / 3600U, rest % 3600U / 60U, rest % 60U};
    const char* const units[] = {" h", " min", " s"};
    std::string span;
    const auto add = [&span](const std::string& part) {
        if (!span.empty()) {
            span += ' ';
        }
        span += part;
    };
    if (days > 0) {
        add(std::to_string(days) + (days == 1 ? " Tag" : " Tage"));
    }
    for (int i = 0; i < 3; ++i) {
        if (parts[i] > 0) {
            add(std::to_string(parts[i]) + units[i]);
        }
    }
    return "Die Kamera geht " + span + (offsetSeconds > 0 ? " nach." : " vor.");
}

}  // namespace zeloro
