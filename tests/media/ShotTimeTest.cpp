// tests/media/ShotTimeTest.cpp: the shot time and GPS presence of each kind, over fixtures built in code.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "MediaBuilders.h"
#include "MetadataBuilders.h"
#include "common/FileDescriptor.h"
#include "media/ExifFacts.h"
#include "media/MediaReaders.h"
#include "media/ShotTime.h"

namespace zeloro {
namespace {

using test::Box;
using test::Bytes;
using test::ExifItem;
using test::ExifTiff;
using test::FullBox;
using test::HeifFile;
using test::HeifLayout;
using test::Join;
using test::Text;

ShotTime Camera(int y, int mo, int d, int h, int mi, int s) {
    return ShotTime{EncodeDateTime(y, mo, d, h, mi, s, 0), ShotTime::Clock::camera, 0};
}
ShotTime Utc(int y, int mo, int d, int h, int mi, int s) {
    return ShotTime{EncodeDateTime(y, mo, d, h, mi, s, 0), ShotTime::Clock::utc, 0};
}

// The kind as the run tells it from the head, then the facts.
MediaFacts Facts(const Bytes& bytes) {
    const SpanSource file(bytes);
    return ReadMediaFacts(DetectMediaKind(bytes), file);
}

std::string ErrorOf(const Bytes& bytes) {
    try {
        (void)Facts(bytes);
    } catch (const MediaError& e) {
        return e.what();
    }
    return "no error";
}

// ---- TIFF-based RAW and EXIF blocks

struct TiffCase {
    std::string name;
    bool big;
    std::uint16_t mark;
    std::uint16_t magic;
};
void PrintTo(const TiffCase& c, std::ostream* os) { *os << c.name; }
class TiffVariants : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffVariants, ReadDateTimeOriginalAndPosition) {
    const TiffCase& c = GetParam();
    test::TiffBuilder t(c.big);
    t.AddDirectory({t.Short(274, {1}), t.Pointer(0x8769, 1), t.Pointer(0x8825, 2)});
    t.AddDirectory({t.Text(0x9003, "2021:07:14 09:08:07")});
    t.AddDirectory({t.Rationals(2, {{1, 1}, {2, 1}, {3, 1}}), t.Rationals(4, {{4, 1}, {5, 1}, {6, 1}})});
    t.Mark(c.mark).Magic(c.magic);
    const Bytes raw = t.Build();
    ASSERT_EQ(DetectMediaKind(raw), MediaKind::tiffRaw);
    const MediaFacts facts = Facts(raw);
    EXPECT_EQ(facts.shot, Camera(2021, 7, 14, 9, 8, 7));
    EXPECT_TRUE(facts.hasGpsPosition);
}

INSTANTIATE_TEST_SUITE_P(
    MediaFacts, TiffVariants,
    ::testing::Values(TiffCase{"TiffIntel", false, 0x4949, 42}, TiffCase{"TiffMotorola", true, 0x4D4D, 42},
                      TiffCase{"Rw2", false, 0x4949, 0x55}, TiffCase{"OrfIIRO", false, 0x4949, 0x4F52},
                      TiffCase{"OrfIIRS", false, 0x4949, 0x5352}, TiffCase{"OrfMMOR", true, 0x4D4D, 0x4F52}),
    [](const auto& p) { return p.param.name; });

TEST(MediaFacts, RawMagicIsNoExifBlock) {
    // In a JPEG the variants' magic numbers stay damage, as before.
    test::TiffBuilder t;
    t.AddDirectory({t.Pointer(0x8769, 1)});
    t.AddDirectory({t.Text(0x9003, "2021:07:14 09:08:07")});
    t.Magic(0x55);
    const Bytes jpeg = test::JpegBuilder{}.Soi().App1Exif(t.Build()).Sof0().Sos({0}).Eoi().bytes();
    EXPECT_EQ(ErrorOf(jpeg), "Die EXIF-Daten sind beschädigt: der TIFF-Kopf ist ungültig");
}

TEST(MediaFacts, GpsNeedsLatitudeAndLongitude) {
    test::TiffBuilder t;
    t.AddDirectory({t.Pointer(0x8769, 1), t.Pointer(0x8825, 2)});
    t.AddDirectory({t.Text(0x9003, "2021:07:14 09:08:07")});
    t.AddDirectory({t.Undefined(0, {2, 3, 0, 0}), t.Rationals(2, {{1, 1}, {2, 1}, {3, 1}})});
    const MediaFacts facts = Facts(t.Build());
    EXPECT_TRUE(facts.shot);
    EXPECT_FALSE(facts.hasGpsPosition);
}

TEST(MediaFacts, NoExifDirectoryIsNoShotTime) {
    test::TiffBuilder t;
    t.AddDirectory({t.Short(274, {1})});
    const MediaFacts facts = Facts(t.Build());
    EXPECT_FALSE(facts.shot);
    EXPECT_FALSE(facts.hasGpsPosition);
}

struct DamagedTiffCase {
    std::string name;
    Bytes bytes;
    std::string message;
};
void PrintTo(const DamagedTiffCase& c, std::ostream* os) { *os << c.name; }
class DamagedTiff : public ::testing::TestWithParam<DamagedTiffCase> {};

TEST_P(DamagedTiff, ThrowsNamingTheDamage) { EXPECT_EQ(ErrorOf(GetParam().bytes), GetParam().message); }

Bytes TiffWithExifPointer(std::uint32_t raw) {
    test::TiffBuilder t;
    test::TiffEntry pointer = t.Long(0x8769, {0});
    pointer.raw = raw;
    t.AddDirectory({pointer});
    return t.Build();
}

Bytes TiffWithFirstOffset(std::uint32_t offset) {
    test::TiffBuilder t;
    t.AddDirectory({t.Short(274, {1})});
    t.FirstOffset(offset);
    return t.Build();
}

INSTANTIATE_TEST_SUITE_P(
    MediaFacts, DamagedTiff,
    ::testing::Values(
        DamagedTiffCase{"ExifDirectoryPastTheEnd", TiffWithExifPointer(0x10000),
                        "Die EXIF-Daten sind beschädigt: das Exif-Verzeichnis liegt außerhalb der Daten"},
        DamagedTiffCase{"FirstDirectoryPastTheEnd", TiffWithFirstOffset(0x10000),
                        "Die EXIF-Daten sind beschädigt: das erste Verzeichnis liegt außerhalb der Daten"},
        DamagedTiffCase{"HeaderCut",
                        {'I', 'I', 42, 0, 8, 0},
                        "Die EXIF-Daten sind beschädigt: der TIFF-Kopf ist ungültig"}),
    [](const auto& p) { return p.param.name; });

struct DateCase {
    std::string text;
    bool valid;
};

TEST(MediaFacts, ExifDateTexts) {
    EXPECT_EQ(ParseExifDateTime("2021:07:14 09:08:07"), EncodeDateTime(2021, 7, 14, 9, 8, 7, 0));
    for (const char* bad :
         {"0000:00:00 00:00:00", "    :  :     :  :  ", "2021-07-14 09:08:07", "2021:13:01 00:00:00",
          "2021:02:29 00:00:00", "2021:07:14 24:00:00", "2021:07:14 09:08:0", "2021:07:14T09:08:07"}) {
        EXPECT_FALSE(ParseExifDateTime(bad)) << bad;
    }
}

// ---- JPEG and the RAW kinds that hold one

TEST(MediaFacts, JpegReadsTheExifSegmentAfterOthers) {
    const Bytes tiff = ExifTiff("2010:03:01 21:50:21", true);
    const Bytes jpeg = test::JpegBuilder{}
                           .Soi()
                           .Segment(0xE0, Text("JFIF"))
                           .Segment(0xE1, Text("http://ns.adobe.com/xap/1.0/"))
                           .App1Exif(tiff)
                           .Sof0()
                           .Sos({0})
                           .Eoi()
                           .bytes();
    const MediaFacts facts = Facts(jpeg);
    EXPECT_EQ(facts.shot, Camera(2010, 3, 1, 21, 50, 21));
    EXPECT_TRUE(facts.hasGpsPosition);
}

TEST(MediaFacts, JpegSegmentPastItsEndIsDamage) {
    const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xE1, 0x40, 0x00, 'E', 'x'};
    EXPECT_EQ(ErrorOf(jpeg), "Ein Segment des JPEG-Bilds reicht über sein Ende hinaus");
}

TEST(MediaFacts, RafReadsItsPreviewsExif) {
    const Bytes jpeg = test::JpegBuilder{}
                           .Soi()
                           .App1Exif(ExifTiff("2007:05:22 13:58:30", false))
                           .Sof0()
                           .Sos({0})
                           .Eoi()
                           .bytes();
    const Bytes raf = test::RafFile(jpeg, 160, static_cast<std::uint32_t>(jpeg.size()));
    ASSERT_EQ(DetectMediaKind(raf), MediaKind::otherRaw);
    EXPECT_EQ(Facts(raf).shot, Camera(2007, 5, 22, 13, 58, 30));
    // A preview said to reach past the file's end.
    EXPECT_EQ(ErrorOf(test::RafFile(jpeg, 160, 0x7FFFFFFF)),
              "Das Vorschaubild der RAF-Datei reicht über ihr Ende hinaus");
}

TEST(MediaFacts, MrwReadsTheTtwBlock) {
    Bytes mrw = test::MrwFile(ExifTiff("2004:01:02 03:04:05", false, true));
    ASSERT_EQ(DetectMediaKind(mrw), MediaKind::otherRaw);
    EXPECT_EQ(Facts(mrw).shot, Camera(2004, 1, 2, 3, 4, 5));
    mrw[7] = 0xFF;  // the header's length past the file's end
    EXPECT_EQ(ErrorOf(mrw), "Der Kopf der MRW-Datei reicht über ihr Ende hinaus");
}

TEST(MediaFacts, CrwReadsTheCaptureTimeInASubHeap) {
    const Bytes crw = test::CrwFile(1123095558);  // 2005-08-03 18:59:18 on the camera's clock
    ASSERT_EQ(DetectMediaKind(crw), MediaKind::otherRaw);
    EXPECT_EQ(Facts(crw).shot, Camera(2005, 8, 3, 18, 59, 18));
    Bytes cut = crw;
    cut[cut.size() - 1] = 0x7F;  // the root table's offset past the heap
    EXPECT_EQ(ErrorOf(cut), "Die Tabelle eines CRW-Datenbereichs liegt außerhalb");
}

TEST(MediaFacts, X3fReadsTheTimeProperty) {
    const Bytes x3f = test::X3fFile({{"AEMODE", "8"}, {"TIME", "1123095558"}}, {});
    ASSERT_EQ(DetectMediaKind(x3f), MediaKind::otherRaw);
    EXPECT_EQ(Facts(x3f).shot, Camera(2005, 8, 3, 18, 59, 18));
    EXPECT_FALSE(Facts(test::X3fFile({{"TIME", "gestern"}}, {})).shot);
}

TEST(MediaFacts, X3fFallsBackToThePreviewsExif) {
    const Bytes jpeg = test::JpegBuilder{}
                           .Soi()
                           .App1Exif(ExifTiff("2012:06:07 08:09:10", false))
                           .Sof0()
                           .Sos({0})
                           .Eoi()
                           .bytes();
    EXPECT_EQ(Facts(test::X3fFile({{"AEMODE", "8"}}, jpeg)).shot, Camera(2012, 6, 7, 8, 9, 10));
    EXPECT_FALSE(Facts(test::X3fFile({{"AEMODE", "8"}}, {})).shot);
}

TEST(MediaFacts, X3fDamage) {
    Bytes x3f = test::X3fFile({{"TIME", "1123095558"}}, {});
    Bytes pointerOut = x3f;
    pointerOut[pointerOut.size() - 2] = 0x7F;
    EXPECT_EQ(ErrorOf(pointerOut), "Das Verzeichnis der X3F-Datei liegt außerhalb der Datei");
    Bytes sectionOut = x3f;
    // The PROP entry's length, the directory's first entry after its 12-byte head.
    const std::size_t entry = sectionOut.size() - 4 - 12;
    sectionOut[entry + 7] = 0x7F;
    EXPECT_EQ(ErrorOf(sectionOut), "Ein Abschnitt der X3F-Datei reicht über ihr Ende hinaus");
    Bytes otherDirectory = x3f;
    otherDirectory[entry - 12] = 'X';  // "XECd": a directory of another version
    EXPECT_FALSE(Facts(otherDirectory).shot);
}

// ---- HEIF

struct HeifCase {
    std::string name;
    HeifLayout layout;
};
void PrintTo(const HeifCase& c, std::ostream* os) { *os << c.name; }
class HeifLayouts : public ::testing::TestWithParam<HeifCase> {};

TEST_P(HeifLayouts, ReadTheExifItem) {
    const Bytes heif = HeifFile(ExifItem(ExifTiff("2020:04:17 10:03:40", true)), GetParam().layout);
    ASSERT_EQ(DetectMediaKind(heif), MediaKind::heif);
    const MediaFacts facts = Facts(heif);
    EXPECT_EQ(facts.shot, Camera(2020, 4, 17, 10, 3, 40));
    EXPECT_TRUE(facts.hasGpsPosition);
}

INSTANTIATE_TEST_SUITE_P(
    MediaFacts, HeifLayouts,
    ::testing::Values(HeifCase{"Version0", {0, false, 1, 0, 2}}, HeifCase{"Version1", {1, false, 1, 0, 2}},
                      HeifCase{"Version2", {2, false, 1, 0, 3}}, HeifCase{"BaseOffset", {1, false, 1, 20, 2}},
                      HeifCase{"ThreeExtents", {1, false, 3, 0, 2}}, HeifCase{"InIdat", {1, true, 1, 0, 2}},
                      HeifCase{"InIdatTwoExtents", {2, true, 2, 0, 3}}),
    [](const auto& p) { return p.param.name; });

TEST(MediaFacts, HeifWithoutExifItemHasNoShotTime) {
    Bytes heif = HeifFile(ExifItem(ExifTiff("2020:04:17 10:03:40", false)));
    // Renaming the item's type leaves the file whole but without an EXIF item.
    const std::string text(heif.begin(), heif.end());
    const std::size_t at = text.find("Exif");
    ASSERT_NE(at, std::string::npos);
    heif[at] = 'X';
    EXPECT_FALSE(Facts(heif).shot);
}

TEST(MediaFacts, HeifItemPastTheEndIsDamage) {
    Bytes heif = HeifFile(ExifItem(ExifTiff("2020:04:17 10:03:40", false)));
    heif.resize(heif.size() - 10);
    // The mdat box now reaches past the file, but meta, read first, is whole: the item's place is checked.
    EXPECT_EQ(ErrorOf(heif), "Das EXIF-Element reicht über das Ende der Datei hinaus");
}

TEST(MediaFacts, HeifTiffHeaderOffsetPastTheItem) {
    Bytes item = ExifItem(ExifTiff("2020:04:17 10:03:40", false));
    item[0] = 0x10;
    EXPECT_EQ(ErrorOf(HeifFile(item)), "Das EXIF-Element nennt einen TIFF-Kopf nach seinem Ende");
}

TEST(MediaFacts, HeifBadFieldWidthIsDamage) {
    Bytes heif = HeifFile(ExifItem(ExifTiff("2020:04:17 10:03:40", false)));
    const std::string text(heif.begin(), heif.end());
    const std::size_t at = text.find("iloc");
    ASSERT_NE(at, std::string::npos);
    heif[at + 8] = 0x34;  // offsets of 3 bytes
    EXPECT_EQ(ErrorOf(heif), "Die Box 'iloc' hat die ungültige Feldbreite 3");
}

TEST(MediaFacts, HeifCutInsideMetaIsDamage) {
    Bytes heif = HeifFile(ExifItem(ExifTiff("2020:04:17 10:03:40", false)));
    heif.resize(100);
    EXPECT_EQ(ErrorOf(heif), "Die Box 'meta' bei Byte 24 reicht über das Ende der umgebenden Daten hinaus");
}

// ---- CR3

TEST(MediaFacts, Cr3ReadsCmt2AndCmt4) {
    const Bytes cr3 =
        test::Cr3File(test::ExifDirectoryTiff("2018:02:21 12:08:56"), test::GpsDirectoryTiff(true));
    ASSERT_EQ(DetectMediaKind(cr3), MediaKind::cr3);
    const MediaFacts facts = Facts(cr3);
    EXPECT_EQ(facts.shot, Camera(2018, 2, 21, 12, 8, 56));
    EXPECT_TRUE(facts.hasGpsPosition);
}

TEST(MediaFacts, Cr3GpsDirectoryWithoutPositionIsNone) {
    EXPECT_FALSE(
        Facts(test::Cr3File(test::ExifDirectoryTiff("2018:02:21 12:08:56"), test::GpsDirectoryTiff(false)))
            .hasGpsPosition);
    EXPECT_FALSE(Facts(test::Cr3File(test::ExifDirectoryTiff("2018:02:21 12:08:56"), {})).hasGpsPosition);
}

TEST(MediaFacts, Cr3DamagedCmt2) {
    Bytes cmt2 = test::ExifDirectoryTiff("2018:02:21 12:08:56");
    cmt2[4] = 0xF0;  // IFD0 past the block
    EXPECT_EQ(ErrorOf(test::Cr3File(cmt2, {})),
              "Die EXIF-Daten sind beschädigt: das erste Verzeichnis liegt außerhalb der Daten");
}

// ---- QuickTime and MP4

// 2005-08-11 14:03:54 UTC in seconds since 1904.
constexpr std::uint64_t kMovieSeconds = 3206613834ULL;

TEST(MediaFacts, MovieHeaderVersions) {
    EXPECT_EQ(Facts(test::Movie({test::MovieHeader(0, kMovieSeconds)})).shot, Utc(2005, 8, 11, 14, 3, 54));
    EXPECT_EQ(Facts(test::Movie({test::MovieHeader(1, kMovieSeconds)})).shot, Utc(2005, 8, 11, 14, 3, 54));
    // Past 2040 only the 64-bit field holds the time.
    EXPECT_EQ(Facts(test::Movie({test::MovieHeader(1, 4354992000ULL)})).shot, Utc(2042, 1, 1, 0, 0, 0));
    EXPECT_FALSE(Facts(test::Movie({test::MovieHeader(0, 0)})).shot);
    EXPECT_FALSE(Facts(test::Movie({test::MovieHeader(1, UINT64_MAX)})).shot);
}

TEST(MediaFacts, MovieAtomsWithoutFileType) {
    const Bytes movie =
        Join({Box("wide", {}), Box("mdat", Bytes(8, 0)), Box("moov", test::MovieHeader(0, kMovieSeconds))});
    ASSERT_EQ(DetectMediaKind(movie), MediaKind::video);
    EXPECT_EQ(Facts(movie).shot, Utc(2005, 8, 11, 14, 3, 54));
}

TEST(MediaFacts, MovieLargeMdatBeforeMoov) {
    const Bytes movie = Join({test::FileTypeBox("isom", {}), test::LargeBox("mdat", Bytes(40, 0)),
                              Box("moov", test::MovieHeader(1, kMovieSeconds))});
    EXPECT_EQ(Facts(movie).shot, Utc(2005, 8, 11, 14, 3, 54));
}

TEST(MediaFacts, KeyedCreationDateWins) {
    const Bytes movie =
        test::Movie({test::MovieHeader(0, kMovieSeconds),
                     test::KeyedMeta({{"com.apple.quicktime.make", "Apple"},
                                      {"com.apple.quicktime.creationdate", "2019-05-01T10:00:00+0200"}})});
    const MediaFacts facts = Facts(movie);
    EXPECT_EQ(facts.shot, (ShotTime{EncodeDateTime(2019, 5, 1, 10, 0, 0, 0), ShotTime::Clock::offset, 120}));
    EXPECT_FALSE(facts.hasGpsPosition);
}

TEST(MediaFacts, UnreadableKeyedDateLeavesTheMovieHeader) {
    const Bytes movie = test::Movie({test::MovieHeader(0, kMovieSeconds),
                                     test::KeyedMeta({{"com.apple.quicktime.creationdate", "gestern"}})});
    EXPECT_EQ(Facts(movie).shot, Utc(2005, 8, 11, 14, 3, 54));
}

TEST(MediaFacts, MoviePositionFromKeysOrUserData) {
    EXPECT_TRUE(Facts(test::Movie({test::MovieHeader(0, kMovieSeconds),
                                   test::KeyedMeta({{"com.apple.quicktime.location.ISO6709",
                                                     "+48.8577+002.2950+035.000/"}})}))
                    .hasGpsPosition);
    EXPECT_TRUE(Facts(test::Movie({test::MovieHeader(0, kMovieSeconds),
                                   test::UserDataPosition("+48.8577+002.2950/")}))
                    .hasGpsPosition);
    EXPECT_FALSE(
        Facts(test::Movie({test::MovieHeader(0, kMovieSeconds), test::UserDataPosition("")})).hasGpsPosition);
    EXPECT_FALSE(Facts(test::Movie({test::MovieHeader(0, kMovieSeconds),
                                    test::KeyedMeta({{"com.apple.quicktime.location.ISO6709", ""}})}))
                     .hasGpsPosition);
}

TEST(MediaFacts, IsoMetaBoxInAMovie) {
    // MP4 writers make meta a full box: version and flags before its children.
    const Bytes quickTimeMeta =
        test::KeyedMeta({{"com.apple.quicktime.creationdate", "2019-05-01T10:00:00Z"}});
    const Bytes isoMeta =
        Box("meta", Join({{0, 0, 0, 0}, Bytes(quickTimeMeta.begin() + 8, quickTimeMeta.end())}));
    EXPECT_EQ(Facts(test::Movie({isoMeta})).shot, Utc(2019, 5, 1, 10, 0, 0));
}

TEST(MediaFacts, MovieHeaderCut) {
    Bytes mvhd = FullBox("mvhd", 1, {0, 0, 0, 0});
    EXPECT_EQ(ErrorOf(test::Movie({mvhd})), "Die Box 'mvhd' ist kürzer als ihr Inhalt");
}

TEST(MediaFacts, KeysCountPastTheBox) {
    Bytes meta = test::KeyedMeta({{"com.apple.quicktime.creationdate", "2019-05-01T10:00:00Z"}});
    const std::string text(meta.begin(), meta.end());
    const std::size_t at = text.find("keys");
    meta[at + 11] = 9;  // nine keys where one is
    EXPECT_EQ(ErrorOf(test::Movie({meta})), "Die Box 'keys' ist kürzer als ihr Inhalt");
}

TEST(MediaFacts, MovieWithoutMoovHasNoShotTime) {
    EXPECT_FALSE(Facts(Join({test::FileTypeBox("mp42", {}), Box("mdat", Bytes(8, 0))})).shot);
}

struct QuickTimeDateCase {
    std::string text;
    std::optional<ShotTime> want;
};

TEST(MediaFacts, QuickTimeDateTexts) {
    const DateTimeValue t = EncodeDateTime(2019, 5, 1, 10, 0, 0, 0);
    const std::vector<QuickTimeDateCase> cases{
        {"2019-05-01T10:00:00+0200", ShotTime{t, ShotTime::Clock::offset, 120}},
        {"2019-05-01T10:00:00+02:00", ShotTime{t, ShotTime::Clock::offset, 120}},
        {"2019-05-01T10:00:00-0530", ShotTime{t, ShotTime::Clock::offset, -330}},
        {"2019-05-01T10:00:00+05", ShotTime{t, ShotTime::Clock::offset, 300}},
        {"2019-05-01T10:00:00.123+0000", ShotTime{t, ShotTime::Clock::offset, 0}},
        {"2019-05-01T10:00:00Z", ShotTime{t, ShotTime::Clock::utc, 0}},
        {"2019-05-01T10:00:00", ShotTime{t, ShotTime::Clock::camera, 0}},
        {"2019-05-01T10:00:00+2400", std::nullopt},
        {"2019-05-01T10:00:00+02:0", std::nullopt},
        {"2019-05-01T10:00:00.+0200", std::nullopt},
        {"2019-05-01 10:00:00+0200", std::nullopt},
        {"2019-02-30T10:00:00Z", std::nullopt},
        {"2019-05-01T10:00", std::nullopt},
        {"", std::nullopt}};
    for (const QuickTimeDateCase& c : cases) EXPECT_EQ(ParseQuickTimeDate(c.text), c.want) << c.text;
}

// ---- Sources

TEST(ByteSource, ShortReadsThrow) {
    const Bytes bytes{1, 2, 3};
    const SpanSource source(bytes);
    std::array<std::uint8_t, 2> out{};
    source.ReadAt(1, out);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{2, 3}));
    EXPECT_THROW(source.ReadAt(2, out), MediaError);
    EXPECT_THROW(source.ReadAt(UINT64_MAX, out), MediaError);
}

TEST(ByteSource, DescriptorReadsByOffset) {
    const test::TempDir dir;
    const Bytes movie = test::Movie({test::MovieHeader(0, kMovieSeconds)});
    test::WriteFileBytes(dir / "clip.mov", movie);
    const FileDescriptor fd(::open((dir / "clip.mov").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const FdSource source(fd.get());
    EXPECT_EQ(source.Size(), movie.size());
    EXPECT_EQ(ReadMediaFacts(MediaKind::video, source).shot, Utc(2005, 8, 11, 14, 3, 54));
    std::array<std::uint8_t, 4> out{};
    EXPECT_THROW(source.ReadAt(movie.size() - 2, out), MediaError);
}

}  // namespace
}  // namespace zeloro
