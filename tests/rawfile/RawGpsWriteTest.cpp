// The GPS write into TIFF-based RAW files: only the tail and one pointer change, damaged files are refused
// untouched, failures put the file back, and exiftool reads real cameras' files as before plus the position.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TiffFixture.h"
#include "common/Error.h"
#include "filesafe/FolderReplace.h"
#include "metadata/ExifData.h"
#include "rawfile/RawGpsWrite.h"
#include "rawfile/TiffLayout.h"
#include "support/ExifRead.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

struct HookGuard {
    explicit HookGuard(RawWriteHook hook) { SetRawWriteHook(std::move(hook)); }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;
    ~HookGuard() { SetRawWriteHook({}); }
};

timespec MtimeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtim;
}

// An old time to the nanosecond, so that a kept time cannot be the write's own by chance.
void SetOldTime(const fs::path& path) {
    const std::array<timespec, 2> times{timespec{1000000000, 123456789}, timespec{1000000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), 0), 0);
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

std::size_t EntriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TiffLayout LayoutOf(const Bytes& bytes) { return ReadTiffLayout(MemoryTiffSource(bytes)); }

// Where the write may change a byte of the old file: the four bytes of the pointer that makes it live.
std::uint64_t PointerOffset(const TiffLayout& old) {
    return old.gpsEntry ? old.ifd0.entries[*old.gpsEntry].at + 8 : 4;
}

// Every byte of the old file is as it was but for the four of the pointer, which changed.
::testing::AssertionResult OnlyThePointerChanged(const Bytes& before, const Bytes& after,
                                                 std::uint64_t pointer) {
    if (after.size() <= before.size()) {
        return ::testing::AssertionFailure() << "the file did not grow: " << after.size();
    }
    bool changed = false;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const bool inPointer = i >= pointer && i < pointer + 4;
        if (before[i] != after[i] && !inPointer) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " changed outside the pointer at " << pointer;
        }
        changed = changed || (inPointer && before[i] != after[i]);
    }
    return changed ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "the pointer did not change";
}

const TiffEntry* FindEntry(const TiffDirectory& directory, std::uint16_t tag) {
    for (const TiffEntry& entry : directory.entries) {
        if (entry.tag == tag) {
            return &entry;
        }
    }
    return nullptr;
}

struct LayoutCase {
    const char* name;
    bool bigEndian;
    bool hadGps;
};

class RawGpsWriteLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(RawGpsWriteLayout, AppendsTheDirectoryAndSwitchesOnePointer) {
    const LayoutCase& c = GetParam();
    test::TempDir dir;
    const fs::path path = dir / "IMG_0001.dng";
    const Bytes before = test::BuildTiff(test::CameraTiff(c.bigEndian, c.hadGps));
    test::WriteFileBytes(path, before);
    SetOldTime(path);
    const timespec oldTime = MtimeOf(path);
    TExifData gps;
    test::FillTestPosition(gps, !c.hadGps);

    WriteGpsIntoRaw(path.string(), gps, false, true);

    const Bytes after = test::ReadFileBytes(path);
    const TiffLayout old = LayoutOf(before);
    EXPECT_TRUE(OnlyThePointerChanged(before, after, PointerOffset(old)));
    EXPECT_TRUE(SameTime(MtimeOf(path), oldTime));
    EXPECT_EQ(EntriesIn(dir.path()), 1U) << "the journal is gone";

    const TiffLayout now = LayoutOf(after);
    ASSERT_TRUE(now.gpsEntry);
    EXPECT_GE(now.gps.offset, before.size());
    EXPECT_EQ(now.gps.offset % 2, 0U);
    if (c.hadGps) {
        EXPECT_EQ(now.ifd0.offset, old.ifd0.offset) << "IFD0 stays where it is";
    } else {
        // IFD0's copy: the old entries, values where they lay, and the GPSInfo entry in tag order.
        EXPECT_GE(now.ifd0.offset, before.size());
        EXPECT_EQ(now.ifd0.next, old.ifd0.next);
        ASSERT_EQ(now.ifd0.entries.size(), old.ifd0.entries.size() + 1);
        std::size_t o = 0;
        for (const TiffEntry& entry : now.ifd0.entries) {
            if (entry.tag == kGpsInfoTag) {
                EXPECT_EQ(TiffGet32(entry.value.data(), c.bigEndian), now.gps.offset);
                continue;
            }
            const TiffEntry& was = old.ifd0.entries[o++];
            EXPECT_EQ(entry.tag, was.tag);
            EXPECT_EQ(entry.type, was.type);
            EXPECT_EQ(entry.count, was.count);
            EXPECT_EQ(entry.value, was.value);
        }
        EXPECT_LT(FindEntry(now.ifd0, 0x8769)->at, FindEntry(now.ifd0, kGpsInfoTag)->at);
    }
    // The GPS tags the run writes, and the old directory's others with their values where they lay.
    for (const std::uint16_t tag : std::initializer_list<std::uint16_t>{0, 1, 2, 3, 4, 6, 7, 29}) {
        EXPECT_NE(FindEntry(now.gps, tag), nullptr) << "GPS tag " << tag;
    }
    if (c.hadGps) {
        EXPECT_EQ(FindEntry(now.gps, 0x12)->value, FindEntry(old.gps, 0x12)->value);
        EXPECT_EQ(FindEntry(now.gps, 0)->value, FindEntry(old.gps, 0)->value) << "the old version stays";
        EXPECT_EQ(FindEntry(now.gps, 6)->value, FindEntry(old.gps, 6)->value);
    }

    if (!test::HaveExiftool()) {
        GTEST_SKIP() << "exiftool is not installed; the layout was checked";
    }
    const fs::path original = dir / "original.dng";
    test::WriteFileBytes(original, before);
    EXPECT_EQ(test::ExiftoolDumpWithoutGps(original), test::ExiftoolDumpWithoutGps(path));
    EXPECT_EQ(test::ExiftoolBinary(original, "ThumbnailImage"), test::ExiftoolBinary(path, "ThumbnailImage"));
    const std::vector<std::string> v =
        test::ExiftoolValues(path, {"-GPSLatitude", "-GPSLongitude", "-GPSDateStamp", "-GPSTimeStamp",
                                    "-GPSVersionID", "-GPSAltitude", "-GPSMapDatum"});
    ASSERT_EQ(v.size(), 7U);
    EXPECT_NEAR(std::stod(v[0]), test::kTestLatitude, 1e-6);
    EXPECT_NEAR(std::stod(v[1]), test::kTestLongitude, 1e-6);
    EXPECT_EQ(v[2] + " " + v[3], "2024:06:15 08:00:30");
    EXPECT_EQ(v[4], c.hadGps ? "2 2 0 0" : "2 3 0 0");
    EXPECT_EQ(v[5], c.hadGps ? "123.4" : "58.5");
    EXPECT_EQ(v[6], c.hadGps ? "WGS-84" : "-");
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, RawGpsWriteLayout,
                         ::testing::Values(LayoutCase{"LittleEndianNewGps", false, false},
                                           LayoutCase{"LittleEndianOldGps", false, true},
                                           LayoutCase{"BigEndianNewGps", true, false},
                                           LayoutCase{"BigEndianOldGps", true, true}),
                         [](const ::testing::TestParamInfo<LayoutCase>& param) { return param.param.name; });

TEST(RawGpsWrite, ASecondWriteSwitchesOnlyTheGpsPointer) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0002.nef";
    test::WriteFileBytes(path, test::BuildTiff(test::CameraTiff(true, false)));
    TExifData gps;
    test::FillTestPosition(gps, false);
    WriteGpsIntoRaw(path.string(), gps, false, false);
    const Bytes first = test::ReadFileBytes(path);
    const TiffLayout once = LayoutOf(first);

    WriteGpsIntoRaw(path.string(), gps, false, false);

    const Bytes second = test::ReadFileBytes(path);
    EXPECT_TRUE(OnlyThePointerChanged(first, second, PointerOffset(once)));
    const TiffLayout twice = LayoutOf(second);
    EXPECT_EQ(twice.ifd0.offset, once.ifd0.offset) << "no second copy of IFD0";
    EXPECT_EQ(twice.gps.entries.size(), once.gps.entries.size());
}

// A GPSInfo entry that points nowhere is the pointer itself: IFD0 stays, the directory is made new.
TEST(RawGpsWrite, AZeroGpsPointerIsSwitchedWhereItIs) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0008.tif";
    test::FixtureTiff tiff = test::CameraTiff(false, false);
    tiff.ifds[0].entries.push_back(test::LongEntry(tiff, kGpsInfoTag, 0));
    const Bytes before = test::BuildTiff(tiff);
    test::WriteFileBytes(path, before);
    TExifData gps;
    test::FillTestPosition(gps, false);

    WriteGpsIntoRaw(path.string(), gps, false, false);

    const Bytes after = test::ReadFileBytes(path);
    const TiffLayout old = LayoutOf(before);
    EXPECT_TRUE(OnlyThePointerChanged(before, after, PointerOffset(old)));
    const TiffLayout now = LayoutOf(after);
    EXPECT_EQ(now.ifd0.offset, old.ifd0.offset);
    ASSERT_NE(FindEntry(now.gps, 0), nullptr);
    EXPECT_EQ(FindEntry(now.gps, 0)->value, (std::array<std::uint8_t, 4>{2, 3, 0, 0}));
}

struct RefusedCase {
    const char* name;
    std::function<Bytes()> build;
    const char* reason;
};

Bytes Built(const std::function<void(test::FixtureTiff&)>& change, bool withGps = true) {
    test::FixtureTiff tiff = test::CameraTiff(false, withGps);
    change(tiff);
    return test::BuildTiff(tiff);
}

class RawGpsWriteRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RawGpsWriteRefused, LeavesTheFileAsItWas) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0003.orf";
    const Bytes before = GetParam().build();
    test::WriteFileBytes(path, before);
    SetOldTime(path);
    TExifData gps;
    test::FillTestPosition(gps, true);
    try {
        WriteGpsIntoRaw(path.string(), gps, false, false);
        FAIL() << "written";
    } catch (const RawFileRefused& refused) {
        EXPECT_NE(refused.Reason().find(GetParam().reason), std::string::npos) << refused.Reason();
        EXPECT_EQ(std::string(refused.what()),
                  "Datei " + path.string() + " wurde nicht in der Datei getaggt: " + refused.Reason());
    }
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    EXPECT_TRUE(SameTime(MtimeOf(path), timespec{1000000000, 123456789}));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, RawGpsWriteRefused,
    ::testing::Values(
        RefusedCase{"Raf",
                    [] {
                        const std::string head = "FUJIFILMCCD-RAW 0201FF383501";
                        return Bytes(head.begin(), head.end());
                    },
                    "keine TIFF-Datei"},
        RefusedCase{"BigTiff", [] { return Built([](test::FixtureTiff& tiff) { tiff.magic = 43; }); },
                    "BigTIFF"},
        RefusedCase{"OtherMagic", [] { return Built([](test::FixtureTiff& tiff) { tiff.magic = 41; }); },
                    "keine TIFF-Datei"},
        RefusedCase{"Ifd0PastTheEnd",
                    [] {
                        Bytes bytes = Built([](test::FixtureTiff& /*unchanged*/) {});
                        bytes[4] = 0xF0;
                        bytes[5] = 0xFF;
                        return bytes;
                    },
                    "Verzeichnis reicht über das Dateiende"},
        RefusedCase{"ValuePastTheEnd",
                    [] {
                        return Built([](test::FixtureTiff& tiff) {
                            tiff.ifds[0].entries.insert(
                                tiff.ifds[0].entries.begin() + 2,
                                test::FixtureEntry{0x010E, 2, 100, {}, -1, -1, -1, 0x7000});
                        });
                    },
                    "Wert reicht über das Dateiende"},
        // The header's pointer to IFD0 is the one switched, but a value covers it: the value would change.
        RefusedCase{"ValueOverTheSwitchedPointer",
                    [] {
                        return Built(
                            [](test::FixtureTiff& tiff) {
                                tiff.ifds[0].entries.insert(
                                    tiff.ifds[0].entries.begin() + 2,
                                    test::FixtureEntry{0x010E, 2, 8, {}, -1, -1, -1, 2});
                            },
                            false);
                    },
                    "liegt in anderen Daten"},
        // IFD0 holds as many entries as a directory can: its copy could not take the GPSInfo entry.
        RefusedCase{"FullIfd0",
                    [] {
                        return Built(
                            [](test::FixtureTiff& tiff) {
                                while (tiff.ifds[0].entries.size() < 0xFFFF) {
                                    tiff.ifds[0].entries.push_back(test::ShortEntry(tiff, 0xC000, 1));
                                }
                            },
                            false);
                    },
                    "zu groß"},
        RefusedCase{"CutFile",
                    [] {
                        Bytes bytes = Built([](test::FixtureTiff& /*unchanged*/) {});
                        bytes.resize(bytes.size() - 4);
                        return bytes;
                    },
                    "abgeschnitten"},
        RefusedCase{"ChainLoop", [] { return Built([](test::FixtureTiff& tiff) { tiff.ifds[1].next = 0; }); },
                    "im Kreis"},
        RefusedCase{"ExifPointsAtIfd0",
                    [] { return Built([](test::FixtureTiff& tiff) { tiff.ifds[0].entries[7].ifd = 0; }); },
                    "im Kreis"},
        RefusedCase{"EmptyIfd0",
                    [] { return Built([](test::FixtureTiff& tiff) { tiff.ifds[0].entries.clear(); }); },
                    "ist leer"},
        RefusedCase{"GpsPointerOfTwo",
                    [] { return Built([](test::FixtureTiff& tiff) { tiff.ifds[0].entries[8].count = 2; }); },
                    "GPS-Daten"}),
    [](const ::testing::TestParamInfo<RefusedCase>& param) { return param.param.name; });

struct FailedStep {
    const char* name;
    RawWriteStep step;
};

class RawGpsWriteFailure : public ::testing::TestWithParam<FailedStep> {};

TEST_P(RawGpsWriteFailure, PutsTheFileBack) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0004.cr2";
    const Bytes before = test::BuildTiff(test::CameraTiff(false, false));
    test::WriteFileBytes(path, before);
    SetOldTime(path);
    TExifData gps;
    test::FillTestPosition(gps, false);
    const HookGuard guard([step = GetParam().step](RawWriteStep at) { return at == step ? ENOSPC : 0; });
    EXPECT_THROW(WriteGpsIntoRaw(path.string(), gps, false, true), Error);
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    EXPECT_TRUE(SameTime(MtimeOf(path), timespec{1000000000, 123456789}));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

INSTANTIATE_TEST_SUITE_P(Steps, RawGpsWriteFailure,
                         ::testing::Values(FailedStep{"Journal", RawWriteStep::journal},
                                           FailedStep{"Append", RawWriteStep::append},
                                           FailedStep{"Switch", RawWriteStep::switchPointer},
                                           FailedStep{"Times", RawWriteStep::times}),
                         [](const ::testing::TestParamInfo<FailedStep>& param) { return param.param.name; });

TEST(RawGpsWrite, AJournalLeftBlocksTheWrite) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0005.arw";
    const Bytes before = test::BuildTiff(test::CameraTiff(false, false));
    test::WriteFileBytes(path, before);
    test::WriteFileText(dir / RawJournalName("IMG_0005.arw"), "left by a killed run");
    TExifData gps;
    test::FillTestPosition(gps, false);
    try {
        WriteGpsIntoRaw(path.string(), gps, false, false);
        FAIL() << "written";
    } catch (const FileSkippedError& skipped) {
        EXPECT_EQ(skipped.Reason(), "eine frühere Änderung an ihr ist nicht abgeschlossen");
    }
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    EXPECT_EQ(test::ReadFileText(dir / RawJournalName("IMG_0005.arw")), "left by a killed run");
    EXPECT_EQ(EntriesIn(dir.path()), 2U);
}

TEST(RawGpsWrite, ALinkIsFollowedOnlyWhenTheScanSawIt) {
    test::TempDir dir;
    fs::create_directory(dir / "store");
    const fs::path target = dir / "store" / "IMG_0006.pef";
    const fs::path link = dir / "IMG_0006.pef";
    const Bytes before = test::BuildTiff(test::CameraTiff(true, true));
    test::WriteFileBytes(target, before);
    fs::create_symlink(target, link);
    TExifData gps;
    test::FillTestPosition(gps, false);
    EXPECT_THROW(WriteGpsIntoRaw(link.string(), gps, false, false), FileSkippedError);
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(target)));

    WriteGpsIntoRaw(link.string(), gps, true, false);
    EXPECT_TRUE(OnlyThePointerChanged(before, test::ReadFileBytes(target), PointerOffset(LayoutOf(before))));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(EntriesIn(dir.path()), 2U);
    EXPECT_EQ(EntriesIn(dir / "store"), 1U);
}

TEST(RawGpsWrite, AReadOnlyFileIsNotWritten) {
    test::TempDir dir;
    const fs::path path = dir / "IMG_0007.srw";
    const Bytes before = test::BuildTiff(test::CameraTiff(false, false));
    test::WriteFileBytes(path, before);
    ::chmod(path.c_str(), 0444);
    TExifData gps;
    test::FillTestPosition(gps, false);
    try {
        WriteGpsIntoRaw(path.string(), gps, false, false);
        FAIL() << "written";
    } catch (const FileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Die Datei " + path.string() + " ist schreibgeschützt und wird nicht geändert.");
    }
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

std::string FileTestName(const ::testing::TestParamInfo<const char*>& param) {
    std::string name = param.param;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; },
        '_');
    return name;
}

// Real cameras' files: exiftool reads the position, and every other tag and each embedded preview as
// before.
class RawGpsWriteShared : public ::testing::TestWithParam<const char*> {};

TEST_P(RawGpsWriteShared, ExiftoolReadsThePositionAndEverythingElseAsBefore) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    const fs::path source = test::SharedTestData() / "formats" / GetParam();
    ASSERT_TRUE(fs::is_regular_file(source)) << source;
    test::TempDir dir;
    const fs::path path = dir.path() / source.filename();
    const Bytes before = test::ReadFileBytes(source);
    test::WriteFileBytes(path, before);
    const std::vector<std::string> dump = test::ExiftoolDumpWithoutGps(path);
    ASSERT_GT(dump.size(), 20U) << "exiftool read next to nothing";
    std::vector<Bytes> previews;
    for (const char* tag : {"PreviewImage", "JpgFromRaw", "ThumbnailImage", "ThumbnailTIFF"}) {
        previews.push_back(test::ExiftoolBinary(path, tag));
    }
    TExifData gps;
    test::FillTestPosition(gps, true);

    WriteGpsIntoRaw(path.string(), gps, false, true);

    const Bytes after = test::ReadFileBytes(path);
    EXPECT_TRUE(OnlyThePointerChanged(before, after, PointerOffset(LayoutOf(before))));
    EXPECT_EQ(test::ExiftoolDumpWithoutGps(path), dump);
    std::size_t found = 0;
    for (std::size_t i = 0;
         const char* tag : {"PreviewImage", "JpgFromRaw", "ThumbnailImage", "ThumbnailTIFF"}) {
        EXPECT_EQ(test::ExiftoolBinary(path, tag), previews[i]) << tag;
        found += previews[i++].empty() ? 0U : 1U;
    }
    EXPECT_GT(found, 0U) << "no preview to compare";
    const std::vector<std::string> v = test::ExiftoolValues(
        path, {"-GPSLatitude", "-GPSLongitude", "-GPSDateStamp", "-GPSTimeStamp", "-GPSAltitude"});
    ASSERT_EQ(v.size(), 5U);
    EXPECT_NEAR(std::stod(v[0]), test::kTestLatitude, 1e-6);
    EXPECT_NEAR(std::stod(v[1]), test::kTestLongitude, 1e-6);
    EXPECT_EQ(v[2] + " " + v[3], "2024:06:15 08:00:30");
    EXPECT_EQ(v[4], "58.5");
}

INSTANTIATE_TEST_SUITE_P(Cameras, RawGpsWriteShared,
                         ::testing::Values("et_DNG.dng", "et_Nikon.nef", "et_CanonRaw.cr2",
                                           "et_Panasonic.rw2"),
                         FileTestName);

class RawGpsWriteSharedRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(RawGpsWriteSharedRefused, IsRefusedUntouched) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    const fs::path source = test::SharedTestData() / "formats" / GetParam();
    ASSERT_TRUE(fs::is_regular_file(source)) << source;
    test::TempDir dir;
    const fs::path path = dir.path() / source.filename();
    const Bytes before = test::ReadFileBytes(source);
    test::WriteFileBytes(path, before);
    TExifData gps;
    test::FillTestPosition(gps, true);
    EXPECT_THROW(WriteGpsIntoRaw(path.string(), gps, false, false), RawFileRefused);
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(path)));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

// A Fuji RAF (no TIFF), a broken Panasonic file that once crashed a reader, a JPEG under a RAW name.
INSTANTIATE_TEST_SUITE_P(NotWritable, RawGpsWriteSharedRefused,
                         ::testing::Values("et_FujiFilm.raf", "exv_issue_839_poc.rw2",
                                           "mei_nef_Issue_247-1.nef"),
                         FileTestName);

}  // namespace
}  // namespace zeloro
