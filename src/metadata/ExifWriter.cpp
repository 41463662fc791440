// src/metadata/ExifWriter.cpp: serialises a TExifData into the EXIF block of an APP1 segment.
//
// A block the last load read is saved in place (ExifInPlaceWriter.cpp). Otherwise every directory is
// laid out afresh; only the maker note may keep its old offset, because cameras store offsets inside it
// that count from the TIFF header. The block is built in memory, so bytes that no step writes (a gap
// before a fixed maker note) are zeros.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "metadata/ExifData.h"
#include "metadata/ExifSourceBlock.h"
#include "metadata/ExifTags.h"
#include "metadata/JPEGImage.h"
#include "metadata/JPEGSegments.h"
#include "metadata/ThumbnailScaler.h"
#include "metadata/detail/ExifSave.h"
#include "metadata/detail/TiffBytes.h"

namespace zeloro {
namespace {

constexpr std::array<std::uint8_t, 6> kExifHeader{'E', 'x', 'i', 'f', 0, 0};
constexpr std::size_t kTiffHeaderSize = 8;
// A thumbnail larger than this is reduced before it is written (0xF000).
constexpr std::size_t kMaxThumbnailSize = 61440;
constexpr int kMaxReducedThumbnailQuality = 90;
// The most a TIFF structure can take in one APP1 segment (after the six-byte EXIF header).
constexpr std::int64_t kMaxTiffSizeInSegment =
    static_cast<std::int64_t>(kMaxSegmentPayload - kExifHeader.size());

constexpr std::size_t kKinds = 7;  // indexed by section kind 1..6; 0 unused

struct SectionLayout {
    std::int64_t start = 0;
    std::int64_t directorySize = 0;
    std::int64_t valueSize = 0;
    [[nodiscard]] std::int64_t End() const noexcept { return start + directorySize + valueSize; }
};

TTiffTagID PointerTagOf(TExifSectionKind child) noexcept {
    switch (child) {
        case esDetails:
            return ttExifOffset;
        case esGPS:
            return ttGPSOffset;
        case esInterop:
            return ttInteropOffset;
        default:
            return ttThumbnailOffset;
    }
}

class BlockWriter {
public:
    BlockWriter(std::vector<std::uint8_t>& out, std::size_t tiffStart, TEndianness order)
        : out_(out), tiffStart_(tiffStart), order_(order) {}

    void Seek(std::int64_t tiffOffset) {
        pos_ = tiffStart_ + static_cast<std::size_t>(tiffOffset);
        if (out_.size() < pos_) {
            out_.resize(pos_, 0);
        }
    }
    [[nodiscard]] std::int64_t Position() const noexcept {
        return static_cast<std::int64_t>(pos_ - tiffStart_);
    }

    void Raw(const std::uint8_t* bytes, std::size_t count) {
        if (pos_ + count > out_.size()) {
            out_.resize(pos_ + count, 0);
        }
        if (count > 0) {
            std::memcpy(out_.data() + pos_, bytes, count);
        }
        pos_ += count;
    }
    void Word(std::uint16_t value) {
        const std::array<std::uint8_t, 2> le{static_cast<std::uint8_t>(value),
                                             static_cast<std::uint8_t>(value >> 8U)};
        Unit(le.data(), 2);
    }
    void LongWord(std::uint32_t value) {
        std::array<std::uint8_t, 4> le{};
        for (unsigned i = 0; i < 4; ++i) {
            le[i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        Unit(le.data(), 4);
    }
    // One value held little-endian in memory, written in the block's byte order.
    void Unit(const std::uint8_t* le, std::size_t size) {
        if (order_ == SmallEndian || size == 1) {
            Raw(le, size);
            return;
        }
        std::array<std::uint8_t, 8> swapped{};
        for (std::size_t i = 0; i < size; ++i) {
            swapped[i] = le[size - 1 - i];
        }
        Raw(swapped.data(), size);
    }
    void TagData(const TExifTag& tag) {
        const std::size_t size = tag.DataSize();
        if (pos_ + size > out_.size()) {
            out_.resize(pos_ + size, 0);
        }
        detail::EncodeTagData(tag, order_, out_.data() + pos_);
        pos_ += size;
    }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t tiffStart_;
    std::size_t pos_ = 0;
    TEndianness order_;
};

}  // namespace

void TExifData::RemovePaddingTags() {
    for (int kind = kFirstSectionKind; kind <= kLastSectionKind; ++kind) {
        Sections(static_cast<TExifSectionKind>(kind)).RemovePaddingTag();
    }
}

void TExifData::StandardizeThumbnail() {
    if (!HasThumbnail()) {
        return;
    }
    TJPEGImage& thumbnail = Thumbnail();
    if (thumbnail.Width() > kStandardThumbnailWidth || thumbnail.Height() > kStandardThumbnailHeight) {
        const Bitmap reduced = ScaledToFit(thumbnail, kStandardThumbnailWidth, kStandardThumbnailHeight);
        thumbnail.Assign(reduced);
    }
}

void TExifData::CreateThumbnail(const TJPEGImage& source, std::uint32_t width, std::uint32_t height) {
    if (source.Empty()) {
        SetThumbnail(nullptr);
        return;
    }
    const Bitmap scaled = ScaledToFit(source, width, height);
    Thumbnail().Assign(scaled);
}

void TExifData::SaveToStream(Stream& stream) {
    std::vector<std::uint8_t> block;
    SaveToBytes(block);
    stream.WriteBytes(block);
}

namespace detail {

MakerNotePlacement PlaceMakerNote(const TExifSection& details) {
    MakerNotePlacement placement;
    placement.tag = details.Find(ttMakerNote);
    TExifTag* makerNote = placement.tag;
    if (makerNote == nullptr || makerNote->OriginalDataOffset() == 0 || makerNote->DataSize() <= 4) {
        return placement;
    }
    TExifTag* shift = details.Find(ttOffsetSchema);
    std::int32_t shiftValue = 0;
    const bool hasShift = shift != nullptr && shift->DataType() == tdLongInt && shift->ElementCount() == 1;
    if (hasShift) {
        std::memcpy(&shiftValue, shift->Data(), sizeof shiftValue);  // little-endian in memory, like us
    }
    // Another program moved the maker note and recorded by how much: it goes back, and the shift is
    // cleared.
    const std::int64_t offset = makerNote->OriginalDataOffset();
    const bool moveBack = hasShift && offset - shiftValue > 6;
    const std::int64_t candidate = moveBack ? offset - shiftValue : offset;
    const std::int64_t reservedSize = makerNote->OriginalDataSize();
    // A maker note that grew, that would lie inside the TIFF header or that would end beyond what one
    // segment can carry cannot keep its place without damage: it is placed like any other value.
    placement.fixed =
        makerNote->DataSize() <= static_cast<std::uint32_t>(std::max(reservedSize, std::int64_t{0})) &&
        candidate >= static_cast<std::int64_t>(kTiffHeaderSize) &&
        candidate + reservedSize <= kMaxTiffSizeInSegment;
    if (placement.fixed) {
        placement.offset = candidate;
        placement.end = candidate + reservedSize;
        placement.movedBack = moveBack;
        placement.shift = moveBack ? shift : nullptr;
    }
    return placement;
}

}  // namespace detail

void TExifData::AddVersionToCreatedGPSDirectory() {
    const TExifSection& gps = RawSection(esGPS);
    const ExifSourceBlock* source = SourceBlock();
    const bool photoHadOne = source != nullptr && source->Directory(esGPS).Read();
    if (photoHadOne || gps.Count() == 0 || gps.Find(GPSVersion().TagID()) != nullptr) {
        return;
    }
    GPSVersion().SetElements(kCreatedGPSVersion);
}

void TExifData::SaveToBytes(std::vector<std::uint8_t>& out) {
    AddVersionToCreatedGPSDirectory();
    const ExifSourceBlock* source = SourceBlock();
    if (!preserveLayoutOnSave_ || source == nullptr || source->endianness != Endianness() ||
        thumbnailEdited_) {
        SaveRelaidOut(out);
        return;
    }
    const std::vector<std::uint8_t> tiff = detail::SaveInPlace(*this, *source);
    if (static_cast<std::int64_t>(tiff.size()) > kMaxTiffSizeInSegment) {
        // What grew no longer fits one segment. A relayout drops the gaps and the old places of what
        // moved; it is the better block only when it fits and nothing of the photo's is lost by it.
        // The relayout keeps a maker note's bytes; it must keep their place too when they have one.
        const detail::MakerNotePlacement makerNote = detail::PlaceMakerNote(RawSection(esDetails));
        const bool hasPlace = makerNote.tag != nullptr && makerNote.tag->OriginalDataOffset() != 0 &&
                              makerNote.tag->OriginalDataSize() > 4;
        const bool makerNoteStays = !hasPlace || (makerNote.fixed && !makerNote.movedBack);
        if (detail::RelayoutKeepsEverything(*this, *source, makerNoteStays)) {
            std::vector<std::uint8_t> relaid;
            SaveRelaidOut(relaid);
            if (relaid.size() <= kMaxSegmentPayload) {
                out.insert(out.end(), relaid.begin(), relaid.end());
                return;
            }
        }
    }
    out.insert(out.end(), kExifHeader.begin(), kExifHeader.end());
    out.insert(out.end(), tiff.begin(), tiff.end());
}

void TExifData::SaveRelaidOut(std::vector<std::uint8_t>& out) {
    if (RemovePaddingTagsOnSave()) {
        RemovePaddingTags();
    }

    std::array<SectionLayout, kKinds> layout{};
    std::array<TExifTag*, kKinds> pointerSlot{};

    const auto measure = [&](TExifSectionKind kind, std::initializer_list<TExifSectionKind> children) {
        auto& section = static_cast<TExtendableExifSection&>(RawSection(kind));
        for (const TExifSectionKind child : children) {
            if (layout[child].directorySize > 0 || child == kind) {
                pointerSlot[child] = section.AddOrUpdate(PointerTagOf(child), tdLongWord, 1);
            } else {
                section.Remove(PointerTagOf(child));
            }
        }
        std::int64_t values = 0;
        std::int64_t entries = 0;
        for (std::int32_t i = 0; i < section.Count(); ++i) {
            if (detail::FailedToRead(*section[i])) {
                continue;
            }
            ++entries;
            const std::uint32_t size = section[i]->DataSize();
            if (size > 4) {
                values += size;
            }
        }
        if (kind != esGeneral && entries == 0) {
            return;
        }
        layout[kind].valueSize = values;
        layout[kind].directorySize = entries * 12 + 6;
    };

    measure(esInterop, {});
    measure(esGPS, {});

    // The maker note keeps its offset when it can: it may hold offsets counted from the TIFF header.
    const detail::MakerNotePlacement placement = detail::PlaceMakerNote(RawSection(esDetails));
    TExifTag* makerNote = placement.tag;
    const bool makerNoteFixed = placement.fixed;
    const std::int64_t makerNoteOffset = placement.offset;
    const std::int64_t makerNoteEnd = placement.end;
    if (placement.shift != nullptr) {
        detail::StorePointer(*placement.shift, 0);
    }

    measure(esDetails, {esInterop});
    if (makerNoteFixed) {
        layout[esDetails].valueSize -= makerNote->DataSize();
    }

    std::vector<std::uint8_t> thumbnailBytes;
    bool writeThumbnail = false;
    if (HasThumbnail()) {
        TJPEGImage& thumbnail = Thumbnail();
        thumbnail.SaveToBytes(thumbnailBytes);
        const std::int64_t measured = MeasureJPEGData(std::span<const std::uint8_t>(thumbnailBytes));
        if (measured >= 0 && static_cast<std::size_t>(measured) < thumbnailBytes.size()) {
            thumbnailBytes.resize(static_cast<std::size_t>(measured));
        }
        if (thumbnailBytes.size() > kMaxThumbnailSize) {
            thumbnailBytes.clear();
            StandardizeThumbnail();
            if (thumbnail.CompressionQuality() > kMaxReducedThumbnailQuality) {
                thumbnail.SetCompressionQuality(kMaxReducedThumbnailQuality);
            }
            thumbnail.SaveToBytes(thumbnailBytes);
            if (thumbnailBytes.size() > kMaxThumbnailSize) {
                throw Error("Assertion fehlgeschlagen (ExifWriter.cpp, Zeile " + std::to_string(__LINE__) +
                            ")");
            }
        }
        auto& ifd1 = RawSection(esThumbnail);
        ifd1.SetWordValue(ttCompression, 0, 6);
        ifd1.SetLongWordValue(ttThumbnailSize, 0, static_cast<std::uint32_t>(thumbnailBytes.size()));
        measure(esThumbnail, {esThumbnail});
        layout[esThumbnail].valueSize += static_cast<std::int64_t>(thumbnailBytes.size());
        writeThumbnail = true;
    } else if (const ExifSourceBlock* source = SourceBlock(); source != nullptr && !thumbnailEdited_ &&
                                                              source->thumbnailSize > 0 &&
                                                              !source->thumbnailIsJPEG) {
        // Thumbnail bytes that are no loadable JPEG travel as they were read, with IFD1 as it was: a
        // damaged thumbnail must not cost the photo its thumbnail directory.
        const auto from = source->tiff.begin() + source->thumbnailOffset;
        thumbnailBytes.assign(from, from + source->thumbnailSize);
        measure(esThumbnail, {esThumbnail});
        layout[esThumbnail].valueSize += static_cast<std::int64_t>(thumbnailBytes.size());
        writeThumbnail = true;
    }

    measure(esGeneral, {esDetails, esGPS});

    for (std::size_t kind = esGeneral; kind <= esMakerNote; ++kind) {
        SectionLayout& l = layout[kind];
        l.start = kind == esGeneral ? static_cast<std::int64_t>(kTiffHeaderSize) : layout[kind - 1].End();
        if (makerNoteFixed && l.End() > makerNoteOffset && l.start < makerNoteEnd) {
            l.start = makerNoteEnd;
        }
    }
    for (std::size_t kind = esDetails; kind <= esThumbnail; ++kind) {
        if (pointerSlot[kind] == nullptr) {
            continue;
        }
        const SectionLayout& l = layout[kind];
        const std::int64_t value =
            kind == esThumbnail ? l.End() - static_cast<std::int64_t>(thumbnailBytes.size()) : l.start;
        detail::StorePointer(*pointerSlot[kind], static_cast<std::uint32_t>(value));
    }

    const std::size_t blockStart = out.size();
    out.insert(out.end(), kExifHeader.begin(), kExifHeader.end());
    const TEndianness order = Endianness();
    BlockWriter writer(out, blockStart + kExifHeader.size(), order);
    writer.Seek(0);
    const std::array<std::uint8_t, 2> mark =
        order == SmallEndian ? std::array<std::uint8_t, 2>{'I', 'I'} : std::array<std::uint8_t, 2>{'M', 'M'};
    writer.Raw(mark.data(), mark.size());
    writer.Word(42);
    writer.LongWord(static_cast<std::uint32_t>(layout[esGeneral].start));

    for (std::size_t kind = esGeneral; kind <= esMakerNote; ++kind) {
        const SectionLayout& l = layout[kind];
        if (l.directorySize == 0) {
            continue;
        }
        const TExifSection& section = RawSection(static_cast<TExifSectionKind>(kind));
        writer.Seek(l.start);
        writer.Word(static_cast<std::uint16_t>((l.directorySize - 6) / 12));
        std::int64_t nextValue = l.start + l.directorySize;
        for (std::int32_t i = 0; i < section.Count(); ++i) {
            const TExifTag& tag = *section[i];
            if (detail::FailedToRead(tag)) {
                continue;
            }
            writer.Word(tag.ID());
            writer.Word(tag.DataType());
            writer.LongWord(static_cast<std::uint32_t>(tag.ElementCount()));
            const std::uint32_t size = tag.DataSize();
            if (size > 4) {
                if (&tag == makerNote && makerNoteFixed) {
                    writer.LongWord(static_cast<std::uint32_t>(makerNoteOffset));
                } else {
                    writer.LongWord(static_cast<std::uint32_t>(nextValue));
                    nextValue += size;
                }
            } else {
                const std::int64_t fieldEnd = writer.Position() + 4;
                writer.TagData(tag);
                const std::array<std::uint8_t, 4> zeros{};
                writer.Raw(zeros.data(), static_cast<std::size_t>(fieldEnd - writer.Position()));
            }
        }
        const bool chainsToThumbnail = kind == esGeneral && layout[esThumbnail].directorySize > 0;
        writer.LongWord(chainsToThumbnail ? static_cast<std::uint32_t>(layout[esThumbnail].start) : 0);
        for (std::int32_t i = 0; i < section.Count(); ++i) {
            const TExifTag& tag = *section[i];
            if (!detail::FailedToRead(tag) && tag.DataSize() > 4 && !(&tag == makerNote && makerNoteFixed)) {
                writer.TagData(tag);
            }
        }
        if (kind == esThumbnail && writeThumbnail) {
            writer.Raw(thumbnailBytes.data(), thumbnailBytes.size());
        }
    }

    if (makerNoteFixed) {
        writer.Seek(makerNoteOffset);
        writer.Raw(makerNote->Data(), makerNote->DataSize());
    }
}

}  // namespace zeloro
