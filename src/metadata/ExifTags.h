// src/metadata/ExifTags.h: the in-memory EXIF model below the container: TIFF data types, rationals,
// one tag (TExifTag), one directory of tags (TExifSection, TExtendableExifSection), and the exceptions
// of the EXIF layer. Every change reaches the owning container (TCustomExifData, metadata/ExifData.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Currency.h"
#include "common/DateTime.h"
#include "metadata/VelExifException.h"

namespace zeloro {

class TCustomExifData;
class TExifSection;
struct TTiffTagInfo;
struct TTiffDirectory;
struct TTiffInfo;

// "Malformed TIFF data"
class EInvalidTiffData : public EVelExifException {
public:
    EInvalidTiffData() : EVelExifException(kMessage) {}
    using EVelExifException::EVelExifException;
    static constexpr const char* kMessage = "Malformed TIFF data";
};
// "Tag may contain only ASCII string data"
class ENotOnlyASCIIError : public EInvalidTiffData {
public:
    ENotOnlyASCIIError() : EInvalidTiffData(kMessage) {}
    static constexpr const char* kMessage = "Tag may contain only ASCII string data";
};
// "Tag with ID of "%d" already exists in section"
class ETagAlreadyExists : public EInvalidTiffData {
public:
    explicit ETagAlreadyExists(unsigned id);
};
// "No Exif header found"
class EInvalidExifData : public EVelExifException {
public:
    EInvalidExifData() : EVelExifException(kMessage) {}
    static constexpr const char* kMessage = "No Exif header found";
};
class EExifDataPatcherError : public EVelExifException {
public:
    using EVelExifException::EVelExifException;
};
// "Illegal attempt to edit the Exif data in such a way that it would change the file structure"
class EIllegalEditOfExifData : public EExifDataPatcherError {
public:
    EIllegalEditOfExifData() : EExifDataPatcherError(kMessage) {}
    static constexpr const char* kMessage =
        "Illegal attempt to edit the Exif data in such a way that it would change the file structure";
};

enum TTiffDataType : std::uint16_t {
    tdByte = 1,
    tdAscii = 2,
    tdWord = 3,              // SHORT
    tdLongWord = 4,          // LONG
    tdLongWordFraction = 5,  // RATIONAL
    tdShortInt = 6,          // SBYTE
    tdUndefined = 7,
    tdSmallInt = 8,          // SSHORT
    tdLongInt = 9,           // SLONG
    tdLongIntFraction = 10,  // SRATIONAL
    tdSingle = 11,           // FLOAT
    tdDouble = 12,
    tdSubDirectory = 13,  // IFD
};

[[nodiscard]] constexpr bool IsValidTiffDataType(std::uint16_t code) noexcept {
    return code >= 1 && code <= 13;
}
// Size of one element; 0 for a code outside 1..13.
[[nodiscard]] constexpr std::uint32_t TiffElementSize(std::uint16_t code) noexcept {
    constexpr std::uint8_t sizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return code <= 13 ? sizes[code] : 0;
}

// A set of data type codes.
class TTiffDataTypes {
public:
    constexpr TTiffDataTypes() = default;
    constexpr TTiffDataTypes(std::initializer_list<TTiffDataType> types) {
        for (const TTiffDataType t : types) bits_ = static_cast<std::uint16_t>(bits_ | (1U << t));
    }
    [[nodiscard]] constexpr bool Contains(std::uint16_t code) const noexcept {
        return code < 16 && (bits_ & (1U << code)) != 0;
    }
    [[nodiscard]] static constexpr TTiffDataTypes All() {
        TTiffDataTypes r;
        r.bits_ = 0x3FFE;
        return r;
    }

private:
    std::uint16_t bits_ = 0;
};

enum TTiffDirectoryLoadError : std::uint8_t { leBadOffset = 0, leBadTagCount = 1, leBadTagHeader = 2 };

class TTiffDirectoryLoadErrors {
public:
    constexpr TTiffDirectoryLoadErrors() = default;
    constexpr TTiffDirectoryLoadErrors(std::initializer_list<TTiffDirectoryLoadError> errors) {
        for (const auto e : errors) Include(e);
    }
    constexpr void Include(TTiffDirectoryLoadError e) noexcept {
        bits_ = static_cast<std::uint8_t>(bits_ | (1U << e));
    }
    [[nodiscard]] constexpr bool Contains(TTiffDirectoryLoadError e) const noexcept {
        return (bits_ & (1U << e)) != 0;
    }
    [[nodiscard]] constexpr bool Empty() const noexcept { return bits_ == 0; }
    constexpr void Clear() noexcept { bits_ = 0; }
    friend constexpr bool operator==(TTiffDirectoryLoadErrors, TTiffDirectoryLoadErrors) = default;

private:
    std::uint8_t bits_ = 0;
};

using TTiffTagID = std::uint16_t;

enum TExifSectionKindEx : std::uint8_t {
    esUserDefined = 0,
    esGeneral = 1,  // IFD0
    esDetails = 2,  // EXIF sub-directory
    esInterop = 3,
    esGPS = 4,
    esThumbnail = 5,  // IFD1
    esMakerNote = 6,
};
using TExifSectionKind = TExifSectionKindEx;  // esGeneral .. esMakerNote
inline constexpr TExifSectionKind kFirstSectionKind = esGeneral;
inline constexpr TExifSectionKind kLastSectionKind = esMakerNote;

// Tag IDs the load and save paths steer by.
inline constexpr TTiffTagID ttExifOffset = 0x8769;
inline constexpr TTiffTagID ttGPSOffset = 0x8825;
inline constexpr TTiffTagID ttInteropOffset = 0xA005;
inline constexpr TTiffTagID ttMakerNote = 0x927C;
inline constexpr TTiffTagID ttThumbnailOffset = 0x0201;
inline constexpr TTiffTagID ttThumbnailSize = 0x0202;
inline constexpr TTiffTagID ttCompression = 0x0103;
inline constexpr TTiffTagID ttPadding = 0xEA1C;
inline constexpr TTiffTagID ttOffsetSchema = 0xEA1D;

// Unsigned rational, numerator first; a denominator of 0 marks a missing value (0/0 for "missing").
struct TTiffLongWordFraction {
    std::uint32_t Numerator = 0;
    std::uint32_t Denominator = 0;

    constexpr TTiffLongWordFraction() = default;
    constexpr TTiffLongWordFraction(std::uint32_t numerator, std::uint32_t denominator)
        : Numerator(numerator), Denominator(denominator) {}
    // From a quotient with four decimal places, reduced: 12.3456 -> 7716/625, 0 -> 0/1. A negative or too
    // large quotient raises RangeError "Fehler bei Bereichsprüfung".
    explicit TTiffLongWordFraction(Currency quotient);
    // "n/d" or "n" (denominator 1), both parts in 0..4294967295; anything else gives 0/0.
    explicit TTiffLongWordFraction(std::string_view text);
    [[nodiscard]] std::uint64_t PackedValue() const noexcept {
        return static_cast<std::uint64_t>(Denominator) << 32U | Numerator;
    }
    [[nodiscard]] constexpr bool MissingOrInvalid() const noexcept { return Denominator == 0; }
    // Empty for a denominator of 0, the numerator alone for 1, otherwise "n/d".
    [[nodiscard]] std::string AsString() const;
    [[nodiscard]] double Quotient() const noexcept {
        return static_cast<double>(Numerator) / static_cast<double>(Denominator);
    }
    friend constexpr bool operator==(TTiffLongWordFraction, TTiffLongWordFraction) = default;
};

struct TTiffLongIntFraction {
    std::int32_t Numerator = 0;
    std::int32_t Denominator = 0;

    constexpr TTiffLongIntFraction() = default;
    constexpr TTiffLongIntFraction(std::int32_t numerator, std::int32_t denominator)
        : Numerator(numerator), Denominator(denominator) {}
    // "n/d" or "n", both signed 32-bit; anything else gives 0/0.
    explicit TTiffLongIntFraction(std::string_view text);
    [[nodiscard]] constexpr bool MissingOrInvalid() const noexcept { return Denominator == 0; }
    [[nodiscard]] std::string AsString() const;
    friend constexpr bool operator==(TTiffLongIntFraction, TTiffLongIntFraction) = default;
};

// A value read from a tag together with the flag that the tag was absent or unusable.
struct TLongWordTagValue {
    std::uint32_t FValue = 0;
    bool FMissingOrInvalid = true;
    [[nodiscard]] bool MissingOrInvalid() const noexcept { return FMissingOrInvalid; }
    [[nodiscard]] std::uint32_t Value() const noexcept { return FValue; }
    friend bool operator==(const TLongWordTagValue&, const TLongWordTagValue&) = default;
};
struct TLongIntTagValue {
    std::int32_t FValue = 0;
    bool FMissingOrInvalid = true;
    [[nodiscard]] bool MissingOrInvalid() const noexcept { return FMissingOrInvalid; }
    [[nodiscard]] std::int32_t Value() const noexcept { return FValue; }
    friend bool operator==(const TLongIntTagValue&, const TLongIntTagValue&) = default;
};
struct TWordTagValue {
    std::uint16_t FValue = 0;
    bool FMissingOrInvalid = true;
    [[nodiscard]] bool MissingOrInvalid() const noexcept { return FMissingOrInvalid; }
    [[nodiscard]] std::uint16_t Value() const noexcept { return FValue; }
    friend bool operator==(const TWordTagValue&, const TWordTagValue&) = default;
};

// At least 2: the padding tag's data begins with its own ID in little-endian order.
using TExifPaddingTagSize = std::int32_t;

// One tag, owned by its section. Data() is held little-endian whatever the file's byte order.
class TExifTag {
public:
    enum class ChangeKind : std::uint8_t { Data, Size, ID };

    // A negative count becomes 0; the data is zero-filled. Created in memory: well-formed, original offset 0.
    TExifTag(TExifSection* section, TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount);
    // From a directory entry read by the TIFF reader; reads the data when the entry is valid.
    TExifTag(TExifSection* section, const TTiffTagInfo& info, const TTiffInfo& tiff);
    // Detaches the tag from its section (a section change) and frees the data.
    ~TExifTag();
    TExifTag(const TExifTag&) = delete;
    TExifTag& operator=(const TExifTag&) = delete;

    // Destroys the tag: it is taken out of its section and freed.
    void Delete();
    // None: count 0. Otherwise the source's ID (when the source is in another section or this tag has none),
    // then UpdateData(source type, count, data).
    void Assign(const TExifTag* source);
    // Type, count and (optionally) new data in one step; see the algorithm in the implementation.
    void UpdateData(TTiffDataType newType, std::int32_t newCount, const void* newData);
    // Overwrites the whole buffer with DataSize() bytes from value.
    void UpdateData(const void* value);
    void Changed(ChangeKind kind = ChangeKind::Data);

    [[nodiscard]] TTiffTagID ID() const noexcept { return id_; }
    void SetID(TTiffTagID value);
    [[nodiscard]] TTiffDataType DataType() const noexcept { return dataType_; }
    void SetDataType(TTiffDataType value);
    [[nodiscard]] std::int32_t ElementCount() const noexcept { return elementCount_; }
    void SetElementCount(std::int32_t value);
    [[nodiscard]] std::uint32_t ElementSize() const noexcept { return TiffElementSize(dataType_); }
    [[nodiscard]] std::uint32_t DataSize() const noexcept {
        return static_cast<std::uint32_t>(elementCount_) * ElementSize();
    }
    [[nodiscard]] const std::uint8_t* Data() const noexcept { return data_.data(); }
    [[nodiscard]] std::uint8_t* Data() noexcept { return data_.data(); }
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept { return data_; }
    [[nodiscard]] std::int64_t OriginalDataOffset() const noexcept { return originalDataOffset_; }
    [[nodiscard]] std::int32_t OriginalDataSize() const noexcept { return originalDataSize_; }
    [[nodiscard]] bool WellFormed() const noexcept { return wellFormed_; }
    [[nodiscard]] TExifSection* Section() const noexcept { return section_; }

    [[nodiscard]] TTiffLongWordFraction ReadFraction(std::int32_t index,
                                                     TTiffLongWordFraction def) const noexcept;
    [[nodiscard]] std::uint32_t ReadLongWord(std::int32_t index, std::uint32_t def) const noexcept;
    [[nodiscard]] std::uint16_t ReadWord(std::int32_t index, std::uint16_t def) const noexcept;
    // BYTE tag of IFD0 with an ID in 40091..40095: UTF-16 text.
    [[nodiscard]] bool HasWindowsStringData() const noexcept;
    [[nodiscard]] bool IsPadding() const noexcept;
    void SetAsPadding(TExifPaddingTagSize size);
    // Text form (cached until the next change) and its inverse; see the implementation for each type.
    [[nodiscard]] const std::string& AsString() const;
    void SetAsString(const std::string& value);

private:
    friend class TExifSection;
    void CheckChange(TTiffTagID newID, TTiffDataType newType, std::int32_t newCount) const;

    mutable std::string asStringCache_;
    mutable bool asStringCached_ = false;
    std::vector<std::uint8_t> data_;
    TTiffDataType dataType_;
    std::int32_t elementCount_ = 0;
    TTiffTagID id_;
    std::int64_t originalDataOffset_ = 0;
    std::int32_t originalDataSize_ = 0;
    bool wellFormed_ = true;
    TExifSection* section_;
};

class TExifSection {
public:
    TExifSection(TCustomExifData* owner, TExifSectionKindEx kind);
    virtual ~TExifSection();
    TExifSection(const TExifSection&) = delete;
    TExifSection& operator=(const TExifSection&) = delete;

    [[nodiscard]] std::int32_t Count() const noexcept { return static_cast<std::int32_t>(tags_.size()); }
    [[nodiscard]] TExifTag* operator[](std::int32_t index) const {
        return tags_[static_cast<std::size_t>(index)].get();
    }
    [[nodiscard]] TExifSectionKindEx Kind() const noexcept { return kind_; }
    [[nodiscard]] TCustomExifData* Owner() const noexcept { return owner_; }
    [[nodiscard]] virtual bool IsExtendable() const noexcept { return false; }
    [[nodiscard]] TTiffDirectoryLoadErrors LoadErrors() const noexcept { return loadErrors_; }
    void SetLoadErrors(TTiffDirectoryLoadErrors errors) noexcept { loadErrors_ = errors; }
    [[nodiscard]] std::int64_t FirstTagHeaderOffset() const noexcept { return firstTagHeaderOffset_; }
    [[nodiscard]] bool Modified() const noexcept { return modified_; }
    void SetModified(bool value) noexcept { modified_ = value; }

    // Tolerates deletion of the current tag: it advances only when the current tag is still in place.
    class Iterator {
    public:
        Iterator(const TExifSection* s, std::int32_t i) : section_(s), index_(i) {}
        TExifTag* operator*();
        Iterator& operator++();
        bool operator==(const Iterator& o) const noexcept;

    private:
        const TExifSection* section_;
        std::int32_t index_;
        TExifTag* current_ = nullptr;
    };
    [[nodiscard]] Iterator begin() const { return Iterator(this, 0); }
    [[nodiscard]] Iterator end() const { return Iterator(this, -1); }

    // The first tag with the ID (with duplicate IDs, the first in list order); nullptr when absent.
    [[nodiscard]] TExifTag* Find(TTiffTagID id) const noexcept;
    [[nodiscard]] bool Find(TTiffTagID id, TExifTag*& tag) const noexcept;
    [[nodiscard]] bool TagExists(TTiffTagID id, TTiffDataTypes validTypes = TTiffDataTypes::All(),
                                 std::int32_t minCount = 1) const noexcept;
    [[nodiscard]] std::int32_t IndexOf(const TExifTag* tag) const noexcept;

    void Clear();
    bool Remove(TTiffTagID id);
    void Remove(std::initializer_list<TTiffTagID> ids);
    void Remove(std::span<const TTiffTagID> ids);
    bool RemovePaddingTag();

    // Typed reads.
    [[nodiscard]] bool TryGetByteValue(TTiffTagID id, std::int32_t index, std::uint8_t& value) const;
    [[nodiscard]] bool TryGetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t& value) const;
    [[nodiscard]] bool TryGetLongWordValue(TTiffTagID id, std::int32_t index, std::uint32_t& value) const;
    // ASCII with at least one element: the first count - 1 bytes from Windows-1252, as UTF-8.
    [[nodiscard]] bool TryGetStringValue(TTiffTagID id, std::string& value) const;
    // BYTE with more than one element: UTF-16LE text of count div 2 - 1 characters, as UTF-8.
    [[nodiscard]] bool TryGetWindowsStringValue(TTiffTagID id, std::string& value) const;
    [[nodiscard]] std::uint8_t GetByteValue(TTiffTagID id, std::int32_t index, std::uint8_t def,
                                            std::uint8_t min = 0, std::uint8_t max = 0xFF) const;
    [[nodiscard]] std::uint16_t GetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t def,
                                             std::uint16_t min = 0, std::uint16_t max = 0xFFFF) const;
    [[nodiscard]] std::int16_t GetSmallIntValue(TTiffTagID id, std::int32_t index, std::int16_t def,
                                                std::int16_t min = -32768, std::int16_t max = 32767) const;
    [[nodiscard]] TWordTagValue GetWordValue(TTiffTagID id, std::int32_t index) const;
    [[nodiscard]] TLongWordTagValue GetLongWordValue(TTiffTagID id, std::int32_t index) const;
    [[nodiscard]] TLongIntTagValue GetLongIntValue(TTiffTagID id, std::int32_t index) const;
    [[nodiscard]] std::uint32_t GetLongWordValue(TTiffTagID id, std::int32_t index, std::uint32_t def) const;
    [[nodiscard]] std::int32_t GetLongIntValue(TTiffTagID id, std::int32_t index, std::int32_t def) const;
    [[nodiscard]] TTiffLongWordFraction GetFractionValue(TTiffTagID id, std::int32_t index,
                                                         TTiffLongWordFraction def = {}) const;
    [[nodiscard]] TTiffLongIntFraction GetSignedFractionValue(TTiffTagID id, std::int32_t index,
                                                              TTiffLongIntFraction def = {}) const;
    [[nodiscard]] std::string GetStringValue(TTiffTagID id, const std::string& def = {}) const;
    [[nodiscard]] std::string GetWindowsStringValue(TTiffTagID id, const std::string& def = {}) const;
    // "YYYY:MM:DD HH:MM:SS" (19 characters, ':' at 5 and 8); default when unreadable. Whole seconds.
    [[nodiscard]] DateTimeValue GetDateTimeValue(TTiffTagID mainID, TTiffTagID subSecsID,
                                                 DateTimeValue def = 0) const;

    // Typed writes; each returns the tag written (nullptr when the write removed it).
    TExifTag* SetByteValue(TTiffTagID id, std::int32_t index, std::uint8_t value);
    TExifTag* SetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t value);
    TExifTag* SetLongWordValue(TTiffTagID id, std::int32_t index, std::uint32_t value);
    // 0/0 removes instead of sets (the last element is cut, element 0 of one deletes the tag).
    TExifTag* SetFractionValue(TTiffTagID id, std::int32_t index, TTiffLongWordFraction value);
    TExifTag* SetSignedFractionValue(TTiffTagID id, std::int32_t index, TTiffLongIntFraction value);
    // Empty text removes the tag. Text is UTF-8; stored as Windows-1252 plus a zero byte.
    TExifTag* SetStringValue(TTiffTagID id, const std::string& value);
    TExifTag* SetWindowsStringValue(TTiffTagID id, const std::string& value);
    // 0 removes the tag and its sub-second tag; otherwise writes the text and the milliseconds.
    void SetDateTimeValue(TTiffTagID mainID, TTiffTagID subSecsID, DateTimeValue value);

    // Replaces the tags with those of a directory read by the TIFF reader.
    void LoadFromDirectory(const TTiffInfo& info, const TTiffDirectory& directory);
    // Parses the directory at the offset (relative to the TIFF header) and loads it.
    void LoadAtOffset(const TTiffInfo& info, std::int64_t dataOffsetBase, std::int64_t directoryOffset);

    // Entry points of TExifTag.
    void CheckTagChange(const TExifTag& tag, TTiffTagID newID, TTiffDataType newType,
                        std::int32_t newCount) const;
    void TagChanged(TExifTag& tag, TExifTag::ChangeKind kind);
    void Changed();

protected:
    TExifTag* AddTag(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount);

private:
    friend class TExifTag;
    void DeleteAt(std::int32_t index, bool fromTagDestructor);
    void DetachTag(TExifTag* tag) noexcept;
    template <typename T>
    TExifTag* SetIntegerValue(TTiffTagID id, std::int32_t index, TTiffDataType type, T value);
    template <typename F>
    TExifTag* SetFraction(TTiffTagID id, std::int32_t index, TTiffDataType type, F value);

    std::int64_t firstTagHeaderOffset_ = 0;
    TExifSectionKindEx kind_;
    TTiffDirectoryLoadErrors loadErrors_;
    bool modified_ = false;
    TCustomExifData* owner_;
    std::vector<std::unique_ptr<TExifTag>> tags_;
    // The last date-time formatted, so that setting the same value again does not format it anew.
    DateTimeValue lastDateTimeValue_ = 0;
    std::string lastDateTimeText_;
    std::string lastSubSecText_;
};

class TExtendableExifSection : public TExifSection {
public:
    using TExifSection::TExifSection;
    [[nodiscard]] bool IsExtendable() const noexcept override { return true; }
    // ETagAlreadyExists when the ID is present.
    TExifTag* Add(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount);
    TExifTag* AddOrUpdate(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount,
                          const void* data = nullptr);
    void Assign(const TExifSection* source);
    void CopyTags(const TExifSection& source);
};

}  // namespace zeloro
