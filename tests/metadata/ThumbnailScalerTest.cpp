// Scale-to-fit, our resampler, and the JPEG picture object's codec round trips.
#include <gtest/gtest.h>

#include "metadata/JPEGImage.h"
#include "metadata/ThumbnailScaler.h"
#include "metadata/WriteFixtures.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

struct FitCase {
    std::string_view name;
    std::uint32_t width;
    std::uint32_t height;
    ThumbnailSize want;
};
void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class ScaleToFitTable : public ::testing::TestWithParam<FitCase> {};

TEST_P(ScaleToFitTable, FitsTheStandardBox) {
    const FitCase& c = GetParam();
    EXPECT_EQ(ScaleToFit(c.width, c.height, 160, 120), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    ThumbnailScaler, ScaleToFitTable,
    ::testing::Values(FitCase{"Landscape4To3", 640, 480, {160, 120}},
                      FitCase{"Portrait3To4", 480, 640, {90, 120}}, FitCase{"Square", 100, 100, {120, 120}},
                      FitCase{"WideBannerLimitedByWidth", 1000, 100, {160, 16}},
                      FitCase{"SmallPictureIsEnlarged", 8, 6, {160, 120}},
                      FitCase{"HalfRoundsDownToEven", 64, 1, {160, 2}},  // 160 / 64 = 2.5
                      FitCase{"HalfRoundsUpToEven", 64, 3, {160, 8}},    // 480 / 64 = 7.5
                      FitCase{"TallPictureLimitedByHeight", 100, 1000, {12, 120}},
                      FitCase{"ThinPictureKeepsOnePixel", 100000, 1, {160, 1}},
                      FitCase{"NoWidth", 0, 5, {0, 0}}, FitCase{"NoHeight", 5, 0, {0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

Bitmap Filled(std::uint32_t w, std::uint32_t h, std::initializer_list<std::uint8_t> rgb) {
    Bitmap bitmap(w, h);
    auto pixels = bitmap.Pixels();
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = std::data(rgb)[i % 3];
    }
    return bitmap;
}

TEST(ThumbnailScaler, UniformColourStaysUniform) {
    const Bitmap scaled = StretchBitmap(Filled(37, 23, {10, 200, 90}), 5, 3);
    ASSERT_EQ(scaled.Width(), 5U);
    ASSERT_EQ(scaled.Height(), 3U);
    for (std::size_t i = 0; i < scaled.Pixels().size(); i += 3) {
        EXPECT_EQ(scaled.Pixels()[i], 10);
        EXPECT_EQ(scaled.Pixels()[i + 1], 200);
        EXPECT_EQ(scaled.Pixels()[i + 2], 90);
    }
}

TEST(ThumbnailScaler, ReductionAveragesTheCoveredArea) {
    // 4 x 2: left half black, right half white; reduced to 2 x 1 the halves stay apart, to 1 x 1 they mix.
    Bitmap source(4, 2);
    auto pixels = source.Pixels();
    for (std::uint32_t y = 0; y < 2; ++y) {
        for (std::uint32_t x = 2; x < 4; ++x) {
            for (std::uint32_t c = 0; c < 3; ++c) {
                pixels[(y * 4 + x) * 3 + c] = 255;
            }
        }
    }
    const Bitmap halves = StretchBitmap(source, 2, 1);
    EXPECT_EQ(halves.Pixels()[0], 0);
    EXPECT_EQ(halves.Pixels()[3], 255);
    const Bitmap mixed = StretchBitmap(source, 1, 1);
    EXPECT_EQ(mixed.Pixels()[0], 128);  // 127.5 rounded
}

TEST(ThumbnailScaler, EmptyInputGivesAnEmptyBitmap) {
    EXPECT_TRUE(StretchBitmap(Bitmap(), 10, 10).Empty());
    EXPECT_TRUE(StretchBitmap(Filled(2, 2, {1, 2, 3}), 0, 10).Empty());
}

TEST(ThumbnailScaler, ScaledToFitDecodesTheStoredPicture) {
    TJPEGImage image;
    image.LoadFromBytes(test::EncodedPicture(640, 480));
    const Bitmap fitted = ScaledToFit(image, 160, 120);
    EXPECT_EQ(fitted.Width(), 160U);
    EXPECT_EQ(fitted.Height(), 120U);
}

TEST(JPEGImage, LoadReadsTheHeaderAndKeepsTheBytes) {
    const test::Bytes picture = test::EncodedPicture(33, 17);
    TJPEGImage image;
    image.LoadFromBytes(picture);
    EXPECT_EQ(image.Width(), 33U);
    EXPECT_EQ(image.Height(), 17U);
    EXPECT_EQ(image.ColorModel(), JPEGColorModel::ycbcr);
    std::vector<std::uint8_t> saved;
    image.SaveToBytes(saved);
    EXPECT_TRUE(test::BytesEqual(picture, saved));
}

TEST(JPEGImage, BytesTheCodecRefusesAreKeptAsTheyAre) {
    const test::Bytes stub{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xD9};
    TJPEGImage image;
    image.LoadFromBytes(stub);
    EXPECT_FALSE(image.Empty());
    EXPECT_EQ(image.Width(), 0U);
    std::vector<std::uint8_t> saved;
    image.SaveToBytes(saved);
    EXPECT_TRUE(test::BytesEqual(stub, saved));
    EXPECT_THROW((void)image.ToBitmap(), JPEGError);
}

TEST(JPEGImage, AssignedBitmapIsEncodedAtTheQualitySetAtSaveTime) {
    TJPEGImage image;
    image.Assign(Filled(64, 48, {30, 60, 90}));
    image.SetCompressionQuality(95);
    std::vector<std::uint8_t> high;
    image.SaveToBytes(high);
    image.SetCompressionQuality(10);
    std::vector<std::uint8_t> low;
    image.SaveToBytes(low);
    EXPECT_NE(high, low);
    TJPEGImage reread;
    reread.LoadFromBytes(low);
    EXPECT_EQ(reread.Width(), 64U);
    EXPECT_EQ(reread.Height(), 48U);
}

TEST(JPEGImage, DecodeRoundTripKeepsTheColourClose) {
    TJPEGImage image;
    image.Assign(Filled(16, 16, {200, 40, 120}));
    std::vector<std::uint8_t> bytes;
    image.SaveToBytes(bytes);
    TJPEGImage reread;
    reread.LoadFromBytes(bytes);
    const Bitmap decoded = reread.ToBitmap();
    ASSERT_EQ(decoded.Width(), 16U);
    EXPECT_NEAR(decoded.Pixels()[0], 200, 6);
    EXPECT_NEAR(decoded.Pixels()[1], 40, 6);
    EXPECT_NEAR(decoded.Pixels()[2], 120, 6);
}

TEST(JPEGImage, ChangeHandlerSeesLoadsAndAssigns) {
    TJPEGImage image;
    int changes = 0;
    image.SetOnChange([&changes] { ++changes; });
    image.LoadFromBytes(test::EncodedPicture(4, 4));
    image.Assign(Bitmap(2, 2));
    image.SetCompressionQuality(50);
    image.Clear();
    image.Clear();
    EXPECT_EQ(changes, 3);
}

}  // namespace
}  // namespace zeloro
