// src/tagging/TaggingRun.h: the tagging run ("Starten") and the photo and map lists it fills.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/Currency.h"
#include "common/DateTime.h"
#include "tagging/PhotoKinds.h"
#include "tagging/PreviewPlan.h"
#include "tagging/RunInputs.h"
#include "tagging/RunObserver.h"
#include "tagging/RunRecord.h"

namespace zeloro {

// The camera's shot time of a tagged photo and the zone list item the run took it in; one per map entry.
struct MapShot {
    DateTimeValue shot = 0;  // the local time the photo was taken at, as the camera's zone reads it
    std::string zone;        // that zone as the popup names it ("UTC + 2:00"); empty: none named
    std::string path = {};   // a JPEG's path, whose EXIF thumbnail the popup may show; empty: none
    std::string place = {};  // with --places: what the popup names the spot ("Köln, Deutschland")
};

class Connection;
class Query;
struct RawWriteDone;
struct PreparedPhoto;  // what the run knows of a photo before its lines are given

inline constexpr const char* kNoGpxFileMessage = "Bitte geben Sie eine gpx-Datei an!";
inline constexpr const char* kNoPhotoFolderMessage = "Bitte geben Sie einen Ordner mit jpg-Dateien an!";
inline constexpr const char* kLogReadingPhotos = " - Lese Bilddateien";
inline constexpr const char* kLogPhotosFound = " Bilder im Verzeichnis gefunden";
inline constexpr const char* kLogCoordinatesFound = " Koordinaten gefunden:";
inline constexpr const char* kLogTagged = " getaggt!";
inline constexpr const char* kLogNoCoordinates = " keine Koordinaten gefunden";
inline constexpr const char* kLogDryRunTagged = " würde getaggt (Probelauf)";
inline constexpr const char* kLogSkippedTagged = " hat bereits eine GPS-Position, übersprungen";
// After the photo's name: why it was left as it was (FileSkippedError::Reason).
inline constexpr const char* kLogNotSaved = " nicht gespeichert: ";
inline constexpr const char* kLogStaleTemporaryRemoved =
    ": temporäre Datei eines abgebrochenen Laufs entfernt";
// Around a photo's path: a killed run's in-place save of it was undone from its journal, or could not be.
inline constexpr const char* kLogSaveUndoneBefore = " - Unterbrochene Änderung an ";
inline constexpr const char* kLogSaveUndone = " rückgängig gemacht.";
// The save had written all of the new content when it was stopped: the photo keeps it, the journal went.
inline constexpr const char* kLogSaveFinished = " war bereits abgeschlossen; das Journal ist entfernt.";
inline constexpr const char* kLogSaveNotUndone = " nicht rückgängig gemacht: ";
inline constexpr const char* kLogSaveJournalKept = "; das Journal bleibt: ";
inline constexpr const char* kLogFolderUnreadable = ": Verzeichnis kann nicht gelesen werden";
inline constexpr const char* kPhotoMask = "*.jpg";
// The removal of positions ("GPS-Daten entfernen"), after the photo's name; and its closing line.
inline constexpr const char* kLogGpsRemoved = ": GPS-Position entfernt";
inline constexpr const char* kLogGpsWouldBeRemoved = ": GPS-Position würde entfernt (Probelauf)";
inline constexpr const char* kLogNoGps = " hat keine GPS-Position";
// A photo of another kind: its sidecar lost the position ("IMG_1.dng: GPS-Position entfernt aus
// IMG_1.dng.xmp"), or it has no sidecar with one.
inline constexpr const char* kLogGpsRemovedFromSidecar = ": GPS-Position entfernt aus ";
inline constexpr const char* kLogNoGpsInSidecar = " hat keine Begleitdatei mit GPS-Position";

// What a removal of positions did.
struct RemovalSummary {
    RunResult result = RunResult::done;
    std::size_t removed = 0;  // in a dry run: would be
    std::size_t withoutGps = 0;
    std::size_t failed = 0;
    std::vector<std::string> removedPaths;
};
// "GPS-Position aus 3 Bildern entfernt, 1 ohne GPS-Position, 0 fehlgeschlagen".
[[nodiscard]] std::string RemovalSummaryText(const RemovalSummary& summary, bool dryRun);
// The map page's line after a removal: "GPS-Daten entfernt: 3 Fotos", a dry run's prefixed with
// "Probelauf, nichts geändert: ".
[[nodiscard]] std::string RemovalPageNotice(const RemovalSummary& summary, bool dryRun);

// Runs "Starten" and owns what a run leaves behind: the photo list and the map list with the shot of each
// entry, kept from one run to the next until the next run or "Leeren". The connection and its statement
// are lent by the session for as long as this object lives; the lookups of a run share the statement.
class TaggingRun {
public:
    TaggingRun(Connection& connection, Query& query) noexcept : connection_(connection), query_(query) {}
    TaggingRun(const TaggingRun&) = delete;
    TaggingRun& operator=(const TaggingRun&) = delete;

    // Checks the inputs, scans the folder, imports the GPX file and tags every photo it finds a track
    // point for. An empty GPX path or folder shows its error through the observer and changes nothing
    // else. Any other failure (a GPX file that cannot be loaded, a photo that cannot be read or saved, a
    // database or number conversion error) leaves as an exception; the log lines, saved photos and map
    // entries written before it stay, and the progress keeps its position. The settings are opt-in: at
    // their defaults the run is exactly the one above; an empty path among settings.moreGpxPaths counts
    // as a missing GPX file, and the first import that fails ends the run before the next file.
    RunResult Run(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings = {});

    // Run as a dry run (inputs.modes.dryRun forced on) that also fills plan with each photo's outcome, so
    // that WritePlan can write it as shown. The plan is complete only when the run ends done.
    RunResult Preview(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings,
                      PreviewPlan& plan);
    // Writes a preview's plan: the run of its inputs and settings (dryRun off) without the import, in which
    // a photo whose size and modification time are those the preview read gets the planned outcome without
    // a lookup, and any other photo of the folder is matched against the track table as it is now
    // (PhotoReport::rematched). A planned photo that is gone is logged and reported failed
    // (kPlannedPhotoGone) before the photos are matched.
    RunResult WritePlan(const PreviewPlan& plan, RunObserver& observer);

    // Takes the position out of every JPEG photo of the folder (with settings.allPhotos out of the sidecars
    // of the other kinds too; a RAW's own GPS directory stays): the tags a run writes (latitude, longitude,
    // their references, GPS date and time stamp, altitude and its reference) and, when no other GPS tag is
    // left, GPSVersionID, the GPS directory and its pointer; every other GPS tag stays, and so does every
    // other byte of the photo's EXIF block. The XMP exif:GPS properties of the photo go as well. Saved as a
    // run saves (dry run and keepMtime as there; keepGoing goes on over a photo that cannot be read).
    // Changes() gives what puts each photo back.
    RemovalSummary RemoveGps(const std::string& folderText, RunObserver& observer, const RunModes& modes,
                             const RunSettings& settings);

    // The photo paths of the last run, in scan order.
    [[nodiscard]] const std::vector<std::string>& Photos() const noexcept { return photos_; }
    // "lat|lon|file name" per photo the last run tagged, in tagging order.
    [[nodiscard]] const std::vector<std::string>& MapEntries() const noexcept { return mapEntries_; }
    // The shot of each map entry, for the map page's popups.
    [[nodiscard]] const std::vector<MapShot>& MapShots() const noexcept { return mapShots_; }
    void ClearMapEntries() noexcept {
        mapEntries_.clear();
        mapShots_.clear();
    }
    // The files the last run wrote, each with what puts it back (empty after a dry run), for its record.
    [[nodiscard]] const std::vector<RecordedFile>& Changes() const noexcept { return changes_; }

private:
    RunResult RunWith(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings,
                      PreviewPlan* keep, const PreviewPlan* written);
    bool CommitPhoto(PreparedPhoto& photo, const std::string& path, const std::string& folder,
                     const RunInputs& inputs, const RunSettings& settings, RunObserver& observer);
    bool SaveOtherKind(PreparedPhoto& photo, const std::string& path, const std::string& shownName,
                       const RunInputs& inputs, const RunSettings& settings, RunObserver& observer);

    void RecordRawWrite(const std::string& path, bool throughLink, const RawWriteDone& done);

    Connection& connection_;
    Query& query_;
    std::vector<std::string> photos_;
    std::vector<std::string> mapEntries_;
    std::vector<MapShot> mapShots_;  // parallel to mapEntries_
    SidecarPlan sidecars_;           // of the last run's photos
    std::vector<RecordedFile> changes_;
    std::string lastZoneName_;  // the zone from the track the log named last in this run
};

// One coordinate as the EXIF GPS rationals take it: whole degrees and minutes over 1, the seconds as a
// currency value (four decimals, ties to even).
struct DmsParts {
    std::uint32_t degrees = 0;
    std::uint32_t minutes = 0;
    Currency seconds;
    friend bool operator==(const DmsParts&, const DmsParts&) = default;
};

// Rounds degrees and minutes to whole numbers and the seconds to a currency value. Throws RangeError
// ("Fehler bei Bereichsprüfung") when degrees or minutes do not fit an unsigned 32-bit numerator, and
// when the seconds do not fit the currency range.
[[nodiscard]] DmsParts ToDmsParts(long double degrees, long double minutes, long double seconds);

// The notice of the files an --all-photos scan passed over: "3 Dateien in anderen Formaten übersprungen".
[[nodiscard]] std::string OtherFilesNotice(std::size_t count);

// How many photos a run on the folder would find (every kind with allPhotos), for a question before it.
[[nodiscard]] std::size_t CountPhotos(const std::string& folder, bool allPhotos);

// The last component of a photo path, the name the log and the map entry use.
[[nodiscard]] std::string PhotoFileName(const std::string& path);

// The whole content of a photo file in one read (ReadFileForReplacing, a link followed). Throws FileError
// "Datei %s kann nicht geöffnet werden. %s" (path, system text) when the file cannot be opened,
// StreamError "Stream-Lesefehler: <cause>" when reading fails, FileSkippedError for anything but a
// regular file and for a file written to while it is read.
[[nodiscard]] std::vector<std::uint8_t> ReadPhotoFile(const std::string& path);

}  // namespace zeloro
