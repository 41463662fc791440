// The position taken out of a TIFF-based RAW the way it was written: the run's GPS tags leave, every other
// byte below the old end stays but for one pointer, and putting back the recorded pointer and size gives
// the tagged file byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "TiffFixture.h"
#include "common/Error.h"
#include "metadata/ExifData.h"
#include "rawfile/RawGpsWrite.h"
#include "rawfile/TiffLayout.h"
#include "support/ExifRead.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

constexpr std::initializer_list<std::uint16_t> kRunTags{1, 2, 3, 4, 5, 6, 7, 0x1D};

std::size_t EntriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TiffLayout LayoutOf(const Bytes& bytes) { return ReadTiffLayout(MemoryTiffSource(bytes)); }

const TiffEntry* FindEntry(const TiffDirectory& directory, std::uint16_t tag) {
    const auto found = std::find_if(directory.entries.begin(), directory.entries.end(),
                                    [tag](const TiffEntry& entry) { return entry.tag == tag; });
    return found == directory.entries.end() ? nullptr : &*found;
}

// What an undo does with the recorded write: the old pointer back, the file cut to its old size.
Bytes PutBack(Bytes bytes, const RawWriteDone& done) {
    std::copy(done.oldPointer.begin(), done.oldPointer.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(done.pointerOffset));
    bytes.resize(static_cast<std::size_t>(done.oldSize));
    return bytes;
}

struct RemoveCase {
    const char* name;
    bool bigEndian;
    bool cameraGps;  // the camera wrote a GPS directory (with a map datum that is no tag of the run)
    bool dropDatum;  // ... without its map datum, so only the version stays
};

class RawGpsRemove : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(RawGpsRemove, TakesOutTheRunsTagsAndUndoGivesTheTaggedFileBack) {
    const RemoveCase& c = GetParam();
    test::TempDir dir;
    const fs::path path = dir / "IMG_0001.dng";
    test::FixtureTiff tiff = test::CameraTiff(c.bigEndian, c.cameraGps);
    if (c.dropDatum) {
        auto& gpsEntries = tiff.ifds[3].entries;
        gpsEntries.erase(std::remove_if(gpsEntries.begin(), gpsEntries.end(),
                                        [](const test::FixtureEntry& e) { return e.tag == 0x12; }),
                         gpsEntries.end());
    }
    test::WriteFileBytes(path, test::BuildTiff(tiff));
    TExifData gps;
    test::FillTestPosition(gps, true);
    WriteGpsIntoRaw(path.string(), gps, false, false);
    const Bytes tagged = test::ReadFileBytes(path);
    const TiffLayout old = LayoutOf(tagged);
    ASSERT_TRUE(old.gpsEntry);

    const std::optional<RawWriteDone> done = RemoveGpsFromRaw(path.string(), false, false, false);

    ASSERT_TRUE(done);
    const Bytes removed = test::ReadFileBytes(path);
    EXPECT_EQ(done->oldSize, tagged.size());
    ASSERT_GT(removed.size(), tagged.size());
    const bool keepsDirectory = c.cameraGps && !c.dropDatum;
    EXPECT_EQ(done->pointerOffset, keepsDirectory ? old.ifd0.entries[*old.gpsEntry].at + 8 : 4U);
    for (std::size_t i = 0; i < tagged.size(); ++i) {
        if (i < done->pointerOffset || i >= done->pointerOffset + 4) {
            ASSERT_EQ(removed[i], tagged[i]) << "byte " << i << " changed outside the pointer";
        }
    }
    EXPECT_FALSE(std::equal(done->oldPointer.begin(), done->oldPointer.end(),
                            removed.begin() + static_cast<std::ptrdiff_t>(done->pointerOffset)));
    EXPECT_EQ(EntriesIn(dir.path()), 1U) << "the journal is gone";

    const TiffLayout now = LayoutOf(removed);
    if (keepsDirectory) {
        ASSERT_TRUE(now.gpsEntry);
        EXPECT_GE(now.gps.offset, tagged.size());
        for (const std::uint16_t tag : kRunTags) {
            EXPECT_EQ(FindEntry(now.gps, tag), nullptr) << "GPS tag " << tag;
        }
        ASSERT_EQ(now.gps.entries.size(), 2U);
        EXPECT_EQ(FindEntry(now.gps, 0)->value, FindEntry(old.gps, 0)->value);
        EXPECT_EQ(FindEntry(now.gps, 0x12)->value, FindEntry(old.gps, 0x12)->value);
        EXPECT_EQ(now.ifd0.offset, old.ifd0.offset);
    } else {
        // IFD0's copy without its GPSInfo entry: the other entries as they were, the chain on as it was.
        EXPECT_FALSE(now.gpsEntry);
        EXPECT_GE(now.ifd0.offset, tagged.size());
        EXPECT_EQ(now.ifd0.next, old.ifd0.next);
        ASSERT_EQ(now.ifd0.entries.size(), old.ifd0.entries.size() - 1);
        std::size_t o = 0;
        for (const TiffEntry& entry : now.ifd0.entries) {
            if (old.ifd0.entries[o].tag == kGpsInfoTag) {
                ++o;
            }
            const TiffEntry& was = old.ifd0.entries[o++];
            EXPECT_EQ(entry.tag, was.tag);
            EXPECT_EQ(entry.type, was.type);
            EXPECT_EQ(entry.count, was.count);
            EXPECT_EQ(entry.value, was.value);
        }
    }
    EXPECT_TRUE(test::BytesEqual(PutBack(removed, *done), tagged));

    // Once out, there is nothing left to take: the file stays as it is.
    EXPECT_FALSE(RemoveGpsFromRaw(path.string(), false, false, false));
    EXPECT_TRUE(test::BytesEqual(removed, test::ReadFileBytes(path)));
}

INSTANTIATE_TEST_SUITE_P(Directories, RawGpsRemove,
                         ::testing::Values(RemoveCase{"LittleEndianRunOnly", false, false, false},
                                           RemoveCase{"BigEndianRunOnly", true, false, false},
                                           RemoveCase{"LittleEndianCameraDatumStays", false, true, false},
                                           RemoveCase{"BigEndianCameraDatumStays", true, true, false},
                                           RemoveCase{"BigEndianCameraVersionOnly", true, true, true}),
                         [](const ::testing::TestParamInfo<RemoveCase>& param) { return param.param.name; });

TEST(RawGpsRemoveNothing, AFileWithoutTheRunsTagsIsNotTouched) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0002.nef";
    test::FixtureTiff tiff = test::CameraTiff(false, true);
    tiff.ifds[3].entries.erase(tiff.ifds[3].entries.begin() + 1, tiff.ifds[3].entries.begin() + 4);
    const Bytes before = test::BuildTiff(tiff);
    test::WriteFileBytes(path, before);
    EXPECT_FALSE(RemoveGpsFromRaw(path.string(), false, false, false));
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    const Bytes withoutGps = test::BuildTiff(test::CameraTiff(false, false));
    test::WriteFileBytes(path, withoutGps);
    EXPECT_FALSE(RemoveGpsFromRaw(path.string(), false, false, false));
    EXPECT_TRUE(test::BytesEqual(withoutGps, test::ReadFileBytes(path)));
}

TEST(RawGpsRemoveDryRun, OnlyReadsTheFile) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0003.dng";
    const Bytes before = test::BuildTiff(test::CameraTiff(true, true));
    test::WriteFileBytes(path, before);
    EXPECT_TRUE(RemoveGpsFromRaw(path.string(), false, false, true));
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
}

class RawGpsRemoveFailure : public ::testing::TestWithParam<RawWriteStep> {};

TEST_P(RawGpsRemoveFailure, PutsTheFileBack) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0004.cr2";
    const Bytes before = test::BuildTiff(test::CameraTiff(false, true));
    test::WriteFileBytes(path, before);
    SetRawWriteHook([step = GetParam()](RawWriteStep at) { return at == step ? ENOSPC : 0; });
    EXPECT_THROW(static_cast<void>(RemoveGpsFromRaw(path.string(), false, true, false)), Error);
    SetRawWriteHook({});
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

INSTANTIATE_TEST_SUITE_P(Steps, RawGpsRemoveFailure,
                         ::testing::Values(RawWriteStep::journal, RawWriteStep::append,
                                           RawWriteStep::switchPointer, RawWriteStep::times));

// Real cameras' files, tagged and then cleared: exiftool finds no position, and every other tag as in the
// camera's file; the recorded pointer and size give back the tagged file.
class RawGpsRemoveShared : public ::testing::TestWithParam<const char*> {};

TEST_P(RawGpsRemoveShared, ExiftoolFindsNoPositionAndEverythingElseAsBefore) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    const fs::path source = test::SharedTestData() / "formats" / GetParam();
    ASSERT_TRUE(fs::is_regular_file(source)) << source;
    test::TempDir dir;
    const fs::path path = dir.path() / source.filename();
    test::WriteFileBytes(path, test::ReadFileBytes(source));
    const std::vector<std::string> dump = test::ExiftoolDumpWithoutGps(path);
    ASSERT_GT(dump.size(), 20U) << "exiftool read next to nothing";
    TExifData gps;
    test::FillTestPosition(gps, true);
    WriteGpsIntoRaw(path.string(), gps, false, false);
    const Bytes tagged = test::ReadFileBytes(path);

    const std::optional<RawWriteDone> done = RemoveGpsFromRaw(path.string(), false, false, false);

    ASSERT_TRUE(done);
    EXPECT_EQ(test::ExiftoolDumpWithoutGps(path), dump);
    EXPECT_EQ(test::ExiftoolValues(
                  path, {"-GPSLatitude", "-GPSLongitude", "-GPSDateStamp", "-GPSTimeStamp", "-GPSAltitude"}),
              (std::vector<std::string>{"-", "-", "-", "-", "-"}));
    EXPECT_TRUE(test::BytesEqual(PutBack(test::ReadFileBytes(path), *done), tagged));
}

INSTANTIATE_TEST_SUITE_P(Cameras, RawGpsRemoveShared,
                         ::testing::Values("et_DNG.dng", "et_Nikon.nef", "et_CanonRaw.cr2",
                                           "et_Panasonic.rw2"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; },
                                 '_');
                             return name;
                         });

}  // namespace
}  // namespace zeloro
