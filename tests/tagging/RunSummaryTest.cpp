// The counts of a run's outcomes and the closing line both front ends show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tagging/RunSummary.h"

namespace zeloro::test {
namespace {

TEST(RunSummary, CountsEachStatusInItsOwnPlace) {
    RunCounts counts;
    const std::vector<PhotoStatus> statuses{PhotoStatus::tagged,  PhotoStatus::tagged, PhotoStatus::tagged,
                                            PhotoStatus::noMatch, PhotoStatus::failed, PhotoStatus::noMatch,
                                            PhotoStatus::skipped, PhotoStatus::tagged};
    for (const PhotoStatus status : statuses) {
        counts.Add(status);
    }
    EXPECT_EQ(counts, (RunCounts{4, 2, 1, 1}));
    EXPECT_EQ(counts.Total(), static_cast<int>(statuses.size()));
}

TEST(RunSummary, LineNamesEveryCountAndTheTimeWithADecimalComma) {
    struct Case {
        RunCounts counts;
        double seconds;
        bool dryRun;
        std::string line;
    };
    const std::vector<Case> cases{
        {{950, 40, 5, 5},
         12.3,
         false,
         "Zusammenfassung: 950 getaggt, 40 ohne Treffer, 5 übersprungen, 5 fehlgeschlagen, 12,30 s"},
        {{2, 1, 0, 0},
         0.004,
         true,
         "Zusammenfassung: 2 würden getaggt, 1 ohne Treffer, 0 übersprungen, "
         "0 fehlgeschlagen, 0,00 s"},
        {{0, 0, 0, 0},
         0.555,
         false,
         "Zusammenfassung: 0 getaggt, 0 ohne Treffer, 0 übersprungen, "
         "0 fehlgeschlagen, 0,56 s"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SummaryLine(c.counts, c.seconds, c.dryRun), c.line);
    }
}

}  // namespace
}  // namespace zeloro::test
