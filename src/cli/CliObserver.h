// src/cli/CliObserver.h: the run's log, progress and error box on a terminal or in pipes.
#pragma once
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "tagging/RunObserver.h"
#include "tagging/RunSummary.h"
#include "tagging/RunUndo.h"
#include "tagging/TaggingRun.h"

namespace zeloro::cli {

// The counts and the closing line are the window's too.
using zeloro::RunCounts;
using zeloro::SummaryLine;

// The JSON object of one photo: file, status, latitude, longitude (numbers or null), utc_time
// ("2024-06-15T08:00:30Z" or null) and message; with --explain a missed photo also has "reason". A path
// that is no valid UTF-8 also comes as "file_bytes", each byte beyond printable ASCII and each backslash
// as "\xNN".
[[nodiscard]] std::string PhotoJson(const PhotoReport& report);

// Log lines go to out, error texts to err. When err is a terminal, a one-line progress display
// ("\r<done>/<total> Fotos, <rate> Fotos/s") is kept on err; it is wiped before anything else is
// written to the same terminal, so it never ends up inside a log line. A pipe or file gets none.
class CliObserver : public RunObserver {
public:
    CliObserver(std::FILE* out, std::FILE* err, bool errIsTerminal, bool outIsTerminal);
    ~CliObserver() override;
    CliObserver(const CliObserver&) = delete;
    CliObserver& operator=(const CliObserver&) = delete;

    void AppendLine(const std::string& line) override;
    void PhotoHandled(const PhotoReport& report) override;
    void SetProgressMax(int maximum) override;
    void SetProgressPosition(int position) override;
    void ShowError(const std::string& text) override;
    // In JSON mode the stop line is an object of its own:
    // {"stopped":{"done":N,"total":M,"message":"Lauf abgebrochen: N von M Bildern bearbeitet."}}
    // (the log, with the line, is not shown there).
    void RunStopped(std::size_t done, std::size_t total, const std::string& message) override;
    // The reason goes to stderr like an error that ended the run.
    void ImportFailed(const std::string& reason) override;
    // On stderr, as the notices of the opt-in settings are.
    void Notice(const std::string& text) override;

    // An information text (stdout), e.g. the map page's path.
    void Information(const std::string& text);
    // An error text (stderr), e.g. the default error report of a failed command.
    void Error(const std::string& text);
    // Instead of the log: one JSON object per photo on out, and information texts as objects too.
    void SetJson(bool json) noexcept { json_ = json; }
    [[nodiscard]] const RunCounts& Counts() const noexcept { return counts_; }
    // The closing summary: a line in the log's place, or the final JSON object.
    void Summary(double seconds, bool dryRun);

    // After an undo: nothing more in the log's place (its last line is the summary); in JSON mode the
    // object {"undo":{"found":..,"kind":"tagging"|"removal","dry_run":..,"restored":N,"changed_since":M,
    // "failed":K,"restored_files":[..],"changed_files":[..]}}.
    void UndoDone(const UndoSummary& summary, bool dryRun);
    // After a removal of positions: in JSON mode the object
    // {"removal":{"dry_run":..,"removed":N,"without_gps":M,"failed":K,"removed_files":[..]}}.
    void RemovalDone(const RemovalSummary& summary, bool dryRun);

    // Wipes the progress display and flushes both streams.
    void Finish();

    // The run stops between photos once *flag is non-zero (set by a signal handler).
    void SetStopFlag(const volatile std::sig_atomic_t* flag) noexcept { stopFlag_ = flag; }
    [[nodiscard]] bool StopRequested() override { return stopFlag_ != nullptr && *stopFlag_ != 0; }

private:
    void wipeProgress();
    void putOut(const std::string& text);
    void drawProgress(bool force);

    std::FILE* out_;
    std::FILE* err_;
    bool errIsTerminal_;
    bool outIsTerminal_;
    bool progressShown_ = false;
    bool json_ = false;
    RunCounts counts_;
    const volatile std::sig_atomic_t* stopFlag_ = nullptr;
    int maximum_ = 0;
    int position_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace zeloro::cli
