// src/tagging/RunSummary.h: how many photos of a run ended in each way, and the closing line both front
// ends show of it.
#pragma once
#include <string>

#include "tagging/RunObserver.h"

namespace zeloro {

// How many photos of a run ended in each way.
struct RunCounts {
    int tagged = 0;
    int noMatch = 0;
    int skipped = 0;
    int failed = 0;
    // One more photo with the status of a PhotoHandled report.
    void Add(PhotoStatus status) noexcept;
    [[nodiscard]] int Total() const noexcept { return tagged + noMatch + skipped + failed; }
    friend bool operator==(const RunCounts&, const RunCounts&) = default;
};

// "Zusammenfassung: 3 getaggt, 1 ohne Treffer, 0 übersprungen, 0 fehlgeschlagen, 0,42 s"; in a dry run
// "getaggt" reads "würden getaggt".
[[nodiscard]] std::string SummaryLine(const RunCounts& counts, double seconds, bool dryRun);

}  // namespace zeloro
