// tests/metadata/ExifPropertiesTest.cpp: date-time and GPS properties, and the container's update
// counting, emptiness and assignment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "metadata/ExifData.h"

namespace zeloro {
namespace {

using test::Bytes;

struct DateCase {
    std::string name;
    Bytes tagData;  // the ASCII tag's bytes, terminator included
    DateTimeValue want;
};
void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }
class DateTimeRead : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTimeRead, MatchesTable) {
    const auto& c = GetParam();
    TExifData exif;
    auto& details = static_cast<TExtendableExifSection&>(exif.Sections(esDetails));
    details.AddOrUpdate(36867, tdAscii, static_cast<std::int32_t>(c.tagData.size()), c.tagData.data());
    details.SetStringValue(37521, "50");  // sub-seconds never change the value read
    EXPECT_EQ(exif.DateTimeOriginal(), c.want);
}

const DateTimeValue kJuly15 = EncodeDateTime(2010, 7, 15, 14, 3, 27, 0);

INSTANTIATE_TEST_SUITE_P(ExifProperties, DateTimeRead,
                         ::testing::Values(DateCase{"Standard", test::Ascii("2010:07:15 14:03:27"), kJuly15},
                                           DateCase{"TSeparatorUnchecked", test::Ascii("2010:07:15T14:03:27"),
                                                    kJuly15},
                                           DateCase{"DashesInDate", test::Ascii("2010-07-15 14:03:27"), 0},
                                           DateCase{"TrailingBlank", test::Ascii("2010:07:15 14:03:27 "), 0},
                                           DateCase{"NoTerminator", test::Raw("2010:07:15 14:03:27"), 0},
                                           DateCase{"AllZero", test::Ascii("0000:00:00 00:00:00"), 0},
                                           DateCase{"ImpossibleDay", test::Ascii("2010:02:30 14:03:27"), 0},
                                           DateCase{"Hour24", test::Ascii("2010:07:15 24:00:00"), 0},
                                           DateCase{"NonNumber", test::Ascii("2010:07:1x 14:03:27"), 0}),
                         [](const auto& p) { return p.param.name; });

TEST(ExifProperties, MissingOrMistypedDateReadsZero) {
    TExifData exif;
    EXPECT_EQ(exif.DateTimeOriginal(), 0);
    const Bytes text = test::Ascii("2010:07:15 14:03:27");
    static_cast<TExtendableExifSection&>(exif.Sections(esDetails))
        .AddOrUpdate(36867, tdUndefined, static_cast<std::int32_t>(text.size()), text.data());
    EXPECT_EQ(exif.DateTimeOriginal(), 0);
}

TEST(ExifProperties, WritingADateTime) {
    TExifData exif;
    const DateTimeValue v = EncodeDateTime(2011, 3, 3, 23, 59, 59, 250);
    exif.SetDateTimeOriginal(v);
    EXPECT_EQ(exif.Sections(esDetails).GetStringValue(36867), "2011:03:03 23:59:59");
    EXPECT_EQ(exif.Sections(esDetails).Find(37521), nullptr);  // no sub-seconds unless asked for
    exif.SetAlwaysWritePreciseTimes(true);
    exif.SetDateTimeOriginal(v);
    EXPECT_EQ(exif.SubsecTimeOriginal(), "250");
    EXPECT_EQ(exif.DateTimeOriginal(), EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
    exif.SetDateTimeOriginal(0);
    EXPECT_EQ(exif.Sections(esDetails).Find(36867), nullptr);
    EXPECT_EQ(exif.Sections(esDetails).Find(37521), nullptr);
}

std::vector<TTiffLongWordFraction> Rationals(TExifData& exif, TTiffTagID id) {
    std::vector<TTiffLongWordFraction> v;
    const TExifTag* tag = exif.Sections(esGPS).Find(id);
    if (tag == nullptr) return v;
    EXPECT_EQ(tag->DataType(), tdLongWordFraction);
    for (std::int32_t i = 0; i < tag->ElementCount(); ++i) v.push_back(tag->ReadFraction(i, {}));
    return v;
}

TEST(ExifProperties, LatitudeFromQuotientSeconds) {
    TExifData exif;
    exif.GPSLatitude().Assign(51, 30, Currency{123456}, ltNorth);
    EXPECT_EQ(Rationals(exif, 2), (std::vector<TTiffLongWordFraction>{{51, 1}, {30, 1}, {7716, 625}}));
    EXPECT_EQ(exif.Sections(esGPS).GetStringValue(1), "N");
    const TExifTag* ref = exif.Sections(esGPS).Find(1);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->ElementCount(), 2);
    EXPECT_EQ(exif.GPSLatitude().AsString(), "51,30,7716/625N");
    EXPECT_EQ(exif.GPSLatitude().Direction(), ltNorth);
    EXPECT_FALSE(exif.GPSLatitude().MissingOrInvalid());
    // Nothing else is added: no GPSVersionID.
    EXPECT_EQ(exif.Sections(esGPS).Count(), 2);
}

TEST(ExifProperties, TheRunsAssignForm) {
    TExifData exif;
    exif.GPSLongitude().Assign(TTiffLongWordFraction(13, 1), TTiffLongWordFraction(24, 1),
                               TTiffLongWordFraction(Currency{5000}), lnEast);
    EXPECT_EQ(Rationals(exif, 4), (std::vector<TTiffLongWordFraction>{{13, 1}, {24, 1}, {1, 2}}));
    EXPECT_EQ(exif.GPSLongitude().Direction(), lnEast);
    exif.GPSLongitude().Assign(1, 2, 3U, lnWest);
    EXPECT_EQ(exif.GPSLongitude().AsString(), "1,2,3W");
}

TEST(ExifProperties, SecondsZeroAndMissing) {
    TExifData exif;
    exif.GPSLatitude().Assign(51, 30, Currency{0}, ltSouth);
    EXPECT_EQ(Rationals(exif, 2).size(), 3U);
    EXPECT_EQ(Rationals(exif, 2)[2], TTiffLongWordFraction(0, 1));
    exif.GPSLatitude().Assign(51, 30, TTiffLongWordFraction(0, 0), ltSouth);
    EXPECT_EQ(Rationals(exif, 2).size(), 2U);
    EXPECT_EQ(exif.GPSLatitude().AsString(), "51,30S");
    exif.GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(61, 2),
                              TTiffLongWordFraction(0, 0), ltSouth);
    EXPECT_EQ(exif.GPSLatitude().AsString(), "51,30.5S");
}

TEST(ExifProperties, MinutesWithoutSecondsKeepFifteenSignificantDigits) {
    const struct {
        TTiffLongWordFraction minutes;
        const char* text;
    } cases[] = {
        {{3012345, 100000}, "51,30.12345N"},  // six digits would cut it to 30.1234
        {{1, 3}, "51,0.333333333333333N"},    // fifteen digits, no more
        {{4294967295U, 100000000}, "51,42.94967295N"},
        {{30, 1}, "51,30N"},
    };
    for (const auto& c : cases) {
        TExifData exif;
        exif.GPSLatitude().Assign(TTiffLongWordFraction(51, 1), c.minutes, TTiffLongWordFraction(0, 0),
                                  ltNorth);
        EXPECT_EQ(exif.GPSLatitude().AsString(), c.text);
    }
}

TEST(ExifProperties, AssigningReplacesLongerValueTags) {
    TExifData exif;
    auto& gps = static_cast<TExtendableExifSection&>(exif.Sections(esGPS));
    const Bytes four(32, 1);
    gps.AddOrUpdate(2, tdLongWordFraction, 4, four.data());
    exif.GPSLatitude().Assign(1, 2, 3U, ltNorth);
    EXPECT_EQ(Rationals(exif, 2), (std::vector<TTiffLongWordFraction>{{1, 1}, {2, 1}, {3, 1}}));
}

TEST(ExifProperties, MissingDirectionRemovesOnlyTheReference) {
    TExifData exif;
    exif.GPSLongitude().Assign(13, 24, 5U, lnEast);
    exif.GPSLongitude().SetDirection(lnMissingOrInvalid);
    EXPECT_EQ(exif.Sections(esGPS).Find(3), nullptr);
    EXPECT_NE(exif.Sections(esGPS).Find(4), nullptr);
    EXPECT_TRUE(exif.GPSLongitude().MissingOrInvalid());
    exif.GPSLongitude().SetDirectionLetter('w');
    EXPECT_EQ(exif.GPSLongitude().Direction(), lnWest);
}

TEST(ExifProperties, NegativeSecondsFailBeforeAnyTagIsTouched) {
    TExifData exif;
    EXPECT_THROW(exif.GPSLatitude().Assign(1, 2, Currency{-1}, ltNorth), RangeError);
    EXPECT_TRUE(exif.Empty());
}

TEST(ExifProperties, GpsDateTimeWriteAndRead) {
    TExifData exif;
    int notifications = 0;
    exif.SetOnChange([&](TCustomExifData&) { ++notifications; });
    exif.SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 23, 59, 59, 999));
    EXPECT_EQ(notifications, 1);  // once, at the end of its update
    EXPECT_EQ(exif.GPSDateStamp(), "2011:03:03");
    EXPECT_EQ(exif.Sections(esGPS).Find(29)->ElementCount(), 11);
    EXPECT_EQ(Rationals(exif, 7), (std::vector<TTiffLongWordFraction>{{23, 1}, {59, 1}, {59, 1}}));
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
    exif.SetGPSDateTimeUTC(0);
    EXPECT_EQ(exif.Sections(esGPS).Find(29), nullptr);
    EXPECT_EQ(exif.Sections(esGPS).Find(7), nullptr);
}

TEST(ExifProperties, GpsTimeWithoutDateTakesTheShotsDay) {
    TExifData exif;
    exif.SetGPSTimeStampHour({10, 1});
    exif.SetGPSTimeStampMinute({90, 3});  // quotients are truncated: 30
    exif.SetGPSTimeStampSecond({5, 2});
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeTime(10, 30, 2, 0));
    exif.SetDateTimeOriginal(EncodeDateTime(2020, 1, 2, 8, 0, 0, 0));
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2020, 1, 2, 10, 30, 2, 0));
    exif.SetGPSTimeStampSecond({61, 1});  // no valid time: the date alone
    exif.SetGPSDateStamp("2021x05x06");   // separators are not checked
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDate(2021, 5, 6));
}

TEST(ExifProperties, CoordinateAssignFromAnotherContainer) {
    TExifData a;
    TExifData b;
    a.GPSLatitude().Assign(51, 30, Currency{123456}, ltNorth);
    b.GPSLatitude().Assign(&a.GPSLatitude());
    EXPECT_EQ(b.GPSLatitude().AsString(), "51,30,7716/625N");
    b.GPSLatitude().Assign(nullptr);
    EXPECT_EQ(b.Sections(esGPS).Count(), 0);
    // The error names the two classes as the user knows them, not as the compiler mangles them.
    try {
        b.GPSLatitude().Assign(&a.GPSLongitude());
        ADD_FAILURE() << "a longitude was assigned to a latitude";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "TGPSLongitude kann nicht zu TGPSLatitude zugewiesen werden");
    }
    try {
        b.GPSLongitude().Assign(&a.GPSLatitude());
        ADD_FAILURE() << "a latitude was assigned to a longitude";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "TGPSLatitude kann nicht zu TGPSLongitude zugewiesen werden");
    }
}

TEST(ExifProperties, GpsLatitudeMirrorsIntoAnExistingXmpProperty) {
    const std::string packet =
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/'>"
        "<exif:GPSLatitude>1,2,3S</exif:GPSLatitude></rdf:Description></rdf:RDF></x:xmpmeta>"
        "<?xpacket end='w'?>";
    Bytes payload = test::Raw(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));
    payload.insert(payload.end(), packet.begin(), packet.end());
    test::JpegBuilder jpeg;
    jpeg.Soi().Segment(0xE1, payload).Sof0().Sos({1}).Eoi();
    TExifData exif;
    exif.LoadFromJPEG(jpeg.bytes());
    exif.GPSLatitude().Assign(51, 30, Currency{123456}, ltNorth);
    exif.GPSLongitude().Assign(13, 24, 5U, lnEast);  // no such XMP property: nothing is added
    const TXMPSchema* schema = exif.XMPPacket().FindSchema(xsExif);
    ASSERT_NE(schema, nullptr);
    const TXMPProperty* prop = schema->FindProperty("GPSLatitude");
    ASSERT_NE(prop, nullptr);
    EXPECT_EQ(prop->ReadValue(), "51,30.20576N");  // decimal minutes, as the XMP schema spells them
    EXPECT_EQ(schema->FindProperty("GPSLongitude"), nullptr);
}

TEST(ExifProperties, GpsReferenceLettersReadAsTheirTypes) {
    TExifData exif;
    TExifSection& gps = exif.Sections(esGPS);
    EXPECT_EQ(exif.GPSStatus(), stMissingOrInvalid);
    gps.SetStringValue(9, "A");
    gps.SetStringValue(10, "3");
    gps.SetStringValue(12, "k");  // lower case is accepted
    gps.SetStringValue(14, "M");
    gps.SetStringValue(16, "X");  // no such reference
    gps.SetStringValue(25, "N");
    EXPECT_EQ(exif.GPSStatus(), stMeasurementActive);
    EXPECT_EQ(exif.GPSMeasureMode(), mm3D);
    EXPECT_EQ(exif.GPSSpeedRef(), srKilometresPerHour);
    EXPECT_EQ(exif.GPSTrackRef(), drMagneticNorth);
    EXPECT_EQ(exif.GPSImgDirectionRef(), drMissingOrInvalid);
    EXPECT_EQ(exif.GPSDestDistanceRef(), dsKnots);
    EXPECT_EQ(exif.GPSAltitudeRef(), alTagMissing);
    exif.SetGPSAltitudeRef(alBelowSeaLevel);
    EXPECT_EQ(gps.GetByteValue(5, 0, 9), 1);
    EXPECT_EQ(exif.GPSAltitudeRef(), alBelowSeaLevel);
    exif.SetGPSAltitudeRef(alTagMissing);
    EXPECT_EQ(gps.Find(5), nullptr);
}

TEST(ExifProperties, CommentsAuthorAndRating) {
    TExifData exif;
    auto& details = static_cast<TExtendableExifSection&>(exif.Sections(esDetails));
    Bytes ascii = test::Raw(std::string_view("ASCII\0\0\0Hello  \0", 16));
    details.AddOrUpdate(37510, tdUndefined, static_cast<std::int32_t>(ascii.size()), ascii.data());
    EXPECT_EQ(exif.Comments(), "Hello");  // trailing bytes below 33 are cut
    Bytes unicode = test::Raw(std::string_view("UNICODE\0H\0i\0", 12));
    details.AddOrUpdate(37510, tdUndefined, static_cast<std::int32_t>(unicode.size()), unicode.data());
    EXPECT_EQ(exif.Comments(), "Hi");
    Bytes other = test::Raw(std::string_view("JIS\0\0\0\0\0abc", 11));
    details.AddOrUpdate(37510, tdUndefined, static_cast<std::int32_t>(other.size()), other.data());
    EXPECT_EQ(exif.Comments(), "");
    exif.Sections(esGeneral).SetWindowsStringValue(40092, "XP comment");
    EXPECT_EQ(exif.Comments(), "XP comment");  // the Windows text comes first

    exif.Sections(esGeneral).SetStringValue(315, "Artist");
    EXPECT_EQ(exif.Author(), "Artist");
    exif.Sections(esGeneral).SetWindowsStringValue(40093, "XP author");
    EXPECT_EQ(exif.Author(), "XP author");

    exif.SetUserRating(urThreeStars);
    EXPECT_EQ(exif.UserRating(), urThreeStars);
    exif.Sections(esGeneral).SetWordValue(18246, 0, 9);
    EXPECT_EQ(exif.UserRating(), urUndefined);  // out of range while enums are kept in range
    exif.SetEnsureEnumsInRange(false);
    EXPECT_EQ(static_cast<int>(exif.UserRating()), 9);
    exif.SetUserRating(urUndefined);
    EXPECT_EQ(exif.Sections(esGeneral).Find(18246), nullptr);
}

TEST(ExifContainer, SectionsVisitedInKindOrder) {
    TExifData exif;
    std::vector<TExifSectionKindEx> kinds;
    for (TExifSection& section : exif) kinds.push_back(section.Kind());
    EXPECT_EQ(kinds, (std::vector<TExifSectionKindEx>{esGeneral, esDetails, esInterop, esGPS, esThumbnail,
                                                      esMakerNote}));
    auto& general = static_cast<TExtendableExifSection&>(exif.Sections(esGeneral));
    general.SetWordValue(274, 0, 1);
    general.Assign(&general);  // assigning a section to itself keeps its tags
    EXPECT_EQ(general.Count(), 1);
}

TEST(ExifContainer, NestedUpdatesNotifyOnceAtTheOutermostEnd) {
    TExifData exif;
    int notifications = 0;
    exif.SetOnChange([&](TCustomExifData&) { ++notifications; });
    exif.BeginUpdate();
    exif.BeginUpdate();
    exif.SetCameraMake("A");
    exif.SetCameraModel("B");
    exif.EndUpdate();
    EXPECT_EQ(notifications, 0);
    exif.EndUpdate();
    EXPECT_EQ(notifications, 1);
    EXPECT_TRUE(exif.Modified());
    exif.BeginUpdate();
    exif.EndUpdate();
    EXPECT_EQ(notifications, 1);
    exif.SetEndianness(SmallEndian);  // unchanged: no notification
    EXPECT_EQ(notifications, 1);
    exif.SetEndianness(BigEndian);
    EXPECT_EQ(notifications, 2);
    exif.SetModified(false);
    EXPECT_FALSE(exif.Modified());
}

TEST(ExifContainer, EmptinessAndThumbnail) {
    TExifData exif;
    EXPECT_TRUE(exif.Empty());
    exif.SetCameraMake("A");
    EXPECT_FALSE(exif.Empty());
    exif.Clear();
    EXPECT_TRUE(exif.Empty());
    exif.Thumbnail().LoadFromBytes(test::TinyJpeg());
    EXPECT_FALSE(exif.Empty());

    TCustomExifData noIfd1;
    exif.Assign(&noIfd1);
    EXPECT_TRUE(exif.Empty());  // a source without IFD1 tags drops the thumbnail

    TExifData other;
    other.Thumbnail().LoadFromBytes(test::TinyJpeg(16, 16));
    other.SetCameraModel("M");
    exif.Assign(&other);
    EXPECT_EQ(exif.CameraModel(), "M");
    ASSERT_TRUE(exif.HasThumbnail());
    EXPECT_EQ(exif.ThumbnailOrNil()->Width(), 16U);
    exif.Assign(nullptr);
    EXPECT_TRUE(exif.Empty());
}

TEST(ExifContainer, ThumbnailChangeUpdatesIfd1Size) {
    TExifData exif;
    exif.Sections(esThumbnail).SetWordValue(256, 0, 1);
    exif.Thumbnail().LoadFromBytes(test::TinyJpeg(24, 16));
    EXPECT_EQ(exif.Sections(esThumbnail).GetWordValue(256, 0, 0), 24);
    EXPECT_EQ(exif.Sections(esThumbnail).GetWordValue(257, 0, 0), 16);
}

TEST(ExifContainer, PixelDimensionsKeepAShortTagShort) {
    TExifData exif;
    exif.Sections(esDetails).SetWordValue(40962, 0, 10);
    exif.SetExifImageWidth(640);
    exif.SetExifImageHeight(480);
    EXPECT_EQ(exif.Sections(esDetails).Find(40962)->DataType(), tdWord);
    EXPECT_EQ(exif.Sections(esDetails).Find(40963)->DataType(), tdLongWord);
    EXPECT_EQ(exif.ExifImageWidth().Value(), 640U);
    EXPECT_EQ(exif.ExifImageHeight().Value(), 480U);
    EXPECT_TRUE(exif.XMPPacket().Empty());  // update-if-exists: nothing was there
}

}  // namespace
}  // namespace zeloro
