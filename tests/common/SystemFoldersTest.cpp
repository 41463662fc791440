// tests/common/SystemFoldersTest.cpp: the well-known folders and the executable's folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/SystemFolders.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;

TEST(SystemFolders, SpecialFolders) {
    EXPECT_EQ(GetSpecialFolderPath(kCommonAppDataFolder), "/var/lib");
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
