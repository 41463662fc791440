// tests/tagging/InputPathsTest.cpp: paths dropped onto the window sorted into its inputs, and the
// extension a save dialog's name gets.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tagging/InputPaths.h"

namespace zeloro::test {
namespace {

struct ExtensionCase {
    const char* name;
    const char* path;
    const char* expected;
};

class DefaultExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(DefaultExtension, IsAddedOnlyToANameWithoutOne) {
    EXPECT_EQ(WithDefaultExtension(GetParam().path, "txt"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    InputPaths, DefaultExtension,
    ::testing::Values(ExtensionCase{"Bare", "/home/u/protokoll", "/home/u/protokoll.txt"},
                      ExtensionCase{"Own", "/home/u/protokoll.log", "/home/u/protokoll.log"},
                      ExtensionCase{"Same", "/home/u/protokoll.TXT", "/home/u/protokoll.TXT"},
                      ExtensionCase{"TrailingDot", "/home/u/protokoll.", "/home/u/protokoll.txt"},
                      ExtensionCase{"DotInFolder", "/home/u.v/protokoll", "/home/u.v/protokoll.txt"},
                      ExtensionCase{"Hidden", "/home/u/.protokoll", "/home/u/.protokoll.txt"},
                      ExtensionCase{"Relative", "protokoll", "protokoll.txt"},
                      ExtensionCase{"FolderOnly", "/home/u/", "/home/u/"},
                      ExtensionCase{"DotsOnly", "/home/u/..", "/home/u/.."}),
    [](const auto& p) { return p.param.name; });

// The entries a drop may name; each case drops some of them.
class DroppedPaths : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "photos");
        std::filesystem::create_directory(dir_ / "more photos");
        WriteFileText(dir_ / "track.gpx", "<?xml version=\"1.0\"?><gpx></gpx>");
        WriteFileText(dir_ / "RIDE.FIT", "any content: the name says FIT");
        WriteFileText(dir_ / "export.dat", "<?xml version=\"1.0\"?><gpx version=\"1.1\"></gpx>");
        WriteFileText(dir_ / "notes.txt", "a shopping list");
        WriteFileBytes(dir_ / "photo.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0});
    }

    [[nodiscard]] std::string At(const std::string& name) const { return (dir_ / name).string(); }

    TempDir dir_;
};

TEST_F(DroppedPaths, TakeOneFolderAndOneTrackFileAndRefuseTheRest) {
    struct Case {
        std::vector<std::string> dropped;
        std::optional<std::pair<std::string, std::string>> taken;  // track file, folder
    };
    const std::vector<Case> cases = {
        {{"photos"}, std::pair<std::string, std::string>{"", "photos"}},
        {{"track.gpx"}, std::pair<std::string, std::string>{"track.gpx", ""}},
        {{"RIDE.FIT"}, std::pair<std::string, std::string>{"RIDE.FIT", ""}},
        {{"export.dat"}, std::pair<std::string, std::string>{"export.dat", ""}},  // by its content
        {{"photos", "track.gpx"}, std::pair<std::string, std::string>{"track.gpx", "photos"}},
        {{"export.dat", "more photos"}, std::pair<std::string, std::string>{"export.dat", "more photos"}},
        {{"notes.txt"}, std::nullopt},
        {{"photo.jpg"}, std::nullopt},
        {{"missing.gpx"}, std::nullopt},
        {{"photos", "more photos"}, std::nullopt},
        {{"track.gpx", "RIDE.FIT"}, std::nullopt},
        {{"track.gpx", "photos", "notes.txt"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        std::string named;
        for (const std::string& name : c.dropped) {
            paths.push_back(At(name));
            named += name + ";";
        }
        const std::optional<DroppedInputs> sorted = SortDroppedPaths(paths);
        ASSERT_EQ(sorted.has_value(), c.taken.has_value()) << named;
        if (c.taken) {
            EXPECT_EQ(sorted->trackFile, c.taken->first.empty() ? "" : At(c.taken->first)) << named;
            EXPECT_EQ(sorted->photoFolder, c.taken->second.empty() ? "" : At(c.taken->second)) << named;
        }
    }
}

}  // namespace
}  // namespace zeloro::test
