// src/filesafe/InPlaceRewrite.cpp: a file with several names rewritten where it lies: its journal first,
// then the new content over the old through the very inode read.
#include "filesafe/detail/InPlaceRewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/SafeFileWrite.h"
#include "filesafe/SaveJournal.h"
#include "filesafe/detail/SafeWriteCommon.h"
#include "filesafe/detail/SaveJournalFormat.h"

namespace zeloro {

using detail::Checksum;
using detail::DescriptorPath;
using detail::FolderTemporary;
using detail::InjectedError;
using detail::JournalHead;
using detail::kJournalMagic;
using detail::kJournalMark;
using detail::RestoreInPlace;
using detail::SameContentIdentity;
using detail::ThrowCreateError;
using detail::ThrowOpenError;
using detail::ThrowSkipped;
using detail::ThrowStreamWrite;
using detail::ThrowTimesError;
using detail::WriteParts;

namespace {

std::uint64_t ChecksumOfParts(std::span<const std::span<const std::uint8_t>> parts) noexcept {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a, as over the parts joined
    for (const std::span<const std::uint8_t> part : parts) {
        for (const std::uint8_t byte : part) {
            hash = (hash ^ byte) * 1099511628211ULL;
        }
    }
    return hash;
}

// Writes the parts one after the other from the start of an open file, then cuts it to their length and
// syncs it; errno of the first step that fails, else 0.
int WriteInPlace(int fd, std::span<const std::span<const std::uint8_t>> parts) {
    off_t offset = 0;
    for (const std::span<const std::uint8_t> part : parts) {
        const int injected = InjectedError(SafeWriteStep::rewrite);
        if (injected != 0) {
            return injected;
        }
        std::size_t done = 0;
        while (done < part.size()) {
            const std::size_t chunk = std::min<std::size_t>(part.size() - done, std::size_t{1} << 30U);
            const ssize_t written = ::pwrite(fd, part.data() + done, chunk, offset);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return written == 0 ? ENOSPC : errno;
            }
            done += static_cast<std::size_t>(written);
            offset += written;
        }
    }
    if (::ftruncate(fd, offset) != 0) {
        return errno;
    }
    return ::fsync(fd) != 0 ? errno : 0;
}

// The journal of one in-place rewrite. It gets its name only once its content is whole and on the disk,
// so a journal that exists can always be trusted; it is removed when it goes, unless kept for the next
// run. It lies in the folder given, beside the name given (the file's own, or the link's that led to it).
class SaveJournal {
public:
    SaveJournal(int folder, const std::string& entryName, bool throughLink)
        : folder_(folder), entry_(entryName), name_(SaveJournalName(entryName)), throughLink_(throughLink) {}
    SaveJournal(const SaveJournal&) = delete;
    SaveJournal& operator=(const SaveJournal&) = delete;
    ~SaveJournal() {
        if (named_ && !kept_) {
            static_cast<void>(Remove());
        }
    }

    // Writes head, name, original and new bytes to a temporary file, private to this user, syncs it, names
    // it and syncs the folder.
    void Write(const ReadFile& file, std::span<const std::uint8_t> original,
               std::span<const std::span<const std::uint8_t>> newParts) {
        const struct stat& identity = file.identity;
        std::uint64_t newSize = 0;
        for (const std::span<const std::uint8_t> part : newParts) {
            newSize += part.size();
        }
        const JournalHead head{throughLink_ ? 1U : 0U,
                               static_cast<std::uint64_t>(identity.st_dev),
                               static_cast<std::uint64_t>(identity.st_ino),
                               static_cast<std::uint64_t>(original.size()),
                               newSize,
                               static_cast<std::int64_t>(identity.st_mtim.tv_sec),
                               static_cast<std::int64_t>(identity.st_mtim.tv_nsec),
                               Checksum(original),
                               ChecksumOfParts(newParts),
                               static_cast<std::uint64_t>(entry_.size())};
        std::vector<std::span<const std::uint8_t>> parts{
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(kJournalMagic.data()),
                                          kJournalMagic.size()),
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&head), sizeof head),
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(entry_.data()),
                                          entry_.size()),
            original};
        parts.insert(parts.end(), newParts.begin(), newParts.end());
        FolderTemporary temp(folder_);
        int error = temp.Create(entry_);
        if (error != 0) {
            ThrowCreateError(file.path, error);
        }
        WriteParts(temp.Fd(), parts);
        // Whatever the process's file-creation mask: the restore trusts only a journal with exactly this
        // mode.
        if (::fchmod(temp.Fd(), 0600) != 0) {
            ThrowCreateError(file.path, errno);
        }
        if (::fsync(temp.Fd()) != 0) {
            ThrowStreamWrite(errno);
        }
        error = InjectedError(SafeWriteStep::journal);
        if (error == 0) {
            error = temp.LinkAs(name_);
        }
        if (error == EEXIST) {
            ThrowSkipped(file.path,
                         "sie hat mehrere harte Verknüpfungen, und eine frühere Änderung an ihr ist nicht "
                         "abgeschlossen");
        }
        if (error != 0) {
            ThrowCreateError(file.path, error);
        }
        named_ = true;
        if (::fsync(folder_) != 0) {
            ThrowStreamWrite(errno);
        }
    }
    // errno of a removal that failed, else 0.
    int Remove() noexcept {
        named_ = false;
        if (::unlinkat(folder_, name_.c_str(), 0) != 0) {
            return errno;
        }
        return ::fsync(folder_) != 0 ? errno : 0;
    }
    void Keep() noexcept { kept_ = true; }

private:
    int folder_;
    std::string entry_;
    std::string name_;
    bool throughLink_;
    bool named_ = false;
    bool kept_ = false;
};

}  // namespace

std::string SaveJournalName(const std::string& fileName) {
    const std::string stem = SaveNameStem(fileName);
    std::string name;
    name.reserve(stem.size() + kJournalMark.size() + 1);
    name.append(".").append(stem).append(kJournalMark);
    return name;
}

bool IsSaveJournalName(std::string_view name) noexcept {
    return name.size() > 1 + kJournalMark.size() && name.front() == '.' && name.ends_with(kJournalMark);
}

namespace detail {

// A photo with several names is rewritten where it lies, under a journal (see ReplaceReadFile).
void RewriteInPlace(const ReadFile& file, std::span<const std::span<const std::uint8_t>> parts,
                    const timespec* mtime) {
    const std::string& path = file.path;
    // A second descriptor on the very inode read (not looked up by name again), opened for writing: the
    // file's own permission bits decide, as for any program that edits it.
    const std::string self = DescriptorPath(file.file.get());
    const FileDescriptor out(::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!out) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS) {
            ThrowSkipped(path, "sie hat mehrere harte Verknüpfungen und ist schreibgeschützt");
        }
        ThrowOpenError(path, std::strerror(error));
    }
    const struct stat& original = file.identity;
    // The journal holds what the file holds now, read back from it; ReadFile's bytes may have moved on.
    std::vector<std::uint8_t> before(static_cast<std::size_t>(original.st_size));
    std::size_t filled = 0;
    while (filled < before.size()) {
        const ssize_t got = ::pread(file.file.get(), before.data() + filled, before.size() - filled,
                                    static_cast<off_t>(filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            throw StreamError(std::string(kStreamReadError) + ": " + ReasonText(error));
        }
        if (got == 0) {
            ThrowSkipped(path, "sie wurde nach dem Lesen verändert");
        }
        filled += static_cast<std::size_t>(got);
    }
    // A file reached through a link gets its journal beside the link, not beside itself: the next run on
    // the folder scans the link's folder, while the file's own folder may lie outside it (or be hidden)
    // and its journal would never be found, leaving the photo half-written for good.
    const bool besideLink = file.throughLink && file.linkFolder;
    SaveJournal journal(besideLink ? file.linkFolder.get() : file.folder.get(),
                        besideLink ? file.linkName : file.name, besideLink);
    journal.Write(file, before, parts);

    int error = InjectedError(SafeWriteStep::check);
    if (error != 0) {
        ThrowCreateError(path, error);
    }
    // As for a rename: the name must still lead, with no link, to the very file read, unchanged since.
    struct stat now {};
    struct stat current {};
    if (::fstatat(file.folder.get(), file.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstat(out.get(), &current) != 0 || !S_ISREG(now.st_mode) || now.st_dev != original.st_dev ||
        now.st_ino != original.st_ino || !SameContentIdentity(current, original)) {
        ThrowSkipped(path, "sie wurde nach dem Lesen verändert");
    }
    // And the link must still be a link that leads to it, or the journal beside it would not.
    if (besideLink &&
        (::fstatat(file.linkFolder.get(), file.linkName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
         !S_ISLNK(now.st_mode) || ::fstatat(file.linkFolder.get(), file.linkName.c_str(), &now, 0) != 0 ||
         now.st_dev != original.st_dev || now.st_ino != original.st_ino)) {
        ThrowSkipped(path, "sie wurde nach dem Lesen verändert");
    }

    error = WriteInPlace(out.get(), parts);
    int timesError = 0;
    if (error == 0 && mtime != nullptr) {
        timesError = InjectedError(SafeWriteStep::times);
        const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, *mtime};
        if (timesError == 0 && ::futimens(out.get(), times.data()) != 0) {
            timesError = errno;
        }
        if (timesError == 0 && ::fsync(out.get()) != 0) {
            error = errno;
        }
    }
    if (error != 0 || timesError != 0) {
        // Every name must see the original again; only when that fails too, the journal stays for the
        // next run to restore from.
        if (RestoreInPlace(out.get(), before, original.st_mtim) != 0) {
            journal.Keep();
        }
        if (timesError != 0) {
            ThrowTimesError(path, timesError);
        }
        ThrowStreamWrite(error);
    }
    error = journal.Remove();
    if (error != 0) {
        // Left, the journal would make the next run undo this save: put the original back rather than
        // leave the photo tagged now and untagged later.
        if (RestoreInPlace(out.get(), before, original.st_mtim) != 0) {
            journal.Keep();
        }
        ThrowCreateError(path, error);
    }
}

int RestoreInPlace(int fd, std::span<const std::uint8_t> original, const timespec& mtime) {
    const std::span<const std::uint8_t> parts[] = {original};
    const int error = WriteInPlace(fd, parts);
    if (error != 0) {
        return error;
    }
    const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, mtime};
    return ::futimens(fd, times.data()) == 0 && ::fsync(fd) != 0 ? errno : 0;
}

}  // namespace detail

}  // namespace zeloro
