// The save that keeps the loaded EXIF block's layout, byte for byte: what stays where it was, what is
// overwritten in place, what is appended after the old end, and when the block is laid out afresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
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
using test::NewGpsDirectory;
using test::PhotoWithTiff;
using test::Rationals;
using test::TagAsTheRun;
using test::Text;
using test::TiffHeaderLE;
using test::Zeros;

// Zeros between the old end of a block and what a save appends.
constexpr std::size_t kGap = 32;

std::uint32_t ReadLE32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes.at(at)) | static_cast<std::uint32_t>(bytes.at(at + 1)) << 8U |
           static_cast<std::uint32_t>(bytes.at(at + 2)) << 16U |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24U;
}

// Where the first thing appended to a block of `size` bytes goes: after the zeros, on a word boundary.
std::size_t FirstAppended(std::size_t size) { return (size + kGap + 1) / 2 * 2; }

void Load(TExifData& exif, const Bytes& tiff) {
    const Bytes photo = PhotoWithTiff(tiff);
    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
}

// The TIFF structure a save writes (without "Exif\0\0").
Bytes SavedTiff(TExifData& exif) {
    std::vector<std::uint8_t> block;
    exif.SaveToBytes(block);
    return {block.begin() + static_cast<std::ptrdiff_t>(ExifHeader().size()), block.end()};
}

const Bytes kLatitude = Rationals({51, 1, 30, 1, 7716, 625});
const Bytes kLongitude = Rationals({0, 1, 1, 1, 48, 1});
const Bytes kTime = Rationals({23, 1, 59, 1, 59, 1});
const Bytes kDate = Text(std::string_view("2011:03:03\0", 11));

// IFD0 with the EXIF pointer; the EXIF sub-directory holds an 8-byte maker note at 44, and the 8 bytes
// after it (52..60) are data only the maker note knows of.
Bytes MakerNoteWithDataAfterIt() {
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x8769, 4, 1, LE32(26)),
                Zeros(4),
                {0x01, 0x00},
                Entry(0x927C, 7, 8, LE32(44)),
                Zeros(4),
                Text("MAKERNT!"),
                Text("NOTEDATA")});
}

TEST(ExifInPlace, MakerNoteAndTheDataAfterItStayWhereTheyWere) {
    const Bytes tiff = MakerNoteWithDataAfterIt();
    TExifData exif;
    Load(exif, tiff);
    TagAsTheRun(exif);
    // 60 bytes as read, 32 zeros, the GPS directory at 92 with its values (to 265), one byte to reach a
    // word boundary, and IFD0 grown by the GPS pointer at 266; only the header's IFD0 offset changes.
    const Bytes expected = Cat({
        TiffHeaderLE(266),
        Bytes(tiff.begin() + 8, tiff.end()),
        Zeros(kGap),
        NewGpsDirectory(92),
        Zeros(1),
        {0x02, 0x00},
        Entry(0x8769, 4, 1, LE32(26)),
        Entry(0x8825, 4, 1, LE32(92)),
        Zeros(4),
    });
    EXPECT_TRUE(BytesEqual(expected, SavedTiff(exif)));
    // The container's pointers follow what was written.
    EXPECT_EQ(exif.RawSection(esGeneral).GetLongWordValue(ttGPSOffset, 0, 0), 92U);
}

// GPSVersionID, GPSAltitude (8 bytes at 68) and GPSMapDatum (7 bytes at 76) in a GPS directory at 26.
Bytes GpsWithVersionAltitudeAndDatum() {
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x8825, 4, 1, LE32(26)),
                Zeros(4),
                {0x03, 0x00},
                Entry(0, 1, 4, {2, 2, 0, 0}),
                Entry(6, 5, 1, LE32(68)),
                Entry(18, 2, 7, LE32(76)),
                Zeros(4),
                Rationals({933, 10}),
                Text(std::string_view("WGS-84\0", 7))});
}

TEST(ExifInPlace, GpsDirectoryThatGrowsKeepsEveryTagItHad) {
    const Bytes tiff = GpsWithVersionAltitudeAndDatum();
    ASSERT_EQ(tiff.size(), 83U);
    TExifData exif;
    Load(exif, tiff);
    TagAsTheRun(exif);
    // The grown directory goes to 116 (83 + 32 zeros + one to a word boundary); the three entries it had
    // are copied as read, so version, altitude and datum keep their values and their places. IFD0 stays:
    // only its GPS pointer is overwritten.
    const std::uint32_t values = 116 + 2 + 9 * 12 + 4;
    const Bytes expected = Cat({
        TiffHeaderLE(8),
        {0x01, 0x00},
        Entry(0x8825, 4, 1, LE32(116)),
        Zeros(4),
        Bytes(tiff.begin() + 26, tiff.end()),
        Zeros(kGap + 1),
        {0x09, 0x00},
        Entry(0, 1, 4, {2, 2, 0, 0}),
        Entry(1, 2, 2, {'N', 0, 0, 0}),
        Entry(2, 5, 3, LE32(values)),
        Entry(3, 2, 2, {'W', 0, 0, 0}),
        Entry(4, 5, 3, LE32(values + 24)),
        Entry(6, 5, 1, LE32(68)),
        Entry(7, 5, 3, LE32(values + 48)),
        Entry(18, 2, 7, LE32(76)),
        Entry(29, 2, 11, LE32(values + 72)),
        Zeros(4),
        kLatitude,
        kLongitude,
        kTime,
        kDate,
    });
    EXPECT_TRUE(BytesEqual(expected, SavedTiff(exif)));
}

// A GPS directory that already holds the six tags the run writes, with the values given, and an
// altitude reference the run does not touch.
Bytes GpsWithSixTags(char latRef, const Bytes& latitude, char lonRef, const Bytes& longitude,
                     const Bytes& time, const Bytes& date) {
    // Directory at 26 with 7 entries: 2 + 84 + 4 = 90, values from 116.
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x8825, 4, 1, LE32(26)),
                Zeros(4),
                {0x07, 0x00},
                Entry(1, 2, 2, {static_cast<std::uint8_t>(latRef), 0, 0, 0}),
                Entry(2, 5, 3, LE32(116)),
                Entry(3, 2, 2, {static_cast<std::uint8_t>(lonRef), 0, 0, 0}),
                Entry(4, 5, 3, LE32(140)),
                Entry(5, 1, 1, {1, 0, 0, 0}),
                Entry(7, 5, 3, LE32(164)),
                Entry(29, 2, 11, LE32(188)),
                Zeros(4),
                latitude,
                longitude,
                time,
                date});
}

TEST(ExifInPlace, GpsDirectoryThatFitsIsOverwrittenWhereItLies) {
    const Bytes before =
        GpsWithSixTags('S', Rationals({33, 1, 51, 1, 24, 1}), 'E', Rationals({151, 1, 12, 1, 54, 1}),
                       Rationals({8, 1, 0, 1, 0, 1}), Text(std::string_view("2024:06:15\0", 11)));
    TExifData exif;
    Load(exif, before);
    TagAsTheRun(exif);
    // Same size, same places: the block that would have held the new values from the start.
    const Bytes expected = GpsWithSixTags('N', kLatitude, 'W', kLongitude, kTime, kDate);
    EXPECT_TRUE(BytesEqual(expected, SavedTiff(exif)));
}

TEST(ExifInPlace, ValueThatGrowsMovesAndOnlyItsEntryChanges) {
    // A latitude of degrees and minutes only (16 bytes at 116) gains its seconds.
    const Bytes before = GpsWithSixTags('N', Rationals({51, 1, 30, 1, 0, 0}), 'W', kLongitude, kTime, kDate);
    Bytes twoRationals = before;
    twoRationals[26 + 2 + 12 + 4] = 2;  // the latitude entry's count: 2 elements, the rest left as it was
    TExifData exif;
    Load(exif, twoRationals);
    TagAsTheRun(exif);
    // Appended after the old end; the old 16 bytes stay where they were.
    const std::size_t at = FirstAppended(before.size());
    Bytes expected = twoRationals;
    expected[26 + 2 + 12 + 4] = 3;
    const Bytes offset = LE32(static_cast<std::uint32_t>(at));
    std::copy(offset.begin(), offset.end(), expected.begin() + 26 + 2 + 12 + 8);
    expected = Cat({expected, Zeros(at - before.size()), kLatitude});
    EXPECT_TRUE(BytesEqual(expected, SavedTiff(exif)));
}

TEST(ExifInPlace, SharedValueIsNotOverwrittenForOneOfItsTags) {
    // Latitude and longitude entries both name the 24 bytes at 116: writing either there would change
    // the other, so both new values go after the old end.
    Bytes shared = GpsWithSixTags('N', Rationals({1, 1, 2, 1, 3, 1}), 'W', kLongitude, kTime, kDate);
    const Bytes at116 = LE32(116);
    std::copy(at116.begin(), at116.end(), shared.begin() + 26 + 2 + 3 * 12 + 8);
    TExifData exif;
    Load(exif, shared);
    TagAsTheRun(exif);
    const std::size_t at = FirstAppended(shared.size());
    Bytes expected = shared;
    const Bytes latitudeAt = LE32(static_cast<std::uint32_t>(at));
    std::copy(latitudeAt.begin(), latitudeAt.end(), expected.begin() + 26 + 2 + 12 + 8);
    const Bytes longitudeAt = LE32(static_cast<std::uint32_t>(at + 24));
    std::copy(longitudeAt.begin(), longitudeAt.end(), expected.begin() + 26 + 2 + 3 * 12 + 8);
    expected = Cat({expected, Zeros(at - shared.size()), kLatitude, kLongitude});
    EXPECT_TRUE(BytesEqual(expected, SavedTiff(exif)));
}

// Blocks holding what the save must carry without understanding it. Each is tagged; the whole old
// block must come back unchanged but for the header's IFD0 offset, and the new IFD0 must keep the
// entries it had, byte for byte.
struct SurvivorCase {
    std::string_view name;
    Bytes tiff;
    std::vector<Bytes> entriesKept;  // 12-byte entries of IFD0 that must reappear as they were
};
void PrintTo(const SurvivorCase& c, std::ostream* os) { *os << c.name; }

SurvivorCase StripThumbnail() {
    // IFD1 at 26 describes a 2 x 2 RGB strip of 12 bytes at 108; IFD0 chains to it.
    const Bytes strip{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    return {"StripThumbnail",
            Cat({TiffHeaderLE(8),
                 {0x01, 0x00},
                 Entry(0x0112, 3, 1, {1, 0, 0, 0}),
                 LE32(26),
                 {0x06, 0x00},
                 Entry(0x0100, 3, 1, {2, 0, 0, 0}),
                 Entry(0x0101, 3, 1, {2, 0, 0, 0}),
                 Entry(0x0103, 3, 1, {1, 0, 0, 0}),
                 Entry(0x0111, 4, 1, LE32(108)),
                 Entry(0x0115, 3, 1, {3, 0, 0, 0}),
                 Entry(0x0117, 4, 1, LE32(12)),
                 Zeros(4),
                 strip}),
            {Entry(0x0112, 3, 1, {1, 0, 0, 0})}};
}

SurvivorCase PrivateDirectory() {
    // IFD0's tag 0x8290 (a camera's own directory, unknown here) points at a directory at 26 whose one
    // entry names 4 bytes at 44.
    return {"PrivateDirectory",
            Cat({TiffHeaderLE(8),
                 {0x01, 0x00},
                 Entry(0x8290, 4, 1, LE32(26)),
                 Zeros(4),
                 {0x01, 0x00},
                 Entry(0x0001, 7, 8, LE32(44)),
                 Zeros(4),
                 Text("PRIVATE!")}),
            {Entry(0x8290, 4, 1, LE32(26))}};
}

SurvivorCase PrintImAndPadding() {
    // PrintIM data (0xC4A5, 16 bytes at 38) and a padding tag (0xEA1C, 8 bytes at 58) in IFD0, with
    // four bytes no tag names between the two values.
    return {"PrintImAndPadding",
            Cat({TiffHeaderLE(8),
                 {0x02, 0x00},
                 Entry(0xC4A5, 7, 16, LE32(38)),
                 Entry(0xEA1C, 7, 8, LE32(58)),
                 Zeros(4),
                 Text(std::string_view("PrintIM\0"
                                       "0300\0\0\0\0",
                                       16)),
                 Text("gap!"),
                 Bytes{0x1C, 0xEA, 0, 0, 0, 0, 0, 0}}),
            {Entry(0xC4A5, 7, 16, LE32(38)), Entry(0xEA1C, 7, 8, LE32(58))}};
}

class Survivors : public ::testing::TestWithParam<SurvivorCase> {};

TEST_P(Survivors, OldBlockComesBackButForTheHeader) {
    const SurvivorCase& c = GetParam();
    TExifData exif;
    Load(exif, c.tiff);
    TagAsTheRun(exif);
    const Bytes saved = SavedTiff(exif);
    ASSERT_GT(saved.size(), c.tiff.size());
    EXPECT_TRUE(
        BytesEqual(Bytes(c.tiff.begin() + 8, c.tiff.end()),
                   Bytes(saved.begin() + 8, saved.begin() + static_cast<std::ptrdiff_t>(c.tiff.size()))));
    const Bytes gap(saved.begin() + static_cast<std::ptrdiff_t>(c.tiff.size()),
                    saved.begin() + static_cast<std::ptrdiff_t>(c.tiff.size() + kGap));
    EXPECT_EQ(gap, Zeros(kGap));
    const std::uint32_t ifd0 = ReadLE32(saved, 4);
    ASSERT_GE(ifd0, c.tiff.size() + kGap);
    ASSERT_LT(ifd0, saved.size());
    const Bytes newIfd0(saved.begin() + ifd0, saved.end());
    for (const Bytes& entry : c.entriesKept) {
        EXPECT_NE(test::Find(newIfd0, entry), std::string::npos) << "an IFD0 entry was not carried as read";
    }
    // Read back: the GPS tags are there and the old next-directory link of IFD0 survived.
    TExifData reread;
    Load(reread, saved);
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
    EXPECT_EQ(reread.GPSDateStamp(), "2011:03:03");
    EXPECT_EQ(reread.RawSection(esThumbnail).Count(), exif.RawSection(esThumbnail).Count());
}

INSTANTIATE_TEST_SUITE_P(ExifInPlace, Survivors,
                         ::testing::Values(StripThumbnail(), PrivateDirectory(), PrintImAndPadding()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ExifInPlace, EntryThatFailedToReadStaysInADirectoryThatStays) {
    // IFD0's first entry has type 0 (no tag can be made of it); the GPS directory already holds the six
    // tags, so IFD0 stays and keeps that entry byte for byte.
    Bytes tiff = GpsWithSixTags('S', Rationals({1, 1, 2, 1, 3, 1}), 'E', kLongitude, kTime, kDate);
    const Bytes broken = Entry(0x0001, 0, 1, LE32(0xCE));
    tiff = Cat({TiffHeaderLE(8),
                {0x02, 0x00},
                broken,
                Entry(0x8825, 4, 1, LE32(38)),
                Zeros(4),
                Bytes(tiff.begin() + 26, tiff.end())});
    // The GPS directory moved 12 bytes further: its value offsets follow.
    for (const std::size_t entry : {1U, 3U, 5U, 6U}) {
        const std::size_t field = 38 + 2 + entry * 12 + 8;
        const Bytes moved = LE32(ReadLE32(tiff, field) + 12);
        std::copy(moved.begin(), moved.end(), tiff.begin() + static_cast<std::ptrdiff_t>(field));
    }
    TExifData exif;
    Load(exif, tiff);
    ASSERT_EQ(exif.GPSLatitude().AsString(), "1,2,3S");
    TagAsTheRun(exif);
    const Bytes saved = SavedTiff(exif);
    ASSERT_EQ(saved.size(), tiff.size());
    EXPECT_TRUE(BytesEqual(Bytes(tiff.begin(), tiff.begin() + 38), Bytes(saved.begin(), saved.begin() + 38)));
}

TEST(ExifInPlace, EntriesThatFailedToReadLeaveADirectoryWrittenAnew) {
    // Two entries of type 0 (IDs 0 and 1), apart in the file: sorted by ID in a new IFD0 they would
    // stand side by side, and two bad entries in a row end a directory for the reader. They stay out,
    // and nothing after them is lost.
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x03, 0x00},
                            Entry(0x0001, 0, 1, LE32(0xCE)),
                            Entry(0x0112, 3, 1, {6, 0, 0, 0}),
                            Entry(0x0000, 0, 2, LE32(0xAB)),
                            Zeros(4)});
    TExifData exif;
    Load(exif, tiff);
    ASSERT_EQ(exif.RawSection(esGeneral).Count(), 3);
    TagAsTheRun(exif);
    const Bytes saved = SavedTiff(exif);
    const Bytes newIfd0(saved.begin() + ReadLE32(saved, 4), saved.end());
    EXPECT_EQ(ReadLE32(newIfd0, 0) & 0xFFFFU, 2U);  // Orientation and the GPS pointer
    TExifData reread;
    Load(reread, saved);
    EXPECT_EQ(reread.Orientation(), toRightTop);
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
    EXPECT_TRUE(reread.RawSection(esGeneral).LoadErrors().Empty());
}

TEST(ExifInPlace, ValueReadFromInFrontOfTheHeaderIsWrittenAnew) {
    // The value's offset is -6: the reader takes the six bytes "Exif\0\0" in front of the TIFF header,
    // which the kept block does not hold. The value is copied into the new IFD0's values.
    const Bytes tiff = Cat({TiffHeaderLE(8), {0x01, 0x00}, Entry(0xC000, 7, 6, LE32(0xFFFFFFFA)), Zeros(4)});
    TExifData exif;
    Load(exif, tiff);
    TagAsTheRun(exif);
    TExifData reread;
    Load(reread, SavedTiff(exif));
    const TExifTag* value = reread.RawSection(esGeneral).Find(0xC000);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(Bytes(value->Bytes().begin(), value->Bytes().end()), ExifHeader());
    EXPECT_GT(value->OriginalDataOffset(), 0);
}

TEST(ExifInPlace, GpsEntryThatFailedToReadIsNotDuplicated) {
    // GPSVersionID and, after it, an entry of type 0 with the same ID 0 (as some cameras write).
    const Bytes broken = Entry(0, 0, 3, {0xAB, 0xCD, 0xEF, 0x01});
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x01, 0x00},
                            Entry(0x8825, 4, 1, LE32(26)),
                            Zeros(4),
                            {0x02, 0x00},
                            Entry(0, 1, 4, {2, 2, 0, 0}),
                            broken,
                            Zeros(4)});
    TExifData exif;
    Load(exif, tiff);
    TagAsTheRun(exif);
    const Bytes saved = SavedTiff(exif);
    TExifData reread;
    Load(reread, saved);
    const TExifSection& gps = reread.RawSection(esGPS);
    int versions = 0;
    for (std::int32_t i = 0; i < gps.Count(); ++i) {
        if (gps[i]->ID() == 0 && gps[i]->WellFormed()) {
            ++versions;
            EXPECT_EQ(Bytes(gps[i]->Bytes().begin(), gps[i]->Bytes().end()), (Bytes{2, 2, 0, 0}));
        }
    }
    EXPECT_EQ(versions, 1);
    // The entry that failed to read is left out of the new directory, not turned into an empty tag.
    EXPECT_EQ(test::Find(saved, Entry(0, 7, 0, Zeros(4))), std::string::npos);
    EXPECT_EQ(
        test::Find(Bytes(saved.begin() + static_cast<std::ptrdiff_t>(tiff.size()), saved.end()), broken),
        std::string::npos);
    EXPECT_EQ(gps.Count(), 7);  // the version read and the six written
}

TEST(ExifInPlace, DirectoriesThatSharedAnOffsetStillShareIt) {
    // The interoperability pointer leads back to IFD0 (at 8). IFD0 grows by the GPS pointer and moves;
    // the interoperability pointer follows it, so a reader meets the same loop it met before.
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x01, 0x00},
                            Entry(0x8769, 4, 1, LE32(26)),
                            Zeros(4),
                            {0x01, 0x00},
                            Entry(0xA005, 4, 1, LE32(8)),
                            Zeros(4)});
    TExifData exif;
    Load(exif, tiff);
    TagAsTheRun(exif);
    const Bytes saved = SavedTiff(exif);
    EXPECT_GT(ReadLE32(saved, 4), tiff.size());
    EXPECT_EQ(ReadLE32(saved, 26 + 2 + 8), ReadLE32(saved, 4));
}

TEST(ExifInPlace, BigEndianBlockStaysBigEndian) {
    // IFD0 with Orientation and the EXIF pointer; the EXIF sub-directory holds DateTimeOriginal.
    const Bytes tiff = Cat({Text("MM"),         {0x00, 0x2A},
                            test::BE32(8),      {0x00, 0x02},
                            test::BE16(0x0112), test::BE16(3),
                            test::BE32(1),      {0x00, 0x06, 0, 0},
                            test::BE16(0x8769), test::BE16(4),
                            test::BE32(1),      test::BE32(38),
                            Zeros(4),           {0x00, 0x01},
                            test::BE16(0x9003), test::BE16(2),
                            test::BE32(20),     test::BE32(56),
                            Zeros(4),           Text(std::string_view("2011:03:04 01:59:59\0", 20))});
    TExifData exif;
    Load(exif, tiff);
    TagAsTheRun(exif);
    const Bytes saved = SavedTiff(exif);
    EXPECT_TRUE(
        BytesEqual(Bytes(tiff.begin() + 8, tiff.end()),
                   Bytes(saved.begin() + 8, saved.begin() + static_cast<std::ptrdiff_t>(tiff.size()))));
    EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 4), (Bytes{'M', 'M', 0x00, 0x2A}));
    // The latitude as the file's byte order writes it: 51/1 as 00 00 00 33 00 00 00 01.
    EXPECT_NE(test::Find(saved, Cat({test::BE32(51), test::BE32(1), test::BE32(30), test::BE32(1)})),
              std::string::npos);
    TExifData reread;
    Load(reread, saved);
    EXPECT_EQ(reread.Endianness(), BigEndian);
    EXPECT_EQ(reread.GPSLongitude().AsString(), "0,1,48W");
    EXPECT_EQ(reread.Orientation(), toRightTop);
    EXPECT_EQ(reread.DateTimeOriginal(), EncodeDateTime(2011, 3, 4, 1, 59, 59, 0));
}

TEST(ExifInPlace, UnchangedContainerSavesTheBlockAsRead) {
    const Bytes tiff = MakerNoteWithDataAfterIt();
    TExifData exif;
    Load(exif, tiff);
    EXPECT_TRUE(BytesEqual(tiff, SavedTiff(exif)));
}

TEST(ExifInPlace, SavingTwiceGivesTheSameBytes) {
    const Bytes photo = PhotoWithTiff(MakerNoteWithDataAfterIt());
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    TagAsTheRun(image.ExifData());
    std::vector<std::uint8_t> first;
    image.SaveToBytes(first);
    std::vector<std::uint8_t> second;
    image.SaveToBytes(second);
    EXPECT_TRUE(BytesEqual(first, second));
}

TEST(ExifInPlace, RelayoutOnRequestOrForAnEditedThumbnail) {
    // On request: IFD0 is laid out afresh right after the header, and the unknown bytes are gone.
    {
        TExifData exif;
        Load(exif, MakerNoteWithDataAfterIt());
        exif.SetPreserveLayoutOnSave(false);
        TagAsTheRun(exif);
        const Bytes saved = SavedTiff(exif);
        EXPECT_EQ(ReadLE32(saved, 4), 8U);
        EXPECT_EQ(test::Find(saved, Text("NOTEDATA")), std::string::npos);
    }
    // A thumbnail given to the container is no longer the one the block holds.
    {
        TExifData exif;
        Load(exif, MakerNoteWithDataAfterIt());
        TJPEGImage thumbnail;
        thumbnail.LoadFromBytes(test::EncodedPicture(8, 8));
        exif.SetThumbnail(&thumbnail);
        const Bytes saved = SavedTiff(exif);
        EXPECT_EQ(ReadLE32(saved, 4), 8U);
        TExifData reread;
        Load(reread, saved);
        EXPECT_TRUE(reread.HasThumbnail());
    }
}

// An IFD0 whose ImageDescription fills the block up to `size` bytes, with `tail` at the end (bytes
// that no tag names, as a maker note's data would be).
Bytes FullBlock(std::size_t size, const Bytes& tail) {
    const std::size_t text = size - 8 - 18 - tail.size();
    Bytes description(text - 1, 'd');
    description.push_back(0);
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x010E, 2, static_cast<std::uint32_t>(text), LE32(26)),
                Zeros(4),
                description,
                tail});
}

TEST(ExifInPlace, BlockThatOutgrowsItsSegmentIsLaidOutAfreshWhenNothingIsLost) {
    // 200 bytes short of what a segment carries: appending the GPS tags (about 230 bytes) passes the
    // limit, laying the block out afresh (about 180 more) does not, and drops only zeros.
    const Bytes tiff = FullBlock(65527 - 200, Zeros(16));
    const Bytes photo = PhotoWithTiff(tiff);
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    TagAsTheRun(image.ExifData());
    std::vector<std::uint8_t> saved;
    image.SaveToBytes(saved);
    TExifData reread;
    reread.LoadFromJPEG(std::span<const std::uint8_t>(saved));
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
    EXPECT_EQ(reread.ImageDescription(), std::string(tiff.size() - 8 - 18 - 16 - 1, 'd'));
    // Laid out afresh: IFD0 right after the header (SOI, APP1 marker and length, "Exif\0\0", "II*\0").
    EXPECT_EQ(ReadLE32(saved, 2 + 4 + 6 + 4), 8U);
}

TEST(ExifInPlace, BlockThatOutgrowsItsSegmentKeepsItsMakerNoteWhereItWas) {
    // IFD0 (a long ImageDescription and the EXIF pointer), then the EXIF sub-directory with an 8-byte
    // maker note right after it. Laid out afresh, the maker note must stay at its offset.
    const std::size_t size = 65527 - 200;
    const std::size_t text = size - 8 - 30 - 18 - 8;
    const auto exifAt = static_cast<std::uint32_t>(8 + 30 + text);
    Bytes description(text - 1, 'd');
    description.push_back(0);
    const Bytes tiff = Cat({TiffHeaderLE(8),
                            {0x02, 0x00},
                            Entry(0x010E, 2, static_cast<std::uint32_t>(text), LE32(38)),
                            Entry(0x8769, 4, 1, LE32(exifAt)),
                            Zeros(4),
                            description,
                            {0x01, 0x00},
                            Entry(0x927C, 7, 8, LE32(exifAt + 18)),
                            Zeros(4),
                            Text("MAKERNT!")});
    ASSERT_EQ(tiff.size(), size);
    TJPEGImageEx image;
    image.LoadFromBytes(PhotoWithTiff(tiff));
    TagAsTheRun(image.ExifData());
    std::vector<std::uint8_t> saved;
    image.SaveToBytes(saved);
    TExifData reread;
    reread.LoadFromJPEG(std::span<const std::uint8_t>(saved));
    EXPECT_EQ(ReadLE32(saved, 2 + 4 + 6 + 4), 8U);  // laid out afresh
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
    const TExifTag* makerNote = reread.RawSection(esDetails).Find(ttMakerNote);
    ASSERT_NE(makerNote, nullptr);
    EXPECT_EQ(makerNote->OriginalDataOffset(), exifAt + 18);
    EXPECT_EQ(Bytes(makerNote->Bytes().begin(), makerNote->Bytes().end()), Text("MAKERNT!"));
}

TEST(ExifInPlace, BlockThatOutgrowsItsSegmentAndWouldLoseDataIsRefused) {
    // The same, but the tail holds bytes no tag names: a relayout would drop them, so the save fails
    // and the photo stays as it was.
    const Bytes tiff = FullBlock(65527 - 200, Text("maker note data!"));
    test::TempDir dir;
    const auto path = dir / "full.jpg";
    test::WriteFileBytes(path, PhotoWithTiff(tiff));
    TJPEGImageEx image;
    image.LoadFromFile(path.string());
    TagAsTheRun(image.ExifData());
    EXPECT_THROW(image.SaveToFile(path.string()), SegmentTooLarge);
    EXPECT_TRUE(BytesEqual(PhotoWithTiff(tiff), test::ReadFileBytes(path)));
}

}  // namespace
}  // namespace zeloro
