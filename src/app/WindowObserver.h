// src/app/WindowObserver.h: carries a run's reports from its worker thread to the window's thread.
#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <string>

#include "tagging/RunObserver.h"

namespace zeloro {

// Lives on the window's thread; the run calls it from the worker. Log lines and progress travel as
// queued signals, in the order the run made them. The error box of an input check is shown on the
// window's thread while the worker waits for it to close.
class WindowObserver : public QObject, public RunObserver {
    Q_OBJECT
public:
    // stop: set by the window ("Abbrechen", Esc, "Beenden" or closing it during a run); read between photos.
    explicit WindowObserver(const std::atomic<bool>& stop, QObject* parent = nullptr);

    void AppendLine(const std::string& line) override;
    void SetProgressMax(int maximum) override;
    void SetProgressPosition(int position) override;
    void ShowError(const std::string& text) override;
    // Into the log, with a stamp like every line there.
    void Notice(const std::string& text) override;
    // The point an import failed at and why, into the log after its failure line, which alone would not
    // say what to mend in the track file.
    void ImportFailed(const std::string& reason) override;
    // Nothing to do: the window's event loop keeps running on its own thread throughout the run.
    void ProcessMessages() override {}
    [[nodiscard]] bool StopRequested() override;
    // Each photo's outcome, for the results table.
    void PhotoHandled(const PhotoReport& report) override;

signals:
    void LineAppended(const QString& line);
    void ProgressMaxChanged(int maximum);
    void ProgressPositionChanged(int position);
    void PhotoReported(const zeloro::PhotoReport& report);

private:
    const std::atomic<bool>& stop_;
};

}  // namespace zeloro

Q_DECLARE_METATYPE(zeloro::PhotoReport)
