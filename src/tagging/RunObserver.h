// src/tagging/RunObserver.h: what a tagging run reports to its front end (window or command line): the
// observer, each photo's outcome, and how the run ended.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/DateTime.h"
#include "common/LogSink.h"
#include "places/PlaceIndex.h"
#include "tagging/RunInputs.h"

namespace zeloro {

enum class PhotoStatus { tagged, noMatch, skipped, failed };

// One handled photo, as a script wants to see it. In a dry run "tagged" means it would have been.
struct PhotoReport {
    std::string path;
    PhotoStatus status = PhotoStatus::noMatch;
    std::string lat;  // the track table's texts; empty unless tagged
    std::string lon;
    DateTimeValue utcTime = 0;  // the track point's UTC time; 0 unless tagged
    std::string message;        // the log message without stamp, or the error's text
    std::string reason;         // why no point was found, when the run explains misses; else empty
    // The names of the position (each part empty where the data has none); only with --places, when tagged.
    std::optional<PlaceNames> place;
    // The zone the shot time was read in, when it came from the track (--zone auto); else empty.
    std::string zone;
    DateTimeValue shotTime =
        0;  // the camera clock's shot time as the photo (or its sidecar) holds it; 0: none
    DateTimeValue shotUtc = 0;  // that time in UTC as the run took it
    // The zone it was read in, as a person reads it: "UTC + 2:00", "Europe/Berlin", "+05:30".
    std::string zoneText;
    // Tagged: |track point UTC - shotUtc| rounded to whole seconds (interpolated: 0).
    std::optional<long long> distanceSeconds;
    std::uint64_t fileSize = 0;  // the file's identity when the run read it: its size
    std::int64_t mtimeNs = 0;    // and modification time in ns since the epoch
    // Written from a preview, but the photo had changed since and was matched again.
    bool rematched = false;
};

enum class RunResult {
    done,          // every photo was handled
    inputMissing,  // an input check failed; its error box has been shown
    importFailed,  // the import caught an error and logged it; no photo was touched
    stopped,       // the front end asked to stop between photos
    busy,          // a run was already in progress on this session; this start was ignored
};

// Calls arrive on the thread that runs the tagging run; a window marshals them to its own thread.
class RunObserver : public LogSink {
public:
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // A modal error box (caption "Fehler") for the input checks; the run waits until it returns.
    virtual void ShowError(const std::string& text) = 0;
    // One pass of the front end's event loop, made once during the import.
    virtual void ProcessMessages() {}
    // Polled between photos, before each photo's lines are given: true ends the run there; the photos
    // whose lines were given are done, no later photo is written.
    [[nodiscard]] virtual bool StopRequested() { return false; }
    // Once per photo the loop reached, after its log lines; failed comes before the error leaves the run.
    virtual void PhotoHandled(const PhotoReport& /*report*/) {}
    // Once when the run ends because a stop was asked for, just after its log line, which is message
    // ("Lauf abgebrochen: <done> von <total> Bildern bearbeitet."); for a front end that does not show the
    // log lines.
    virtual void RunStopped(std::size_t /*done*/, std::size_t /*total*/, const std::string& /*message*/) {}
    // Once when an import failed at a point, after its log lines: "PATH: trkpt Nr. N (...): REASON" (see
    // importGpx); for a front end that reports why beside the log, which only says that it failed.
    virtual void ImportFailed(const std::string& /*reason*/) {}
    // A notice of an opt-in setting that is no log line (the files of other kinds an --all-photos scan
    // passed over): the command line prints it on its error stream, the window puts it into its log.
    virtual void Notice(const std::string& /*text*/) {}
};

}  // namespace zeloro
