// tests/cli/CliOracleTest.cpp: every shared test photo tagged by zeloro-cli as a user runs it, judged by
// exiftool, an independent reader: the six GPS tags right, GPSVersionID 2.3.0.0 in a GPS directory the run
// created, every other tag it reads (maker notes and their sub-directories, the pixel size included) as it
// was, no new warning of the reader or of its validation, the image data byte for byte.
//
// ZELORO_ORACLE_PHOTOS=<folder> runs the same judgement over the JPEG files of another folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "ExiftoolOracle.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

// The photos of ../shared/testdata/jpeg and ../shared/testdata/cameras this test covers; one that goes
// missing fails the test, one that is added is covered too.
constexpr std::array<std::string_view, 76> kCoveredPhotos{
    "exiftool_AFCP.jpg",
    "exiftool_Apple.jpg",
    "exiftool_Canon.jpg",
    "exiftool_Canon1DmkIII.jpg",
    "exiftool_Casio.jpg",
    "exiftool_ExifTool.jpg",
    "exiftool_ExtendedXMP.jpg",
    "exiftool_FLIR.jpg",
    "exiftool_FujiFilm.jpg",
    "exiftool_GPS.jpg",
    "exiftool_GoPro.jpg",
    "exiftool_Google.jpg",
    "exiftool_IPTC.jpg",
    "exiftool_MWG.jpg",
    "exiftool_Nikon.jpg",
    "exiftool_NikonD2Hs.jpg",
    "exiftool_NikonD70.jpg",
    "exiftool_Olympus.jpg",
    "exiftool_Panasonic.jpg",
    "exiftool_Pentax.jpg",
    "exiftool_PhotoMechanic.jpg",
    "exiftool_Sony.jpg",
    "exiftool_Writer.jpg",
    "exiv2_1-string-format.jpg",
    "exiv2_FurnaceCreekInn.jpg",
    "exiv2_FurnaceCreekInn2.jpg",
    "exiv2_exiv2-bug1026.jpg",
    "exiv2_exiv2-bug1062.jpg",
    "exiv2_exiv2-bug1137.jpg",
    "exiv2_exiv2-bug1247.jpg",
    "exiv2_exiv2-bug528.jpg",
    "exiv2_exiv2-bug540.jpg",
    "exiv2_exiv2-nikon-e950.jpg",
    "exiv2_iptc-psAPP13-wIPTC1-psAPP13-wIPTC2.jpg",
    "exiv2_issue_1912_poc.jpg",
    "exiv2_issue_ghsa_g44w_q3vm_gwjq_poc.jpg",
    "mei_Apple_iPhone_4.jpg",
    "mei_Canon_PowerShot_G2_1_.jpg",
    "mei_Canon_PowerShot_G2_3_.jpg",
    "mei_Canon_PowerShot_S300.jpg",
    "mei_FLIR.jpg",
    "mei_FujiFilm_DS-7_1_.jpg",
    "mei_FujiFilm_FinePix1400Zoom_1_.jpg",
    "mei_FujiFilm_FinePix1400Zoom_3_.jpg",
    "mei_FujiFilm_FinePix6800Zoom.jpg",
    "mei_HTC_Desire.jpg",
    "mei_Issue_211.jpg",
    "mei_Issue_258_dotnet_.jpg",
    "mei_Issue_508.jpg",
    "mei_Issue_609.jpg",
    "mei_JVC_GR-DC2000.jpg",
    "mei_Kodak_DC240.jpg",
    "mei_Kodak_ProBack.jpg",
    "mei_Minolta_DiMAGE_7.jpg",
    "mei_Nikon_D1X.jpg",
    "mei_Nikon_D40.jpg",
    "mei_Nikon_D5000.jpg",
    "mei_Nikon_D70.jpg",
    "mei_Nikon_E900_2_.jpg",
    "mei_Nokia_3110c_Mobile_Phone_.jpg",
    "mei_Olympus_C2040Z.jpg",
    "mei_Olympus_C4040Z.jpg",
    "mei_Olympus_E-10.jpg",
    "mei_Olympus_PEN_E-P3.jpg",
    "mei_Panasonic_DMC-LC40.jpg",
    "mei_Photoshop_2_.jpg",
    "mei_Photoshop_4_.jpg",
    "mei_Reconyx_HF2_Pro_Covert.jpg",
    "mei_Ricoh_DC-3Z_low_res_.jpg",
    "mei_Ricoh_RDC5300.jpg",
    "mei_Sony_Cybershot_4_.jpg",
    "mei_Sony_Cybershot_6_.jpg",
    "mei_Sony_DCR-PC110E_2_.jpg",
    "mei_Sony_DSC-HX5V_2_.jpg",
    "mei_Traveler_SX330Z.jpg",
    "mei_Trust_PowerCam_Zoom_LCD_710.JPG",
};

// Every run uses the zone "UTC - 1:00": camera time + 1 hour is UTC. A photo without a readable shot
// time is looked up at 0, which the hour shift moves to 01:00 on 30 December 1899.
constexpr const char* kZone = "10";

DateTimeValue ShiftedToUtc(DateTimeValue shot) {
    const long double v = shot;
    return static_cast<DateTimeValue>(v > 0 ? (v * 24 + 1) / 24 : (v * 24 - 1) / 24);
}

struct Point {
    std::string lat;
    std::string lon;
    std::string utc;  // "yyyy-mm-dd hh:nn:ss", as the track table stores it
};

// Point i: both hemispheres of both axes occur, and no two points share a coordinate.
Point PointOf(std::size_t i, const std::string& utc) {
    char lat[32];
    char lon[32];
    const double n = static_cast<double>(i);
    std::snprintf(lat, sizeof lat, "%.7f", (i % 2 == 0 ? 1 : -1) * (10 + n * 0.9876543));
    std::snprintf(lon, sizeof lon, "%.7f", (i % 3 == 0 ? -1 : 1) * (20 + n * 1.8765432));
    return {lat, lon, utc};
}

struct Photo {
    fs::path source;
    std::string name;
    Bytes original;
    bool opens = true;  // the image object takes it (the codec accepts its header)
    std::string utc;
    fs::path tagged;
    ProcessResult run;
};

// The folder named by ZELORO_ORACLE_PHOTOS, or none.
fs::path OtherPhotoFolder() {
    const char* folder = std::getenv("ZELORO_ORACLE_PHOTOS");
    return folder != nullptr ? fs::path(folder) : fs::path();
}

std::vector<fs::path> PhotosToCover() {
    if (const fs::path folder = OtherPhotoFolder(); !folder.empty()) {
        std::vector<fs::path> photos;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file() && IsJpegFileName(entry.path())) {
                photos.push_back(entry.path());
            }
        }
        std::sort(photos.begin(), photos.end());
        return photos;
    }
    std::vector<fs::path> photos = SharedPhotos();
    std::set<std::string> present;
    for (const fs::path& photo : photos) {
        present.insert(photo.filename().string());
    }
    for (const std::string_view name : kCoveredPhotos) {
        EXPECT_TRUE(present.contains(std::string(name))) << name << " is missing from the shared photos";
    }
    return photos;
}

std::string Gpx(const std::vector<Point>& points) {
    std::vector<GpxPoint> track;
    for (const Point& p : points) {
        std::string time = p.utc;
        time[10] = 'T';
        track.push_back({p.lat, p.lon, time + "Z", {}});
    }
    return GpxText(track);
}

double Number(const TagReport& report, const std::string& key) {
    const auto it = report.find(key);
    return it == report.end() || it->second.empty() ? NAN : std::stod(it->second);
}

TEST(CliOracle, EveryPhotoIsTaggedAndKeepsEverythingElse) {
    if (OtherPhotoFolder().empty()) {
        ZELORO_REQUIRE_SHARED_TESTDATA();
    }
    ZELORO_REQUIRE_EXIFTOOL();
    const fs::path cli = BuildDir() / "zeloro-cli";
    ASSERT_TRUE(fs::exists(cli)) << cli;
    TempDir tmp;
    fs::create_directories(tmp / "data");
    fs::copy_file(BuildDir() / "zeloro.sqlite", tmp / "data" / "zeloro.sqlite");

    // One track point per UTC time a photo is looked up at: the run's own reading of the shot time.
    std::vector<Photo> photos;
    std::map<std::string, Point> points;
    for (const fs::path& source : PhotosToCover()) {
        Photo photo;
        photo.source = source;
        photo.name = source.filename().string();
        photo.original = ReadFileBytes(source);
        TExifData reader;
        try {
            reader.LoadFromJPEG(std::span<const std::uint8_t>(photo.original));
            TJPEGImageEx image;
            image.LoadFromBytes(photo.original);
        } catch (const Error&) {
            photo.opens = false;
        }
        photo.utc = DateTimeText(ShiftedToUtc(reader.DateTimeOriginal()));
        if (!points.contains(photo.utc)) {
            points.emplace(photo.utc, PointOf(points.size(), photo.utc));
        }
        photos.push_back(std::move(photo));
    }
    std::vector<Point> track;
    for (const auto& [utc, point] : points) {
        track.push_back(point);
    }
    WriteFileText(tmp / "track.gpx", Gpx(track));

    // One run per photo, each in a folder of its own: a photo the codec refuses ends its run.
    for (std::size_t i = 0; i < photos.size(); ++i) {
        Photo& photo = photos[i];
        const fs::path folder = tmp / "photos" / std::to_string(i);
        fs::create_directories(folder);
        photo.tagged = folder / photo.name;
        WriteFileBytes(photo.tagged, photo.original);
        photo.run =
            RunProcess(cli, {"--gpx", (tmp / "track.gpx").string(), "--photos", folder.string(), "--zone",
                             kZone, "--tolerance", "0", "--data-dir", (tmp / "data").string()});
    }

    std::vector<fs::path> files;
    std::vector<std::vector<std::string>> gpsCommands;
    for (const Photo& photo : photos) {
        files.push_back(photo.source);
        files.push_back(photo.tagged);
        gpsCommands.push_back({"-a", "-G1", "-n", "-args", "-GPS:all", "-XMP-exif:GPSLatitude",
                               "-XMP-exif:GPSLongitude", photo.tagged.string()});
    }
    const std::vector<TagReport> reports = FullReports(files);
    const std::vector<TagReport> gpsReports = RunExiftool(gpsCommands);

    std::size_t tagged = 0;
    std::size_t refused = 0;
    std::size_t versioned = 0;
    for (std::size_t i = 0; i < photos.size(); ++i) {
        const Photo& photo = photos[i];
        SCOPED_TRACE(photo.name);
        const Bytes saved = ReadFileBytes(photo.tagged);
        if (!photo.opens) {
            ++refused;
            // The run names the error and ends; the photo stays as it was.
            EXPECT_EQ(photo.run.exitStatus, 1) << photo.run.out;
            EXPECT_NE(photo.run.err, "");
            EXPECT_TRUE(BytesEqual(photo.original, saved));
            continue;
        }
        ASSERT_EQ(photo.run.exitStatus, 0) << photo.run.out << photo.run.err;
        EXPECT_NE(photo.run.out.find(" - " + photo.name + " Koordinaten gefunden:"), std::string::npos)
            << photo.run.out;
        ++tagged;

        for (const std::string& change : UnexpectedChanges(reports[2 * i], reports[2 * i + 1])) {
            ADD_FAILURE() << change;
        }
        EXPECT_TRUE(SegmentsAndImageDataKept(photo.original, saved));
        EXPECT_TRUE(XmpPacketKeptWhereUnwritten(photo.original, saved));

        // The six GPS tags, each once, as exiftool reads them.
        const Point& point = points.at(photo.utc);
        const TagReport& gps = gpsReports[i];
        for (const char* key : {"GPS:GPSLatitudeRef", "GPS:GPSLatitude", "GPS:GPSLongitudeRef",
                                "GPS:GPSLongitude", "GPS:GPSDateStamp", "GPS:GPSTimeStamp"}) {
            EXPECT_EQ(gps.count(key), 1U) << key;
        }
        const double lat = std::stod(point.lat);
        const double lon = std::stod(point.lon);
        const auto text = [&gps](const std::string& key) {
            const auto it = gps.find(key);
            return it == gps.end() ? std::string("<missing>") : it->second;
        };
        EXPECT_EQ(text("GPS:GPSLatitudeRef"), lat < 0 ? "S" : "N");
        EXPECT_EQ(text("GPS:GPSLongitudeRef"), lon < 0 ? "W" : "E");
        EXPECT_NEAR(Number(gps, "GPS:GPSLatitude"), std::fabs(lat), 1e-6);
        EXPECT_NEAR(Number(gps, "GPS:GPSLongitude"), std::fabs(lon), 1e-6);
        // A packet that carries the position reads as the same place in exiftool, which prefers XMP.
        if (gps.contains("XMP-exif:GPSLatitude")) {
            EXPECT_NEAR(Number(gps, "XMP-exif:GPSLatitude"), lat, 1e-6);
        }
        if (gps.contains("XMP-exif:GPSLongitude")) {
            EXPECT_NEAR(Number(gps, "XMP-exif:GPSLongitude"), lon, 1e-6);
        }
        std::string date = point.utc.substr(0, 10);
        std::replace(date.begin(), date.end(), '-', ':');
        EXPECT_EQ(text("GPS:GPSDateStamp"), date);
        EXPECT_EQ(text("GPS:GPSTimeStamp"), point.utc.substr(11));
        // The Exif standard requires the version of every GPS directory; one the photo had keeps its own
        // (or none).
        if (!HadGpsDirectory(reports[2 * i])) {
            EXPECT_EQ(text("GPS:GPSVersionID"), "2 3 0 0");
            ++versioned;
        }
    }
    std::printf("  %zu photos covered, %zu tagged (%zu given a new GPS directory), %zu refused\n",
                photos.size(), tagged, versioned, refused);
    RecordProperty("photos_covered", static_cast<int>(photos.size()));
    RecordProperty("photos_tagged", static_cast<int>(tagged));
    RecordProperty("photos_refused", static_cast<int>(refused));
    EXPECT_GT(tagged, photos.size() * 9 / 10);
}

}  // namespace
}  // namespace zeloro::test
