// tests/cli/CliImportTest.cpp: zeloro-cli and its GPX files: files that are no regular file are refused
// before anything else, a failed import names the file and the point, and --json gives the numbers the
// lookup read.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "SamplePhoto.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// Two points; the photo shot at 10:00:00 in UTC + 2:00 (zone 13) meets the second.
std::string Track(const std::string& lat, const std::string& lon) {
    return GpxText({{"48.1", "11.5", "2024-06-15T07:59:50Z", {}}, {lat, lon, "2024-06-15T08:00:00Z", {}}});
}

class CliImport : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = BuildDir() / "zeloro-cli";
        ASSERT_TRUE(fs::exists(cli_)) << cli_;
        fs::create_directories(data_ / "maps");
        fs::copy_file(BuildDir() / "zeloro.sqlite", data_ / "zeloro.sqlite");
        fs::create_directories(photos_);
        sample::PhotoSpec spec;
        spec.width = 64;
        spec.height = 48;
        spec.dateTimeOriginal = "2024:06:15 10:00:00";
        WriteFileBytes(photos_ / "IMG_1.jpg", sample::MakePhoto(spec));
        before_ = ReadFileBytes(photos_ / "IMG_1.jpg");
        WriteFileText(gpx_, Track("48.2", "11.6"));
    }

    // The run with each GPX file as a --gpx of its own, in the order given.
    ProcessResult Tag(const std::vector<std::string>& gpxFiles, const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{"--data-dir", data_.string()};
        for (const std::string& gpx : gpxFiles) {
            args.insert(args.end(), {"--gpx", gpx});
        }
        args.insert(args.end(), {"--photos", photos_.string(), "--zone", "13"});
        args.insert(args.end(), more.begin(), more.end());
        return RunProcess(cli_, args);
    }

    static std::vector<std::string> Log(const ProcessResult& r) {
        std::vector<std::string> lines;
        for (const std::string& line : SplitLines(r.out)) {
            lines.push_back(StripStamp(line));
        }
        return lines;
    }

    TempDir tmp_;
    fs::path data_ = tmp_ / "data";
    fs::path photos_ = tmp_ / "photos";
    fs::path gpx_ = tmp_ / "track.gpx";
    fs::path cli_;
    Bytes before_;
};

// Opens the FIFO for writing, again and again, once the run has had time enough: a run blocked in
// opening it for reading then goes on (and fails the test) instead of hanging it.
class FifoWatchdog {
public:
    explicit FifoWatchdog(fs::path fifo) : fifo_(std::move(fifo)), thread_([this] { Watch(); }) {}
    ~FifoWatchdog() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    static constexpr auto kPatience = std::chrono::seconds(10);

private:
    void Watch() {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, kPatience, [this] { return done_; })) {
            return;
        }
        while (!wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) {
            const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    fs::path fifo_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// A listening socket's name in the file system, removed with the test's folder.
class BoundSocket {
public:
    explicit BoundSocket(const fs::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string name = path.string();
        if (fd_ < 0 || name.size() >= sizeof address.sun_path) {
            ADD_FAILURE() << "no socket at " << name;
            return;
        }
        std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << name;
    }
    ~BoundSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    BoundSocket(const BoundSocket&) = delete;
    BoundSocket& operator=(const BoundSocket&) = delete;

private:
    int fd_;
};

struct RefusedCase {
    std::string name;
    std::string kind;    // "fifo", "device", "socket", "folder", "missing"
    bool second;         // given as the second --gpx, after a sound first one
    std::string reason;  // the message after "Die GPX-Datei 'PATH' "
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class CliRefusedGpx : public CliImport, public ::testing::WithParamInterface<RefusedCase> {};

// Whatever position it has, a GPX file that cannot be read as a file ends the run as a wrong argument,
// at once and before the data folder is held: a FIFO without a writer would otherwise block the run (and
// hold the data folder) for as long as nobody writes.
TEST_P(CliRefusedGpx, ExitsTwoAtOnceNamingThePath) {
    const RefusedCase& c = GetParam();
    fs::path path = tmp_ / "odd.gpx";
    std::optional<BoundSocket> socket;
    if (c.kind == "fifo") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else if (c.kind == "device") {
        path = "/dev/null";
    } else if (c.kind == "socket") {
        socket.emplace(path);
    } else if (c.kind == "folder") {
        fs::create_directory(path);
    }
    const FifoWatchdog watchdog(path);
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult r =
        c.second ? Tag({gpx_.string(), path.string()}) : Tag({path.string(), gpx_.string()});
    EXPECT_LT(std::chrono::steady_clock::now() - started, FifoWatchdog::kPatience);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Die GPX-Datei '" + path.string() + "' " + c.reason + "\n");
    EXPECT_FALSE(fs::exists(data_ / "zeloro.lock"));  // the data folder was never taken
    EXPECT_TRUE(BytesEqual(before_, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

INSTANTIATE_TEST_SUITE_P(
    CliImport, CliRefusedGpx,
    ::testing::Values(RefusedCase{"Fifo", "fifo", false, "ist keine reguläre Datei."},
                      RefusedCase{"SecondFifo", "fifo", true, "ist keine reguläre Datei."},
                      RefusedCase{"Device", "device", false, "ist keine reguläre Datei."},
                      RefusedCase{"Socket", "socket", true, "ist keine reguläre Datei."},
                      RefusedCase{"SecondFolder", "folder", true, "ist ein Ordner."},
                      RefusedCase{"SecondMissing", "missing", true,
                                  "kann nicht gelesen werden: nicht vorhanden."}),
    [](const auto& p) { return p.param.name; });

struct GlobeCase {
    std::string name;
    std::string lat;
    std::string lon;
    bool refused;
};
void PrintTo(const GlobeCase& c, std::ostream* os) { *os << c.name; }

class CliGlobe : public CliImport, public ::testing::WithParamInterface<GlobeCase> {};

// A point off the globe fails the import that holds it, which names the file and the point; the photo it
// would have met is not touched. The edges of the globe are positions like any other.
TEST_P(CliGlobe, PointsOffTheGlobeFailTheImport) {
    const GlobeCase& c = GetParam();
    WriteFileText(gpx_, Track(c.lat, c.lon));
    const ProcessResult r = Tag({gpx_.string()});
    if (!c.refused) {
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(BytesEqual(before_, ReadFileBytes(photos_ / "IMG_1.jpg")));
        return;
    }
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(Log(r),
              (std::vector<std::string>{" - Lese Bilddateien", " - 1 Bilder im Verzeichnis gefunden",
                                        " - Starte Datenbankimport", " - Import fehlerhaft abgebrochen",
                                        " - 1 Datensätze gelesen und importiert"}));
    EXPECT_EQ(r.err, gpx_.string() + ": trkpt Nr. 2 (lat \"" + c.lat + "\", lon \"" + c.lon +
                         "\", time \"2024-06-15T08:00:00Z\"): Position außerhalb von ±90° Breite und ±180° "
                         "Länge.\n");
    EXPECT_TRUE(BytesEqual(before_, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

INSTANTIATE_TEST_SUITE_P(CliImport, CliGlobe,
                         ::testing::Values(GlobeCase{"LatitudeNinetyOne", "91", "11.6", true},
                                           GlobeCase{"LongitudeOneEightyOne", "48.2", "181", true},
                                           GlobeCase{"LatitudeMinusNinetyAndAHalf", "-90.5", "11.6", true},
                                           GlobeCase{"SouthPoleOnTheDateLine", "-90", "180", false},
                                           GlobeCase{"NorthPoleOnTheDateLine", "90", "-180", false}),
                         [](const auto& p) { return p.param.name; });

// A file that is no GPX names itself in the loader's error, also as the second of two.
TEST_F(CliImport, LoadErrorNamesTheFile) {
    const fs::path second = tmp_ / "second.gpx";
    WriteFileText(second, "<?xml version=\"1.0\"?>");
    const ProcessResult r = Tag({gpx_.string(), second.string()});
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.err, second.string() + ": No root element found in xml.\n");
    EXPECT_TRUE(BytesEqual(before_, ReadFileBytes(photos_ / "IMG_1.jpg")));
}

// The coordinates of --json are the numbers the lookup read from the track's texts, whatever their form.
TEST_F(CliImport, JsonGivesTheNumbersOfTheTrackTexts) {
    WriteFileText(gpx_, Track("+47.5", " 9.5"));
    const ProcessResult r = Tag({gpx_.string()}, {"--json"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 2U) << r.out;
    const nlohmann::json photo = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(photo.at("status"), "tagged");
    EXPECT_EQ(photo.at("latitude"), 47.5);
    EXPECT_EQ(photo.at("longitude"), 9.5);
    EXPECT_FALSE(photo.contains("file_bytes"));
}

}  // namespace
}  // namespace zeloro::test
