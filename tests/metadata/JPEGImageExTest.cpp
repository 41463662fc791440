// The JPEG image object: load, change flag, the segment sequence a save writes, the safe file write,
// and the segment and metadata removal helpers.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>

#include "filesafe/FolderReplace.h"
#include "filesafe/SafeFileWrite.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/WriteFixtures.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::BytesEqual;
using test::Cat;
using test::ExifHeader;
using test::Segment;
using test::Text;
using test::TiffHeaderLE;

const Bytes kXMPHeader = Text(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));
const Bytes kPhotoshop3 = Text(std::string_view("Photoshop 3.0\0", 14));

// A little-endian EXIF block: IFD0 with Make "Cam" and the EXIF pointer; the EXIF sub-directory holds
// ExifImageWidth 1 (SHORT).
Bytes ExifBlock() {
    return Cat({ExifHeader(),
                TiffHeaderLE(8),
                {0x02, 0x00},
                {0x0F, 0x01, 0x02, 0x00, 0x04, 0, 0, 0, 'C', 'a', 'm', 0},
                {0x69, 0x87, 0x04, 0x00, 0x01, 0, 0, 0, 38, 0, 0, 0},
                {0, 0, 0, 0},
                {0x01, 0x00},
                {0x02, 0xA0, 0x03, 0x00, 0x01, 0, 0, 0, 0x01, 0x00, 0, 0},
                {0, 0, 0, 0}});
}

Bytes XmpPacketText() {
    return Text(
        "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:format>image/jpeg</dc:format></rdf:Description>"
        "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?> ");
}

struct FoundSegment {
    std::uint8_t marker;
    Bytes payload;
};

// The segments in front of the image data, in file order.
std::vector<FoundSegment> SegmentsOf(const Bytes& jpeg) {
    std::vector<FoundSegment> found;
    auto walk = ParseJPEGSegments(std::span<const std::uint8_t>(jpeg), TJPEGMarkers::Range(0xC0, 0xFE));
    while (walk->MoveNext()) {
        const auto payload = walk->Current()->Payload();
        found.push_back({walk->Current()->MarkerNum(), Bytes(payload.begin(), payload.end())});
        if (walk->Current()->MarkerNum() == 0xDA) {
            break;
        }
    }
    return found;
}

std::vector<std::uint8_t> MarkersOf(const Bytes& jpeg) {
    std::vector<std::uint8_t> markers;
    for (const FoundSegment& s : SegmentsOf(jpeg)) {
        markers.push_back(s.marker);
    }
    return markers;
}

// The metadata markers given, then the picture's own segments (tables, frame header, SOS).
std::vector<std::uint8_t> WithPicture(std::vector<std::uint8_t> metadata) {
    const auto picture = MarkersOf(test::Photo({}));
    metadata.insert(metadata.end(), picture.begin(), picture.end());
    return metadata;
}

bool StartsWith(const Bytes& payload, const Bytes& prefix) {
    return payload.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), payload.begin());
}

Bytes SaveImage(TJPEGImageEx& image) {
    std::vector<std::uint8_t> out;
    image.SaveToBytes(out);
    return out;
}

void SetGps(TJPEGImageEx& image) {
    image.ExifData().GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                                          TTiffLongWordFraction(7716, 625), ltNorth);
    image.ExifData().GPSLongitude().Assign(TTiffLongWordFraction(0, 1), TTiffLongWordFraction(1, 1),
                                           TTiffLongWordFraction(48, 1), lnWest);
    image.ExifData().SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
}

TEST(JPEGImageEx, UnchangedPhotoIsWrittenAsRead) {
    const Bytes photo =
        Cat({test::Photo({Segment(0xE1, ExifBlock()), Segment(0xE1, Cat({kXMPHeader, XmpPacketText()})),
                          Segment(0xED, kPhotoshop3)}),
             Text("after the end")});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    EXPECT_FALSE(image.ChangedSinceLastLoad());
    EXPECT_TRUE(BytesEqual(photo, SaveImage(image)));
}

TEST(JPEGImageEx, DamagedHeaderIsACodecError) {
    TJPEGImageEx image;
    try {
        image.LoadFromBytes(Text("not a jpeg at all"));
        FAIL() << "loaded";
    } catch (const JPEGError& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG-Fehler #" + std::to_string(e.code()));
        EXPECT_GT(e.code(), 0);
    }
    EXPECT_TRUE(image.Empty());
}

TEST(JPEGImageEx, LoadReadsSizeAndMetadata) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock())}));
    EXPECT_EQ(image.Width(), 16U);
    EXPECT_EQ(image.Height(), 8U);
    EXPECT_EQ(image.ExifData().CameraMake(), "Cam");
}

TEST(JPEGImageEx, ChangeFlagFollowsEditsNotSaves) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock())}));
    SetGps(image);
    EXPECT_TRUE(image.ChangedSinceLastLoad());
    SaveImage(image);
    EXPECT_TRUE(image.ChangedSinceLastLoad());
    image.LoadFromBytes(SaveImage(image));
    EXPECT_FALSE(image.ChangedSinceLastLoad());
}

TEST(JPEGImageEx, App0MovesInFrontOfTheNewExifSegment) {
    const Bytes app0 = Segment(0xE0, Text("JFIF"));
    const Bytes app2 = Segment(0xE2, Text("ICC_PROFILE"));
    const Bytes photo = test::Photo({Segment(0xE1, ExifBlock()), app0, app2});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    const Bytes saved = SaveImage(image);
    const auto segments = SegmentsOf(saved);
    ASSERT_GE(segments.size(), 4U);
    EXPECT_EQ(segments[0].marker, 0xE0);
    EXPECT_EQ(segments[1].marker, 0xE1);
    EXPECT_TRUE(StartsWith(segments[1].payload, ExifHeader()));
    EXPECT_EQ(segments[2].marker, 0xE2);
    EXPECT_EQ(segments[3].marker, 0xDB);  // the picture's own segments follow unchanged
    // Everything after the metadata is the same bytes.
    const Bytes body = test::PictureBody(test::Photo({}));
    EXPECT_TRUE(BytesEqual(body, Bytes(saved.end() - static_cast<std::ptrdiff_t>(body.size()), saved.end())));
    EXPECT_TRUE(
        BytesEqual(Cat({{0xFF, 0xD8}, app0}),
                   Bytes(saved.begin(), saved.begin() + 2 + static_cast<std::ptrdiff_t>(app0.size()))));
}

TEST(JPEGImageEx, XmpExtensionStaysAfterTheNewXmpSegment) {
    const Bytes extension =
        Segment(0xE1, Text(std::string_view("http://ns.adobe.com/xmp/extension/\0abc", 38)));
    const Bytes photo = test::Photo({Segment(0xE0, Text("JFIF")), Segment(0xE1, ExifBlock()),
                                     Segment(0xE1, Cat({kXMPHeader, XmpPacketText()})), extension});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    const auto segments = SegmentsOf(SaveImage(image));
    ASSERT_GE(segments.size(), 4U);
    EXPECT_EQ(segments[0].marker, 0xE0);
    EXPECT_TRUE(StartsWith(segments[1].payload, ExifHeader()));
    // The packet had no GPS property, so it comes back exactly as read.
    EXPECT_TRUE(BytesEqual(Cat({kXMPHeader, XmpPacketText()}), segments[2].payload));
    EXPECT_TRUE(BytesEqual(Bytes(extension.begin() + 4, extension.end()), segments[3].payload));
}

TEST(JPEGImageEx, SecondExifSegmentStaysWhereItWas) {
    const Bytes second = Segment(0xE1, Cat({ExifHeader(), Text("second")}));
    const Bytes app2 = Segment(0xE2, Text("x"));
    const Bytes photo = test::Photo({Segment(0xE1, ExifBlock()), app2, second});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    const auto segments = SegmentsOf(SaveImage(image));
    ASSERT_GE(segments.size(), 3U);
    EXPECT_TRUE(StartsWith(segments[0].payload, ExifHeader()));
    EXPECT_NE(segments[0].payload, ExifBlock());
    EXPECT_EQ(segments[1].marker, 0xE2);
    EXPECT_TRUE(BytesEqual(Bytes(second.begin() + 4, second.end()), segments[2].payload));
}

TEST(JPEGImageEx, PhotoWithoutExifGetsOneAfterSoiAndApp0) {
    const Bytes photo = test::Photo({Segment(0xE0, Text("JFIF")), Segment(0xE2, Text("x"))});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    EXPECT_EQ(MarkersOf(SaveImage(image)), WithPicture({0xE0, 0xE1, 0xE2}));
}

TEST(JPEGImageEx, FillBytesGoWithTheSegmentTheyPrecede) {
    // Fill bytes in front of the old EXIF segment and stray bytes behind it: the codec skips the stray
    // bytes with a warning. Left in place, the fill bytes would make them a false marker.
    const Bytes app0 = Segment(0xE0, Text("JFIF"));
    const Bytes body = test::PictureBody(test::Photo({}));
    const Bytes photo =
        Cat({{0xFF, 0xD8}, app0, {0xFF, 0xFF, 0xFF}, Segment(0xE1, ExifBlock()), Text("junk"), body});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    const Bytes saved = SaveImage(image);
    TJPEGImageEx reloaded;
    reloaded.LoadFromBytes(saved);
    EXPECT_EQ(reloaded.ExifData().GPSLatitude().AsString(), "51,30,7716/625N");
    const auto exifAt = static_cast<std::ptrdiff_t>(2 + app0.size());
    const std::size_t exifSize =
        (static_cast<std::size_t>(saved[static_cast<std::size_t>(exifAt) + 2]) << 8U) +
        saved[static_cast<std::size_t>(exifAt) + 3] + 2;
    const Bytes rest(saved.begin() + exifAt + static_cast<std::ptrdiff_t>(exifSize), saved.end());
    EXPECT_TRUE(BytesEqual(Cat({Text("junk"), body}), rest));
}

TEST(JPEGImageEx, SavingTwiceGivesTheSameBytes) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE0, Text("JFIF")), Segment(0xE1, ExifBlock())}));
    SetGps(image);
    EXPECT_TRUE(BytesEqual(SaveImage(image), SaveImage(image)));
}

TEST(JPEGImageEx, RewriteOfTheHeadAloneEqualsTheStepOverTheWholeStream) {
    // The save runs the EXIF step over the segments in front of the image data only and appends the
    // rest as it lies; the step over the whole stream must give the very same file.
    const Bytes photo = Cat({test::Photo({Segment(0xE1, ExifBlock()), Segment(0xE0, Text("JFIF")),
                                          Segment(0xE1, Cat({kXMPHeader, XmpPacketText()}))}),
                             Text("trailer")});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    TExifData exif;
    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
    exif.GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                              TTiffLongWordFraction(7716, 625), ltNorth);
    exif.GPSLongitude().Assign(TTiffLongWordFraction(0, 1), TTiffLongWordFraction(1, 1),
                               TTiffLongWordFraction(48, 1), lnWest);
    exif.SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
    ReadOnlyMemoryStream in(photo);
    MemoryStream out;
    WriteExifSegments(exif, in, out, PictureData::asRead);
    EXPECT_TRUE(BytesEqual(Bytes(out.Bytes().begin(), out.Bytes().end()), SaveImage(image)));
}

TEST(JPEGImageEx, BytesAfterTheEndOfImageAreCarriedOver) {
    const Bytes photo = Cat({test::Photo({Segment(0xE1, ExifBlock())}), Text("TRAILER")});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    const Bytes saved = SaveImage(image);
    EXPECT_TRUE(BytesEqual(Text("TRAILER"), Bytes(saved.end() - 7, saved.end())));
}

// An AFCP trailer as it lies at file offset `at`: header (version 1, two entries), the directory of tag,
// size and absolute offset, the entries' data, and the footer that leads back to the header.
Bytes AfcpTrailer(std::uint32_t at) {
    const Bytes header = Cat({Text("AXS!"), {0x00, 0x01}, {0x00, 0x02}, {0, 0, 0, 0}});
    // The data follows the 12-byte header and the two 12-byte entries: at + 36.
    const Bytes directory = Cat({Text("IPTC"), test::BE32(5), test::BE32(at + 36),  //
                                 Text("%SCC"), test::BE32(3), test::BE32(at + 41)});
    const Bytes data = Text("iptc!scc");
    const Bytes footer = Cat({Text("AXS!"), test::BE32(at), {0, 0, 0, 0}});
    return Cat({header, directory, data, footer});
}

std::uint32_t SizeOf(const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); }

// The photo tagged as a run tags it.
Bytes Tagged(const Bytes& photo) {
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    SetGps(image);
    return SaveImage(image);
}

TEST(JPEGImageEx, AfcpTrailerMovesWithItsOffsets) {
    const Bytes picture = test::Photo({Segment(0xE1, ExifBlock())});
    const Bytes photo = Cat({picture, AfcpTrailer(SizeOf(picture))});
    const Bytes head = Tagged(picture);
    ASSERT_NE(head.size(), picture.size());  // the trailer does move
    const Bytes saved = Tagged(photo);
    EXPECT_TRUE(BytesEqual(Cat({head, AfcpTrailer(SizeOf(head))}), saved));
    // The file a run writes comes from the same pieces.
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    test::WriteFileBytes(path, photo);
    TJPEGImageEx image;
    image.LoadFromFile(path.string());
    SetGps(image);
    image.SaveOver(ReadFileForReplacing(path.string(), false));
    EXPECT_TRUE(BytesEqual(saved, test::ReadFileBytes(path)));
    // A second save moves nothing and keeps the trailer as the first one wrote it.
    image.LoadFromBytes(saved);
    SetGps(image);
    EXPECT_TRUE(BytesEqual(saved, SaveImage(image)));
}

Bytes WithFooterStart(Bytes trailer, std::uint32_t start) {
    const Bytes field = test::BE32(start);
    std::copy(field.begin(), field.end(), trailer.end() - 8);
    return trailer;
}

// A trailer the save cannot vouch for is carried over byte for byte, and the photo is still tagged.
struct DamagedAfcpCase {
    std::string_view name;
    Bytes (*trailer)(std::uint32_t at);
};
void PrintTo(const DamagedAfcpCase& c, std::ostream* os) { *os << c.name; }
class DamagedAfcpTrailer : public ::testing::TestWithParam<DamagedAfcpCase> {};

TEST_P(DamagedAfcpTrailer, StaysAsItWas) {
    const Bytes picture = test::Photo({Segment(0xE1, ExifBlock())});
    const Bytes trailer = GetParam().trailer(SizeOf(picture));
    const Bytes saved = Tagged(Cat({picture, trailer}));
    EXPECT_TRUE(BytesEqual(Cat({Tagged(picture), trailer}), saved));
}

// Each trailer below is AfcpTrailer(at) with one fault.
INSTANTIATE_TEST_SUITE_P(
    JPEGImageEx, DamagedAfcpTrailer,
    ::testing::Values(
        DamagedAfcpCase{"FooterMissesTheHeader",
                        [](std::uint32_t at) { return WithFooterStart(AfcpTrailer(at), at + 4); }},
        DamagedAfcpCase{"FooterPointsPastTheFile",
                        [](std::uint32_t at) { return WithFooterStart(AfcpTrailer(at), at + 1000); }},
        DamagedAfcpCase{"StaleOffsetsOfAnEarlierMove", [](std::uint32_t at) { return AfcpTrailer(at - 10); }},
        DamagedAfcpCase{"UnknownVersion",
                        [](std::uint32_t at) {
                            Bytes damaged = AfcpTrailer(at);
                            damaged[5] = 2;  // version 2, whose layout the save does not know
                            return damaged;
                        }},
        DamagedAfcpCase{"MoreEntriesThanFit",
                        [](std::uint32_t at) {
                            Bytes damaged = AfcpTrailer(at);
                            damaged[7] = 4;  // four entries would reach into the footer
                            return damaged;
                        }},
        DamagedAfcpCase{"DataRunsIntoTheFooter",
                        [](std::uint32_t at) {
                            Bytes damaged = AfcpTrailer(at);
                            damaged[12 + 12 + 7] = 4;  // the second entry's size: 4 instead of 3
                            return damaged;
                        }},
        DamagedAfcpCase{"DataInsideTheDirectory",
                        [](std::uint32_t at) {
                            Bytes damaged = AfcpTrailer(at);
                            // The first entry's offset field leads to the directory's own start.
                            const Bytes inside = test::BE32(at + 12);
                            std::copy(inside.begin(), inside.end(), damaged.begin() + 20);
                            return damaged;
                        }},
        DamagedAfcpCase{"TruncatedFooter",
                        [](std::uint32_t at) {
                            Bytes damaged = AfcpTrailer(at);
                            damaged.resize(damaged.size() - 4);
                            return damaged;
                        }},
        DamagedAfcpCase{"FollowedByOtherBytes",
                        [](std::uint32_t at) {
                            return Cat({AfcpTrailer(at), Text("more")});
                        }}),
    [](const auto& p) { return std::string(p.param.name); });

// The other ways a photo is rewritten as a whole move the trailer too (a removal moves it back).
struct AfcpRewriteCase {
    std::string_view name;
    void (*rewrite)(const std::filesystem::path& path);
};
void PrintTo(const AfcpRewriteCase& c, std::ostream* os) { *os << c.name; }
class AfcpTrailerRewrite : public ::testing::TestWithParam<AfcpRewriteCase> {};

TEST_P(AfcpTrailerRewrite, KeepsTheOffsetsRight) {
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    const Bytes iptc = Cat({Text("8BIM"), {0x04, 0x04}, {0, 0}, {0, 0, 0, 6}, {0x1C, 2, 5, 0, 1, 'x'}});
    const Bytes picture = test::Photo({Segment(0xE1, ExifBlock()), Segment(0xED, Cat({kPhotoshop3, iptc}))});
    const Bytes trailer = AfcpTrailer(SizeOf(picture));
    test::WriteFileBytes(path, Cat({picture, trailer}));
    GetParam().rewrite(path);
    const Bytes saved = test::ReadFileBytes(path);
    ASSERT_NE(saved.size(), picture.size() + trailer.size());
    ASSERT_GT(saved.size(), trailer.size());
    const auto at = saved.end() - static_cast<std::ptrdiff_t>(trailer.size());
    EXPECT_TRUE(BytesEqual(AfcpTrailer(SizeOf(saved) - SizeOf(trailer)), Bytes(at, saved.end())));
}

INSTANTIATE_TEST_SUITE_P(
    JPEGImageEx, AfcpTrailerRewrite,
    ::testing::Values(AfcpRewriteCase{"ExifIntoTheFile",
                                      [](const std::filesystem::path& path) {
                                          TExifData exif;
                                          exif.LoadFromJPEG(path.string());
                                          exif.SetCameraMake("Another camera");
                                          exif.SaveToJPEG(path.string());
                                      }},
                      AfcpRewriteCase{"ExifIntoTheImage",
                                      [](const std::filesystem::path& path) {
                                          TJPEGImageEx image;
                                          image.LoadFromFile(path.string());
                                          TExifData exif;
                                          exif.LoadFromJPEG(path.string());
                                          exif.SetCameraMake("Another camera");
                                          exif.SaveToJPEG(image);
                                          test::WriteFileBytes(path, SaveImage(image));
                                      }},
                      AfcpRewriteCase{"IptcIntoTheFile",
                                      [](const std::filesystem::path& path) {
                                          TIPTCData iptc;
                                          iptc.LoadFromJPEG(path.string());
                                          iptc.ApplicationSection().Find(5)->SetAsString("a longer name");
                                          iptc.SaveToJPEG(path.string());
                                      }},
                      AfcpRewriteCase{"IptcIntoTheImage",
                                      [](const std::filesystem::path& path) {
                                          TJPEGImage image;
                                          image.LoadFromBytes(test::ReadFileBytes(path));
                                          TIPTCData iptc;
                                          iptc.LoadFromJPEG(path.string());
                                          iptc.ApplicationSection().Find(5)->SetAsString("a longer name");
                                          iptc.SaveToJPEG(image);
                                          test::WriteFileBytes(path, Bytes(image.StoredBytes().begin(),
                                                                           image.StoredBytes().end()));
                                      }},
                      AfcpRewriteCase{"MetadataRemoved",
                                      [](const std::filesystem::path& path) {
                                          TJPEGImageEx image;
                                          image.LoadFromFile(path.string());
                                          image.RemoveMetadata({mkExif});
                                          test::WriteFileBytes(path, SaveImage(image));
                                      }},
                      AfcpRewriteCase{"SegmentsRemoved",
                                      [](const std::filesystem::path& path) {
                                          TJPEGImageEx image;
                                          image.LoadFromFile(path.string());
                                          image.RemoveSegments({0xED});
                                          test::WriteFileBytes(path, SaveImage(image));
                                      }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(JPEGImageEx, EmptiedExifRemovesTheSegment) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock()), Segment(0xE2, Text("x"))}));
    image.ExifData().Clear(false);
    EXPECT_EQ(MarkersOf(SaveImage(image)), WithPicture({0xE2}));
}

TEST(JPEGImageEx, PixelSizeOfAPictureEncodedHereFollowsTheFrameHeaderOnlyWhenATagExists) {
    TJPEGImageEx with;
    with.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock())}));
    with.Assign(Bitmap(24, 12), {jaPreserveMetadata});
    SetGps(with);
    TExifData reread;
    const Bytes saved = SaveImage(with);
    reread.LoadFromJPEG(std::span<const std::uint8_t>(saved));
    EXPECT_EQ(reread.ExifImageWidth().Value(), 24U);
    EXPECT_EQ(reread.ExifImageHeight().Value(), 12U);

    TJPEGImageEx without;
    without.LoadFromBytes(test::Photo({}));
    without.Assign(Bitmap(24, 12), {jaPreserveMetadata});
    SetGps(without);
    const Bytes saved2 = SaveImage(without);
    reread.LoadFromJPEG(std::span<const std::uint8_t>(saved2));
    EXPECT_TRUE(reread.ExifImageWidth().MissingOrInvalid());
    EXPECT_TRUE(reread.ExifImageHeight().MissingOrInvalid());
}

TEST(JPEGImageEx, SaveDoesNotRaiseTheChangeNotification) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock())}));
    int notifications = 0;
    image.SetOnChange([&notifications] { ++notifications; });
    SetGps(image);
    const int afterEdits = notifications;
    SaveImage(image);
    EXPECT_EQ(notifications, afterEdits);
}

TEST(JPEGImageEx, IptcEditAloneIsWritten) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE0, Text("JFIF"))}));
    image.IPTCData().ApplicationSection().Add(5).SetAsString("title");
    EXPECT_EQ(MarkersOf(SaveImage(image)), WithPicture({0xE0, 0xED}));
}

TEST(JPEGImageEx, AdobeSegmentWithoutIptcEditsStaysByteForByte) {
    // As cameras write them: the IPTC block's size counts a zero byte after the last record, and a
    // further resource block has a pad byte that is not zero. Read and written anew, both would change.
    const Bytes app13 = Segment(0xED, Cat({kPhotoshop3,
                                           Text("8BIM"),
                                           {0x04, 0x04},
                                           {0, 0},
                                           {0, 0, 0, 7},
                                           {0x1C, 2, 5, 0, 1, 'x', 0},
                                           {0},
                                           Text("8BIM"),
                                           {0x04, 0x25},
                                           {0, 0},
                                           {0, 0, 0, 3},
                                           Text("abc"),
                                           {0xEE}}));
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock()), app13}));
    SetGps(image);
    const Bytes tagged = SaveImage(image);
    EXPECT_NE(test::Find(tagged, app13), std::string::npos);
    TExifData reread;
    reread.LoadFromJPEG(std::span<const std::uint8_t>(tagged));
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");

    // An edit of the container still reaches the photo, beside the EXIF change.
    image.IPTCData().ApplicationSection().Find(5)->SetAsString("y");
    const Bytes edited = SaveImage(image);
    EXPECT_EQ(test::Find(edited, app13), std::string::npos);
    TIPTCData iptc;
    iptc.LoadFromJPEG(std::span<const std::uint8_t>(edited));
    EXPECT_EQ(iptc.ApplicationSection().Find(5)->AsString(), "y");
    reread.LoadFromJPEG(std::span<const std::uint8_t>(edited));
    EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
}

TEST(JPEGImageEx, OversizedExifBlockIsRefused) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock())}));
    const Bytes big(70000, 1);
    static_cast<TExtendableExifSection&>(image.ExifData().RawSection(esGeneral))
        .AddOrUpdate(0x9999, tdUndefined, 70000, big.data());
    std::vector<std::uint8_t> out;
    EXPECT_THROW(image.SaveToBytes(out), SegmentTooLarge);
}

TEST(JPEGImageEx, SaveToFileReplacesThePhotoAndKeepsItsMode) {
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    test::WriteFileBytes(path, test::Photo({Segment(0xE1, ExifBlock())}));
    ::chmod(path.c_str(), 0640);
    TJPEGImageEx image;
    image.LoadFromFile(path.string());
    SetGps(image);
    image.SaveToFile(path.string());
    EXPECT_TRUE(BytesEqual(SaveImage(image), test::ReadFileBytes(path)));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777U, 0640U);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
        1);
}

TEST(JPEGImageEx, OversizedBlockLeavesTheFileUntouched) {
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    const Bytes photo = test::Photo({Segment(0xE1, ExifBlock())});
    test::WriteFileBytes(path, photo);
    TJPEGImageEx image;
    image.LoadFromFile(path.string());
    static_cast<TExtendableExifSection&>(image.ExifData().RawSection(esGeneral))
        .AddOrUpdate(0x9999, tdUndefined, 70000);
    EXPECT_THROW(image.SaveToFile(path.string()), SegmentTooLarge);
    EXPECT_TRUE(BytesEqual(photo, test::ReadFileBytes(path)));
}

// Removes the injected fault however the test ends.
struct FaultHookGuard {
    explicit FaultHookGuard(SafeWriteFaultHook hook) { SetSafeWriteFaultHook(std::move(hook)); }
    FaultHookGuard(const FaultHookGuard&) = delete;
    FaultHookGuard& operator=(const FaultHookGuard&) = delete;
    ~FaultHookGuard() { SetSafeWriteFaultHook({}); }
};

TEST(JPEGImageEx, WriteFailureLeavesThePhotoAndNoTemporaryFile) {
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    const Bytes photo = test::Photo({Segment(0xE1, ExifBlock())});
    test::WriteFileBytes(path, photo);
    TJPEGImageEx image;
    image.LoadFromFile(path.string());
    SetGps(image);
    const FaultHookGuard fault([](SafeWriteStep step) { return step == SafeWriteStep::write ? ENOSPC : 0; });
    EXPECT_THROW(image.SaveToFile(path.string()), StreamError);
    EXPECT_TRUE(BytesEqual(photo, test::ReadFileBytes(path)));
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
        1);
}

TEST(JPEGImageEx, FullDiskLeavesThePhotoAndNoTemporaryFile) {
    test::TempDir dir;
    const auto mountPoint = dir / "small";
    std::filesystem::create_directory(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here; the injected write failure covers this path";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mountPoint.string()};
    const auto path = mountPoint / "photo.jpg";
    // A photo of about 40 KB fills most of the 64 KB: a second copy does not fit.
    const Bytes photo = Cat({test::Photo({Segment(0xE1, ExifBlock())}), Bytes(40000, 0x55)});
    test::WriteFileBytes(path, photo);
    TJPEGImageEx image;
    image.LoadFromFile(path.string());
    SetGps(image);
    EXPECT_THROW(image.SaveToFile(path.string()), Error);
    EXPECT_TRUE(BytesEqual(photo, test::ReadFileBytes(path)));
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(mountPoint), std::filesystem::directory_iterator()),
        1);
}

TEST(JPEGImageEx, MissingFolderIsAFileError) {
    test::TempDir dir;
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({}));
    SetGps(image);
    const auto path = dir / "missing" / "photo.jpg";
    try {
        image.SaveToFile(path.string());
        FAIL() << "saved";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Datei " + path.string() + " kann nicht erstellt werden. No such file or directory");
    }
}

TEST(JPEGImageEx, RemoveMetadataDropsTheKindsAsked) {
    const Bytes path = Cat({Text("8BIM"), {0x07, 0xD0}, {0, 0}, {0, 0, 0, 2}, {1, 2}});
    const Bytes iptc = Cat({Text("8BIM"), {0x04, 0x04}, {0, 0}, {0, 0, 0, 6}, {0x1C, 2, 5, 0, 1, 'x'}});
    const Bytes photo =
        test::Photo({Segment(0xE1, ExifBlock()), Segment(0xE1, Cat({kXMPHeader, XmpPacketText()})),
                     Segment(0xED, Cat({kPhotoshop3, iptc, path}))});
    TJPEGImageEx image;
    image.LoadFromBytes(photo);
    const TJPEGMetadataKinds removed = image.RemoveMetadata({mkExif, mkIPTC});
    EXPECT_EQ(removed, (TJPEGMetadataKinds{mkExif, mkIPTC}));
    const auto segments = SegmentsOf(SaveImage(image));
    ASSERT_GE(segments.size(), 2U);
    EXPECT_TRUE(StartsWith(segments[0].payload, kXMPHeader));
    EXPECT_TRUE(BytesEqual(Cat({kPhotoshop3, path}), segments[1].payload));
    EXPECT_TRUE(image.ExifData().Empty());
    EXPECT_TRUE(image.IPTCData().Empty());
    EXPECT_TRUE(image.RemoveMetadata({mkExif}).Empty());
}

TEST(JPEGImageEx, RemoveSegmentsReportsWhatWasThere) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE2, Text("a")), Segment(0xE3, Text("b"))}));
    const TJPEGMarkers removed = image.RemoveSegments({0xE2, 0xE5});
    EXPECT_EQ(removed, (TJPEGMarkers{0xE2}));
    EXPECT_EQ(MarkersOf(SaveImage(image)), WithPicture({0xE3}));
    auto walk = image.Segments({0xE3});
    ASSERT_TRUE(walk->MoveNext());
    EXPECT_EQ(walk->Current()->MarkerNum(), 0xE3);
}

TEST(JPEGImageEx, AssignWithPreservedMetadataKeepsTheAppSegments) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({Segment(0xE1, ExifBlock()), Segment(0xE2, Text("icc"))}));
    Bitmap bitmap(4, 4);
    image.Assign(bitmap, {jaPreserveMetadata});
    EXPECT_EQ(image.Width(), 4U);
    EXPECT_EQ(image.ExifData().CameraMake(), "Cam");
    const auto markers = MarkersOf(SaveImage(image));
    ASSERT_GE(markers.size(), 3U);
    EXPECT_EQ((std::vector<std::uint8_t>(markers.begin(), markers.begin() + 3)),
              (std::vector<std::uint8_t>{0xE0, 0xE1, 0xE2}));

    image.Assign(bitmap);
    EXPECT_TRUE(image.ExifData().Empty());
    EXPECT_FALSE(image.ChangedSinceLastLoad());
}

TEST(JPEGImageEx, CreateThumbnailFitsTheBox) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo({}));
    image.CreateThumbnail();
    ASSERT_TRUE(image.ExifData().HasThumbnail());
    EXPECT_EQ(image.ExifData().ThumbnailOrNil()->Width(), 160U);
    EXPECT_EQ(image.ExifData().ThumbnailOrNil()->Height(), 80U);
    // The thumbnail travels with the next save and reads back.
    TExifData reread;
    const Bytes saved = SaveImage(image);
    reread.LoadFromJPEG(std::span<const std::uint8_t>(saved));
    ASSERT_TRUE(reread.HasThumbnail());
    EXPECT_EQ(reread.ThumbnailOrNil()->Width(), 160U);
}

TEST(JPEGImageEx, ContainerSavesIntoAFileWithoutTheApp13Step) {
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    const Bytes app13 = Segment(
        0xED, Cat({kPhotoshop3, Text("8BIM"), {0x04, 0x04}, {0, 0}, {0, 0, 0, 6}, {0x1C, 2, 5, 0, 1, 'x'}}));
    test::WriteFileBytes(path, test::Photo({Segment(0xE1, ExifBlock()), app13}));
    TExifData exif;
    exif.LoadFromJPEG(path.string());
    exif.SetCameraMake("Other");
    exif.SaveToJPEG(path.string());
    const Bytes saved = test::ReadFileBytes(path);
    TExifData reread;
    reread.LoadFromJPEG(std::span<const std::uint8_t>(saved));
    EXPECT_EQ(reread.CameraMake(), "Other");
    EXPECT_NE(test::Find(saved, app13), std::string::npos);

    TIPTCData iptc;
    iptc.LoadFromJPEG(path.string());
    iptc.ApplicationSection().Find(5)->SetAsString("y");
    iptc.SaveToJPEG(path.string());
    TIPTCData rereadIptc;
    rereadIptc.LoadFromJPEG(path.string());
    EXPECT_EQ(rereadIptc.ApplicationSection().Find(5)->AsString(), "y");
}

}  // namespace
}  // namespace zeloro
