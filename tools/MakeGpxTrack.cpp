// tools/MakeGpxTrack.cpp: writes a GPX file with one track of N timed points, one second apart, as a
// GPS logger writes them (coordinates, elevation, time), for the import benchmark.
// Usage: zeloro_make_gpx_track OUTPUT POINTS
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT POINTS\n", argv[0]);
        return 2;
    }
    const long points = std::strtol(argv[2], nullptr, 10);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || points < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::fputs(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"gpx_make_track\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
        " <trk>\n  <name>benchmark</name>\n  <trkseg>\n",
        out);
    // Starts 2020-06-01 00:00:00 UTC; the clock rolls over into the following days.
    for (long i = 0; i < points; ++i) {
        const long day = 1 + i / 86400;
        const long second = i % 86400;
        const double lat = 47.0 + static_cast<double>(i % 100000) * 1e-6;
        const double lon = 8.0 + static_cast<double>(i % 77777) * 1e-6;
        std::fprintf(out,
                     "   <trkpt lat=\"%.6f\" lon=\"%.6f\"><ele>%.1f</ele>"
                     "<time>2020-06-%02ldT%02ld:%02ld:%02ldZ</time></trkpt>\n",
                     lat, lon, 400.0 + static_cast<double>(i % 1000) / 10.0, day % 100, second / 3600,
                     (second / 60) % 60, second % 60);
    }
    std::fputs("  </trkseg>\n </trk>\n</gpx>\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}
