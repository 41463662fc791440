// What the save of a tagged photo leaves and what it adds: the pixel size a camera or an editor wrote
// stays unless this program encoded the picture, and a GPS directory gets GPSVersionID only when the save
// creates it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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
using test::LE16;
using test::LE32;
using test::NewGpsDirectory;
using test::Rationals;
using test::Segment;
using test::TagAsTheRun;
using test::Text;
using test::TiffHeaderLE;
using test::Zeros;

const Bytes kXMPHeader = Text(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));

// IFD0 with the EXIF pointer; the EXIF sub-directory at 26 holds ExifImageWidth 1280 (SHORT) and
// ExifImageHeight 960 (LONG), the size of the camera's picture, not of the 16 x 8 frame. 56 bytes.
Bytes CameraPixelSize() {
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x8769, 4, 1, LE32(26)),
                Zeros(4),
                {0x02, 0x00},
                Entry(0xA002, 3, 1, {0x00, 0x05, 0, 0}),
                Entry(0xA003, 4, 1, LE32(960)),
                Zeros(4)});
}

// An XMP packet that mirrors the camera's pixel size.
Bytes PixelSizePacket() {
    return Cat(
        {kXMPHeader,
         Text("<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
              "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
              "rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"><exif:PixelXDimension>1280"
              "</exif:PixelXDimension><exif:PixelYDimension>960</exif:PixelYDimension>"
              "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>")});
}

struct SaveRoute {
    std::string_view name;
    // Tags the photo the way the route's caller does and returns the bytes it saves.
    std::function<Bytes(const Bytes& photo)> save;
};
void PrintTo(const SaveRoute& c, std::ostream* os) { *os << c.name; }

class PixelSizeOfAPictureAsRead : public ::testing::TestWithParam<SaveRoute> {};

TEST_P(PixelSizeOfAPictureAsRead, IsKeptInTheExifBlockAndTheXmpPacket) {
    const Bytes tiff = CameraPixelSize();
    const Bytes photo =
        test::Photo({Segment(0xE1, Cat({ExifHeader(), tiff})), Segment(0xE1, PixelSizePacket())});
    // The block as read, 32 zeros, the new GPS directory at 88 with its values (to 261), one byte to a
    // word boundary, IFD0 grown by the GPS pointer at 262. Width and height stay 1280 and 960, and so
    // does the packet, byte for byte.
    const Bytes expectedTiff = Cat({TiffHeaderLE(262),
                                    Bytes(tiff.begin() + 8, tiff.end()),
                                    Zeros(32),
                                    NewGpsDirectory(88),
                                    Zeros(1),
                                    {0x02, 0x00},
                                    Entry(0x8769, 4, 1, LE32(26)),
                                    Entry(0x8825, 4, 1, LE32(88)),
                                    Zeros(4)});
    const Bytes expected =
        test::Photo({Segment(0xE1, Cat({ExifHeader(), expectedTiff})), Segment(0xE1, PixelSizePacket())});
    EXPECT_TRUE(BytesEqual(expected, GetParam().save(photo)));
}

INSTANTIATE_TEST_SUITE_P(
    TaggingSave, PixelSizeOfAPictureAsRead,
    ::testing::Values(SaveRoute{"ImageSave",
                                [](const Bytes& photo) {
                                    TJPEGImageEx image;
                                    image.LoadFromBytes(photo);
                                    TagAsTheRun(image.ExifData());
                                    Bytes saved;
                                    image.SaveToBytes(saved);
                                    return saved;
                                }},
                      SaveRoute{"ExifIntoFile",
                                [](const Bytes& photo) {
                                    test::TempDir dir;
                                    const auto path = dir / "photo.jpg";
                                    test::WriteFileBytes(path, photo);
                                    TExifData exif;
                                    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
                                    TagAsTheRun(exif);
                                    exif.SaveToJPEG(path.string());
                                    return test::ReadFileBytes(path);
                                }},
                      SaveRoute{"ExifIntoImage",
                                [](const Bytes& photo) {
                                    TJPEGImageEx image;
                                    image.LoadFromBytes(photo);
                                    TExifData exif;
                                    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
                                    TagAsTheRun(exif);
                                    exif.SaveToJPEG(image);
                                    return Bytes(image.StoredBytes().begin(), image.StoredBytes().end());
                                }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TaggingSave, PixelSizeFollowsAPictureEncodedHere) {
    TJPEGImageEx image;
    image.LoadFromBytes(test::Photo(
        {Segment(0xE1, Cat({ExifHeader(), CameraPixelSize()})), Segment(0xE1, PixelSizePacket())}));
    image.Assign(Bitmap(24, 12), {jaPreserveMetadata});
    TagAsTheRun(image.ExifData());
    Bytes saved;
    image.SaveToBytes(saved);
    TJPEGImageEx reread;
    reread.LoadFromBytes(saved);
    EXPECT_EQ(reread.ExifData().ExifImageWidth().Value(), 24U);
    EXPECT_EQ(reread.ExifData().ExifImageHeight().Value(), 12U);
    const TXMPSchema* exifSchema = reread.XMPPacket().FindSchema(xsExif);
    ASSERT_NE(exifSchema, nullptr);
    ASSERT_NE(exifSchema->FindProperty("PixelXDimension"), nullptr);
    EXPECT_EQ(exifSchema->FindProperty("PixelXDimension")->ReadValue(), "24");
    EXPECT_EQ(exifSchema->FindProperty("PixelYDimension")->ReadValue(), "12");
}

// A block with IFD0 only, or with a GPS directory at 26 that holds GPSAltitude (8 bytes at 44) and,
// when given, GPSVersionID.
Bytes WithGpsDirectory(std::optional<Bytes> version) {
    const std::uint16_t count = version ? 2 : 1;
    const std::uint32_t values = 26 + 2 + 12U * count + 4;
    Bytes entries = version ? Entry(0, 1, 4, *version) : Bytes{};
    entries = Cat({entries, Entry(6, 5, 1, LE32(values))});
    return Cat({TiffHeaderLE(8),
                {0x01, 0x00},
                Entry(0x8825, 4, 1, LE32(26)),
                Zeros(4),
                LE16(count),
                entries,
                Zeros(4),
                Rationals({933, 10})});
}

Bytes WithoutGpsDirectory() {
    return Cat({TiffHeaderLE(8), {0x01, 0x00}, Entry(0x010F, 2, 4, {'C', 'a', 'm', 0}), Zeros(4)});
}

struct VersionCase {
    std::string_view name;
    std::optional<Bytes> tiff;  // none: a container that read no block
    bool keepLayout;
    std::optional<Bytes> want;  // the GPS directory's GPSVersionID after tagging, none when it has none
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class GpsVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(GpsVersion, OnlyADirectoryTheSaveCreatesGetsOne) {
    const VersionCase& c = GetParam();
    TExifData exif;
    if (c.tiff) {
        const Bytes photo = test::PhotoWithTiff(*c.tiff);
        exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
    }
    exif.SetPreserveLayoutOnSave(c.keepLayout);
    TagAsTheRun(exif);
    Bytes block;
    exif.SaveToBytes(block);
    TExifData reread;
    reread.LoadFromJPEG(std::span<const std::uint8_t>(test::Photo({Segment(0xE1, block)})));
    const TExifSection& gps = reread.RawSection(esGPS);
    ASSERT_GT(gps.Count(), 0);
    if (!c.want) {
        EXPECT_EQ(gps.Find(0), nullptr);
        return;
    }
    // Entries are sorted by tag, so the version is the directory's first.
    const TExifTag& first = *gps[0];
    EXPECT_EQ(first.ID(), TTiffTagID{0});
    EXPECT_EQ(first.DataType(), tdByte);
    EXPECT_EQ(Bytes(first.Bytes().begin(), first.Bytes().end()), *c.want);
}

INSTANTIATE_TEST_SUITE_P(
    TaggingSave, GpsVersion,
    ::testing::Values(
        VersionCase{"NoBlockRead", std::nullopt, true, Bytes{2, 3, 0, 0}},
        VersionCase{"NoDirectoryKeptLayout", WithoutGpsDirectory(), true, Bytes{2, 3, 0, 0}},
        VersionCase{"NoDirectoryRelaidOut", WithoutGpsDirectory(), false, Bytes{2, 3, 0, 0}},
        VersionCase{"DirectoryWithoutKeptLayout", WithGpsDirectory(std::nullopt), true, std::nullopt},
        VersionCase{"DirectoryWithoutRelaidOut", WithGpsDirectory(std::nullopt), false, std::nullopt},
        VersionCase{"DirectoryWithOlderVersion", WithGpsDirectory(Bytes{2, 2, 0, 0}), true,
                    Bytes{2, 2, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro
