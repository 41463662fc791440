// tools/MakeSample.cpp: writes the bundled sample (a GPX walk and six photos) into a folder.
// Usage: zeloro_make_sample OUTDIR   (writes OUTDIR/track.gpx and OUTDIR/photos/...)
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "SamplePhoto.h"

namespace {

namespace fs = std::filesystem;

// A walk along the harbour of Konstanz, one point every ten seconds from 08:00:00 to 08:10:00 UTC.
constexpr int kPoints = 61;
constexpr int kStepSeconds = 10;

std::string Format(const char* format, double a, double b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

std::string TrackGpx() {
    std::string gpx =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"Zeloro make-sample\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
        "  <metadata><name>Hafenrunde Konstanz</name></metadata>\n"
        "  <wpt lat=\"47.659500\" lon=\"9.175600\"><name>Start (ohne Zeit)</name></wpt>\n"
        "  <trk>\n    <name>Hafenrunde</name>\n    <trkseg>\n";
    for (int i = 0; i < kPoints; ++i) {
        const double t = i;
        const double lat = 47.6595 + 0.00004 * t + 0.0002 * std::sin(t / 9.0);
        const double lon = 9.1756 + 0.00006 * t;
        const int seconds = i * kStepSeconds;
        char time[32];
        std::snprintf(time, sizeof time, "2026-05-16T08:%02d:%02dZ", seconds / 60, seconds % 60);
        gpx += "      <trkpt " + Format("lat=\"%.6f\" lon=\"%.6f\"", lat, lon) + "><ele>" +
               std::to_string(395 + i % 7) + "</ele><time>" + time + "</time></trkpt>\n";
    }
    gpx += "    </trkseg>\n  </trk>\n</gpx>\n";
    return gpx;
}

struct SamplePhoto {
    const char* path;
    std::optional<std::string> shot;  // camera clock, UTC + 2:00
};

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void WriteFile(const fs::path& path, const zeloro::sample::ByteVector& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zeloro_make_sample OUTDIR\n";
        return 2;
    }
    try {
        const fs::path out = argv[1];
        fs::create_directories(out / "photos" / "Hafen");
        WriteFile(out / "track.gpx", TrackGpx());
        const std::vector<SamplePhoto> photos{
            {"photos/IMG_0001.jpg", "2026:05:16 10:00:30"},        // on a track point
            {"photos/IMG_0002.jpg", "2026:05:16 10:02:10"},        // on a track point
            {"photos/IMG_0003.jpg", "2026:05:16 10:04:25"},        // between two points: needs a tolerance
            {"photos/IMG_0004.jpg", "2026:05:16 10:30:00"},        // after the walk
            {"photos/IMG_0005.jpg", std::nullopt},                 // no shot time at all
            {"photos/Hafen/IMG_0006.jpg", "2026:05:16 10:08:00"},  // in a subfolder, on a track point
        };
        int scene = 0;
        for (const SamplePhoto& p : photos) {
            zeloro::sample::PhotoSpec spec;
            spec.scene = scene++;
            spec.dateTimeOriginal = p.shot;
            spec.bigEndian = scene % 2 == 0;  // both byte orders occur
            WriteFile(out / p.path, zeloro::sample::MakePhoto(spec));
        }
    } catch (const std::exception& e) {
        std::cerr << "zeloro_make_sample: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
