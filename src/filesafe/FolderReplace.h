// src/filesafe/FolderReplace.h: a file read through its folder's handle and replaced through it, only if
// it is still the file read.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/Error.h"
#include "common/FileDescriptor.h"

namespace zeloro {

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
// The same, without reading the content (bytes stays empty): for a writer that reads only the parts of a
// large file it needs.
ReadFile OpenFileForReplacing(const std::string& path, bool followLink);
// The rest of ReadFileForReplacing on a file so opened, when its every byte is wanted after all (the file
// opened to tell its kind turns out to be a JPEG).
void ReadAllBytes(ReadFile& file);

// Creates the file at path with the bytes and the permission bits of mode, through its folder's handle:
// written to an unnamed temporary file that takes the name only while no file has it, so nothing that
// appeared there in the meantime is written over or through (FileSkippedError "... eine Datei dieses Namens
// ist nach dem Durchsuchen des Ordners entstanden"). Other failures as ReplaceReadFile; nothing is left.
void WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes, mode_t mode);

// A second descriptor, for writing, on the very file opened (not its name looked up again). A file the user
// may not write is refused first, as by ReplaceReadFile: FileError "Die Datei %s ist schreibgeschützt und
// wird nicht geändert."; one that cannot be opened: FileError "Datei %s kann nicht geöffnet werden. %s".
[[nodiscard]] FileDescriptor OpenReadFileForWriting(const ReadFile& file);

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
// The same, the new content getting the modification time mtime (to the nanosecond): a photo put back as it
// was gets its own time back, not the time of the content it replaces.
void ReplaceReadFile(const ReadFile& file, std::span<const std::span<const std::uint8_t>> parts, bool durable,
                     const timespec& mtime);

}  // namespace zeloro
