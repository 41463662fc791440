// src/tagging/TaggingSession.h: the long-lived state a front end owns (connection, statement, photo and
// map lists) and the commands that work on it, so that the window and the command line stay thin.
#pragma once
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "mapexport/MapPage.h"
#include "tagging/PreviewPlan.h"
#include "tagging/RunInputs.h"
#include "tagging/RunObserver.h"
#include "tagging/RunUndo.h"
#include "tagging/TaggingRun.h"

namespace zeloro {

class Connection;
class DataFolderLock;
class Query;

class TaggingSession {
public:
    // dataFolder: as resolved at start-up, with a trailing "/", or empty when no database was found.
    explicit TaggingSession(std::string dataFolder);
    ~TaggingSession();
    TaggingSession(const TaggingSession&) = delete;
    TaggingSession& operator=(const TaggingSession&) = delete;

    [[nodiscard]] const std::string& DataFolder() const noexcept { return dataFolder_; }

    // Opens DataFolder() + "zeloro.sqlite"; throws DatabaseError with SQLite's text, or naming the file
    // and the reason when it exists but cannot be written, and stays closed. Once open, takes hold of the
    // data folder for as long as this session lives (DataFolderLock; throws DataFolderBusyError and closes
    // again while another process holds it) and deletes track points a process that died left behind (all
    // of them, unless the last process kept them on purpose: KeepTrackTable). Without a data folder it
    // throws DatabaseError kDatabaseNotFoundMessage and opens nothing.
    void Connect();
    // The number of points Connect deleted as left behind by a process that died.
    [[nodiscard]] long long StaleRowsDeleted() const noexcept { return staleRowsDeleted_; }
    // Marks the table's points as kept on purpose, for the next process on this data folder; the mark
    // goes as soon as a run imports into the table or the table is emptied.
    void KeepTrackTable();
    [[nodiscard]] bool Connected() const noexcept;
    // Closes the connection; an open transaction is rolled back.
    void Disconnect() noexcept;

    // "Starten". Errors the run does not catch propagate (zeloro::Error and the standard exceptions);
    // what was done before them stays done. The settings are opt-in; their defaults change nothing.
    RunResult Run(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings = {});

    // "Probelauf": Run with inputs.modes.dryRun forced on, the same log as a dry run; keeps its outcome as
    // the plan (replacing an earlier one).
    RunResult Preview(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings = {});
    // The plan of the last preview; nullptr when there is none.
    [[nodiscard]] const PreviewPlan* LastPreview() const noexcept { return plan_.get(); }
    // "Jetzt schreiben": writes each planned photo whose identity (size, modification time) is unchanged
    // with exactly the planned position, without importing the track and without a lookup; a photo that
    // changed (or is new in the folder) is matched again against the track table as it is now and
    // reported with rematched; a planned photo that is gone is reported failed. Log, progress, map list
    // and record as a normal run that tagged the same photos (dryRun off, the other modes the preview's).
    // The plan is used up. Without a plan: ShowError(kNoPreviewMessage) and inputMissing. Busy while a
    // run is in progress.
    RunResult WritePreview(RunObserver& observer);

    // "GPS-Daten entfernen…": TaggingRun::RemoveGps on the folder, recorded as a run is, so an undo takes it
    // back. Busy (result) while a run is in progress.
    RemovalSummary RemoveGps(const std::string& folder, RunObserver& observer, const RunModes& modes,
                             const RunSettings& settings = {});

    // Takes back the newest recorded run of the data folder (UndoNewestRun); a run that wrote files leaves
    // its record there, as the newest. An undo while a run is in progress does nothing (stopped, not found).
    UndoSummary UndoLastRun(RunObserver& observer, bool dryRun);

    [[nodiscard]] const std::vector<std::string>& Photos() const noexcept { return run_.Photos(); }
    [[nodiscard]] const std::vector<std::string>& MapEntries() const noexcept { return run_.MapEntries(); }
    [[nodiscard]] const std::vector<MapShot>& MapShots() const noexcept { return run_.MapShots(); }
    void ClearMapEntries() noexcept {
        run_.ClearMapEntries();
        plan_.reset();
    }

    // Empties the track table; false when any step failed (nothing is reported) or a run is in progress.
    bool clearDatabase();

    // "Maps": writes DataFolder() + "maps/index.html" from the map list and returns its path; nullopt
    // when the map list is empty (the caller shows "Keine aktuellen Geodaten vorhanden!"). The page is
    // the OpenStreetMap page of MapPageContent(), or, when the user configured a Google Maps key
    // (ConfiguredGoogleMapsKey), the Google page carrying it. Throws ConvertError for a coordinate that
    // is no number and FileError when the page cannot be written; no page is written then.
    [[nodiscard]] std::optional<std::string> WriteMapPage();
    // The map page after an undo or a removal: no marker, the track table's lines, and the notice above
    // the map (UndoPageNotice, RemovalPageNotice); returns its path. Throws FileError when the page cannot
    // be written.
    [[nodiscard]] std::string WriteNoticeMapPage(const std::string& notice);

    // The photos of the map list with their shot times, and the track table's points in time order as
    // lines: a pause of more than kTrackGapSeconds starts a new line, points whose coordinates are no
    // number are left out, and a table that cannot be read gives no line. Throws ConvertError
    // "'<text>' ist kein gültiger Gleitkommawert" for a map entry's coordinate that is no finite number.
    [[nodiscard]] MapContent MapPageContent();
    static constexpr double kTrackGapSeconds = 15 * 60;

    [[nodiscard]] Connection& connection();
    [[nodiscard]] Query& query();

private:
    void DeleteStaleTrackRows();
    void KeepRecord(RunRecord& record, RunObserver& observer);
    // The EXIF thumbnails of the page's photos into maps/thumbs, their numbers into content; false when
    // they could not be written (the folder then holds none).
    bool writeThumbnails(MapContent& content) const;

    std::string dataFolder_;
    std::unique_ptr<DataFolderLock> lock_;
    long long staleRowsDeleted_ = 0;
    std::unique_ptr<Connection> uniCon_;
    std::unique_ptr<Query> query_;
    std::unique_ptr<PreviewPlan> plan_;  // of the last preview, until it is written or dropped
    TaggingRun run_;  // the photo and map lists of the last run; borrows the connection and statement
    // Guards against a start from inside the import's event-loop pass or from another thread.
    std::atomic<bool> running_{false};
};

// Before the reason a run's record could not be written (a notice: the run itself is done).
inline constexpr const char* kRecordNotStored =
    "Der Lauf konnte nicht zum Rückgängigmachen aufgezeichnet werden: ";

inline constexpr const char* kNoMapDataMessage = "Keine aktuellen Geodaten vorhanden!";

}  // namespace zeloro
