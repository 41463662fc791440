// src/metadata/MakerNotes.h: the maker-note view (the camera's private directory in tag 0x927C read into
// the esMakerNote section), the maker-note classes with their format tests, and their registry.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "metadata/ExifTags.h"
#include "metadata/JPEGSegments.h"
#include "metadata/Streams.h"

namespace zeloro {

// "Invalid MakerNote format"
class EInvalidMakerNoteFormat : public EVelExifException {
public:
    EInvalidMakerNoteFormat() : EVelExifException(kMessage) {}
    static constexpr const char* kMessage = "Invalid MakerNote format";
};

// What the offsets inside a maker-note directory are counted from.
enum TExifDataOffsetsType : std::uint8_t { doFromExifStart, doFromMakerNoteStart, doFromIFDStart };

// mtTestForFirst appends to the registry (tried first), mtTestForLast inserts at the front.
enum TMakerNoteTypePriority : std::uint8_t { mtTestForLast = 0, mtTestForFirst = 1 };

class TExifMakerNote;

// A maker-note class as a value: its name, its class-level format test and directory information, and
// a factory for its view. Classes are compared by address; each exists once (TCanonMakerNote::Class()).
class MakerNoteClass {
public:
    // Whether the class accepts the maker-note tag, and the size of the header in front of the directory.
    using FormatTest = bool (*)(const TExifTag& tag, std::int32_t& headerSize);
    // May change the byte order and the offsets type the directory is read with.
    using DirectoryInfo = void (*)(const TExifTag& tag, TEndianness& endianness,
                                   TExifDataOffsetsType& offsetsType);
    using Factory = std::unique_ptr<TExifMakerNote> (*)(TExifSection& section);

    constexpr MakerNoteClass(std::string_view name, const MakerNoteClass* parent, FormatTest formatTest,
                             DirectoryInfo directoryInfo, Factory factory) noexcept
        : name_(name),
          parent_(parent),
          formatTest_(formatTest),
          directoryInfo_(directoryInfo),
          factory_(factory) {}
    MakerNoteClass(const MakerNoteClass&) = delete;
    MakerNoteClass& operator=(const MakerNoteClass&) = delete;

    [[nodiscard]] std::string_view Name() const noexcept { return name_; }
    [[nodiscard]] const MakerNoteClass* Parent() const noexcept { return parent_; }
    // True for the class itself and every class derived from it.
    [[nodiscard]] bool InheritsFrom(const MakerNoteClass* ancestor) const noexcept;

    // The tag is UNDEFINED with more than one element and the class's format test accepts it.
    [[nodiscard]] bool FormatIsOK(const TExifTag& sourceTag) const;
    [[nodiscard]] bool FormatIsOK(const TExifTag& sourceTag, std::int32_t& headerSize) const;
    void GetDirectoryInfo(const TExifTag& sourceTag, TEndianness& endianness,
                          TExifDataOffsetsType& offsetsType) const;
    // Builds the view into the esMakerNote section of a container. EInvalidMakerNoteFormat when the
    // container has no maker-note tag in esDetails or the format test refuses it.
    [[nodiscard]] std::unique_ptr<TExifMakerNote> Create(TExifSection& section) const;

private:
    std::string_view name_;
    const MakerNoteClass* parent_;
    FormatTest formatTest_;
    DirectoryInfo directoryInfo_;
    Factory factory_;
};
using ExifMakerNoteClass = const MakerNoteClass*;

// The view: the maker note's directory read into the container's esMakerNote section. Read-only as far
// as saving goes: edits of the section never reach the maker note's bytes.
class TExifMakerNote {
public:
    virtual ~TExifMakerNote() = default;
    TExifMakerNote(const TExifMakerNote&) = delete;
    TExifMakerNote& operator=(const TExifMakerNote&) = delete;

    [[nodiscard]] ExifMakerNoteClass ClassType() const noexcept { return FClass; }
    [[nodiscard]] TExifDataOffsetsType DataOffsetsType() const noexcept { return FDataOffsetsType; }
    // The byte order of the last directory read.
    [[nodiscard]] TEndianness Endianness() const noexcept { return FEndianness; }
    // The container's esMakerNote section; not owned.
    [[nodiscard]] TExifSection& Tags() const noexcept { return *FTags; }

protected:
    // Reads the directory into the section (nothing for TUnrecognizedMakerNote).
    TExifMakerNote(ExifMakerNoteClass cls, TExifSection& section);

private:
    void LoadDirectory(const TExifTag& makerNoteTag, std::int32_t headerSize);

    ExifMakerNoteClass FClass;
    TExifDataOffsetsType FDataOffsetsType = doFromExifStart;
    TEndianness FEndianness = SmallEndian;
    TExifSection* FTags;
};

// Builds nothing; its format test never accepts.
class TUnrecognizedMakerNote : public TExifMakerNote {
public:
    explicit TUnrecognizedMakerNote(TExifSection& section) : TExifMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;

protected:
    using TExifMakerNote::TExifMakerNote;
};

// A directory right at the start of the maker note, offsets from the TIFF header, the container's byte order.
class THeaderlessMakerNote : public TExifMakerNote {
public:
    explicit THeaderlessMakerNote(TExifSection& section) : TExifMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;

protected:
    using TExifMakerNote::TExifMakerNote;
};

// CameraMake exactly "Canon"; always little-endian.
class TCanonMakerNote : public THeaderlessMakerNote {
public:
    explicit TCanonMakerNote(TExifSection& section) : THeaderlessMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;
};

// CameraMake beginning with "NIKON".
class TNikonType2MakerNote : public THeaderlessMakerNote {
public:
    explicit TNikonType2MakerNote(TExifSection& section) : THeaderlessMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;
};

// "Panasonic" and three zero bytes, then the directory; little-endian.
class TPanasonicMakerNote : public TExifMakerNote {
public:
    explicit TPanasonicMakerNote(TExifSection& section) : TExifMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;
};

// "Nikon", 0, 1, 0, then the directory.
class TNikonType1MakerNote : public TExifMakerNote {
public:
    explicit TNikonType1MakerNote(TExifSection& section) : TExifMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;
};

// "Nikon", 0, 2, then a TIFF header of its own at byte 10 whose byte order and offsets the directory uses.
class TNikonType3MakerNote : public TExifMakerNote {
public:
    explicit TNikonType3MakerNote(TExifSection& section) : TExifMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;
};

// "SONY DSC" and four more header bytes; big-endian only for the DSLR-A100.
class TSonyMakerNote : public TExifMakerNote {
public:
    explicit TSonyMakerNote(TExifSection& section) : TExifMakerNote(Class(), section) {}
    [[nodiscard]] static ExifMakerNoteClass Class() noexcept;
};

// The registry is process-wide.
// Starts with TNikonType2, TCanon, TSony, TNikonType1, TNikonType3, TPanasonic; read from the back.
[[nodiscard]] const std::vector<ExifMakerNoteClass>& RegisteredMakerNoteTypes();
// Ignores nullptr; moves a registered class to its new place.
void RegisterMakerNoteType(ExifMakerNoteClass cls, TMakerNoteTypePriority priority = mtTestForLast);
void RegisterMakerNoteTypes(std::span<const ExifMakerNoteClass> classes,
                            TMakerNoteTypePriority priority = mtTestForLast);
void UnregisterMakerNoteType(ExifMakerNoteClass cls);
// Back to the start-up contents.
void ResetMakerNoteRegistry();

// The class for a loaded maker-note tag: the last registered class whose format test accepts it,
// THeaderlessMakerNote when none does.
[[nodiscard]] ExifMakerNoteClass DetectMakerNoteType(const TExifTag& makerNoteTag);

// The container's MakerNote on first use: the view of the chosen class; a headerless view that found no
// tags makes the type TUnrecognizedMakerNote and is replaced by an unrecognized view.
[[nodiscard]] std::unique_ptr<TExifMakerNote> CreateMakerNoteView(ExifMakerNoteClass& makerNoteType,
                                                                  TExifSection& makerNoteSection);

}  // namespace zeloro
