// tests/tagging/ParallelRunTest.cpp: a run on several threads gives what the one-after-the-other run
// gives: the same log, progress, map list and page, the same written photos, and the same photos left
// untouched when a save fails or a stop is asked for.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SamplePhoto.h"
#include "common/Error.h"
#include "filesafe/SaveJournal.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

constexpr int kPhotoCount = 240;
constexpr int kUnsavablePhoto = 151;  // its EXIF block cannot take the GPS tags

// Log lines without their stamps, progress calls, and a stop after a chosen position.
class Recorder : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int maximum) override { progress.push_back("max " + std::to_string(maximum)); }
    void SetProgressPosition(int position) override {
        progress.push_back("pos " + std::to_string(position));
        stop = stopAfter && position == *stopAfter;
    }
    void ShowError(const std::string& text) override { lines.push_back("ERROR BOX " + text); }
    bool StopRequested() override { return stop; }
    void PhotoHandled(const PhotoReport& report) override {
        const std::size_t folder = report.path.find("/photos/");
        reports.push_back(std::to_string(static_cast<int>(report.status)) + "|" +
                          report.path.substr(folder == std::string::npos ? 0 : folder) + "|" + report.lat +
                          "|" + report.lon + "|" + std::to_string(report.utcTime) + "|" + report.message);
    }

    std::vector<std::string> lines;
    std::vector<std::string> reports;
    std::vector<std::string> progress;
    std::optional<int> stopAfter;
    bool stop = false;
};

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A track of one point a second from 08:00:00 UTC with a gap every seventh second, and photos shot one
// a second from 10:00:00 in UTC + 2:00: every eleventh has no shot time, every fifth lies in a
// subfolder, and one photo cannot be saved.
void BuildFolder(const fs::path& root) {
    fs::create_directories(root / "photos" / "sub");
    fs::create_directories(root / "maps");
    std::vector<GpxPoint> track;
    for (int s = 0; s < kPhotoCount; ++s) {
        if (s % 7 != 3) {
            track.push_back({"48." + std::to_string(1000 + s),
                             "-122." + std::to_string(4000 + s),
                             GpxTime("2024-06-15", 8 * 3600 + s),
                             {}});
        }
    }
    WriteFileText(root / "track.gpx", GpxText(track));
    Connection con;
    con.Open((root / "zeloro.sqlite").string());
    con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
    con.Close();
    for (int k = 0; k < kPhotoCount; ++k) {
        sample::PhotoSpec spec;
        spec.width = 16;
        spec.height = 16;
        spec.scene = k;
        if (k % 11 != 5) {
            spec.dateTimeOriginal = "2024:06:15 10:" + TwoDigits(k / 60) + ":" + TwoDigits(k % 60);
        }
        if (k == kUnsavablePhoto) {
            spec.descriptionLength = 65260;
        }
        const fs::path folder = k % 5 == 0 ? root / "photos" / "sub" : root / "photos";
        WriteFileBytes(folder / ("p" + std::to_string(1000 + k) + ".jpg"), sample::MakePhoto(spec));
    }
}

struct Outcome {
    std::optional<RunResult> result;
    std::string error;
    std::vector<std::string> lines;
    std::vector<std::string> progress;
    std::vector<std::string> reports;
    std::vector<std::string> mapEntries;
    std::string page;
    std::map<std::string, Bytes> photos;         // by path below the photo folder
    std::map<std::string, std::int64_t> mtimes;  // nanoseconds, only when the run keeps them
};

// Every photo's modification time before a run, with nanoseconds of its own.
constexpr timespec kPhotoStamp{1'600'000'000, 123'456'789};

std::int64_t MtimeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

Outcome RunWith(const fs::path& root, int jobs, std::optional<int> stopAfter, const RunModes& modes = {},
                const RunSettings& settings = {}) {
    TaggingSession session((root / "").string());
    session.Connect();
    Recorder recorder;
    recorder.stopAfter = stopAfter;
    RunInputs inputs;
    inputs.gpxPath = (root / "track.gpx").string();
    inputs.folder = (root / "photos").string();
    inputs.zoneIndex = 13;
    inputs.toleranceSeconds = 0;
    inputs.jobs = jobs;
    inputs.modes = modes;
    Outcome outcome;
    try {
        outcome.result = session.Run(inputs, recorder, settings);
    } catch (const Error& e) {
        outcome.error = e.what();
    }
    // Without the folder of the copy, which differs from run to run.
    const auto withoutRoot = [&root](std::string text) {
        if (const std::size_t at = text.find(root.string()); at != std::string::npos) {
            text.replace(at, root.string().size(), "ROOT");
        }
        return text;
    };
    outcome.error = withoutRoot(outcome.error);
    outcome.lines = recorder.lines;
    outcome.progress = recorder.progress;
    std::transform(recorder.reports.begin(), recorder.reports.end(), std::back_inserter(outcome.reports),
                   withoutRoot);
    outcome.mapEntries = session.MapEntries();
    if (const auto page = session.WriteMapPage()) {
        outcome.page = ReadFileText(*page);
    }
    for (const auto& entry : fs::recursive_directory_iterator(root / "photos")) {
        if (entry.is_regular_file()) {
            const std::string name = fs::relative(entry.path(), root / "photos").string();
            outcome.photos[name] = ReadFileBytes(entry.path());
            if (modes.keepMtime) {
                outcome.mtimes[name] = MtimeOf(entry.path());
            }
        }
    }
    return outcome;
}

// Names the first line that differs, which a comparison of the whole lists would cut off.
void ExpectSameList(const std::vector<std::string>& want, const std::vector<std::string>& got,
                    const char* what) {
    const auto [w, g] = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
    EXPECT_TRUE(w == want.end() && g == got.end())
        << what << " differ at " << (w - want.begin()) << ": '" << (w == want.end() ? "(end)" : *w)
        << "' vs '" << (g == got.end() ? "(end)" : *g) << "'";
}

void ExpectSameOutcome(const Outcome& want, const Outcome& got) {
    EXPECT_EQ(want.result, got.result);
    EXPECT_EQ(want.error, got.error);
    ExpectSameList(want.lines, got.lines, "lines");
    ExpectSameList(want.progress, got.progress, "progress");
    ExpectSameList(want.reports, got.reports, "reports");
    EXPECT_EQ(want.mtimes, got.mtimes);
    EXPECT_EQ(want.mapEntries, got.mapEntries);
    EXPECT_EQ(want.page, got.page);
    ASSERT_EQ(want.photos.size(), got.photos.size());
    for (const auto& [name, bytes] : want.photos) {
        const auto it = got.photos.find(name);
        ASSERT_NE(it, got.photos.end()) << name;
        EXPECT_TRUE(BytesEqual(bytes, it->second)) << name;
    }
}

class ParallelRun : public ::testing::Test {
protected:
    // The same folder, built once per case and copied for each run, so every run starts from the same
    // bytes.
    // change: what a case does to the copied photo folder before the run.
    Outcome RunCopy(int jobs, std::optional<int> stopAfter = std::nullopt, const RunModes& modes = {},
                    const RunSettings& settings = {},
                    const std::function<void(const fs::path& photos)>& change = {}) {
        const fs::path copy = tmp_ / ("run" + std::to_string(runs_++));
        fs::copy(tmp_ / "original", copy, fs::copy_options::recursive);
        const std::array<timespec, 2> times{kPhotoStamp, kPhotoStamp};
        for (const auto& entry : fs::recursive_directory_iterator(copy / "photos")) {
            EXPECT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), times.data(), 0), 0) << entry.path();
        }
        if (change) {
            change(copy / "photos");
        }
        return RunWith(copy, jobs, stopAfter, modes, settings);
    }

    void SetUp() override { BuildFolder(tmp_ / "original"); }

    Bytes Original(const std::string& name) const {
        return ReadFileBytes(tmp_ / "original" / "photos" / name);
    }

    // Exactly the photos logged as tagged differ from the originals; some photos with a point stay as
    // they were because the run ended before them, and the log shows misses as well.
    void ExpectWrittenAsLogged(const Outcome& outcome) const {
        std::size_t tagged = 0;
        std::size_t missed = 0;
        for (const std::string& line : outcome.lines) {
            tagged += line.ends_with(" getaggt!") ? 1U : 0U;
            missed += line.ends_with(" keine Koordinaten gefunden") ? 1U : 0U;
        }
        std::size_t changed = 0;
        for (const auto& [name, bytes] : outcome.photos) {
            changed += BytesEqual(Original(name), bytes) ? 0U : 1U;
        }
        EXPECT_GT(tagged, 20U);
        EXPECT_GT(missed, 5U);
        EXPECT_EQ(changed, tagged);
        EXPECT_LT(tagged + missed, static_cast<std::size_t>(kPhotoCount) - 20);
    }

    TempDir tmp_;
    int runs_ = 0;
};

TEST_F(ParallelRun, GivesTheSequentialLogPhotosAndPageUpToTheUnsavablePhoto) {
    const Outcome sequential = RunCopy(1);
    // The sequential run itself: tagged photos up to the unsavable one, misses and gaps logged, the
    // unsavable photo's entry kept, nothing after it written.
    ASSERT_FALSE(sequential.error.empty());
    ASSERT_EQ(sequential.lines.back(), " - p1151.jpg Koordinaten gefunden:");
    ExpectWrittenAsLogged(sequential);
    EXPECT_TRUE(BytesEqual(Original("p1151.jpg"), sequential.photos.at("p1151.jpg")));
    EXPECT_EQ(sequential.mapEntries.back(), "48.1151|-122.4151|p1151.jpg");
    EXPECT_NE(sequential.page.find("p1151.jpg"), std::string::npos);

    for (const int jobs : {2, 3, 8, 0}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        ExpectSameOutcome(sequential, RunCopy(jobs));
    }
}

// A stop asked for while the workers are ahead of the photo whose lines were given last: the photos
// prepared after it are not written, as if they had never been started.
TEST_F(ParallelRun, StopWritesNoPhotoAfterTheLastOneReported) {
    const Outcome sequential = RunCopy(1, 40);
    ASSERT_EQ(sequential.result, RunResult::stopped);
    EXPECT_EQ(sequential.progress.back(), "pos 0");
    EXPECT_EQ(sequential.lines.back(), " - Lauf abgebrochen: 40 von 240 Bildern bearbeitet.");
    ExpectWrittenAsLogged(sequential);
    for (const int jobs : {2, 8}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        ExpectSameOutcome(sequential, RunCopy(jobs, 40));
    }
}

// The run modes on a folder whose first hundred photos an earlier run tagged: the same lines, reports,
// photos and modification times on every thread count.
TEST_F(ParallelRun, RunModesGiveTheSequentialOutcome) {
    ASSERT_EQ(RunWith(tmp_ / "original", 1, 100).result, RunResult::stopped);
    struct Case {
        const char* name;
        RunModes modes;
    };
    const std::array cases{
        Case{"dry run", RunModes{true, false, false}}, Case{"skip tagged", RunModes{false, true, false}},
        Case{"keep mtime", RunModes{false, false, true}}, Case{"all three", RunModes{true, true, true}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome sequential = RunCopy(1, std::nullopt, c.modes);
        // The mode shows in the sequential run itself; a dry run saves nothing, so the unsavable photo
        // does not end it.
        ASSERT_EQ(sequential.error.empty(), c.modes.dryRun) << sequential.error;
        const auto skipped = std::count_if(sequential.lines.begin(), sequential.lines.end(),
                                           [](const auto& l) { return l.ends_with(kLogSkippedTagged); });
        EXPECT_EQ(skipped > 20, c.modes.skipTagged) << skipped;
        const auto changed =
            std::count_if(sequential.photos.begin(), sequential.photos.end(),
                          [&](const auto& p) { return !BytesEqual(Original(p.first), p.second); });
        EXPECT_EQ(changed == 0, c.modes.dryRun) << changed;
        for (const auto& [name, mtime] : sequential.mtimes) {
            EXPECT_EQ(mtime, std::int64_t{kPhotoStamp.tv_sec} * 1'000'000'000 + kPhotoStamp.tv_nsec) << name;
        }
        if (c.modes.dryRun) {
            EXPECT_EQ(sequential.reports.size(), static_cast<std::size_t>(kPhotoCount));
        } else {
            ASSERT_FALSE(sequential.reports.empty());
            EXPECT_TRUE(sequential.reports.back().starts_with("3|/photos/p1151.jpg|48.1151|-122.4151|"))
                << sequential.reports.back();
        }
        for (const int jobs : {2, 8}) {
            SCOPED_TRACE("jobs " + std::to_string(jobs));
            ExpectSameOutcome(sequential, RunCopy(jobs, std::nullopt, c.modes));
        }
    }
}

// A folder a hostile hand has been at, in a run that explains its misses: names that must be escaped, a
// photo with a second hard link in the folder (rewritten in place, so both names see the tagged photo), a
// link to a photo (the file it leads to is tagged, the link stays), a link to a photo with a second hard
// link in a hidden folder the scan does not enter (rewritten in place, its journal beside the link), and a
// read-only photo in the subfolder, whose refusal ends the run (the unsavable photo is gone, so the run
// gets there). Every thread count gives the sequential lines, reports and photos: nothing after the
// refused photo is written, however far the workers had got.
TEST_F(ParallelRun, HostileFolderWithDetailsGivesTheSequentialOutcome) {
    const std::string hostileName = "p1062\n - 1.0,2.0 getaggt!\x1b[2J\xff.jpg";
    const auto change = [&](const fs::path& photos) {
        fs::rename(photos / "p1062.jpg", photos / hostileName);
        fs::create_hard_link(photos / "p1032.jpg", photos / "p1032b.jpg");
        fs::create_symlink("p1041.jpg", photos / "p1040s.jpg");
        fs::create_directory(photos / ".kept");
        fs::rename(photos / "p1051.jpg", photos / ".kept" / "p1051.jpg");
        fs::create_hard_link(photos / ".kept" / "p1051.jpg", photos / ".kept" / "p1051b.jpg");
        fs::create_symlink(".kept/p1051.jpg", photos / "p1051.jpg");
        fs::remove(photos / "p1151.jpg");
        fs::permissions(photos / "sub" / "p1200.jpg", fs::perms::owner_read | fs::perms::group_read);
    };
    RunSettings details;
    details.explain = true;
    const Outcome sequential = RunCopy(1, std::nullopt, {}, details, change);
    // Each of them shows in the sequential run itself.
    EXPECT_NE(sequential.error.find("p1200.jpg ist schreibgeschützt"), std::string::npos) << sequential.error;
    ASSERT_EQ(sequential.lines.back(), " - sub/p1200.jpg Koordinaten gefunden:");
    EXPECT_TRUE(BytesEqual(Original("sub/p1200.jpg"), sequential.photos.at("sub/p1200.jpg")));
    const auto logged = [&](const std::string& line) {
        return std::find(sequential.lines.begin(), sequential.lines.end(), line) != sequential.lines.end();
    };
    EXPECT_TRUE(logged(" - p1062\\x0A - 1.0,2.0 getaggt!\\x1B[2J\\xFF.jpg Koordinaten gefunden:"));
    EXPECT_TRUE(logged(" - p1032.jpg Koordinaten gefunden:"));
    EXPECT_TRUE(logged(" - sub/p1010.jpg keine Koordinaten gefunden"));
    const auto reasons = std::count_if(sequential.lines.begin(), sequential.lines.end(),
                                       [](const std::string& l) { return l.starts_with(" - Grund: "); });
    EXPECT_GT(reasons, 5) << reasons;
    EXPECT_FALSE(BytesEqual(Original("p1032.jpg"), sequential.photos.at("p1032.jpg")));
    EXPECT_TRUE(BytesEqual(sequential.photos.at("p1032.jpg"), sequential.photos.at("p1032b.jpg")));
    EXPECT_FALSE(BytesEqual(Original("p1041.jpg"), sequential.photos.at("p1041.jpg")));
    EXPECT_FALSE(BytesEqual(Original("p1051.jpg"), sequential.photos.at(".kept/p1051.jpg")));
    EXPECT_TRUE(
        BytesEqual(sequential.photos.at(".kept/p1051.jpg"), sequential.photos.at(".kept/p1051b.jpg")));
    EXPECT_TRUE(logged(" - p1051.jpg Koordinaten gefunden:"));
    EXPECT_TRUE(std::none_of(sequential.photos.begin(), sequential.photos.end(), [](const auto& photo) {
        return IsSaveJournalName(fs::path(photo.first).filename().string());
    })) << "a journal is left";
    EXPECT_FALSE(BytesEqual(Original("sub/p1195.jpg"), sequential.photos.at("sub/p1195.jpg")));
    EXPECT_TRUE(BytesEqual(Original("sub/p1205.jpg"), sequential.photos.at("sub/p1205.jpg")));

    for (const int jobs : {2, 8}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        ExpectSameOutcome(sequential, RunCopy(jobs, std::nullopt, {}, details, change));
    }
}

}  // namespace
}  // namespace zeloro::test
