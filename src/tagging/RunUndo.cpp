// src/tagging/RunUndo.cpp: taking back the newest recorded run, file by file.
#include "tagging/RunUndo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <set>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/ReasonText.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/SafeFileWrite.h"
#include "filesafe/SaveJournal.h"
#include "tagging/FolderScan.h"
#include "tagging/TaggingRun.h"

namespace zeloro {
namespace {

enum class FileState : std::uint8_t { asLeft, asBefore, changed };

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        throw FileError("Datei " + path + " kann nicht geöffnet werden. " + ReasonText(errno));
    }
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 65536> buffer{};
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw StreamError(std::string("Stream-Lesefehler: ") + ReasonText(errno));
        }
        if (got == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
    }
}

bool SameTime(const timespec& a, const timespec& b) noexcept {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FileState StateOf(const RecordedFile& recorded, const ReadFile& file) {
    const auto size = static_cast<std::uint64_t>(file.identity.st_size);
    const std::uint64_t hash = ContentHash::Of(file.bytes);
    if (size == recorded.newSize && SameTime(file.identity.st_mtim, recorded.newMtime) &&
        hash == recorded.newHash) {
        return FileState::asLeft;
    }
    if (!recorded.created && size == recorded.oldSize && hash == recorded.oldHash) {
        return FileState::asBefore;
    }
    return FileState::changed;
}

// A rewrite in place that a killed process left on this file (a run's or an undo's) is acted on first,
// under the trust rules of the run's own recovery; a journal that is not trusted keeps the file as it is.
void RecoverInterruptedSave(const RecordedFile& recorded, bool dryRun) {
    const std::size_t slash = recorded.path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : recorded.path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? recorded.path : recorded.path.substr(slash + 1);
    const std::string journal = folder + SaveJournalName(name);
    struct stat info {};
    if (dryRun || ::lstat(journal.c_str(), &info) != 0) {
        return;
    }
    const UndoneSave undone = UndoInterruptedSave(journal, [&recorded](const std::string& path) {
        if (path != recorded.path) {
            return ScannedAs::other;
        }
        return recorded.throughLink ? ScannedAs::photoLink : ScannedAs::photo;
    });
    if (!undone.restored && !undone.finished) {
        throw FileSkippedError(recorded.path, undone.reason + "; das Journal bleibt: " + journal);
    }
}

// Puts one file back; what happened, for the log and the summary.
FileState UndoFile(const RecordedFile& recorded, bool dryRun) {
    struct stat entry {};
    if (::lstat(recorded.path.c_str(), &entry) != 0 && errno == ENOENT) {
        return FileState::changed;
    }
    RecoverInterruptedSave(recorded, dryRun);
    const ReadFile file = ReadFileForReplacing(recorded.path, recorded.throughLink);
    const FileState state = StateOf(recorded, file);
    if (state != FileState::asLeft || dryRun) {
        return state;
    }
    if (recorded.created) {
        // Only the very file the run made goes, and only while its name still leads to it.
        struct stat now {};
        if (::fstatat(file.folder.get(), file.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            now.st_dev != file.identity.st_dev || now.st_ino != file.identity.st_ino ||
            ::unlinkat(file.folder.get(), file.name.c_str(), 0) != 0) {
            return FileState::changed;
        }
        return FileState::asLeft;
    }
    const std::vector<std::uint8_t> former = RebuildFormer(recorded, file.bytes);
    const std::array<std::span<const std::uint8_t>, 1> parts{std::span<const std::uint8_t>(former)};
    ReplaceReadFile(file, parts, true, recorded.oldMtime);
    return FileState::asLeft;
}

// A save of this undo or of the run that a kill cut short can leave its named temporary file beside the
// file; the folders of the record are cleared of those as a run's scan clears its folder.
void RemoveStaleTemporaries(const RunRecord& record, RunObserver& observer) {
    std::set<std::string> folders;
    for (const RecordedFile& file : record.files) {
        const std::size_t slash = file.path.rfind('/');
        folders.insert(slash == std::string::npos ? std::string("./") : file.path.substr(0, slash + 1));
    }
    for (const std::string& folder : folders) {
        std::vector<std::string> files;
        ScanFindings findings;
        FindFilesRecursive(folder, "*", files, false, &findings);
        for (const std::string& temporary : findings.staleTemporaries) {
            if (::unlink(temporary.c_str()) == 0) {
                LogLine(observer, " - " + LogSafeText(temporary) + kLogStaleTemporaryRemoved);
            }
        }
    }
}

}  // namespace

UndoSummary UndoNewestRun(const std::string& dataFolder, RunObserver& observer, bool dryRun) {
    UndoSummary summary;
    const std::optional<std::string> recordPath = NewestRunRecord(dataFolder);
    if (!recordPath) {
        LogLine(observer, kLogNoRunToUndo);
        return summary;
    }
    const RunRecord record = DecodeRunRecord(ReadWhole(*recordPath));
    summary.found = true;
    summary.kind = record.kind;
    summary.files = record.files.size();
    LogLine(observer, (record.kind == RunRecord::Kind::removal ? kLogRemovalUndoStart : kLogUndoStart) +
                          LogSafeText(record.folder));
    if (!dryRun) {
        RemoveStaleTemporaries(record, observer);
    }
    observer.SetProgressMax(static_cast<int>(std::min<std::size_t>(record.files.size(), 1U << 30U)));
    int position = 0;
    // Newest change first: a file the run wrote twice gets back the content between, then the first.
    for (auto it = record.files.rbegin(); it != record.files.rend(); ++it) {
        if (observer.StopRequested()) {
            summary.stopped = true;
            break;
        }
        const RecordedFile& recorded = *it;
        const std::string shown = LogSafeText(recorded.path);
        try {
            switch (UndoFile(recorded, dryRun)) {
                case FileState::asLeft:
                    ++summary.restored;
                    summary.restoredPaths.push_back(recorded.path);
                    LogLine(observer, " - " + shown +
                                          (dryRun ? kLogUndoDryRun
                                                  : (recorded.created ? kLogUndoneCreated : kLogUndoneFile)));
                    break;
                case FileState::asBefore:
                    // Put back already, by an undo that was stopped or failed on a later file.
                    ++summary.restored;
                    summary.restoredPaths.push_back(recorded.path);
                    LogLine(observer, " - " + shown + kLogUndoneFile);
                    break;
                case FileState::changed:
                    ++summary.changedSince;
                    summary.changedPaths.push_back(recorded.path);
                    LogLine(observer, " - " + shown + kLogChangedSinceRun);
                    break;
            }
        } catch (const FileSkippedError& skipped) {
            ++summary.failed;
            LogLine(observer, " - " + shown + kLogUndoFailed + LogSafeText(skipped.Reason()));
        } catch (const Error& error) {
            ++summary.failed;
            LogLine(observer, " - " + shown + kLogUndoFailed + LogSafeText(error.what()));
        }
        observer.SetProgressPosition(++position);
    }
    LogLine(observer, " - " + UndoSummaryText(summary, dryRun));
    observer.SetProgressPosition(0);
    if (!dryRun && !summary.stopped && summary.failed == 0) {
        static_cast<void>(::unlink(recordPath->c_str()));
    }
    return summary;
}

std::string UndoPageNotice(const UndoSummary& summary, bool dryRun) {
    std::string text = dryRun ? "Probelauf, nichts geändert: " : "";
    if (!summary.found) {
        return text + "Kein Lauf zum Rückgängigmachen vorhanden";
    }
    text += "Letzter Lauf rückgängig gemacht: " + std::to_string(summary.restored) +
            (summary.restored == 1 ? " Foto" : " Fotos") + " zurückgesetzt, " +
            std::to_string(summary.changedSince) + " geändert und behalten";
    if (summary.failed > 0) {
        text += ", " + std::to_string(summary.failed) + " fehlgeschlagen";
    }
    if (summary.stopped) {
        text += ", abgebrochen";
    }
    return text;
}

std::string UndoSummaryText(const UndoSummary& summary, bool dryRun) {
    std::string text = std::to_string(summary.restored) + (summary.restored == 1 ? " Datei" : " Dateien") +
                       (dryRun ? (summary.restored == 1 ? " würde" : " würden") : "") + " zurückgesetzt";
    text += ", " + std::to_string(summary.changedSince) + " nach dem Lauf geändert und nicht zurückgesetzt";
    if (summary.failed > 0) {
        text += ", " + std::to_string(summary.failed) + " fehlgeschlagen";
    }
    return text;
}

}  // namespace zeloro
