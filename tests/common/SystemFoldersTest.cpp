// tests/common/SystemFoldersTest.cpp: the well-known folders and the executable's folder.
#include <gtest/gtest.h>

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
        const char* folder;
    };
    for (const Case& c :
         {Case{"/data/x", "/home/u", "/data/x"}, Case{"/data/x/", "/home/u", "/data/x"},
          Case{nullptr, "/home/u", "/home/u/.local/share"}, Case{"", "/home/u/", "/home/u/.local/share"},
          Case{"relative/x", "/home/u", "/home/u/.local/share"}, Case{nullptr, "/", "/.local/share"},
          Case{nullptr, "relative", ""}, Case{nullptr, nullptr, ""}, Case{"/", nullptr, "/"}}) {
        EXPECT_EQ(UserDataFolder(c.xdg, c.home), c.folder)
            << (c.xdg != nullptr ? c.xdg : "(unset)") << " " << (c.home != nullptr ? c.home : "(unset)");
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

TEST(SystemFolders, ExecutableFolderIsTheBuildFolder) {
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    // Every executable of the build lands in the build folder itself, this test included.
    EXPECT_TRUE(fs::equivalent(folder, test::BuildDir()));
}

}  // namespace
}  // namespace zeloro
