// src/metadata/MakerNotes.cpp: maker-note classes, their format tests and directory rules, the registry
// and the view that reads a maker note's directory into the esMakerNote section.
#include "metadata/MakerNotes.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "metadata/ExifData.h"
#include "metadata/TiffReader.h"

namespace zeloro {

namespace {

[[nodiscard]] const TCustomExifData* OwnerOf(const TExifTag& tag) noexcept {
    return tag.Section() != nullptr ? tag.Section()->Owner() : nullptr;
}

[[nodiscard]] std::string CameraMakeOf(const TExifTag& tag) {
    const TCustomExifData* owner = OwnerOf(tag);
    return owner != nullptr ? owner->CameraMake() : std::string();
}

[[nodiscard]] std::string CameraModelOf(const TExifTag& tag) {
    const TCustomExifData* owner = OwnerOf(tag);
    return owner != nullptr ? owner->CameraModel() : std::string();
}

// More than `minCount` elements and the data starts with `header` (which may hold zero bytes).
[[nodiscard]] bool StartsWith(const TExifTag& tag, std::int32_t minCount, std::string_view header) noexcept {
    const std::span<const std::uint8_t> data = tag.Bytes();
    return tag.ElementCount() > minCount && data.size() >= header.size() &&
           std::memcmp(data.data(), header.data(), header.size()) == 0;
}

bool NeverAccepts(const TExifTag& /*tag*/, std::int32_t& headerSize) {
    headerSize = 0;
    return false;
}

bool AlwaysAccepts(const TExifTag& /*tag*/, std::int32_t& headerSize) {
    headerSize = 0;
    return true;
}

void KeepDirectoryInfo(const TExifTag& /*tag*/, TEndianness& /*endianness*/,
                       TExifDataOffsetsType& /*offsetsType*/) {}

void LittleEndianDirectory(const TExifTag& /*tag*/, TEndianness& endianness,
                           TExifDataOffsetsType& /*offsetsType*/) {
    endianness = SmallEndian;
}

bool CanonTest(const TExifTag& tag, std::int32_t& headerSize) {
    headerSize = 0;
    return CameraMakeOf(tag) == "Canon";
}

bool NikonType2Test(const TExifTag& tag, std::int32_t& headerSize) {
    headerSize = 0;
    return CameraMakeOf(tag).starts_with("NIKON");
}

bool PanasonicTest(const TExifTag& tag, std::int32_t& headerSize) {
    headerSize = 12;
    return StartsWith(tag, 12, std::string_view("Panasonic\0\0\0", 12));
}

bool NikonType1Test(const TExifTag& tag, std::int32_t& headerSize) {
    headerSize = 8;
    return StartsWith(tag, 8, std::string_view("Nikon\0\x01\0", 8));
}

bool NikonType3Test(const TExifTag& tag, std::int32_t& headerSize) {
    headerSize = 18;
    return StartsWith(tag, 18, std::string_view("Nikon\0\x02", 7));
}

// The maker note carries a TIFF header of its own at byte 10; its mark decides the byte order and its
// offsets count from it.
void NikonType3DirectoryInfo(const TExifTag& tag, TEndianness& endianness,
                             TExifDataOffsetsType& offsetsType) {
    const std::span<const std::uint8_t> data = tag.Bytes();
    endianness = (data.size() > 11 && data[10] == 'M' && data[11] == 'M') ? BigEndian : SmallEndian;
    offsetsType = doFromIFDStart;
}

bool SonyTest(const TExifTag& tag, std::int32_t& headerSize) {
    headerSize = 12;
    return StartsWith(tag, 12, "SONY DSC");
}

// Sony writes little-endian maker notes even in big-endian EXIF blocks, except on the DSLR-A100.
void SonyDirectoryInfo(const TExifTag& tag, TEndianness& endianness, TExifDataOffsetsType& /*offsetsType*/) {
    endianness = CameraModelOf(tag) == "DSLR-A100" ? BigEndian : SmallEndian;
}

template <typename T>
std::unique_ptr<TExifMakerNote> Make(TExifSection& section) {
    return std::make_unique<T>(section);
}

}  // namespace

// The class values: constant-initialised, so they exist before any registry or container does.
namespace {
constinit const MakerNoteClass kUnrecognizedClass{"TUnrecognizedMakerNote", nullptr, NeverAccepts,
                                                  KeepDirectoryInfo, Make<TUnrecognizedMakerNote>};
constinit const MakerNoteClass kHeaderlessClass{"THeaderlessMakerNote", nullptr, AlwaysAccepts,
                                                KeepDirectoryInfo, Make<THeaderlessMakerNote>};
constinit const MakerNoteClass kCanonClass{"TCanonMakerNote", &kHeaderlessClass, CanonTest,
                                           LittleEndianDirectory, Make<TCanonMakerNote>};
constinit const MakerNoteClass kNikonType2Class{"TNikonType2MakerNote", &kHeaderlessClass, NikonType2Test,
                                                KeepDirectoryInfo, Make<TNikonType2MakerNote>};
constinit const MakerNoteClass kPanasonicClass{"TPanasonicMakerNote", nullptr, PanasonicTest,
                                               LittleEndianDirectory, Make<TPanasonicMakerNote>};
constinit const MakerNoteClass kNikonType1Class{"TNikonType1MakerNote", nullptr, NikonType1Test,
                                                KeepDirectoryInfo, Make<TNikonType1MakerNote>};
constinit const MakerNoteClass kNikonType3Class{"TNikonType3MakerNote", nullptr, NikonType3Test,
                                                NikonType3DirectoryInfo, Make<TNikonType3MakerNote>};
constinit const MakerNoteClass kSonyClass{"TSonyMakerNote", nullptr, SonyTest, SonyDirectoryInfo,
                                          Make<TSonyMakerNote>};
}  // namespace

ExifMakerNoteClass TUnrecognizedMakerNote::Class() noexcept { return &kUnrecognizedClass; }
ExifMakerNoteClass THeaderlessMakerNote::Class() noexcept { return &kHeaderlessClass; }
ExifMakerNoteClass TCanonMakerNote::Class() noexcept { return &kCanonClass; }
ExifMakerNoteClass TNikonType2MakerNote::Class() noexcept { return &kNikonType2Class; }
ExifMakerNoteClass TPanasonicMakerNote::Class() noexcept { return &kPanasonicClass; }
ExifMakerNoteClass TNikonType1MakerNote::Class() noexcept { return &kNikonType1Class; }
ExifMakerNoteClass TNikonType3MakerNote::Class() noexcept { return &kNikonType3Class; }
ExifMakerNoteClass TSonyMakerNote::Class() noexcept { return &kSonyClass; }

bool MakerNoteClass::InheritsFrom(const MakerNoteClass* ancestor) const noexcept {
    for (const MakerNoteClass* cls = this; cls != nullptr; cls = cls->parent_) {
        if (cls == ancestor) {
            return true;
        }
    }
    return false;
}

bool MakerNoteClass::FormatIsOK(const TExifTag& sourceTag) const {
    std::int32_t headerSize = 0;
    return FormatIsOK(sourceTag, headerSize);
}

bool MakerNoteClass::FormatIsOK(const TExifTag& sourceTag, std::int32_t& headerSize) const {
    headerSize = 0;
    return sourceTag.DataType() == tdUndefined && sourceTag.ElementCount() > 1 &&
           formatTest_(sourceTag, headerSize);
}

void MakerNoteClass::GetDirectoryInfo(const TExifTag& sourceTag, TEndianness& endianness,
                                      TExifDataOffsetsType& offsetsType) const {
    directoryInfo_(sourceTag, endianness, offsetsType);
}

std::unique_ptr<TExifMakerNote> MakerNoteClass::Create(TExifSection& section) const {
    return factory_(section);
}

TExifMakerNote::TExifMakerNote(ExifMakerNoteClass cls, TExifSection& section) : FClass(cls), FTags(&section) {
    if (cls == TUnrecognizedMakerNote::Class()) {
        return;
    }
    TCustomExifData* owner = section.Owner();
    const TExifTag* tag = owner != nullptr ? owner->Sections(esDetails).Find(ttMakerNote) : nullptr;
    std::int32_t headerSize = 0;
    if (tag == nullptr || !cls->FormatIsOK(*tag, headerSize)) {
        throw EInvalidMakerNoteFormat();
    }
    LoadDirectory(*tag, headerSize);
}

void TExifMakerNote::LoadDirectory(const TExifTag& makerNoteTag, std::int32_t headerSize) {
    const TCustomExifData& owner = *FTags->Owner();
    FDataOffsetsType = doFromExifStart;
    FEndianness = owner.Endianness();
    FClass->GetDirectoryInfo(makerNoteTag, FEndianness, FDataOffsetsType);

    // The base is where the reader's "TIFF header" lies relative to the maker note's first byte: offsets
    // counted from the EXIF block's TIFF header then land inside the maker note.
    std::int64_t basePosition = 0;
    std::int64_t offsetCorrection = 0;
    switch (FDataOffsetsType) {
        case doFromExifStart:
            basePosition = -makerNoteTag.OriginalDataOffset();
            break;
        case doFromMakerNoteStart:
            basePosition = 0;
            break;
        case doFromIFDStart:
            basePosition = headerSize;
            break;
    }
    if (FDataOffsetsType == doFromIFDStart) {
        offsetCorrection = -8;
    } else {
        // A program that moved the maker note recorded the shift; its offsets still count from the old place.
        const TLongIntTagValue schema = owner.OffsetSchema();
        offsetCorrection = schema.MissingOrInvalid() ? 0 : schema.Value();
    }

    ReadOnlyMemoryStream stream(makerNoteTag.Bytes());
    TTiffInfo info;
    info.Stream = &stream;
    info.BasePosition = basePosition;
    info.Endianness = FEndianness;
    const std::int64_t directoryOffset = headerSize - basePosition;
    TExifSection& section = *FTags;
    section.LoadAtOffset(info, offsetCorrection, directoryOffset);

    const TTiffDirectoryLoadErrors errors = section.LoadErrors();
    const bool readBadly = !errors.Empty() && !errors.Contains(leBadOffset) && section.Count() < 3;
    if (section.Count() != 0 && !readBadly) {
        return;
    }
    // Some cameras write the maker note in the other byte order than the EXIF block.
    FEndianness = FEndianness == SmallEndian ? BigEndian : SmallEndian;
    info.Endianness = FEndianness;
    section.LoadAtOffset(info, offsetCorrection, directoryOffset);
    if (!section.LoadErrors().Empty()) {
        section.Clear();
    }
    if (section.Count() == 0) {
        section.SetLoadErrors({leBadOffset});
    }
}

namespace {

std::vector<ExifMakerNoteClass> StartupRegistry() {
    return {TNikonType2MakerNote::Class(), TCanonMakerNote::Class(),      TSonyMakerNote::Class(),
            TNikonType1MakerNote::Class(), TNikonType3MakerNote::Class(), TPanasonicMakerNote::Class()};
}

std::vector<ExifMakerNoteClass>& Registry() {
    static std::vector<ExifMakerNoteClass> registry = StartupRegistry();
    return registry;
}

}  // namespace

const std::vector<ExifMakerNoteClass>& RegisteredMakerNoteTypes() { return Registry(); }

void RegisterMakerNoteType(ExifMakerNoteClass cls, TMakerNoteTypePriority priority) {
    if (cls == nullptr) {
        return;
    }
    std::vector<ExifMakerNoteClass>& registry = Registry();
    std::erase(registry, cls);
    if (priority == mtTestForLast) {
        registry.insert(registry.begin(), cls);
    } else {
        registry.push_back(cls);
    }
}

void RegisterMakerNoteTypes(std::span<const ExifMakerNoteClass> classes, TMakerNoteTypePriority priority) {
    for (const ExifMakerNoteClass cls : classes) {
        RegisterMakerNoteType(cls, priority);
    }
}

void UnregisterMakerNoteType(ExifMakerNoteClass cls) { std::erase(Registry(), cls); }

void ResetMakerNoteRegistry() { Registry() = StartupRegistry(); }

ExifMakerNoteClass DetectMakerNoteType(const TExifTag& makerNoteTag) {
    // A tag that is not UNDEFINED with more than one element passes no format test, not even the headerless
    // one; choosing the headerless view for it would only make every later save fail when the view is built.
    if (makerNoteTag.DataType() != tdUndefined || makerNoteTag.ElementCount() <= 1) {
        return TUnrecognizedMakerNote::Class();
    }
    const std::vector<ExifMakerNoteClass>& registry = Registry();
    for (auto it = registry.rbegin(); it != registry.rend(); ++it) {
        if ((*it)->FormatIsOK(makerNoteTag)) {
            return *it;
        }
    }
    return THeaderlessMakerNote::Class();
}

std::unique_ptr<TExifMakerNote> CreateMakerNoteView(ExifMakerNoteClass& makerNoteType,
                                                    TExifSection& makerNoteSection) {
    if (makerNoteType == nullptr) {
        makerNoteType = TUnrecognizedMakerNote::Class();
    }
    std::unique_ptr<TExifMakerNote> view = makerNoteType->Create(makerNoteSection);
    if (makerNoteType == THeaderlessMakerNote::Class() && makerNoteSection.Count() == 0) {
        makerNoteType = TUnrecognizedMakerNote::Class();
        view = std::make_unique<TUnrecognizedMakerNote>(makerNoteSection);
    }
    return view;
}

}  // namespace zeloro
