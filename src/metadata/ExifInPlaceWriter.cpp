// src/metadata/ExifInPlaceWriter.cpp: the save that keeps the layout of the EXIF block the last load read.
//
// Cameras put things into the block that no reader fully understands: maker notes with offsets into
// the rest of the block, data after them, strip thumbnails, private directories, padding. A save that
// lays the block out afresh must understand all of it or lose it. This one starts from the block as it
// was read and changes only what the container changed: a value that still fits is overwritten where
// it lies, and a directory whose entries change, or a value that grew, is written after the old end of
// the block, reached by the one pointer that changes. Every other byte keeps its offset.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>

#include "metadata/detail/ExifSave.h"
#include "metadata/detail/TiffBytes.h"

namespace zeloro::detail {
namespace {

constexpr std::int64_t kEntrySize = 12;
constexpr std::int64_t kTiffHeaderSize = 8;
constexpr std::size_t kMaxThumbnailSize = 61440;  // what the relayout writes without reducing it
// Zero bytes between the old end of the block and what is appended. A damaged pointer (one inside a
// maker note, say) may name a directory that runs past the old end; a reader used to find nothing there
// and must still find nothing (an entry count and the first entries read as zeros), not the new directories.
constexpr std::size_t kZerosAfterOldEnd = 32;

bool IsPointerTag(const TExifTag& tag) noexcept {
    return tag.ElementCount() == 1 &&
           (tag.DataType() == tdLongWord || tag.DataType() == tdLongInt || tag.DataType() == tdSubDirectory);
}

// The byte ranges of the source block and who owns each: the header, a directory (entries and next
// offset), an out-of-line value, the thumbnail. Anything else (what a maker note points to, a private
// directory) is nobody's as far as this writer knows, and is never written.
class Ownership {
public:
    explicit Ownership(const ExifSourceBlock& source) {
        const auto size = static_cast<std::int64_t>(source.tiff.size());
        Add(0, kTiffHeaderSize, &source.tiff, size);
        for (const ExifSourceDirectory& directory : source.directories) {
            if (!directory.Read()) {
                continue;
            }
            Add(directory.offset, directory.nextOffsetPosition + 4, &directory, size);
            for (const TTiffTagInfo& entry : directory.entries) {
                if (entry.IsValid() && entry.DataSize() > 4) {
                    Add(entry.DataOffset, entry.DataOffset + entry.DataSize(), &entry, size);
                }
            }
        }
        if (source.thumbnailSize > 0) {
            Add(source.thumbnailOffset, source.thumbnailOffset + source.thumbnailSize,
                &source.thumbnailOffset, size);
        }
    }

    // True when [start, end) lies inside a range of `owner` and shares no byte with a range of anyone
    // else: only then may it be overwritten where it lies.
    [[nodiscard]] bool Exclusive(std::int64_t start, std::int64_t end, const void* owner) const noexcept {
        bool inside = false;
        for (const Range& range : ranges_) {
            if (range.end <= start || range.start >= end) {
                continue;
            }
            if (range.owner != owner) {
                return false;
            }
            inside = inside || (range.start <= start && end <= range.end);
        }
        return inside;
    }

    // Marks every byte some range covers.
    void Cover(std::vector<bool>& covered) const {
        for (const Range& range : ranges_) {
            std::fill(covered.begin() + range.start, covered.begin() + range.end, true);
        }
    }

private:
    struct Range {
        std::int64_t start;
        std::int64_t end;
        const void* owner;
    };
    void Add(std::int64_t start, std::int64_t end, const void* owner, std::int64_t size) {
        start = std::clamp<std::int64_t>(start, 0, size);
        end = std::clamp<std::int64_t>(end, 0, size);
        if (start < end) {
            ranges_.push_back({start, end, owner});
        }
    }
    std::vector<Range> ranges_;
};

enum class Outcome : std::uint8_t {
    absent,  // no directory before or after the save
    kept,    // the directory stays where it was (its entries may have been overwritten there)
    moved,   // written anew after the old end of the block
    removed  // its last tag went: the pointer to it goes too
};

class InPlaceWriter {
public:
    InPlaceWriter(TExifData& exif, const ExifSourceBlock& source)
        : exif_(exif), source_(source), order_(source.endianness), ownership_(source), out_(source.tiff) {}

    std::vector<std::uint8_t> Run() {
        // Children first: a directory that moves changes the pointer in its parent before the parent
        // itself is compared with what was read.
        Link(esDetails, ttInteropOffset, esInterop);
        Link(esGeneral, ttGPSOffset, esGPS);
        Link(esGeneral, ttExifOffset, esDetails);
        const Outcome ifd1 = Write(esThumbnail);
        if (ifd1 == Outcome::moved) {
            ifd1Link_ = static_cast<std::uint32_t>(*movedTo_[esThumbnail]);
        } else if (ifd1 == Outcome::removed) {
            ifd1Link_ = 0;
        }
        if (Write(esGeneral) == Outcome::moved) {
            PutLongWord(out_.data() + 4, static_cast<std::uint32_t>(*movedTo_[esGeneral]), order_);
        }
        FollowSharedDirectories();
        return std::move(out_);
    }

private:
    struct Plan {
        TExifTag* tag = nullptr;
        const TTiffTagInfo* entry = nullptr;  // the entry the tag was made from; none for a new tag
        bool changed = true;
    };

    // Writes the child's directory, then makes the parent's pointer lead to where it lies now.
    void Link(TExifSectionKind parent, TTiffTagID pointerID, TExifSectionKind child) {
        const Outcome outcome = Write(child);
        auto& section = static_cast<TExtendableExifSection&>(exif_.RawSection(parent));
        if (outcome == Outcome::moved) {
            TExifTag* pointer = section.Find(pointerID);
            if (pointer == nullptr || !IsPointerTag(*pointer)) {
                pointer = section.AddOrUpdate(pointerID, tdLongWord, 1);
            }
            StorePointer(*pointer, static_cast<std::uint32_t>(*movedTo_[child]));
        } else if (outcome == Outcome::removed) {
            section.Remove(pointerID);
        }
    }

    // Two pointers that led to the same directory (an interoperability pointer back to IFD0, say) still
    // lead to one directory when it moved, so that a reader finds the structure it found before.
    void FollowSharedDirectories() {
        struct Pointer {
            TExifSectionKind kind;
            TExifSectionKind parent;
            TTiffTagID id;
        };
        constexpr std::array<Pointer, 3> pointers{{{esInterop, esDetails, ttInteropOffset},
                                                   {esGPS, esGeneral, ttGPSOffset},
                                                   {esDetails, esGeneral, ttExifOffset}}};
        for (const Pointer& pointer : pointers) {
            const ExifSourceDirectory& directory = source_.Directory(pointer.kind);
            if (!directory.Read() || movedTo_[pointer.kind]) {
                continue;
            }
            for (std::size_t other = esGeneral; other <= esThumbnail; ++other) {
                const ExifSourceDirectory& shared = source_.Directory(static_cast<TExifSectionKind>(other));
                if (other == pointer.kind || !movedTo_[other] || shared.offset != directory.offset) {
                    continue;
                }
                TExifTag* tag = exif_.RawSection(pointer.parent).Find(pointer.id);
                const auto at = tag != nullptr ? entryAt_.find(tag) : entryAt_.end();
                if (at == entryAt_.end() || !IsPointerTag(*tag) || !Writable(pointer.parent)) {
                    continue;
                }
                const auto value = static_cast<std::uint32_t>(*movedTo_[other]);
                StorePointer(*tag, value);
                PutLongWord(out_.data() + at->second + 8, value, order_);
            }
        }
    }

    // A directory may be written to where it lies now: it is new, or it stayed and shares no byte.
    [[nodiscard]] bool Writable(TExifSectionKind kind) const {
        return movedTo_[kind] || OwnsItsBytes(source_.Directory(kind));
    }

    [[nodiscard]] bool OwnsItsBytes(const ExifSourceDirectory& directory) const noexcept {
        const std::int64_t end = std::min<std::int64_t>(directory.nextOffsetPosition + 4,
                                                        static_cast<std::int64_t>(source_.tiff.size()));
        return directory.Read() && ownership_.Exclusive(directory.offset, end, &directory);
    }

    [[nodiscard]] bool SameAsRead(const TExifTag& tag, const TTiffTagInfo& entry) {
        if (!entry.IsValid()) {
            // An entry that failed to read loaded as an empty UNDEFINED tag; as long as it is one, a
            // directory that stays keeps the entry as it was read.
            return !tag.WellFormed() && tag.DataType() == tdUndefined && tag.ElementCount() == 0;
        }
        if (tag.DataType() != entry.DataType || tag.ElementCount() != entry.ElementCount) {
            return false;
        }
        // Data read from in front of the TIFF header is not in the kept block: the value is written anew.
        if (entry.DataOffset < 0 ||
            entry.DataSize() > static_cast<std::int64_t>(source_.tiff.size()) - entry.DataOffset) {
            return false;
        }
        scratch_.resize(tag.DataSize());
        EncodeTagData(tag, order_, scratch_.data());
        return scratch_.empty() ||
               std::memcmp(scratch_.data(), source_.tiff.data() + entry.DataOffset, scratch_.size()) == 0;
    }

    // Leads every tag back to the entry it was made from (same ID and data offset, each entry once).
    std::vector<Plan> PlanOf(const TExifSection& section, const ExifSourceDirectory& directory) {
        std::vector<Plan> plans;
        std::vector<bool> taken(directory.entries.size(), false);
        for (std::int32_t i = 0; i < section.Count(); ++i) {
            Plan plan;
            plan.tag = section[i];
            if (plan.tag->OriginalDataOffset() != 0 || !plan.tag->WellFormed()) {
                for (std::size_t e = 0; e < directory.entries.size(); ++e) {
                    const TTiffTagInfo& entry = directory.entries[e];
                    if (!taken[e] && entry.ID == plan.tag->ID() &&
                        entry.DataOffset == plan.tag->OriginalDataOffset() &&
                        entry.IsValid() == plan.tag->WellFormed()) {
                        taken[e] = true;
                        plan.entry = &entry;
                        plan.changed = !SameAsRead(*plan.tag, entry);
                        break;
                    }
                }
            }
            plans.push_back(plan);
        }
        return plans;
    }

    std::int64_t Append(std::size_t size) {
        if (out_.size() < source_.tiff.size() + kZerosAfterOldEnd) {
            out_.resize(source_.tiff.size() + kZerosAfterOldEnd, 0);
        }
        if (out_.size() % 2 != 0) {
            out_.push_back(0);  // directories and values start on a word boundary
        }
        const auto at = static_cast<std::int64_t>(out_.size());
        out_.resize(out_.size() + size, 0);
        return at;
    }

    // Where a value of more than 4 bytes goes: over its old bytes when it still fits there and they are
    // its own alone, otherwise after the end of the block.
    std::int64_t PlaceValue(const TExifTag& tag, const TTiffTagInfo* entry) {
        const std::int64_t size = tag.DataSize();
        std::int64_t at = 0;
        if (entry != nullptr && entry->IsValid() && entry->DataSize() > 4 && size <= entry->DataSize() &&
            ownership_.Exclusive(entry->DataOffset, entry->DataOffset + entry->DataSize(), entry)) {
            at = entry->DataOffset;
        } else {
            at = Append(static_cast<std::size_t>(size));
        }
        EncodeTagData(tag, order_, out_.data() + at);
        return at;
    }

    // The 12 bytes of a changed or new entry at `at`. An unchanged shape keeps the bytes of the value
    // field that a short value does not use.
    void WriteEntry(std::int64_t at, const Plan& plan) {
        const TExifTag& tag = *plan.tag;
        const bool sameShape = plan.entry != nullptr && plan.entry->IsValid() &&
                               tag.DataType() == plan.entry->DataType &&
                               tag.ElementCount() == plan.entry->ElementCount;
        PutWord(out_.data() + at, tag.ID(), order_);
        PutWord(out_.data() + at + 2, tag.DataType(), order_);
        PutLongWord(out_.data() + at + 4, static_cast<std::uint32_t>(tag.ElementCount()), order_);
        if (tag.DataSize() > 4) {
            const std::int64_t value = PlaceValue(tag, plan.entry);
            PutLongWord(out_.data() + at + 8, static_cast<std::uint32_t>(value), order_);
            return;
        }
        std::array<std::uint8_t, 4> field{};
        if (sameShape) {
            std::memcpy(field.data(), source_.tiff.data() + plan.entry->HeaderOffset + 8, field.size());
        }
        EncodeTagData(tag, order_, field.data());
        std::memcpy(out_.data() + at + 8, field.data(), field.size());
    }

    [[nodiscard]] std::optional<std::uint32_t> NextOffsetAsRead(const ExifSourceDirectory& directory) const {
        const std::int64_t at = directory.nextOffsetPosition;
        if (!directory.Read() || at < 0 || at + 4 > static_cast<std::int64_t>(source_.tiff.size())) {
            return std::nullopt;
        }
        return GetLongWord(source_.tiff.data() + at, order_);
    }

    Outcome Write(TExifSectionKind kind) {
        const TExifSection& section = exif_.RawSection(kind);
        const ExifSourceDirectory& directory = source_.Directory(kind);
        if (kind != esGeneral && section.Count() == 0) {
            if (directory.Read() && !directory.entries.empty()) {
                return Outcome::removed;
            }
            return directory.Read() ? Outcome::kept : Outcome::absent;
        }
        const std::vector<Plan> plans = PlanOf(section, directory);
        const bool sameEntries =
            directory.Read() && plans.size() == directory.entries.size() &&
            std::all_of(plans.begin(), plans.end(), [](const Plan& p) { return p.entry != nullptr; });
        const std::optional<std::uint32_t> next = NextOffsetAsRead(directory);
        const bool linkChanges = kind == esGeneral && ifd1Link_ && next != ifd1Link_;
        const bool anyChanged =
            std::any_of(plans.begin(), plans.end(), [](const Plan& p) { return p.changed; });
        if (sameEntries && !anyChanged && !linkChanges) {
            for (const Plan& plan : plans) {
                entryAt_[plan.tag] = plan.entry->HeaderOffset;
            }
            return Outcome::kept;
        }
        const bool patchable = sameEntries && (!linkChanges || next.has_value()) && OwnsItsBytes(directory);
        if (patchable) {
            for (const Plan& plan : plans) {
                entryAt_[plan.tag] = plan.entry->HeaderOffset;
                if (plan.changed) {
                    WriteEntry(plan.entry->HeaderOffset, plan);
                }
            }
            if (linkChanges) {
                PutLongWord(out_.data() + directory.nextOffsetPosition, *ifd1Link_, order_);
            }
            return Outcome::kept;
        }
        // Entries only taken out (a position removed): the directory is written again where it lies,
        // shorter, and the bytes it no longer uses are zeroed; nothing else moves.
        const bool onlyRemoved =
            directory.Read() && plans.size() < directory.entries.size() &&
            std::all_of(plans.begin(), plans.end(),
                        [this](const Plan& p) { return p.entry != nullptr && !FailedToRead(*p.tag); }) &&
            (!linkChanges || next.has_value()) && OwnsItsBytes(directory);
        if (onlyRemoved) {
            const std::int64_t at = directory.offset;
            const auto count = static_cast<std::int64_t>(plans.size());
            PutWord(out_.data() + at, static_cast<std::uint16_t>(count), order_);
            for (std::int64_t i = 0; i < count; ++i) {
                const Plan& plan = plans[static_cast<std::size_t>(i)];
                const std::int64_t entryAt = at + 2 + i * kEntrySize;
                entryAt_[plan.tag] = entryAt;
                if (plan.changed) {
                    WriteEntry(entryAt, plan);
                } else {
                    std::memcpy(out_.data() + entryAt, source_.tiff.data() + plan.entry->HeaderOffset,
                                kEntrySize);
                }
            }
            const std::int64_t linkAt = at + 2 + count * kEntrySize;
            const std::optional<std::uint32_t> link = linkChanges ? ifd1Link_ : next;
            PutLongWord(out_.data() + linkAt, link.value_or(0), order_);
            const std::int64_t oldEnd = directory.nextOffsetPosition + 4;
            std::fill(out_.data() + linkAt + 4, out_.data() + oldEnd, std::uint8_t{0});
            return Outcome::kept;
        }

        std::vector<const Plan*> written;
        for (const Plan& plan : plans) {
            if (!FailedToRead(*plan.tag)) {
                written.push_back(&plan);
            }
        }
        const auto count = static_cast<std::int64_t>(written.size());
        const std::int64_t at = Append(static_cast<std::size_t>(2 + count * kEntrySize + 4));
        PutWord(out_.data() + at, static_cast<std::uint16_t>(count), order_);
        for (std::int64_t i = 0; i < count; ++i) {
            const Plan& plan = *written[static_cast<std::size_t>(i)];
            const std::int64_t entryAt = at + 2 + i * kEntrySize;
            entryAt_[plan.tag] = entryAt;
            if (plan.changed) {
                WriteEntry(entryAt, plan);
            } else {
                std::memcpy(out_.data() + entryAt, source_.tiff.data() + plan.entry->HeaderOffset,
                            kEntrySize);
            }
        }
        // The chain goes on as it was read: IFD0 to IFD1 (or its new place), IFD1 to whatever followed it.
        const std::optional<std::uint32_t> link = kind == esGeneral && ifd1Link_ ? ifd1Link_ : next;
        PutLongWord(out_.data() + at + 2 + count * kEntrySize, link.value_or(0), order_);
        movedTo_[kind] = at;
        return Outcome::moved;
    }

    TExifData& exif_;
    const ExifSourceBlock& source_;
    TEndianness order_;
    Ownership ownership_;
    std::vector<std::uint8_t> out_;
    std::vector<std::uint8_t> scratch_;
    std::optional<std::uint32_t> ifd1Link_;  // IFD0's next-directory offset, when IFD1 moved or went
    std::array<std::optional<std::int64_t>, 7>
        movedTo_{};                                    // by section kind: the new place of a moved directory
    std::map<const TExifTag*, std::int64_t> entryAt_;  // where each tag's entry lies in the new block
};

}  // namespace

std::vector<std::uint8_t> SaveInPlace(TExifData& exif, const ExifSourceBlock& source) {
    return InPlaceWriter(exif, source).Run();
}

bool RelayoutKeepsEverything(const TExifData& exif, const ExifSourceBlock& source, bool makerNoteStays) {
    if (!makerNoteStays) {
        return false;
    }
    for (int kind = esGeneral; kind <= esThumbnail; ++kind) {
        const TExifSection& section = exif.RawSection(static_cast<TExifSectionKind>(kind));
        for (std::int32_t i = 0; i < section.Count(); ++i) {
            if (FailedToRead(*section[i])) {
                return false;  // the relayout leaves it out
            }
        }
    }
    if (source.thumbnailSize == 0
            ? exif.RawSection(esThumbnail).Count() > 0
            : source.thumbnailIsJPEG && source.thumbnailSize > static_cast<std::int64_t>(kMaxThumbnailSize)) {
        return false;  // IFD1 without thumbnail bytes is not written; a large thumbnail is reduced
    }
    std::vector<bool> covered(source.tiff.size(), false);
    Ownership(source).Cover(covered);
    for (std::size_t i = 0; i < source.tiff.size(); ++i) {
        if (!covered[i] && source.tiff[i] != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace zeloro::detail
