#include "tagging/RunSummary.h"

#include <cstdio>

namespace zeloro {

void RunCounts::Add(PhotoStatus status) noexcept {
    switch (status) {
        case PhotoStatus::tagged:
            ++tagged;
            break;
        case PhotoStatus::noMatch:
            ++noMatch;
            break;
        case PhotoStatus::skipped:
            ++skipped;
            break;
        case PhotoStatus::failed:
            ++failed;
            break;
    }
}

std::string SummaryLine(const RunCounts& counts, double seconds, bool dryRun) {
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", seconds);
    std::string decimal = time;
    if (const auto point = decimal.find('.'); point != std::string::npos) {
        decimal[point] = ',';
    }
    return "Zusammenfassung: " + std::to_string(counts.tagged) +
           (dryRun ? " würden getaggt, " : " getaggt, ") + std::to_string(counts.noMatch) +
           " ohne Treffer, " + std::to_string(counts.skipped) + " übersprungen, " +
           std::to_string(counts.failed) + " fehlgeschlagen, " + decimal + " s";
}

}  // namespace zeloro
