// tests/tagging/PhotoThumbnailTest.cpp: a photo's EXIF thumbnail read for the map, on photos built here.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "SamplePhoto.h"
#include "support/TestSupport.h"
#include "tagging/PhotoThumbnail.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

Bytes Thumbnail() {
    sample::PhotoSpec spec;
    spec.width = 16;
    spec.height = 12;
    spec.scene = 3;
    return sample::EncodePicture(spec);
}

Bytes PhotoWithThumbnail(std::optional<Bytes> thumbnail) {
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = "2024:06:15 10:00:00";
    spec.thumbnail = std::move(thumbnail);
    return sample::MakePhoto(spec);
}

struct ThumbnailCase {
    std::string name;
    std::optional<Bytes> file;       // none: the path names no file
    std::optional<Bytes> thumbnail;  // what the map gets; none: nothing
};

void PrintTo(const ThumbnailCase& c, std::ostream* os) { *os << c.name; }

class ExifThumbnail : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(ExifThumbnail, MatchesTable) {
    const ThumbnailCase& c = GetParam();
    const TempDir dir;
    const fs::path path = dir / "a.jpg";
    if (c.file) {
        WriteFileBytes(path, *c.file);
    }
    const std::vector<std::uint8_t> got = ReadExifThumbnail(path.string());
    EXPECT_EQ(got, c.thumbnail.value_or(Bytes{}));
}

INSTANTIATE_TEST_SUITE_P(
    PhotoThumbnail, ExifThumbnail,
    ::testing::Values(ThumbnailCase{"JpegThumbnailAsStored", PhotoWithThumbnail(Thumbnail()), Thumbnail()},
                      ThumbnailCase{"NoThumbnail", PhotoWithThumbnail(std::nullopt), std::nullopt},
                      // The page names it ".jpg": bytes of another kind are left out.
                      ThumbnailCase{"ThumbnailNoJpeg",
                                    PhotoWithThumbnail(Bytes{'G', 'I', 'F', '8', '9', 'a'}), std::nullopt},
                      ThumbnailCase{"NotAPhoto", Bytes{'h', 'e', 'l', 'l', 'o'}, std::nullopt},
                      ThumbnailCase{"Truncated", Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x40, 0x00, 'E', 'x'},
                                    std::nullopt},
                      ThumbnailCase{"Gone", std::nullopt, std::nullopt}),
    [](const auto& p) { return p.param.name; });

// A FIFO put in a photo's place after the run is refused at once, not waited on for a writer.
TEST(PhotoThumbnail, FifoIsNotWaitedOn) {
    const TempDir dir;
    const fs::path path = dir / "a.jpg";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_TRUE(ReadExifThumbnail(path.string()).empty());
}

// Only the head of a large photo is read: a thumbnail in front of megabytes of picture comes back whole
// while the rest of the file is never needed (a file cut short after the EXIF block still gives it).
TEST(PhotoThumbnail, ThumbnailNeedsOnlyTheHeadOfTheFile) {
    const TempDir dir;
    Bytes photo = PhotoWithThumbnail(Thumbnail());
    // Cut the picture off right after the APP1 segment: nothing after it is read to find the thumbnail.
    const std::size_t app1End = 4 + ((std::size_t{photo[4]} << 8U) | photo[5]);
    photo.resize(app1End);
    WriteFileBytes(dir / "a.jpg", photo);
    EXPECT_EQ(ReadExifThumbnail((dir / "a.jpg").string()), Thumbnail());
}

}  // namespace
}  // namespace zeloro::test
