// src/filesafe/SafeFileWrite.h: replaces a file's content by its path so that no failure leaves it
// half-written; the names its temporary files carry, and the seam where a test makes a step fail.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>

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

// The part of a file's name that the names of its temporary files and journal carry: the name itself, or
// for a name too long to leave room for ".zeloro-journal" within the file system's 255 bytes, its
// beginning (whole characters) and "~" with a hash of the whole name, so that any photo name can be saved.
[[nodiscard]] std::string SaveNameStem(const std::string& fileName);

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
