// The claim of one window per user and data folder: its name, its folder and its lock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "support/TestSupport.h"
#include "tagging/WindowInstanceLock.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// Two spellings of data folders below one test folder, and whether they must give one name.
struct KeyCase {
    std::string_view name;
    std::string first;  // relative to the test folder, which holds "data/" and "other/" and "link" -> data
    std::string second;
    bool otherUser;  // the second for another user id
    bool same;
};
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class InstanceKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(InstanceKey, OneNamePerUserAndResolvedFolder) {
    const KeyCase& c = GetParam();
    const TempDir root;
    fs::create_directory(root / "data");
    fs::create_directory(root / "other");
    fs::create_directory_symlink(root / "data", root / "link");
    const uid_t user = ::geteuid();
    const std::string first = WindowInstanceKey((root.path() / c.first).string(), user);
    const std::string second =
        WindowInstanceKey((root.path() / c.second).string(), c.otherUser ? user + 1 : user);
    for (const std::string& key : {first, second}) {
        ASSERT_EQ(key.size(), 16U) << key;
        EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos) << key;
    }
    EXPECT_EQ(first == second, c.same) << first << " " << second;
}

INSTANTIATE_TEST_SUITE_P(WindowInstanceLock, InstanceKey,
                         ::testing::Values(KeyCase{"TrailingSlash", "data/", "data", false, true},
                                           KeyCase{"DotSegments", "data/", "other/../data/./", false, true},
                                           KeyCase{"SymbolicLink", "data/", "link/", false, true},
                                           KeyCase{"OtherFolder", "data/", "other/", false, false},
                                           KeyCase{"OtherUser", "data/", "data/", true, false},
                                           KeyCase{"MissingFolderAsWritten", "gone/", "gone", false, true},
                                           KeyCase{"MissingAndExisting", "gone/", "data/", false, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// What the runtime folder looks like, and whether the window's files may go there.
struct FolderCase {
    std::string_view name;
    std::function<std::string(const fs::path& root)> make;  // gives the value of XDG_RUNTIME_DIR
    bool accepted;
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class InstanceFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(InstanceFolder, OnlyAPrivateFolderOfTheUser) {
    const FolderCase& c = GetParam();
    const TempDir root;
    const std::string value = c.make(root.path());
    const std::string folder = WindowInstanceFolder(value.empty() ? nullptr : value.c_str());
    if (c.accepted) {
        EXPECT_EQ(folder, (root / "run").string());
    } else {
        EXPECT_EQ(folder, "/tmp");
    }
}

fs::path MakeRunFolder(const fs::path& root, fs::perms perms) {
    fs::create_directory(root / "run");
    fs::permissions(root / "run", perms);
    return root / "run";
}

INSTANTIATE_TEST_SUITE_P(
    WindowInstanceLock, InstanceFolder,
    ::testing::Values(
        FolderCase{"Private",
                   [](const fs::path& r) { return MakeRunFolder(r, fs::perms::owner_all).string(); }, true},
        FolderCase{"PrivateWithSlash",
                   [](const fs::path& r) { return MakeRunFolder(r, fs::perms::owner_all).string() + "/"; },
                   true},
        FolderCase{"Unset", [](const fs::path&) { return std::string(); }, false},
        FolderCase{"Relative", [](const fs::path&) { return std::string("run"); }, false},
        FolderCase{"Missing", [](const fs::path& r) { return (r / "run").string(); }, false},
        FolderCase{"GroupMayEnter",
                   [](const fs::path& r) {
                       return MakeRunFolder(r, fs::perms::owner_all | fs::perms::group_exec).string();
                   },
                   false},
        FolderCase{"NoFolder",
                   [](const fs::path& r) {
                       WriteFileText(r / "run", "");
                       return (r / "run").string();
                   },
                   false},
        FolderCase{"TooLongForASocket",
                   [](const fs::path& r) {
                       fs::path deep = MakeRunFolder(r, fs::perms::owner_all);
                       while (deep.string().size() <= 64) {
                           deep /= "deeper";
                           fs::create_directory(deep);
                           fs::permissions(deep, fs::perms::owner_all);
                       }
                       return deep.string();
                   },
                   false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WindowInstanceLock, OneHolderAtATimeAndFreeWhenItEnds) {
    const TempDir folder;
    auto first = std::make_unique<WindowInstanceLock>(folder.path().string(), "0123456789abcdef");
    ASSERT_EQ(first->state(), WindowInstanceLock::State::held);
    EXPECT_EQ(first->SocketPath(), (folder / "zeloro-0123456789abcdef.socket").string());
    struct stat info {};
    ASSERT_EQ(::stat((folder / "zeloro-0123456789abcdef.lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777U, 0600U);

    // A second hold, even of this process, is refused; another folder's name is not.
    const WindowInstanceLock second(folder.path().string(), "0123456789abcdef");
    EXPECT_EQ(second.state(), WindowInstanceLock::State::heldElsewhere);
    EXPECT_EQ(second.SocketPath(), first->SocketPath());
    const WindowInstanceLock otherFolder(folder.path().string(), "fedcba9876543210");
    EXPECT_EQ(otherFolder.state(), WindowInstanceLock::State::held);

    // The lock file stays behind, as it does when the holder is killed; it keeps nobody out.
    first.reset();
    const WindowInstanceLock third(folder.path().string(), "0123456789abcdef");
    EXPECT_EQ(third.state(), WindowInstanceLock::State::held);
}

TEST(WindowInstanceLock, LockFileThatIsNoPlainFileOfTheUserIsNeverUsed) {
    const TempDir folder;
    WriteFileText(folder / "target", "");
    fs::create_symlink(folder / "target", folder / "zeloro-0000000000000001.lock");
    fs::create_directory(folder / "zeloro-0000000000000002.lock");
    EXPECT_EQ(WindowInstanceLock(folder.path().string(), "0000000000000001").state(),
              WindowInstanceLock::State::unavailable);
    EXPECT_EQ(WindowInstanceLock(folder.path().string(), "0000000000000002").state(),
              WindowInstanceLock::State::unavailable);
    EXPECT_EQ(WindowInstanceLock((folder / "missing").string(), "0000000000000003").state(),
              WindowInstanceLock::State::unavailable);
    EXPECT_EQ(ReadFileText(folder / "target"), "");
}

}  // namespace
}  // namespace zeloro::test
