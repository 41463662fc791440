// tests/cli/CliUndoTest.cpp: zeloro-cli --undo on a copy of the bundled sample: the run's record in the
// data folder, the photos put back byte for byte from another working folder, the JSON object, and an
// undo with no run left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/MapPageData.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// Every file below the folder: its content and its modification time in nanoseconds.
std::map<std::string, std::pair<Bytes, long long>> Files(const fs::path& root) {
    std::map<std::string, std::pair<Bytes, long long>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            struct stat info {};
            EXPECT_EQ(::stat(entry.path().c_str(), &info), 0);
            files[entry.path().string()] = {ReadFileBytes(entry.path()),
                                            info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
        }
    }
    return files;
}

std::vector<std::string> Messages(const std::string& out) {
    std::vector<std::string> messages;
    for (const std::string& line : SplitLines(out)) {
        messages.push_back(StripStamp(line));
    }
    return messages;
}

TEST(CliUndo, RunThenUndoFromAnotherFolderGivesBackThePhotos) {
    TempDir tmp;
    const fs::path cli = BuildDir() / "zeloro-cli";
    ASSERT_TRUE(fs::exists(cli)) << cli;
    fs::copy(SourceDir() / "sample", tmp / "sample", fs::copy_options::recursive);
    fs::create_directories(tmp / "data");
    fs::copy_file(BuildDir() / "zeloro.sqlite", tmp / "data" / "zeloro.sqlite");
    const auto before = Files(tmp / "sample" / "photos");

    // The photo folder relative to the run's working folder; the undo runs from another one.
    const ProcessResult run = RunProcess(
        cli,
        {"--data-dir", (tmp / "data").string(), "--gpx", "track.gpx", "--photos", "photos", "--zone", "13"},
        false, tmp / "sample");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_NE(Files(tmp / "sample" / "photos"), before);
    EXPECT_EQ(fs::directory_iterator(tmp / "data" / "runs") != fs::directory_iterator(), true);

    const ProcessResult listed =
        RunProcess(cli, {"--undo", "--dry-run", "--data-dir", (tmp / "data").string()});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    const std::vector<std::string> lines = Messages(listed.out);
    ASSERT_EQ(lines.size(), 5U) << listed.out;
    EXPECT_EQ(lines[0], " - Lauf wird rückgängig gemacht: " + (tmp / "sample" / "photos").string());
    EXPECT_EQ(lines[1], " - " + (tmp / "sample" / "photos" / "Hafen" / "IMG_0006.jpg").string() +
                            " würde zurückgesetzt (Probelauf)");
    EXPECT_EQ(lines[4],
              " - 3 Dateien würden zurückgesetzt, 0 nach dem Lauf geändert und nicht zurückgesetzt");

    const ProcessResult undone = RunProcess(cli, {"--undo", "--json", "--data-dir", (tmp / "data").string()});
    ASSERT_EQ(undone.exitStatus, 0) << undone.err;
    EXPECT_EQ(Files(tmp / "sample" / "photos"), before);
    const std::string photos = (tmp / "sample" / "photos").string();
    EXPECT_EQ(undone.out,
              "{\"undo\":{\"changed_files\":[],\"changed_since\":0,\"dry_run\":false,\"failed\":0,"
              "\"found\":true,\"kind\":\"tagging\",\"restored\":3,\"restored_files\":[\"" +
                  photos + "/Hafen/IMG_0006.jpg\",\"" + photos + "/IMG_0002.jpg\",\"" + photos +
                  "/IMG_0001.jpg\"],\"stopped\":false}}\n");

    const ProcessResult none = RunProcess(cli, {"--undo", "--data-dir", (tmp / "data").string()});
    EXPECT_EQ(none.exitStatus, 0) << none.err;
    EXPECT_EQ(Messages(none.out), std::vector<std::string>{" - Kein Lauf zum Rückgängigmachen vorhanden"});
    EXPECT_EQ(Files(tmp / "sample" / "photos"), before);
}

// With --map, the page after a removal and after its undo says what each did; the page's path goes out.
TEST(CliUndo, MapPageSaysWhatTheRemovalAndTheUndoDid) {
    TempDir tmp;
    const fs::path cli = BuildDir() / "zeloro-cli";
    fs::copy(SourceDir() / "sample", tmp / "sample", fs::copy_options::recursive);
    fs::create_directories(tmp / "data" / "maps");
    fs::copy_file(BuildDir() / "zeloro.sqlite", tmp / "data" / "zeloro.sqlite");
    const std::string data = (tmp / "data").string();
    const fs::path page = tmp / "data" / "maps" / "index.html";
    ASSERT_EQ(
        RunProcess(cli, {"--data-dir", data, "--gpx", "track.gpx", "--photos", "photos", "--zone", "13"},
                   false, tmp / "sample")
            .exitStatus,
        0);

    const ProcessResult removed = RunProcess(
        cli, {"--remove-gps", "--map", "--photos", (tmp / "sample" / "photos").string(), "--data-dir", data});
    ASSERT_EQ(removed.exitStatus, 0) << removed.err;
    EXPECT_EQ(SplitLines(removed.out).back(), page.string());
    std::optional<PageData> shown = ReadPageData(ReadFileText(page));
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->notice, "GPS-Daten entfernt: 3 Fotos");
    EXPECT_TRUE(shown->photos.empty());

    const ProcessResult undone = RunProcess(cli, {"--undo", "--map", "--data-dir", data});
    ASSERT_EQ(undone.exitStatus, 0) << undone.err;
    shown = ReadPageData(ReadFileText(page));
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->notice,
              "Letzter Lauf rückgängig gemacht: 3 Fotos zurückgesetzt, 0 geändert und behalten");

    // Without --map the page stays as the last one left it.
    fs::remove(page);
    ASSERT_EQ(RunProcess(cli, {"--undo", "--data-dir", data}).exitStatus, 0);
    EXPECT_FALSE(fs::exists(page));
}

TEST(CliUndo, UndoTakesNoRunOptions) {
    const ProcessResult r = RunProcess(BuildDir() / "zeloro-cli", {"--undo", "--photos", "x"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err,
              "Die Option --undo nimmt den letzten Lauf zurück und gilt nur mit --data-dir, --dry-run, "
              "--map, --open und --json.\n");
}

}  // namespace
}  // namespace zeloro::test
