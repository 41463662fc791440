// tests/cli/CliPhotoKindsTest.cpp: zeloro-cli with --all-photos over copies of the shared files of every
// kind, judged by exiftool: each position in its sidecar (or, with --raw-in-file, in the RAW), every file
// that takes a sidecar byte for byte as it was, an existing sidecar's other properties kept.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "ExiftoolOracle.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

struct KindFile {
    std::string name;
    Bytes original;
    std::string utc;  // "2019-05-01T10:00:00Z" as exiftool reads the shot; empty: none
    double lat = 0;
    double lon = 0;
};

double Number(const TagReport& report, const std::string& key) {
    const auto it = report.find(key);
    return it == report.end() || it->second.empty() ? NAN : std::stod(it->second);
}

// "2019:05:01 10:00:00" (with anything after the seconds) as a GPX time; empty for no usable time.
std::string GpxTimeOf(const std::string& exifTime) {
    if (exifTime.size() < 19 || exifTime.starts_with("0000")) {
        return {};
    }
    std::string time = exifTime.substr(0, 19);
    time[4] = '-';
    time[7] = '-';
    time[10] = 'T';
    return time + "Z";
}

class CliPhotoKinds : public ::testing::Test {
protected:
    void SetUp() override {
        formats_ = SharedTestData() / "formats";
        fs::create_directories(tmp_ / "data");
        fs::copy_file(BuildDir() / "zeloro.sqlite", tmp_ / "data" / "zeloro.sqlite");
    }

    // Copies every file of the shared folder and gives each shot time a point of its own; the camera
    // clocks are read as UTC (--zone 11), as QuickTime's times are by rule.
    std::vector<KindFile> CopyWithTrack(const fs::path& folder) {
        fs::create_directories(folder);
        std::vector<fs::path> sources;
        for (const auto& entry : fs::directory_iterator(formats_)) {
            if (entry.path().filename() != "PROVENANCE.md") {
                sources.push_back(entry.path());
            }
        }
        std::sort(sources.begin(), sources.end());
        WriteFileText(folder / "notes.txt", "no photo");  // counted in the notice, nothing else
        std::vector<std::vector<std::string>> commands;
        for (const fs::path& source : sources) {
            commands.push_back({"-args", "-n", "-DateTimeOriginal", "-CreateDate", source.string()});
        }
        const std::vector<TagReport> times = RunExiftool(commands);
        std::vector<KindFile> files;
        std::map<std::string, std::pair<double, double>> points;
        std::vector<GpxPoint> track;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            KindFile file;
            file.name = sources[i].filename().string();
            file.original = ReadFileBytes(sources[i]);
            // The shared files may be read-only; a user's copies are not.
            fs::copy_file(sources[i], folder / file.name);
            fs::permissions(folder / file.name, fs::perms::owner_read | fs::perms::owner_write);
            const auto original = times[i].find("DateTimeOriginal");
            const auto created = times[i].find("CreateDate");
            file.utc = original != times[i].end()  ? GpxTimeOf(original->second)
                       : created != times[i].end() ? GpxTimeOf(created->second)
                                                   : std::string();
            if (!file.utc.empty()) {
                if (!points.contains(file.utc)) {
                    const double n = static_cast<double>(points.size());
                    points.emplace(file.utc, std::make_pair(10.123456 + n, -20.654321 - n));
                    track.push_back(
                        {std::to_string(10.123456 + n), std::to_string(-20.654321 - n), file.utc, {}});
                }
                file.lat = points[file.utc].first;
                file.lon = points[file.utc].second;
            }
            files.push_back(std::move(file));
        }
        std::sort(track.begin(), track.end(),
                  [](const GpxPoint& a, const GpxPoint& b) { return a.time < b.time; });
        WriteFileText(tmp_ / "track.gpx", GpxText(track));
        return files;
    }

    ProcessResult Run(const fs::path& folder, std::vector<std::string> more) {
        std::vector<std::string> args{
            "--gpx",      (tmp_ / "track.gpx").string(), "--photos",    folder.string(), "--zone", "11",
            "--data-dir", (tmp_ / "data").string(),      "--all-photos"};
        args.insert(args.end(), more.begin(), more.end());
        return RunProcess(BuildDir() / "zeloro-cli", args);
    }

    static bool IsJpegContent(const Bytes& bytes) {
        return bytes.size() > 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
    }
    static bool IsTiffRaw(const std::string& name) {
        const std::string ext = name.substr(name.rfind('.') + 1);
        return ext == "cr2" || ext == "nef" || ext == "dng" || ext == "rw2";
    }

    fs::path formats_;
    TempDir tmp_;
};

TEST_F(CliPhotoKinds, EveryKindGetsItsPositionInItsSidecarAndStaysAsItWas) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    const fs::path folder = tmp_ / "photos";
    const std::vector<KindFile> files = CopyWithTrack(folder);
    // A sidecar that was there keeps its rating and title.
    WriteFileText(folder / "et_DNG.dng.xmp",
                  "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
                  " <rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
                  "  <rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/'\n"
                  "    xmlns:dc='http://purl.org/dc/elements/1.1/' xmp:Rating='3'>\n"
                  "   <dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Gipfel</rdf:li></rdf:Alt></dc:title>\n"
                  "  </rdf:Description>\n"
                  " </rdf:RDF>\n"
                  "</x:xmpmeta>\n");

    const ProcessResult run = Run(folder, {"--keep-going"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;

    std::vector<std::vector<std::string>> commands;
    std::vector<const KindFile*> judged;
    for (const KindFile& file : files) {
        if (file.utc.empty() || file.name.find("_poc.") != std::string::npos) {
            continue;
        }
        const bool inFile = IsJpegContent(file.original);
        const fs::path where = inFile ? folder / file.name : folder / (file.name + ".xmp");
        ASSERT_TRUE(fs::exists(where)) << file.name << "\n" << run.out;
        commands.push_back(
            {"-args", "-n", "-GPSLatitude", "-GPSLongitude", "-Rating", "-Title", where.string()});
        judged.push_back(&file);
        if (!inFile) {
            EXPECT_TRUE(BytesEqual(file.original, ReadFileBytes(folder / file.name))) << file.name;
        }
    }
    ASSERT_GE(judged.size(), 10U);
    const std::vector<TagReport> read = RunExiftool(commands);
    for (std::size_t i = 0; i < judged.size(); ++i) {
        EXPECT_NEAR(Number(read[i], "GPSLatitude"), judged[i]->lat, 1e-6) << judged[i]->name;
        EXPECT_NEAR(Number(read[i], "GPSLongitude"), judged[i]->lon, 1e-6) << judged[i]->name;
        if (judged[i]->name == "et_DNG.dng") {
            EXPECT_EQ(Number(read[i], "Rating"), 3) << judged[i]->name;
            EXPECT_EQ(read[i].count("Title"), 1U);
            EXPECT_EQ(read[i].find("Title")->second, "Gipfel");
        }
    }
    // The broken files are named and skipped; the run went on.
    EXPECT_NE(run.out.find("exv_issue_1793_poc.heic: "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("1 Datei in einem anderen Format übersprungen"), std::string::npos) << run.err;
}

TEST_F(CliPhotoKinds, RawInFileWritesTheRawAndItsSidecarAgrees) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    const fs::path folder = tmp_ / "raw";
    const std::vector<KindFile> files = CopyWithTrack(folder);
    const KindFile* dng = nullptr;
    for (const KindFile& file : files) {
        if (file.name == "et_DNG.dng") {
            dng = &file;
        }
    }
    ASSERT_NE(dng, nullptr);
    WriteFileText(folder / "et_DNG.dng.xmp",
                  "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                  "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
                  "xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='2'/></rdf:RDF></x:xmpmeta>\n");
    const ProcessResult run = Run(folder, {"--keep-going", "--raw-in-file"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;

    std::vector<std::vector<std::string>> commands;
    std::vector<const KindFile*> judged;
    for (const KindFile& file : files) {
        if (file.utc.empty() || !IsTiffRaw(file.name) || IsJpegContent(file.original) ||
            file.name.find("_poc.") != std::string::npos) {
            continue;
        }
        commands.push_back({"-args", "-n", "-GPSLatitude", "-GPSLongitude", (folder / file.name).string()});
        judged.push_back(&file);
        EXPECT_FALSE(BytesEqual(file.original, ReadFileBytes(folder / file.name))) << file.name;
        // Only the RAW that had a sidecar has one now.
        EXPECT_EQ(fs::exists(folder / (file.name + ".xmp")), file.name == "et_DNG.dng") << file.name;
    }
    ASSERT_GE(judged.size(), 3U);
    commands.push_back(
        {"-args", "-n", "-GPSLatitude", "-GPSLongitude", "-Rating", (folder / "et_DNG.dng.xmp").string()});
    const std::vector<TagReport> read = RunExiftool(commands);
    for (std::size_t i = 0; i < judged.size(); ++i) {
        EXPECT_NEAR(Number(read[i], "GPSLatitude"), judged[i]->lat, 1e-6) << judged[i]->name;
        EXPECT_NEAR(Number(read[i], "GPSLongitude"), judged[i]->lon, 1e-6) << judged[i]->name;
    }
    EXPECT_NEAR(Number(read.back(), "GPSLatitude"), dng->lat, 1e-6);
    EXPECT_NEAR(Number(read.back(), "GPSLongitude"), dng->lon, 1e-6);
    EXPECT_EQ(Number(read.back(), "Rating"), 2);
}

TEST_F(CliPhotoKinds, WithoutAllPhotosTheSidecarOptionsAreRefused) {
    const ProcessResult run =
        RunProcess(BuildDir() / "zeloro-cli", {"--gpx", "x.gpx", "--photos", ".", "--sidecar", "base"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "Die Option --sidecar gilt nur zusammen mit --all-photos.\n");
}

}  // namespace
}  // namespace zeloro::test
