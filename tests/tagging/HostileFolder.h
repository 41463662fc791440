// tests/tagging/HostileFolder.h: a tagging run on a temporary photo folder, data folder and track, with a
// log observer, the save's test hook and a snapshot of every file around, for the tests of folders that
// change under a run or hold what a killed run left.
#pragma once
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SamplePhoto.h"
#include "filesafe/SafeFileWrite.h"
#include "filesafe/SaveJournal.h"
#include "support/ExifRead.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"
#include "tagging/FolderScan.h"
#include "tagging/TaggingSession.h"
#include "trackstore/Database.h"

namespace zeloro::test {

namespace fs = std::filesystem;

class LineObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { lines.push_back("ERROR " + text); }
    void ProcessMessages() override {
        if (duringImport) {
            duringImport();
            duringImport = {};
        }
    }
    bool StopRequested() override { return false; }

    [[nodiscard]] bool Logged(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::vector<std::string> lines;
    std::function<void()> duringImport;  // after the scan, before the first photo is read
};

class HookGuard {
public:
    explicit HookGuard(SafeWriteFaultHook hook) { SetSafeWriteFaultHook(std::move(hook)); }
    ~HookGuard() { SetSafeWriteFaultHook({}); }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;
};

// Runs the action the first time the save reaches the step.
inline SafeWriteFaultHook AtStep(SafeWriteStep when, std::function<void()> action) {
    return [when, action = std::move(action), done = false](SafeWriteStep step) mutable {
        if (step == when && !done) {
            done = true;
            action();
        }
        return 0;
    };
}

inline Bytes Photo(const std::string& shot) {
    sample::PhotoSpec spec;
    spec.width = 16;
    spec.height = 16;
    spec.dateTimeOriginal = shot;
    return sample::MakePhoto(spec);
}

// Every file below root (links as their target text) with its size and a hash of its bytes: what "nothing
// else changed" compares.
inline std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string key = entry.path().lexically_relative(root).string();
        if (entry.is_symlink()) {
            files[key] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            const Bytes bytes = ReadFileBytes(entry.path());
            files[key] = std::to_string(bytes.size()) + " bytes, hash " +
                         std::to_string(std::hash<std::string>{}(std::string(bytes.begin(), bytes.end())));
        } else if (!entry.is_directory()) {
            files[key] = "(special)";
        }
    }
    return files;
}

// Tagged at the track's one point.
inline bool HasGps(const fs::path& photo) {
    const std::optional<GpsPosition> at = GpsPositionOf(photo);
    return at && std::fabs(at->lat - 48.5) < 1e-7 && std::fabs(at->lon - 11.5) < 1e-7;
}

// What the run's restore makes of a journal, after a scan of the folder as the run's.
inline UndoneSave UndoAfterScan(const fs::path& folder, const fs::path& journal) {
    std::vector<std::string> photos;
    ScanFindings findings;
    FindFilesRecursive(folder.string() + "/", "*.jpg", photos, true, &findings);
    return UndoInterruptedSave(journal.string(),
                               [&](const std::string& path) { return ScannedKind(photos, findings, path); });
}

class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override {
        Connection con;
        con.Open((data_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos_);
        fs::create_directories(elsewhere_);
        WriteFileText(gpx_, GpxText({{"48.5", "11.5", "2024-06-15T08:00:00Z", {}}}));
        WriteFileText(elsewhere_ / "secret.conf", "password=1\n");
        WriteFileBytes(elsewhere_ / "other.jpg", Photo("2024:06:15 10:00:00"));
        WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
        WriteFileBytes(photos_ / "b.jpg", Photo("2024:06:15 10:00:00"));
        session_.Connect();
    }

    // As World(), less the save's own temporary file, for a snapshot taken in the middle of a save.
    std::map<std::string, std::string> WorldWithoutTemporary() const {
        auto files = World();
        std::erase_if(files, [](const auto& file) {
            return IsSaveTemporaryName(fs::path(file.first).filename().string());
        });
        return files;
    }

    RunResult Run() { return session_.Run({gpx_.string(), photos_.string(), 13, 0, RunModes{}}, observer_); }

    // Everything outside the data folder's own files, for comparing before and after.
    std::map<std::string, std::string> World() const {
        auto files = Snapshot(tmp_.path());
        std::erase_if(files, [](const auto& file) { return file.first.rfind("data/", 0) == 0; });
        return files;
    }

    TempDir tmp_;
    fs::path data_ = tmp_ / "data";
    fs::path photos_ = tmp_ / "photos";
    fs::path elsewhere_ = tmp_ / "elsewhere";
    fs::path gpx_ = tmp_ / "track.gpx";
    bool madeData_ = fs::create_directories(data_);
    TaggingSession session_{(data_ / "").string()};
    LineObserver observer_;
};

}  // namespace zeloro::test
