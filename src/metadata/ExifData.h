// src/metadata/ExifData.h: the EXIF container of one photo (TCustomExifData, TExifData): six sections,
// update counting and change notification, the XMP packet, the maker-note link, the thumbnail, the load
// path from a JPEG file, and the typed properties (date-times, GPS coordinates and the rest).
//
// Load: LoadFromJPEG(path) reads only the head of the file; LoadFromJPEG(span) works on bytes in memory.
// Save (defined in ExifWriter.cpp / JPEGImageEx.cpp): SaveToStream / SaveToBytes / SaveToJPEG.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Currency.h"
#include "common/DateTime.h"
#include "metadata/ExifPropertyObjects.h"
#include "metadata/ExifTags.h"
#include "metadata/JPEGImage.h"
#include "metadata/JPEGSegments.h"
#include "metadata/Streams.h"
#include "metadata/XMPPacket.h"

namespace zeloro {

class TCustomExifData;
class TExifMakerNote;
class MakerNoteClass;
class TJPEGImageEx;
struct ExifSourceBlock;
// A maker-note class is a descriptor compared by identity (metadata/MakerNotes.h).
using ExifMakerNoteClass = const MakerNoteClass*;

enum TJPEGMetaDataKind : std::uint8_t { mkExif = 0, mkIPTC = 1, mkXMP = 2 };

class TJPEGMetadataKinds {
public:
    constexpr TJPEGMetadataKinds() = default;
    constexpr TJPEGMetadataKinds(std::initializer_list<TJPEGMetaDataKind> kinds) {
        for (const auto k : kinds) Include(k);
    }
    constexpr void Include(TJPEGMetaDataKind k) noexcept {
        bits_ = static_cast<std::uint8_t>(bits_ | (1U << k));
    }
    [[nodiscard]] constexpr bool Contains(TJPEGMetaDataKind k) const noexcept {
        return (bits_ & (1U << k)) != 0;
    }
    [[nodiscard]] constexpr bool Empty() const noexcept { return bits_ == 0; }
    friend constexpr bool operator==(TJPEGMetadataKinds, TJPEGMetadataKinds) = default;

private:
    std::uint8_t bits_ = 0;
};

// Ordinal values fixed: the tagging run passes them through.
enum TGPSLatitudeRef : std::uint8_t { ltMissingOrInvalid = 0, ltNorth = 1, ltSouth = 2 };
enum TGPSLongitudeRef : std::uint8_t { lnMissingOrInvalid = 0, lnWest = 1, lnEast = 2 };

enum TTiffOrientation : std::uint16_t {
    toUndefined = 0,
    toTopLeft,
    toTopRight,
    toBottomRight,
    toBottomLeft,
    toLeftTop,
    toRightTop,
    toRightBottom,
    toLeftBottom
};
enum TWindowsStarRating : std::uint16_t {
    urUndefined = 0,
    urOneStar,
    urTwoStars,
    urThreeStars,
    urFourStars,
    urFiveStars
};
enum TGPSAltitudeRef : std::uint8_t { alTagMissing, alAboveSeaLevel, alBelowSeaLevel };
// Reference letters of the GPS directory, read as their types ("A"/"V", "2"/"3", "K"/"M"/"N", "T"/"M").
enum TGPSStatus : std::uint8_t { stMissingOrInvalid, stMeasurementActive, stMeasurementVoid };
enum TGPSMeasureMode : std::uint8_t { mmUnknown, mm2D, mm3D };
enum TGPSSpeedRef : std::uint8_t { srMissingOrInvalid, srKilometresPerHour, srMilesPerHour, srKnots };
enum TGPSDirectionRef : std::uint8_t { drMissingOrInvalid, drTrueNorth, drMagneticNorth };
enum TGPSDistanceRef : std::uint8_t { dsMissingOrInvalid, dsKilometres, dsMiles, dsKnots };
enum TExifFileSource : std::uint8_t { fsUnknown, fsFilmScanner, fsReflectionPrintScanner, fsDigitalCamera };
enum TExifSceneType : std::uint8_t { esUnknown, esDirectlyPhotographed };

// Enumerated SHORT values of the EXIF sub-directory, numbered as the tags store them. Each type's
// ...TagMissing member (0xFFFF, a number no such tag uses) stands for an absent tag and, with
// EnsureEnumsInRange, for a number the type does not define; writing it removes the tag.
enum ExifContrast : std::uint16_t { cnNormal = 0, cnSoft = 1, cnHard = 2, cnTagMissing = 0xFFFF };
enum ExifCustomRendered : std::uint16_t { crNormal = 0, crCustom = 1, crTagMissing = 0xFFFF };
enum ExifExposureMode : std::uint16_t { exAuto = 0, exManual = 1, exAutoBracket = 2, exTagMissing = 0xFFFF };
enum ExifExposureProgram : std::uint16_t {
    eeUndefined = 0,
    eeManual = 1,
    eeNormal = 2,
    eeAperturePriority = 3,
    eeShutterPriority = 4,
    eeCreative = 5,
    eeAction = 6,
    eePortrait = 7,
    eeLandscape = 8,
    eeTagMissing = 0xFFFF
};
enum ExifGainControl : std::uint16_t {
    egNone = 0,
    egLowGainUp = 1,
    egHighGainUp = 2,
    egLowGainDown = 3,
    egHighGainDown = 4,
    egTagMissing = 0xFFFF
};
// Not contiguous: 5 to 8 and 25 to 254 are not defined.
enum ExifLightSource : std::uint16_t {
    lsUnknown = 0,
    lsDaylight = 1,
    lsFluorescent = 2,
    lsTungsten = 3,
    lsFlash = 4,
    lsFineWeather = 9,
    lsCloudyWeather = 10,
    lsShade = 11,
    lsDaylightFluorescent = 12,
    lsDayWhiteFluorescent = 13,
    lsCoolWhiteFluorescent = 14,
    lsWhiteFluorescent = 15,
    lsWarmWhiteFluorescent = 16,
    lsStandardLightA = 17,
    lsStandardLightB = 18,
    lsStandardLightC = 19,
    lsD55 = 20,
    lsD65 = 21,
    lsD75 = 22,
    lsD50 = 23,
    lsISOStudioTungsten = 24,
    lsOther = 255,
    lsTagMissing = 0xFFFF
};
// Not contiguous: 7 to 254 are not defined.
enum ExifMeteringMode : std::uint16_t {
    meUnknown = 0,
    meAverage = 1,
    meCenterWeightedAverage = 2,
    meSpot = 3,
    meMultiSpot = 4,
    mePattern = 5,
    mePartial = 6,
    meOther = 255,
    meTagMissing = 0xFFFF
};
enum ExifSaturation : std::uint16_t { saNormal = 0, saLow = 1, saHigh = 2, saTagMissing = 0xFFFF };
enum ExifSceneCaptureType : std::uint16_t {
    scStandard = 0,
    scLandscape = 1,
    scPortrait = 2,
    scNightScene = 3,
    scTagMissing = 0xFFFF
};
// Not contiguous: 0 and 6 are not defined.
enum ExifSensingMethod : std::uint16_t {
    smNotDefined = 1,
    smOneChipColorArea = 2,
    smTwoChipColorArea = 3,
    smThreeChipColorArea = 4,
    smColorSequentialArea = 5,
    smTrilinear = 7,
    smColorSequentialLinear = 8,
    smTagMissing = 0xFFFF
};
enum ExifSharpness : std::uint16_t { shNormal = 0, shSoft = 1, shHard = 2, shTagMissing = 0xFFFF };
enum ExifSubjectDistanceRange : std::uint16_t {
    sdUnknown = 0,
    sdMacro = 1,
    sdClose = 2,
    sdDistant = 3,
    sdTagMissing = 0xFFFF
};
// ColorSpace reads 0 when missing (0xFFFF is a defined value here: uncalibrated).
enum ExifColorSpace : std::uint16_t {
    csTagMissing = 0,
    csRGB = 1,
    csAdobeRGB = 2,
    csWideGamutRGB = 0xFFFD,
    csICCProfile = 0xFFFE,
    csUncalibrated = 0xFFFF
};

// A pixel position; SubjectLocation reads (-1, -1) when missing, and a negative part removes the tag.
struct TSmallPoint {
    std::int16_t x = 0;
    std::int16_t y = 0;
    friend bool operator==(const TSmallPoint&, const TSmallPoint&) = default;
};
inline constexpr TSmallPoint kInvalidSmallPoint{-1, -1};

// A GPS coordinate bound to its container: every read and write goes to the esGPS section, so it holds
// no values of its own. Value tag: RATIONAL degrees, minutes[, seconds]; reference tag (value tag - 1):
// ASCII letter and a zero byte.
class TGPSCoordinate {
public:
    TGPSCoordinate(TCustomExifData* owner, TTiffTagID tagID, std::string xmpName);
    virtual ~TGPSCoordinate() = default;
    TGPSCoordinate(const TGPSCoordinate&) = delete;
    TGPSCoordinate& operator=(const TGPSCoordinate&) = delete;

    [[nodiscard]] TTiffTagID TagID() const noexcept { return tagID_; }
    [[nodiscard]] TTiffTagID RefTagID() const noexcept { return refTagID_; }
    [[nodiscard]] const std::string& XMPName() const noexcept { return xmpName_; }
    // Elements 0, 1, 2 of the value tag; 0/0 when absent.
    [[nodiscard]] TTiffLongWordFraction Degrees() const;
    [[nodiscard]] TTiffLongWordFraction Minutes() const;
    [[nodiscard]] TTiffLongWordFraction Seconds() const;
    // The reference letter upper-cased, or '\0' when there is none.
    [[nodiscard]] char DirectionLetter() const;
    // '\0' removes the reference tag and the XMP property; a letter is stored upper-cased and mirrored
    // into an XMP property that already exists.
    void SetDirectionLetter(char letter);
    // "51,30,7716/625N"; without seconds "51,30.5N"; empty without degrees or minutes.
    [[nodiscard]] std::string AsString() const;
    [[nodiscard]] bool MissingOrInvalid() const;
    // Copies the source's value tag and letter; none (or a source without value tag) removes both tags.
    // A source of another class raises ConvertError "TGPSLongitude kann nicht zu TGPSLatitude zugewiesen
    // werden", naming both classes.
    void Assign(const TGPSCoordinate* source);
    [[nodiscard]] virtual const char* ClassName() const noexcept { return "TGPSCoordinate"; }

protected:
    void AssignValue(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes,
                     TTiffLongWordFraction seconds, char letter);

    TCustomExifData* owner_;
    TTiffTagID refTagID_;
    TTiffTagID tagID_;
    std::string xmpName_;
};

class TGPSLatitude : public TGPSCoordinate {
public:
    using TGPSCoordinate::TGPSCoordinate;
    void Assign(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes, TTiffLongWordFraction seconds,
                TGPSLatitudeRef direction);
    void Assign(std::uint32_t degrees, std::uint32_t minutes, TTiffLongWordFraction seconds,
                TGPSLatitudeRef direction);
    // Seconds through the quotient constructor (RangeError before any tag is touched).
    void Assign(std::uint32_t degrees, std::uint32_t minutes, Currency seconds, TGPSLatitudeRef direction);
    void Assign(std::uint32_t degrees, std::uint32_t minutes, std::uint32_t seconds,
                TGPSLatitudeRef direction);
    using TGPSCoordinate::Assign;
    [[nodiscard]] const char* ClassName() const noexcept override { return "TGPSLatitude"; }
    [[nodiscard]] TGPSLatitudeRef Direction() const;
    void SetDirection(TGPSLatitudeRef value);
};

class TGPSLongitude : public TGPSCoordinate {
public:
    using TGPSCoordinate::TGPSCoordinate;
    void Assign(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes, TTiffLongWordFraction seconds,
                TGPSLongitudeRef direction);
    void Assign(std::uint32_t degrees, std::uint32_t minutes, TTiffLongWordFraction seconds,
                TGPSLongitudeRef direction);
    void Assign(std::uint32_t degrees, std::uint32_t minutes, Currency seconds, TGPSLongitudeRef direction);
    void Assign(std::uint32_t degrees, std::uint32_t minutes, std::uint32_t seconds,
                TGPSLongitudeRef direction);
    using TGPSCoordinate::Assign;
    [[nodiscard]] const char* ClassName() const noexcept override { return "TGPSLongitude"; }
    [[nodiscard]] TGPSLongitudeRef Direction() const;
    void SetDirection(TGPSLongitudeRef value);
};

class TCustomExifData {
public:
    using TNotifyEvent = std::function<void(TCustomExifData& sender)>;

    TCustomExifData();
    virtual ~TCustomExifData();
    TCustomExifData(const TCustomExifData&) = delete;
    TCustomExifData& operator=(const TCustomExifData&) = delete;

    void BeginUpdate() noexcept { ++updateCount_; }
    void EndUpdate();
    [[nodiscard]] bool Updating() const noexcept { return updateCount_ > 0; }
    // Outside an update: Modified and OnChange; inside: remembered for the outermost EndUpdate.
    virtual void Changed();
    [[nodiscard]] bool Modified() const noexcept { return modified_; }
    void SetModified(bool value);
    [[nodiscard]] const TNotifyEvent& OnChange() const noexcept { return onChange_; }
    void SetOnChange(TNotifyEvent handler) { onChange_ = std::move(handler); }

    [[nodiscard]] TEndianness Endianness() const noexcept { return endianness_; }
    void SetEndianness(TEndianness value);
    [[nodiscard]] bool AlwaysWritePreciseTimes() const noexcept { return alwaysWritePreciseTimes_; }
    void SetAlwaysWritePreciseTimes(bool value) noexcept { alwaysWritePreciseTimes_ = value; }
    [[nodiscard]] bool EnforceASCII() const noexcept { return enforceASCII_; }
    void SetEnforceASCII(bool value) noexcept { enforceASCII_ = value; }
    [[nodiscard]] bool EnsureEnumsInRange() const noexcept { return ensureEnumsInRange_; }
    void SetEnsureEnumsInRange(bool value) noexcept { ensureEnumsInRange_ = value; }

    // Inside one update: resets the maker note, clears the six sections, and with xmpPacketToo drops the
    // pending XMP segment and clears the packet.
    virtual void Clear(bool xmpPacketToo = true);
    [[nodiscard]] bool Empty() const { return GetEmpty(); }

    // esGeneral .. esMakerNote; asking for esMakerNote builds the maker-note view on first use.
    [[nodiscard]] TExifSection& Sections(TExifSectionKind kind);
    [[nodiscard]] const TExifSection& Sections(TExifSectionKind kind) const;
    [[nodiscard]] TExifSection& operator[](TExifSectionKind kind) { return Sections(kind); }
    // Visits the six sections in kind order through Sections() (so the maker-note view is built).
    class SectionIterator {
    public:
        SectionIterator(TCustomExifData* d, int kind) : data_(d), kind_(kind) {}
        TExifSection& operator*() const { return data_->Sections(static_cast<TExifSectionKind>(kind_)); }
        SectionIterator& operator++() {
            ++kind_;
            return *this;
        }
        bool operator==(const SectionIterator& o) const noexcept { return kind_ == o.kind_; }

    private:
        TCustomExifData* data_;
        int kind_;
    };
    [[nodiscard]] SectionIterator begin() { return SectionIterator(this, kFirstSectionKind); }
    [[nodiscard]] SectionIterator end() { return SectionIterator(this, kLastSectionKind + 1); }
    // The section itself, without building the maker-note view.
    [[nodiscard]] TExifSection& RawSection(TExifSectionKind kind) const noexcept;

    [[nodiscard]] TExifMakerNote& MakerNote();
    [[nodiscard]] bool HasMakerNote() const;
    [[nodiscard]] ExifMakerNoteClass MakerNoteType() const noexcept { return makerNoteType_; }
    // Type back to TUnrecognizedMakerNote, view freed.
    void ResetMakerNote() noexcept;

    // Parses the pending XMP segment on first access (a failure leaves the packet empty and keeps the
    // segment pending for the save, so that it is written back as it was read).
    [[nodiscard]] TXMPPacket& XMPPacket();
    [[nodiscard]] TXMPWritePolicy XMPWritePolicy() const noexcept;
    void SetXMPWritePolicy(TXMPWritePolicy value);
    // The XMP segment recorded by the last load and not parsed yet, or none.
    [[nodiscard]] const IFoundJPEGSegment& XMPSegmentToLoad() const noexcept { return xmpSegmentToLoad_; }
    [[nodiscard]] std::int64_t XMPSegmentPosition() const noexcept { return xmpSegmentPosition_; }
    [[nodiscard]] std::int64_t XMPPacketSizeInSource() const noexcept { return xmpPacketSizeInSource_; }
    [[nodiscard]] TJPEGMetadataKinds MetadataInSource() const noexcept { return metadataInSource_; }

    // File position of the TIFF header after a JPEG load; position in the stream after a bare EXIF load.
    [[nodiscard]] std::int64_t OffsetBase() const noexcept { return offsetBase_; }
    // Reads only the head of the file, growing as the segment walk needs. FileError when it cannot be
    // opened; EInvalidJPEGHeader for a non-JPEG; EInvalidTiffData for a damaged TIFF header.
    void LoadFromJPEG(const std::string& jpegFileName);
    void LoadFromJPEG(Stream& stream);
    void LoadFromJPEG(std::span<const std::uint8_t> jpeg);
    // Clears (keeping the XMP packet) and loads an EXIF block that starts with "Exif\0\0".
    void LoadFromStream(Stream& stream);
    virtual void AddFromStream(Stream& stream);
    // IFD1 tag 513 as one LONG/SLONG/IFD; with a stream, 20 bytes at OffsetBase + offset starting FF D8.
    [[nodiscard]] bool FindThumbnail(Stream* stream, std::int64_t& offset) const;
    // The EXIF block the last load read, with where each directory lay; none after a Clear, an Assign or
    // for a container that never loaded one.
    [[nodiscard]] const ExifSourceBlock* SourceBlock() const noexcept { return source_.get(); }

    // The maker-note registry is process-wide; these forward to metadata/MakerNotes.h.
    static void RegisterMakerNoteType(ExifMakerNoteClass cls, bool testFirst = false);
    static void UnregisterMakerNoteType(ExifMakerNoteClass cls);

    [[nodiscard]] DateTimeValue DateTime() const;
    void SetDateTime(DateTimeValue value);
    [[nodiscard]] DateTimeValue DateTimeOriginal() const;
    void SetDateTimeOriginal(DateTimeValue value);
    [[nodiscard]] DateTimeValue DateTimeDigitized() const;
    void SetDateTimeDigitized(DateTimeValue value);
    void SetAllDateTimeValues(DateTimeValue value);

    [[nodiscard]] TGPSLatitude& GPSLatitude() noexcept { return gpsLatitude_; }
    [[nodiscard]] TGPSLongitude& GPSLongitude() noexcept { return gpsLongitude_; }
    [[nodiscard]] TGPSLatitude& GPSDestLatitude() noexcept { return gpsDestLatitude_; }
    [[nodiscard]] TGPSLongitude& GPSDestLongitude() noexcept { return gpsDestLongitude_; }
    [[nodiscard]] const TGPSLatitude& GPSLatitude() const noexcept { return gpsLatitude_; }
    [[nodiscard]] const TGPSLongitude& GPSLongitude() const noexcept { return gpsLongitude_; }
    // GPSDateStamp (29) + GPSTimeStamp (7); 0 removes both and the XMP GPSTimeStamp.
    [[nodiscard]] DateTimeValue GPSDateTimeUTC() const;
    void SetGPSDateTimeUTC(DateTimeValue value);
    [[nodiscard]] std::string GPSDateStamp() const;
    void SetGPSDateStamp(const std::string& value);
    [[nodiscard]] TTiffLongWordFraction GPSTimeStampHour() const;
    void SetGPSTimeStampHour(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction GPSTimeStampMinute() const;
    void SetGPSTimeStampMinute(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction GPSTimeStampSecond() const;
    void SetGPSTimeStampSecond(TTiffLongWordFraction value);
    [[nodiscard]] TGPSAltitudeRef GPSAltitudeRef() const;
    void SetGPSAltitudeRef(TGPSAltitudeRef value);
    void SetGPSAltitude(TTiffLongWordFraction value);
    [[nodiscard]] std::string GPSSatellites() const;
    void SetGPSSatellites(const std::string& value);
    [[nodiscard]] TGPSStatus GPSStatus() const;
    [[nodiscard]] TGPSMeasureMode GPSMeasureMode() const;
    [[nodiscard]] TGPSSpeedRef GPSSpeedRef() const;
    [[nodiscard]] TGPSDirectionRef GPSTrackRef() const;
    [[nodiscard]] TGPSDirectionRef GPSImgDirectionRef() const;
    [[nodiscard]] TGPSDirectionRef GPSDestBearingRef() const;
    [[nodiscard]] TGPSDistanceRef GPSDestDistanceRef() const;
    [[nodiscard]] TTiffLongWordFraction GPSDOP() const;
    [[nodiscard]] TTiffLongWordFraction GPSSpeed() const;
    [[nodiscard]] TTiffLongWordFraction GPSTrack() const;
    [[nodiscard]] TTiffLongWordFraction GPSImgDirection() const;
    [[nodiscard]] TTiffLongWordFraction GPSDestBearing() const;
    [[nodiscard]] TTiffLongWordFraction GPSDestDistance() const;
    [[nodiscard]] TWordTagValue GPSDifferential() const;
    [[nodiscard]] TTiffLongWordFraction GPSAltitude() const;
    [[nodiscard]] std::string GPSMapDatum() const;
    void SetGPSMapDatum(const std::string& value);

    [[nodiscard]] std::string CameraMake() const;
    void SetCameraMake(const std::string& value);
    [[nodiscard]] std::string CameraModel() const;
    void SetCameraModel(const std::string& value);
    [[nodiscard]] std::string Copyright() const;
    void SetCopyright(const std::string& value);
    [[nodiscard]] std::string ImageDescription() const;
    void SetImageDescription(const std::string& value);
    [[nodiscard]] std::string Software() const;
    void SetSoftware(const std::string& value);
    [[nodiscard]] TTiffOrientation Orientation() const;
    void SetOrientation(TTiffOrientation value);
    [[nodiscard]] TTiffOrientation ThumbnailOrientation() const;
    [[nodiscard]] std::string Title() const;
    void SetTitle(const std::string& value);
    [[nodiscard]] std::string Keywords() const;
    void SetKeywords(const std::string& value);
    [[nodiscard]] std::string Subject() const;
    void SetSubject(const std::string& value);
    // Writes the Windows string; an empty value also removes the ASCII Artist tag it falls back to.
    [[nodiscard]] std::string Author() const;
    void SetAuthor(const std::string& value);
    // Writes the Windows string; an empty value also removes the user comment it falls back to, so that
    // the comment reads empty afterwards.
    [[nodiscard]] std::string Comments() const;
    void SetComments(const std::string& value);
    [[nodiscard]] TWindowsStarRating UserRating() const;
    void SetUserRating(TWindowsStarRating value);
    // Unsigned and signed fractions of the EXIF sub-directory; 0/0 when missing, and writing 0/0 removes.
    [[nodiscard]] TTiffLongWordFraction ApertureValue() const;
    void SetApertureValue(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction CompressedBitsPerPixel() const;
    void SetCompressedBitsPerPixel(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction DigitalZoomRatio() const;
    void SetDigitalZoomRatio(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction ExposureIndex() const;
    void SetExposureIndex(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction ExposureTime() const;
    void SetExposureTime(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction FNumber() const;
    void SetFNumber(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction FocalLength() const;
    void SetFocalLength(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction MaxApertureValue() const;
    void SetMaxApertureValue(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongWordFraction SubjectDistance() const;
    void SetSubjectDistance(TTiffLongWordFraction value);
    [[nodiscard]] TTiffLongIntFraction BrightnessValue() const;
    void SetBrightnessValue(TTiffLongIntFraction value);
    [[nodiscard]] TTiffLongIntFraction ExposureBiasValue() const;
    void SetExposureBiasValue(TTiffLongIntFraction value);
    [[nodiscard]] TTiffLongIntFraction ShutterSpeedValue() const;
    void SetShutterSpeedValue(TTiffLongIntFraction value);
    [[nodiscard]] std::string RelatedSoundFile() const;
    void SetRelatedSoundFile(const std::string& value);
    [[nodiscard]] std::string SpectralSensitivity() const;
    void SetSpectralSensitivity(const std::string& value);
    [[nodiscard]] std::string SubsecTime() const;
    void SetSubsecTime(const std::string& value);
    [[nodiscard]] std::string SubsecTimeDigitized() const;
    void SetSubsecTimeDigitized(const std::string& value);
    void SetSubsecTimeOriginal(const std::string& value);
    void SetImageUniqueID(const std::string& value);
    [[nodiscard]] TExifFileSource FileSource() const;
    [[nodiscard]] TExifSceneType SceneType() const;
    [[nodiscard]] TLongWordTagValue ExifImageWidth() const;
    [[nodiscard]] TLongWordTagValue ExifImageHeight() const;
    // Keeps a single SHORT tag a SHORT, otherwise makes it one LONG; mirrors the number into the XMP
    // property PixelXDimension / PixelYDimension when that exists.
    void SetExifImageWidth(std::uint32_t value);
    void SetExifImageHeight(std::uint32_t value);
    [[nodiscard]] TWordTagValue FocalLengthIn35mmFilm() const;
    [[nodiscard]] std::string ImageUniqueID() const;
    [[nodiscard]] std::string SubsecTimeOriginal() const;
    [[nodiscard]] TLongIntTagValue OffsetSchema() const;
    void SetOffsetSchema(TLongIntTagValue value);
    // Enumerated SHORT values, mirrored into the XMP exif property of the same name (under the packet's
    // write policy); the missing value removes the tag and the XMP property.
    [[nodiscard]] ExifColorSpace ColorSpace() const;
    void SetColorSpace(ExifColorSpace value);
    [[nodiscard]] ExifContrast Contrast() const;
    void SetContrast(ExifContrast value);
    [[nodiscard]] ExifCustomRendered CustomRendered() const;
    void SetCustomRendered(ExifCustomRendered value);
    [[nodiscard]] ExifExposureMode ExposureMode() const;
    void SetExposureMode(ExifExposureMode value);
    [[nodiscard]] ExifExposureProgram ExposureProgram() const;
    void SetExposureProgram(ExifExposureProgram value);
    [[nodiscard]] ExifGainControl GainControl() const;
    void SetGainControl(ExifGainControl value);
    [[nodiscard]] ExifLightSource LightSource() const;
    void SetLightSource(ExifLightSource value);
    [[nodiscard]] ExifMeteringMode MeteringMode() const;
    void SetMeteringMode(ExifMeteringMode value);
    [[nodiscard]] ExifSaturation Saturation() const;
    void SetSaturation(ExifSaturation value);
    [[nodiscard]] ExifSceneCaptureType SceneCaptureType() const;
    void SetSceneCaptureType(ExifSceneCaptureType value);
    [[nodiscard]] ExifSensingMethod SensingMethod() const;
    void SetSensingMethod(ExifSensingMethod value);
    [[nodiscard]] ExifSharpness Sharpness() const;
    void SetSharpness(ExifSharpness value);
    [[nodiscard]] ExifSubjectDistanceRange SubjectDistanceRange() const;
    void SetSubjectDistanceRange(ExifSubjectDistanceRange value);
    // SHORT x and y of tag 41492; kInvalidSmallPoint when missing or shorter than two numbers.
    [[nodiscard]] TSmallPoint SubjectLocation() const;
    void SetSubjectLocation(TSmallPoint value);

    // The property objects are bound to this container.
    [[nodiscard]] TExifVersion& ExifVersion() noexcept { return exifVersion_; }
    [[nodiscard]] TFlashPixVersion& FlashPixVersion() noexcept { return flashPixVersion_; }
    [[nodiscard]] TInteropVersion& InteropVersion() noexcept { return interopVersion_; }
    [[nodiscard]] TGPSVersion& GPSVersion() noexcept { return gpsVersion_; }
    [[nodiscard]] TExifFlashInfo& Flash() noexcept { return flash_; }
    [[nodiscard]] TFocalPlaneResolution& FocalPlaneResolution() noexcept { return focalPlaneResolution_; }
    [[nodiscard]] TImageResolution& Resolution() noexcept { return resolution_; }
    [[nodiscard]] TThumbnailResolution& ThumbnailResolution() noexcept { return thumbnailResolution_; }
    [[nodiscard]] TISOSpeedRatings& ISOSpeedRatings() noexcept { return isoSpeedRatings_; }
    [[nodiscard]] const TExifVersion& ExifVersion() const noexcept { return exifVersion_; }
    [[nodiscard]] const TFlashPixVersion& FlashPixVersion() const noexcept { return flashPixVersion_; }
    [[nodiscard]] const TInteropVersion& InteropVersion() const noexcept { return interopVersion_; }
    [[nodiscard]] const TGPSVersion& GPSVersion() const noexcept { return gpsVersion_; }
    [[nodiscard]] const TExifFlashInfo& Flash() const noexcept { return flash_; }
    [[nodiscard]] const TFocalPlaneResolution& FocalPlaneResolution() const noexcept {
        return focalPlaneResolution_;
    }
    [[nodiscard]] const TImageResolution& Resolution() const noexcept { return resolution_; }
    [[nodiscard]] const TThumbnailResolution& ThumbnailResolution() const noexcept {
        return thumbnailResolution_;
    }
    [[nodiscard]] const TISOSpeedRatings& ISOSpeedRatings() const noexcept { return isoSpeedRatings_; }
    [[nodiscard]] std::string InteropTypeName() const;
    void SetInteropTypeName(const std::string& value);

protected:
    virtual std::unique_ptr<TExifSection> CreateSection(TExifSectionKind kind);
    [[nodiscard]] virtual bool GetEmpty() const;
    // Builds the sections; derived constructors call it so that CreateSection dispatches to them.
    void CreateSections();
    void SetPixelDimension(TTiffTagID id, const char* xmpName, std::uint32_t value);
    // The enumerated SHORT properties: the number, or `missing` for an absent tag or (with
    // EnsureEnumsInRange) a number `inRange` refuses.
    [[nodiscard]] std::uint16_t GetEnumValue(TTiffTagID id, std::uint16_t missing,
                                             bool (*inRange)(std::uint16_t)) const;
    void SetEnumValue(TTiffTagID id, const char* xmpName, std::uint16_t value, std::uint16_t missing);

    std::unique_ptr<TExifSection> sections_[6];
    TEndianness endianness_ = SmallEndian;
    std::int64_t offsetBase_ = 0;
    std::unique_ptr<ExifSourceBlock> source_;

private:
    void LoadFromJPEGWalk(Stream& stream);

    bool alwaysWritePreciseTimes_ = false;
    bool changedWhileUpdating_ = false;
    bool enforceASCII_ = true;
    bool ensureEnumsInRange_ = true;
    TGPSLatitude gpsLatitude_;
    TGPSLatitude gpsDestLatitude_;
    TGPSLongitude gpsLongitude_;
    TGPSLongitude gpsDestLongitude_;
    TExifVersion exifVersion_;
    TFlashPixVersion flashPixVersion_;
    TInteropVersion interopVersion_;
    TGPSVersion gpsVersion_;
    TExifFlashInfo flash_;
    TFocalPlaneResolution focalPlaneResolution_;
    TImageResolution resolution_;
    TThumbnailResolution thumbnailResolution_;
    TISOSpeedRatings isoSpeedRatings_;
    ExifMakerNoteClass makerNoteType_ = nullptr;
    std::unique_ptr<TExifMakerNote> makerNoteValue_;
    bool modified_ = false;
    std::int32_t updateCount_ = 0;
    std::unique_ptr<TContainedXMPPacket> xmpPacket_;
    IFoundJPEGSegment xmpSegmentToLoad_;
    bool xmpParseFailed_ = false;  // the pending segment did not parse; it stays pending for the save
    TNotifyEvent onChange_;
    TJPEGMetadataKinds metadataInSource_;
    std::int64_t xmpSegmentPosition_ = 0;
    std::int64_t xmpPacketSizeInSource_ = 0;
};

// Holds back the container's change notification while it lives, so that a property write touching
// several tags (and the XMP mirror) or a section edit of several steps reports one change at its end.
class ExifUpdateScope {
public:
    explicit ExifUpdateScope(TCustomExifData& data) : data_(&data) { data_->BeginUpdate(); }
    // A section without an owning container has nothing to hold back: null is allowed.
    explicit ExifUpdateScope(TCustomExifData* data) : data_(data) {
        if (data_ != nullptr) data_->BeginUpdate();
    }
    ~ExifUpdateScope() {
        if (data_ == nullptr) return;
        try {
            data_->EndUpdate();
        } catch (...) {  // a listener's failure must not escape a destructor
        }
    }
    ExifUpdateScope(const ExifUpdateScope&) = delete;
    ExifUpdateScope& operator=(const ExifUpdateScope&) = delete;

private:
    TCustomExifData* data_;
};

class TExifData : public TCustomExifData {
public:
    TExifData();
    ~TExifData() override;

    void Clear(bool xmpPacketToo = true) override;
    // Loads the block, then the IFD1 thumbnail measured by its EOI.
    void AddFromStream(Stream& stream) override;
    // None: Clear including XMP. Another container: a copy of its six sections and (from a TExifData) its
    // thumbnail.
    void Assign(const TCustomExifData* source);

    // Created empty on first request, with the thumbnail-change handler attached.
    [[nodiscard]] TJPEGImage& Thumbnail();
    // Absent or empty thumbnails both read as "no thumbnail" here.
    [[nodiscard]] bool HasThumbnail() const noexcept;
    [[nodiscard]] const TJPEGImage* ThumbnailOrNil() const noexcept { return thumbnail_.get(); }
    // A copy of the image, or none (nullptr) to drop the thumbnail.
    void SetThumbnail(const TJPEGImage* value);
    [[nodiscard]] bool RemovePaddingTagsOnSave() const noexcept { return removePaddingTagsOnSave_; }
    void SetRemovePaddingTagsOnSave(bool value) noexcept { removePaddingTagsOnSave_ = value; }
    // True (the default): a save builds on the block the last load read, so that every byte it does not
    // change keeps its place (maker notes and what they point to, strip thumbnails, private directories,
    // padding); padding tags then stay. False: every directory is laid out afresh.
    [[nodiscard]] bool PreserveLayoutOnSave() const noexcept { return preserveLayoutOnSave_; }
    void SetPreserveLayoutOnSave(bool value) noexcept { preserveLayoutOnSave_ = value; }

    // Saving is defined with the EXIF block writer (ExifWriter.cpp) and the JPEG rewrite.
    void SaveToStream(Stream& stream);
    // Appends the block ("Exif\0\0" and the TIFF structure) to out. With PreserveLayoutOnSave and a block
    // read by the last load, unchanged bytes keep their offsets and what grew is appended; a block that
    // would then pass the 65533 bytes of a segment is laid out afresh instead only when that fits and
    // loses nothing. Otherwise the whole structure is laid out afresh. A GPS directory the save creates
    // (GPS tags, but no GPS directory in the block the last load read) is given GPSVersionID 2.3.0.0
    // first, as the Exif standard requires of every GPS directory; one the photo had is left as it is.
    void SaveToBytes(std::vector<std::uint8_t>& out);
    void RemovePaddingTags();
    void StandardizeThumbnail();
    void CreateThumbnail(const TJPEGImage& source, std::uint32_t width = 160, std::uint32_t height = 120);
    // The EXIF step alone (WriteExifSegments) on a photo file, replaced safely, or on an image object,
    // reloaded from the result; an AFCP trailer the step moves gets its file offsets moved with it.
    void SaveToJPEG(const std::string& jpegFileName, bool bufferedWrite = true);
    void SaveToJPEG(TJPEGImageEx& jpegImage);

protected:
    std::unique_ptr<TExifSection> CreateSection(TExifSectionKind kind) override;
    [[nodiscard]] bool GetEmpty() const override;

private:
    void ThumbnailChanged();
    void AddVersionToCreatedGPSDirectory();
    void SaveRelaidOut(std::vector<std::uint8_t>& out);

    bool removePaddingTagsOnSave_ = true;
    bool preserveLayoutOnSave_ = true;
    bool thumbnailEdited_ = false;  // since the last load: the kept block no longer holds the thumbnail
    std::unique_ptr<TJPEGImage> thumbnail_;
};

}  // namespace zeloro
