// tests/metadata/ExifTagsTest.cpp: rationals, tags and sections: typed reads and writes, retyping,
// text forms, the structure checks and the change reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "metadata/ExifData.h"

namespace zeloro {
namespace {

using test::Bytes;

struct QuotientCase {
    std::string name;
    std::int64_t tenThousandths;
    std::uint32_t num;
    std::uint32_t den;
};
void PrintTo(const QuotientCase& c, std::ostream* os) { *os << c.name; }
class Quotient : public ::testing::TestWithParam<QuotientCase> {};

TEST_P(Quotient, ReducesByGcd) {
    const auto& c = GetParam();
    const TTiffLongWordFraction f(Currency{c.tenThousandths});
    EXPECT_EQ(f.Numerator, c.num);
    EXPECT_EQ(f.Denominator, c.den);
}

INSTANTIATE_TEST_SUITE_P(Fraction, Quotient,
                         ::testing::Values(QuotientCase{"Half", 5000, 1, 2},
                                           QuotientCase{"GpsSeconds", 123456, 7716, 625},
                                           QuotientCase{"Whole", 70000, 7, 1}, QuotientCase{"Zero", 0, 0, 1},
                                           QuotientCase{"LargestWhole", 42949672950000, 4294967295U, 1}),
                         [](const auto& p) { return p.param.name; });

TEST(Fraction, QuotientOutOfRangeRaisesRangeCheck) {
    for (const std::int64_t v : {std::int64_t{-10000}, std::int64_t{-1}, std::int64_t{42949672960000}}) {
        try {
            (void)TTiffLongWordFraction(Currency{v});
            ADD_FAILURE() << v;
        } catch (const RangeError& e) {
            EXPECT_STREQ(e.what(), "Fehler bei Bereichsprüfung");
        }
    }
}

TEST(Fraction, TextForms) {
    EXPECT_EQ(TTiffLongWordFraction(7, 0).AsString(), "");
    EXPECT_EQ(TTiffLongWordFraction(7, 1).AsString(), "7");
    EXPECT_EQ(TTiffLongWordFraction(4294967295U, 2).AsString(), "4294967295/2");
    EXPECT_EQ(TTiffLongIntFraction(-1, 3).AsString(), "-1/3");
    const std::vector<std::pair<std::string, TTiffLongWordFraction>> parsed{
        {"5/2", {5, 2}},        {"7", {7, 1}}, {"4294967295/1", {4294967295U, 1}},
        {"4294967296", {0, 0}}, {"a", {0, 0}}, {"1/x", {0, 0}},
        {"-1/2", {0, 0}},       {"", {0, 0}}};
    for (const auto& [text, want] : parsed) {
        EXPECT_EQ(TTiffLongWordFraction(text), want) << text;
    }
    EXPECT_EQ(TTiffLongIntFraction("-3/4"), TTiffLongIntFraction(-3, 4));
    EXPECT_EQ(TTiffLongIntFraction(" +3 / 4 "), TTiffLongIntFraction(3, 4));
    EXPECT_EQ(TTiffLongIntFraction("+-3/4"), TTiffLongIntFraction(0, 0));  // one sign, as every number reader
    EXPECT_TRUE(TTiffLongWordFraction(1, 0).MissingOrInvalid());
}

class SectionTest : public ::testing::Test {
protected:
    TExifData exif;
    TExifSection& general = exif.Sections(esGeneral);
    TExifSection& details = exif.Sections(esDetails);
    TExifSection& gps = exif.Sections(esGPS);
};

std::vector<std::uint32_t> Elements(const TExifTag& tag) {
    std::vector<std::uint32_t> v;
    for (std::int32_t i = 0; i < tag.ElementCount(); ++i) v.push_back(tag.ReadLongWord(i, 0xDEAD));
    return v;
}

TEST_F(SectionTest, SettingAnElementOfAMissingTagCreatesTheElementsBefore) {
    TExifTag* tag = general.SetWordValue(300, 2, 9);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DataType(), tdWord);
    EXPECT_EQ(Elements(*tag), (std::vector<std::uint32_t>{0, 0, 9}));
    EXPECT_TRUE(tag->WellFormed());
    EXPECT_EQ(tag->OriginalDataOffset(), 0);
}

TEST_F(SectionTest, RetypingKeepsIntegerValuesTruncated) {
    general.SetLongWordValue(300, 3, 0x00012345);
    general.SetLongWordValue(300, 0, 7);
    general.SetWordValue(300, 1, 5);  // LONG x4 -> SHORT x4
    const TExifTag* tag = general.Find(300);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DataType(), tdWord);
    EXPECT_EQ(Elements(*tag), (std::vector<std::uint32_t>{7, 5, 0, 0x2345}));
    EXPECT_EQ(tag->DataSize(), 8U);
}

TEST_F(SectionTest, ZeroOverZeroFractionRemoves) {
    gps.SetFractionValue(6, 0, {100, 1});
    EXPECT_EQ(gps.SetFractionValue(6, 0, {0, 0}), nullptr);
    EXPECT_EQ(gps.Find(6), nullptr);

    gps.SetFractionValue(7, 2, {3, 1});
    gps.SetFractionValue(7, 0, {1, 1});
    gps.SetFractionValue(7, 1, {0, 0});  // in the middle: stored as 0/0
    ASSERT_NE(gps.Find(7), nullptr);
    EXPECT_EQ(gps.Find(7)->ElementCount(), 3);
    EXPECT_EQ(gps.GetFractionValue(7, 1, {9, 9}), TTiffLongWordFraction(0, 0));
    gps.SetFractionValue(7, 2, {0, 0});  // the last element: the count is cut
    EXPECT_EQ(gps.Find(7)->ElementCount(), 2);
    EXPECT_EQ(gps.SetFractionValue(7, 5, {0, 0}), nullptr);  // beyond the count: nothing
    EXPECT_EQ(gps.Find(7)->ElementCount(), 2);
}

TEST_F(SectionTest, EnumeratorSurvivesDeletingTheCurrentTag) {
    for (const TTiffTagID id : std::vector<TTiffTagID>{10, 20, 30, 40}) general.SetWordValue(id, 0, 1);
    std::vector<TTiffTagID> visited;
    for (TExifTag* tag : general) {
        visited.push_back(tag->ID());
        if (tag->ID() == 20) tag->Delete();
    }
    EXPECT_EQ(visited, (std::vector<TTiffTagID>{10, 20, 30, 40}));
    EXPECT_EQ(general.Count(), 3);
}

TEST_F(SectionTest, AsciiReadDropsTheLastByteUnseen) {
    auto& ext = static_cast<TExtendableExifSection&>(general);
    const std::string text = "ABCDEFGHIJKLMNOPQRS";  // 19 characters
    Bytes with0(text.begin(), text.end());
    with0.push_back(0);
    ext.AddOrUpdate(270, tdAscii, 20, with0.data());
    ext.AddOrUpdate(271, tdAscii, 19, text.data());
    EXPECT_EQ(general.GetStringValue(270), text);
    EXPECT_EQ(general.GetStringValue(271), text.substr(0, 18));
    std::string out;
    EXPECT_FALSE(general.TryGetStringValue(272, out));
}

TEST_F(SectionTest, NonAsciiTextUnderEnforcement) {
    try {
        general.SetStringValue(270, "Ü");
        FAIL();
    } catch (const ENotOnlyASCIIError& e) {
        EXPECT_STREQ(e.what(), "Tag may contain only ASCII string data");
    }
    EXPECT_EQ(general.Find(270), nullptr);
    exif.SetEnforceASCII(false);
    const TExifTag* tag = general.SetStringValue(270, "Ü");
    ASSERT_NE(tag, nullptr);
    ASSERT_EQ(tag->ElementCount(), 2);
    EXPECT_EQ(tag->Data()[0], 0xDC);  // Windows-1252
    EXPECT_EQ(tag->Data()[1], 0);
    EXPECT_EQ(general.GetStringValue(270), "Ü");
    general.SetStringValue(270, "");
    EXPECT_EQ(general.Find(270), nullptr);
}

TEST_F(SectionTest, WindowsStringIsUtf16WithTerminator) {
    const TExifTag* tag = general.SetWindowsStringValue(40091, "Tä");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DataType(), tdByte);
    EXPECT_EQ(tag->ElementCount(), 6);
    const Bytes want{'T', 0, 0xE4, 0, 0, 0};
    EXPECT_TRUE(test::BytesEqual(want, Bytes(tag->Bytes().begin(), tag->Bytes().end())));
    EXPECT_EQ(general.GetWindowsStringValue(40091), "Tä");
    EXPECT_TRUE(tag->HasWindowsStringData());
    EXPECT_EQ(tag->AsString(), "Tä");
}

TEST_F(SectionTest, DuplicateIdIsRefused) {
    auto& ext = static_cast<TExtendableExifSection&>(general);
    ext.Add(271, tdAscii, 2);
    try {
        ext.Add(271, tdAscii, 2);
        FAIL();
    } catch (const ETagAlreadyExists& e) {
        EXPECT_STREQ(e.what(), "Tag with ID of \"271\" already exists in section");
    }
    TExifTag* other = ext.Add(100, tdWord, 1);
    EXPECT_THROW(other->SetID(271), ETagAlreadyExists);
    other->SetID(300);  // moves to its place in ID order
    EXPECT_EQ(general[0]->ID(), 271);
    EXPECT_EQ(general[1]->ID(), 300);
}

TEST(Section, NonExtendableSectionRefusesStructuralEdits) {
    TCustomExifData custom;
    TExifSection& general = custom.Sections(esGeneral);
    EXPECT_FALSE(general.IsExtendable());
    try {
        general.SetWordValue(274, 0, 1);
        FAIL();
    } catch (const EIllegalEditOfExifData& e) {
        EXPECT_STREQ(
            e.what(),
            "Illegal attempt to edit the Exif data in such a way that it would change the file structure");
    }
    EXPECT_EQ(general.Count(), 0);
}

struct TextCase {
    std::string name;
    TTiffDataType type;
    std::int32_t count;
    Bytes data;  // little-endian, as held in memory
    std::string text;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
class TagText : public ::testing::TestWithParam<TextCase> {};

TEST_P(TagText, MatchesTable) {
    const auto& c = GetParam();
    TExifData exif;
    auto& details = static_cast<TExtendableExifSection&>(exif.Sections(esDetails));
    const TExifTag* tag = details.AddOrUpdate(1000, c.type, c.count, c.data.data());
    EXPECT_EQ(tag->AsString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Tag, TagText,
    ::testing::Values(
        TextCase{"Empty", tdWord, 0, {}, ""}, TextCase{"Bytes", tdByte, 2, {1, 200}, "1,200"},
        TextCase{"Ascii", tdAscii, 3, {'a', 'b', 0}, "ab"},
        TextCase{"UndefinedHex", tdUndefined, 3, {0x0A, 0xFF, 0x00}, "0AFF00"},
        TextCase{"SignedShort", tdSmallInt, 1, {0xFB, 0xFF}, "-5"},
        TextCase{"Long", tdLongWord, 1, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
        TextCase{"SLong", tdLongInt, 1, {0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
        TextCase{
            "Rationals", tdLongWordFraction, 2, {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}, "1/2,3"},
        TextCase{"SRational", tdLongIntFraction, 1, {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}, "-1/3"},
        TextCase{"Double", tdDouble, 1, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, "1.5"}),
    [](const auto& p) { return p.param.name; });

TEST_F(SectionTest, TextWritesConvertToTheTagsType) {
    auto& ext = static_cast<TExtendableExifSection&>(details);
    TExifTag* shorts = ext.Add(1001, tdWord, 1);
    shorts->SetAsString("1, 2,3");
    EXPECT_EQ(Elements(*shorts), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_THROW(shorts->SetAsString("70000"), RangeError);
    EXPECT_THROW(shorts->SetAsString("x"), ConvertError);
    TExifTag* signedShorts = ext.Add(1004, tdSmallInt, 1);
    signedShorts->SetAsString(" -5 ");
    EXPECT_EQ(static_cast<std::int16_t>(signedShorts->ReadWord(0, 0)), -5);
    EXPECT_THROW(signedShorts->SetAsString("+-5"), ConvertError);
    EXPECT_EQ(Elements(*shorts), (std::vector<std::uint32_t>{1, 2, 3}));  // a failed write changes nothing

    TExifTag* undef = ext.Add(1002, tdUndefined, 0);
    undef->SetAsString("0aFF");
    EXPECT_TRUE(test::BytesEqual(Bytes{0x0A, 0xFF}, Bytes(undef->Bytes().begin(), undef->Bytes().end())));
    EXPECT_THROW(undef->SetAsString("zz"), ConvertError);

    TExifTag* rat = ext.Add(1003, tdLongWordFraction, 1);
    rat->SetAsString("7716/625");
    EXPECT_EQ(rat->ReadFraction(0, {}), TTiffLongWordFraction(7716, 625));
    rat->SetAsString("");
    EXPECT_EQ(rat->ElementCount(), 0);
}

TEST_F(SectionTest, PaddingTag) {
    auto& ext = static_cast<TExtendableExifSection&>(details);
    TExifTag* tag = ext.Add(1000, tdWord, 1);
    tag->SetAsPadding(6);
    EXPECT_EQ(tag->ID(), ttPadding);
    EXPECT_TRUE(tag->IsPadding());
    EXPECT_TRUE(
        test::BytesEqual(Bytes{0x1C, 0xEA, 0, 0, 0, 0}, Bytes(tag->Bytes().begin(), tag->Bytes().end())));
    EXPECT_TRUE(details.RemovePaddingTag());
    EXPECT_FALSE(details.RemovePaddingTag());
    // The ID alone is not padding.
    TExifTag* fake = ext.Add(ttPadding, tdUndefined, 4);
    EXPECT_FALSE(fake->IsPadding());
    EXPECT_FALSE(details.RemovePaddingTag());
}

TEST_F(SectionTest, RemoveListInOneUpdate) {
    for (const TTiffTagID id : std::vector<TTiffTagID>{1, 2, 3, 4}) gps.SetWordValue(id, 0, 1);
    int notifications = 0;
    exif.SetOnChange([&](TCustomExifData&) { ++notifications; });
    gps.Remove({2, 4, 9});
    EXPECT_EQ(notifications, 1);
    ASSERT_EQ(gps.Count(), 2);
    EXPECT_EQ(gps[0]->ID(), 1);
    EXPECT_EQ(gps[1]->ID(), 3);
}

TEST_F(SectionTest, TypedReadsAcceptTheirTypesOnly) {
    auto& ext = static_cast<TExtendableExifSection&>(details);
    const std::int32_t s = -2;
    ext.AddOrUpdate(1, tdLongInt, 1, &s);
    const std::uint16_t w = 40000;
    ext.AddOrUpdate(2, tdWord, 1, &w);
    const Bytes r{5, 0, 0, 0, 1, 0, 0, 0};
    ext.AddOrUpdate(3, tdLongWordFraction, 1, r.data());
    std::uint16_t word = 0;
    EXPECT_FALSE(details.TryGetWordValue(1, 0, word));  // SLONG is not a word type
    EXPECT_EQ(details.GetLongIntValue(1, 0).FValue, -2);
    EXPECT_FALSE(details.GetLongIntValue(1, 0).MissingOrInvalid());
    EXPECT_TRUE(details.GetLongWordValue(3, 0).MissingOrInvalid());  // a rational is no integer
    EXPECT_EQ(details.GetSmallIntValue(2, 0, 7), -25536);            // compared signed
    EXPECT_EQ(details.GetSmallIntValue(2, 0, 7, 0, 100), 7);
    EXPECT_EQ(details.GetWordValue(2, 0, 1, 0, 30000), 1);  // outside minimum..maximum: the default
    EXPECT_EQ(details.GetFractionValue(3, 0), TTiffLongWordFraction(5, 1));
    EXPECT_EQ(details.GetFractionValue(3, 1, {9, 9}), TTiffLongWordFraction(9, 9));
    EXPECT_EQ(details.GetFractionValue(2, 0), TTiffLongWordFraction(0, 0));
}

}  // namespace
}  // namespace zeloro
