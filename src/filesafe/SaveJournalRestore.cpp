// src/filesafe/SaveJournalRestore.cpp: the restore of an in-place save a killed run left, from its journal,
// only where that save can have been this user's and the file holds what it can have left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "filesafe/FileIo.h"
#include "filesafe/SaveJournal.h"
#include "filesafe/detail/SafeWriteCommon.h"
#include "filesafe/detail/SaveJournalFormat.h"

namespace zeloro {

using detail::Checksum;
using detail::DescriptorPath;
using detail::JournalHead;
using detail::kJournalFixed;
using detail::kJournalMagic;
using detail::kJournalMark;
using detail::kLargestJournalPart;
using detail::RestoreInPlace;
using detail::SplitPath;

namespace {

enum class RewriteState : std::uint8_t { original, finished, halfWay, other };

// Which state of an interrupted in-place rewrite the file holds. A rewrite writes the new bytes N from the
// start and then cuts the file to their length; a restore writes the original bytes O from the start and
// then cuts to theirs; either may be cut short by a kill, a restore also after a rewrite cut short. So the
// file can hold O[0,j) N[j,k) O[k,|O|) for j <= k <= |N|, of length max(k, |O|); and, where N is the
// shorter, after the rewrite's cut, O[0,j) N[j,|N|), or a beginning of O as long as N or longer (a restore
// cut short). Anything else is another program's doing.
RewriteState ClassifyRewrite(std::span<const std::uint8_t> file, std::span<const std::uint8_t> original,
                             std::span<const std::uint8_t> fresh) {
    const std::size_t length = file.size();
    if (std::equal(file.begin(), file.end(), fresh.begin(), fresh.end())) {
        return RewriteState::finished;
    }
    if (std::equal(file.begin(), file.end(), original.begin(), original.end())) {
        return RewriteState::original;
    }
    // The original's beginning, then the new content's middle, then the original's end: each run as long
    // as it goes (a byte both hold may belong to either, and the longer run covers every split there is).
    std::size_t put = 0;
    const std::size_t putEnd = std::min(length, original.size());
    while (put < putEnd && file[put] == original[put]) {
        ++put;
    }
    std::size_t written = put;
    const std::size_t writtenEnd = std::min(length, fresh.size());
    while (written < writtenEnd && file[written] == fresh[written]) {
        ++written;
    }
    if (written < length && (length > original.size() ||
                             !std::equal(file.begin() + static_cast<std::ptrdiff_t>(written), file.end(),
                                         original.begin() + static_cast<std::ptrdiff_t>(written)))) {
        return RewriteState::other;
    }
    const bool fits = length == original.size() ||
                      (length > original.size() && length <= fresh.size() && written == length) ||
                      (length < original.size() && length >= fresh.size() &&
                       (put == length || (length == fresh.size() && written == length)));
    return fits ? RewriteState::halfWay : RewriteState::other;
}

constexpr const char* kNotOurs = "das Journal stammt nicht von diesem Benutzer";
constexpr const char* kDamaged = "das Journal ist beschädigt";
constexpr const char* kOtherFile = "unter dem Namen liegt eine andere Datei";
constexpr const char* kChangedSince = "sie wurde seit der unterbrochenen Änderung verändert";

}  // namespace

std::string NameInJournalName(std::string_view journalName, std::string_view mark) {
    return std::string(
        journalName.substr(1, journalName.size() - 1 - std::min(journalName.size() - 1, mark.size())));
}

OwnJournal OpenOwnJournal(const std::string& folderPath, const std::string& journalName) {
    OwnJournal opened;
    opened.folder.reset(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened.folder) {
        opened.refusal = ReasonText(errno);
        return opened;
    }
    opened.journal.reset(
        ::openat(opened.folder.get(), journalName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!opened.journal) {
        opened.refusal = ReasonText(errno);
        return opened;
    }
    if (::fstat(opened.journal.get(), &opened.status) != 0) {
        opened.refusal = ReasonText(errno);
        return opened;
    }
    const struct stat& own = opened.status;
    if (!S_ISREG(own.st_mode) || own.st_uid != ::geteuid() || (own.st_mode & 07777U) != 0600U ||
        own.st_nlink != 1) {
        opened.refusal = kNotOurs;
    }
    return opened;
}

UndoneSave UndoInterruptedSave(const std::string& journalPath,
                               const std::function<ScannedAs(const std::string& path)>& scanned) {
    const auto [folderPath, journalName] = SplitPath(journalPath);
    UndoneSave undone;
    // Until the journal names its file: the name its own name carries (the whole name, unless too long).
    const std::string folderPrefix = journalPath.substr(0, journalPath.size() - journalName.size());
    undone.path = folderPrefix + NameInJournalName(journalName, kJournalMark);
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
    JournalHead head{};
    if (static_cast<std::uint64_t>(own.st_size) < kJournalFixed ||
        !ReadFileAt(journal.get(), fixed, kJournalFixed, 0) ||
        !std::equal(kJournalMagic.begin(), kJournalMagic.end(), fixed.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
        return keep(kDamaged);
    }
    std::memcpy(&head, fixed.data() + kJournalMagic.size(), sizeof head);
    if (head.nameLength == 0 || head.nameLength > NAME_MAX || head.originalSize > kLargestJournalPart ||
        head.newSize > kLargestJournalPart || head.throughLink > 1 ||
        static_cast<std::uint64_t>(own.st_size) !=
            kJournalFixed + head.nameLength + head.originalSize + head.newSize) {
        return keep(kDamaged);
    }
    std::vector<std::uint8_t> rest;
    if (!ReadFileAt(journal.get(), rest, static_cast<std::size_t>(own.st_size) - kJournalFixed,
                    kJournalFixed)) {
        return keep(kDamaged);
    }
    const std::span<const std::uint8_t> all(rest);
    const std::string fileName(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(head.nameLength));
    const std::span<const std::uint8_t> original = all.subspan(head.nameLength, head.originalSize);
    const std::span<const std::uint8_t> fresh = all.subspan(head.nameLength + head.originalSize);
    if (fileName.find_first_of(std::string_view("/\0", 2)) != std::string::npos || fileName == "." ||
        fileName == ".." || SaveJournalName(fileName) != journalName ||
        Checksum(original) != head.originalChecksum || Checksum(fresh) != head.newChecksum) {
        return keep(kDamaged);
    }
    undone.path = folderPrefix + fileName;

    // The name must be a photo of this run's scan, and of the kind the journal says: only such a photo
    // is ever rewritten in place, so a journal for anything else is none of ours.
    const bool throughLink = head.throughLink == 1;
    const ScannedAs seen = scanned(undone.path);
    if (seen == ScannedAs::other) {
        return keep("sie ist kein Bild, das der Lauf gefunden hat");
    }
    FileDescriptor file;
    if (!throughLink) {
        if (seen == ScannedAs::photoLink) {
            return keep("sie ist eine symbolische Verknüpfung");
        }
        file.reset(::openat(folder.get(), fileName.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file) {
            return keep(errno == ELOOP ? "sie ist eine symbolische Verknüpfung" : ReasonText(errno));
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
        const std::string self = DescriptorPath(target.get());
        file.reset(::open(self.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!file) {
            return keep(ReasonText(errno));
        }
    }
    struct stat identity {};
    if (::fstat(file.get(), &identity) != 0 || !S_ISREG(identity.st_mode) ||
        static_cast<std::uint64_t>(identity.st_dev) != head.device ||
        static_cast<std::uint64_t>(identity.st_ino) != head.inode) {
        return keep(kOtherFile);
    }
    if (identity.st_nlink < 2) {
        return keep("sie hat nur einen Namen und wird nie an Ort und Stelle geändert");
    }
    // A journal left after the restore would make the next run restore again, over whatever the photo
    // has become by then: nothing is written unless the journal can go afterwards. (In a folder with the
    // sticky bit, a journal that passed the checks above is this user's own, so it may go.)
    if (::faccessat(folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return keep("das Journal kann danach nicht entfernt werden (" + ReasonText(errno) + ")");
    }
    const std::uint64_t shortest = std::min(head.originalSize, head.newSize);
    const std::uint64_t longest = std::max(head.originalSize, head.newSize);
    std::vector<std::uint8_t> now;
    if (static_cast<std::uint64_t>(identity.st_size) < shortest ||
        static_cast<std::uint64_t>(identity.st_size) > longest ||
        !ReadFileAt(file.get(), now, static_cast<std::size_t>(identity.st_size), 0)) {
        return keep(kChangedSince);
    }
    const timespec mtime{static_cast<time_t>(head.mtimeSeconds), static_cast<long>(head.mtimeNanoseconds)};
    int error = 0;
    switch (ClassifyRewrite(now, original, fresh)) {
        case RewriteState::other:
            return keep(kChangedSince);
        case RewriteState::finished:
            undone.finished = true;
            break;
        case RewriteState::original:
            // A restore cut short after its last byte may not have set the time yet.
            if (identity.st_mtim.tv_sec != mtime.tv_sec || identity.st_mtim.tv_nsec != mtime.tv_nsec) {
                const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, mtime};
                static_cast<void>(::futimens(file.get(), times.data()));
            }
            undone.restored = true;
            break;
        case RewriteState::halfWay:
            error = RestoreInPlace(file.get(), original, mtime);
            undone.restored = error == 0;
            break;
    }
    if (error == 0 && ::unlinkat(folder.get(), journalName.c_str(), 0) != 0) {
        error = errno;
        undone.restored = false;
        undone.finished = false;
    }
    if (error != 0) {
        return keep(ReasonText(error));
    }
    ::fsync(folder.get());
    return undone;
}

}  // namespace zeloro
