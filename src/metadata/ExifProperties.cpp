// src/metadata/ExifProperties.cpp: date-time and GPS properties, and the other typed properties of the
// container, each read and written through the typed section operations.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <typeinfo>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/Win1252.h"
#include "metadata/ExifData.h"
#include "metadata/XMPGPSText.h"
#include "metadata/detail/ExifTagText.h"

namespace zeloro {

namespace {

constexpr TTiffTagID kGPSTimeStamp = 7;
constexpr TTiffTagID kGPSDateStamp = 29;

char LatitudeLetter(TGPSLatitudeRef r) noexcept { return r == ltNorth ? 'N' : r == ltSouth ? 'S' : '\0'; }
char LongitudeLetter(TGPSLongitudeRef r) noexcept { return r == lnWest ? 'W' : r == lnEast ? 'E' : '\0'; }

std::string Format(const char* fmt, int a, int b, int c) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

}  // namespace

TGPSCoordinate::TGPSCoordinate(TCustomExifData* owner, TTiffTagID tagID, std::string xmpName)
    : owner_(owner),
      refTagID_(static_cast<TTiffTagID>(tagID - 1)),
      tagID_(tagID),
      xmpName_(std::move(xmpName)) {}

TTiffLongWordFraction TGPSCoordinate::Degrees() const {
    return owner_->RawSection(esGPS).GetFractionValue(tagID_, 0);
}
TTiffLongWordFraction TGPSCoordinate::Minutes() const {
    return owner_->RawSection(esGPS).GetFractionValue(tagID_, 1);
}
TTiffLongWordFraction TGPSCoordinate::Seconds() const {
    return owner_->RawSection(esGPS).GetFractionValue(tagID_, 2);
}

char TGPSCoordinate::DirectionLetter() const {
    const TExifTag* tag = owner_->RawSection(esGPS).Find(refTagID_);
    if (tag == nullptr || tag->DataType() != tdAscii || tag->ElementCount() <= 1) return '\0';
    return AsciiUpper(static_cast<char>(tag->Data()[0]));
}

void TGPSCoordinate::SetDirectionLetter(char letter) {
    TExifSection& gps = owner_->RawSection(esGPS);
    if (letter == '\0') {
        gps.Remove(refTagID_);
        owner_->XMPPacket().RemoveProperty(xsExif, xmpName_);
        return;
    }
    letter = AsciiUpper(letter);
    gps.SetStringValue(refTagID_, std::string(1, letter));
    // Decimal minutes: the seconds-as-fraction form is read by other programs as a different place.
    const std::string text = XMPGPSCoordinateText(Degrees(), Minutes(), Seconds(), letter);
    if (!text.empty()) {
        owner_->XMPPacket().UpdateProperty(xsExif, xmpName_, xpSimple, text);
    }
}

std::string TGPSCoordinate::AsString() const {
    const auto deg = Degrees();
    const auto min = Minutes();
    if (deg.Denominator == 0 || min.Denominator == 0) return {};
    const std::string ref = owner_->RawSection(esGPS).GetStringValue(refTagID_);
    const auto sec = Seconds();
    if (sec.Denominator != 0) {
        return deg.AsString() + "," + min.AsString() + "," + sec.AsString() + ref;
    }
    // Fifteen significant digits: as many as a double holds for sure, so "30.12345" stays itself.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", min.Quotient());
    return deg.AsString() + "," + buf + ref;
}

bool TGPSCoordinate::MissingOrInvalid() const {
    return Degrees().Denominator == 0 || Minutes().Denominator == 0 || DirectionLetter() == '\0';
}

void TGPSCoordinate::AssignValue(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes,
                                 TTiffLongWordFraction seconds, char letter) {
    ExifUpdateScope scope(*owner_);
    const std::int32_t count = seconds.Denominator != 0 ? 3 : 2;
    TExifSection& gps = owner_->RawSection(esGPS);
    TExifTag* tag = gps.Find(tagID_);
    if (tag != nullptr) {
        tag->UpdateData(tdLongWordFraction, count, nullptr);
    } else {
        if (!gps.IsExtendable()) throw EIllegalEditOfExifData();
        tag = static_cast<TExtendableExifSection&>(gps).Add(tagID_, tdLongWordFraction, count);
    }
    const TTiffLongWordFraction parts[3] = {degrees, minutes, seconds};
    std::uint8_t* p = tag->Data();
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        for (unsigned b = 0; b < 4; ++b) {
            p[8 * i + b] = static_cast<std::uint8_t>((parts[i].Numerator >> (8U * b)) & 0xFFU);
            p[8 * i + 4 + b] = static_cast<std::uint8_t>((parts[i].Denominator >> (8U * b)) & 0xFFU);
        }
    }
    tag->Changed();
    SetDirectionLetter(letter);
}

void TGPSCoordinate::Assign(const TGPSCoordinate* source) {
    if (source != nullptr && typeid(*source) != typeid(*this)) {
        throw ConvertError(std::string(source->ClassName()) + " kann nicht zu " + ClassName() +
                           " zugewiesen werden");
    }
    if (source == this) return;
    ExifUpdateScope scope(*owner_);
    TExifSection& gps = owner_->RawSection(esGPS);
    const TExifTag* srcTag =
        source != nullptr ? source->owner_->RawSection(esGPS).Find(source->tagID_) : nullptr;
    if (srcTag == nullptr) {
        gps.Remove({tagID_, refTagID_});
        owner_->XMPPacket().RemoveProperty(xsExif, xmpName_);
        return;
    }
    TExifTag* own = gps.Find(tagID_);
    if (own == nullptr) {
        if (!gps.IsExtendable()) throw EIllegalEditOfExifData();
        own =
            static_cast<TExtendableExifSection&>(gps).Add(tagID_, srcTag->DataType(), srcTag->ElementCount());
    }
    own->Assign(srcTag);
    SetDirectionLetter(source->DirectionLetter());
}

void TGPSLatitude::Assign(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes,
                          TTiffLongWordFraction seconds, TGPSLatitudeRef direction) {
    AssignValue(degrees, minutes, seconds, LatitudeLetter(direction));
}
void TGPSLatitude::Assign(std::uint32_t degrees, std::uint32_t minutes, TTiffLongWordFraction seconds,
                          TGPSLatitudeRef direction) {
    AssignValue({degrees, 1}, {minutes, 1}, seconds, LatitudeLetter(direction));
}
void TGPSLatitude::Assign(std::uint32_t degrees, std::uint32_t minutes, Currency seconds,
                          TGPSLatitudeRef direction) {
    const TTiffLongWordFraction s(seconds);  // range error before any tag is touched
    AssignValue({degrees, 1}, {minutes, 1}, s, LatitudeLetter(direction));
}
void TGPSLatitude::Assign(std::uint32_t degrees, std::uint32_t minutes, std::uint32_t seconds,
                          TGPSLatitudeRef direction) {
    AssignValue({degrees, 1}, {minutes, 1}, {seconds, 1}, LatitudeLetter(direction));
}
TGPSLatitudeRef TGPSLatitude::Direction() const {
    const char c = DirectionLetter();
    return c == 'N' ? ltNorth : c == 'S' ? ltSouth : ltMissingOrInvalid;
}
void TGPSLatitude::SetDirection(TGPSLatitudeRef value) { SetDirectionLetter(LatitudeLetter(value)); }

void TGPSLongitude::Assign(TTiffLongWordFraction degrees, TTiffLongWordFraction minutes,
                           TTiffLongWordFraction seconds, TGPSLongitudeRef direction) {
    AssignValue(degrees, minutes, seconds, LongitudeLetter(direction));
}
void TGPSLongitude::Assign(std::uint32_t degrees, std::uint32_t minutes, TTiffLongWordFraction seconds,
                           TGPSLongitudeRef direction) {
    AssignValue({degrees, 1}, {minutes, 1}, seconds, LongitudeLetter(direction));
}
void TGPSLongitude::Assign(std::uint32_t degrees, std::uint32_t minutes, Currency seconds,
                           TGPSLongitudeRef direction) {
    const TTiffLongWordFraction s(seconds);
    AssignValue({degrees, 1}, {minutes, 1}, s, LongitudeLetter(direction));
}
void TGPSLongitude::Assign(std::uint32_t degrees, std::uint32_t minutes, std::uint32_t seconds,
                           TGPSLongitudeRef direction) {
    AssignValue({degrees, 1}, {minutes, 1}, {seconds, 1}, LongitudeLetter(direction));
}
TGPSLongitudeRef TGPSLongitude::Direction() const {
    const char c = DirectionLetter();
    return c == 'E' ? lnEast : c == 'W' ? lnWest : lnMissingOrInvalid;
}
void TGPSLongitude::SetDirection(TGPSLongitudeRef value) { SetDirectionLetter(LongitudeLetter(value)); }

DateTimeValue TCustomExifData::DateTime() const {
    return RawSection(esGeneral).GetDateTimeValue(306, 37520, 0);
}
void TCustomExifData::SetDateTime(DateTimeValue value) {
    RawSection(esGeneral).SetDateTimeValue(306, 37520, value);
    XMPPacket().UpdateDateTimeProperty(xsTIFF, "DateTime", value, false);
}
DateTimeValue TCustomExifData::DateTimeOriginal() const {
    return RawSection(esDetails).GetDateTimeValue(36867, 37521, 0);
}
void TCustomExifData::SetDateTimeOriginal(DateTimeValue value) {
    RawSection(esDetails).SetDateTimeValue(36867, 37521, value);
    XMPPacket().UpdateDateTimeProperty(xsExif, "DateTimeOriginal", value, false);
}
DateTimeValue TCustomExifData::DateTimeDigitized() const {
    return RawSection(esDetails).GetDateTimeValue(36868, 37522, 0);
}
void TCustomExifData::SetDateTimeDigitized(DateTimeValue value) {
    RawSection(esDetails).SetDateTimeValue(36868, 37522, value);
    XMPPacket().UpdateDateTimeProperty(xsExif, "DateTimeDigitized", value, false);
}
void TCustomExifData::SetAllDateTimeValues(DateTimeValue value) {
    ExifUpdateScope scope(*this);
    SetDateTime(value);
    SetDateTimeOriginal(value);
    SetDateTimeDigitized(value);
}

DateTimeValue TCustomExifData::GPSDateTimeUTC() const {
    DateTimeValue date = 0;
    const std::string stamp = RawSection(esGPS).GetStringValue(kGPSDateStamp);
    if (stamp.size() == 10) {
        int y = 0, m = 0, d = 0;
        // The separators are not checked.
        if (!ParseField(stamp.data(), 4, y) || !ParseField(stamp.data() + 5, 2, m) ||
            !ParseField(stamp.data() + 8, 2, d) || !TryEncodeDate(y, m, d, date)) {
            date = 0;
        }
    }
    const auto h = GPSTimeStampHour();
    const auto mi = GPSTimeStampMinute();
    const auto s = GPSTimeStampSecond();
    if (h.Denominator == 0 || mi.Denominator == 0 || s.Denominator == 0) return date;
    const auto hour = static_cast<std::int64_t>(h.Numerator / h.Denominator);
    const auto minute = static_cast<std::int64_t>(mi.Numerator / mi.Denominator);
    const auto second = static_cast<std::int64_t>(s.Numerator / s.Denominator);
    DateTimeValue time = 0;
    if (hour > 23 || minute > 59 || second > 59 ||
        !TryEncodeTime(static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second), 0, time)) {
        return date;
    }
    if (date == 0) {
        date = DateTime();
        if (date == 0) date = DateTimeOriginal();
        date = std::trunc(date);
    }
    return date < 0 ? date - time : date + time;
}

void TCustomExifData::SetGPSDateTimeUTC(DateTimeValue value) {
    ExifUpdateScope scope(*this);
    TExifSection& gps = RawSection(esGPS);
    if (value == 0) {
        gps.Remove({kGPSDateStamp, kGPSTimeStamp});
        XMPPacket().RemoveProperty(xsExif, "GPSTimeStamp");
        return;
    }
    const CalendarDate d = DecodeDate(value);
    const ClockTime c = DecodeTime(value);
    gps.SetStringValue(kGPSDateStamp, Format("%.4d:%.2d:%.2d", d.year, d.month, d.day));
    gps.SetFractionValue(kGPSTimeStamp, 0, {c.hour, 1});
    gps.SetFractionValue(kGPSTimeStamp, 1, {c.minute, 1});
    gps.SetFractionValue(kGPSTimeStamp, 2, {c.second, 1});
    XMPPacket().UpdateDateTimeProperty(xsExif, "GPSTimeStamp", value, false);
}

std::string TCustomExifData::GPSDateStamp() const { return RawSection(esGPS).GetStringValue(kGPSDateStamp); }
void TCustomExifData::SetGPSDateStamp(const std::string& value) {
    RawSection(esGPS).SetStringValue(kGPSDateStamp, value);
}

TTiffLongWordFraction TCustomExifData::GPSTimeStampHour() const {
    return RawSection(esGPS).GetFractionValue(kGPSTimeStamp, 0);
}
TTiffLongWordFraction TCustomExifData::GPSTimeStampMinute() const {
    return RawSection(esGPS).GetFractionValue(kGPSTimeStamp, 1);
}
TTiffLongWordFraction TCustomExifData::GPSTimeStampSecond() const {
    return RawSection(esGPS).GetFractionValue(kGPSTimeStamp, 2);
}

void TCustomExifData::SetGPSTimeStampHour(TTiffLongWordFraction value) {
    RawSection(esGPS).SetFractionValue(kGPSTimeStamp, 0, value);
    if (!Updating()) XMPPacket().RemoveProperty(xsExif, "GPSTimeStamp");
}
void TCustomExifData::SetGPSTimeStampMinute(TTiffLongWordFraction value) {
    RawSection(esGPS).SetFractionValue(kGPSTimeStamp, 1, value);
    if (!Updating()) XMPPacket().RemoveProperty(xsExif, "GPSTimeStamp");
}
void TCustomExifData::SetGPSTimeStampSecond(TTiffLongWordFraction value) {
    RawSection(esGPS).SetFractionValue(kGPSTimeStamp, 2, value);
    if (!Updating()) XMPPacket().RemoveProperty(xsExif, "GPSTimeStamp");
}

TGPSAltitudeRef TCustomExifData::GPSAltitudeRef() const {
    std::uint8_t v = 0;
    if (!RawSection(esGPS).TryGetByteValue(5, 0, v)) return alTagMissing;
    if (v == 0) return alAboveSeaLevel;
    if (v == 1) return alBelowSeaLevel;
    return EnsureEnumsInRange() ? alTagMissing : static_cast<TGPSAltitudeRef>(v + 1);
}
TTiffLongWordFraction TCustomExifData::GPSAltitude() const {
    return RawSection(esGPS).GetFractionValue(6, 0);
}
void TCustomExifData::SetGPSAltitudeRef(TGPSAltitudeRef value) {
    if (value == alTagMissing) {
        RawSection(esGPS).Remove(5);
    } else {
        RawSection(esGPS).SetByteValue(5, 0, static_cast<std::uint8_t>(value - 1));
    }
}
void TCustomExifData::SetGPSAltitude(TTiffLongWordFraction value) {
    RawSection(esGPS).SetFractionValue(6, 0, value);
}
std::string TCustomExifData::GPSSatellites() const { return RawSection(esGPS).GetStringValue(8); }
void TCustomExifData::SetGPSSatellites(const std::string& value) {
    RawSection(esGPS).SetStringValue(8, value);
}

namespace {
// The first letter of a GPS reference tag, upper-cased; '\0' when the tag is no usable ASCII text.
char RefLetter(const TExifSection& gps, TTiffTagID id) {
    const TExifTag* tag = gps.Find(id);
    if (tag == nullptr || tag->DataType() != tdAscii || tag->ElementCount() < 2) return '\0';
    return AsciiUpper(static_cast<char>(tag->Data()[0]));
}
TGPSDirectionRef DirectionRef(const TExifSection& gps, TTiffTagID id) {
    const char c = RefLetter(gps, id);
    return c == 'T' ? drTrueNorth : c == 'M' ? drMagneticNorth : drMissingOrInvalid;
}
}  // namespace

TGPSStatus TCustomExifData::GPSStatus() const {
    const char c = RefLetter(RawSection(esGPS), 9);
    return c == 'A' ? stMeasurementActive : c == 'V' ? stMeasurementVoid : stMissingOrInvalid;
}
TGPSMeasureMode TCustomExifData::GPSMeasureMode() const {
    const char c = RefLetter(RawSection(esGPS), 10);
    return c == '2' ? mm2D : c == '3' ? mm3D : mmUnknown;
}
TGPSSpeedRef TCustomExifData::GPSSpeedRef() const {
    const char c = RefLetter(RawSection(esGPS), 12);
    return c == 'K'   ? srKilometresPerHour
           : c == 'M' ? srMilesPerHour
           : c == 'N' ? srKnots
                      : srMissingOrInvalid;
}
TGPSDirectionRef TCustomExifData::GPSTrackRef() const { return DirectionRef(RawSection(esGPS), 14); }
TGPSDirectionRef TCustomExifData::GPSImgDirectionRef() const { return DirectionRef(RawSection(esGPS), 16); }
TGPSDirectionRef TCustomExifData::GPSDestBearingRef() const { return DirectionRef(RawSection(esGPS), 23); }
TGPSDistanceRef TCustomExifData::GPSDestDistanceRef() const {
    const char c = RefLetter(RawSection(esGPS), 25);
    return c == 'K' ? dsKilometres : c == 'M' ? dsMiles : c == 'N' ? dsKnots : dsMissingOrInvalid;
}
TTiffLongWordFraction TCustomExifData::GPSDOP() const { return RawSection(esGPS).GetFractionValue(11, 0); }
TTiffLongWordFraction TCustomExifData::GPSSpeed() const { return RawSection(esGPS).GetFractionValue(13, 0); }
TTiffLongWordFraction TCustomExifData::GPSTrack() const { return RawSection(esGPS).GetFractionValue(15, 0); }
TTiffLongWordFraction TCustomExifData::GPSImgDirection() const {
    return RawSection(esGPS).GetFractionValue(17, 0);
}
TTiffLongWordFraction TCustomExifData::GPSDestBearing() const {
    return RawSection(esGPS).GetFractionValue(24, 0);
}
TTiffLongWordFraction TCustomExifData::GPSDestDistance() const {
    return RawSection(esGPS).GetFractionValue(26, 0);
}
TWordTagValue TCustomExifData::GPSDifferential() const { return RawSection(esGPS).GetWordValue(30, 0); }
std::string TCustomExifData::GPSMapDatum() const { return RawSection(esGPS).GetStringValue(18); }
void TCustomExifData::SetGPSMapDatum(const std::string& value) {
    RawSection(esGPS).SetStringValue(18, value);
}

std::string TCustomExifData::CameraMake() const { return RawSection(esGeneral).GetStringValue(271); }
void TCustomExifData::SetCameraMake(const std::string& value) {
    RawSection(esGeneral).SetStringValue(271, value);
}
std::string TCustomExifData::CameraModel() const { return RawSection(esGeneral).GetStringValue(272); }
void TCustomExifData::SetCameraModel(const std::string& value) {
    RawSection(esGeneral).SetStringValue(272, value);
}
std::string TCustomExifData::Copyright() const { return RawSection(esGeneral).GetStringValue(33432); }
void TCustomExifData::SetCopyright(const std::string& value) {
    RawSection(esGeneral).SetStringValue(33432, value);
}
std::string TCustomExifData::ImageDescription() const { return RawSection(esGeneral).GetStringValue(270); }
void TCustomExifData::SetImageDescription(const std::string& value) {
    RawSection(esGeneral).SetStringValue(270, value);
}
std::string TCustomExifData::Software() const { return RawSection(esGeneral).GetStringValue(305); }
void TCustomExifData::SetSoftware(const std::string& value) {
    RawSection(esGeneral).SetStringValue(305, value);
}

TTiffOrientation TCustomExifData::Orientation() const {
    const std::uint16_t v = RawSection(esGeneral).GetWordValue(274, 0, 0);
    return EnsureEnumsInRange() && v > toLeftBottom ? toUndefined : static_cast<TTiffOrientation>(v);
}
void TCustomExifData::SetOrientation(TTiffOrientation value) {
    if (value == toUndefined) {
        RawSection(esGeneral).Remove(274);
    } else {
        RawSection(esGeneral).SetWordValue(274, 0, value);
    }
}
TTiffOrientation TCustomExifData::ThumbnailOrientation() const {
    const std::uint16_t v = RawSection(esThumbnail).GetWordValue(274, 0, 0);
    return EnsureEnumsInRange() && v > toLeftBottom ? toUndefined : static_cast<TTiffOrientation>(v);
}

std::string TCustomExifData::Title() const { return RawSection(esGeneral).GetWindowsStringValue(40091); }
void TCustomExifData::SetTitle(const std::string& value) {
    RawSection(esGeneral).SetWindowsStringValue(40091, value);
}
std::string TCustomExifData::Keywords() const { return RawSection(esGeneral).GetWindowsStringValue(40094); }
std::string TCustomExifData::Subject() const { return RawSection(esGeneral).GetWindowsStringValue(40095); }
void TCustomExifData::SetKeywords(const std::string& value) {
    RawSection(esGeneral).SetWindowsStringValue(40094, value);
}
void TCustomExifData::SetSubject(const std::string& value) {
    RawSection(esGeneral).SetWindowsStringValue(40095, value);
}
std::string TCustomExifData::Author() const {
    std::string s = RawSection(esGeneral).GetWindowsStringValue(40093);
    return s.empty() ? RawSection(esGeneral).GetStringValue(315) : s;
}

void TCustomExifData::SetAuthor(const std::string& value) {
    ExifUpdateScope scope(*this);
    TExifSection& general = RawSection(esGeneral);
    general.SetWindowsStringValue(40093, value);
    // The Artist tag is read only when the Windows string is empty: an emptied author would read the
    // old Artist text again.
    if (value.empty()) general.Remove(315);
}

void TCustomExifData::SetComments(const std::string& value) {
    ExifUpdateScope scope(*this);
    RawSection(esGeneral).SetWindowsStringValue(40092, value);
    if (value.empty()) RawSection(esDetails).Remove(37510);
}

std::string TCustomExifData::Comments() const {
    std::string s = RawSection(esGeneral).GetWindowsStringValue(40092);
    if (!s.empty()) return s;
    const TExifTag* tag = RawSection(esDetails).Find(37510);
    if (tag == nullptr || (tag->DataType() != tdByte && tag->DataType() != tdUndefined) ||
        tag->ElementCount() <= 9) {
        return {};
    }
    const auto bytes = tag->Bytes();
    std::size_t end = bytes.size();
    while (end > 8 && bytes[end - 1] < 33) --end;  // trailing blanks, controls and zero bytes go
    static constexpr std::uint8_t kUnicode[8] = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
    static constexpr std::uint8_t kAscii[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
    if (std::memcmp(bytes.data(), kUnicode, 8) == 0) {
        std::string out;
        for (std::size_t i = 8; i + 1 < end + 1 && i + 1 < bytes.size(); i += 2) {
            AppendUtf8(out, static_cast<char32_t>(bytes[i] | (bytes[i + 1] << 8U)));
        }
        while (!out.empty() && static_cast<unsigned char>(out.back()) < 33) out.pop_back();
        return out;
    }
    if (std::memcmp(bytes.data(), kAscii, 8) == 0) {
        return Win1252ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 8, end - 8));
    }
    return {};
}

TWindowsStarRating TCustomExifData::UserRating() const {
    const std::uint16_t v = RawSection(esGeneral).GetWordValue(18246, 0, 0);
    return EnsureEnumsInRange() && v > urFiveStars ? urUndefined : static_cast<TWindowsStarRating>(v);
}
void TCustomExifData::SetUserRating(TWindowsStarRating value) {
    if (value == urUndefined) {
        RawSection(esGeneral).Remove(18246);
    } else {
        RawSection(esGeneral).SetWordValue(18246, 0, value);
    }
}

TTiffLongWordFraction TCustomExifData::ExposureTime() const {
    return RawSection(esDetails).GetFractionValue(33434, 0);
}
TTiffLongWordFraction TCustomExifData::FNumber() const {
    return RawSection(esDetails).GetFractionValue(33437, 0);
}
TTiffLongWordFraction TCustomExifData::FocalLength() const {
    return RawSection(esDetails).GetFractionValue(37386, 0);
}
TTiffLongIntFraction TCustomExifData::ExposureBiasValue() const {
    return RawSection(esDetails).GetSignedFractionValue(37380, 0);
}
TLongWordTagValue TCustomExifData::ExifImageWidth() const {
    return RawSection(esDetails).GetLongWordValue(40962, 0);
}
TLongWordTagValue TCustomExifData::ExifImageHeight() const {
    return RawSection(esDetails).GetLongWordValue(40963, 0);
}
void TCustomExifData::SetExifImageWidth(std::uint32_t value) {
    SetPixelDimension(40962, "PixelXDimension", value);
}
void TCustomExifData::SetExifImageHeight(std::uint32_t value) {
    SetPixelDimension(40963, "PixelYDimension", value);
}

void TCustomExifData::SetPixelDimension(TTiffTagID id, const char* xmpName, std::uint32_t value) {
    TExifSection& details = RawSection(esDetails);
    TExifTag* tag = details.Find(id);
    if (tag != nullptr && tag->DataType() == tdWord && tag->ElementCount() == 1 && value <= 0xFFFF) {
        details.SetWordValue(id, 0, static_cast<std::uint16_t>(value));
    } else {
        if (tag != nullptr) tag->UpdateData(tdLongWord, 1, nullptr);
        details.SetLongWordValue(id, 0, value);
    }
    XMPPacket().UpdateProperty(xsExif, xmpName, xpSimple, std::to_string(value));
}

TWordTagValue TCustomExifData::FocalLengthIn35mmFilm() const {
    return RawSection(esDetails).GetWordValue(41989, 0);
}
std::string TCustomExifData::ImageUniqueID() const { return RawSection(esDetails).GetStringValue(42016); }
std::string TCustomExifData::SubsecTimeOriginal() const {
    return RawSection(esDetails).GetStringValue(37521);
}

TLongIntTagValue TCustomExifData::OffsetSchema() const {
    return RawSection(esDetails).GetLongIntValue(ttOffsetSchema, 0);
}
void TCustomExifData::SetOffsetSchema(TLongIntTagValue value) {
    TExifSection& details = RawSection(esDetails);
    if (value.MissingOrInvalid()) {
        details.Remove(ttOffsetSchema);
        return;
    }
    if (!details.IsExtendable() && details.Find(ttOffsetSchema) == nullptr) throw EIllegalEditOfExifData();
    TExifTag* tag = details.Find(ttOffsetSchema);
    if (tag == nullptr) {
        tag = static_cast<TExtendableExifSection&>(details).Add(ttOffsetSchema, tdLongInt, 1);
    } else {
        tag->UpdateData(tdLongInt, 1, nullptr);
    }
    const auto v = static_cast<std::uint32_t>(value.FValue);
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(v & 0xFFU), static_cast<std::uint8_t>((v >> 8U) & 0xFFU),
        static_cast<std::uint8_t>((v >> 16U) & 0xFFU), static_cast<std::uint8_t>(v >> 24U)};
    tag->UpdateData(bytes);
}

#define ZELORO_FRACTION_PROPERTY(Name, Kind, Id, Type, Setter)                                \
    Type TCustomExifData::Name() const { return RawSection(Kind).Get##Setter##Value(Id, 0); } \
    void TCustomExifData::Set##Name(Type value) { RawSection(Kind).Set##Setter##Value(Id, 0, value); }
ZELORO_FRACTION_PROPERTY(ApertureValue, esDetails, 37378, TTiffLongWordFraction, Fraction)
ZELORO_FRACTION_PROPERTY(CompressedBitsPerPixel, esDetails, 37122, TTiffLongWordFraction, Fraction)
ZELORO_FRACTION_PROPERTY(DigitalZoomRatio, esDetails, 41988, TTiffLongWordFraction, Fraction)
ZELORO_FRACTION_PROPERTY(ExposureIndex, esDetails, 41493, TTiffLongWordFraction, Fraction)
ZELORO_FRACTION_PROPERTY(MaxApertureValue, esDetails, 37381, TTiffLongWordFraction, Fraction)
ZELORO_FRACTION_PROPERTY(SubjectDistance, esDetails, 37382, TTiffLongWordFraction, Fraction)
ZELORO_FRACTION_PROPERTY(BrightnessValue, esDetails, 37379, TTiffLongIntFraction, SignedFraction)
ZELORO_FRACTION_PROPERTY(ShutterSpeedValue, esDetails, 37377, TTiffLongIntFraction, SignedFraction)
#undef ZELORO_FRACTION_PROPERTY

void TCustomExifData::SetExposureTime(TTiffLongWordFraction value) {
    RawSection(esDetails).SetFractionValue(33434, 0, value);
}
void TCustomExifData::SetFNumber(TTiffLongWordFraction value) {
    RawSection(esDetails).SetFractionValue(33437, 0, value);
}
void TCustomExifData::SetFocalLength(TTiffLongWordFraction value) {
    RawSection(esDetails).SetFractionValue(37386, 0, value);
}
void TCustomExifData::SetExposureBiasValue(TTiffLongIntFraction value) {
    RawSection(esDetails).SetSignedFractionValue(37380, 0, value);
}

std::string TCustomExifData::RelatedSoundFile() const { return RawSection(esDetails).GetStringValue(40964); }
void TCustomExifData::SetRelatedSoundFile(const std::string& value) {
    RawSection(esDetails).SetStringValue(40964, value);
}
std::string TCustomExifData::SpectralSensitivity() const {
    return RawSection(esDetails).GetStringValue(34852);
}
void TCustomExifData::SetSpectralSensitivity(const std::string& value) {
    RawSection(esDetails).SetStringValue(34852, value);
}
std::string TCustomExifData::SubsecTime() const { return RawSection(esDetails).GetStringValue(37520); }
void TCustomExifData::SetSubsecTime(const std::string& value) {
    RawSection(esDetails).SetStringValue(37520, value);
}
std::string TCustomExifData::SubsecTimeDigitized() const {
    return RawSection(esDetails).GetStringValue(37522);
}
void TCustomExifData::SetSubsecTimeDigitized(const std::string& value) {
    RawSection(esDetails).SetStringValue(37522, value);
}
void TCustomExifData::SetSubsecTimeOriginal(const std::string& value) {
    RawSection(esDetails).SetStringValue(37521, value);
}
void TCustomExifData::SetImageUniqueID(const std::string& value) {
    RawSection(esDetails).SetStringValue(42016, value);
}

TExifFileSource TCustomExifData::FileSource() const {
    const std::uint8_t v = RawSection(esDetails).GetByteValue(41728, 0, 0);
    return EnsureEnumsInRange() && v > fsDigitalCamera ? fsUnknown : static_cast<TExifFileSource>(v);
}
TExifSceneType TCustomExifData::SceneType() const {
    const std::uint8_t v = RawSection(esDetails).GetByteValue(41729, 0, 0);
    return EnsureEnumsInRange() && v > esDirectlyPhotographed ? esUnknown : static_cast<TExifSceneType>(v);
}

std::uint16_t TCustomExifData::GetEnumValue(TTiffTagID id, std::uint16_t missing,
                                            bool (*inRange)(std::uint16_t)) const {
    std::uint16_t v = 0;
    if (!RawSection(esDetails).TryGetWordValue(id, 0, v)) return missing;
    return EnsureEnumsInRange() && !inRange(v) ? missing : v;
}

void TCustomExifData::SetEnumValue(TTiffTagID id, const char* xmpName, std::uint16_t value,
                                   std::uint16_t missing) {
    ExifUpdateScope scope(*this);
    if (value == missing) {
        RawSection(esDetails).Remove(id);
        XMPPacket().RemoveProperty(xsExif, xmpName);
        return;
    }
    RawSection(esDetails).SetWordValue(id, 0, value);
    XMPPacket().UpdateProperty(xsExif, xmpName, xpSimple, std::to_string(value));
}

namespace {
template <std::uint16_t Max>
bool UpTo(std::uint16_t v) noexcept {
    return v <= Max;
}
bool LightSourceInRange(std::uint16_t v) noexcept { return (v <= 4) || (v >= 9 && v <= 24) || v == 255; }
bool MeteringModeInRange(std::uint16_t v) noexcept { return v <= 6 || v == 255; }
bool SensingMethodInRange(std::uint16_t v) noexcept { return (v >= 1 && v <= 5) || v == 7 || v == 8; }
bool ColorSpaceInRange(std::uint16_t v) noexcept { return v == 1 || v == 2 || v >= 0xFFFD; }
}  // namespace

#define ZELORO_ENUM_PROPERTY(Name, Type, Id, Missing, InRange)                                           \
    Type TCustomExifData::Name() const { return static_cast<Type>(GetEnumValue(Id, Missing, InRange)); } \
    void TCustomExifData::Set##Name(Type value) { SetEnumValue(Id, #Name, value, Missing); }
ZELORO_ENUM_PROPERTY(ColorSpace, ExifColorSpace, 40961, csTagMissing, ColorSpaceInRange)
ZELORO_ENUM_PROPERTY(Contrast, ExifContrast, 41992, cnTagMissing, UpTo<cnHard>)
ZELORO_ENUM_PROPERTY(CustomRendered, ExifCustomRendered, 41985, crTagMissing, UpTo<crCustom>)
ZELORO_ENUM_PROPERTY(ExposureMode, ExifExposureMode, 41986, exTagMissing, UpTo<exAutoBracket>)
ZELORO_ENUM_PROPERTY(ExposureProgram, ExifExposureProgram, 34850, eeTagMissing, UpTo<eeLandscape>)
ZELORO_ENUM_PROPERTY(GainControl, ExifGainControl, 41991, egTagMissing, UpTo<egHighGainDown>)
ZELORO_ENUM_PROPERTY(LightSource, ExifLightSource, 37384, lsTagMissing, LightSourceInRange)
ZELORO_ENUM_PROPERTY(MeteringMode, ExifMeteringMode, 37383, meTagMissing, MeteringModeInRange)
ZELORO_ENUM_PROPERTY(Saturation, ExifSaturation, 41993, saTagMissing, UpTo<saHigh>)
ZELORO_ENUM_PROPERTY(SceneCaptureType, ExifSceneCaptureType, 41990, scTagMissing, UpTo<scNightScene>)
ZELORO_ENUM_PROPERTY(SensingMethod, ExifSensingMethod, 41495, smTagMissing, SensingMethodInRange)
ZELORO_ENUM_PROPERTY(Sharpness, ExifSharpness, 41994, shTagMissing, UpTo<shHard>)
ZELORO_ENUM_PROPERTY(SubjectDistanceRange, ExifSubjectDistanceRange, 41996, sdTagMissing, UpTo<sdDistant>)
#undef ZELORO_ENUM_PROPERTY

TSmallPoint TCustomExifData::SubjectLocation() const {
    const TExifSection& details = RawSection(esDetails);
    const TExifTag* tag = details.Find(41492);
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    if (tag == nullptr || tag->ElementCount() < 2 || !details.TryGetWordValue(41492, 0, x) ||
        !details.TryGetWordValue(41492, 1, y) || x > 0x7FFF || y > 0x7FFF) {
        return kInvalidSmallPoint;
    }
    return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
}

void TCustomExifData::SetSubjectLocation(TSmallPoint value) {
    TExifSection& details = RawSection(esDetails);
    if (value.x < 0 || value.y < 0) {
        details.Remove(41492);
        return;
    }
    ExifUpdateScope scope(*this);
    // Exactly two numbers: an area (three or four) would no longer be centred on the new point.
    if (TExifTag* tag = details.Find(41492); tag != nullptr) tag->UpdateData(tdWord, 2, nullptr);
    details.SetWordValue(41492, 0, static_cast<std::uint16_t>(value.x));
    details.SetWordValue(41492, 1, static_cast<std::uint16_t>(value.y));
}

std::string TCustomExifData::InteropTypeName() const { return RawSection(esInterop).GetStringValue(1); }
void TCustomExifData::SetInteropTypeName(const std::string& value) {
    RawSection(esInterop).SetStringValue(1, value);
}

}  // namespace zeloro
