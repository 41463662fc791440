// src/app/MainForm.h: the main window: inputs, progress, log panel and the commands of the tool.
#pragma once
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/OptionsDialog.h"
#include "common/DateTime.h"
#include "tagging/InputPaths.h"
#include "tagging/RunInputs.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QLabel;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;
class QThread;

namespace zeloro {

class TaggingSession;
class ClickLabel;
class ColorProgressBar;
class DirectoryEdit;
class FilenameEdit;
class ResultsArea;
class SpinEdit;
class WindowObserver;

// What the window takes from its surroundings; each left empty takes the real one.
struct MainOptions {
    // The data folder with a trailing "/", or empty when no database file was found.
    std::function<std::string()> resolveDataFolder;
    // The local date and time from which the zone is preselected.
    std::function<DateTimeValue()> now;
    // Opens a file in the desktop's default application. When no program could open it, failed is called
    // on the window's thread, at once or later, with the reason in German.
    std::function<void(const QString& path, std::function<void(const QString& reason)> failed)> openDocument;
    // Ends the application without a close event ("Beenden", the close picture).
    std::function<void()> endApplication;
};

inline constexpr int kWindowWidth = 640;
inline constexpr int kWindowHeight = 400;
// The window with its results area below the body, from the first run that fills the table on.
inline constexpr int kWindowHeightWithResults = 660;

// Start-up of the application before the window is made: title, fonts, icon.
void InitApplication();

// The one window of the tool. It owns the session (connection, statement, photo and map lists) for
// its whole life. A run executes on a worker thread; while it is in progress the commands that would
// start another run or touch the track table or the map list are disabled.
class Tmain : public QWidget {
    Q_OBJECT
public:
    explicit Tmain(MainOptions options = {});
    ~Tmain() override;
    Tmain(const Tmain&) = delete;
    Tmain& operator=(const Tmain&) = delete;

    [[nodiscard]] TaggingSession& Session() noexcept { return *session_; }
    [[nodiscard]] bool RunInProgress() const noexcept { return worker_ != nullptr; }
    [[nodiscard]] bool FirstRun() const noexcept { return firstrun_; }

    void FormActivate();
    void FormDeactivate();
    void FormClose();
    void Button1Click();  // "Starten"
    void Button2Click();  // "Leeren"
    void Button3Click();  // "Beenden"
    void Button4Click();  // "Maps"
    void Image2Click();   // the close picture
    void Label8Click();   // "Hilfe"
    void StopClick();     // "Abbrechen" and Esc: the run ends after the photos in hand
    void OptionsClick();  // "Optionen": the dialog; its values are saved and reach the next run
    // "Letzten Lauf rückgängig machen" (the log's context menu): takes back the newest recorded run of the
    // data folder on the worker, as a run goes, stoppable as a run is.
    void UndoClick();
    // "GPS-Daten entfernen…" (the log's context menu): after a question that names the photo folder and the
    // number of photos in it, takes the positions out of them on the worker, recorded as a run is.
    void RemoveGpsClick();
    // "Probelauf": a dry run with the window's inputs and options on the worker; its rows fill the table
    // and its plan is kept for "Jetzt schreiben".
    void PreviewClick();
    // "Jetzt schreiben": writes the kept plan as the table showed it, while the inputs and options are
    // still those of the dry run.
    void WritePreviewClick();
    // "Uhr abgleichen…": the clock dialog; its offset goes into the options and a dry run shows the result.
    void ClockClick();
    [[nodiscard]] ResultsArea& Results() const noexcept { return *results_; }

    [[nodiscard]] const WindowRunOptions& RunOptions() const noexcept { return runOptions_; }
    void SetRunOptions(const WindowRunOptions& options);
    // "Protokoll speichern…": the log panel's lines as a UTF-8 text file; false when it cannot be written.
    bool SaveLogTo(const QString& path) const;
    void SaveLogAs();

signals:
    // A run has ended and its outcome (an error report included) has been shown.
    void RunFinished();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void BuildControls();
    void SetRunCommandsEnabled(bool enabled);
    // Connects a session the activations have not connected; false, after the report of the reason, when
    // that fails.
    bool ConnectForRun();
    // Runs work on the worker thread with the window's observer, as "Starten" does.
    void StartWorker(std::function<void(TaggingSession&, WindowObserver&)> work);
    void OnRunFinished();
    // The inputs of the form for a run; nullopt after the box that names a photo folder that is none.
    [[nodiscard]] std::optional<RunInputs> FormInputs();
    // The results area below the body, the link "Uhr abgleichen…" and "Probelauf".
    void BuildResultsControls();
    // Grows the window to show the results area and empties it for a run that fills it.
    // What "Starten" and "Probelauf" run: the form's inputs, once they passed the window's checks (which
    // show their box and give nullopt), and the options' settings; the inputs are remembered when asked.
    struct FormRun {
        RunInputs inputs;
        RunSettings settings;
    };
    std::optional<FormRun> RunFromForm();
    void BeginResults(bool dryRun, const RunSettings& settings);
    // Grows the window to show the results area, once a run has found its photos.
    void ShowResultsArea();
    void StartResultsRun(bool dryRun, const RunSettings& settings,
                         std::function<void(TaggingSession&, WindowObserver&)> work);
    // What the last dry run was made with; "Jetzt schreiben" is offered while the form still holds it.
    struct PreviewKey {
        QString gpx;
        QString folder;
        int zoneIndex = 0;
        int tolerance = 0;
        WindowRunOptions options;
        friend bool operator==(const PreviewKey&, const PreviewKey&) = default;
    };
    [[nodiscard]] PreviewKey FormKey() const;
    void UpdateWriteEnabled();
    void AppendLogLine(const QString& line);
    // Runs one command and shows what it throws in the default error report.
    void Guarded(const std::function<void()>& command);
    void ReportError(const QString& message);
    // Shows the box that names a file no program could open, and why.
    void ReportNotOpened(const QString& path, const QString& reason);
    void OpenDocument(const QString& path);
    // Frames the control that holds the keyboard focus, so it can be seen on the flat window.
    void FrameFocus(QWidget* focused);
    QMetaObject::Connection focusWatch_;

    // While the options set the zone (a zone of their own, or the track's), the zone list shows
    // "(Optionen)" and is disabled; its own choice comes back when they no longer do.
    void ShowZoneOverride(bool overridden);
    [[nodiscard]] bool ZoneOverridden() const;
    void SelectZone(int index);
    // The list's own choice, overridden or not: what a run and the remembered inputs take.
    [[nodiscard]] int ZoneListIndex() const;
    int ownZone_ = 0;
    // "Letzte Eingaben merken": the inputs of the last session at start-up, kept when a run starts and
    // when the window closes.
    void RestoreInputs();
    void KeepInputs() const;
    // A folder dropped onto the window fills the photo folder, a track file the GPX path.
    void AcceptDroppedPaths();
    [[nodiscard]] std::optional<DroppedInputs> DropOf(const QMimeData* dropped) const;
    bool dragTaken_ = false;  // what the drag in progress would give, as its entry found

    MainOptions options_;
    std::unique_ptr<TaggingSession> session_;
    bool firstrun_ = true;
    // A failed connect is retried only at an activation that follows a deactivation the user caused,
    // never at the one that follows closing the report of the failure itself.
    bool connectArmed_ = true;
    bool reportOpen_ = false;
    bool connecting_ = false;
    bool centred_ = false;
    bool closePending_ = false;
    bool quitPending_ = false;  // "Beenden" during a run: stop, then end as "Beenden" does
    QPointer<QWidget> focusBeforeRun_;

    QThread* worker_ = nullptr;
    WindowObserver* observer_ = nullptr;
    std::atomic<bool> stop_{false};
    std::optional<std::string> runError_;  // written by the worker, read after it has been joined
    bool resultsRun_ = false;              // the run in progress fills the results table
    bool previewRun_ = false;              // ... and is a "Probelauf"
    QElapsedTimer runClock_;
    std::optional<PreviewKey> previewKey_;

    ClickLabel* Image1 = nullptr;
    QLabel* Label5 = nullptr;
    ClickLabel* Label8 = nullptr;
    ClickLabel* LabelOptions = nullptr;
    ClickLabel* LabelClock = nullptr;  // "Uhr abgleichen…"
    WindowRunOptions runOptions_;
    ClickLabel* Image2 = nullptr;
    QLabel* Label1 = nullptr;
    FilenameEdit* edGpx = nullptr;
    QLabel* Label2 = nullptr;
    DirectoryEdit* edPictures = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* cbtimezone = nullptr;
    QLabel* Label4 = nullptr;
    SpinEdit* edSec = nullptr;
    QLabel* Label6 = nullptr;
    ColorProgressBar* status = nullptr;
    QLabel* Label7 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* ButtonStop = nullptr;     // "Abbrechen", in the place of "Starten" during a run
    QPushButton* ButtonPreview = nullptr;  // "Probelauf"
    ResultsArea* results_ = nullptr;
    QWidget* focusFrame_ = nullptr;
};

}  // namespace zeloro
