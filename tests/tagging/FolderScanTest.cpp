// tests/tagging/FolderScanTest.cpp: the folder scan on a real folder tree and mask matching.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tagging/FolderScan.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Strings = std::vector<std::string>;

struct MaskCase {
    std::string_view name;
    std::string_view mask;
    bool match;
};
void PrintTo(const MaskCase& c, std::ostream* os) { *os << c.name << " ~ " << c.mask; }

class Mask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(Mask, MatchesTable) { EXPECT_EQ(MatchesMask(GetParam().name, GetParam().mask), GetParam().match); }

INSTANTIATE_TEST_SUITE_P(
    FolderScan, Mask,
    ::testing::Values(MaskCase{"a.jpg", "*.jpg", true}, MaskCase{"IMG_1.JPG", "*.jpg", true},
                      MaskCase{".hidden.jpg", "*.jpg", true}, MaskCase{".jpg", "*.jpg", true},
                      MaskCase{"a.jpeg", "*.jpg", false}, MaskCase{"a.jpg.txt", "*.jpg", false},
                      MaskCase{"ajpg", "*.jpg", false}, MaskCase{"a.jpg", "?.JPG", true},
                      MaskCase{"ab.jpg", "?.jpg", false}, MaskCase{"abc", "*", true}, MaskCase{"", "*", true},
                      MaskCase{"x.jpg.jpg", "*.jpg", true},
                      MaskCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false}));

// A tree with every case the scan distinguishes:
//   .H/x.jpg          hidden folder: not entered
//   .hidden.jpg       hidden file: listed
//   B.JPG a.jpg ab.jpg a_b.jpg   letter case and the upper-case name order ("AB" before "A_B")
//   c.txt             not matching
//   dir.jpg/          a folder named like a photo: not listed, but searched
//   dir.jpg/e.jpg
//   fifo.jpg          not a regular file: not listed
//   link.jpg -> S/c.jpg    link to a file: listed like a file
//   loop -> .         link to a folder (back to the root): neither listed nor entered
//   S/c.jpg S/T/d.jpg depth first, files of a folder before its subfolders
class FolderScan : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path& r = dir.path();
        fs::create_directories(r / ".H");
        fs::create_directories(r / "S" / "T");
        fs::create_directories(r / "dir.jpg");
        for (const char* file : {".H/x.jpg", ".hidden.jpg", "B.JPG", "a.jpg", "ab.jpg", "a_b.jpg", "c.txt",
                                 "dir.jpg/e.jpg", "S/c.jpg", "S/T/d.jpg", "S/T/n.png"}) {
            test::WriteFileText(r / file, "x");
        }
        ASSERT_EQ(mkfifo((r / "fifo.jpg").c_str(), 0600), 0);
        fs::create_symlink(r / "S" / "c.jpg", r / "link.jpg");
        fs::create_directory_symlink(r, r / "loop");
        root = r.string();
    }

    [[nodiscard]] Strings expected(const Strings& relative) const {
        Strings out;
        for (const std::string& rel : relative) {
            out.push_back(root + "/" + rel);
        }
        return out;
    }

    TempDir dir;
    std::string root;
};

TEST_F(FolderScan, RecursiveOrderAndHiddenRules) {
    Strings list;
    FindFilesRecursive(root, "*.jpg", list, true);
    EXPECT_EQ(list, expected({".hidden.jpg", "a.jpg", "ab.jpg", "a_b.jpg", "B.JPG", "link.jpg",
                              "dir.jpg/e.jpg", "S/c.jpg", "S/T/d.jpg"}));
}

TEST_F(FolderScan, TrailingSlashGivesTheSameList) {
    Strings without;
    Strings with;
    FindFilesRecursive(root, "*.jpg", without, true);
    FindFilesRecursive(root + "/", "*.jpg", with, true);
    EXPECT_EQ(with, without);
}

TEST_F(FolderScan, NotRecursiveListsTheTopFolderOnly) {
    Strings list;
    FindFilesRecursive(root, "*.JPG", list, false);
    EXPECT_EQ(list, expected({".hidden.jpg", "a.jpg", "ab.jpg", "a_b.jpg", "B.JPG", "link.jpg"}));
}

TEST_F(FolderScan, AppendsToTheListAndLeavesItWithoutMatches) {
    Strings list{"kept"};
    FindFilesRecursive(root + "/S", "*.tif", list, true);
    FindFilesRecursive(root + "/missing", "*.jpg", list, true);
    EXPECT_EQ(list, Strings{"kept"});
    FindFilesRecursive(root + "/S/T", "*", list, true);
    EXPECT_EQ(list, (Strings{"kept", root + "/S/T/d.jpg", root + "/S/T/n.png"}));
}

}  // namespace
}  // namespace zeloro
