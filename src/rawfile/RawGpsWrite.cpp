// src/rawfile/RawGpsWrite.cpp: the GPS directory of a RAW file appended after its end and made live by one
// pointer, so that no byte of the file moves and a kill leaves either the old file or the new one.
#include "rawfile/RawGpsWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "common/ReasonText.h"
#include "filesafe/FileIo.h"
#include "filesafe/FolderReplace.h"
#include "metadata/ExifPropertyObjects.h"
#include "metadata/ExifTags.h"
#include "rawfile/TiffLayout.h"
#include "rawfile/detail/RawJournalFormat.h"

namespace zeloro {

using detail::RawJournalHead;

namespace {

RawWriteHook& Hook() {
    static RawWriteHook hook;
    return hook;
}

int AfterStep(RawWriteStep step) {
    const RawWriteHook& hook = Hook();
    return hook ? hook(step) : 0;
}

constexpr std::uint16_t kTypeByte = 1;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kGpsVersionTag = 0;
constexpr const char* kChangedSinceRead = "sie wurde nach dem Lesen verändert";
constexpr const char* kTooLarge = "ihre Verzeichnisse wären zu groß";

// The file read piece by piece: a RAW of many megabytes is never read whole for a few directories.
class FileTiffSource : public TiffSource {
public:
    FileTiffSource(int fd, std::uint64_t size) noexcept : fd_(fd), size_(size) {}
    [[nodiscard]] std::uint64_t Size() const noexcept override { return size_; }
    [[nodiscard]] bool Read(std::uint64_t offset, std::span<std::uint8_t> into) const override {
        if (offset > size_ || into.size() > size_ - offset) {
            return false;
        }
        std::size_t filled = 0;
        while (filled < into.size()) {
            const ssize_t got =
                ::pread(fd_, into.data() + filled, into.size() - filled, static_cast<off_t>(offset + filled));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                const int error = errno;
                throw StreamError(std::string(kStreamReadError) + ": " + ReasonText(error));
            }
            if (got == 0) {
                return false;
            }
            filled += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_;
    std::uint64_t size_;
};

// One entry of a directory the write builds: a kept entry's value field as the file holds it, or a new
// tag's value in the file's byte order.
struct BuiltEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    bool kept = false;
    std::array<std::uint8_t, 4> keptValue{};
    std::vector<std::uint8_t> value;
};

// A tag's value (held little-endian in memory) in the file's byte order, element by element; a rational
// is two numbers.
std::vector<std::uint8_t> InFileOrder(const TExifTag& tag, bool bigEndian) {
    std::vector<std::uint8_t> bytes(tag.Data(), tag.Data() + tag.DataSize());
    if (!bigEndian) {
        return bytes;
    }
    std::size_t unit = tag.ElementSize();
    if (tag.DataType() == tdLongWordFraction || tag.DataType() == tdLongIntFraction) {
        unit = 4;
    }
    for (std::size_t at = 0; unit > 1 && at + unit <= bytes.size(); at += unit) {
        std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + unit));
    }
    return bytes;
}

BuiltEntry KeptEntry(const TiffEntry& entry) {
    BuiltEntry built;
    built.tag = entry.tag;
    built.type = entry.type;
    built.count = entry.count;
    built.kept = true;
    built.keptValue = entry.value;
    return built;
}

// The new GPS directory: every tag gps writes, every other tag of the old directory as it was (its value
// left where it lies), and for a directory made new the version first.
std::vector<BuiltEntry> GpsEntries(const TiffLayout& layout, const TCustomExifData& gps) {
    std::vector<BuiltEntry> entries;
    const TExifSection& section = gps.RawSection(esGPS);
    for (std::int32_t i = 0; i < section.Count(); ++i) {
        const TExifTag& tag = *section[i];
        if (!IsValidTiffDataType(tag.DataType()) || tag.ElementCount() <= 0) {
            continue;
        }
        BuiltEntry built;
        built.tag = tag.ID();
        built.type = tag.DataType();
        built.count = static_cast<std::uint32_t>(tag.ElementCount());
        built.value = InFileOrder(tag, layout.bigEndian);
        entries.push_back(std::move(built));
    }
    const auto written = [&entries](std::uint16_t id) {
        return std::any_of(entries.begin(), entries.end(),
                           [id](const BuiltEntry& e) { return !e.kept && e.tag == id; });
    };
    for (const TiffEntry& old : layout.gps.entries) {
        if (!written(old.tag)) {
            entries.push_back(KeptEntry(old));
        }
    }
    if (layout.gps.offset == 0 && !written(kGpsVersionTag)) {
        BuiltEntry version;
        version.tag = kGpsVersionTag;
        version.type = kTypeByte;
        version.count = kCreatedGPSVersion.size();
        version.value.assign(kCreatedGPSVersion.begin(), kCreatedGPSVersion.end());
        entries.push_back(std::move(version));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const BuiltEntry& a, const BuiltEntry& b) { return a.tag < b.tag; });
    return entries;
}

// The bytes after the old end, and the one pointer that makes them live.
struct RawWritePlan {
    std::uint64_t oldSize = 0;
    std::uint64_t pointerOffset = 0;
    std::array<std::uint8_t, 4> oldPointer{};
    std::array<std::uint8_t, 4> newPointer{};
    std::vector<std::uint8_t> tail;
};

class TailBuilder {
public:
    TailBuilder(std::uint64_t base, bool bigEndian) : base_(base), bigEndian_(bigEndian) {}
    [[nodiscard]] std::uint64_t Position() const noexcept { return base_ + tail_.size(); }
    // Directories and values start on a word boundary, as TIFF requires.
    void Align() {
        if (Position() % 2 != 0) {
            tail_.push_back(0);
        }
    }
    // Appends a directory of the entries, its values stored apart after it; its offset.
    std::uint32_t Directory(const std::vector<BuiltEntry>& entries, std::uint32_t next) {
        if (entries.size() > 0xFFFFU) {
            throw TiffLayoutError(kTooLarge);
        }
        Align();
        const auto offset = static_cast<std::uint32_t>(Position());
        const std::size_t start = tail_.size();
        tail_.resize(start + 2 + entries.size() * 12 + 4);
        TiffPut16(&tail_[start], static_cast<std::uint16_t>(entries.size()), bigEndian_);
        TiffPut32(&tail_[start + 2 + entries.size() * 12], next, bigEndian_);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const BuiltEntry& entry = entries[i];
            const std::size_t at = start + 2 + i * 12;
            TiffPut16(&tail_[at], entry.tag, bigEndian_);
            TiffPut16(&tail_[at + 2], entry.type, bigEndian_);
            TiffPut32(&tail_[at + 4], entry.count, bigEndian_);
            if (entry.kept) {
                std::copy(entry.keptValue.begin(), entry.keptValue.end(),
                          tail_.begin() + static_cast<std::ptrdiff_t>(at + 8));
            } else if (entry.value.size() <= 4) {
                std::copy(entry.value.begin(), entry.value.end(),
                          tail_.begin() + static_cast<std::ptrdiff_t>(at + 8));
            } else {
                Align();
                TiffPut32(&tail_[at + 8], static_cast<std::uint32_t>(Position()), bigEndian_);
                tail_.insert(tail_.end(), entry.value.begin(), entry.value.end());
            }
        }
        return offset;
    }
    [[nodiscard]] std::vector<std::uint8_t> Take() { return std::move(tail_); }

private:
    std::uint64_t base_;
    bool bigEndian_;
    std::vector<std::uint8_t> tail_;
};

RawWritePlan PlanGpsWrite(const TiffLayout& layout, const TCustomExifData& gps) {
    RawWritePlan plan;
    plan.oldSize = layout.fileSize;
    TailBuilder builder(layout.fileSize, layout.bigEndian);
    const std::uint32_t gpsOffset = builder.Directory(GpsEntries(layout, gps), 0);
    std::uint32_t live = gpsOffset;
    if (layout.gpsEntry) {
        // IFD0 has its GPSInfo entry: its value is the pointer.
        const TiffEntry& entry = layout.ifd0.entries[*layout.gpsEntry];
        plan.pointerOffset = entry.at + 8;
        plan.oldPointer = entry.value;
    } else {
        // IFD0 grows by one entry: a copy of it, every value left where it lies, becomes IFD0 through the
        // header's pointer.
        std::vector<BuiltEntry> entries;
        entries.reserve(layout.ifd0.entries.size() + 1);
        for (const TiffEntry& entry : layout.ifd0.entries) {
            entries.push_back(KeptEntry(entry));
        }
        BuiltEntry pointer;
        pointer.tag = kGpsInfoTag;
        pointer.type = kTypeLong;
        pointer.count = 1;
        pointer.value.resize(4);
        TiffPut32(pointer.value.data(), gpsOffset, layout.bigEndian);
        const auto after = std::find_if(entries.begin(), entries.end(),
                                        [](const BuiltEntry& e) { return e.tag > kGpsInfoTag; });
        entries.insert(after, std::move(pointer));
        live = builder.Directory(entries, layout.ifd0.next);
        plan.pointerOffset = 4;
        TiffPut32(plan.oldPointer.data(), layout.ifd0.offset, layout.bigEndian);
    }
    TiffPut32(plan.newPointer.data(), live, layout.bigEndian);
    if (builder.Position() > kLargestTiff) {
        throw TiffLayoutError("sie würde größer, als TIFF es erlaubt");
    }
    // The journal names the tail; a repair trusts no journal that names more.
    if (builder.Position() - layout.fileSize > detail::kLargestRawTail) {
        throw TiffLayoutError(kTooLarge);
    }
    plan.tail = builder.Take();
    return plan;
}

// The file as a plan would leave it: the old bytes with the new pointer, then the tail.
class PlannedTiffSource : public TiffSource {
public:
    PlannedTiffSource(const TiffSource& old, const RawWritePlan& plan) noexcept : old_(old), plan_(plan) {}
    [[nodiscard]] std::uint64_t Size() const noexcept override { return plan_.oldSize + plan_.tail.size(); }
    [[nodiscard]] bool Read(std::uint64_t offset, std::span<std::uint8_t> into) const override {
        if (offset > Size() || into.size() > Size() - offset) {
            return false;
        }
        const std::uint64_t fromOld =
            offset < plan_.oldSize ? std::min<std::uint64_t>(into.size(), plan_.oldSize - offset) : 0;
        if (fromOld > 0 && !old_.Read(offset, into.first(static_cast<std::size_t>(fromOld)))) {
            return false;
        }
        for (std::size_t i = static_cast<std::size_t>(fromOld); i < into.size(); ++i) {
            into[i] = plan_.tail[static_cast<std::size_t>(offset + i - plan_.oldSize)];
        }
        for (std::size_t i = 0; i < into.size(); ++i) {
            const std::uint64_t at = offset + i;
            if (at >= plan_.pointerOffset && at < plan_.pointerOffset + 4) {
                into[i] = plan_.newPointer[static_cast<std::size_t>(at - plan_.pointerOffset)];
            }
        }
        return true;
    }

private:
    const TiffSource& old_;
    const RawWritePlan& plan_;
};

// The tags a run writes into the GPS directory, and so takes out of it: latitude and longitude with their
// references, altitude and its reference, time stamp and date stamp.
constexpr std::array<std::uint16_t, 8> kRunGpsTags{1, 2, 3, 4, 5, 6, 7, 0x1D};

// The run's tags taken out of the GPS directory IFD0 points to, or nothing when it holds none of them. The
// tags that stay keep their values where they lie in a new directory IFD0's GPSInfo value switches to; a
// directory left with its version alone (or empty) says nothing, so, where mayDropDirectory, a copy of
// IFD0 without the GPSInfo entry becomes IFD0 through the header's pointer instead.
std::optional<RawWritePlan> PlanGpsRemoval(const TiffLayout& layout, bool mayDropDirectory) {
    if (!layout.gpsEntry) {
        return std::nullopt;
    }
    const auto isRunTag = [](std::uint16_t tag) {
        return std::find(kRunGpsTags.begin(), kRunGpsTags.end(), tag) != kRunGpsTags.end();
    };
    std::vector<BuiltEntry> kept;
    for (const TiffEntry& entry : layout.gps.entries) {
        if (!isRunTag(entry.tag)) {
            kept.push_back(KeptEntry(entry));
        }
    }
    if (kept.size() == layout.gps.entries.size()) {
        return std::nullopt;
    }
    RawWritePlan plan;
    plan.oldSize = layout.fileSize;
    TailBuilder builder(layout.fileSize, layout.bigEndian);
    const bool saysSomething =
        std::any_of(kept.begin(), kept.end(), [](const BuiltEntry& e) { return e.tag != kGpsVersionTag; });
    if (saysSomething || !mayDropDirectory) {
        const TiffEntry& entry = layout.ifd0.entries[*layout.gpsEntry];
        plan.pointerOffset = entry.at + 8;
        plan.oldPointer = entry.value;
        TiffPut32(plan.newPointer.data(), builder.Directory(kept, 0), layout.bigEndian);
    } else {
        std::vector<BuiltEntry> entries;
        for (const TiffEntry& entry : layout.ifd0.entries) {
            if (entry.tag != kGpsInfoTag) {
                entries.push_back(KeptEntry(entry));
            }
        }
        plan.pointerOffset = 4;
        TiffPut32(plan.oldPointer.data(), layout.ifd0.offset, layout.bigEndian);
        TiffPut32(plan.newPointer.data(), builder.Directory(entries, layout.ifd0.next), layout.bigEndian);
    }
    if (builder.Position() > kLargestTiff) {
        throw TiffLayoutError("sie würde größer, als TIFF es erlaubt");
    }
    if (builder.Position() - layout.fileSize > detail::kLargestRawTail) {
        throw TiffLayoutError(kTooLarge);
    }
    plan.tail = builder.Take();
    return plan;
}

// The name still leads, without a link (or by the link the scan saw), to the very file opened, and that
// file has the size and modification time given.
bool StillTheFile(const ReadFile& file, int fd, off_t size, const timespec& mtime) {
    struct stat named {};
    struct stat now {};
    if (::fstatat(file.folder.get(), file.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(named.st_mode) || named.st_dev != file.identity.st_dev ||
        named.st_ino != file.identity.st_ino || ::fstat(fd, &now) != 0 || now.st_size != size ||
        now.st_mtim.tv_sec != mtime.tv_sec || now.st_mtim.tv_nsec != mtime.tv_nsec) {
        return false;
    }
    if (file.throughLink && file.linkFolder) {
        if (::fstatat(file.linkFolder.get(), file.linkName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(named.st_mode) ||
            ::fstatat(file.linkFolder.get(), file.linkName.c_str(), &named, 0) != 0 ||
            named.st_dev != file.identity.st_dev || named.st_ino != file.identity.st_ino) {
            return false;
        }
    }
    return true;
}

// Puts the file back as it was: the old pointer (when it was switched), the old size, the old time; errno
// or 0.
int PutBack(int fd, const RawWritePlan& plan, bool switched, const timespec& mtime) {
    int error = switched ? WriteFileAt(fd, plan.oldPointer, plan.pointerOffset) : 0;
    if (error == 0 && ::ftruncate(fd, static_cast<off_t>(plan.oldSize)) != 0) {
        error = errno;
    }
    const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, mtime};
    if (error == 0 && ::futimens(fd, times.data()) != 0) {
        error = errno;
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    return error;
}

}  // namespace

void SetRawWriteHook(RawWriteHook hook) { Hook() = std::move(hook); }

namespace {

// Appends the plan's tail and switches its pointer under a journal, as WriteGpsIntoRaw describes.
RawWriteDone ApplyRawPlan(const std::string& path, const ReadFile& file, const RawWritePlan& plan,
                          bool keepMtime) {
    const FileDescriptor out = OpenReadFileForWriting(file);
    const int fd = out.get();
    const timespec& oldTime = file.identity.st_mtim;

    // Beside the link when the file was reached through one: the next run scans the link's folder.
    const bool besideLink = file.throughLink && file.linkFolder;
    const int journalFolder = besideLink ? file.linkFolder.get() : file.folder.get();
    const std::string& entryName = besideLink ? file.linkName : file.name;
    RawJournalHead head{};
    head.throughLink = besideLink ? 1 : 0;
    head.device = static_cast<std::uint64_t>(file.identity.st_dev);
    head.inode = static_cast<std::uint64_t>(file.identity.st_ino);
    head.owner = file.identity.st_uid;
    head.oldSize = plan.oldSize;
    head.pointerOffset = plan.pointerOffset;
    head.mtimeSeconds = oldTime.tv_sec;
    head.mtimeNanoseconds = oldTime.tv_nsec;
    head.keepMtime = keepMtime ? 1 : 0;
    head.oldPointer = plan.oldPointer;
    head.newPointer = plan.newPointer;
    head.tailSize = plan.tail.size();
    head.nameLength = entryName.size();
    detail::WriteRawJournal(journalFolder, entryName, path, head, plan.tail);

    // Fails the write: the file put back as it was and the journal removed, or, when the file cannot be
    // put back, the journal left for the next run.
    const auto fail = [&](bool appended, bool switched, auto&& raise) {
        if ((!appended || PutBack(fd, plan, switched, oldTime) == 0)) {
            static_cast<void>(detail::RemoveRawJournal(journalFolder, entryName));
        }
        raise();
    };
    const auto streamError = [](int error) {
        return [error] { throw StreamError(std::string(kStreamWriteError) + ": " + ReasonText(error)); };
    };
    const auto skipped = [&path] { return [&path] { throw FileSkippedError(path, kChangedSinceRead); }; };

    int error = AfterStep(RawWriteStep::journal);
    if (error != 0) {
        fail(false, false, streamError(error));
    }
    if (!StillTheFile(file, fd, file.identity.st_size, oldTime)) {
        fail(false, false, skipped());
    }
    error = WriteFileAt(fd, plan.tail, plan.oldSize);
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = AfterStep(RawWriteStep::append);
    }
    if (error != 0) {
        fail(true, false, streamError(error));
    }
    struct stat appended {};
    if (::fstat(fd, &appended) != 0 ||
        !StillTheFile(file, fd, static_cast<off_t>(plan.oldSize + plan.tail.size()), appended.st_mtim)) {
        fail(true, false, skipped());
    }
    error = WriteFileAt(fd, plan.newPointer, plan.pointerOffset);
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = AfterStep(RawWriteStep::switchPointer);
    }
    if (error != 0) {
        fail(true, true, streamError(error));
    }
    if (keepMtime) {
        const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, oldTime};
        error = ::futimens(fd, times.data()) != 0 ? errno : 0;
        if (error == 0 && ::fsync(fd) != 0) {
            error = errno;
        }
        if (error == 0) {
            error = AfterStep(RawWriteStep::times);
        }
        if (error != 0) {
            fail(true, true, [&path, error] {
                throw FileError("Die Änderungszeit von " + path + " konnte nicht gesetzt werden. " +
                                ReasonText(error));
            });
        }
    }
    error = detail::RemoveRawJournal(journalFolder, entryName);
    if (error != 0) {
        // Left, the journal would only confirm this write; but a journal that cannot go would block the
        // next write of the file, so the write is undone and reported rather than half kept.
        fail(true, true, [&path, error] {
            throw FileError("Datei " + path + " kann nicht erstellt werden. " + ReasonText(error));
        });
    }
    return RawWriteDone{plan.oldSize, plan.pointerOffset, plan.oldPointer, oldTime};
}

}  // namespace

RawWriteDone WriteGpsIntoRaw(const std::string& path, const TCustomExifData& gps, bool followLink,
                             bool keepMtime) {
    const ReadFile file = OpenFileForReplacing(path, followLink);
    const FileTiffSource source(file.file.get(), static_cast<std::uint64_t>(file.identity.st_size));
    RawWritePlan plan;
    try {
        plan = PlanGpsWrite(ReadTiffLayout(source), gps);
    } catch (const TiffLayoutError& refused) {
        throw RawFileRefused(path, refused.what());
    }
    return ApplyRawPlan(path, file, plan, keepMtime);
}

std::optional<RawWriteDone> RemoveGpsFromRaw(const std::string& path, bool followLink, bool keepMtime,
                                             bool dryRun) {
    const ReadFile file = OpenFileForReplacing(path, followLink);
    const FileTiffSource source(file.file.get(), static_cast<std::uint64_t>(file.identity.st_size));
    std::optional<RawWritePlan> plan;
    try {
        const TiffLayout layout = ReadTiffLayout(source);
        plan = PlanGpsRemoval(layout, true);
        if (plan) {
            // IFD0 made anew must leave a file the next write takes as it took this one: one whose values
            // overlap the header's pointer keeps its GPSInfo entry and gets a directory without the
            // position instead.
            try {
                static_cast<void>(ReadTiffLayout(PlannedTiffSource(source, *plan)));
            } catch (const TiffLayoutError&) {
                plan = PlanGpsRemoval(layout, false);
                static_cast<void>(ReadTiffLayout(PlannedTiffSource(source, *plan)));
            }
        }
    } catch (const TiffLayoutError& refused) {
        throw RawFileRefused(path, refused.what());
    }
    if (!plan) {
        return std::nullopt;
    }
    if (dryRun) {
        return RawWriteDone{plan->oldSize, plan->pointerOffset, plan->oldPointer, file.identity.st_mtim};
    }
    return ApplyRawPlan(path, file, *plan, keepMtime);
}

}  // namespace zeloro
