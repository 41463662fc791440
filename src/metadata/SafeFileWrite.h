// src/metadata/SafeFileWrite.h: replaces a file's content so that no failure leaves it half-written.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Error.h"
#include "common/FileDescriptor.h"

namespace zeloro {

// Writes the bytes to a new temporary file in the target's folder, writes it out fully and closes it
// (checking every result), gives it the target's permission bits (and, where allowed, its owner), and
// renames it over the target. A symbolic link is followed: the file it points to is replaced. On any
// failure the target stays as it was and the temporary file is removed. Errors: FileError "Datei %s kann
// nicht erstellt werden. %s" (path and the system's text) when the temporary file cannot be made, given the
// permission bits or renamed; StreamError "Stream-Schreibfehler" when writing, syncing or closing it fails
// (e.g. a full disk); FileError "Die Datei %s ist schreibgeschützt und wird nicht geändert." when the
// target exists and the user may not write it (for root: it has no write bit), before anything is written.
// With durable set the temporary file is also synced to the disk before the rename; a tagging run
// leaves it unset, since one disk sync per photo would cost more than the whole rewrite.
void WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes, bool durable = false);
// The same for content given in pieces that are written one after the other (a rewritten head and the
// untouched rest of a photo), so the content need not be joined in memory first.
void WriteFileReplacing(const std::string& path, std::span<const std::span<const std::uint8_t>> parts,
                        bool durable = false);

// A photo read for a later replacement. It is opened relative to its folder, which stays open, without
// following a link in its last name (a link that was the scanned entry itself is resolved once, to the
// regular file it names, and that file's folder and name are held instead), and without blocking (a FIFO
// swapped in never hangs the read). Only a regular file is read. Its identity (device, inode, size,
// modification time) is taken from the open descriptor, so it belongs to exactly the bytes read.
struct ReadFile {
    std::string path;         // as given, for messages
    FileDescriptor folder;    // the folder that holds the file
    std::string name;         // the file's name in that folder
    FileDescriptor file;      // the file as read (its extended attributes are carried from here)
    struct stat identity {};  // as read
    std::vector<std::uint8_t> bytes;
    bool throughLink = false;   // reached by following the scanned entry, a symbolic link
    FileDescriptor linkFolder;  // then: the folder that holds that link
    std::string linkName;       // and the link's name in it
};

// Reads the file at path as described above. followLink: a symbolic link as the last name is followed
// (once, to a regular file); otherwise it is skipped (FileSkippedError), and so is anything but a regular
// file, and a file written to while it is read. Throws FileError "Datei %s kann nicht geöffnet
// werden. %s" (path and cause) for a file that cannot be opened, and StreamError
// "Stream-Lesefehler: <cause>" when reading fails.
ReadFile ReadFileForReplacing(const std::string& path, bool followLink);

// Thrown when a read file is not replaced, because keeping it as it is is the only safe choice; the run
// reports it and goes on with the next photo. The file and every other file stay untouched.
// Its text: "Datei <path> wurde nicht gespeichert: <reason>".
class FileSkippedError : public FileError {
public:
    FileSkippedError(const std::string& path, std::string reason)
        : FileError("Datei " + path + " wurde nicht gespeichert: " + reason), reason_(std::move(reason)) {}
    [[nodiscard]] const std::string& Reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

// Replaces a file read by ReadFileForReplacing with the parts, in its folder, by the folder handle: the new
// content goes to an unnamed temporary file (so a killed process leaves nothing behind; only where the
// file system has none, to a hidden named one), which gets the original's owner where allowed, permission
// bits and extended attributes (ACLs included), is named and renamed over the original. Just before the
// rename the name must still lead, without a link, to the file read with its size and modification time
// unchanged; else FileSkippedError "Datei %s wurde nicht gespeichert: sie wurde nach dem Lesen verändert".
// A file with more than one hard link is not replaced but rewritten in place, so that every name sees the
// new content: its original bytes, the new ones and its identity first go to a journal next to it
// (SaveJournalName), synced to the disk before the file is touched; then the file is written through a second
// descriptor on the very inode read, cut to the new size and synced, and the journal is removed. A failure on
// the way puts the original bytes back and removes the journal; a process killed on the way leaves the
// journal, from which the next run restores the file (UndoInterruptedSave) before it does anything else. A
// file reached through a symbolic link is rewritten the same way, its journal beside the link (the folder the
// run scanned) rather than beside the file; the link must then also still lead to the file read. It is
// skipped (FileSkippedError "... sie hat mehrere harte Verknüpfungen", with the cause) when it cannot be
// opened for writing, or a journal of an earlier save is still there. A file the user may not write is
// refused first, as by WriteFileReplacing. Other failures as WriteFileReplacing, a FileError with the path, a
// StreamError "Stream-Schreibfehler: <cause>" (the caller knows which photo it was); the original stays. With
// keepMtime the new file gets the modification time read, to the nanosecond, before it is named.
void ReplaceReadFile(const ReadFile& file, std::span<const std::span<const std::uint8_t>> parts,
                     bool durable = false, bool keepMtime = false);

// The part of a file's name that the names of its temporary files and journal carry: the name itself, or
// for a name too long to leave room for ".zeloro-journal" within the file system's 255 bytes, its
// beginning (whole characters) and "~" with a hash of the whole name, so that any photo name can be saved.
[[nodiscard]] std::string SaveNameStem(const std::string& fileName);

// The journal of an in-place rewrite of the file named fileName, in the same folder:
// ".<stem>.zeloro-journal", which no folder scan takes for a photo or for a stale temporary file. The
// journal holds the file's full name.
[[nodiscard]] std::string SaveJournalName(const std::string& fileName);
// True for such a name.
[[nodiscard]] bool IsSaveJournalName(std::string_view name) noexcept;

// How the run's scan saw the name a journal is for: no photo it listed, a photo file it listed, or a
// photo it listed as a symbolic link the folder held.
enum class ScannedAs : std::uint8_t { other, photo, photoLink };

// What UndoInterruptedSave did with a journal: put the original back, found the rewrite finished (the
// journal went, nothing was written), or left both as they are because acting on them was not safe (why,
// in German).
struct UndoneSave {
    std::string path;  // the name the journal is for (the file, or the link to it), in its folder
    bool restored = false;
    bool finished = false;
    std::string reason;
};
// Acts on a journal a killed in-place rewrite left, only where that rewrite can have been ours: the
// journal belongs to the running user, is private (0600) and has one name, its size agrees with what its
// head says (checked before the rest is read), and the name it is for is a photo the scan listed, as the
// kind of entry the journal says (a file, or a link the folder held, followed to a regular file), with
// the journal's device and inode and more than one hard link; and the folder lets the journal be removed
// afterwards. Then the file must hold what an interrupted rewrite or an interrupted restore can leave: the
// new content, the original, or the new content's beginning over the original, with the original's
// beginning put back over that. The new content whole is a rewrite that finished (the journal goes);
// anything else but the original gets the original bytes and modification time back, in place; then the
// journal goes. In every other case the file and the journal stay as they are, and the reason says why.
UndoneSave UndoInterruptedSave(const std::string& journalPath,
                               const std::function<ScannedAs(const std::string& path)>& scanned);

// Steps of WriteFileReplacing and ReplaceReadFile at which a test can inject a failure; "check" comes just
// before the identity check of ReplaceReadFile, where a test can also change the folder under the save.
enum class SafeWriteStep : std::uint8_t {
    create,
    write,
    sync,
    close,
    permissions,
    rename,
    attributes,
    times,
    check,
    journal,  // a file with several links: just before its journal gets its name
    rewrite   // a file with several links: before each part written in place (and each part put back)
};
// Test seam: when set, it is asked before each step; a non-zero result (an errno value) makes that
// step fail as if the system call had failed with it. Not for production use; not thread-safe.
using SafeWriteFaultHook = std::function<int(SafeWriteStep)>;
void SetSafeWriteFaultHook(SafeWriteFaultHook hook);

}  // namespace zeloro
