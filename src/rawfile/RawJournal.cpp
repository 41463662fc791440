// src/rawfile/RawJournal.cpp: the journal of a RAW write: its name, its writing, and the repair of a
// write a killed run left, only where that write can have been this user's and the file holds what it
// can have left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "filesafe/FileIo.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/SafeFileWrite.h"
#include "filesafe/SaveJournal.h"
#include "rawfile/RawGpsWrite.h"
#include "rawfile/TiffLayout.h"
#include "rawfile/detail/RawJournalFormat.h"

namespace zeloro {

using detail::kLargestRawTail;
using detail::kRawJournalFixed;
using detail::kRawJournalMagic;
using detail::RawJournalHead;

namespace {

// As long as the in-place journal's mark, so SaveNameStem leaves room for it; the hyphen in its last six
// characters keeps the scan from taking it for a temporary file of a save (".zeloro-" and six letters).
constexpr std::string_view kRawJournalMark = ".zeloro-raw-gps";

constexpr const char* kDamaged = "das Journal ist beschädigt";
constexpr const char* kOtherFile = "unter dem Namen liegt eine andere Datei";
constexpr const char* kChangedSince = "sie wurde seit der unterbrochenen Änderung verändert";
constexpr const char* kIsLink = "sie ist eine symbolische Verknüpfung";

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

[[noreturn]] void ThrowCreate(const std::string& path, int error) {
    throw FileError("Datei " + path + " kann nicht erstellt werden. " + ReasonText(error));
}

[[noreturn]] void ThrowWrite(int error) {
    throw StreamError(std::string(kStreamWriteError) + ": " + ReasonText(error));
}

// A hidden temporary name beside entryName that the scan removes as a killed save's leftover.
std::string TemporaryName(const std::string& entryName) {
    static constexpr std::string_view kLetters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    // Built by appending: GCC 12 at -O3 misreads a chain of string + as overlapping copies.
    std::string name;
    name.append(".").append(SaveNameStem(entryName)).append(".zeloro-");
    for (int i = 0; i < 6; ++i) {
        name.push_back(kLetters[random() % kLetters.size()]);
    }
    return name;
}

}  // namespace

std::string RawJournalName(const std::string& fileName) {
    const std::string stem = SaveNameStem(fileName);
    std::string name;
    name.reserve(stem.size() + kRawJournalMark.size() + 1);
    name.append(".").append(stem).append(kRawJournalMark);
    return name;
}

bool IsRawJournalName(std::string_view name) noexcept {
    return name.size() > 1 + kRawJournalMark.size() && name.front() == '.' && name.ends_with(kRawJournalMark);
}

namespace detail {

void WriteRawJournal(int folder, const std::string& entryName, const std::string& path,
                     const RawJournalHead& head, std::span<const std::uint8_t> tail) {
    const std::string journalName = RawJournalName(entryName);
    // Unnamed until whole: a kill while it is written leaves nothing a later run could trust.
    FileDescriptor fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    std::string temporary;
    if (!fd && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
            temporary = TemporaryName(entryName);
            fd.reset(::openat(folder, temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC,
                              0600));
            if (!fd && errno != EEXIST) {
                break;
            }
        }
    }
    if (!fd) {
        ThrowCreate(path, errno);
    }
    struct RemoveTemporary {
        int folder;
        const std::string& name;
        ~RemoveTemporary() {
            if (!name.empty()) {
                ::unlinkat(folder, name.c_str(), 0);
            }
        }
    } const removeTemporary{folder, temporary};
    const std::span<const std::uint8_t> parts[] = {
        {reinterpret_cast<const std::uint8_t*>(kRawJournalMagic.data()), kRawJournalMagic.size()},
        {reinterpret_cast<const std::uint8_t*>(&head), sizeof head},
        {reinterpret_cast<const std::uint8_t*>(entryName.data()), entryName.size()},
        tail};
    for (const std::span<const std::uint8_t> part : parts) {
        if (const int error = WriteFileFully(fd.get(), part); error != 0) {
            ThrowWrite(error);
        }
    }
    // Whatever the process's file-creation mask: the repair trusts only a journal with exactly this mode.
    if (::fchmod(fd.get(), 0600) != 0) {
        ThrowCreate(path, errno);
    }
    if (::fsync(fd.get()) != 0) {
        ThrowWrite(errno);
    }
    const int linked = temporary.empty()
                           ? ::linkat(AT_FDCWD, DescriptorPath(fd.get()).c_str(), folder, journalName.c_str(),
                                      AT_SYMLINK_FOLLOW)
                           : ::linkat(folder, temporary.c_str(), folder, journalName.c_str(), 0);
    if (linked != 0 && errno == EEXIST) {
        throw FileSkippedError(path, "eine frühere Änderung an ihr ist nicht abgeschlossen");
    }
    if (linked != 0) {
        ThrowCreate(path, errno);
    }
    if (::fsync(folder) != 0) {
        const int error = errno;
        static_cast<void>(RemoveRawJournal(folder, entryName));
        ThrowWrite(error);
    }
}

int RemoveRawJournal(int folder, const std::string& entryName) noexcept {
    try {
        if (::unlinkat(folder, RawJournalName(entryName).c_str(), 0) != 0) {
            return errno;
        }
    } catch (...) {
        return ENOMEM;
    }
    return ::fsync(folder) != 0 ? errno : 0;
}

}  // namespace detail

UndoneSave RecoverRawWrite(const std::string& journalPath,
                           const std::function<ScannedAs(const std::string& path)>& scanned) {
    const std::size_t slash = journalPath.rfind('/');
    const std::string folderPath =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : journalPath.substr(0, slash));
    const std::string journalName = slash == std::string::npos ? journalPath : journalPath.substr(slash + 1);
    const std::string folderPrefix = journalPath.substr(0, journalPath.size() - journalName.size());
    UndoneSave undone;
    // Until the journal names its file: the name its own name carries (the whole name, unless too long).
    undone.path = folderPrefix + NameInJournalName(journalName, kRawJournalMark);
    const auto keep = [&undone](std::string reason) {
        undone.reason = std::move(reason);
        return undone;
    };
    OwnJournal opened = OpenOwnJournal(folderPath, journalName);
    if (!opened.refusal.empty()) {
        return keep(opened.refusal);
    }
    const FileDescriptor& folder = opened.folder;
    const FileDescriptor& journal = opened.journal;
    const struct stat& own = opened.status;
    // The head first, and the size it gives checked against the file's before the rest is read.
    std::vector<std::uint8_t> fixed;
    RawJournalHead head{};
    if (static_cast<std::uint64_t>(own.st_size) < kRawJournalFixed ||
        !ReadFileAt(journal.get(), fixed, kRawJournalFixed, 0) ||
        !std::equal(kRawJournalMagic.begin(), kRawJournalMagic.end(), fixed.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
        return keep(kDamaged);
    }
    std::memcpy(&head, fixed.data() + kRawJournalMagic.size(), sizeof head);
    if (head.nameLength == 0 || head.nameLength > NAME_MAX || head.tailSize == 0 ||
        head.tailSize > kLargestRawTail || head.throughLink > 1 || head.keepMtime > 1 ||
        head.oldSize > kLargestTiff || head.pointerOffset > head.oldSize ||
        head.oldSize - head.pointerOffset < 4 ||
        static_cast<std::uint64_t>(own.st_size) != kRawJournalFixed + head.nameLength + head.tailSize) {
        return keep(kDamaged);
    }
    std::vector<std::uint8_t> rest;
    if (!ReadFileAt(journal.get(), rest, static_cast<std::size_t>(own.st_size) - kRawJournalFixed,
                    kRawJournalFixed)) {
        return keep(kDamaged);
    }
    const std::string fileName(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(head.nameLength));
    const std::span<const std::uint8_t> tail = std::span<const std::uint8_t>(rest).subspan(head.nameLength);
    if (fileName.find_first_of(std::string_view("/\0", 2)) != std::string::npos || fileName == "." ||
        fileName == ".." || RawJournalName(fileName) != journalName) {
        return keep(kDamaged);
    }
    undone.path = folderPrefix + fileName;

    // The name must be a photo of this run's scan, and of the kind the journal says.
    const bool throughLink = head.throughLink == 1;
    const ScannedAs seen = scanned(undone.path);
    if (seen == ScannedAs::other) {
        return keep("sie ist kein Bild, das der Lauf gefunden hat");
    }
    FileDescriptor file;
    if (!throughLink) {
        if (seen == ScannedAs::photoLink) {
            return keep(kIsLink);
        }
        file.reset(::openat(folder.get(), fileName.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file) {
            return keep(errno == ELOOP ? kIsLink : ReasonText(errno));
        }
    } else {
        if (seen != ScannedAs::photoLink) {
            return keep(kOtherFile);
        }
        // The link is followed without opening what it leads to; only a regular file is opened, by its
        // handle, so a FIFO or device swapped in behind the link is never opened.
        const FileDescriptor target(::openat(folder.get(), fileName.c_str(), O_PATH | O_CLOEXEC));
        struct stat found {};
        if (!target) {
            return keep(ReasonText(errno));
        }
        if (::fstat(target.get(), &found) != 0 || !S_ISREG(found.st_mode) ||
            static_cast<std::uint64_t>(found.st_dev) != head.device ||
            static_cast<std::uint64_t>(found.st_ino) != head.inode) {
            return keep(kOtherFile);
        }
        file.reset(::open(DescriptorPath(target.get()).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!file) {
            return keep(ReasonText(errno));
        }
    }
    struct stat identity {};
    if (::fstat(file.get(), &identity) != 0 || !S_ISREG(identity.st_mode) ||
        static_cast<std::uint64_t>(identity.st_dev) != head.device ||
        static_cast<std::uint64_t>(identity.st_ino) != head.inode || identity.st_uid != head.owner) {
        return keep(kOtherFile);
    }
    // A journal left after the repair would make the next run act on it again: nothing is written unless
    // the journal can go afterwards.
    if (::faccessat(folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return keep("das Journal kann danach nicht entfernt werden (" + ReasonText(errno) + ")");
    }

    // A killed write leaves the old file with a beginning of the tail after it, or the whole tail with the
    // pointer switched; the switch is one write of four bytes, after the tail is on the disk.
    const auto size = static_cast<std::uint64_t>(identity.st_size);
    std::vector<std::uint8_t> now;
    std::vector<std::uint8_t> pointer;
    if (size < head.oldSize || size > head.oldSize + head.tailSize ||
        !ReadFileAt(file.get(), now, static_cast<std::size_t>(size - head.oldSize), head.oldSize) ||
        !std::equal(now.begin(), now.end(), tail.begin()) ||
        !ReadFileAt(file.get(), pointer, 4, head.pointerOffset)) {
        return keep(kChangedSince);
    }
    const timespec mtime{static_cast<time_t>(head.mtimeSeconds), static_cast<long>(head.mtimeNanoseconds)};
    const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, mtime};
    int error = 0;
    if (std::equal(pointer.begin(), pointer.end(), head.newPointer.begin()) &&
        size == head.oldSize + head.tailSize) {
        undone.finished = true;
        if (head.keepMtime == 1 &&
            (identity.st_mtim.tv_sec != mtime.tv_sec || identity.st_mtim.tv_nsec != mtime.tv_nsec)) {
            error = ::futimens(file.get(), times.data()) != 0 || ::fsync(file.get()) != 0 ? errno : 0;
        }
    } else if (std::equal(pointer.begin(), pointer.end(), head.oldPointer.begin())) {
        if (size > head.oldSize && ::ftruncate(file.get(), static_cast<off_t>(head.oldSize)) != 0) {
            error = errno;
        }
        if (error == 0 && (::futimens(file.get(), times.data()) != 0 || ::fsync(file.get()) != 0)) {
            error = errno;
        }
        undone.restored = error == 0;
    } else {
        return keep(kChangedSince);
    }
    if (error == 0 && ::unlinkat(folder.get(), journalName.c_str(), 0) != 0) {
        error = errno;
    }
    if (error != 0) {
        undone.restored = false;
        undone.finished = false;
        return keep(ReasonText(error));
    }
    ::fsync(folder.get());
    return undone;
}

}  // namespace zeloro
