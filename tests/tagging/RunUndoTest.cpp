// tests/tagging/RunUndoTest.cpp: the record a run leaves in the data folder, and taking runs back with
// it: byte for byte and with their times, file by file, newest run first, and safely when killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "SamplePhoto.h"
#include "filesafe/SafeFileWrite.h"
#include "metadata/ExifData.h"
#include "metadata/XMPSidecar.h"
#include "rawfile/TiffLayout.h"
#include "support/TestSupport.h"
#include "tagging/RunRecord.h"
#include "tagging/RunUndo.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class UndoObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { lines.push_back(text); }
    [[nodiscard]] bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    Strings lines;
};

Bytes Photo(const std::string& shot, int width = 32) {
    sample::PhotoSpec spec;
    spec.width = width;
    spec.height = 24;
    spec.dateTimeOriginal = shot;
    return sample::MakePhoto(spec);
}

Bytes BE32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24U), static_cast<std::uint8_t>(v >> 16U),
            static_cast<std::uint8_t>(v >> 8U), static_cast<std::uint8_t>(v)};
}

Bytes Cat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) {
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

// A photo followed by an AFCP trailer whose offsets are absolute: the save moves them, so the bytes after
// the picture change too.
Bytes PhotoWithAfcpTrailer(const std::string& shot) {
    const Bytes photo = Photo(shot);
    const auto at = static_cast<std::uint32_t>(photo.size());
    const Bytes header = Cat({Raw("AXS!"), {0x00, 0x01}, {0x00, 0x02}, {0, 0, 0, 0}});
    const Bytes directory = Cat({Raw("IPTC"), BE32(5), BE32(at + 36), Raw("%SCC"), BE32(3), BE32(at + 41)});
    return Cat({photo, header, directory, Raw("iptc!scc"), Raw("AXS!"), BE32(at), {0, 0, 0, 0}});
}

Bytes ShotTiff(const std::string& shot) {
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, shot)});
    return tiff.Build();
}

struct FileState {
    Bytes bytes;
    std::int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;
    friend bool operator==(const FileState&, const FileState&) = default;
};
using Snapshot = std::map<std::string, FileState>;

// Every regular file below the folders, with its content and its modification time to the nanosecond.
Snapshot Take(std::initializer_list<fs::path> roots) {
    Snapshot snapshot;
    for (const fs::path& root : roots) {
        std::vector<fs::path> files;
        if (fs::is_regular_file(root)) {
            files.push_back(root);
        } else {
            for (const auto& entry : fs::recursive_directory_iterator(root)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
        }
        for (const fs::path& file : files) {
            struct stat info {};
            EXPECT_EQ(::stat(file.c_str(), &info), 0);
            snapshot[file.string()] = FileState{
                ReadFileBytes(file), static_cast<std::int64_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
        }
    }
    return snapshot;
}

::testing::AssertionResult SameFiles(const Snapshot& expected, const Snapshot& actual) {
    for (const auto& [path, state] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end()) {
            return ::testing::AssertionFailure() << path << " is gone";
        }
        if (const auto same = BytesEqual(state.bytes, found->second.bytes); !same) {
            return ::testing::AssertionFailure() << path << ": " << same.message();
        }
        if (state.mtimeSeconds != found->second.mtimeSeconds ||
            state.mtimeNanoseconds != found->second.mtimeNanoseconds) {
            return ::testing::AssertionFailure() << path << ": modification time differs";
        }
    }
    for (const auto& [path, state] : actual) {
        if (!expected.contains(path)) {
            return ::testing::AssertionFailure() << path << " is new";
        }
    }
    return ::testing::AssertionSuccess();
}

// Files with older times than a run gives them, so a time put back is told from one left.
void AgeFiles(const fs::path& root) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            const timespec times[2] = {{0, UTIME_OMIT}, {1'600'000'000, 123'456'789}};
            ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), times, 0), 0);
        }
    }
}

class UndoRun : public ::testing::Test {
protected:
    void SetUp() override {
        Connection con;
        con.Open((tmp_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos_);
        WriteFileText(gpx_,
                      "<gpx><trk><trkseg>"
                      "<trkpt lat=\"48.1234\" lon=\"-122.4194\"><time>2024-06-15T08:00:00Z</time></trkpt>"
                      "<trkpt lat=\"-33.8567\" lon=\"151.215\"><time>2024-06-15T08:00:10Z</time></trkpt>"
                      "</trkseg></trk></gpx>");
        session_.Connect();
    }

    RunInputs Inputs(const fs::path& folder, int tolerance = 0) const {
        return {gpx_.string(), folder.string(), 13, tolerance, RunModes{}, 1};
    }
    UndoSummary Undo(bool dryRun = false) {
        UndoObserver observer;
        UndoSummary summary = session_.UndoLastRun(observer, dryRun);
        lines_ = observer.lines;
        return summary;
    }

    TempDir tmp_;
    fs::path data_ = tmp_.path() / "";
    fs::path photos_ = tmp_ / "photos";
    fs::path gpx_ = tmp_ / "track.gpx";
    TaggingSession session_{data_.string()};
    UndoObserver observer_;
    Strings lines_;
};

struct KindsCase {
    const char* name;
    bool rawInFile;
};
void PrintTo(const KindsCase& c, std::ostream* os) { *os << c.name; }
class UndoEveryKind : public UndoRun, public ::testing::WithParamInterface<KindsCase> {};

// Every kind of write a run makes, taken back: a JPEG, one with a trailer the save moved, a photo with a
// second name outside the folder, a RAW (in the file, or through a sidecar made new) and a sidecar updated.
TEST_P(UndoEveryKind, TagThenUndoGivesBackEveryFileByteForByte) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", PhotoWithAfcpTrailer("2024:06:15 10:00:10"));
    WriteFileBytes(photos_ / "c.jpg", Photo("2024:06:15 10:00:10", 48));
    WriteFileBytes(photos_ / "d.dng", ShotTiff("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "e.nef", ShotTiff("2024:06:15 10:00:10"));
    WriteFileText(photos_ / "e.nef.xmp",
                  "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                  "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
                  " <rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='3'/>\n"
                  "</rdf:RDF></x:xmpmeta>\n");
    AgeFiles(photos_);
    const fs::path second = tmp_ / "second-name.jpg";
    fs::create_hard_link(photos_ / "c.jpg", second);
    const Snapshot before = Take({photos_, second});

    RunSettings settings;
    settings.allPhotos = true;
    settings.rawInFile = GetParam().rawInFile;
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_, settings), RunResult::done);
    const Snapshot tagged = Take({photos_, second});
    for (const auto& [path, state] : before) {
        const bool raw = path.ends_with(".dng") || path.ends_with(".nef");
        EXPECT_EQ(tagged.at(path).bytes != state.bytes, !raw || GetParam().rawInFile) << path;
    }
    EXPECT_EQ(tagged.contains((photos_ / "d.dng.xmp").string()), !GetParam().rawInFile);
    ASSERT_EQ(RunRecordPaths(data_.string()).size(), 1U);

    const UndoSummary summary = Undo();
    EXPECT_TRUE(SameFiles(before, Take({photos_, second})));
    EXPECT_EQ(summary.changedSince, 0U);
    EXPECT_EQ(summary.restored, summary.files);
    EXPECT_EQ(lines_.back(), " - " + UndoSummaryText(summary));
    EXPECT_TRUE(RunRecordPaths(data_.string()).empty());
    EXPECT_TRUE(session_.MapEntries().empty());
}
INSTANTIATE_TEST_SUITE_P(RunUndo, UndoEveryKind,
                         ::testing::Values(KindsCase{"RawInTheFile", true},
                                           KindsCase{"RawThroughSidecar", false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(UndoRun, PhotoChangedSinceTheRunIsKeptAndNamed) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10"));
    AgeFiles(photos_);
    const Snapshot before = Take({photos_});
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_), RunResult::done);
    // Another program writes b.jpg after the run.
    Bytes edited = ReadFileBytes(photos_ / "b.jpg");
    edited.back() ^= 0x01U;
    WriteFileBytes(photos_ / "b.jpg", edited);

    const UndoSummary summary = Undo();
    EXPECT_EQ(summary.restored, 1U);
    EXPECT_EQ(summary.changedSince, 1U);
    EXPECT_TRUE(std::find(lines_.begin(), lines_.end(),
                          " - " + (photos_ / "b.jpg").string() +
                              " wurde nach dem Lauf geändert – nicht zurückgesetzt") != lines_.end())
        << ::testing::PrintToString(lines_);
    EXPECT_EQ(lines_.back(), " - 1 Datei zurückgesetzt, 1 nach dem Lauf geändert und nicht zurückgesetzt");
    EXPECT_TRUE(BytesEqual(before.at((photos_ / "a.jpg").string()).bytes, ReadFileBytes(photos_ / "a.jpg")));
    EXPECT_TRUE(BytesEqual(edited, ReadFileBytes(photos_ / "b.jpg")));
}

// Each undo takes back the newest run not taken back yet; with none left it says so and writes nothing.
// A dry run of either kind records and writes nothing.
TEST_F(UndoRun, UndoTakesBackRunsNewestFirstThenNothing) {
    const fs::path first = tmp_ / "first";
    fs::create_directories(first);
    WriteFileBytes(first / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10"));
    AgeFiles(first);
    AgeFiles(photos_);
    const Snapshot original = Take({first, photos_});

    RunInputs dry = Inputs(first);
    dry.modes.dryRun = true;
    ASSERT_EQ(session_.Run(dry, observer_), RunResult::done);
    EXPECT_TRUE(RunRecordPaths(data_.string()).empty());

    ASSERT_EQ(session_.Run(Inputs(first), observer_), RunResult::done);
    const Snapshot afterFirst = Take({first, photos_});
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_), RunResult::done);
    const Snapshot afterSecond = Take({first, photos_});
    ASSERT_EQ(RunRecordPaths(data_.string()).size(), 2U);

    const UndoSummary listed = Undo(true);
    EXPECT_EQ(listed.restored, 1U);
    EXPECT_TRUE(std::find(lines_.begin(), lines_.end(),
                          " - " + (photos_ / "b.jpg").string() + " würde zurückgesetzt (Probelauf)") !=
                lines_.end());
    EXPECT_TRUE(SameFiles(afterSecond, Take({first, photos_})));

    EXPECT_EQ(Undo().restored, 1U);
    EXPECT_TRUE(SameFiles(afterFirst, Take({first, photos_})));
    EXPECT_EQ(Undo().restored, 1U);
    EXPECT_TRUE(SameFiles(original, Take({first, photos_})));
    const UndoSummary none = Undo();
    EXPECT_FALSE(none.found);
    EXPECT_EQ(lines_, Strings{" - Kein Lauf zum Rückgängigmachen vorhanden"});
    EXPECT_TRUE(SameFiles(original, Take({first, photos_})));
}

// A tolerance too wide tags a photo taken in a hole of the track; undone, the right run gives exactly what
// the right run alone gives on the originals.
TEST_F(UndoRun, WrongToleranceUndoneThenRightRunEqualsTheRightRunAlone) {
    std::string track = "<gpx><trk><trkseg>";
    for (int minute : {0, 1, 2, 3, 4, 5, 15, 16, 17}) {
        char point[160];
        std::snprintf(point, sizeof point,
                      "<trkpt lat=\"48.%04d\" lon=\"11.%04d\"><time>2024-06-15T08:%02d:00Z</time></trkpt>",
                      minute, minute * 7, minute);
        track += point;
    }
    track += "</trkseg></trk></gpx>";
    WriteFileText(gpx_, track);
    const fs::path reference = tmp_ / "reference";
    fs::create_directories(reference);
    for (const fs::path& folder : {photos_, reference}) {
        WriteFileBytes(folder / "inside.jpg", Photo("2024:06:15 10:02:03"));
        WriteFileBytes(folder / "hole.jpg", Photo("2024:06:15 10:10:00"));
    }
    const Snapshot original = Take({photos_});

    ASSERT_EQ(session_.Run(Inputs(photos_, 500), observer_), RunResult::done);
    ASSERT_NE(ReadFileBytes(photos_ / "hole.jpg"), original.at((photos_ / "hole.jpg").string()).bytes);
    Undo();
    EXPECT_TRUE(SameFiles(original, Take({photos_})));
    ASSERT_EQ(session_.Run(Inputs(photos_, 5), observer_), RunResult::done);
    ASSERT_EQ(session_.Run(Inputs(reference, 5), observer_), RunResult::done);
    for (const char* name : {"inside.jpg", "hole.jpg"}) {
        EXPECT_TRUE(BytesEqual(ReadFileBytes(reference / name), ReadFileBytes(photos_ / name))) << name;
    }
    EXPECT_EQ(ReadFileBytes(photos_ / "hole.jpg"), original.at((photos_ / "hole.jpg").string()).bytes);
}

// A removal takes the position out of a tagged photo without moving a byte of the rest, names the photo
// without one, and is a run like any other: an undo brings the positions back, byte for byte.
TEST_F(UndoRun, RemoveGpsThenUndoBringsThePositionsBack) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 12:00:00"));
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_), RunResult::done);
    AgeFiles(photos_);
    const Snapshot tagged = Take({photos_});
    TExifData before;
    before.LoadFromJPEG((photos_ / "a.jpg").string());
    ASSERT_FALSE(before.GPSLatitude().MissingOrInvalid());

    UndoObserver removal;
    const RemovalSummary summary = session_.RemoveGps(photos_.string(), removal, RunModes{});
    EXPECT_EQ(summary.removed, 1U);
    EXPECT_EQ(summary.withoutGps, 1U);
    EXPECT_EQ(removal.lines,
              (Strings{" - Lese Bilddateien", " - 2 Bilder im Verzeichnis gefunden",
                       " - a.jpg: GPS-Position entfernt", " - b.jpg hat keine GPS-Position",
                       " - GPS-Position aus 1 Bild entfernt, 1 ohne GPS-Position, 0 fehlgeschlagen"}));
    const Bytes removed = ReadFileBytes(photos_ / "a.jpg");
    EXPECT_EQ(removed.size(), tagged.at((photos_ / "a.jpg").string()).bytes.size());  // nothing moved
    TExifData after;
    after.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_TRUE(after.GPSLatitude().MissingOrInvalid());
    EXPECT_TRUE(after.GPSLongitude().MissingOrInvalid());
    EXPECT_EQ(after[esGPS].Count(), 0);  // GPSVersionID alone is left out, and the directory with it
    EXPECT_EQ(after[esGeneral].Find(0x8825), nullptr);
    EXPECT_EQ(after.DateTimeOriginal(), before.DateTimeOriginal());

    EXPECT_EQ(Undo().restored, 1U);
    EXPECT_TRUE(SameFiles(tagged, Take({photos_})));
}

// Another kind keeps its position in its sidecar: the removal takes the exif:GPS properties out of it and
// leaves every other property; the undo puts the sidecar back.
TEST_F(UndoRun, RemoveGpsTakesThePositionOutOfASidecar) {
    WriteFileBytes(photos_ / "e.nef", ShotTiff("2024:06:15 10:00:10"));
    WriteFileText(photos_ / "e.nef.xmp",
                  "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                  "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
                  " <rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='3'/>\n"
                  "</rdf:RDF></x:xmpmeta>\n");
    RunSettings settings;
    settings.allPhotos = true;
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_, settings), RunResult::done);
    ASSERT_TRUE(ReadXMPSidecarFacts(ReadFileText(photos_ / "e.nef.xmp")).hasGpsPosition);
    AgeFiles(photos_);
    const Snapshot tagged = Take({photos_});

    UndoObserver removal;
    const RemovalSummary summary = session_.RemoveGps(photos_.string(), removal, RunModes{}, settings);
    EXPECT_EQ(summary.removed, 1U);
    EXPECT_TRUE(removal.Has(" - e.nef: GPS-Position entfernt aus e.nef.xmp"))
        << ::testing::PrintToString(removal.lines);
    const std::string text = ReadFileText(photos_ / "e.nef.xmp");
    EXPECT_EQ(text.find("GPS"), std::string::npos) << text;
    // The packet is written anew from what it holds: the rating stays, in the element form.
    EXPECT_NE(text.find("<xmp:Rating>3</xmp:Rating>"), std::string::npos) << text;

    EXPECT_EQ(Undo().restored, 1U);
    EXPECT_TRUE(SameFiles(tagged, Take({photos_})));
}

// A RAW tagged in the file: a removal without the RAW write leaves the file's own directory; with it, the
// position leaves the file the way it came, and the undo gives back the tagged file byte for byte.
TEST_F(UndoRun, RemoveGpsTakesThePositionOutOfARawFile) {
    WriteFileBytes(photos_ / "d.dng", ShotTiff("2024:06:15 10:00:00"));
    RunSettings settings;
    settings.allPhotos = true;
    settings.rawInFile = true;
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_, settings), RunResult::done);
    AgeFiles(photos_);
    const Snapshot tagged = Take({photos_});
    const Bytes taggedBytes = ReadFileBytes(photos_ / "d.dng");
    ASSERT_TRUE(ReadTiffLayout(MemoryTiffSource(taggedBytes)).gpsEntry);

    RunSettings sidecarOnly = settings;
    sidecarOnly.rawInFile = false;
    UndoObserver untouched;
    EXPECT_EQ(session_.RemoveGps(photos_.string(), untouched, RunModes{}, sidecarOnly).removed, 0U);
    EXPECT_TRUE(SameFiles(tagged, Take({photos_})));

    UndoObserver removal;
    const RemovalSummary summary = session_.RemoveGps(photos_.string(), removal, RunModes{}, settings);
    EXPECT_EQ(summary.removed, 1U);
    EXPECT_TRUE(removal.Has(" - d.dng: GPS-Position entfernt")) << ::testing::PrintToString(removal.lines);
    const Bytes removed = ReadFileBytes(photos_ / "d.dng");
    ASSERT_GT(removed.size(), taggedBytes.size());
    EXPECT_FALSE(ReadTiffLayout(MemoryTiffSource(removed)).gpsEntry);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < taggedBytes.size(); ++i) {
        differing += removed[i] != taggedBytes[i] ? 1U : 0U;
    }
    EXPECT_GE(differing, 1U);
    EXPECT_LE(differing, 4U) << "only the pointer to IFD0 differs below the old end";

    EXPECT_EQ(Undo().restored, 1U);
    EXPECT_TRUE(SameFiles(tagged, Take({photos_})));
}

// A record changed in the data folder is refused before any photo is written.
TEST_F(UndoRun, UndoOfADamagedRecordWritesNothing) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_), RunResult::done);
    const Snapshot tagged = Take({photos_});
    const std::string record = RunRecordPaths(data_.string()).at(0);
    Bytes bytes = ReadFileBytes(record);
    bytes[bytes.size() / 2] ^= 0x40U;
    WriteFileBytes(record, bytes);
    UndoObserver observer;
    EXPECT_THROW(session_.UndoLastRun(observer, false), RunRecordError);
    EXPECT_TRUE(SameFiles(tagged, Take({photos_})));
}

// A process killed at any write of an undo leaves every photo as the run left it or as it was before the
// run, never between; the next undo then finishes the job.
struct KillCase {
    const char* name;
    SafeWriteStep step;
    int nth;  // the step's occurrence at which the process dies
};
void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }
class KilledUndo : public UndoRun, public ::testing::WithParamInterface<KillCase> {};

TEST_P(KilledUndo, LeavesEachPhotoTaggedOrAsBefore) {
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:10", 48));
    WriteFileBytes(photos_ / "c.jpg", Photo("2024:06:15 10:00:10", 64));
    fs::create_hard_link(photos_ / "b.jpg", tmp_ / "b-second.jpg");
    AgeFiles(photos_);
    const Snapshot before = Take({photos_});
    ASSERT_EQ(session_.Run(Inputs(photos_), observer_), RunResult::done);
    const Snapshot tagged = Take({photos_});

    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        int seen = 0;
        const KillCase kill = GetParam();
        SetSafeWriteFaultHook([&seen, kill](SafeWriteStep step) {
            if (step == kill.step && ++seen == kill.nth) {
                ::_exit(0);
            }
            return 0;
        });
        UndoObserver observer;
        static_cast<void>(session_.UndoLastRun(observer, false));
        ::_exit(1);  // the step was never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the undo never reached the step";
    for (const auto& [path, state] : before) {
        if (fs::path(path).filename().string().starts_with(".")) {
            continue;
        }
        const Bytes now = ReadFileBytes(path);
        EXPECT_TRUE(now == state.bytes || now == tagged.at(path).bytes) << path;
    }
    // A killed in-place rewrite leaves its journal; the next undo acts on it first, then goes on.
    const UndoSummary summary = Undo();
    EXPECT_EQ(summary.changedSince, 0U) << ::testing::PrintToString(lines_);
    EXPECT_TRUE(SameFiles(before, Take({photos_})));
}
INSTANTIATE_TEST_SUITE_P(RunUndo, KilledUndo,
                         ::testing::Values(KillCase{"BeforeTheFirstRename", SafeWriteStep::rename, 1},
                                           KillCase{"BeforeTheSecondRename", SafeWriteStep::rename, 2},
                                           KillCase{"InTheInPlaceRewrite", SafeWriteStep::rewrite, 1},
                                           KillCase{"BeforeTheJournalIsNamed", SafeWriteStep::journal, 1}),
                         [](const auto& p) { return std::string(p.param.name); });

struct StepsCase {
    const char* name;
    Bytes old;
    Bytes now;
    std::size_t mostKept;  // the bytes the steps may keep themselves
};
void PrintTo(const StepsCase& c, std::ostream* os) { *os << c.name; }
class Steps : public ::testing::TestWithParam<StepsCase> {};

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    std::uint32_t x = seed * 2654435761U + 1U;
    for (auto& b : bytes) {
        x = x * 1664525U + 1013904223U;
        b = static_cast<std::uint8_t>(x >> 24U);
    }
    return bytes;
}

TEST_P(Steps, RebuildTheFormerContentAndKeepOnlyWhatChanged) {
    const StepsCase& c = GetParam();
    const std::array<std::span<const std::uint8_t>, 2> parts{
        std::span<const std::uint8_t>(c.now).first(c.now.size() / 3),
        std::span<const std::uint8_t>(c.now).subspan(c.now.size() / 3)};
    RecordedFile file;
    file.oldSize = c.old.size();
    file.oldHash = ContentHash::Of(c.old);
    file.steps = RestoreSteps(c.old, parts);
    EXPECT_TRUE(BytesEqual(c.old, RebuildFormer(file, c.now)));
    std::size_t kept = 0;
    for (const RestoreStep& step : file.steps) {
        kept += step.fromNew ? 0 : step.bytes.size();
    }
    EXPECT_LE(kept, c.mostKept);
    // The hash does not depend on how the content is cut.
    EXPECT_EQ(ContentHash::Of(parts), ContentHash::Of(c.now));
}
const Bytes kBody = Pattern(20000, 1);
INSTANTIATE_TEST_SUITE_P(
    RunUndo, Steps,
    ::testing::Values(
        StepsCase{"HeadGrew", Cat({Pattern(300, 2), kBody}), Cat({Pattern(900, 3), kBody}), 300},
        StepsCase{"HeadShrank", Cat({Pattern(900, 2), kBody}), Cat({Pattern(300, 3), kBody}), 900},
        StepsCase{"TrailerOffsetsPatched", Cat({Pattern(100, 2), kBody, {1, 2, 3, 4}, kBody}),
                  Cat({Pattern(200, 3), kBody, {9, 9, 9, 9}, kBody}), 104},
        StepsCase{"GrewAtTheEndWithAPointerSwitched", Cat({Pattern(64, 4), {0, 0, 1, 0}, kBody}),
                  Cat({Pattern(64, 4), {0, 0, 9, 9}, kBody, Pattern(500, 5)}), 4},
        StepsCase{"Unchanged", kBody, kBody, 0}, StepsCase{"EmptyBefore", {}, kBody, 0},
        StepsCase{"Unrelated", Pattern(500, 6), Pattern(700, 7), 500}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RunRecordFile, ReadsWhatItWritesAndRefusesEveryCutOrChange) {
    RunRecord record;
    record.kind = RunRecord::Kind::removal;
    record.startedNs = 1'700'000'000'123'456'789;
    record.folder = "/photos";
    RecordedFile file;
    file.path = "/photos/a.jpg";
    file.throughLink = true;
    file.newSize = 10;
    file.newMtime = {1'700'000'000, 5};
    file.newHash = 77;
    file.oldSize = 6;
    file.oldMtime = {1'600'000'000, 999'999'999};
    file.oldHash = 78;
    file.steps = {RestoreStep{true, 2, 4, {}}, RestoreStep{false, 0, 2, {7, 8}}};
    record.files = {file, RecordedFile{"/photos/a.jpg.xmp", false, true, 3, {}, 4, 0, {}, 0, {}}};
    const Bytes bytes = EncodeRunRecord(record);
    const RunRecord read = DecodeRunRecord(bytes);
    EXPECT_EQ(read.kind, record.kind);
    EXPECT_EQ(read.startedNs, record.startedNs);
    EXPECT_EQ(read.folder, record.folder);
    ASSERT_EQ(read.files.size(), 2U);
    EXPECT_EQ(read.files[0].path, file.path);
    EXPECT_TRUE(read.files[0].throughLink);
    EXPECT_EQ(read.files[0].newMtime.tv_nsec, 5);
    EXPECT_EQ(read.files[0].oldMtime.tv_nsec, 999'999'999);
    EXPECT_EQ(read.files[0].steps, file.steps);
    EXPECT_TRUE(read.files[1].created);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        EXPECT_THROW(DecodeRunRecord(std::span(bytes).first(size)), RunRecordError) << size;
    }
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        Bytes changed = bytes;
        changed[at] ^= 0x10U;
        EXPECT_THROW(DecodeRunRecord(changed), RunRecordError) << at;
    }
}

// The newest 20 records stay, the oldest go first.
TEST(RunRecordFile, KeepsTheNewestTwenty) {
    TempDir dir;
    const std::string data = (dir.path() / "").string();
    RunRecord record;
    for (int i = 0; i < 23; ++i) {
        record.folder = std::to_string(i);
        StoreRunRecord(data, record);
    }
    const Strings paths = RunRecordPaths(data);
    ASSERT_EQ(paths.size(), kKeptRuns);
    EXPECT_EQ(DecodeRunRecord(ReadFileBytes(paths.front())).folder, "3");
    EXPECT_EQ(DecodeRunRecord(ReadFileBytes(paths.back())).folder, "22");
}

}  // namespace
}  // namespace zeloro::test
