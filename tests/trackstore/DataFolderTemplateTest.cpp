// tests/trackstore/DataFolderTemplateTest.cpp: the user's data folder mended from the template, the
// staging folders a killed copy leaves, and a user without a home folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "support/TestSupport.h"
#include "trackstore/TrackStore.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::TempDir;
using test::WriteFileText;

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void MakeOld(const fs::path& path) {
    const std::time_t old = std::time(nullptr) - 3600;
    const std::array<timespec, 2> times{timespec{old, 0}, timespec{old, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A read-only template as installed, a program folder without a database and a home below dir.
class DataFolderSetup : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(templ_ / "maps" / "images");
        fs::create_directories(exe_);
        WriteFileText(templ_ / "zeloro.sqlite", "template");
        WriteFileText(templ_ / "doku.pdf", "help");
        WriteFileText(templ_ / "maps" / "marker.png", "marker");
        WriteFileText(templ_ / "maps" / "images" / "layers.png", "layers");
        for (const fs::path& file :
             {templ_ / "zeloro.sqlite", templ_ / "doku.pdf", templ_ / "maps" / "marker.png",
              templ_ / "maps" / "images" / "layers.png"}) {
            fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        }
    }

    [[nodiscard]] std::string Resolve() const {
        return ResolveDataFolder(common_.string(), exe_.string() + "/", templ_.string() + "/");
    }

    TempDir dir_;
    fs::path templ_ = dir_ / "template";
    fs::path exe_ = dir_ / "bin";
    fs::path common_ = dir_ / "share";
    fs::path kvd_ = common_ / "kvd";
    fs::path data_ = kvd_ / "zeloro";
};

// The folder stays the user's: what is there is kept, and what was deleted comes back from the template.
TEST_F(DataFolderSetup, MissingFilesComeBackAndPresentOnesStay) {
    ASSERT_EQ(Resolve(), data_.string() + "/");
    fs::remove(data_ / "zeloro.sqlite");
    fs::remove(data_ / "maps" / "images" / "layers.png");
    fs::remove(data_ / "doku.pdf");
    WriteFileText(data_ / "maps" / "marker.png", "the user's marker");
    WriteFileText(data_ / "maps" / "index.html", "the last map page");
    WriteFileText(data_ / "zeloro.lock", "");

    ASSERT_EQ(Resolve(), data_.string() + "/");
    EXPECT_EQ(ReadFileText(data_ / "zeloro.sqlite"), "template");
    EXPECT_EQ(ReadFileText(data_ / "doku.pdf"), "help");
    EXPECT_EQ(ReadFileText(data_ / "maps" / "images" / "layers.png"), "layers");
    EXPECT_EQ(ReadFileText(data_ / "maps" / "marker.png"), "the user's marker");
    EXPECT_EQ(ReadFileText(data_ / "maps" / "index.html"), "the last map page");
    EXPECT_NE(fs::status(data_ / "zeloro.sqlite").permissions() & fs::perms::owner_write, fs::perms::none);
    // The copies got their names whole: no temporary file is left beside them.
    EXPECT_EQ(Names(data_), (std::set<std::string>{"doku.pdf", "maps", "zeloro.lock", "zeloro.sqlite"}));
    EXPECT_EQ(Names(kvd_), std::set<std::string>{"zeloro"});

    // A whole maps folder gone, and a folder that holds only what a run leaves.
    fs::remove_all(data_ / "maps");
    fs::remove(data_ / "zeloro.sqlite");
    fs::remove(data_ / "doku.pdf");
    ASSERT_EQ(Resolve(), data_.string() + "/");
    EXPECT_EQ(ReadFileText(data_ / "zeloro.sqlite"), "template");
    EXPECT_EQ(ReadFileText(data_ / "maps" / "marker.png"), "marker");
    EXPECT_EQ(ReadFileText(data_ / "maps" / "images" / "layers.png"), "layers");
}

// A name that is there in any form, a link to nowhere included, is the user's and is not replaced.
TEST_F(DataFolderSetup, FillNeverReplacesAName) {
    fs::create_directories(data_ / "maps");
    fs::create_symlink(dir_ / "elsewhere.pdf", data_ / "doku.pdf");
    FillDataFolderFromTemplate(templ_.string() + "/", data_.string() + "/");
    EXPECT_TRUE(fs::is_symlink(data_ / "doku.pdf"));
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere.pdf"));
    EXPECT_EQ(ReadFileText(data_ / "zeloro.sqlite"), "template");

    // A folder that cannot be filled is named with the reason.
    WriteFileText(dir_ / "afile", "");
    try {
        FillDataFolderFromTemplate(templ_.string() + "/", (dir_ / "afile").string() + "/");
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Der Datenordner " + (dir_ / "afile").string() +
                      "/ kann nicht angelegt werden: ein Teil des Pfades ist kein Ordner");
    }
}

// What a killed first copy left goes at the next start; nothing else beside the data folder does.
TEST_F(DataFolderSetup, StaleStagingFoldersGoAndNothingElse) {
    fs::create_directories(kvd_ / "zeloro.AbC123" / "maps");
    WriteFileText(kvd_ / "zeloro.AbC123" / "zeloro.sqlite", "half a copy");
    fs::create_directories(kvd_ / "zeloro.notours");
    fs::create_directories(kvd_ / "zeloro.Ab12");    // not six characters
    fs::create_directories(kvd_ / "zeloro.Ab-123");  // not what mkdtemp makes
    fs::create_directories(kvd_ / "other.XyZ789");   // another folder's name
    fs::create_directories(kvd_ / "zeloro.Fresh1");  // a copy that may still be starting
    fs::create_directories(kvd_ / "zeloro.Held12");  // a copy still running
    fs::create_directories(dir_ / "target");
    WriteFileText(dir_ / "target" / "keep.txt", "not ours");
    fs::create_symlink(dir_ / "target", kvd_ / "zeloro.Link12");
    WriteFileText(kvd_ / "zeloro.File12", "a file");
    for (const char* name : {"zeloro.AbC123", "zeloro.notours", "zeloro.Ab12", "zeloro.Ab-123",
                             "other.XyZ789", "zeloro.Held12", "zeloro.Link12", "zeloro.File12"}) {
        MakeOld(kvd_ / name);
    }
    const FileDescriptor held(::open((kvd_ / "zeloro.Held12").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(held);
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);

    ASSERT_EQ(Resolve(), data_.string() + "/");
    EXPECT_EQ(Names(kvd_), (std::set<std::string>{"zeloro", "zeloro.notours", "zeloro.Ab12", "zeloro.Ab-123",
                                                  "other.XyZ789", "zeloro.Fresh1", "zeloro.Held12",
                                                  "zeloro.Link12", "zeloro.File12"}));
    EXPECT_EQ(ReadFileText(dir_ / "target" / "keep.txt"), "not ours");
    EXPECT_EQ(ReadFileText(data_ / "zeloro.sqlite"), "template");
}

// Without a home folder there is no user's folder to set up: the start fails and nothing is created,
// neither below the template's neighbours nor in the current folder.
TEST_F(DataFolderSetup, WithoutAHomeFolderNothingIsCreated) {
    const fs::path work = dir_ / "work";
    fs::create_directories(work);
    const fs::path before = fs::current_path();
    fs::current_path(work);
    try {
        static_cast<void>(ResolveDataFolder("", exe_.string() + "/", templ_.string() + "/"));
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "Der Datenordner kann nicht bestimmt werden: weder XDG_DATA_HOME noch HOME nennt einen absoluten "
            "Ordner, und die Benutzerdatenbank kennt keinen Home-Ordner für diesen Benutzer.");
    }
    fs::current_path(before);
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_TRUE(fs::is_empty(exe_));
    EXPECT_EQ(Names(dir_.path()), (std::set<std::string>{"bin", "template", "work"}));
    // A build tree's database is still found: the program's own folder needs no home.
    WriteFileText(exe_ / "zeloro.sqlite", "");
    EXPECT_EQ(ResolveDataFolder("", exe_.string() + "/", templ_.string() + "/"), exe_.string() + "/");
}

}  // namespace
}  // namespace zeloro
