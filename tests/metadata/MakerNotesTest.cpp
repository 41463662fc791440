// tests/metadata/MakerNotesTest.cpp: maker-note format tests, registry order and the directory view.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MetadataBuilders.h"
#include "metadata/ExifData.h"
#include "metadata/MakerNotes.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::JpegBuilder;
using test::TiffBuilder;

void Put16(Bytes& out, bool big, std::uint16_t v) {
    const auto hi = static_cast<std::uint8_t>(v >> 8U);
    const auto lo = static_cast<std::uint8_t>(v & 0xFFU);
    out.insert(out.end(), big ? std::initializer_list<std::uint8_t>{hi, lo}
                              : std::initializer_list<std::uint8_t>{lo, hi});
}

void Put32(Bytes& out, bool big, std::uint32_t v) {
    const auto hi = static_cast<std::uint16_t>(v >> 16U);
    const auto lo = static_cast<std::uint16_t>(v & 0xFFFFU);
    Put16(out, big, big ? hi : lo);
    Put16(out, big, big ? lo : hi);
}

// The three entries every maker-note fixture carries: an inline SHORT, an out-of-line ASCII text (so
// that the offset rules matter) and an inline LONG.
constexpr std::uint16_t kShortValue = 0x1234;
constexpr std::uint32_t kLongValue = 0xDEADBEEF;
constexpr std::string_view kText = "ABCDEFG";

// header, then the directory (count, 3 entries, next offset 0), then the text. `storedOrigin` is added to
// a position inside the maker note to give the offset stored in the entry.
Bytes MakerNoteBytes(const Bytes& header, bool big, std::int64_t storedOrigin) {
    Bytes note = header;
    const auto textPos = static_cast<std::int64_t>(header.size() + 2 + 3 * 12 + 4);
    Put16(note, big, 3);
    Put16(note, big, 0x0001);  // SHORT, one element, inline (left-justified in the value field)
    Put16(note, big, 3);
    Put32(note, big, 1);
    Put16(note, big, kShortValue);
    Put16(note, big, 0);
    Put16(note, big, 0x0002);  // ASCII, 8 elements, out of line
    Put16(note, big, 2);
    Put32(note, big, 8);
    Put32(note, big, static_cast<std::uint32_t>(storedOrigin + textPos));
    Put16(note, big, 0x0003);  // LONG, inline
    Put16(note, big, 4);
    Put32(note, big, 1);
    Put32(note, big, kLongValue);
    Put32(note, big, 0);
    note.insert(note.end(), kText.begin(), kText.end());
    note.push_back(0);
    return note;
}

struct Photo {
    std::string make;
    std::string model;
    bool bigEndian = false;
    std::optional<std::int32_t> offsetSchema;
};

// A JPEG whose EXIF sub-directory holds the maker note as its first entry. `makeNote` gets the offset of
// the maker note's first byte from the TIFF header (the layout does not depend on the note's content).
template <typename MakeNote>
Bytes PhotoWithMakerNote(const Photo& photo, std::size_t noteSize, MakeNote makeNote,
                         std::uint32_t& noteOffset, std::uint16_t noteType = 7) {
    const auto build = [&](const Bytes& note) {
        TiffBuilder tiff(photo.bigEndian);
        std::vector<test::TiffEntry> details{
            {0x927C, noteType, static_cast<std::uint32_t>(note.size()), note, {}, {}}};
        if (photo.offsetSchema) {
            details.push_back(
                {0xEA1D, 9, 1, tiff.U32({static_cast<std::uint32_t>(*photo.offsetSchema)}), {}, {}});
        }
        tiff.AddDirectory({tiff.Text(271, photo.make), tiff.Text(272, photo.model), tiff.Pointer(0x8769, 1)});
        tiff.AddDirectory(details);
        const Bytes block = tiff.Build();
        noteOffset = tiff.DirectoryOffset(1) + 2 + 12 * static_cast<std::uint32_t>(details.size()) + 4;
        return block;
    };
    (void)build(Bytes(noteSize, 0));
    const Bytes block = build(makeNote(static_cast<std::int64_t>(noteOffset)));
    return JpegBuilder{}.Soi().App1Exif(block).Sof0().Sos({0x12, 0x34}).Eoi().bytes();
}

Bytes H(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct ViewCase {
    std::string_view name;
    Photo photo;
    Bytes header;
    bool noteBigEndian;
    // Stored offsets count from: the TIFF header (true) or byte 10 of the maker note (Nikon type 3).
    bool offsetsFromExifStart;
    ExifMakerNoteClass want;
    TEndianness wantEndianness;
    TExifDataOffsetsType wantOffsets;
};
void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }
class MakerNoteView : public ::testing::TestWithParam<ViewCase> {};

const Bytes kNikon3HeaderMM = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'M', 'M', 0, 0x2A, 0, 0, 0, 8};
const Bytes kNikon3HeaderII = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0};

TEST_P(MakerNoteView, ReadsTheDirectoryWithItsClassRules) {
    const ViewCase& c = GetParam();
    std::uint32_t noteOffset = 0;
    const std::int64_t schemaShift = c.photo.offsetSchema.value_or(0);
    const Bytes jpeg = PhotoWithMakerNote(
        c.photo, MakerNoteBytes(c.header, c.noteBigEndian, 0).size(),
        [&](std::int64_t offset) {
            const std::int64_t origin = c.offsetsFromExifStart ? offset - schemaShift : -10;
            return MakerNoteBytes(c.header, c.noteBigEndian, origin);
        },
        noteOffset);
    TExifData exif;
    exif.LoadFromJPEG(jpeg);
    ASSERT_EQ(exif.Sections(esDetails).Find(0x927C)->OriginalDataOffset(), noteOffset) << "fixture layout";
    EXPECT_EQ(exif.MakerNoteType(), c.want) << exif.MakerNoteType()->Name();
    EXPECT_EQ(exif.RawSection(esMakerNote).Count(), 0) << "the view is built on first use only";

    const TExifSection& section = exif.Sections(esMakerNote);
    const TExifMakerNote& view = exif.MakerNote();
    EXPECT_EQ(view.ClassType(), c.want);
    EXPECT_EQ(&view.Tags(), &section);
    EXPECT_EQ(view.Endianness(), c.wantEndianness);
    EXPECT_EQ(view.DataOffsetsType(), c.wantOffsets);
    EXPECT_TRUE(section.LoadErrors().Empty());
    ASSERT_EQ(section.Count(), 3);
    EXPECT_EQ(section.GetWordValue(1, 0, 0), kShortValue);
    EXPECT_EQ(section.GetStringValue(2), kText);
    EXPECT_EQ(section.GetLongWordValue(3, 0, 0), kLongValue);
    EXPECT_FALSE(exif.Modified()) << "building the view is not an edit";
}

INSTANTIATE_TEST_SUITE_P(
    MakerNotes, MakerNoteView,
    ::testing::Values(
        // Canon maker notes are little-endian even in a big-endian block.
        ViewCase{"CanonInBigEndianBlock",
                 {"Canon", "EOS", true, {}},
                 {},
                 false,
                 true,
                 TCanonMakerNote::Class(),
                 SmallEndian,
                 doFromExifStart},
        ViewCase{"NikonType2",
                 {"NIKON CORPORATION", "D70", true, {}},
                 {},
                 true,
                 true,
                 TNikonType2MakerNote::Class(),
                 BigEndian,
                 doFromExifStart},
        ViewCase{"Headerless",
                 {"Acme", "X", false, {}},
                 {},
                 false,
                 true,
                 THeaderlessMakerNote::Class(),
                 SmallEndian,
                 doFromExifStart},
        ViewCase{"Panasonic",
                 {"Panasonic", "DMC", true, {}},
                 H(std::string_view("Panasonic\0\0\0", 12)),
                 false,
                 true,
                 TPanasonicMakerNote::Class(),
                 SmallEndian,
                 doFromExifStart},
        ViewCase{"NikonType1",
                 {"NIKON", "E990", true, {}},
                 {'N', 'i', 'k', 'o', 'n', 0, 1, 0},
                 true,
                 true,
                 TNikonType1MakerNote::Class(),
                 BigEndian,
                 doFromExifStart},
        // Its own TIFF header at byte 10 decides the byte order; offsets count from that header.
        ViewCase{"NikonType3BigEndian",
                 {"NIKON CORPORATION", "D200", false, {}},
                 kNikon3HeaderMM,
                 true,
                 false,
                 TNikonType3MakerNote::Class(),
                 BigEndian,
                 doFromIFDStart},
        ViewCase{"NikonType3LittleEndian",
                 {"NIKON CORPORATION", "D200", true, {}},
                 kNikon3HeaderII,
                 false,
                 false,
                 TNikonType3MakerNote::Class(),
                 SmallEndian,
                 doFromIFDStart},
        ViewCase{"Sony",
                 {"SONY", "DSC-W1", true, {}},
                 H(std::string_view("SONY DSC \0\0\0", 12)),
                 false,
                 true,
                 TSonyMakerNote::Class(),
                 SmallEndian,
                 doFromExifStart},
        ViewCase{"SonyDSLRA100",
                 {"SONY", "DSLR-A100", false, {}},
                 H(std::string_view("SONY DSC \0\0\0", 12)),
                 true,
                 true,
                 TSonyMakerNote::Class(),
                 BigEndian,
                 doFromExifStart},
        // A program that moved the maker note by 100 bytes recorded the shift; the offsets still count
        // from where the note was.
        ViewCase{"ShiftedByOffsetSchema",
                 {"Canon", "EOS", false, 100},
                 {},
                 false,
                 true,
                 TCanonMakerNote::Class(),
                 SmallEndian,
                 doFromExifStart}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(MakerNotes, OtherByteOrderIsTriedWhenTheFirstReadIsPoor) {
    // Big-endian maker note in a little-endian block of an unknown make: read little-endian first, the
    // count becomes 768 (capped, bad count) and the entries have impossible types.
    std::uint32_t noteOffset = 0;
    const Bytes jpeg = PhotoWithMakerNote(
        {"Acme", "X", false, {}}, MakerNoteBytes({}, true, 0).size(),
        [](std::int64_t offset) { return MakerNoteBytes({}, true, offset); }, noteOffset);
    TExifData exif;
    exif.LoadFromJPEG(jpeg);
    const TExifSection& section = exif.Sections(esMakerNote);
    EXPECT_EQ(exif.MakerNote().Endianness(), BigEndian);
    EXPECT_TRUE(section.LoadErrors().Empty());
    ASSERT_EQ(section.Count(), 3);
    EXPECT_EQ(section.GetStringValue(2), kText);
}

TEST(MakerNotes, UnreadableHeaderlessNoteBecomesUnrecognized) {
    std::uint32_t noteOffset = 0;
    const Bytes jpeg = PhotoWithMakerNote(
        {"Acme", "X", false, {}}, 40, [](std::int64_t) { return Bytes(40, 0xFF); }, noteOffset);
    TExifData exif;
    exif.LoadFromJPEG(jpeg);
    ASSERT_EQ(exif.MakerNoteType(), THeaderlessMakerNote::Class());
    const TExifSection& section = exif.Sections(esMakerNote);
    EXPECT_EQ(section.Count(), 0);
    EXPECT_TRUE(section.LoadErrors().Contains(leBadOffset));
    EXPECT_EQ(exif.MakerNoteType(), TUnrecognizedMakerNote::Class());
    EXPECT_EQ(exif.MakerNote().ClassType(), TUnrecognizedMakerNote::Class());
}

TEST(MakerNotes, UnreadableKnownNoteIsLeftEmptyWithBadOffset) {
    std::uint32_t noteOffset = 0;
    const Bytes jpeg = PhotoWithMakerNote(
        {"Canon", "X", false, {}}, 40, [](std::int64_t) { return Bytes(40, 0xFF); }, noteOffset);
    TExifData exif;
    exif.LoadFromJPEG(jpeg);
    const TExifSection& section = exif.Sections(esMakerNote);
    EXPECT_EQ(section.Count(), 0);
    EXPECT_TRUE(section.LoadErrors().Contains(leBadOffset));
    EXPECT_EQ(exif.MakerNoteType(), TCanonMakerNote::Class());
}

TEST(MakerNotes, ViewOfATagThatNoLongerPassesItsTestRaises) {
    std::uint32_t noteOffset = 0;
    const Bytes jpeg = PhotoWithMakerNote(
        {"Canon", "EOS", false, {}}, MakerNoteBytes({}, false, 0).size(),
        [](std::int64_t offset) { return MakerNoteBytes({}, false, offset); }, noteOffset);
    TExifData exif;
    exif.LoadFromJPEG(jpeg);
    exif.SetCameraMake("Canon Inc.");
    try {
        (void)exif.Sections(esMakerNote);
        FAIL() << "no exception";
    } catch (const EInvalidMakerNoteFormat& e) {
        EXPECT_STREQ(e.what(), "Invalid MakerNote format");
    }
}

TEST(MakerNotes, TagOfAnotherTypeIsNotViewedAndDoesNotBlockSaving) {
    std::uint32_t noteOffset = 0;
    const Bytes jpeg = PhotoWithMakerNote(
        {"Acme", "X", false, {}}, 16, [](std::int64_t) { return Bytes(16, 1); }, noteOffset, 1 /* BYTE */);
    TExifData exif;
    exif.LoadFromJPEG(jpeg);
    EXPECT_EQ(exif.MakerNoteType(), TUnrecognizedMakerNote::Class());
    EXPECT_NO_THROW((void)exif.Sections(esMakerNote));
    EXPECT_EQ(exif.RawSection(esMakerNote).Count(), 0);
}

struct FormatCase {
    std::string_view name;
    std::string make;
    std::string model;
    std::uint16_t type;
    Bytes bytes;
    std::vector<ExifMakerNoteClass> accepting;
    std::int32_t headerSize;  // of the accepting classes
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }
class MakerNoteFormat : public ::testing::TestWithParam<FormatCase> {};

Bytes Padded(std::string_view head, std::size_t size) {
    Bytes b(head.begin(), head.end());
    b.resize(size, 0);
    return b;
}

TEST_P(MakerNoteFormat, AcceptsExactlyItsOwnNotes) {
    const FormatCase& c = GetParam();
    TExifData exif;
    if (!c.make.empty()) {
        exif.SetCameraMake(c.make);
    }
    if (!c.model.empty()) {
        exif.SetCameraModel(c.model);
    }
    auto& details = dynamic_cast<TExtendableExifSection&>(exif.RawSection(esDetails));
    TExifTag* tag =
        details.Add(0x927C, static_cast<TTiffDataType>(c.type), static_cast<std::int32_t>(c.bytes.size()));
    if (!c.bytes.empty()) {
        tag->UpdateData(c.bytes.data());
    }
    const std::vector<ExifMakerNoteClass> all{TUnrecognizedMakerNote::Class(), THeaderlessMakerNote::Class(),
                                              TCanonMakerNote::Class(),        TNikonType2MakerNote::Class(),
                                              TPanasonicMakerNote::Class(),    TNikonType1MakerNote::Class(),
                                              TNikonType3MakerNote::Class(),   TSonyMakerNote::Class()};
    for (const ExifMakerNoteClass cls : all) {
        const bool wanted = std::find(c.accepting.begin(), c.accepting.end(), cls) != c.accepting.end();
        std::int32_t headerSize = -1;
        EXPECT_EQ(cls->FormatIsOK(*tag, headerSize), wanted) << cls->Name();
        if (wanted && cls != THeaderlessMakerNote::Class()) {
            EXPECT_EQ(headerSize, c.headerSize) << cls->Name();
        }
    }
}

const auto kHeaderless = THeaderlessMakerNote::Class();

INSTANTIATE_TEST_SUITE_P(
    MakerNotes, MakerNoteFormat,
    ::testing::Values(
        FormatCase{
            "CanonExactMake", "Canon", "", 7, Padded("", 20), {kHeaderless, TCanonMakerNote::Class()}, 0},
        FormatCase{"CanonOtherCase", "CANON", "", 7, Padded("", 20), {kHeaderless}, 0},
        FormatCase{"NikonMakePrefix",
                   "NIKON CORPORATION",
                   "",
                   7,
                   Padded("", 20),
                   {kHeaderless, TNikonType2MakerNote::Class()},
                   0},
        FormatCase{"NikonMakeLowerCase", "Nikon", "", 7, Padded("", 20), {kHeaderless}, 0},
        FormatCase{"Panasonic",
                   "",
                   "",
                   7,
                   Padded(std::string_view("Panasonic\0\0\0", 12), 13),
                   {kHeaderless, TPanasonicMakerNote::Class()},
                   12},
        FormatCase{"PanasonicOnlyHeader",
                   "",
                   "",
                   7,
                   Padded(std::string_view("Panasonic\0\0\0", 12), 12),
                   {kHeaderless},
                   0},
        FormatCase{"PanasonicNoZeros", "", "", 7, Padded("Panasonic   ", 20), {kHeaderless}, 0},
        FormatCase{"NikonType1",
                   "",
                   "",
                   7,
                   Padded(std::string_view("Nikon\0\x01\0", 8), 9),
                   {kHeaderless, TNikonType1MakerNote::Class()},
                   8},
        FormatCase{"NikonType1OnlyHeader",
                   "",
                   "",
                   7,
                   Padded(std::string_view("Nikon\0\x01\0", 8), 8),
                   {kHeaderless},
                   0},
        FormatCase{"NikonType3",
                   "",
                   "",
                   7,
                   Padded(std::string_view("Nikon\0\x02", 7), 19),
                   {kHeaderless, TNikonType3MakerNote::Class()},
                   18},
        FormatCase{
            "NikonType3Short", "", "", 7, Padded(std::string_view("Nikon\0\x02", 7), 18), {kHeaderless}, 0},
        FormatCase{"Sony", "", "", 7, Padded("SONY DSC", 13), {kHeaderless, TSonyMakerNote::Class()}, 12},
        FormatCase{"SonyOnlyHeader", "", "", 7, Padded("SONY DSC", 12), {kHeaderless}, 0},
        // Only UNDEFINED data with more than one element is a maker note to any class.
        FormatCase{"OneElement", "Canon", "", 7, Bytes{0}, {}, 0},
        FormatCase{"NoElements", "Canon", "", 7, Bytes{}, {}, 0},
        FormatCase{"ByteType", "Canon", "", 1, Padded("SONY DSC", 20), {}, 0},
        FormatCase{"AsciiType", "Canon", "", 2, Padded("Nikon", 20), {}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

class MakerNoteRegistry : public ::testing::Test {
protected:
    void TearDown() override { ResetMakerNoteRegistry(); }
};

TEST_F(MakerNoteRegistry, StartsInTheFixedOrder) {
    const std::vector<ExifMakerNoteClass> expected{
        TNikonType2MakerNote::Class(), TCanonMakerNote::Class(),      TSonyMakerNote::Class(),
        TNikonType1MakerNote::Class(), TNikonType3MakerNote::Class(), TPanasonicMakerNote::Class()};
    EXPECT_EQ(RegisteredMakerNoteTypes(), expected);
}

TEST_F(MakerNoteRegistry, RegisteringMovesAClassAndDetectionReadsFromTheBack) {
    // A Canon photo whose maker note starts like a Nikon type 1 note: the later registered Nikon class wins.
    TExifData exif;
    exif.SetCameraMake("Canon");
    auto& details = dynamic_cast<TExtendableExifSection&>(exif.RawSection(esDetails));
    const Bytes bytes = Padded(std::string_view("Nikon\0\x01\0", 8), 20);
    TExifTag* tag = details.Add(0x927C, tdUndefined, 20);
    tag->UpdateData(bytes.data());
    EXPECT_EQ(DetectMakerNoteType(*tag), TNikonType1MakerNote::Class());

    RegisterMakerNoteType(TCanonMakerNote::Class(), mtTestForFirst);
    EXPECT_EQ(RegisteredMakerNoteTypes().back(), TCanonMakerNote::Class());
    EXPECT_EQ(RegisteredMakerNoteTypes().size(), 6U);
    EXPECT_EQ(DetectMakerNoteType(*tag), TCanonMakerNote::Class());

    RegisterMakerNoteType(TCanonMakerNote::Class(), mtTestForLast);
    EXPECT_EQ(RegisteredMakerNoteTypes().front(), TCanonMakerNote::Class());
    RegisterMakerNoteType(nullptr, mtTestForFirst);
    EXPECT_EQ(RegisteredMakerNoteTypes().size(), 6U);

    UnregisterMakerNoteType(TNikonType1MakerNote::Class());
    EXPECT_EQ(DetectMakerNoteType(*tag), TCanonMakerNote::Class());
    const ExifMakerNoteClass both[] = {TNikonType1MakerNote::Class(), TSonyMakerNote::Class()};
    RegisterMakerNoteTypes(both, mtTestForFirst);
    EXPECT_EQ(RegisteredMakerNoteTypes().back(), TSonyMakerNote::Class());
    EXPECT_EQ(RegisteredMakerNoteTypes()[4], TNikonType1MakerNote::Class());
    EXPECT_EQ(DetectMakerNoteType(*tag), TNikonType1MakerNote::Class());

    exif.SetCameraMake("Acme");
    UnregisterMakerNoteType(TNikonType1MakerNote::Class());
    EXPECT_EQ(DetectMakerNoteType(*tag), THeaderlessMakerNote::Class());
}

TEST(MakerNoteClasses, Lineage) {
    EXPECT_TRUE(TCanonMakerNote::Class()->InheritsFrom(THeaderlessMakerNote::Class()));
    EXPECT_TRUE(TNikonType2MakerNote::Class()->InheritsFrom(THeaderlessMakerNote::Class()));
    EXPECT_FALSE(TSonyMakerNote::Class()->InheritsFrom(THeaderlessMakerNote::Class()));
    EXPECT_EQ(TSonyMakerNote::Class()->Name(), "TSonyMakerNote");
}

}  // namespace
}  // namespace zeloro
