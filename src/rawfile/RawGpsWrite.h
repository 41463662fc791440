// src/rawfile/RawGpsWrite.h: the GPS directory written into a TIFF-based RAW file where it lies, without
// moving a byte of it, and the repair of such a write a killed run left.
#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/Error.h"
#include "filesafe/SaveJournal.h"
#include "metadata/ExifData.h"

namespace zeloro {

// A file whose TIFF structure cannot be trusted (a directory or value past its end, a cut file, a directory
// chain that loops) or is no TIFF at all: nothing was written. The text says why, in German; the caller
// writes a sidecar instead.
// Its text: "Datei <path> wurde nicht in der Datei getaggt: <reason>".
class RawFileRefused : public Error {
public:
    RawFileRefused(const std::string& path, std::string reason)
        : Error("Datei " + path + " wurde nicht in der Datei getaggt: " + reason),
          reason_(std::move(reason)) {}
    [[nodiscard]] const std::string& Reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

// Writes the GPS tags of gps (its GPS section, filled by the same calls that tag a JPEG: the coordinates,
// GPSDateStamp/GPSTimeStamp, the altitude when wanted) into the TIFF-based RAW at path. Every other byte
// stays at its offset: the new GPS directory (tags of an old one that gps does not write are kept; a
// directory made new starts with GPSVersionID 2.3.0.0) goes after the old end of the file, and where IFD0
// has no GPSInfo entry, a copy of IFD0 grown by it (its values left where they lie); then one pointer is
// switched in a single write (IFD0's GPSInfo value, or the one that leads to IFD0). A journal beside the
// file (RawJournalName) is on the disk before the file grows, and goes once the switch is on the disk.
// The file is opened as a photo is (ReadFileForReplacing: through its folder, followLink for a link the
// scan saw, a regular file only) and must still be the file read just before the switch. keepMtime: the
// file keeps its modification time, to the nanosecond.
// Throws RawFileRefused for a damaged file (nothing written), FileSkippedError when the file is no regular
// file, a link the scan did not see, changed since it was read, or a journal of an earlier write is still
// there, FileError/StreamError for a failure of the system (the file is then as it was, or with an
// unreferenced tail the journal names).
// Returns what puts the file back as it was: its old size, and the pointer switched with its old bytes.
struct RawWriteDone {
    std::uint64_t oldSize = 0;
    std::uint64_t pointerOffset = 0;
    std::array<std::uint8_t, 4> oldPointer{};
    timespec oldMtime{};
};
RawWriteDone WriteGpsIntoRaw(const std::string& path, const TCustomExifData& gps, bool followLink,
                             bool keepMtime);

// Takes the tags a run writes (latitude, longitude, altitude, time and date stamp) out of the GPS directory
// of the TIFF-based RAW at path, the same way and under the same journal as WriteGpsIntoRaw: the tags that
// stay go into a new directory after the old end and IFD0's GPSInfo value is switched to it; a directory
// that would keep only its version (or nothing) goes with its pointer: a copy of IFD0 without the GPSInfo
// entry, after the old end, becomes IFD0. Nothing when IFD0 has no GPS directory or it holds none of the
// tags. dryRun: the file is only read. Throws as WriteGpsIntoRaw does.
std::optional<RawWriteDone> RemoveGpsFromRaw(const std::string& path, bool followLink, bool keepMtime,
                                             bool dryRun);

// The journal of a RAW write to the file named fileName, in the same folder: ".<stem>.zeloro-raw-gps" (stem
// as SaveNameStem gives it); no folder scan takes it for a photo, a temporary file or an in-place journal.
[[nodiscard]] std::string RawJournalName(const std::string& fileName);
// True for such a name.
[[nodiscard]] bool IsRawJournalName(std::string_view name) noexcept;

// Acts on a journal a killed RAW write left, under the trust rules of UndoInterruptedSave: the journal is
// the running user's, private (0600), has one name and the size its head gives; the name it is for is a
// photo of the scan, of the kind the journal says, with the journal's device, inode and owner; the folder
// lets the journal be removed. Then: a file whose pointer was switched keeps its new content (finished);
// one whose pointer still holds its old value is cut back to its old size and given back its time
// (restored); anything else (the file changed since) stays as it is, and so does the journal (reason).
UndoneSave RecoverRawWrite(const std::string& journalPath,
                           const std::function<ScannedAs(const std::string& path)>& scanned);

// Steps of WriteGpsIntoRaw after which a test can make the write fail (an errno value) or end the process
// as a kill would: the journal named, the tail appended and synced, the pointer switched and synced, the
// modification time given back.
enum class RawWriteStep : std::uint8_t { journal, append, switchPointer, times };
// Test seam: asked after each step; a non-zero result makes that step fail as if its system call had.
// Not for production use; not thread-safe.
using RawWriteHook = std::function<int(RawWriteStep)>;
void SetRawWriteHook(RawWriteHook hook);

}  // namespace zeloro
