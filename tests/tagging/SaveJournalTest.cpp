// tests/tagging/SaveJournalTest.cpp: what a run does with the journals of in-place saves it finds: only
// one its own save can have made is acted on, and only on a photo in a state an interrupted rewrite can
// have left; names of any length get temporary files and journals that fit.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HostileFolder.h"
#include "metadata/SafeFileWrite.h"
#include "support/TestSupport.h"
#include "tagging/FolderScan.h"
#include "tagging/TaggingSession.h"

namespace zeloro::test {
namespace {

// Bytes that no other fixture's bytes equal at any offset, so a mix of two is never read as a third.
Bytes Pattern(std::size_t size, std::uint8_t first) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

// The save of fresh over the file at scanned (read through the link the folder holds, if it is one),
// killed after the first `at` bytes of fresh were written in place: the state a killed run leaves, journal
// and all. With `at` unset it is killed after the cut to the new length, just before the time is set. Ends
// the process (status 77 when the kill came where it should).
[[noreturn]] void RewriteAndDie(const fs::path& scanned, const Bytes& fresh, std::optional<std::size_t> at,
                                bool throughLink) {
    const std::span<const std::uint8_t> whole(fresh);
    const std::size_t split = at.value_or(fresh.size());
    const std::span<const std::uint8_t> parts[] = {whole.first(split), whole.subspan(split)};
    int calls = 0;
    SetSafeWriteFaultHook([&](SafeWriteStep step) {
        if ((at && step == SafeWriteStep::rewrite && ++calls == 2) || (!at && step == SafeWriteStep::times)) {
            ::_exit(77);  // killed: nothing of the save's own clean-up runs
        }
        return 0;
    });
    try {
        const ReadFile read = ReadFileForReplacing(scanned.string(), throughLink);
        ReplaceReadFile(read, parts, false, !at);
    } catch (const std::exception&) {
        ::_exit(1);
    }
    ::_exit(0);
}

void KillRewrite(const fs::path& scanned, const Bytes& fresh, std::optional<std::size_t> at,
                 bool throughLink = false) {
    EXPECT_EXIT(RewriteAndDie(scanned, fresh, at, throughLink), ::testing::ExitedWithCode(77), "");
}

void WriteAt(const fs::path& file, const Bytes& bytes, std::size_t offset) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

class SaveJournal : public HostileFolder {
protected:
    RunResult DryRun() {
        RunModes modes;
        modes.dryRun = true;
        return session_.Run({gpx_.string(), photos_.string(), 13, 0, modes}, observer_);
    }
    [[nodiscard]] bool LoggedKept(const fs::path& file, const std::string& reason,
                                  const fs::path& journal) const {
        return observer_.Logged(" - Unterbrochene Änderung an " + file.string() +
                                " nicht rückgängig gemacht: " + reason +
                                "; das Journal bleibt: " + journal.string());
    }

    fs::path photo_ = photos_ / "a.jpg";
    fs::path link_ = elsewhere_ / "a-link.jpg";
    fs::path journal_ = photos_ / ".a.jpg.zeloro-journal";
};

// Every state a rewrite in place, or a restore after it, can leave when killed gets the original back (the
// new content whole is a rewrite that finished and stays); any other content stays as it is, journal too.
// O: 40 bytes; N: 60 or 25 bytes. A case kills the rewrite after `at` bytes of N (unset: after the cut to
// N's length), then writes the original's first `putBack` bytes over it (a restore cut short), or edits
// the file as another program would.
TEST_F(SaveJournal, EveryStateAnInterruptedRewriteLeavesIsRestoredAndNoOther) {
    enum class Then { original, fresh, untouched };
    struct Case {
        const char* name;
        std::size_t newSize;
        std::optional<std::size_t> at;
        std::size_t putBack;
        std::function<void(const fs::path& file, const Bytes& original)> edit;
        Then then;
    };
    const auto appendByte = [](const fs::path& file, const Bytes& /*original*/) {
        Bytes bytes = ReadFileBytes(file);
        bytes.push_back(0);
        WriteAt(file, bytes, 0);
    };
    const auto changeByte = [](std::size_t offset) {
        return
            [offset](const fs::path& file, const Bytes& /*original*/) { WriteAt(file, Bytes{0xEE}, offset); };
    };
    const auto shorten = [](const fs::path& file, const Bytes& /*original*/) { fs::resize_file(file, 20); };
    // The new content and then the original's next bytes: no rewrite or restore writes that.
    const auto appendOriginal = [](const fs::path& file, const Bytes& original) {
        WriteAt(file, Bytes(original.begin() + 25, original.begin() + 30), 25);
    };
    const std::optional<std::size_t> cut;
    const std::vector<Case> cases = {
        {"nothing written yet", 60, 0, 0, {}, Then::original},
        {"one byte written", 60, 1, 0, {}, Then::original},
        {"half of the original's length", 60, 20, 0, {}, Then::original},
        {"as long as the original", 60, 40, 0, {}, Then::original},
        {"past the original's end", 60, 50, 0, {}, Then::original},
        {"all of the longer new content", 60, 60, 0, {}, Then::fresh},
        {"longer new content, after the cut", 60, cut, 0, {}, Then::fresh},
        {"past the end, restore cut short", 60, 50, 10, {}, Then::original},
        {"past the end, restore cut short before its cut", 60, 50, 40, {}, Then::original},
        {"shorter new content, part written", 25, 10, 0, {}, Then::original},
        {"all of the shorter new content, before the cut", 25, 25, 0, {}, Then::original},
        {"shorter new content, after the cut", 25, cut, 0, {}, Then::fresh},
        {"after the cut, restore cut short within", 25, cut, 10, {}, Then::original},
        {"after the cut, restore cut short beyond", 25, cut, 30, {}, Then::original},
        {"a byte of the original's part changed", 60, 20, 0, changeByte(30), Then::untouched},
        {"a byte of the new part changed", 60, 50, 0, changeByte(10), Then::untouched},
        {"a byte appended", 60, 20, 0, appendByte, Then::untouched},
        {"after the cut, shortened", 25, cut, 0, shorten, Then::untouched},
        {"after the cut, the original's next bytes appended", 25, cut, 0, appendOriginal, Then::untouched},
    };
    const Bytes original = Pattern(40, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(photo_);
        fs::remove(link_);
        WriteFileBytes(photo_, original);
        fs::create_hard_link(photo_, link_);
        const timespec mtime{1'600'000'000, 123'456'789};
        const std::array<timespec, 2> times{mtime, mtime};
        ASSERT_EQ(::utimensat(AT_FDCWD, photo_.c_str(), times.data(), 0), 0);
        const Bytes fresh = Pattern(c.newSize, 101);
        KillRewrite(photo_, fresh, c.at);
        ASSERT_TRUE(fs::exists(journal_));
        if (c.putBack > 0) {
            WriteAt(photo_,
                    Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(c.putBack)), 0);
        }
        if (c.edit) {
            c.edit(photo_, original);
        }
        const Bytes before = ReadFileBytes(photo_);
        const Bytes journal = ReadFileBytes(journal_);

        const auto undone = UndoAfterScan(photos_, journal_);
        EXPECT_EQ(undone.path, photo_.string());
        const Bytes after = ReadFileBytes(photo_);
        EXPECT_EQ(ReadFileBytes(link_), after);
        struct stat info {};
        ASSERT_EQ(::stat(photo_.c_str(), &info), 0);
        switch (c.then) {
            case Then::original:
                EXPECT_TRUE(undone.restored) << undone.reason;
                EXPECT_TRUE(BytesEqual(original, after));
                EXPECT_TRUE(SameTime(info.st_mtim, mtime));
                EXPECT_FALSE(fs::exists(journal_));
                break;
            case Then::fresh:
                EXPECT_TRUE(undone.finished) << undone.reason;
                EXPECT_FALSE(undone.restored);
                EXPECT_TRUE(BytesEqual(fresh, after));
                EXPECT_FALSE(fs::exists(journal_));
                break;
            case Then::untouched:
                EXPECT_FALSE(undone.restored);
                EXPECT_FALSE(undone.finished);
                EXPECT_EQ(undone.reason, "sie wurde seit der unterbrochenen Änderung verändert");
                EXPECT_TRUE(BytesEqual(before, after));
                EXPECT_TRUE(fs::exists(journal_) && ReadFileBytes(journal_) == journal);
                break;
        }
        fs::remove(journal_);
    }
}

// A photo the next run finds whole with the new content is not put back, and the run says so.
TEST_F(SaveJournal, FinishedRewriteKeepsTheTaggedPhoto) {
    fs::create_hard_link(photo_, link_);
    const Bytes tagged = Photo("2020:01:01 10:00:00");
    KillRewrite(photo_, tagged, std::nullopt);
    ASSERT_EQ(DryRun(), RunResult::done);
    EXPECT_EQ(ReadFileBytes(link_), tagged);
    EXPECT_FALSE(fs::exists(journal_));
    EXPECT_TRUE(observer_.Logged(" - Unterbrochene Änderung an " + photo_.string() +
                                 " war bereits abgeschlossen; das Journal ist entfernt."));
}

// A journal that a save of this run cannot have made, or whose file another program has changed since, is
// not acted on, in a dry run as in any: the file keeps what it holds, the journal stays, and the log says
// why. Each journal is a real one of a save killed before it wrote anything (its original: the file as it
// was then); the file then gets other content, which a restore would overwrite.
TEST_F(SaveJournal, JournalThatIsNotOursOrNotForThisStateIsNeverActedOn) {
    struct Case {
        const char* name;
        const char* file;  // in the photo folder
        std::function<void(const fs::path& file, const fs::path& journal)> arrange;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"the photo was edited since", "a.jpg", {}, "sie wurde seit der unterbrochenen Änderung verändert"},
        {"not a photo", "notes.txt", {}, "sie ist kein Bild, das der Lauf gefunden hat"},
        {"the photo has one name", "a.jpg",
         [](const fs::path& file, const fs::path& /*journal*/) {
             fs::remove(file.parent_path().parent_path() / "elsewhere" / "second");
         },
         "sie hat nur einen Namen und wird nie an Ort und Stelle geändert"},
        {"another user's", "a.jpg",
         [](const fs::path& /*file*/, const fs::path& journal) {
             ASSERT_EQ(::chown(journal.c_str(), 4242, 4242), 0);
         },
         "das Journal stammt nicht von diesem Benutzer"},
        {"others may read it", "a.jpg",
         [](const fs::path& /*file*/, const fs::path& journal) {
             fs::permissions(journal, fs::perms::group_read, fs::perm_options::add);
         },
         "das Journal stammt nicht von diesem Benutzer"},
        {"it has a second name", "a.jpg",
         [](const fs::path& file, const fs::path& journal) {
             fs::create_hard_link(journal, file.parent_path().parent_path() / "elsewhere" / "journal");
         },
         "das Journal stammt nicht von diesem Benutzer"},
        {"its size is not the head's", "a.jpg",
         [](const fs::path& /*file*/, const fs::path& journal) {
             Bytes bytes = ReadFileBytes(journal);
             bytes.push_back(0);
             WriteAt(journal, bytes, 0);
         },
         "das Journal ist beschädigt"},
        {"its head cut off", "a.jpg",
         [](const fs::path& /*file*/, const fs::path& journal) { fs::resize_file(journal, 10); },
         "das Journal ist beschädigt"},
        // Shared and sticky: anyone may put a file there, and only its owner may remove it.
        {"another user's in a sticky folder", "a.jpg",
         [](const fs::path& file, const fs::path& journal) {
             fs::permissions(file.parent_path(), fs::perms::all | fs::perms::sticky_bit);
             ASSERT_EQ(::chown(journal.c_str(), 4242, 4242), 0);
         },
         "das Journal stammt nicht von diesem Benutzer"},
    };
    const Bytes then = Photo("2020:01:01 10:00:00");
    const Bytes now = Photo("2024:06:15 10:00:00");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = photos_ / c.file;
        const fs::path journal = photos_ / ("." + std::string(c.file) + ".zeloro-journal");
        fs::remove(elsewhere_ / "second");
        WriteFileBytes(file, then);
        fs::create_hard_link(file, elsewhere_ / "second");
        KillRewrite(file, Bytes(then.size(), 0x55), 0);
        ASSERT_TRUE(fs::exists(journal));
        WriteFileBytes(file, now);  // the same inode, as an editor that writes in place leaves it
        if (c.arrange) {
            c.arrange(file, journal);
        }
        const Bytes journalBytes = ReadFileBytes(journal);
        observer_.lines.clear();
        ASSERT_EQ(DryRun(), RunResult::done);
        EXPECT_TRUE(BytesEqual(now, ReadFileBytes(file)));
        EXPECT_TRUE(fs::exists(journal) && ReadFileBytes(journal) == journalBytes);
        EXPECT_TRUE(LoggedKept(file, c.reason, journal)) << ::testing::PrintToString(observer_.lines);
        fs::permissions(photos_, fs::perms::owner_all);
        fs::remove(journal);
        fs::remove(elsewhere_ / "journal");
        if (std::string(c.file) != "a.jpg") {
            fs::remove(file);
        }
    }
}

// An id no account has, for a child process that must not be root.
uid_t UnusedId() {
    uid_t id = 54321;
    while (::getpwuid(id) != nullptr || ::getgrgid(id) != nullptr) {
        ++id;
    }
    return id;
}

// Runs body as that user in a child process, which must end with the status given.
void AsUser(uid_t id, int status, const std::function<int()>& body) {
    EXPECT_EXIT(
        {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 ||
                ::setresuid(id, id, id) != 0) {
                ::_exit(90);
            }
            ::_exit(body());
        },
        ::testing::ExitedWithCode(status), "");
}

// As a user who is not root: in a folder the user may not write, the journal could not be removed after a
// restore, so the photo is not written at all; in a sticky folder of someone else's, the user's own journal
// is restored, and one another user (root here) put there is not.
TEST_F(SaveJournal, RestoreWritesOnlyWhereTheJournalCanGoAfterwards) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    const uid_t user = UnusedId();
    struct Case {
        const char* name;
        bool sticky;  // else read-only to the user
        bool rootsJournal;
        std::string reason;  // empty: restored
    };
    const std::vector<Case> cases = {
        {"read-only folder", false, false,
         "das Journal kann danach nicht entfernt werden (keine Berechtigung)"},
        {"sticky folder, own journal", true, false, ""},
        {"sticky folder, another user's journal", true, true, "das Journal stammt nicht von diesem Benutzer"},
    };
    fs::permissions(tmp_.path(), fs::perms::all);
    const Bytes original = Pattern(40, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::permissions(photos_, fs::perms::owner_all);
        fs::remove(photo_);
        fs::remove(link_);
        WriteFileBytes(photo_, original);
        fs::create_hard_link(photo_, link_);
        ASSERT_EQ(::chown(photo_.c_str(), user, user), 0);
        if (c.rootsJournal) {
            KillRewrite(photo_, Pattern(60, 101), 20);
            fs::permissions(journal_, fs::perms::others_read, fs::perm_options::add);
        } else {
            ASSERT_EQ(::chown(photos_.c_str(), user, user), 0);
            AsUser(user, 77, [&]() -> int { RewriteAndDie(photo_, Pattern(60, 101), 20, false); });
        }
        ASSERT_EQ(::chown(photos_.c_str(), c.sticky ? 0 : user, 0), 0);
        fs::permissions(photos_, c.sticky ? fs::perms::all | fs::perms::sticky_bit
                                          : fs::perms::owner_read | fs::perms::owner_exec |
                                                fs::perms::others_read | fs::perms::others_exec);
        const Bytes before = ReadFileBytes(photo_);
        ASSERT_NE(before, original);
        AsUser(user, 0, [&] {
            const auto undone = UndoAfterScan(photos_, journal_);
            return undone.restored == c.reason.empty() && undone.reason == c.reason ? 0 : 1;
        });
        EXPECT_EQ(ReadFileBytes(link_), c.reason.empty() ? original : before);
        EXPECT_EQ(fs::exists(journal_), !c.reason.empty());
        fs::permissions(photos_, fs::perms::owner_all);
        fs::remove(journal_);
    }
}

// A photo name of 255 bytes (85 CJK characters), the longest a file system allows, is tagged by rename and
// in place, and the run goes on with the photos after it; a save in place killed on the way is put back by
// the next run, from a journal whose name is short and that holds the full one.
TEST_F(SaveJournal, LongestPhotoNamesAreTaggedAndTheirJournalsRestored) {
    std::string wide = "a";
    for (int i = 0; i < 83; ++i) {
        wide += "\xe5\x86\x99";  // 写
    }
    const fs::path renamed = photos_ / (wide + "1.jpg");
    const fs::path inPlace = photos_ / (wide + "2.jpg");
    ASSERT_EQ(renamed.filename().string().size(), 255U);
    const Bytes original = Photo("2024:06:15 10:00:00");
    WriteFileBytes(renamed, original);
    WriteFileBytes(inPlace, original);
    fs::create_hard_link(inPlace, link_);

    KillRewrite(inPlace, Bytes(original.size() + 10, 0x55), original.size() / 2);
    const std::string journalName = SaveJournalName(inPlace.filename().string());
    EXPECT_LE(journalName.size(), 255U);
    ASSERT_TRUE(fs::exists(photos_ / journalName));

    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_TRUE(
        observer_.Logged(" - Unterbrochene Änderung an " + inPlace.string() + " rückgängig gemacht."));
    for (const fs::path& photo : {renamed, inPlace, photos_ / "a.jpg", photos_ / "b.jpg"}) {
        EXPECT_TRUE(HasGps(photo)) << photo;
    }
    EXPECT_EQ(ReadFileBytes(link_), ReadFileBytes(inPlace));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(photos_)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.jpg", renamed.filename().string(),
                                              inPlace.filename().string(), "b.jpg"}));
}

// Only a temporary file a save of ours can have left is removed: one named for a photo of the folder
// (whatever the length of its name), this user's or the photo owner's. A file of the same pattern that
// names no photo, or that another user made, is not ours.
TEST_F(SaveJournal, OnlyOurStaleTemporaryFilesAreRemoved) {
    std::string wide(251, 'x');
    const fs::path longPhoto = photos_ / (wide + ".jpg");
    WriteFileBytes(longPhoto, Photo("2024:06:15 10:00:00"));
    const fs::path ours = photos_ / ".a.jpg.zeloro-Ab3xYz";
    const fs::path oursLong =
        photos_ / ("." + SaveNameStem(longPhoto.filename().string()) + ".zeloro-Qw3rty");
    const fs::path noPhoto = photos_ / ".notes.zeloro-backup";
    const fs::path otherUsers = photos_ / ".b.jpg.zeloro-Zz9zZz";
    for (const fs::path& file : {ours, oursLong, noPhoto, otherUsers}) {
        WriteFileText(file, "left");
    }
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(otherUsers.c_str(), 4242, 4242), 0);
    }
    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_FALSE(fs::exists(ours));
    EXPECT_FALSE(fs::exists(oursLong));
    EXPECT_TRUE(fs::exists(noPhoto));
    EXPECT_EQ(fs::exists(otherUsers), root);
    EXPECT_TRUE(HasGps(longPhoto));
}

}  // namespace
}  // namespace zeloro::test
