// tests/metadata/TiffReaderTest.cpp: TIFF header, directory entries and chain, and the container's load
// path over byte fixtures built in code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "metadata/ExifData.h"
#include "metadata/TiffReader.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::JpegBuilder;
using test::TiffBuilder;
using test::TiffEntry;

Bytes JpegWith(const Bytes& tiff) {
    JpegBuilder b;
    b.Soi().App1Exif(tiff).Sof0().Sos({0x11, 0x22}).Eoi();
    return b.bytes();
}

TTiffInfo ReadInfo(const Bytes& /*tiff*/, ReadOnlyMemoryStream& s) {
    TTiffInfo info;
    LoadTiffInfo(s, info);
    return info;
}

class ByteOrders : public ::testing::TestWithParam<bool> {};

TEST_P(ByteOrders, ReadsEntriesAndValuesInTheFilesOrder) {
    TiffBuilder t(GetParam());
    const int ifd0 = t.AddDirectory(
        {t.Short(274, {6}), t.Text(271, "Maker"), t.Rationals(282, {{72, 1}}), t.Long(300, {0x01020304, 5})});
    (void)ifd0;
    const Bytes tiff = t.Build();
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(tiff));
    EXPECT_EQ(exif.Endianness(), GetParam() ? BigEndian : SmallEndian);
    const TExifSection& g = exif.Sections(esGeneral);
    EXPECT_EQ(g.GetWordValue(274, 0, 0), 6);
    EXPECT_EQ(exif.CameraMake(), "Maker");
    EXPECT_EQ(g.GetFractionValue(282, 0), TTiffLongWordFraction(72, 1));
    EXPECT_EQ(g.GetLongWordValue(300, 0, 0), 0x01020304U);
    EXPECT_EQ(g.GetLongWordValue(300, 1, 0), 5U);
    EXPECT_TRUE(g.LoadErrors().Empty());
    EXPECT_FALSE(exif.Modified());
    // Offsets are relative to the TIFF header: IFD0's first entry lies right after its count.
    EXPECT_EQ(g.FirstTagHeaderOffset(), 10);
    EXPECT_EQ(g.Find(274)->OriginalDataOffset(), 10 + 8);  // inline: the entry's value field
}

INSTANTIATE_TEST_SUITE_P(TiffReader, ByteOrders, ::testing::Values(false, true), [](const auto& p) {
    return p.param ? std::string("Motorola") : std::string("Intel");
});

TEST(TiffReader, SwappedFortyTwoWinsOverTheMark) {
    // "MM" then 2A 00: little-endian data behind a big-endian mark, and the other way round.
    for (const bool big : {false, true}) {
        TiffBuilder t(!big);            // values written in the opposite order...
        t.Mark(big ? 0x4D4D : 0x4949);  // ...of the mark
        t.AddDirectory({t.Short(274, {3})});
        const Bytes tiff = t.Build();
        ReadOnlyMemoryStream s{std::span<const std::uint8_t>(tiff)};
        const TTiffInfo info = ReadInfo(tiff, s);
        EXPECT_EQ(info.Endianness, big ? SmallEndian : BigEndian);
        ASSERT_EQ(info.Directories.size(), 1U);
        EXPECT_EQ(info.Directories[0].Tags[0].ID, 274);
    }
}

TEST(TiffReader, BadHeadersRaiseMalformedTiffData) {
    const std::vector<Bytes> headers{
        {'I', 'M', 42, 0, 8, 0, 0, 0},  // unknown mark
        {'I', 'I', 43, 0, 8, 0, 0, 0},  // not 42 in either order
        {'I', 'I', 42},                 // cut short
    };
    for (const Bytes& h : headers) {
        ReadOnlyMemoryStream s{std::span<const std::uint8_t>(h)};
        TTiffInfo info;
        try {
            LoadTiffInfo(s, info);
            ADD_FAILURE();
        } catch (const EInvalidTiffData& e) {
            EXPECT_STREQ(e.what(), "Malformed TIFF data");
        }
    }
}

TEST(TiffReader, RawMagicNumbersOnlyWhenAsked) {
    // RW2 0x55, ORF "IIRO", "IIRS", "MMOR": an EXIF block with one of them stays malformed.
    struct Variant {
        bool big;
        std::uint16_t magic;
    };
    for (const Variant v :
         {Variant{false, 0x55}, Variant{false, 0x4F52}, Variant{false, 0x5352}, Variant{true, 0x4F52}}) {
        TiffBuilder t(v.big);
        t.Magic(v.magic);
        t.AddDirectory({t.Short(274, {3})});
        const Bytes tiff = t.Build();
        ReadOnlyMemoryStream s{std::span<const std::uint8_t>(tiff)};
        TTiffInfo info;
        EXPECT_THROW(LoadTiffInfo(s, info), EInvalidTiffData) << v.magic;
        s.SetPosition(0);
        LoadTiffInfo(s, info, TiffMagic::rawVariants);
        EXPECT_EQ(info.Endianness, v.big ? BigEndian : SmallEndian);
        ASSERT_EQ(info.Directories.size(), 1U);
        EXPECT_EQ(info.Directories[0].Tags[0].ID, 274);
    }
    // Any other number stays damage for RAW files too.
    TiffBuilder t;
    t.Magic(0x56);
    t.AddDirectory({t.Short(274, {3})});
    const Bytes tiff = t.Build();
    ReadOnlyMemoryStream s{std::span<const std::uint8_t>(tiff)};
    TTiffInfo info;
    EXPECT_THROW(LoadTiffInfo(s, info, TiffMagic::rawVariants), EInvalidTiffData);
}

TEST(TiffReader, ZeroFirstOffsetLoadsNothing) {
    TiffBuilder t;
    t.FirstOffset(0);
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(t.Build()));
    EXPECT_TRUE(exif.Empty());
    EXPECT_TRUE(exif.MetadataInSource().Contains(mkExif));
}

TEST(TiffReader, EntryCountIsCappedToTheBlock) {
    TiffBuilder t;
    t.AddDirectory({t.Short(1, {1}), t.Short(2, {2}), t.Short(3, {3})});
    Bytes tiff = t.Build();
    tiff[8] = 200;                // count: 200 entries declared
    tiff.resize(8 + 2 + 3 * 12);  // room for 3 entries after the count, and nothing else
    ReadOnlyMemoryStream s{std::span<const std::uint8_t>(tiff)};
    const TTiffInfo info = ReadInfo(tiff, s);
    ASSERT_EQ(info.Directories.size(), 1U);
    EXPECT_EQ(info.Directories[0].Tags.size(), 3U);
    EXPECT_TRUE(info.Directories[0].LoadErrors.Contains(leBadTagCount));
}

TEST(TiffReader, BadEntriesAreKeptOnceAndEndTheDirectoryTwice) {
    TiffBuilder t;
    t.AddDirectory({TiffEntry{10, 14, 1, {1, 0, 0, 0}, {}, {}}, t.Short(20, {2}),
                    TiffEntry{30, 0, 1, {}, 0U, {}}, TiffEntry{40, 0, 1, {}, 0U, {}}, t.Short(50, {5})});
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(t.Build()));
    const TExifSection& g = exif.Sections(esGeneral);
    ASSERT_EQ(g.Count(), 3);  // 10 (bad, kept), 20, 30 (bad, kept); 40 ends the directory
    const TExifTag* bad = g.Find(10);
    ASSERT_NE(bad, nullptr);
    EXPECT_FALSE(bad->WellFormed());
    EXPECT_EQ(bad->DataType(), tdUndefined);
    EXPECT_EQ(bad->ElementCount(), 0);
    EXPECT_EQ(g.GetWordValue(20, 0, 0), 2);
    EXPECT_EQ(g.Find(50), nullptr);
    EXPECT_TRUE(g.LoadErrors().Contains(leBadTagHeader));
    EXPECT_TRUE(g.LoadErrors().Contains(leBadTagCount));
}

TEST(TiffReader, DataOutsideTheBlockMakesTheTagEmpty) {
    TiffBuilder t;
    // Good entries between the bad ones: two bad entries in a row would end the directory.
    t.AddDirectory(
        {TiffEntry{270, 2, 100, {}, 0x7FFFFFF0U, {}},  // offset past the end
         t.Text(273, "fine text"),
         TiffEntry{271, 4, 0x40000001U, {}, 8U, {}},  // count x 4 above 2^32, never a small inline size
         t.Short(274, {1}), TiffEntry{272, 2, 8, {}, 0xFFFFFFF8U, {}}});  // negative offset
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(t.Build()));
    const TExifSection& g = exif.Sections(esGeneral);
    for (const TTiffTagID id : std::vector<TTiffTagID>{270, 271, 272}) {
        const TExifTag* tag = g.Find(id);
        ASSERT_NE(tag, nullptr) << id;
        EXPECT_FALSE(tag->WellFormed()) << id;
        EXPECT_EQ(tag->ElementCount(), 0) << id;
    }
    EXPECT_EQ(g.GetStringValue(273), "fine text");
    EXPECT_TRUE(g.LoadErrors().Contains(leBadTagHeader));
}

TEST(TiffReader, PointerTagsOfTheWrongShapeAreNotFollowed) {
    struct Case {
        std::string name;
        std::uint16_t type;
        std::uint32_t count;
        bool followed;
    };
    for (const Case& c : std::vector<Case>{{"Long", 4, 1, true},
                                           {"SLong", 9, 1, true},
                                           {"Ifd", 13, 1, true},
                                           {"Short", 3, 1, false},
                                           {"TwoLongs", 4, 2, false}}) {
        TiffBuilder t;
        const int exifIfd = 1;
        const int interop = 2;
        TiffEntry ptr = t.Pointer(ttExifOffset, exifIfd, c.type);
        ptr.count = c.count;
        if (c.type == 3) ptr = TiffEntry{ttExifOffset, 3, 1, {}, 0U, {}};
        t.AddDirectory({ptr});
        t.AddDirectory({t.Text(36867, "2010:07:15 14:03:27"), t.Pointer(ttInteropOffset, interop)});
        t.AddDirectory({t.Text(1, "R98")});
        const Bytes tiff = t.Build();
        TExifData exif;
        if (c.type == 3) {
            // A SHORT pointer at the right offset would still be refused.
            Bytes patched = tiff;
            patched[8 + 2 + 8] = static_cast<std::uint8_t>(t.DirectoryOffset(exifIfd));
            exif.LoadFromJPEG(JpegWith(patched));
        } else {
            exif.LoadFromJPEG(JpegWith(tiff));
        }
        EXPECT_EQ(exif.Sections(esDetails).Count() > 0, c.followed) << c.name;
        EXPECT_EQ(exif.InteropTypeName() == "R98", c.followed) << c.name;
    }
}

TEST(TiffReader, ChainLoopEndsAtAVisitedDirectory) {
    TiffBuilder t;
    const int ifd0 = t.AddDirectory({t.Short(1, {1})});
    const int ifd1 = t.AddDirectory({t.Short(2, {2})});
    t.Chain(ifd0, ifd1).Chain(ifd1, ifd0);
    const Bytes tiff = t.Build();
    ReadOnlyMemoryStream s{std::span<const std::uint8_t>(tiff)};
    const TTiffInfo info = ReadInfo(tiff, s);
    EXPECT_EQ(info.Directories.size(), 2U);
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(tiff));
    EXPECT_EQ(exif.Sections(esThumbnail).GetWordValue(2, 0, 0), 2);
}

TEST(TiffReader, NextOffsetBeyondTheBlockEndsTheChain) {
    TiffBuilder t;
    const int ifd0 = t.AddDirectory({t.Short(1, {1})});
    t.ChainRaw(ifd0, 0x00100000);
    const Bytes tiff = t.Build();
    ReadOnlyMemoryStream s{std::span<const std::uint8_t>(tiff)};
    EXPECT_EQ(ReadInfo(tiff, s).Directories.size(), 1U);
}

TEST(TiffReader, DirectoryOutsideTheBlockIsBadOffset) {
    TiffBuilder t;
    t.AddDirectory({t.Long(ttExifOffset, {0x00FFFFFF}), t.Long(ttGPSOffset, {0xFFFFFFF0U})});
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(t.Build()));
    EXPECT_TRUE(exif.Sections(esDetails).LoadErrors().Contains(leBadOffset));
    EXPECT_TRUE(exif.Sections(esGPS).LoadErrors().Contains(leBadOffset));
    EXPECT_EQ(exif.Sections(esDetails).Count(), 0);
}

TEST(TiffReader, DuplicateIdsFindTheFirst) {
    TiffBuilder t;
    t.AddDirectory({t.Short(5, {1}), t.Short(5, {2}), t.Short(3, {0})});
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(t.Build()));
    const TExifSection& g = exif.Sections(esGeneral);
    ASSERT_EQ(g.Count(), 3);
    EXPECT_EQ(g[0]->ID(), 3);  // sorted by ID
    EXPECT_EQ(g.GetWordValue(5, 0, 0), 1);
}

TEST(ExifLoad, OffsetBaseIsTheTiffHeadersFilePosition) {
    TiffBuilder t;
    t.AddDirectory({t.Short(274, {1})});
    JpegBuilder b;
    b.Soi().Segment(0xE0, Bytes(20, 0x4A));  // APP0 of 24 bytes: the APP1 payload starts at 2 + 24 + 4 = 30
    b.App1Exif(t.Build()).Sof0().Sos({1}).Eoi();
    TExifData exif;
    exif.LoadFromJPEG(b.bytes());
    EXPECT_EQ(exif.OffsetBase(), 36);
}

TEST(ExifLoad, FirstExifSegmentWinsAndXmpIsRecordedWherever) {
    TiffBuilder first;
    first.AddDirectory({first.Text(271, "First")});
    TiffBuilder second;
    second.AddDirectory({second.Text(271, "Second")});
    Bytes xmp(test::Raw(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29)));
    const Bytes packet = test::Raw("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    xmp.insert(xmp.end(), packet.begin(), packet.end());
    JpegBuilder b;
    b.Soi().Segment(0xE1, xmp).App1Exif(first.Build()).App1Exif(second.Build()).Sof0().Sos({1}).Eoi();
    TExifData exif;
    exif.LoadFromJPEG(b.bytes());
    EXPECT_EQ(exif.CameraMake(), "First");
    EXPECT_TRUE(exif.MetadataInSource().Contains(mkXMP));
    EXPECT_TRUE(exif.MetadataInSource().Contains(mkExif));
    EXPECT_EQ(exif.XMPSegmentPosition(), 2);
    EXPECT_EQ(exif.XMPPacketSizeInSource(), static_cast<std::int64_t>(xmp.size()));
    ASSERT_TRUE(exif.XMPSegmentToLoad());
}

TEST(ExifLoad, UnparsableXmpSegmentStaysPendingForTheSave) {
    Bytes xmp(test::Raw(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29)));
    const Bytes garbage = test::Raw("<x:xmpmeta><unclosed");
    xmp.insert(xmp.end(), garbage.begin(), garbage.end());
    JpegBuilder b;
    b.Soi().Segment(0xE1, xmp).Sof0().Sos({1}).Eoi();
    TExifData exif;
    exif.LoadFromJPEG(b.bytes());
    int loadErrors = 0;
    (void)exif.XMPPacket();  // first access parses, and fails
    exif.XMPPacket().SetOnLoadError([&](TXMPPacket&, std::span<const std::uint8_t>) { ++loadErrors; });
    EXPECT_TRUE(exif.XMPPacket().Empty());
    EXPECT_EQ(loadErrors, 0);  // not parsed twice
    // Kept as read, so the rewrite writes it back instead of dropping it.
    ASSERT_TRUE(exif.XMPSegmentToLoad());
    EXPECT_EQ(exif.XMPSegmentToLoad()->Payload().size(), xmp.size());
    exif.Clear();
    EXPECT_FALSE(exif.XMPSegmentToLoad());
}

TEST(ExifLoad, FailuresLeaveAClearedContainer) {
    TExifData exif;
    exif.SetCameraMake("Before");
    EXPECT_THROW(exif.LoadFromJPEG(Bytes{0x89, 'P', 'N', 'G'}), EInvalidJPEGHeader);
    EXPECT_TRUE(exif.Empty());

    exif.SetCameraMake("Before");
    JpegBuilder bad;
    bad.Soi().Segment(0xE1, test::ExifPayload({'I', 'I', 7, 0})).Eoi();
    EXPECT_THROW(exif.LoadFromJPEG(bad.bytes()), EInvalidTiffData);
    EXPECT_TRUE(exif.Empty());

    MemoryStream noHeader(Bytes{'E', 'x', 'i', 'x', 0, 0});
    try {
        exif.LoadFromStream(noHeader);
        FAIL();
    } catch (const EInvalidExifData& e) {
        EXPECT_STREQ(e.what(), "No Exif header found");
    }

    JpegBuilder none;
    none.Soi().Segment(0xE0, {1, 2, 3}).Sof0().Sos({1}).Eoi();
    exif.LoadFromJPEG(none.bytes());
    EXPECT_TRUE(exif.Empty());
    EXPECT_TRUE(exif.MetadataInSource().Empty());
}

TEST(ExifLoad, LoadRaisesNoNotification) {
    TiffBuilder t;
    t.AddDirectory({t.Text(271, "Make")});
    TExifData exif;
    int notifications = 0;
    exif.SetOnChange([&](TCustomExifData&) { ++notifications; });
    exif.LoadFromJPEG(JpegWith(t.Build()));
    EXPECT_EQ(notifications, 0);
    EXPECT_FALSE(exif.Modified());
}

TEST(ExifLoad, ThumbnailLengthComesFromTheEoiScan) {
    const Bytes thumb = test::TinyJpeg(16, 8);
    TiffBuilder t;
    const int ifd0 = t.AddDirectory({t.Short(274, {1})});
    Bytes withTrailer = thumb;
    withTrailer.insert(withTrailer.end(), {0xAB, 0xCD, 0xEF});  // bytes after the thumbnail's EOI
    t.Append(withTrailer);
    // IFD1's offset tag needs the appended offset, which is known only after a first build.
    const int ifd1 = t.AddDirectory({t.Long(ttThumbnailOffset, {0}), t.Long(ttThumbnailSize, {99999})});
    t.Chain(ifd0, ifd1);
    (void)t.Build();
    const std::uint32_t at = t.AppendedOffset();
    TiffBuilder t2;
    const int a = t2.AddDirectory({t2.Short(274, {1})});
    const int c = t2.AddDirectory({t2.Long(ttThumbnailOffset, {at}), t2.Long(ttThumbnailSize, {99999})});
    t2.Chain(a, c).Append(withTrailer);
    const Bytes tiff = t2.Build();
    ASSERT_EQ(t2.AppendedOffset(), at);
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(tiff));
    ASSERT_TRUE(exif.HasThumbnail());
    EXPECT_TRUE(test::BytesEqual(thumb, Bytes(exif.ThumbnailOrNil()->StoredBytes().begin(),
                                              exif.ThumbnailOrNil()->StoredBytes().end())));
    EXPECT_EQ(exif.ThumbnailOrNil()->Width(), 16U);
    EXPECT_FALSE(exif.Modified());
    EXPECT_FALSE(exif.Empty());
}

TEST(ExifLoad, ThumbnailOffsetNotAtAJpegIsIgnored) {
    TiffBuilder t;
    const int ifd0 = t.AddDirectory({t.Short(274, {1})});
    const int ifd1 = t.AddDirectory({t.Long(ttThumbnailOffset, {8})});  // points at IFD0
    t.Chain(ifd0, ifd1);
    TExifData exif;
    exif.LoadFromJPEG(JpegWith(t.Build()));
    EXPECT_FALSE(exif.HasThumbnail());
    std::int64_t offset = 0;
    EXPECT_TRUE(exif.FindThumbnail(nullptr, offset));
    EXPECT_EQ(offset, 8);
}

TEST(ExifLoad, HeadOfAFileOnly) {
    test::TempDir dir;
    TiffBuilder t;
    t.AddDirectory({t.Text(271, "Head")});
    JpegBuilder b;
    b.Soi().App1Exif(t.Build()).Sof0().Sos(Bytes(4 * 1024 * 1024, 0x55)).Eoi();
    test::WriteFileBytes(dir / "big.jpg", b.bytes());
    HeadFileStream s((dir / "big.jpg").string());
    TExifData exif;
    exif.LoadFromJPEG(s);
    EXPECT_EQ(exif.CameraMake(), "Head");
    EXPECT_LE(s.BytesRead(), 64 * 1024);
    TExifData byPath;
    byPath.LoadFromJPEG((dir / "big.jpg").string());
    EXPECT_EQ(byPath.CameraMake(), "Head");
    EXPECT_THROW(byPath.LoadFromJPEG((dir / "missing.jpg").string()), FileError);
}

}  // namespace
}  // namespace zeloro
