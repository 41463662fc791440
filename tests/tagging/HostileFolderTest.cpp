// tests/tagging/HostileFolderTest.cpp: a run in a folder that changes under it, or that holds links,
// FIFOs, hard links, hostile names and temporary files a killed run left; a data folder two runs want.
// Every change under the run happens at a fixed step (the save's test hook or the import's event-loop
// pass), so each case is the same on every try. Each case also checks that no file it did not mean to
// change was changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "HostileFolder.h"
#include "common/AsciiText.h"
#include "common/Error.h"
#include "metadata/ExifData.h"
#include "metadata/SafeFileWrite.h"
#include "support/TestSupport.h"
#include "tagging/FolderScan.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"
#include "trackstore/TrackStore.h"

namespace zeloro::test {
namespace {

// The photo's name, between the read and the rename, is made to lead somewhere else: the save must
// neither write through it nor over it, nor lose what another program put there.
struct SwapCase {
    const char* name;
    std::function<void(const fs::path& photo, const fs::path& elsewhere)> swap;
};

void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

class SwapBeforeRename : public HostileFolder, public ::testing::WithParamInterface<SwapCase> {};

TEST_P(SwapBeforeRename, SkipsThePhotoAndChangesNothing) {
    const fs::path photo = photos_ / "a.jpg";
    std::map<std::string, std::string> expected;
    const HookGuard hook(AtStep(SafeWriteStep::check, [&] {
        GetParam().swap(photo, elsewhere_);
        expected = WorldWithoutTemporary();
    }));
    ASSERT_EQ(Run(), RunResult::done);
    auto after = World();
    // b.jpg is saved as usual; everything else is as the swap left it.
    EXPECT_TRUE(HasGps(photos_ / "b.jpg"));
    after.erase("photos/b.jpg");
    expected.erase("photos/b.jpg");
    EXPECT_EQ(after, expected);
    EXPECT_TRUE(observer_.Logged(" - a.jpg nicht gespeichert: sie wurde nach dem Lesen verändert"));
    EXPECT_EQ(session_.MapEntries(), (std::vector<std::string>{"48.5|11.5|b.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(Race, SwapBeforeRename,
                         ::testing::Values(SwapCase{"LinkToAnyFile",
                                                    [](const fs::path& photo, const fs::path& elsewhere) {
                                                        fs::remove(photo);
                                                        fs::create_symlink(elsewhere / "secret.conf", photo);
                                                    }},
                                           SwapCase{"LinkToAnotherPhoto",
                                                    [](const fs::path& photo, const fs::path& elsewhere) {
                                                        fs::remove(photo);
                                                        fs::create_symlink(elsewhere / "other.jpg", photo);
                                                    }},
                                           SwapCase{"NewFileRenamedOver",
                                                    [](const fs::path& photo, const fs::path& /*elsewhere*/) {
                                                        WriteFileText(photo.string() + ".new",
                                                                      "edited elsewhere");
                                                        fs::rename(photo.string() + ".new", photo);
                                                    }},
                                           SwapCase{"SameFileRewritten",
                                                    [](const fs::path& photo, const fs::path& /*elsewhere*/) {
                                                        Bytes bytes = ReadFileBytes(photo);
                                                        bytes.push_back(0);
                                                        WriteFileBytes(photo, bytes);
                                                    }},
                                           SwapCase{"SecondHardLinkMade",
                                                    [](const fs::path& photo, const fs::path& elsewhere) {
                                                        fs::create_hard_link(photo, elsewhere / "a-link.jpg");
                                                    }}),
                         [](const auto& p) { return std::string(p.param.name); });

// Swapped in after the scan, before the photo is read: a link is not followed, a FIFO does not hang the run.
struct AfterScanCase {
    const char* name;
    std::function<void(const fs::path& photo, const fs::path& elsewhere)> swap;
    const char* reason;
};

void PrintTo(const AfterScanCase& c, std::ostream* os) { *os << c.name; }

class SwapAfterScan : public HostileFolder, public ::testing::WithParamInterface<AfterScanCase> {};

TEST_P(SwapAfterScan, SkipsThePhotoAndChangesNothing) {
    const fs::path photo = photos_ / "a.jpg";
    std::map<std::string, std::string> expected;
    observer_.duringImport = [&] {
        GetParam().swap(photo, elsewhere_);
        expected = World();
    };
    ASSERT_EQ(Run(), RunResult::done);
    auto after = World();
    after.erase("photos/b.jpg");
    expected.erase("photos/b.jpg");
    EXPECT_EQ(after, expected);
    EXPECT_TRUE(HasGps(photos_ / "b.jpg"));
    EXPECT_TRUE(observer_.Logged(std::string(" - a.jpg nicht gespeichert: ") + GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(
    Race, SwapAfterScan,
    ::testing::Values(AfterScanCase{"Link",
                                    [](const fs::path& photo, const fs::path& elsewhere) {
                                        fs::remove(photo);
                                        fs::create_symlink(elsewhere / "other.jpg", photo);
                                    },
                                    "sie ist eine symbolische Verknüpfung, die beim Durchsuchen des Ordners "
                                    "keine war"},
                      AfterScanCase{"Fifo",
                                    [](const fs::path& photo, const fs::path& /*elsewhere*/) {
                                        fs::remove(photo);
                                        ASSERT_EQ(::mkfifo(photo.c_str(), 0600), 0);
                                    },
                                    "sie ist keine reguläre Datei"}),
    [](const auto& p) { return std::string(p.param.name); });

// A link the folder already holds names a photo the user put there on purpose: that photo is tagged where
// it lies, and the link stays a link.
TEST_F(HostileFolder, LinkTheFolderHoldsTagsItsTargetInPlace) {
    fs::remove(photos_ / "b.jpg");
    fs::create_symlink(elsewhere_ / "other.jpg", photos_ / "b.jpg");
    auto expected = World();
    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_TRUE(fs::is_symlink(photos_ / "b.jpg"));
    EXPECT_TRUE(HasGps(elsewhere_ / "other.jpg"));
    EXPECT_TRUE(HasGps(photos_ / "a.jpg"));
    auto after = World();
    for (const char* changed : {"photos/a.jpg", "elsewhere/other.jpg"}) {
        after.erase(changed);
        expected.erase(changed);
    }
    EXPECT_EQ(after, expected);
}

// A photo with a second hard link is rewritten in place, so both names see the tagged photo: one inode,
// its mode and attributes as they were, and no journal left. So is one the folder names through a link,
// whose file (with its second name) lies elsewhere; the link stays a link.
TEST_F(HostileFolder, PhotoWithSecondHardLinkIsTaggedUnderEveryName) {
    const fs::path scanned = photos_ / "a.jpg";
    for (const bool throughLink : {false, true}) {
        for (const bool keepMtime : {false, true}) {
            SCOPED_TRACE(std::string(throughLink ? "through a link, " : "named directly, ") +
                         (keepMtime ? "keeping the modification time" : "new modification time"));
            const fs::path photo = throughLink ? elsewhere_ / "a-target.jpg" : scanned;
            const fs::path link = elsewhere_ / "a-link.jpg";
            fs::remove(scanned);
            fs::remove(link);
            WriteFileBytes(photo, Photo("2024:06:15 10:00:00"));
            if (throughLink) {
                fs::create_symlink(photo, scanned);
            }
            fs::create_hard_link(photo, link);
            fs::permissions(photo, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
            const bool rated = ::setxattr(photo.c_str(), "user.rating", "4", 1, 0) == 0;
            const timespec mtime{1'600'000'000, 123'456'789};
            const std::array<timespec, 2> times{mtime, mtime};
            ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times.data(), 0), 0);
            struct stat before {};
            ASSERT_EQ(::stat(photo.c_str(), &before), 0);
            auto expected = World();

            RunModes modes;
            modes.keepMtime = keepMtime;
            ASSERT_EQ(session_.Run({gpx_.string(), photos_.string(), 13, 0, modes}, observer_),
                      RunResult::done);
            EXPECT_TRUE(HasGps(photo));
            EXPECT_EQ(ReadFileBytes(link), ReadFileBytes(photo));
            EXPECT_EQ(fs::is_symlink(scanned), throughLink);
            struct stat after {};
            ASSERT_EQ(::stat(link.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_nlink, 2U);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_mtim.tv_sec == mtime.tv_sec && after.st_mtim.tv_nsec == mtime.tv_nsec,
                      keepMtime);
            if (rated) {
                std::array<char, 8> value{};
                EXPECT_EQ(::getxattr(link.c_str(), "user.rating", value.data(), value.size()), 1);
                EXPECT_EQ(value[0], '4');
            }
            EXPECT_TRUE(observer_.Logged(" - 48.5,11.5 getaggt!"));
            // Nothing else changed (a link as it was), and no journal is left.
            auto now = World();
            for (const std::string& changed :
                 {photo.lexically_relative(tmp_.path()).string(), std::string("photos/b.jpg"),
                  std::string("elsewhere/a-link.jpg")}) {
                now.erase(changed);
                expected.erase(changed);
            }
            EXPECT_EQ(now, expected);
        }
    }
}

// A process killed half-way through the rewrite in place leaves a half-written photo under both names and
// the journal, beside the name the folder holds (for a photo reached through a link: beside the link); the
// next run on the folder puts the original back, byte for byte, before anything else. A journal whose
// name no longer leads the way it did, or one this user did not write, is not acted on and stays.
struct KilledCase {
    const char* name;
    bool throughLink;
    std::function<void(const fs::path& scanned, const fs::path& journal, const fs::path& elsewhere)> after;
    const char* notUndone;  // nullptr: the next run restores the photo
};

void PrintTo(const KilledCase& c, std::ostream* os) { *os << c.name; }

class HardLinkedPhotoKilledHalfWay : public HostileFolder,
                                     public ::testing::WithParamInterface<KilledCase> {};

TEST_P(HardLinkedPhotoKilledHalfWay, IsRestoredByTheNextRunOnlyWhereThatIsSafe) {
    const KilledCase& c = GetParam();
    const fs::path scanned = photos_ / "a.jpg";
    const fs::path photo = c.throughLink ? elsewhere_ / "a-target.jpg" : scanned;
    const fs::path link = elsewhere_ / "a-link.jpg";
    // Shot outside the track, so the next run leaves it as restored.
    const Bytes original = Photo("2020:01:01 10:00:00");
    fs::remove(scanned);
    WriteFileBytes(photo, original);
    if (c.throughLink) {
        fs::create_symlink(photo, scanned);
    }
    fs::create_hard_link(photo, link);
    struct stat before {};
    ASSERT_EQ(::stat(photo.c_str(), &before), 0);
    Bytes tagged = Photo("2024:06:15 10:00:00");
    tagged.insert(tagged.end(), 100, 0xAB);
    ASSERT_NE(tagged.size(), original.size());
    const std::span<const std::uint8_t> whole(tagged);
    const std::span<const std::uint8_t> halves[] = {whole.first(tagged.size() / 2),
                                                    whole.subspan(tagged.size() / 2)};

    EXPECT_EXIT(
        {
            int parts = 0;
            SetSafeWriteFaultHook([&parts](SafeWriteStep step) {
                if (step == SafeWriteStep::rewrite && ++parts == 2) {
                    ::_exit(77);  // killed: nothing of the save's own clean-up runs
                }
                return 0;
            });
            const ReadFile read = ReadFileForReplacing(scanned.string(), c.throughLink);
            ReplaceReadFile(read, halves);
            ::_exit(0);
        },
        ::testing::ExitedWithCode(77), "");
    const fs::path journal = photos_ / ".a.jpg.zeloro-journal";
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_FALSE(fs::exists(elsewhere_ / ".a-target.jpg.zeloro-journal"));
    const Bytes halfWritten = ReadFileBytes(link);
    EXPECT_NE(halfWritten, original);
    EXPECT_NE(halfWritten, tagged);
    EXPECT_TRUE(std::equal(halves[0].begin(), halves[0].end(), halfWritten.begin()));

    if (c.after) {
        c.after(scanned, journal, elsewhere_);
    }
    if (c.notUndone != nullptr) {
        const Bytes journalBytes = ReadFileBytes(journal);
        const UndoneSave undone = UndoAfterScan(photos_, journal);
        EXPECT_FALSE(undone.restored);
        EXPECT_EQ(undone.path, scanned.string());
        EXPECT_EQ(undone.reason, c.notUndone);
        EXPECT_EQ(ReadFileBytes(link), halfWritten);
        EXPECT_EQ(ReadFileBytes(journal), journalBytes);
        EXPECT_EQ(ReadFileBytes(elsewhere_ / "other.jpg"), Photo("2024:06:15 10:00:00"));
        return;
    }
    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_EQ(ReadFileBytes(photo), original);
    EXPECT_EQ(ReadFileBytes(link), original);
    struct stat after {};
    ASSERT_EQ(::stat(link.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(fs::is_symlink(scanned), c.throughLink);
    EXPECT_EQ(observer_.lines.at(2),
              " - Unterbrochene Änderung an " + scanned.string() + " rückgängig gemacht.");
    EXPECT_TRUE(HasGps(photos_ / "b.jpg"));
}

// What a later hand makes of the name or the journal after the kill.
void PointAtOtherPhoto(const fs::path& scanned, const fs::path& /*journal*/, const fs::path& elsewhere) {
    fs::remove(scanned);
    fs::create_symlink(elsewhere / "other.jpg", scanned);
}

INSTANTIATE_TEST_SUITE_P(
    Kill, HardLinkedPhotoKilledHalfWay,
    ::testing::Values(
        KilledCase{"NamedDirectly", false, {}, nullptr}, KilledCase{"ThroughLink", true, {}, nullptr},
        KilledCase{"LinkNowLeadsToAnotherPhoto", true, PointAtOtherPhoto,
                   "unter dem Namen liegt eine andere Datei"},
        KilledCase{"JournalOthersMayRead", true,
                   [](const fs::path& /*scanned*/, const fs::path& journal, const fs::path& /*elsewhere*/) {
                       fs::permissions(journal, fs::perms::group_read | fs::perms::others_read,
                                       fs::perm_options::add);
                   },
                   "das Journal stammt nicht von diesem Benutzer"},
        // A journal of a photo named directly never makes the restore follow a link, not even one that
        // leads to the very file.
        KilledCase{"DirectNameNowALink", false,
                   [](const fs::path& scanned, const fs::path& /*journal*/, const fs::path& elsewhere) {
                       fs::remove(scanned);
                       fs::create_symlink(elsewhere / "a-link.jpg", scanned);
                   },
                   "sie ist eine symbolische Verknüpfung"}),
    [](const auto& p) { return std::string(p.param.name); });

// A photo with a second hard link that cannot be rewritten in place safely stays as it was under both
// names, and so does everything around it.
struct InPlaceCase {
    const char* name;
    std::function<void(const fs::path& photo)> arrange;  // before the run
    std::optional<SafeWriteStep> at;                     // the step at whose `call`th time `during` runs
    int call;
    std::function<int(const fs::path& photo)> during;  // an errno makes the step fail
    const char* logged;                                // nullptr: the run ends with a StreamError
    const char* undoLogged = nullptr;                  // about a journal found at the scan
};

void PrintTo(const InPlaceCase& c, std::ostream* os) { *os << c.name; }

class HardLinkedPhotoNotRewritten : public HostileFolder,
                                    public ::testing::WithParamInterface<InPlaceCase> {};

TEST_P(HardLinkedPhotoNotRewritten, BothNamesKeepTheOriginal) {
    const InPlaceCase& c = GetParam();
    if (std::string(c.name) == "ReadOnly" && ::geteuid() == 0) {
        GTEST_SKIP() << "root writes into a read-only file";
    }
    const fs::path photo = photos_ / "a.jpg";
    fs::create_hard_link(photo, elsewhere_ / "a-link.jpg");
    c.arrange(photo);
    auto expected = World();
    int calls = 0;
    const HookGuard hook([&](SafeWriteStep step) {
        if (!c.at || step != *c.at || ++calls != c.call) {
            return 0;
        }
        const int error = c.during(photo);
        if (error == 0) {
            // What the swap left, less the save's own journal, which must be gone after.
            expected = World();
            std::erase_if(expected, [](const auto& file) {
                return IsSaveJournalName(fs::path(file.first).filename().string());
            });
        }
        return error;
    });
    if (c.logged == nullptr) {
        EXPECT_THROW(Run(), StreamError);
    } else {
        ASSERT_EQ(Run(), RunResult::done);
        EXPECT_TRUE(observer_.Logged(std::string(" - a.jpg nicht gespeichert: ") + c.logged));
    }
    if (c.undoLogged != nullptr) {
        EXPECT_TRUE(observer_.Logged(
            " - Unterbrochene Änderung an " + photo.string() + " nicht rückgängig gemacht: " + c.undoLogged +
            "; das Journal bleibt: " + (photos_ / ".a.jpg.zeloro-journal").string()));
    }
    auto after = World();
    after.erase("photos/b.jpg");
    expected.erase("photos/b.jpg");
    EXPECT_EQ(after, expected);
}

// Another program's edit of the photo, in place, after the read.
int RewriteWithOneMoreByte(const fs::path& photo) {
    Bytes bytes = ReadFileBytes(photo);
    bytes.push_back(0);
    WriteFileBytes(photo, bytes);
    return 0;
}

// The folder names the photo through a link; the photo and its second hard link lie elsewhere.
void ReachThroughLink(const fs::path& photo) {
    const fs::path target = photo.parent_path().parent_path() / "elsewhere" / "a-target.jpg";
    fs::rename(photo, target);
    fs::create_symlink(target, photo);
}

INSTANTIATE_TEST_SUITE_P(
    Safety, HardLinkedPhotoNotRewritten,
    ::testing::Values(
        InPlaceCase{"ReadOnly",
                    [](const fs::path& photo) { fs::permissions(photo, fs::perms::owner_read); },
                    std::nullopt,
                    0,
                    {},
                    "sie hat mehrere harte Verknüpfungen und ist schreibgeschützt"},
        InPlaceCase{"NewFileRenamedOver", [](const fs::path& /*photo*/) {}, SafeWriteStep::check, 1,
                    [](const fs::path& photo) {
                        WriteFileText(photo.string() + ".new", "edited elsewhere");
                        fs::rename(photo.string() + ".new", photo);
                        return 0;
                    },
                    "sie wurde nach dem Lesen verändert"},
        InPlaceCase{"SameFileRewritten", [](const fs::path& /*photo*/) {}, SafeWriteStep::check, 1,
                    RewriteWithOneMoreByte, "sie wurde nach dem Lesen verändert"},
        // The first part is written, the second fails: the original goes back at once.
        InPlaceCase{"DiskFullHalfWay", [](const fs::path& /*photo*/) {}, SafeWriteStep::rewrite, 2,
                    [](const fs::path& /*photo*/) { return ENOSPC; }, nullptr},
        InPlaceCase{"DiskFullHalfWayThroughLink", ReachThroughLink, SafeWriteStep::rewrite, 2,
                    [](const fs::path& /*photo*/) { return ENOSPC; }, nullptr},
        // The journal lies beside the link, so the link must still lead to the photo when it is written.
        InPlaceCase{"LinkRetargetedAfterTheRead", ReachThroughLink, SafeWriteStep::check, 1,
                    [](const fs::path& photo) {
                        fs::remove(photo);
                        fs::create_symlink(photo.parent_path().parent_path() / "elsewhere" / "other.jpg",
                                           photo);
                        return 0;
                    },
                    "sie wurde nach dem Lesen verändert"},
        InPlaceCase{"LinkedPhotoRewrittenAfterTheRead", ReachThroughLink, SafeWriteStep::check, 1,
                    RewriteWithOneMoreByte, "sie wurde nach dem Lesen verändert"},
        InPlaceCase{"DamagedJournalOfAnEarlierSave",
                    [](const fs::path& photo) {
                        const fs::path journal = photo.parent_path() / ".a.jpg.zeloro-journal";
                        WriteFileText(journal, "not a journal");
                        fs::permissions(journal, fs::perms::owner_read | fs::perms::owner_write);
                    },
                    std::nullopt,
                    0,
                    {},
                    "sie hat mehrere harte Verknüpfungen, und eine frühere Änderung an ihr ist nicht "
                    "abgeschlossen",
                    "das Journal ist beschädigt"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostileFolder, ExtendedAttributesGoToTheTaggedPhoto) {
    const std::string photo = (photos_ / "a.jpg").string();
    if (::setxattr(photo.c_str(), "user.rating", "5", 1, 0) != 0) {
        GTEST_SKIP() << "the temporary folder's file system keeps no user attributes";
    }
    ASSERT_EQ(Run(), RunResult::done);
    ASSERT_TRUE(HasGps(photo));
    std::array<char, 8> value{};
    EXPECT_EQ(::getxattr(photo.c_str(), "user.rating", value.data(), value.size()), 1);
    EXPECT_EQ(value[0], '5');
}

TEST_F(HostileFolder, AttributeThatCannotBeCarriedLeavesThePhoto) {
    auto expected = World();
    const HookGuard hook([](SafeWriteStep step) { return step == SafeWriteStep::attributes ? ENOTSUP : 0; });
    EXPECT_THROW(Run(), FileError);
    EXPECT_EQ(World(), expected);
}

// A run that a photo ends says which photo it was and, where the system gave one, why: the error's own
// text stays whole between the two. The photo and everything around it stay as they were.
TEST_F(HostileFolder, ErrorThatEndsTheRunNamesThePhotoAndTheCause) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        SafeWriteStep step;
        int error;
        std::string message;
    };
    const std::string photo = (photos_ / "a.jpg").string();
    const std::vector<Case> cases = {
        {"disk full", [] {}, SafeWriteStep::write, ENOSPC,
         photo + ": Stream-Schreibfehler: kein Platz auf dem Datenträger"},
        {"close fails", [] {}, SafeWriteStep::close, EIO,
         photo + ": Stream-Schreibfehler: Ein-/Ausgabefehler"},
        {"no JPEG", [&photo] { WriteFileText(photo, "this is no JPEG at all"); }, SafeWriteStep::create, 0,
         photo + ": JPEG header is not valid"},
    };
    fs::remove(photos_ / "b.jpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const auto expected = World();
        const HookGuard hook([&c](SafeWriteStep step) { return step == c.step ? c.error : 0; });
        try {
            static_cast<void>(Run());
            ADD_FAILURE() << "the run went on";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(World(), expected);
    }
}

// The temporary file has no name until it is complete, so a process killed while writing it leaves none;
// one a killed process left in the instant between naming and renaming is removed by the next run.
TEST_F(HostileFolder, TemporaryFilesAreUnnamedAndStaleOnesRemoved) {
    std::vector<std::string> whileWriting;
    {
        const HookGuard hook(AtStep(SafeWriteStep::write, [&] {
            for (const auto& entry : fs::directory_iterator(photos_)) {
                whileWriting.push_back(entry.path().filename().string());
            }
        }));
        WriteFileText(photos_ / ".a.jpg.zeloro-Ab3xYz", "left by a killed run");
        WriteFileText(photos_ / ".a.jpg.zeloro-keep", "not ours: no six letters");
        ASSERT_EQ(Run(), RunResult::done);
    }
    std::sort(whileWriting.begin(), whileWriting.end());
    // The stale one went at the scan; the one being written has no name.
    EXPECT_EQ(whileWriting, (std::vector<std::string>{".a.jpg.zeloro-keep", "a.jpg", "b.jpg"}));
    EXPECT_FALSE(fs::exists(photos_ / ".a.jpg.zeloro-Ab3xYz"));
    EXPECT_TRUE(fs::exists(photos_ / ".a.jpg.zeloro-keep"));
    EXPECT_TRUE(observer_.Logged(" - " + (photos_ / ".a.jpg.zeloro-Ab3xYz").string() +
                                 ": temporäre Datei eines abgebrochenen Laufs entfernt"));
}

TEST_F(HostileFolder, UnreadableSubfolderIsReported) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every folder";
    }
    fs::create_directories(photos_ / "closed");
    fs::permissions(photos_ / "closed", fs::perms::none);
    ASSERT_EQ(Run(), RunResult::done);
    fs::permissions(photos_ / "closed", fs::perms::owner_all);
    EXPECT_TRUE(
        observer_.Logged(" - " + (photos_ / "closed/").string() + ": Verzeichnis kann nicht gelesen werden"));
}

TEST_F(HostileFolder, NamesReachTheLogOnOneLineEscaped) {
    const std::string name = "fake\n10.12.2026 03:00:00 - 1.0,2.0 getaggt!\x1b[2J\xff.jpg";
    fs::rename(photos_ / "a.jpg", photos_ / name);
    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_TRUE(observer_.Logged(
        " - fake\\x0A10.12.2026 03:00:00 - 1.0,2.0 getaggt!\\x1B[2J\\xFF.jpg Koordinaten gefunden:"));
    for (const std::string& line : observer_.lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
}

TEST(LogSafeText, EscapesControlsAndInvalidUtf8Only) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"IMG_0001.JPG", "IMG_0001.JPG"},
        {"Ärger über Öl – 日本 😀.jpg", "Ärger über Öl – 日本 😀.jpg"},
        {"a\nb\rc\td\x7f", "a\\x0Ab\\x0Dc\\x09d\\x7F"},
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
        {"c1 \xc2\x9b", "c1 \\xC2\\x9B"},              // the one-character CSI
        {"\xc3", "\\xC3"},                             // cut short
        {"\xc0\xaf", "\\xC0\\xAF"},                    // overlong "/"
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(LogSafeText(text), want) << want;
    }
}

// Two processes on one data folder would import into one table and look up each other's points.
TEST(DataFolderLock, SecondHolderIsRefusedUntilTheFirstEnds) {
    const TempDir tmp;
    const std::string folder = (tmp.path() / "").string();
    std::optional<DataFolderLock> first(std::in_place, folder);
    try {
        const DataFolderLock second(folder);
        ADD_FAILURE() << "the folder was taken twice";
    } catch (const DataFolderBusyError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Der Datenordner " + folder +
                      " wird bereits von einem anderen Lauf benutzt. Bitte warten Sie, "
                      "bis dieser beendet ist.");
    }
    first.reset();
    EXPECT_NO_THROW(const DataFolderLock again(folder));
}

// The window and zeloro-cli learn of a busy folder from Connect; the session then stays closed, so nothing
// of the other run's table is read or written, and it connects once the other has ended.
TEST(DataFolderLock, SessionOnABusyFolderStaysClosed) {
    const TempDir tmp;
    const std::string folder = (tmp.path() / "").string();
    {
        Connection con;
        con.Open(folder + "zeloro.sqlite");
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
    }
    std::optional<TaggingSession> first(std::in_place, folder);
    first->Connect();
    TaggingSession second(folder);
    EXPECT_THROW(second.Connect(), DataFolderBusyError);
    EXPECT_FALSE(second.Connected());
    first.reset();
    second.Connect();
    EXPECT_TRUE(second.Connected());
}

// Points in the table that no process kept on purpose come from a run that died: the next session must
// not look them up. Points kept with the mark stay until a run imports or the table is emptied.
TEST(StaleTrackPoints, AreDeletedUnlessKeptOnPurpose) {
    const TempDir tmp;
    const std::string folder = (tmp.path() / "").string();
    {
        Connection con;
        con.Open(folder + "zeloro.sqlite");
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Execute("INSERT INTO gpx VALUES ('1','2',45000), ('3','4',45001)");
    }
    const auto rows = [&folder] {
        TaggingSession session(folder);
        session.Connect();
        session.query().SetSQL("SELECT COUNT(*) AS n FROM gpx");
        session.query().Open();
        const auto n = session.query().FieldByName("n").AsInteger();
        session.query().Close();
        return std::pair{session.StaleRowsDeleted(), n};
    };
    WriteFileText(tmp / kKeptMarkFileName, "");
    EXPECT_EQ(rows(), (std::pair<long long, std::int64_t>{0, 2}));
    fs::remove(tmp / kKeptMarkFileName);
    EXPECT_EQ(rows(), (std::pair<long long, std::int64_t>{2, 0}));
    {
        TaggingSession session(folder);
        session.Connect();
        session.KeepTrackTable();
        EXPECT_TRUE(fs::exists(tmp / kKeptMarkFileName));
        EXPECT_TRUE(session.clearDatabase());
        EXPECT_FALSE(fs::exists(tmp / kKeptMarkFileName));
    }
}

}  // namespace
}  // namespace zeloro::test
