// Replacing a file through a temporary file: content, mode, links, and every failure leaving it as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "common/Error.h"
#include "metadata/SafeFileWrite.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;

std::size_t EntriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

unsigned ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777U;
}

struct FaultHookGuard {
    explicit FaultHookGuard(SafeWriteFaultHook hook) { SetSafeWriteFaultHook(std::move(hook)); }
    FaultHookGuard(const FaultHookGuard&) = delete;
    FaultHookGuard& operator=(const FaultHookGuard&) = delete;
    ~FaultHookGuard() { SetSafeWriteFaultHook({}); }
};

TEST(SafeFileWrite, ReplacesContentAndKeepsTheMode) {
    test::TempDir dir;
    const auto path = dir / "a.jpg";
    test::WriteFileBytes(path, Bytes(1000, 1));
    ::chmod(path.c_str(), 0604);
    const Bytes content{1, 2, 3};
    WriteFileReplacing(path.string(), content);
    EXPECT_TRUE(test::BytesEqual(content, test::ReadFileBytes(path)));
    EXPECT_EQ(ModeOf(path), 0604U);
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

TEST(SafeFileWrite, PiecesAreWrittenInOrder) {
    test::TempDir dir;
    const auto path = dir / "a.jpg";
    const Bytes head{1, 2};
    const Bytes tail{3, 4, 5};
    const std::span<const std::uint8_t> parts[] = {head, tail};
    WriteFileReplacing(path.string(), parts, true);
    EXPECT_TRUE(test::BytesEqual(Bytes({1, 2, 3, 4, 5}), test::ReadFileBytes(path)));
}

TEST(SafeFileWrite, NewFileGetsTheUsualMode) {
    test::TempDir dir;
    const auto path = dir / "new.jpg";
    const mode_t old = ::umask(022);
    WriteFileReplacing(path.string(), Bytes{1});
    ::umask(old);
    EXPECT_EQ(ModeOf(path), 0644U);
}

TEST(SafeFileWrite, LinkIsFollowedAndKept) {
    test::TempDir dir;
    const auto target = dir / "real.jpg";
    const auto link = dir / "link.jpg";
    test::WriteFileBytes(target, Bytes{9});
    std::filesystem::create_symlink(target, link);
    WriteFileReplacing(link.string(), Bytes{7, 7});
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(test::BytesEqual(Bytes({7, 7}), test::ReadFileBytes(target)));
}

// A name of 255 bytes, the longest there is, leaves no room for the temporary file's marks: it gets a
// short stem (whole characters of the name and a hash of it), and two names alike but for their ends get
// different stems.
TEST(SafeFileWrite, LongestNameIsReplaced) {
    test::TempDir dir;
    std::string wide = "a";
    for (int i = 0; i < 83; ++i) {
        wide += "\xe5\x86\x99";  // 写, three bytes
    }
    const auto path = dir / (wide + "1.jpg");
    ASSERT_EQ(path.filename().string().size(), 255U);
    test::WriteFileBytes(path, Bytes{1});
    WriteFileReplacing(path.string(), Bytes{2, 3});
    EXPECT_TRUE(test::BytesEqual(Bytes({2, 3}), test::ReadFileBytes(path)));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);

    const std::string stem = SaveNameStem(path.filename().string());
    EXPECT_LE(SaveJournalName(path.filename().string()).size(), 255U);
    EXPECT_EQ(stem.substr(0, 220), wide.substr(0, 220));  // cut before a character's middle byte
    EXPECT_EQ(stem.size(), 220U + 17U);
    EXPECT_NE(stem, SaveNameStem(wide + "2.jpg"));
    EXPECT_EQ(SaveNameStem("a.jpg"), "a.jpg");
}

struct FaultCase {
    std::string_view name;
    SafeWriteStep step;
    bool durable;
    bool streamError;  // otherwise FileError with the path
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class SafeFileWriteFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SafeFileWriteFault, LeavesTheFileAndNoTemporaryFile) {
    const FaultCase& c = GetParam();
    test::TempDir dir;
    const auto path = dir / "photo.jpg";
    const Bytes original(5000, 0x42);
    test::WriteFileBytes(path, original);
    const FaultHookGuard fault([step = c.step](SafeWriteStep s) { return s == step ? EIO : 0; });
    try {
        WriteFileReplacing(path.string(), Bytes(6000, 0x17), c.durable);
        ADD_FAILURE() << "no error";
    } catch (const StreamError& e) {
        EXPECT_TRUE(c.streamError);
        EXPECT_STREQ(e.what(), "Stream-Schreibfehler");
    } catch (const FileError& e) {
        EXPECT_FALSE(c.streamError);
        EXPECT_EQ(std::string(e.what()), "Datei " + path.string() + " kann nicht erstellt werden. " +
                                             std::generic_category().message(EIO));
    }
    EXPECT_TRUE(test::BytesEqual(original, test::ReadFileBytes(path)));
    EXPECT_EQ(EntriesIn(dir.path()), 1U);
}

INSTANTIATE_TEST_SUITE_P(SafeFileWrite, SafeFileWriteFault,
                         ::testing::Values(FaultCase{"Create", SafeWriteStep::create, false, false},
                                           FaultCase{"Write", SafeWriteStep::write, false, true},
                                           FaultCase{"Permissions", SafeWriteStep::permissions, false, false},
                                           FaultCase{"Sync", SafeWriteStep::sync, true, true},
                                           FaultCase{"Close", SafeWriteStep::close, false, true},
                                           FaultCase{"Rename", SafeWriteStep::rename, false, false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SafeFileWrite, FolderThatIsAFileFails) {
    test::TempDir dir;
    const auto notAFolder = dir / "file";
    test::WriteFileBytes(notAFolder, Bytes{1});
    EXPECT_THROW(WriteFileReplacing((notAFolder / "photo.jpg").string(), Bytes{1}), FileError);
    EXPECT_TRUE(test::BytesEqual(Bytes{1}, test::ReadFileBytes(notAFolder)));
}

}  // namespace
}  // namespace zeloro
