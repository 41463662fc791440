// src/tagging/RunUndo.h: taking back the newest run a data folder recorded.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "tagging/RunObserver.h"
#include "tagging/RunRecord.h"

namespace zeloro {

inline constexpr const char* kLogNoRunToUndo = " - Kein Lauf zum Rückgängigmachen vorhanden";
inline constexpr const char* kLogUndoStart = " - Lauf wird rückgängig gemacht: ";
inline constexpr const char* kLogRemovalUndoStart = " - Entfernen der GPS-Daten wird rückgängig gemacht: ";
inline constexpr const char* kLogUndoneFile = " zurückgesetzt";
inline constexpr const char* kLogUndoneCreated = " entfernt (vom Lauf angelegt)";
inline constexpr const char* kLogUndoDryRun = " würde zurückgesetzt (Probelauf)";
inline constexpr const char* kLogChangedSinceRun = " wurde nach dem Lauf geändert – nicht zurückgesetzt";
inline constexpr const char* kLogUndoFailed = " nicht zurückgesetzt: ";

// What one undo did.
struct UndoSummary {
    bool found = false;  // there was a run to take back
    RunRecord::Kind kind = RunRecord::Kind::tagging;
    std::size_t files = 0;     // files the run wrote
    std::size_t restored = 0;  // put back as they were (or, in a dry run, would be)
    std::size_t changedSince = 0;
    std::size_t failed = 0;  // could not be put back now (the record stays for another try)
    bool stopped = false;
    std::vector<std::string> restoredPaths;
    std::vector<std::string> changedPaths;
};

// Takes back the newest run recorded in dataFolder: every file still as that run left it (size,
// modification time, hash of the whole content) gets its former content and time back through the same
// guarded replace as a save (a file with several names in place, under a journal); a file the run made is
// removed; a file changed since is left alone and named. The record then goes, so the next undo takes the
// run before. In a dry run nothing is written and the record stays. A file that cannot be put back now (no
// write permission, the disk) is logged; the record then stays, and a later undo finds the files put back
// already as they were. The observer gets the log lines and the progress; a stop between files ends it
// with the record kept. Throws RunRecordError for a damaged record (nothing written).
UndoSummary UndoNewestRun(const std::string& dataFolder, RunObserver& observer, bool dryRun);

// The one-line summary: "3 Dateien zurückgesetzt, 1 nach dem Lauf geändert und nicht zurückgesetzt"; in a dry
// run "3 Dateien würden zurückgesetzt, ...".
// The map page's line after an undo: "Letzter Lauf rückgängig gemacht: 3 Fotos zurückgesetzt, 1 geändert
// und behalten", a dry run's prefixed with "Probelauf, nichts geändert: ".
[[nodiscard]] std::string UndoPageNotice(const UndoSummary& summary, bool dryRun);
[[nodiscard]] std::string UndoSummaryText(const UndoSummary& summary, bool dryRun = false);

}  // namespace zeloro
