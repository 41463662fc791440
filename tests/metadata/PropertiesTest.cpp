// tests/metadata/PropertiesTest.cpp: the container's enumerated SHORT properties and their XMP mirror,
// the property objects (versions, flash, resolutions, ISO ratings), SubjectLocation and the Windows-string
// setters.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "common/Error.h"
#include "metadata/ExifData.h"

namespace zeloro {
namespace {

using test::Bytes;

// An XMP APP1 segment payload holding one exif property (or none when name is empty) beside a
// dc:format property, so that a test can see the rest of the packet survive.
Bytes XmpPayload(const std::string& name, const std::string& value) {
    std::string packet =
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
        "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/jpeg</dc:format>";
    if (!name.empty()) packet += "<exif:" + name + ">" + value + "</exif:" + name + ">";
    packet += "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    Bytes payload = test::Raw(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));
    payload.insert(payload.end(), packet.begin(), packet.end());
    return payload;
}

// Loads a photo with the EXIF block (when given) and the XMP packet into the container.
void LoadPhoto(TCustomExifData& exif, const Bytes* tiff, const Bytes& xmpPayload) {
    test::JpegBuilder jpeg;
    jpeg.Soi();
    if (tiff != nullptr) jpeg.App1Exif(*tiff);
    jpeg.Segment(0xE1, xmpPayload).Sof0().Sos({1}).Eoi();
    exif.LoadFromJPEG(jpeg.bytes());
}

const TXMPProperty* ExifXmp(TCustomExifData& exif, const std::string& name) {
    const TXMPSchema* schema = exif.XMPPacket().FindSchema(xsExif);
    return schema == nullptr ? nullptr : schema->FindProperty(name);
}

struct EnumCase {
    std::string name;  // also the XMP property's name
    TTiffTagID id;
    std::function<std::uint16_t(const TCustomExifData&)> get;
    std::function<void(TCustomExifData&, std::uint16_t)> set;
    std::uint16_t missing;
    std::uint16_t valid;       // a defined value other than the missing one
    std::uint16_t outOfRange;  // a number the type does not define
};
void PrintTo(const EnumCase& c, std::ostream* os) { *os << c.name; }

#define ENUM_CASE(Name, Type, Id, Missing, Valid, Out)                                                \
    EnumCase {                                                                                        \
#Name, Id, [](const TCustomExifData& d) { return static_cast<std::uint16_t>(d.Name()); },           \
            [](TCustomExifData& d, std::uint16_t v) { d.Set##Name(static_cast<Type>(v)); }, Missing, Valid, Out \
    }

const EnumCase kEnumCases[] = {
    ENUM_CASE(Contrast, ExifContrast, 41992, cnTagMissing, cnHard, 3),
    ENUM_CASE(CustomRendered, ExifCustomRendered, 41985, crTagMissing, crCustom, 2),
    ENUM_CASE(ExposureMode, ExifExposureMode, 41986, exTagMissing, exAutoBracket, 3),
    ENUM_CASE(ExposureProgram, ExifExposureProgram, 34850, eeTagMissing, eeLandscape, 9),
    ENUM_CASE(GainControl, ExifGainControl, 41991, egTagMissing, egHighGainDown, 5),
    ENUM_CASE(LightSource, ExifLightSource, 37384, lsTagMissing, lsFineWeather, 5),  // a gap of the range
    ENUM_CASE(MeteringMode, ExifMeteringMode, 37383, meTagMissing, meOther, 7),
    ENUM_CASE(Saturation, ExifSaturation, 41993, saTagMissing, saHigh, 3),
    ENUM_CASE(SceneCaptureType, ExifSceneCaptureType, 41990, scTagMissing, scNightScene, 4),
    ENUM_CASE(SensingMethod, ExifSensingMethod, 41495, smTagMissing, smTrilinear, 6),  // a gap of the range
    ENUM_CASE(Sharpness, ExifSharpness, 41994, shTagMissing, shSoft, 3),
    ENUM_CASE(SubjectDistanceRange, ExifSubjectDistanceRange, 41996, sdTagMissing, sdDistant, 4),
    ENUM_CASE(ColorSpace, ExifColorSpace, 40961, csTagMissing, csUncalibrated, 3),
};
#undef ENUM_CASE

class EnumProperty : public ::testing::TestWithParam<EnumCase> {};

TEST_P(EnumProperty, ReadsTheTagOrTheMissingValue) {
    const auto& c = GetParam();
    TExifData exif;
    EXPECT_EQ(c.get(exif), c.missing);
    EXPECT_EQ(exif.Sections(esDetails).Count(), 0) << "reading must not create the tag";

    exif.Sections(esDetails).SetWordValue(c.id, 0, c.valid);
    EXPECT_EQ(c.get(exif), c.valid);
    // Element 0 is the value; further elements do not matter.
    exif.Sections(esDetails).SetWordValue(c.id, 1, 7);
    EXPECT_EQ(c.get(exif), c.valid);

    exif.Sections(esDetails).SetWordValue(c.id, 0, c.outOfRange);
    EXPECT_EQ(c.get(exif), c.missing);
    exif.SetEnsureEnumsInRange(false);
    EXPECT_EQ(c.get(exif), c.outOfRange);
    exif.SetEnsureEnumsInRange(true);

    // A text under the tag's ID is no number.
    exif.Sections(esDetails).Remove(c.id);
    exif.Sections(esDetails).SetStringValue(c.id, "2");
    EXPECT_EQ(c.get(exif), c.missing);
}

TEST_P(EnumProperty, WritesShortElementZeroAndRemovesWithTheMissingValue) {
    const auto& c = GetParam();
    TExifData exif;
    int notifications = 0;
    exif.SetOnChange([&](TCustomExifData&) { ++notifications; });

    c.set(exif, c.valid);
    const TExifTag* tag = exif.Sections(esDetails).Find(c.id);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DataType(), tdWord);
    EXPECT_EQ(tag->ElementCount(), 1);
    EXPECT_EQ(tag->ReadWord(0, 0), c.valid);
    EXPECT_EQ(notifications, 1);
    // A packet without the property gains nothing: the container updates only what exists.
    EXPECT_EQ(ExifXmp(exif, c.name), nullptr);

    c.set(exif, c.missing);
    EXPECT_EQ(exif.Sections(esDetails).Find(c.id), nullptr);
    EXPECT_EQ(c.get(exif), c.missing);
    EXPECT_TRUE(exif.Empty());
}

TEST_P(EnumProperty, MirrorsIntoAnExistingXmpProperty) {
    const auto& c = GetParam();
    TExifData exif;
    LoadPhoto(exif, nullptr, XmpPayload(c.name, "99"));
    ASSERT_NE(ExifXmp(exif, c.name), nullptr);

    c.set(exif, c.valid);
    ASSERT_NE(ExifXmp(exif, c.name), nullptr);
    EXPECT_EQ(ExifXmp(exif, c.name)->ReadValue(), std::to_string(c.valid));

    c.set(exif, c.missing);
    EXPECT_EQ(ExifXmp(exif, c.name), nullptr);
    const TXMPSchema* dc = exif.XMPPacket().FindSchema(xsDublinCore);
    ASSERT_NE(dc, nullptr);
    EXPECT_NE(dc->FindProperty("format"), nullptr) << "other properties stay";
}

TEST_P(EnumProperty, SurvivesASaveAndReload) {
    const auto& c = GetParam();
    TExifData exif;
    c.set(exif, c.valid);
    Bytes block;
    exif.SaveToBytes(block);
    test::JpegBuilder jpeg;
    jpeg.Soi().Segment(0xE1, block).Sof0().Sos({1}).Eoi();
    TExifData reread;
    reread.LoadFromJPEG(jpeg.bytes());
    EXPECT_EQ(c.get(reread), c.valid);
}

INSTANTIATE_TEST_SUITE_P(Properties, EnumProperty, ::testing::ValuesIn(kEnumCases),
                         [](const auto& p) { return p.param.name; });

TEST(Properties, EnumWriteToASectionThatCannotGrowFailsWithoutTouchingXmp) {
    TCustomExifData exif;  // plain sections: tags can change but not be added
    LoadPhoto(exif, nullptr, XmpPayload("Contrast", "1"));
    EXPECT_THROW(exif.SetContrast(cnHard), EIllegalEditOfExifData);
    ASSERT_NE(ExifXmp(exif, "Contrast"), nullptr);
    EXPECT_EQ(ExifXmp(exif, "Contrast")->ReadValue(), "1");
}

TEST(Properties, EnumOnALoadedPhotoReplacesOnlyTheValue) {
    test::TiffBuilder b;
    b.AddDirectory({b.Pointer(34665, 1)});
    b.AddDirectory({b.Short(41992, {1}), b.Short(41994, {2})});
    const Bytes block = b.Build();
    TExifData exif;
    LoadPhoto(exif, &block, XmpPayload("", ""));
    EXPECT_EQ(exif.Contrast(), cnSoft);
    EXPECT_EQ(exif.Sharpness(), shHard);
    exif.SetContrast(cnNormal);  // 0 is a value, not the missing one
    ASSERT_NE(exif.Sections(esDetails).Find(41992), nullptr);
    EXPECT_EQ(exif.Contrast(), cnNormal);
    EXPECT_EQ(exif.Sharpness(), shHard);
}

TEST(Properties, ReadingThePropertyObjectsNeverCreatesTags) {
    TExifData exif;
    const TCustomExifData& d = exif;
    EXPECT_TRUE(d.ExifVersion().MissingOrInvalid());
    EXPECT_EQ(d.ExifVersion().AsString(), "");
    EXPECT_EQ(d.FlashPixVersion().Major(), 0);
    EXPECT_EQ(d.InteropVersion().Minor(), 0);
    EXPECT_TRUE(d.GPSVersion().MissingOrInvalid());
    EXPECT_TRUE(d.Flash().MissingOrInvalid());
    EXPECT_FALSE(d.Flash().Fired());
    EXPECT_EQ(d.Flash().StrobeEnergy().Denominator, 0U);
    EXPECT_TRUE(d.Resolution().MissingOrInvalid());
    EXPECT_EQ(d.ThumbnailResolution().Unit(), trTagMissing);
    EXPECT_TRUE(d.FocalPlaneResolution().MissingOrInvalid());
    EXPECT_TRUE(d.ISOSpeedRatings().MissingOrInvalid());
    EXPECT_EQ(d.ISOSpeedRatings().AsString(), "");
    EXPECT_EQ(d.SubjectLocation(), kInvalidSmallPoint);
    EXPECT_TRUE(exif.Empty());
    EXPECT_FALSE(exif.Modified());
}

struct VersionCase {
    std::string name;
    std::function<CustomExifVersion&(TCustomExifData&)> object;
    TExifSectionKind section;
    TTiffTagID id;
    TTiffDataType type;
    Bytes stored;
    std::string text;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
class VersionProperty : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionProperty, ReadsAndWritesTheFourElements) {
    const auto& c = GetParam();
    TExifData exif;
    auto& section = static_cast<TExtendableExifSection&>(exif.Sections(c.section));
    section.AddOrUpdate(c.id, c.type, 4, c.stored.data());
    CustomExifVersion& v = c.object(exif);
    EXPECT_FALSE(v.MissingOrInvalid());
    EXPECT_EQ(v.AsString(), c.text);

    v.Clear();
    EXPECT_EQ(section.Find(c.id), nullptr);
    std::array<std::uint8_t, 4> e{};
    std::copy(c.stored.begin(), c.stored.end(), e.begin());
    v.SetElements(e);
    const TExifTag* tag = section.Find(c.id);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DataType(), c.type);
    EXPECT_TRUE(test::BytesEqual(c.stored, Bytes(tag->Bytes().begin(), tag->Bytes().end())));

    // Three elements are no version.
    section.AddOrUpdate(c.id, c.type, 3, c.stored.data());
    EXPECT_TRUE(v.MissingOrInvalid());
    EXPECT_EQ(v.AsString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Properties, VersionProperty,
    ::testing::Values(
        VersionCase{"Exif", [](TCustomExifData& d) -> CustomExifVersion& { return d.ExifVersion(); },
                    esDetails, 36864, tdUndefined, test::Raw("0230"), "2.30"},
        VersionCase{"FlashPix", [](TCustomExifData& d) -> CustomExifVersion& { return d.FlashPixVersion(); },
                    esDetails, 40960, tdUndefined, test::Raw("0100"), "1.00"},
        VersionCase{"Interop", [](TCustomExifData& d) -> CustomExifVersion& { return d.InteropVersion(); },
                    esInterop, 2, tdUndefined, test::Raw("0100"), "1.00"},
        VersionCase{"GPS", [](TCustomExifData& d) -> CustomExifVersion& { return d.GPSVersion(); }, esGPS, 0,
                    tdByte, Bytes{2, 3, 0, 0}, "2.3.0.0"}),
    [](const auto& p) { return p.param.name; });

TEST(Properties, CharacterVersionNumbers) {
    TExifData exif;
    exif.ExifVersion().Assign(2, 31);
    const TExifTag* tag = exif.Sections(esDetails).Find(36864);
    ASSERT_NE(tag, nullptr);
    EXPECT_TRUE(test::BytesEqual(test::Raw("0231"), Bytes(tag->Bytes().begin(), tag->Bytes().end())));
    EXPECT_EQ(exif.ExifVersion().Major(), 2);
    EXPECT_EQ(exif.ExifVersion().Minor(), 31);
    EXPECT_EQ(exif.ExifVersion().AsString(), "2.31");
    EXPECT_THROW(exif.ExifVersion().Assign(100, 0), RangeError);
    EXPECT_EQ(exif.ExifVersion().AsString(), "2.31");
    // A version stored as BYTE reads alike; non-digits give 0.
    static_cast<TExtendableExifSection&>(exif.Sections(esDetails)).AddOrUpdate(36864, tdByte, 4, "02x0");
    EXPECT_EQ(exif.ExifVersion().Major(), 2);
    EXPECT_EQ(exif.ExifVersion().Minor(), 0);
}

TEST(Properties, FlashBitsAndEnergy) {
    TExifData exif;
    TExifFlashInfo& flash = exif.Flash();
    flash.SetRedEyeReduction(true);
    EXPECT_EQ(flash.Value().Value(), 0x40);
    flash.SetFired(true);
    EXPECT_EQ(flash.Value().Value(), 0x41);
    EXPECT_TRUE(flash.Fired());
    EXPECT_TRUE(flash.RedEyeReduction());
    flash.SetValue(0x1F);  // fired, return light, compulsory mode: red-eye off
    flash.SetFired(false);
    EXPECT_EQ(flash.Value().Value(), 0x1E);
    EXPECT_FALSE(flash.RedEyeReduction());

    flash.SetStrobeEnergy({3, 2});
    EXPECT_EQ(exif.Sections(esDetails).GetFractionValue(41483, 0), (TTiffLongWordFraction{3, 2}));
    flash.SetStrobeEnergy({0, 0});
    EXPECT_EQ(exif.Sections(esDetails).Find(41483), nullptr);

    exif.Sections(esDetails).SetStringValue(37386, "x");  // a neighbour stays
    flash.SetStrobeEnergy({1, 1});
    flash.Clear();
    EXPECT_EQ(exif.Sections(esDetails).Count(), 1);
    EXPECT_TRUE(flash.MissingOrInvalid());
}

struct ResolutionCase {
    std::string name;
    std::function<CustomExifResolution&(TCustomExifData&)> object;
    TExifSectionKind section;
    TTiffTagID x, y, unit;
};
void PrintTo(const ResolutionCase& c, std::ostream* os) { *os << c.name; }
class ResolutionProperty : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(ResolutionProperty, BoundToItsOwnTags) {
    const auto& c = GetParam();
    TExifData exif;
    CustomExifResolution& r = c.object(exif);
    r.SetX({300, 1});
    EXPECT_TRUE(r.MissingOrInvalid()) << "Y is still missing";
    r.SetY({150, 1});
    r.SetUnit(trCentimetre);
    EXPECT_FALSE(r.MissingOrInvalid());

    const TExifSection& s = exif.Sections(c.section);
    EXPECT_EQ(s.Count(), 3);
    EXPECT_EQ(s.GetFractionValue(c.x, 0), (TTiffLongWordFraction{300, 1}));
    EXPECT_EQ(s.GetFractionValue(c.y, 0), (TTiffLongWordFraction{150, 1}));
    EXPECT_EQ(s.GetWordValue(c.unit, 0, 0), 3);
    EXPECT_EQ(r.X(), (TTiffLongWordFraction{300, 1}));
    EXPECT_EQ(r.Unit(), trCentimetre);
    // The other sections are untouched.
    for (const auto k : {esGeneral, esDetails, esThumbnail}) {
        if (k != c.section) {
            EXPECT_EQ(exif.Sections(k).Count(), 0);
        }
    }

    exif.Sections(c.section).SetWordValue(c.unit, 0, 4);
    EXPECT_EQ(r.Unit(), trTagMissing);
    exif.SetEnsureEnumsInRange(false);
    EXPECT_EQ(static_cast<int>(r.Unit()), 4);

    r.SetUnit(trTagMissing);
    EXPECT_EQ(s.Find(c.unit), nullptr);
    r.Clear();
    EXPECT_EQ(s.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, ResolutionProperty,
    ::testing::Values(
        ResolutionCase{"Image", [](TCustomExifData& d) -> CustomExifResolution& { return d.Resolution(); },
                       esGeneral, 282, 283, 296},
        ResolutionCase{"Thumbnail",
                       [](TCustomExifData& d) -> CustomExifResolution& { return d.ThumbnailResolution(); },
                       esThumbnail, 282, 283, 296},
        ResolutionCase{"FocalPlane",
                       [](TCustomExifData& d) -> CustomExifResolution& { return d.FocalPlaneResolution(); },
                       esDetails, 41486, 41487, 41488}),
    [](const auto& p) { return p.param.name; });

TEST(Properties, IsoSpeedRatings) {
    TExifData exif;
    TISOSpeedRatings& iso = exif.ISOSpeedRatings();
    const std::uint16_t two[] = {100, 200};
    iso.SetValues(two);
    EXPECT_EQ(iso.Values(), (std::vector<std::uint16_t>{100, 200}));
    EXPECT_EQ(iso.AsString(), "100, 200");
    iso.SetValue(400);  // a shorter list leaves no old value behind
    const TExifTag* tag = exif.Sections(esDetails).Find(34855);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DataType(), tdWord);
    EXPECT_EQ(tag->ElementCount(), 1);
    EXPECT_EQ(iso.Value().Value(), 400);

    // A LONG written by another program becomes SHORT numbers when written.
    static_cast<TExtendableExifSection&>(exif.Sections(esDetails)).AddOrUpdate(34855, tdLongWord, 1, nullptr);
    EXPECT_TRUE(iso.MissingOrInvalid());
    iso.SetValues(two);
    EXPECT_EQ(exif.Sections(esDetails).Find(34855)->DataType(), tdWord);
    EXPECT_EQ(iso.Values(), (std::vector<std::uint16_t>{100, 200}));

    iso.SetValues({});
    EXPECT_EQ(exif.Sections(esDetails).Find(34855), nullptr);
}

TEST(Properties, SubjectLocation) {
    TExifData exif;
    TExifSection& details = exif.Sections(esDetails);
    struct ReadCase {
        std::vector<std::uint16_t> stored;
        TSmallPoint want;
    };
    const ReadCase reads[] = {
        {{10, 20}, {10, 20}},
        {{10, 20, 5, 6}, {10, 20}},  // an area: its centre
        {{10}, kInvalidSmallPoint},  // one number is no point
        {{0x8000, 1}, kInvalidSmallPoint},
    };
    for (const auto& r : reads) {
        details.Remove(41492);
        for (std::size_t i = 0; i < r.stored.size(); ++i) {
            details.SetWordValue(41492, static_cast<std::int32_t>(i), r.stored[i]);
        }
        EXPECT_EQ(exif.SubjectLocation(), r.want) << r.stored.size() << " numbers";
    }

    details.Remove(41492);
    for (std::int32_t i = 0; i < 4; ++i) details.SetWordValue(41492, i, 9);
    exif.SetSubjectLocation({30, 40});
    const TExifTag* tag = details.Find(41492);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->ElementCount(), 2);
    EXPECT_EQ(exif.SubjectLocation(), (TSmallPoint{30, 40}));
    exif.SetSubjectLocation({-1, 40});
    EXPECT_EQ(details.Find(41492), nullptr);
}

TEST(Properties, WindowsStringSetters) {
    TExifData exif;
    exif.SetKeywords("Bäume; Wald");
    exif.SetSubject("Ausflug");
    exif.SetAuthor("Jürgen");
    exif.SetComments("schön");
    EXPECT_EQ(exif.Keywords(), "Bäume; Wald");
    EXPECT_EQ(exif.Subject(), "Ausflug");
    EXPECT_EQ(exif.Author(), "Jürgen");
    EXPECT_EQ(exif.Comments(), "schön");
    const TExifTag* keywords = exif.Sections(esGeneral).Find(40094);
    ASSERT_NE(keywords, nullptr);
    EXPECT_EQ(keywords->DataType(), tdByte);
    const Bytes utf16{'B', 0, 0xE4, 0, 'u', 0, 'm', 0, 'e', 0, ';', 0,
                      ' ', 0, 'W',  0, 'a', 0, 'l', 0, 'd', 0, 0,   0};
    EXPECT_TRUE(test::BytesEqual(utf16, Bytes(keywords->Bytes().begin(), keywords->Bytes().end())));

    exif.SetKeywords("");
    exif.SetSubject("");
    EXPECT_EQ(exif.Sections(esGeneral).Find(40094), nullptr);
    EXPECT_EQ(exif.Sections(esGeneral).Find(40095), nullptr);
}

TEST(Properties, EmptyingAuthorAndCommentsRemovesTheirFallbacks) {
    TExifData exif;
    exif.Sections(esGeneral).SetStringValue(315, "Artist");
    const Bytes comment = test::Raw(std::string_view("ASCII\0\0\0old comment", 19));
    static_cast<TExtendableExifSection&>(exif.Sections(esDetails))
        .AddOrUpdate(37510, tdUndefined, static_cast<std::int32_t>(comment.size()), comment.data());
    EXPECT_EQ(exif.Author(), "Artist");
    EXPECT_EQ(exif.Comments(), "old comment");

    exif.SetAuthor("New");  // the Windows string is read first; the fallback stays
    EXPECT_EQ(exif.Author(), "New");
    EXPECT_NE(exif.Sections(esGeneral).Find(315), nullptr);
    exif.SetComments("New");
    EXPECT_EQ(exif.Comments(), "New");

    exif.SetAuthor("");
    exif.SetComments("");
    EXPECT_EQ(exif.Author(), "");
    EXPECT_EQ(exif.Comments(), "");
    EXPECT_TRUE(exif.Empty());
}

// An independent reader (exiftool) for the values written.

struct PipeClose {
    void operator()(FILE* f) const noexcept { pclose(f); }
};

// exiftool's numeric values ("-n") of the EXIF tags of a file, by tag name.
std::map<std::string, std::string> ExiftoolValues(const std::filesystem::path& file) {
    std::map<std::string, std::string> out;
    const std::string cmd = "exiftool -n -s -EXIF:all '" + file.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, PipeClose> p(popen(cmd.c_str(), "r"));
    if (!p) return out;
    char line[4096];
    while (std::fgets(line, sizeof line, p.get()) != nullptr) {
        std::string l(line);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        const auto colon = l.find(": ");
        if (colon == std::string::npos) continue;
        std::string name = l.substr(0, colon);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        out[name] = l.substr(colon + 2);
    }
    return out;
}

TEST(Properties, ExiftoolReadsTheWrittenValues) {
    std::unique_ptr<FILE, PipeClose> probe(popen("exiftool -ver 2>/dev/null", "r"));
    char ver[64] = {};
    if (!probe || std::fgets(ver, sizeof ver, probe.get()) == nullptr)
        GTEST_SKIP() << "exiftool not installed";

    for (const bool bigEndian : {false, true}) {
        TExifData exif;
        exif.SetEndianness(bigEndian ? BigEndian : SmallEndian);
        exif.SetContrast(cnHard);
        exif.SetLightSource(lsD65);
        exif.SetSensingMethod(smTrilinear);
        exif.SetColorSpace(csRGB);
        exif.ExifVersion().Assign(2, 31);
        exif.Flash().SetValue(0x19);
        exif.Flash().SetStrobeEnergy({5, 2});
        exif.Resolution().SetX({72, 1});
        exif.Resolution().SetY({72, 1});
        exif.Resolution().SetUnit(trInch);
        exif.FocalPlaneResolution().SetX({4000, 4});
        const std::uint16_t iso[] = {100, 200};
        exif.ISOSpeedRatings().SetValues(iso);
        exif.SetSubjectLocation({120, 80});
        exif.SetKeywords("Bäume");
        Bytes block;
        exif.SaveToBytes(block);
        test::JpegBuilder jpeg;
        jpeg.Soi().Segment(0xE1, block).Sof0().Sos({1}).Eoi();
        test::TempDir dir;
        const auto file = dir / "props.jpg";
        test::WriteFileBytes(file, jpeg.bytes());

        auto v = ExiftoolValues(file);
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        EXPECT_EQ(v["Contrast"], "2");
        EXPECT_EQ(v["LightSource"], "21");
        EXPECT_EQ(v["SensingMethod"], "7");
        EXPECT_EQ(v["ColorSpace"], "1");
        EXPECT_EQ(v["ExifVersion"], "0231");
        EXPECT_EQ(v["Flash"], "25");
        EXPECT_EQ(v["FlashEnergy"], "2.5");
        EXPECT_EQ(v["XResolution"], "72");
        EXPECT_EQ(v["ResolutionUnit"], "2");
        EXPECT_EQ(v["FocalPlaneXResolution"], "1000");
        EXPECT_EQ(v["ISO"], "100 200");
        EXPECT_EQ(v["SubjectLocation"], "120 80");
        EXPECT_EQ(v["XPKeywords"], "Bäume");
        EXPECT_EQ(v.count("GPSVersionID"), 0U) << "nothing the run did not write";
    }
}

}  // namespace
}  // namespace zeloro
