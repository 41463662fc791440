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

#include "SamplePhoto.h"
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

namespace fs = std::filesystem;

class LineObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { lines.push_back("ERROR " + text); }
    void ProcessMessages() override {
        if (duringImport) {
            duringImport();
            duringImport = {};
        }
    }
    bool StopRequested() override { return false; }

    [[nodiscard]] bool Logged(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::vector<std::string> lines;
    std::function<void()> duringImport;  // after the scan, before the first photo is read
};

class HookGuard {
public:
    explicit HookGuard(SafeWriteFaultHook hook) { SetSafeWriteFaultHook(std::move(hook)); }
    ~HookGuard() { SetSafeWriteFaultHook({}); }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;
};

// Runs the action the first time the save reaches the step.
SafeWriteFaultHook AtStep(SafeWriteStep when, std::function<void()> action) {
    return [when, action = std::move(action), done = false](SafeWriteStep step) mutable {
        if (step == when && !done) {
            done = true;
            action();
        }
        return 0;
    };
}

Bytes Photo(const std::string& shot) {
    sample::PhotoSpec spec;
    spec.width = 16;
    spec.height = 16;
    spec.dateTimeOriginal = shot;
    return sample::MakePhoto(spec);
}

// Every file below root (links as their target text) with its size and a hash of its bytes: what "nothing
// else changed" compares.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string key = entry.path().lexically_relative(root).string();
        if (entry.is_symlink()) {
            files[key] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            const Bytes bytes = ReadFileBytes(entry.path());
            files[key] = std::to_string(bytes.size()) + " bytes, hash " +
                         std::to_string(std::hash<std::string>{}(std::string(bytes.begin(), bytes.end())));
        } else if (!entry.is_directory()) {
            files[key] = "(special)";
        }
    }
    return files;
}

bool HasGps(const fs::path& photo) {
    TExifData exif;
    exif.LoadFromJPEG(photo.string());
    return exif.GPSLatitude().Degrees() == TTiffLongWordFraction(48, 1);
}

class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override {
        Connection con;
        con.Open((data_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos_);
        fs::create_directories(elsewhere_);
        WriteFileText(gpx_,
                      "<gpx><trk><trkseg>"
                      "<trkpt lat=\"48.5\" lon=\"11.5\"><time>2024-06-15T08:00:00Z</time></trkpt>"
                      "</trkseg></trk></gpx>");
        WriteFileText(elsewhere_ / "secret.conf", "password=1\n");
        WriteFileBytes(elsewhere_ / "other.jpg", Photo("2024:06:15 10:00:00"));
        WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
        WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:00"));
        session_.Connect();
    }

    // As World(), less the save's own temporary file, for a snapshot taken in the middle of a save.
    std::map<std::string, std::string> WorldWithoutTemporary() const {
        auto files = World();
        std::erase_if(files, [](const auto& file) {
            return IsSaveTemporaryName(fs::path(file.first).filename().string());
        });
        return files;
    }

    RunResult Run() {
        return session_.Run({gpx_.string(), photos_.string(), 13, "0", RunModes{}}, observer_);
    }

    // Everything outside the data folder's own files, for comparing before and after.
    std::map<std::string, std::string> World() const {
        auto files = Snapshot(tmp_.path());
        std::erase_if(files, [](const auto& file) { return file.first.rfind("data/", 0) == 0; });
        return files;
    }

    TempDir tmp_;
    fs::path data_ = tmp_ / "data";
    fs::path photos_ = tmp_ / "photos";
    fs::path elsewhere_ = tmp_ / "elsewhere";
    fs::path gpx_ = tmp_ / "track.gpx";
    bool madeData_ = fs::create_directories(data_);
    TaggingSession session_{(data_ / "").string()};
    LineObserver observer_;
};

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

// The rename would leave the other name on the old content, and a rewrite in place could leave both
// half-written: a photo with a second hard link is left as it is and reported.
TEST_F(HostileFolder, PhotoWithSecondHardLinkIsLeftAsItIs) {
    fs::create_hard_link(photos_ / "a.jpg", elsewhere_ / "a-link.jpg");
    auto expected = World();
    ASSERT_EQ(Run(), RunResult::done);
    auto after = World();
    after.erase("photos/b.jpg");
    expected.erase("photos/b.jpg");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(fs::hard_link_count(photos_ / "a.jpg"), 2U);
    EXPECT_TRUE(observer_.Logged(" - a.jpg nicht gespeichert: sie hat mehrere harte Verknüpfungen"));
}

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
        EXPECT_TRUE(session.ClearDatabase());
        EXPECT_FALSE(fs::exists(tmp / kKeptMarkFileName));
    }
}

}  // namespace
}  // namespace zeloro::test
