// The EXIF block writer, byte for byte: layout, pointer tags, both byte orders, the fixed maker note,
// OffsetSchema, padding and the thumbnail step.
#include <gtest/gtest.h>

#include "metadata/ExifData.h"
#include "metadata/JPEGImage.h"
#include "metadata/WriteFixtures.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::BytesEqual;
using test::Cat;
using test::Entry;
using test::ExifHeader;
using test::LE32;
using test::PhotoWithTiff;
using test::Segment;
using test::Text;
using test::TiffHeaderLE;
using test::Zeros;

const Bytes kMakerNote = Text("MAKERNT!");

TExtendableExifSection& Extendable(TExifData& exif, TExifSectionKind kind) {
    return static_cast<TExtendableExifSection&>(exif.RawSection(kind));
}

Bytes Save(TExifData& exif) {
    std::vector<std::uint8_t> block;
    exif.SaveToBytes(block);
    return block;
}

// Loads the block for a save that lays it out afresh (the tests here are about that relayout).
void LoadForRelayout(TExifData& exif, const Bytes& tiff) {
    const Bytes photo = PhotoWithTiff(tiff);
    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
    exif.SetPreserveLayoutOnSave(false);
}

Bytes LoadedAndSaved(TExifData& exif, const Bytes& tiff) {
    LoadForRelayout(exif, tiff);
    return Save(exif);
}

TEST(ExifWriter, EmptyContainerWritesTwentyBytes) {
    TExifData exif;
    const Bytes expected = Cat({ExifHeader(), TiffHeaderLE(8), {0, 0}, {0, 0, 0, 0}});
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));
}

void FillGps(TExifData& exif) {
    auto& gps = Extendable(exif, esGPS);
    gps.SetStringValue(1, "N");
    gps.SetFractionValue(2, 0, {51, 1});
    gps.SetFractionValue(2, 1, {30, 1});
    gps.SetFractionValue(2, 2, {7716, 625});
    gps.SetByteValue(5, 0, 0);
    gps.AddOrUpdate(27, tdUndefined, 5, "HYBRI");
    gps.SetStringValue(29, "2011:03:03");  // 11 bytes: the value after it starts at an odd offset
    gps.SetWordValue(30, 0, 1);
    // A stale pointer to an EXIF sub-directory that has no tags.
    Extendable(exif, esGeneral).AddOrUpdate(ttExifOffset, tdLongWord, 1);
}

TEST(ExifWriter, GpsOnlyLittleEndian) {
    TExifData exif;
    FillGps(exif);
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        // IFD0 at 8: only the GPS pointer (the stale 0x8769 is gone), next offset 0
        {0x01, 0x00},
        {0x25, 0x88, 0x04, 0x00, 0x01, 0, 0, 0, 0x1A, 0, 0, 0},
        {0, 0, 0, 0},
        // GPS directory at 26, created by the save: GPSVersionID 2.3.0.0 first, then the six entries
        // given; values from 26 + 90 = 116
        {0x07, 0x00},
        {0x00, 0x00, 0x01, 0x00, 0x04, 0, 0, 0, 2, 3, 0, 0},
        {0x01, 0x00, 0x02, 0x00, 0x02, 0, 0, 0, 'N', 0, 0, 0},
        {0x02, 0x00, 0x05, 0x00, 0x03, 0, 0, 0, 0x74, 0, 0, 0},
        {0x05, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0x00, 0, 0, 0},
        {0x1B, 0x00, 0x07, 0x00, 0x05, 0, 0, 0, 0x8C, 0, 0, 0},
        {0x1D, 0x00, 0x02, 0x00, 0x0B, 0, 0, 0, 0x91, 0, 0, 0},  // 145: odd, no filler before it
        {0x1E, 0x00, 0x03, 0x00, 0x01, 0, 0, 0, 0x01, 0x00, 0, 0},
        {0, 0, 0, 0},
        {0x33, 0, 0, 0, 0x01, 0, 0, 0, 0x1E, 0, 0, 0, 0x01, 0, 0, 0, 0x24, 0x1E, 0, 0, 0x71, 0x02, 0, 0},
        Text("HYBRI"),
        Text(std::string_view("2011:03:03\0", 11)),
    });
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));
    EXPECT_FALSE(exif.RawSection(esGeneral).TagExists(ttExifOffset));
    EXPECT_EQ(exif.RawSection(esGeneral).GetLongWordValue(ttGPSOffset, 0, 0), 26U);
}

TEST(ExifWriter, GpsOnlyBigEndian) {
    TExifData exif;
    FillGps(exif);
    exif.SetEndianness(BigEndian);
    const Bytes expected = Cat({
        ExifHeader(),
        Text("MM"),
        {0x00, 0x2A},
        {0, 0, 0, 0x08},
        {0x00, 0x01},
        {0x88, 0x25, 0x00, 0x04, 0, 0, 0, 0x01, 0, 0, 0, 0x1A},
        {0, 0, 0, 0},
        {0x00, 0x07},
        {0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0x04, 2, 3, 0, 0},
        {0x00, 0x01, 0x00, 0x02, 0, 0, 0, 0x02, 'N', 0, 0, 0},
        {0x00, 0x02, 0x00, 0x05, 0, 0, 0, 0x03, 0, 0, 0, 0x74},
        {0x00, 0x05, 0x00, 0x01, 0, 0, 0, 0x01, 0x00, 0, 0, 0},
        {0x00, 0x1B, 0x00, 0x07, 0, 0, 0, 0x05, 0, 0, 0, 0x8C},
        {0x00, 0x1D, 0x00, 0x02, 0, 0, 0, 0x0B, 0, 0, 0, 0x91},
        {0x00, 0x1E, 0x00, 0x03, 0, 0, 0, 0x01, 0x00, 0x01, 0, 0},
        {0, 0, 0, 0},
        {0, 0, 0, 0x33, 0, 0, 0, 0x01, 0, 0, 0, 0x1E, 0, 0, 0, 0x01, 0, 0, 0x1E, 0x24, 0, 0, 0x02, 0x71},
        Text("HYBRI"),
        Text(std::string_view("2011:03:03\0", 11)),
    });
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));
}

TEST(ExifWriter, DoubleValuesAreReversedWholeInBigEndian) {
    TExifData exif;
    exif.SetEndianness(BigEndian);
    const double value = 1.5;  // 0x3FF8000000000000
    Extendable(exif, esGeneral).AddOrUpdate(0x0131, tdDouble, 1, &value);
    const Bytes block = Save(exif);
    const Bytes tail(block.end() - 8, block.end());
    EXPECT_TRUE(BytesEqual(Bytes({0x3F, 0xF8, 0, 0, 0, 0, 0, 0}), tail));
}

TEST(ExifWriter, PointerTagsFollowTheSubDirectories) {
    TExifData exif;
    Extendable(exif, esDetails).AddOrUpdate(0x9000, tdUndefined, 4, "0230");
    Extendable(exif, esInterop).SetStringValue(1, "R98");
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8769, 4, 1, LE32(26)),
        Zeros(4),
        // EXIF sub-directory at 26 with the interoperability pointer added
        {0x02, 0x00},
        Entry(0x9000, 7, 4, Text("0230")),
        Entry(0xA005, 4, 1, LE32(56)),
        Zeros(4),
        {0x01, 0x00},
        Entry(0x0001, 2, 4, Text(std::string_view("R98\0", 4))),
        Zeros(4),
    });
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));

    // The last interoperability tag goes: its pointer goes with it.
    exif.RawSection(esInterop).Remove(1);
    Save(exif);
    EXPECT_FALSE(exif.RawSection(esDetails).TagExists(ttInteropOffset));
    EXPECT_TRUE(exif.RawSection(esGeneral).TagExists(ttExifOffset));

    // Now the EXIF sub-directory is empty too, so IFD0 loses its pointer and the block is minimal.
    exif.RawSection(esDetails).Remove(0x9000);
    EXPECT_EQ(Save(exif).size(), 20U);
    EXPECT_FALSE(exif.RawSection(esGeneral).TagExists(ttExifOffset));
}

// IFD0 with ImageDescription (10 bytes at 38) and the EXIF pointer (48); the EXIF sub-directory holds
// the maker note of 8 bytes at offset 100.
Bytes TiffWithMakerNoteAt100() {
    return Cat({TiffHeaderLE(8),
                {0x02, 0x00},
                Entry(0x010E, 2, 10, LE32(38)),
                Entry(0x8769, 4, 1, LE32(48)),
                Zeros(4),
                Text(std::string_view("described\0", 10)),
                {0x01, 0x00},
                Entry(0x927C, 7, 8, LE32(100)),
                Zeros(4),
                Zeros(100 - 66),
                kMakerNote});
}

TEST(ExifWriter, MakerNoteKeepsItsOffsetWhenTheDirectoriesShrink) {
    TExifData exif;
    LoadForRelayout(exif, TiffWithMakerNoteAt100());
    exif.RawSection(esGeneral).Remove(0x010E);
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8769, 4, 1, LE32(26)),
        Zeros(4),
        {0x01, 0x00},
        Entry(0x927C, 7, 8, LE32(100)),
        Zeros(4),
        Zeros(100 - 44),  // the gap before the maker note is written as zeros
        kMakerNote,
    });
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));
}

TEST(ExifWriter, BlockOverlappingTheMakerNoteStartsAfterIt) {
    // The maker note lies at 28..36, where the EXIF sub-directory would start (26).
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x01, 0x00},
                            Entry(0x8769, 4, 1, LE32(60)),
                            Zeros(4),
                            Zeros(2),
                            kMakerNote,
                            Zeros(60 - 36),
                            {0x01, 0x00},
                            Entry(0x927C, 7, 8, LE32(28)),
                            Zeros(4)});
    TExifData exif;
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8769, 4, 1, LE32(36)),
        Zeros(4),
        Zeros(2),
        kMakerNote,
        {0x01, 0x00},
        Entry(0x927C, 7, 8, LE32(28)),
        Zeros(4),
    });
    EXPECT_TRUE(BytesEqual(expected, LoadedAndSaved(exif, tiff)));
}

// EXIF sub-directory at 26 with the maker note (8 bytes read at 200) and OffsetSchema = shift.
Bytes TiffWithOffsetSchema(std::int32_t shift) {
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x8769, 4, 1, LE32(26)),
                Zeros(4),
                {0x02, 0x00},
                Entry(0x927C, 7, 8, LE32(200)),
                Entry(0xEA1D, 9, 1, LE32(static_cast<std::uint32_t>(shift))),
                Zeros(4),
                Zeros(200 - 56),
                kMakerNote});
}

// The block a save gives for TiffWithOffsetSchema: IFD0 with its EXIF pointer, the EXIF directory with
// the maker note at makerNoteAt and the offset schema tag holding schema, then zeros up to the note.
Bytes OffsetSchemaBlock(std::uint32_t makerNoteAt, std::uint32_t schema) {
    return Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8769, 4, 1, LE32(26)),
        Zeros(4),
        {0x02, 0x00},
        Entry(0x927C, 7, 8, LE32(makerNoteAt)),
        Entry(0xEA1D, 9, 1, LE32(schema)),
        Zeros(4),
        Zeros(makerNoteAt - 56),
        kMakerNote,
    });
}

TEST(ExifWriter, OffsetSchemaMovesTheMakerNoteBackAndIsCleared) {
    TExifData exif;
    const Bytes expected = OffsetSchemaBlock(100, 0);
    EXPECT_TRUE(BytesEqual(expected, LoadedAndSaved(exif, TiffWithOffsetSchema(100))));
    EXPECT_EQ(exif.RawSection(esDetails).GetLongIntValue(ttOffsetSchema, 0, -1), 0);
}

TEST(ExifWriter, SmallOffsetSchemaLeavesTheMakerNoteWhereItWas) {
    TExifData exif;
    const Bytes block = LoadedAndSaved(exif, TiffWithOffsetSchema(195));  // 200 - 195 = 5: not above 6
    const Bytes expected = OffsetSchemaBlock(200, 195);
    EXPECT_TRUE(BytesEqual(expected, block));
}

TEST(ExifWriter, GrownMakerNoteIsPlacedLikeAnyOtherValue) {
    TExifData exif;
    LoadForRelayout(exif, TiffWithMakerNoteAt100());
    exif.RawSection(esGeneral).Remove(0x010E);
    // Writing 12 bytes at 100 would run over the 8 bytes reserved there.
    exif.RawSection(esDetails).Find(ttMakerNote)->UpdateData(tdUndefined, 12, "MAKERNOTE+++");
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8769, 4, 1, LE32(26)),
        Zeros(4),
        {0x01, 0x00},
        Entry(0x927C, 7, 12, LE32(44)),
        Zeros(4),
        Text("MAKERNOTE+++"),
    });
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));
}

TEST(ExifWriter, MakerNoteInsideTheTiffHeaderIsPlacedLikeAnyOtherValue) {
    // OffsetSchema 195 would move the maker note from 202 to 7, inside the 8-byte header.
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x01, 0x00},
                            Entry(0x8769, 4, 1, LE32(26)),
                            Zeros(4),
                            {0x02, 0x00},
                            Entry(0x927C, 7, 8, LE32(202)),
                            Entry(0xEA1D, 9, 1, LE32(195)),
                            Zeros(4),
                            Zeros(202 - 56),
                            kMakerNote});
    TExifData exif;
    const Bytes block = LoadedAndSaved(exif, tiff);
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8769, 4, 1, LE32(26)),
        Zeros(4),
        {0x02, 0x00},
        Entry(0x927C, 7, 8, LE32(56)),
        Entry(0xEA1D, 9, 1, LE32(195)),
        Zeros(4),
        kMakerNote,
    });
    EXPECT_TRUE(BytesEqual(expected, block));
}

TEST(ExifWriter, OnePaddingTagIsRemovedPerSave) {
    const Bytes padding = Entry(0xEA1C, 7, 4, {0x1C, 0xEA, 0, 0});
    const Bytes tiff = Cat({TiffHeaderLE(8), {0x02, 0x00}, padding, padding, Zeros(4)});
    TExifData exif;
    LoadedAndSaved(exif, tiff);
    EXPECT_EQ(exif.RawSection(esGeneral).Count(), 1);
    Save(exif);
    EXPECT_EQ(exif.RawSection(esGeneral).Count(), 0);
}

TEST(ExifWriter, PaddingIsKeptWhenAskedTo) {
    TExifData exif;
    exif.SetRemovePaddingTagsOnSave(false);
    Extendable(exif, esGeneral).Add(ttPadding, tdUndefined, 4)->SetAsPadding(4);
    const Bytes block = Save(exif);
    EXPECT_EQ(block.size(), 20U + 12U);
    EXPECT_EQ(exif.RawSection(esGeneral).Count(), 1);
}

TEST(ExifWriter, EntryThatFailedToReadIsNotWritten) {
    // The first entry of IFD0 has type 0; writing it back as an empty UNDEFINED tag would add a tag.
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x02, 0x00},
                            Entry(0x0001, 0, 1, LE32(0xCE)),
                            Entry(0x0112, 3, 1, {6, 0, 0, 0}),
                            Zeros(4)});
    TExifData exif;
    const Bytes expected =
        Cat({ExifHeader(), TiffHeaderLE(8), {0x01, 0x00}, Entry(0x0112, 3, 1, {6, 0, 0, 0}), Zeros(4)});
    EXPECT_TRUE(BytesEqual(expected, LoadedAndSaved(exif, tiff)));
}

TEST(ExifWriter, DamagedThumbnailKeepsItsBytesAndItsDirectory) {
    // IFD1 names bytes at 56 that the load does not take as a thumbnail: a placeholder, and a JPEG
    // too short to be one (the load wants 20 bytes). Laid out afresh, they land at the same place with
    // IFD1 as it was: the block comes back unchanged.
    const Bytes placeholder = Text("NOTAJPEG");
    const Bytes tooShort{0xFF, 0xD8, 0xFF, 0xD9};
    for (const Bytes& thumbnail : {placeholder, tooShort}) {
        const Bytes tiff = Cat({TiffHeaderLE(8),
                                {0x01, 0x00},
                                Entry(0x0112, 3, 1, {1, 0, 0, 0}),
                                LE32(26),
                                {0x02, 0x00},
                                Entry(0x0201, 4, 1, LE32(56)),
                                Entry(0x0202, 4, 1, LE32(static_cast<std::uint32_t>(thumbnail.size()))),
                                Zeros(4),
                                thumbnail});
        TExifData exif;
        EXPECT_TRUE(BytesEqual(Cat({ExifHeader(), tiff}), LoadedAndSaved(exif, tiff)));
        EXPECT_FALSE(exif.HasThumbnail());
    }
}

TEST(ExifWriter, ThumbnailIsWrittenAfterItsDirectoryAndCutAtItsEnd) {
    const Bytes picture = test::EncodedPicture(8, 8);
    TJPEGImage thumbnail;
    thumbnail.LoadFromBytes(Cat({picture, Text("trailing")}));
    TExifData exif;
    exif.SetThumbnail(&thumbnail);
    const auto size = static_cast<std::uint32_t>(picture.size());
    const Bytes expected = Cat({
        ExifHeader(),
        TiffHeaderLE(8),
        {0x00, 0x00},
        LE32(14),  // empty IFD0 chained to IFD1 at 14
        {0x03, 0x00},
        Entry(0x0103, 3, 1, {0x06, 0x00, 0, 0}),
        Entry(0x0201, 4, 1, LE32(14 + 42)),
        Entry(0x0202, 4, 1, LE32(size)),
        Zeros(4),
        picture,
    });
    EXPECT_TRUE(BytesEqual(expected, Save(exif)));
}

TEST(ExifWriter, IfdOneWithoutThumbnailImageIsNotWritten) {
    TExifData exif;
    Extendable(exif, esThumbnail).SetWordValue(0x0103, 0, 6);
    EXPECT_EQ(Save(exif).size(), 20U);
}

TEST(ExifWriter, OversizedThumbnailIsReducedToFit160By120) {
    TJPEGImage big;
    big.SetCompressionQuality(100);
    big.LoadFromBytes(test::EncodedPicture(640, 480, 100, true));
    ASSERT_GT(big.StoredBytes().size(), 61440U);
    TExifData exif;
    exif.SetThumbnail(&big);
    const Bytes block = Save(exif);
    const TJPEGImage* written = exif.ThumbnailOrNil();
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->Width(), 160U);
    EXPECT_EQ(written->Height(), 120U);
    EXPECT_LE(written->CompressionQuality(), 90);
    const std::uint32_t size = exif.RawSection(esThumbnail).GetLongWordValue(ttThumbnailSize, 0, 0);
    EXPECT_GT(size, 0U);
    EXPECT_LE(size, 61440U);
    // The thumbnail is the last thing in the block and reads as a 160 x 120 JPEG.
    TJPEGImage reread;
    reread.LoadFromBytes(Bytes(block.end() - size, block.end()));
    EXPECT_EQ(reread.Width(), 160U);
    EXPECT_EQ(reread.Height(), 120U);
}

TEST(ExifWriter, ThumbnailUnderTheLimitIsWrittenUnchanged) {
    // Larger than 160 x 120, but small in bytes: only the byte size decides.
    const Bytes picture = test::EncodedPicture(320, 240, 90);
    ASSERT_LT(picture.size(), 61440U);
    TJPEGImage thumbnail;
    thumbnail.LoadFromBytes(picture);
    TExifData exif;
    exif.SetThumbnail(&thumbnail);
    const Bytes block = Save(exif);
    EXPECT_TRUE(
        BytesEqual(picture, Bytes(block.end() - static_cast<std::ptrdiff_t>(picture.size()), block.end())));
    EXPECT_EQ(exif.ThumbnailOrNil()->Width(), 320U);
}

TEST(ExifWriter, SavedBlockLoadsBackWithTheSameValues) {
    TExifData exif;
    FillGps(exif);
    exif.SetEndianness(BigEndian);
    const Bytes block = Save(exif);
    TExifData reread;
    const Bytes photo = test::Photo({Segment(0xE1, block)});
    reread.LoadFromJPEG(std::span<const std::uint8_t>(photo));
    EXPECT_EQ(reread.Endianness(), BigEndian);
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
    EXPECT_EQ(reread.GPSDateStamp(), "2011:03:03");
    // Saving what was read gives the same bytes.
    EXPECT_TRUE(BytesEqual(block, Save(reread)));
}

}  // namespace
}  // namespace zeloro
