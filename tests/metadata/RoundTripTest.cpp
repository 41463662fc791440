// Every shared test photo tagged as the run tags it, in this process, checked against exiftool as an
// independent reader: the GPS tags right and everything else as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ExiftoolOracle.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::BytesEqual;

void TagAsTheRunDoes(TJPEGImageEx& image) {
    image.ExifData().GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                                          TTiffLongWordFraction(7716, 625), ltNorth);
    image.ExifData().GPSLongitude().Assign(TTiffLongWordFraction(0, 1), TTiffLongWordFraction(1, 1),
                                           TTiffLongWordFraction(48, 1), lnWest);
    image.ExifData().SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
}

TEST(RoundTrip, EverySharedPhotoTagsCleanly) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    test::TempDir dir;
    struct Tagged {
        std::string name;
        Bytes original;
        std::filesystem::path before;
        std::filesystem::path after;
    };
    std::vector<Tagged> tagged;
    for (const auto& source : test::SharedPhotos()) {
        const std::string name = source.filename().string();
        SCOPED_TRACE(name);
        const Bytes original = test::ReadFileBytes(source);
        TJPEGImageEx image;
        try {
            image.LoadFromBytes(original);
        } catch (const Error& e) {
            // A photo the codec refuses cannot be opened for tagging: the run reports it and writes nothing.
            std::printf("  %s: not opened (%s)\n", name.c_str(), e.what());
            continue;
        }
        {
            std::vector<std::uint8_t> unchanged;
            image.SaveToBytes(unchanged);
            EXPECT_TRUE(BytesEqual(original, unchanged)) << "a save without changes differs";
        }
        const Tagged photo{name, original, dir / ("before-" + name), dir / name};
        test::WriteFileBytes(photo.before, original);
        test::WriteFileBytes(photo.after, original);
        TagAsTheRunDoes(image);
        try {
            image.SaveToFile(photo.after.string());
        } catch (const Error& e) {
            ADD_FAILURE() << "save failed: " << e.what();
            continue;
        }
        tagged.push_back(photo);
    }
    ASSERT_GT(tagged.size(), 60U);

    std::vector<std::filesystem::path> files;
    for (const Tagged& photo : tagged) {
        files.push_back(photo.before);
        files.push_back(photo.after);
    }
    const std::vector<test::TagReport> reports = test::FullReports(files);
    for (std::size_t i = 0; i < tagged.size(); ++i) {
        const Tagged& photo = tagged[i];
        SCOPED_TRACE(photo.name);
        const test::TagReport& before = reports[2 * i];
        const test::TagReport& after = reports[2 * i + 1];
        ASSERT_FALSE(after.empty()) << "exiftool read nothing";
        for (const std::string& change : test::UnexpectedChanges(before, after)) {
            ADD_FAILURE() << change;
        }
        const Bytes saved = test::ReadFileBytes(photo.after);
        EXPECT_TRUE(test::SegmentsAndImageDataKept(photo.original, saved));
        EXPECT_TRUE(test::XmpPacketKeptWhereUnwritten(photo.original, saved));
        const auto value = [&after](const std::string& key) {
            const auto it = after.find(key);
            return it == after.end() ? std::string("<missing>") : it->second;
        };
        EXPECT_EQ(value("GPS:GPSLatitudeRef"), "North");
        // The report escapes as HTML does (-E), so that a value never spans lines.
        EXPECT_EQ(value("GPS:GPSLatitude"), "51 deg 30&#39; 12.35&quot;");
        EXPECT_EQ(value("GPS:GPSLongitudeRef"), "West");
        EXPECT_EQ(value("GPS:GPSLongitude"), "0 deg 1&#39; 48.00&quot;");
        EXPECT_EQ(value("GPS:GPSDateStamp"), "2011:03:03");
        EXPECT_EQ(value("GPS:GPSTimeStamp"), "23:59:59");
        // A GPS directory the save created declares its version; one the photo had keeps its own.
        if (!test::HadGpsDirectory(before)) {
            EXPECT_EQ(value("GPS:GPSVersionID"), "2.3.0.0");
        }
        // Where the packet carries the position too, exiftool reads the same place from it.
        if (after.contains("XMP-exif:GPSLatitude")) {
            EXPECT_EQ(value("XMP-exif:GPSLatitude"), "51 deg 30&#39; 12.35&quot; N");
        }
        if (after.contains("XMP-exif:GPSLongitude")) {
            EXPECT_EQ(value("XMP-exif:GPSLongitude"), "0 deg 1&#39; 48.00&quot; W");
        }

        TExifData reread;
        reread.LoadFromJPEG(photo.after.string());
        EXPECT_EQ(reread.GPSLatitude().AsString(), "51,30,7716/625N");
        EXPECT_EQ(reread.GPSLongitude().AsString(), "0,1,48W");
        EXPECT_EQ(reread.GPSDateTimeUTC(), EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
    }
}

}  // namespace
}  // namespace zeloro
