// src/metadata/ExifPropertyObjects.h: the small property objects of the EXIF container (versions, flash,
// resolutions, ISO speed ratings). Each is bound to its container and holds no values of its own: every
// read goes to the section, and reading never creates a tag, so that a photo only gains the tags a run
// writes.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/ExifTags.h"

namespace zeloro {

class TCustomExifData;

// A tag bound to a section of a container.
class ExifPropertyObject {
public:
    ExifPropertyObject(TCustomExifData* owner, TExifSectionKind section) : owner_(owner), section_(section) {}
    virtual ~ExifPropertyObject() = default;
    ExifPropertyObject(const ExifPropertyObject&) = delete;
    ExifPropertyObject& operator=(const ExifPropertyObject&) = delete;

    [[nodiscard]] TExifSectionKind SectionKind() const noexcept { return section_; }

protected:
    [[nodiscard]] TExifSection& Section() const;
    // Replaces the tag's type, count and data, adding the tag when it is absent (EIllegalEditOfExifData
    // when the section cannot take new tags).
    TExifTag* WriteTag(TTiffTagID id, TTiffDataType type, std::span<const std::uint8_t> data) const;

    TCustomExifData* owner_;
    TExifSectionKind section_;
};

// A version held as four single-byte elements: EXIF, FlashPix and Interop versions store the digits as
// characters ("0230" is 2.30), the GPS version stores the numbers (2, 3, 0, 0 is 2.3.0.0).
class CustomExifVersion : public ExifPropertyObject {
public:
    CustomExifVersion(TCustomExifData* owner, TExifSectionKind section, TTiffTagID tagID,
                      TTiffDataType dataType)
        : ExifPropertyObject(owner, section), tagID_(tagID), dataType_(dataType) {}

    [[nodiscard]] TTiffTagID TagID() const noexcept { return tagID_; }
    // The tag is absent, not of the version's type, or shorter than four elements.
    [[nodiscard]] bool MissingOrInvalid() const;
    // "2.30" for character versions, "2.3.0.0" for number versions; empty when missing or invalid.
    [[nodiscard]] std::string AsString() const;
    // The four elements; all zero when missing or invalid.
    [[nodiscard]] std::array<std::uint8_t, 4> Elements() const;
    void SetElements(const std::array<std::uint8_t, 4>& elements);
    // Removes the tag.
    void Clear();

protected:
    TTiffTagID tagID_;
    TTiffDataType dataType_;
};

// Major and minor as two two-digit character pairs.
class CustomExifCharVersion : public CustomExifVersion {
public:
    CustomExifCharVersion(TCustomExifData* owner, TExifSectionKind section, TTiffTagID tagID)
        : CustomExifVersion(owner, section, tagID, tdUndefined) {}
    // 0 when missing, invalid, or a pair is no two digits.
    [[nodiscard]] std::uint8_t Major() const;
    [[nodiscard]] std::uint8_t Minor() const;
    // Both below 100, otherwise RangeError before the tag is touched.
    void Assign(std::uint8_t major, std::uint8_t minor);
};

class TExifVersion : public CustomExifCharVersion {
public:
    explicit TExifVersion(TCustomExifData* owner) : CustomExifCharVersion(owner, esDetails, 36864) {}
};
class TFlashPixVersion : public CustomExifCharVersion {
public:
    explicit TFlashPixVersion(TCustomExifData* owner) : CustomExifCharVersion(owner, esDetails, 40960) {}
};
class TInteropVersion : public CustomExifCharVersion {
public:
    explicit TInteropVersion(TCustomExifData* owner) : CustomExifCharVersion(owner, esInterop, 2) {}
};

// The version a GPS directory this program creates declares (the Exif 2.3 GPS layout it follows), in a
// photo's EXIF block and in a RAW file alike.
inline constexpr std::array<std::uint8_t, 4> kCreatedGPSVersion{2, 3, 0, 0};

class TGPSVersion : public CustomExifVersion {
public:
    explicit TGPSVersion(TCustomExifData* owner) : CustomExifVersion(owner, esGPS, 0, tdByte) {}
};

// Flash (37385, SHORT bit field) and FlashEnergy (41483, RATIONAL).
class TExifFlashInfo : public ExifPropertyObject {
public:
    static constexpr TTiffTagID kFlashTag = 37385;
    static constexpr TTiffTagID kFlashEnergyTag = 41483;

    explicit TExifFlashInfo(TCustomExifData* owner) : ExifPropertyObject(owner, esDetails) {}
    [[nodiscard]] bool MissingOrInvalid() const;
    // The whole bit field; missing when the tag is.
    [[nodiscard]] TWordTagValue Value() const;
    void SetValue(std::uint16_t value);
    // Bit 0 of the field.
    [[nodiscard]] bool Fired() const;
    void SetFired(bool value);
    // Bit 6 of the field.
    [[nodiscard]] bool RedEyeReduction() const;
    void SetRedEyeReduction(bool value);
    // 0/0 when missing; writing 0/0 removes the tag.
    [[nodiscard]] TTiffLongWordFraction StrobeEnergy() const;
    void SetStrobeEnergy(TTiffLongWordFraction value);
    // Removes both tags.
    void Clear();

private:
    void SetBit(std::uint16_t mask, bool on);
};

// The unit tag's values; trTagMissing for an absent tag or (with EnsureEnumsInRange) another number.
enum ExifResolutionUnit : std::uint16_t { trNone = 1, trInch = 2, trCentimetre = 3, trTagMissing = 0xFFFF };

// X and Y resolution (RATIONAL) and their unit (SHORT).
class CustomExifResolution : public ExifPropertyObject {
public:
    CustomExifResolution(TCustomExifData* owner, TExifSectionKind section, TTiffTagID xID, TTiffTagID yID,
                         TTiffTagID unitID)
        : ExifPropertyObject(owner, section), xID_(xID), yID_(yID), unitID_(unitID) {}

    [[nodiscard]] TTiffTagID XTagID() const noexcept { return xID_; }
    [[nodiscard]] TTiffTagID YTagID() const noexcept { return yID_; }
    [[nodiscard]] TTiffTagID UnitTagID() const noexcept { return unitID_; }
    // True when X or Y is missing.
    [[nodiscard]] bool MissingOrInvalid() const;
    // 0/0 when missing; writing 0/0 removes the tag.
    [[nodiscard]] TTiffLongWordFraction X() const;
    void SetX(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction Y() const;
    void SetY(TTiffLongWordFraction value);
    [[nodiscard]] ExifResolutionUnit Unit() const;
    // trTagMissing removes the tag.
    void SetUnit(ExifResolutionUnit value);
    // Removes the three tags.
    void Clear();

private:
    TTiffTagID xID_;
    TTiffTagID yID_;
    TTiffTagID unitID_;
};

class TFocalPlaneResolution : public CustomExifResolution {
public:
    explicit TFocalPlaneResolution(TCustomExifData* owner)
        : CustomExifResolution(owner, esDetails, 41486, 41487, 41488) {}
};
class TImageResolution : public CustomExifResolution {
public:
    explicit TImageResolution(TCustomExifData* owner)
        : CustomExifResolution(owner, esGeneral, 282, 283, 296) {}
};
class TThumbnailResolution : public CustomExifResolution {
public:
    explicit TThumbnailResolution(TCustomExifData* owner)
        : CustomExifResolution(owner, esThumbnail, 282, 283, 296) {}
};

// ISOSpeedRatings (34855): one or more SHORT values.
class TISOSpeedRatings : public ExifPropertyObject {
public:
    static constexpr TTiffTagID kTag = 34855;

    explicit TISOSpeedRatings(TCustomExifData* owner) : ExifPropertyObject(owner, esDetails) {}
    [[nodiscard]] bool MissingOrInvalid() const;
    // The values; empty when the tag is missing or holds no SHORT (or BYTE) numbers.
    [[nodiscard]] std::vector<std::uint16_t> Values() const;
    // The first value (the rating a camera writes); missing with the tag.
    [[nodiscard]] TWordTagValue Value() const;
    // The values joined by ", "; empty when missing.
    [[nodiscard]] std::string AsString() const;
    // An empty list removes the tag.
    void SetValues(std::span<const std::uint16_t> values);
    void SetValue(std::uint16_t value) { SetValues(std::span<const std::uint16_t>(&value, 1)); }
    void Clear();
};

}  // namespace zeloro
