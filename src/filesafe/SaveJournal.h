// src/filesafe/SaveJournal.h: the journal of an in-place rewrite, and the restore of a rewrite a killed
// process left, from its journal.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/FileDescriptor.h"

namespace zeloro {

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
// A journal opened for a repair to act on, and its folder. Only a journal this user's save can have made
// is trusted: a regular file of this user's own, private (0600), with one name. Anyone who may write into
// the folder can put a file of that name there, and its bytes would go into a file of this user's.
struct OwnJournal {
    FileDescriptor folder;
    FileDescriptor journal;
    struct stat status {};
    std::string refusal;  // why it may not be acted on (the system's text, or "not ours"); empty: trusted
};
[[nodiscard]] OwnJournal OpenOwnJournal(const std::string& folderPath, const std::string& journalName);
// The name a journal's own name carries, ".NAME" followed by mark: NAME (the whole name, unless it was too
// long to be kept whole); what a repair names until the journal's content names its file.
[[nodiscard]] std::string NameInJournalName(std::string_view journalName, std::string_view mark);

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

}  // namespace zeloro
