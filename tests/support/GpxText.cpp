#include "GpxText.h"

#include <cstdio>

namespace zeloro::test {

namespace {

std::string Element(std::string_view name, const GpxPoint& point) {
    std::string text = "<" + std::string(name) + " lat=\"" + point.lat + "\" lon=\"" + point.lon + "\">";
    if (point.ele) {
        text += "<ele>" + *point.ele + "</ele>";
    }
    if (point.time) {
        text += "<time>" + *point.time + "</time>";
    }
    return text + "</" + std::string(name) + ">\n";
}

}  // namespace

std::string GpxText(const std::vector<GpxPoint>& track, const std::vector<GpxPoint>& waypoints) {
    std::string gpx =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"zeloro tests\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n";
    for (const GpxPoint& point : waypoints) {
        gpx += Element("wpt", point);
    }
    gpx += "<trk><trkseg>\n";
    for (const GpxPoint& point : track) {
        gpx += Element("trkpt", point);
    }
    return gpx + "</trkseg></trk>\n</gpx>\n";
}

std::string GpxTime(std::string_view date, int second) {
    char clock[32];
    std::snprintf(clock, sizeof clock, "T%02d:%02d:%02dZ", second / 3600, second / 60 % 60, second % 60);
    return std::string(date) + clock;
}

}  // namespace zeloro::test
