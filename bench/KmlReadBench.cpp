// bench/KmlReadBench.cpp: the KML reader (and, given a format, the other text track readers) on a
// generated track, for its read time and peak memory.
// "write" makes a KML file of N points in one of the two layouts loggers use: a timed Placemark per point
// (as gpsbabel writes), or one gx:Track with all its times before all its positions (the layout that
// makes the reader hold the times until the positions come); "read" reads it and reports the wall time,
// the points and segments given, and the peak resident memory of that process alone.
// Usage: zeloro_kml_read_bench write FILE POINTS placemarks|track
//        zeloro_kml_read_bench read FILE [kml|tcx|geojson|csv|records|timeline]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "trackread/TextTracks.h"

namespace {

class CountingSink : public zeloro::TrackPointSink {
public:
    void NewSegment() override { ++segments; }
    void Add(const zeloro::TrackPoint& point) override {
        ++points;
        latitudeSum += point.latitude;
    }
    long long segments = 0;
    long long points = 0;
    double latitudeSum = 0;  // so that nothing of the points is optimised away
};

std::string Time(long long second) {
    char text[64];
    std::snprintf(text, sizeof text, "2024-06-%02lldT%02lld:%02lld:%02lldZ", 1 + second / 86400,
                  second / 3600 % 24, second / 60 % 60, second % 60);
    return text;
}

int Write(const char* path, long long points, const std::string& layout) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
           "xmlns:gx=\"http://www.google.com/kml/ext/2.2\"><Document>\n";
    char line[256];
    if (layout == "track") {
        out << "<Placemark><gx:Track>\n";
        for (long long i = 0; i < points; ++i) {
            out << "<when>" << Time(i) << "</when>\n";
        }
        for (long long i = 0; i < points; ++i) {
            std::snprintf(line, sizeof line, "<gx:coord>%.7f %.7f %.1f</gx:coord>\n",
                          8.5 + static_cast<double>(i) * 1e-6, 47.25 + static_cast<double>(i) * 1e-6,
                          400.0 + static_cast<double>(i % 100));
            out << line;
        }
        out << "</gx:Track></Placemark>\n";
    } else {
        for (long long i = 0; i < points; ++i) {
            std::snprintf(
                line, sizeof line,
                "<Placemark><name>%lld</name><TimeStamp><when>%s</when></TimeStamp><Point><coordinates>"
                "%.7f,%.7f,%.1f</coordinates></Point></Placemark>\n",
                i, Time(i).c_str(), 8.5 + static_cast<double>(i) * 1e-6,
                47.25 + static_cast<double>(i) * 1e-6, 400.0 + static_cast<double>(i % 100));
            out << line;
        }
    }
    out << "</Document></kml>\n";
    return out ? 0 : 1;
}

using Reader = void (*)(std::istream&, zeloro::TrackPointSink&);

Reader ReaderOf(const std::string& format) {
    if (format == "tcx") {
        return zeloro::ReadTcx;
    }
    if (format == "geojson") {
        return zeloro::ReadGeoJson;
    }
    if (format == "csv") {
        return zeloro::ReadCsv;
    }
    if (format == "records") {
        return zeloro::ReadGoogleRecords;
    }
    if (format == "timeline") {
        return zeloro::ReadGoogleTimeline;
    }
    return zeloro::ReadKml;
}

int Read(const char* path, const std::string& format) {
    std::ifstream in(path, std::ios::binary);
    CountingSink sink;
    const auto start = std::chrono::steady_clock::now();
    try {
        ReaderOf(format)(in, sink);
    } catch (const zeloro::TrackFormatError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%lld points in %lld segments, %.3f s, %.0f points/s, peak RSS %ld KiB (check %.1f)\n",
                sink.points, sink.segments, seconds, static_cast<double>(sink.points) / seconds,
                usage.ru_maxrss, sink.latitudeSum);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 5) {
        return Write(argv[2], std::atoll(argv[3]), argv[4]);
    }
    if (mode == "read" && (argc == 3 || argc == 4)) {
        return Read(argv[2], argc == 4 ? argv[3] : "kml");
    }
    std::fprintf(stderr, "usage: %s write FILE POINTS placemarks|track | read FILE [FORMAT]\n", argv[0]);
    return 2;
}
