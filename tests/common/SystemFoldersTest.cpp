// tests/common/SystemFoldersTest.cpp: the well-known folders and the executable's folder.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/SystemFolders.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;

TEST(SystemFolders, UserDataFolderFromTheEnvironment) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* passwordHome;  // the password database's home folder; "" for no entry
        const char* folder;
    };
    for (const Case& c :
         {Case{"/data/x", "/home/u", "", "/data/x"}, Case{"/data/x/", "/home/u", "", "/data/x"},
          Case{nullptr, "/home/u", "", "/home/u/.local/share"},
          Case{"", "/home/u/", "", "/home/u/.local/share"},
          Case{"relative/x", "/home/u", "", "/home/u/.local/share"}, Case{nullptr, "/", "", "/.local/share"},
          Case{nullptr, "relative", "", ""}, Case{nullptr, nullptr, "", ""}, Case{"/", nullptr, "", "/"},
          // Without a usable HOME the password database names the home folder.
          Case{nullptr, nullptr, "/home/pw", "/home/pw/.local/share"},
          Case{nullptr, "", "/home/pw/", "/home/pw/.local/share"},
          Case{"relative/x", "relative", "/home/pw", "/home/pw/.local/share"},
          Case{"/data/x", nullptr, "/home/pw", "/data/x"},
          Case{nullptr, "/home/u", "/home/pw", "/home/u/.local/share"},
          Case{nullptr, nullptr, "relative/pw", ""}}) {
        int asked = 0;
        const std::string got = UserDataFolder(c.xdg, c.home, [&] {
            ++asked;
            return std::string(c.passwordHome);
        });
        const std::string shown = std::string(c.xdg != nullptr ? c.xdg : "(unset)") + " " +
                                  (c.home != nullptr ? c.home : "(unset)") + " " + c.passwordHome;
        EXPECT_EQ(got, c.folder) << shown;
        // The database is asked only when the environment does not tell.
        const bool environmentTells =
            (c.xdg != nullptr && c.xdg[0] == '/') || (c.home != nullptr && c.home[0] == '/');
        EXPECT_EQ(asked, environmentTells ? 0 : 1) << shown;
    }
}

TEST(SystemFolders, SpecialFolders) {
    const test::ScopedVariable home("HOME", "/home/someone");
    const test::ScopedVariable xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(GetSpecialFolderPath(kCommonAppDataFolder), "/home/someone/.local/share");
    const test::ScopedVariable xdgSet("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(GetSpecialFolderPath(kCommonAppDataFolder), "/srv/data");
    EXPECT_EQ(GetSpecialFolderPath(0), "");
    EXPECT_EQ(GetSpecialFolderPath(36), "");
}

// A program started with an empty environment still finds the user's folder.
TEST(SystemFolders, WithoutHomeTheUsersEntryNamesTheFolder) {
    const test::ScopedVariable home("HOME", nullptr);
    const test::ScopedVariable xdg("XDG_DATA_HOME", nullptr);
    const passwd* entry = ::getpwuid(::getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') {
        GTEST_SKIP() << "the user running the tests has no home folder in the password database";
    }
    const std::string pwHome = entry->pw_dir;
    EXPECT_EQ(PasswordHomeFolder(), pwHome);
    EXPECT_EQ(GetSpecialFolderPath(kCommonAppDataFolder), (pwHome == "/" ? "" : pwHome) + "/.local/share");
}

// A user the password database does not know (a container's numeric uid) has no data folder.
TEST(SystemFolders, UserWithoutEntryHasNoFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run as another user";
    }
    uid_t unknown = 54321;
    while (::getpwuid(unknown) != nullptr) {
        ++unknown;
    }
    const test::ScopedVariable home("HOME", nullptr);
    const test::ScopedVariable xdg("XDG_DATA_HOME", nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setresuid(unknown, unknown, unknown) != 0) {
            ::_exit(2);
        }
        ::_exit(PasswordHomeFolder().empty() && GetSpecialFolderPath(kCommonAppDataFolder).empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SystemFolders, ExecutableFolderIsTheBuildFolder) {
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    // Every executable of the build lands in the build folder itself, this test included.
    EXPECT_TRUE(fs::equivalent(folder, test::BuildDir()));
}

}  // namespace
}  // namespace zeloro
