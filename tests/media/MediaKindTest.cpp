// tests/media/MediaKindTest.cpp: kinds told by content, the --all-photos names and the kinds' texts.
#include <gtest/gtest.h>

#include <string>

#include "MediaBuilders.h"
#include "media/MediaKind.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::FileTypeBox;
using test::Join;
using test::Text;

struct KindCase {
    std::string name;
    Bytes head;
    MediaKind want;
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

Bytes Padded(Bytes head) {
    head.resize(std::max<std::size_t>(head.size(), 64), 0);
    return head;
}

class DetectKind : public ::testing::TestWithParam<KindCase> {};

TEST_P(DetectKind, MatchesTable) {
    const KindCase& c = GetParam();
    EXPECT_EQ(DetectMediaKind(c.head), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    MediaKind, DetectKind,
    ::testing::Values(
        KindCase{"Jpeg", Padded({0xFF, 0xD8, 0xFF, 0xE1}), MediaKind::jpeg},
        KindCase{"TiffIntel", Padded({'I', 'I', 42, 0, 8, 0, 0, 0}), MediaKind::tiffRaw},
        KindCase{"TiffMotorola", Padded({'M', 'M', 0, 42, 0, 0, 0, 8}), MediaKind::tiffRaw},
        KindCase{"Rw2", Padded({'I', 'I', 0x55, 0, 0x18, 0, 0, 0}), MediaKind::tiffRaw},
        KindCase{"OrfIIRO", Padded(Text("IIRO")), MediaKind::tiffRaw},
        KindCase{"OrfIIRS", Padded(Text("IIRS")), MediaKind::tiffRaw},
        KindCase{"OrfMMOR", Padded(Text("MMOR")), MediaKind::tiffRaw},
        KindCase{"BigTiffIsNoneOfOurs", Padded({'I', 'I', 43, 0, 8, 0, 0, 0}), MediaKind::unknown},
        KindCase{"Crw", Padded(Join({{'I', 'I', 26, 0, 0, 0}, Text("HEAPCCDR")})), MediaKind::otherRaw},
        KindCase{"Raf", Padded(Text("FUJIFILMCCD-RAW 0201")), MediaKind::otherRaw},
        KindCase{"Mrw", Padded({0, 'M', 'R', 'M', 0, 0, 1, 0}), MediaKind::otherRaw},
        KindCase{"X3f", Padded(Text("FOVb")), MediaKind::otherRaw},
        KindCase{"Cr3", Padded(FileTypeBox("crx ", {"crx ", "isom"})), MediaKind::cr3},
        KindCase{"Heic", Padded(FileTypeBox("heic", {"mif1", "heic"})), MediaKind::heif},
        KindCase{"Heix", Padded(FileTypeBox("heix", {})), MediaKind::heif},
        KindCase{"Hevc", Padded(FileTypeBox("hevc", {})), MediaKind::heif},
        KindCase{"Heim", Padded(FileTypeBox("heim", {})), MediaKind::heif},
        KindCase{"Heis", Padded(FileTypeBox("heis", {})), MediaKind::heif},
        KindCase{"Hevm", Padded(FileTypeBox("hevm", {})), MediaKind::heif},
        KindCase{"Hevs", Padded(FileTypeBox("hevs", {})), MediaKind::heif},
        KindCase{"Mif1", Padded(FileTypeBox("mif1", {"heic"})), MediaKind::heif},
        KindCase{"Msf1", Padded(FileTypeBox("msf1", {})), MediaKind::heif},
        KindCase{"Avif", Padded(FileTypeBox("avif", {"mif1", "miaf"})), MediaKind::heif},
        KindCase{"Avis", Padded(FileTypeBox("avis", {})), MediaKind::heif},
        KindCase{"CompatibleBrandDecides", Padded(FileTypeBox("MiHE", {"miaf", "heic"})), MediaKind::heif},
        KindCase{"QuickTime", Padded(FileTypeBox("qt  ", {"qt  "})), MediaKind::video},
        KindCase{"Isom", Padded(FileTypeBox("isom", {"isom", "avc1"})), MediaKind::video},
        KindCase{"Mp41", Padded(FileTypeBox("mp41", {})), MediaKind::video},
        KindCase{"Mp42", Padded(FileTypeBox("mp42", {"mp42", "mp41"})), MediaKind::video},
        KindCase{"M4v", Padded(FileTypeBox("M4V ", {})), MediaKind::video},
        KindCase{"ThreeGp", Padded(FileTypeBox("3gp5", {})), MediaKind::video},
        KindCase{"ThreeG2", Padded(FileTypeBox("3g2a", {})), MediaKind::video},
        KindCase{"AudioOnly", Padded(FileTypeBox("M4A ", {"M4A ", "isom"})), MediaKind::unknown},
        KindCase{"UnknownBrands", Padded(FileTypeBox("abcd", {"efgh"})), MediaKind::unknown},
        KindCase{"LeadingMoov", Padded(Join({{0, 0, 0, 8}, Text("moov")})), MediaKind::video},
        KindCase{"LeadingMdat", Padded(Join({{0, 0, 0, 8}, Text("mdat")})), MediaKind::video},
        KindCase{"LeadingWide", Padded(Join({{0, 0, 0, 8}, Text("wide")})), MediaKind::video},
        KindCase{"LeadingFree", Padded(Join({{0, 0, 0, 8}, Text("free")})), MediaKind::video},
        KindCase{"Png", Padded({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), MediaKind::unknown},
        KindCase{"Empty", {}, MediaKind::unknown}, KindCase{"ShortJpeg", {0xFF, 0xD8}, MediaKind::unknown},
        KindCase{"ShortFileType", {0, 0, 0, 20, 'f', 't', 'y', 'p', 'h', 'e'}, MediaKind::unknown}),
    [](const auto& p) { return p.param.name; });

TEST(MediaKind, FileTypeBrandsBeyondTheBoxAreNotRead) {
    // The box ends before "heic": the bytes after it belong to the next box.
    Bytes head = Join({{0, 0, 0, 16}, Text("ftypabcd"), {0, 0, 0, 0}, Text("heic")});
    EXPECT_EQ(DetectMediaKind(Padded(head)), MediaKind::unknown);
    head[3] = 20;
    EXPECT_EQ(DetectMediaKind(Padded(head)), MediaKind::heif);
}

struct NameCase {
    std::string name;
    bool want;
};

TEST(MediaKind, AllPhotosNames) {
    const std::vector<std::string> extensions{
        "jpg", "jpeg", "jpe", "dng", "nef", "nrw",  "cr2",  "arw",  "sr2", "srf", "orf", "rw2",
        "rwl", "pef",  "srw", "erf", "3fr", "iiq",  "mef",  "mos",  "dcr", "kdc", "tif", "tiff",
        "cr3", "crw",  "raf", "mrw", "x3f", "heic", "heif", "avif", "mov", "mp4", "m4v", "3gp"};
    for (const std::string& extension : extensions) {
        EXPECT_TRUE(IsAllPhotosName("IMG_0001." + extension)) << extension;
        std::string upper = extension;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(IsAllPhotosName("IMG_0001." + upper)) << upper;
    }
    for (const NameCase& c :
         {NameCase{"photo.Jpg", true}, NameCase{"a.b.heic", true}, NameCase{"track.gpx", false},
          NameCase{"photo.jpg.xmp", false}, NameCase{"notes.txt", false}, NameCase{"jpg", false},
          NameCase{"photo.", false}, NameCase{"photo.jpgx", false}, NameCase{"song.m4a", false},
          NameCase{"", false}}) {
        EXPECT_EQ(IsAllPhotosName(c.name), c.want) << c.name;
    }
}

TEST(MediaKind, TextsInGerman) {
    EXPECT_STREQ(MediaKindText(MediaKind::unknown), "unbekanntes Format");
    EXPECT_STREQ(MediaKindText(MediaKind::jpeg), "JPEG-Bild");
    EXPECT_STREQ(MediaKindText(MediaKind::tiffRaw), "RAW-Bild (TIFF)");
    EXPECT_STREQ(MediaKindText(MediaKind::cr3), "CR3-Bild");
    EXPECT_STREQ(MediaKindText(MediaKind::otherRaw), "RAW-Bild");
    EXPECT_STREQ(MediaKindText(MediaKind::heif), "HEIF-Bild");
    EXPECT_STREQ(MediaKindText(MediaKind::video), "Video");
}

}  // namespace
}  // namespace zeloro
