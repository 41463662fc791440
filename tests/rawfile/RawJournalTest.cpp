// A RAW write killed at each step, and the next run's repair from its journal: the old bytes exactly, or
// the new file; journals the write cannot have made are left alone with the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "TiffFixture.h"
#include "filesafe/SaveJournal.h"
#include "metadata/ExifData.h"
#include "rawfile/RawGpsWrite.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

constexpr timespec kOldTime{1000000000, 123456789};

timespec MtimeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtim;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// A folder with one RAW file, its time set to an old one.
struct RawFolder {
    test::TempDir dir;
    fs::path path = dir / "IMG_0100.dng";
    fs::path journal = dir / RawJournalName("IMG_0100.dng");
    Bytes before = test::BuildTiff(test::CameraTiff(false, false));
    RawFolder() {
        test::WriteFileBytes(path, before);
        const std::array<timespec, 2> times{kOldTime, kOldTime};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), 0), 0);
    }
    [[nodiscard]] ScannedAs Scanned(const std::string& name) const {
        return name == path.string() ? ScannedAs::photo : ScannedAs::other;
    }
};

// The write run in a child process that ends, as a kill would, right after the step: no destructor, no
// clean-up. True when the child got there.
bool KilledAfter(RawWriteStep step, const fs::path& path, bool followLink = false) {
    const pid_t child = ::fork();
    if (child == 0) {
        SetRawWriteHook([step](RawWriteStep at) {
            if (at == step) {
                ::_exit(0);
            }
            return 0;
        });
        try {
            TExifData gps;
            test::FillTestPosition(gps, true);
            WriteGpsIntoRaw(path.string(), gps, followLink, true);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(3);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// What the write gives when nothing stops it.
Bytes WrittenWhole(const Bytes& before) {
    test::TempDir dir;
    const fs::path path = dir / "reference.dng";
    test::WriteFileBytes(path, before);
    TExifData gps;
    test::FillTestPosition(gps, true);
    WriteGpsIntoRaw(path.string(), gps, false, true);
    return test::ReadFileBytes(path);
}

struct KillCase {
    const char* name;
    RawWriteStep step;
    bool finished;  // the pointer was switched: the new file stays
};

class RawWriteKilled : public ::testing::TestWithParam<KillCase> {};

TEST_P(RawWriteKilled, TheRepairGivesTheOldBytesOrTheNewFile) {
    const KillCase& c = GetParam();
    RawFolder folder;
    ASSERT_TRUE(KilledAfter(c.step, folder.path));
    ASSERT_TRUE(fs::exists(folder.journal));

    const UndoneSave undone = RecoverRawWrite(
        folder.journal.string(), [&folder](const std::string& name) { return folder.Scanned(name); });

    EXPECT_EQ(undone.reason, "");
    EXPECT_EQ(undone.path, folder.path.string());
    EXPECT_EQ(undone.finished, c.finished);
    EXPECT_EQ(undone.restored, !c.finished);
    const Bytes expected = c.finished ? WrittenWhole(folder.before) : folder.before;
    EXPECT_TRUE(test::BytesEqual(expected, test::ReadFileBytes(folder.path)));
    // The old time: the old file's own, or the one the write was asked to keep.
    EXPECT_TRUE(SameTime(MtimeOf(folder.path), kOldTime));
    EXPECT_FALSE(fs::exists(folder.journal));
}

INSTANTIATE_TEST_SUITE_P(Steps, RawWriteKilled,
                         ::testing::Values(KillCase{"AfterJournal", RawWriteStep::journal, false},
                                           KillCase{"AfterAppend", RawWriteStep::append, false},
                                           KillCase{"AfterSwitch", RawWriteStep::switchPointer, true},
                                           KillCase{"AfterTimes", RawWriteStep::times, true}),
                         [](const ::testing::TestParamInfo<KillCase>& param) { return param.param.name; });

// A file reached through a link the scan saw has its journal beside the link, where the next run looks.
TEST(RawJournal, ThroughALinkTheJournalLiesBesideTheLink) {
    test::TempDir dir;
    fs::create_directory(dir / "store");
    const fs::path target = dir / "store" / "IMG_0102.nef";
    const fs::path link = dir / "IMG_0102.nef";
    const Bytes before = test::BuildTiff(test::CameraTiff(true, true));
    test::WriteFileBytes(target, before);
    fs::create_symlink(target, link);
    ASSERT_TRUE(KilledAfter(RawWriteStep::append, link, true));
    const fs::path journal = dir / RawJournalName("IMG_0102.nef");
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_FALSE(fs::exists(dir / "store" / RawJournalName("IMG_0102.nef")));

    const UndoneSave asFile = RecoverRawWrite(journal.string(), [&](const std::string& name) {
        return name == link.string() ? ScannedAs::photo : ScannedAs::other;
    });
    EXPECT_FALSE(asFile.restored);
    EXPECT_EQ(asFile.reason, "unter dem Namen liegt eine andere Datei");
    const UndoneSave undone = RecoverRawWrite(journal.string(), [&](const std::string& name) {
        return name == link.string() ? ScannedAs::photoLink : ScannedAs::other;
    });
    EXPECT_TRUE(undone.restored) << undone.reason;
    EXPECT_TRUE(test::BytesEqual(before, test::ReadFileBytes(target)));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(journal));
}

struct UntrustedCase {
    const char* name;
    // Changes the folder a write killed after its append left; returns what the file must then hold.
    std::function<void(RawFolder&)> change;
    bool scannedAsPhoto;
    const char* reason;
};

class RawJournalUntrusted : public ::testing::TestWithParam<UntrustedCase> {};

TEST_P(RawJournalUntrusted, LeavesFileAndJournalAlone) {
    const UntrustedCase& c = GetParam();
    RawFolder folder;
    ASSERT_TRUE(KilledAfter(RawWriteStep::append, folder.path));
    c.change(folder);
    const Bytes file = test::ReadFileBytes(folder.path);
    const Bytes journal = test::ReadFileBytes(folder.journal);

    const UndoneSave undone = RecoverRawWrite(folder.journal.string(), [&](const std::string& name) {
        return c.scannedAsPhoto ? folder.Scanned(name) : ScannedAs::other;
    });

    EXPECT_FALSE(undone.restored);
    EXPECT_FALSE(undone.finished);
    EXPECT_NE(undone.reason.find(c.reason), std::string::npos) << undone.reason;
    EXPECT_TRUE(test::BytesEqual(file, test::ReadFileBytes(folder.path)));
    EXPECT_TRUE(test::BytesEqual(journal, test::ReadFileBytes(folder.journal)));
}

INSTANTIATE_TEST_SUITE_P(
    Planted, RawJournalUntrusted,
    ::testing::Values(
        UntrustedCase{"NotPrivate", [](RawFolder& f) { ::chmod(f.journal.c_str(), 0644); }, true,
                      "nicht von diesem"},
        UntrustedCase{"TwoNames", [](RawFolder& f) { fs::create_hard_link(f.journal, f.dir / "other"); },
                      true, "nicht von diesem"},
        UntrustedCase{"NotOfTheScan", [](RawFolder&) {}, false, "kein Bild, das der Lauf gefunden hat"},
        UntrustedCase{"Damaged",
                      [](RawFolder& f) {
                          Bytes bytes = test::ReadFileBytes(f.journal);
                          bytes.pop_back();
                          test::WriteFileBytes(f.journal, bytes);
                          ::chmod(f.journal.c_str(), 0600);
                      },
                      true, "beschädigt"},
        UntrustedCase{"ForAnotherName",
                      [](RawFolder& f) {
                          fs::rename(f.journal, f.dir / RawJournalName("IMG_0101.dng"));
                          f.journal = f.dir / RawJournalName("IMG_0101.dng");
                      },
                      true, "beschädigt"},
        UntrustedCase{"FileChangedSince",
                      [](RawFolder& f) {
                          Bytes bytes = test::ReadFileBytes(f.path);
                          bytes.back() ^= 0xFFU;
                          test::WriteFileBytes(f.path, bytes);
                      },
                      true, "verändert"},
        UntrustedCase{"FileGrownSince",
                      [](RawFolder& f) {
                          Bytes bytes = test::ReadFileBytes(f.path);
                          bytes.resize(bytes.size() + 4096, 7);
                          test::WriteFileBytes(f.path, bytes);
                      },
                      true, "verändert"},
        UntrustedCase{"AnotherFileUnderTheName",
                      [](RawFolder& f) {
                          // The file kept under another name, so that its inode cannot be the new one's.
                          const Bytes bytes = test::ReadFileBytes(f.path);
                          fs::rename(f.path, f.dir / "kept");
                          test::WriteFileBytes(f.dir / "copy", bytes);
                          fs::rename(f.dir / "copy", f.path);
                      },
                      true, "andere Datei"}),
    [](const ::testing::TestParamInfo<UntrustedCase>& param) { return param.param.name; });

TEST(RawJournal, NamesAreHiddenBesideTheFileAndShortForLongNames) {
    EXPECT_EQ(RawJournalName("IMG_1.NEF"), ".IMG_1.NEF.zeloro-raw-gps");
    EXPECT_TRUE(IsRawJournalName(RawJournalName("IMG_1.NEF")));
    EXPECT_FALSE(IsSaveJournalName(RawJournalName("IMG_1.NEF")));
    EXPECT_FALSE(IsRawJournalName(".zeloro-raw-gps"));
    EXPECT_FALSE(IsRawJournalName("IMG_1.NEF"));
    const std::string longName = std::string(255 - 4, 'a') + ".NEF";
    EXPECT_LE(RawJournalName(longName).size(), 255U);
    EXPECT_NE(RawJournalName(longName), RawJournalName(std::string(255 - 4, 'a') + ".ARW"));
}

}  // namespace
}  // namespace zeloro
