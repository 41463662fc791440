// tests/mapexport/MapBrowserTest.cpp: the written map page as a browser runs it from disk, in headless
// Chromium without network. A copy of the page gets three probe scripts: one at the top of the head
// that records script errors and failed loads, one after Leaflet that records each map Leaflet makes,
// and one at the end of the body that, once the page has loaded, writes what the maps show into the
// DOM, which Chromium then prints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CliProcess.h"
#include "mapexport/MapPage.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

const fs::path kChromium = "/usr/bin/chromium";

constexpr std::string_view kProbeErrors = R"(
window.zeloroProbe = {errors: [], maps: []};
window.addEventListener('error', function (e) {
  var t = e.target;
  if (t && t !== window && (t.src || t.href)) {
    var url = t.src || t.href;
    // Offline the tiles cannot load; everything of the page's own must.
    if (url.indexOf('https://tile.openstreetmap.org/') !== 0) {
      zeloroProbe.errors.push('load failed: ' + url);
    }
  } else {
    zeloroProbe.errors.push((e.message || 'error') + ' at ' + (e.filename || '') + ':' + (e.lineno || 0));
  }
}, true);
window.addEventListener('unhandledrejection', function (e) {
  zeloroProbe.errors.push('rejection: ' + e.reason);
});
)";

constexpr std::string_view kProbeHook = R"(
if (window.L) { L.Map.addInitHook(function () { zeloroProbe.maps.push(this); }); }
)";

constexpr std::string_view kProbeReport = R"(
window.addEventListener('load', function () {
  var out = [];
  function put() {
    var fields = Array.prototype.map.call(arguments, function (v) { return encodeURIComponent(String(v)); });
    out.push(fields.join(' '));
  }
  function describe(node) {
    if (node.nodeType === 3) { return JSON.stringify(node.nodeValue); }
    if (node.nodeName === 'IMG') { return 'IMG[' + node.getAttribute('src') + ']'; }
    return node.nodeName + '(' + Array.prototype.map.call(node.childNodes, describe).join(',') + ')';
  }
  var canvas = document.getElementById('map_canvas');
  put('leaflet', window.L ? L.version : 'missing');
  put('title', document.title);
  put('scripts', document.getElementsByTagName('script').length);
  put('canvas', canvas.firstChild && canvas.firstChild.nodeType === 3 ? canvas.textContent : '');
  put('maps', zeloroProbe.maps.length);
  var notice = document.getElementById('notice');
  put('notice', notice ? describe(notice) : '');
  var map = zeloroProbe.maps[0];
  if (map) {
    put('zoom', map.getZoom());
    var centre = map.getCenter();
    put('centre', centre.lat, centre.lng);
    var view = map.getBounds();
    put('view', view.getSouth(), view.getWest(), view.getNorth(), view.getEast());
    put('icons', document.querySelectorAll('.leaflet-marker-icon').length);
    var box = map.getContainer().getBoundingClientRect();
    var layers = [];
    map.eachLayer(function (layer) { layers.push(layer); });
    layers.forEach(function (layer) {
      if (L.MarkerCluster && layer instanceof L.MarkerCluster) {
        var spot = layer.getLatLng();
        put('cluster', layer.getChildCount(), spot.lat, spot.lng, view.contains(spot) ? 1 : 0,
            layer.getElement().className.indexOf('marker-cluster') >= 0 ? 1 : 0);
      } else if (layer instanceof L.Marker) {
        var at = layer.getLatLng();
        var icon = layer.getElement();
        var rect = icon.getBoundingClientRect();
        var point = map.latLngToContainerPoint(at);
        layer.openPopup();
        var content = layer.getPopup().getElement().querySelector('.leaflet-popup-content');
        put('marker', at.lat, at.lng, icon.getAttribute('src'), icon.complete ? icon.naturalWidth : 0,
            view.contains(at) ? 1 : 0, Math.round(rect.left - box.left + 15 - point.x),
            Math.round(rect.top - box.top + 30 - point.y), describe(content));
        layer.closePopup();
      } else if (layer instanceof L.Polyline) {
        var points = layer.getLatLngs();
        var inView = points.every(function (p) { return view.contains(p); });
        var jump = 0;
        for (var i = 1; i < points.length; ++i) {
          jump = Math.max(jump, Math.abs(points[i].lng - points[i - 1].lng));
        }
        put('line', points.length, points[0].lat, points[0].lng, points[points.length - 1].lat,
            points[points.length - 1].lng, inView ? 1 : 0, jump);
      }
    });
    var attribution = document.querySelector('.leaflet-control-attribution');
    var link = attribution && attribution.querySelector('a[href="https://www.openstreetmap.org/copyright"]');
    put('attribution', attribution ? attribution.textContent : '', link ? link.textContent : '');
  }
  performance.getEntriesByType('resource').forEach(function (e) {
    if (e.name.indexOf('file:') !== 0 && e.name.indexOf('https://tile.openstreetmap.org/') !== 0) {
      zeloroProbe.errors.push('resource from the net: ' + e.name);
    }
  });
  zeloroProbe.errors.forEach(function (e) { put('error', e); });
  var pre = document.createElement('pre');
  pre.id = 'zeloro-probe';
  pre.textContent = out.join('\n');
  document.body.appendChild(pre);
});
)";

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Marker {
    double lat = 0;
    double lon = 0;
    std::string icon;
    int iconWidth = 0;
    bool inView = false;
    int offsetX = 0;  // the icon's anchor against the marker's point, in pixels
    int offsetY = 0;
    std::string popup;  // the popup content's DOM: element names with their children, texts quoted
};

struct Line {
    int points = 0;
    double firstLat = 0, firstLon = 0, lastLat = 0, lastLon = 0;
    bool inView = false;    // every point of it
    double widestStep = 0;  // the most longitude between two neighbouring points
};

// A cluster icon standing for several markers.
struct Cluster {
    int count = 0;
    double lat = 0;
    double lon = 0;
    bool inView = false;
    bool styled = false;  // drawn with the cluster style of MarkerCluster.Default.css
};

struct Probe {
    std::map<std::string, std::vector<std::string>> values;  // the first line of each other kind
    std::vector<Marker> markers;
    std::vector<Line> lines;
    std::vector<Cluster> clusters;
    std::vector<std::string> errors;
    [[nodiscard]] std::string Value(const std::string& kind, std::size_t i = 0) const {
        const auto it = values.find(kind);
        return it != values.end() && i < it->second.size() ? it->second[i] : "(none)";
    }
};

// Unescapes what --dump-dom escaped in the probe's text; the probe's fields are percent-encoded, so only
// these entities can occur.
std::string DomText(std::string text) {
    for (const auto& [entity, c] :
         {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
            text.replace(at, std::string_view(entity).size(), c);
        }
    }
    return text;
}

Probe ParseProbe(const std::string& dom) {
    Probe probe;
    constexpr std::string_view open = "<pre id=\"zeloro-probe\">";
    const std::size_t from = dom.find(open);
    const std::size_t to = dom.find("</pre>", from);
    if (from == std::string::npos || to == std::string::npos) {
        ADD_FAILURE() << "the probe wrote nothing; the browser printed:\n" << dom.substr(0, 4000);
        return probe;
    }
    std::istringstream lines(DomText(dom.substr(from + open.size(), to - from - open.size())));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) {
            fields.push_back(PercentDecoded(word));
        }
        if (fields.empty()) {
            continue;
        }
        const std::string kind = fields.front();
        fields.erase(fields.begin());
        if (kind == "marker" && fields.size() == 8) {
            probe.markers.push_back({std::stod(fields[0]), std::stod(fields[1]), fields[2],
                                     std::stoi(fields[3]), fields[4] == "1", std::stoi(fields[5]),
                                     std::stoi(fields[6]), fields[7]});
        } else if (kind == "line" && fields.size() == 7) {
            probe.lines.push_back({std::stoi(fields[0]), std::stod(fields[1]), std::stod(fields[2]),
                                   std::stod(fields[3]), std::stod(fields[4]), fields[5] == "1",
                                   std::stod(fields[6])});
        } else if (kind == "cluster" && fields.size() == 5) {
            probe.clusters.push_back({std::stoi(fields[0]), std::stod(fields[1]), std::stod(fields[2]),
                                      fields[3] == "1", fields[4] == "1"});
        } else if (kind == "error") {
            probe.errors.push_back(fields.empty() ? "" : fields[0]);
        } else {
            probe.values.emplace(kind, fields);
        }
    }
    return probe;
}

// A text as JSON.stringify quotes it, for the texts the tests use (no control characters).
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// Leaflet's content element holding the page's popup: the name in bold, then shot time and position.
std::string PopupDom(const std::string& name, const std::string& shot, const std::string& position) {
    return "DIV(DIV(STRONG(" + Quoted(name) + "),BR()," + Quoted("Aufnahme: " + shot) + ",BR()," +
           Quoted("Position: " + position) + "))";
}

void Insert(std::string& page, std::string_view anchor, std::string_view script, bool after) {
    const std::size_t at = page.find(anchor);
    ASSERT_NE(at, std::string::npos) << "the page has no " << anchor;
    page.insert(after ? at + anchor.size() : at, "<script>" + std::string(script) + "</script>\r\n");
}

class MapInBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kChromium)) {
            if (std::getenv("CI") != nullptr) {
                FAIL() << kChromium << " is missing (Debian package chromium, see scripts/bootstrap.sh)";
            }
            GTEST_SKIP() << kChromium << " is missing; the page is not tried in a browser";
        }
        // The maps folder as the build delivers it, without a page a run in the build tree left there.
        fs::create_directories(maps_);
        for (const auto& entry : fs::recursive_directory_iterator(BuildDir() / "maps")) {
            const fs::path target = maps_ / fs::relative(entry.path(), BuildDir() / "maps");
            if (entry.is_directory()) {
                fs::create_directories(target);
            } else if (entry.path().filename() != "index.html") {
                fs::copy_file(entry.path(), target);
            }
        }
        ASSERT_TRUE(fs::exists(maps_ / "leaflet.js"));
        ASSERT_TRUE(fs::exists(maps_ / "marker.png"));
    }

    // Writes the page as the "Maps" command does, loads a probed copy and returns what the probe saw.
    Probe Show(const MapContent& content) {
        const std::string path = WriteMapPageFile(data_.path().string() + "/", BuildLeafletPage(content));
        std::string page = ReadFileText(path);
        Insert(page, "<head>\r\n", kProbeErrors, true);
        Insert(page, "<script src=\"leaflet.js\"></script>\r\n", kProbeHook, true);
        Insert(page, "</body>", kProbeReport, false);
        WriteFileText(maps_ / "probe.html", page);
        const ProcessResult r =
            RunProcess("/usr/bin/timeout",
                       {"--kill-after=10", "120", kChromium.string(), "--headless", "--no-sandbox",
                        "--disable-gpu", "--disable-background-networking", "--disable-component-update",
                        "--disable-sync", "--no-first-run", "--user-data-dir=" + (data_ / "profile").string(),
                        // No network: every host name fails to resolve, so the tiles fail at once.
                        "--host-resolver-rules=MAP * ~NOTFOUND", "--window-size=1024,768", "--dump-dom",
                        "file://" + (maps_ / "probe.html").string()});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return ParseProbe(r.out);
    }

    static void ExpectCleanLeafletPage(const Probe& probe) {
        EXPECT_NE(probe.Value("leaflet"), "missing");
        EXPECT_EQ(probe.Value("maps"), "1");
        EXPECT_EQ(probe.Value("title"), "Zeloro geotagging");
        EXPECT_EQ(probe.Value("scripts"), "7");  // the page's four and the probe's three
        EXPECT_EQ(probe.Value("attribution", 0), "Leaflet | © OpenStreetMap contributors");
        EXPECT_EQ(probe.Value("attribution", 1), "OpenStreetMap contributors");
        EXPECT_EQ(probe.errors, std::vector<std::string>{});
    }

    static void ExpectMarkerAt(const Marker& m, double lat, double lon) {
        EXPECT_DOUBLE_EQ(m.lat, lat);
        EXPECT_DOUBLE_EQ(m.lon, lon);
        EXPECT_EQ(m.icon, "marker.png");
        EXPECT_EQ(m.iconWidth, 30) << "the marker image did not load";
        EXPECT_TRUE(m.inView);
        // The image's bottom centre is the marker's point.
        EXPECT_EQ(m.offsetX, 0);
        EXPECT_EQ(m.offsetY, 0);
    }

    TempDir data_;
    fs::path maps_ = data_ / "maps";
};

TEST_F(MapInBrowser, ThreeMarkersWithPopupsInViewAndTheTracks) {
    MapContent content;
    content.photos = {{{47.659685, 9.17578}, "IMG_0001.jpg", "16.05.2026 10:00:30 (UTC + 2:00)"},
                      {{47.660218, 9.17638}, "IMG_0002.jpg", "16.05.2026 10:02:10 (UTC + 2:00)"},
                      {{47.661257, 9.17848}, "Grüße.jpg", "16.05.2026 10:08:00 (UTC + 2:00)"}};
    content.tracks = {{{47.6595, 9.1756}, {47.659685, 9.17578}, {47.660218, 9.17638}},
                      {{47.661, 9.178}, {47.6615, 9.179}}};
    const Probe probe = Show(content);
    ExpectCleanLeafletPage(probe);
    ASSERT_EQ(probe.markers.size(), 3U);
    ExpectMarkerAt(probe.markers[0], 47.659685, 9.17578);
    ExpectMarkerAt(probe.markers[1], 47.660218, 9.17638);
    ExpectMarkerAt(probe.markers[2], 47.661257, 9.17848);
    EXPECT_EQ(probe.markers[0].popup,
              PopupDom("IMG_0001.jpg", "16.05.2026 10:00:30 (UTC + 2:00)", "47.659685, 9.17578"));
    EXPECT_EQ(probe.markers[2].popup,
              PopupDom("Grüße.jpg", "16.05.2026 10:08:00 (UTC + 2:00)", "47.661257, 9.17848"));
    // Fitting three close markers comes nearer than the single marker's zoom.
    EXPECT_GT(std::stoi(probe.Value("zoom")), 15);
    ASSERT_EQ(probe.lines.size(), 2U);
    EXPECT_EQ(probe.lines[0].points, 3);
    EXPECT_DOUBLE_EQ(probe.lines[0].firstLat, 47.6595);
    EXPECT_DOUBLE_EQ(probe.lines[0].lastLon, 9.17638);
    EXPECT_EQ(probe.lines[1].points, 2);
    EXPECT_DOUBLE_EQ(probe.lines[1].lastLat, 47.6615);
}

// Two photos at one spot are still one spot; they share one cluster icon there.
TEST_F(MapInBrowser, OneSpotIsShownAtZoomFifteen) {
    for (const std::size_t photos : {1U, 2U}) {
        SCOPED_TRACE(photos);
        MapContent content;
        for (std::size_t i = 0; i < photos; ++i) {
            content.photos.push_back({{-33.8567, 151.215}, "opera.jpg", "01.01.2024 12:00:00 (UTC)"});
        }
        const Probe probe = Show(content);
        ExpectCleanLeafletPage(probe);
        EXPECT_EQ(probe.Value("zoom"), "15");
        EXPECT_EQ(probe.Value("centre", 0), "-33.8567");
        EXPECT_EQ(probe.Value("centre", 1), "151.215");
        if (photos == 1) {
            ASSERT_EQ(probe.markers.size(), 1U);
            ExpectMarkerAt(probe.markers[0], -33.8567, 151.215);
            EXPECT_EQ(probe.markers[0].popup,
                      PopupDom("opera.jpg", "01.01.2024 12:00:00 (UTC)", "-33.8567, 151.215"));
            EXPECT_TRUE(probe.clusters.empty());
        } else {
            EXPECT_TRUE(probe.markers.empty());
            ASSERT_EQ(probe.clusters.size(), 1U);
            EXPECT_EQ(probe.clusters[0].count, 2);
            EXPECT_DOUBLE_EQ(probe.clusters[0].lat, -33.8567);
            EXPECT_DOUBLE_EQ(probe.clusters[0].lon, 151.215);
        }
        EXPECT_TRUE(probe.lines.empty());
    }
}

// A trip of 900 photos a few metres apart: a handful of numbered cluster icons in view, standing for
// every photo, instead of 900 marker images.
TEST_F(MapInBrowser, CrowdedPhotosGatherIntoClusters) {
    MapContent content;
    for (int i = 0; i < 900; ++i) {
        content.photos.push_back({{47.65 + 0.0001 * (i / 30), 9.17 + 0.0001 * (i % 30)},
                                  "IMG_" + std::to_string(i) + ".jpg",
                                  "16.05.2026 10:00:30 (UTC + 2:00)"});
    }
    const Probe probe = Show(content);
    ExpectCleanLeafletPage(probe);
    ASSERT_FALSE(probe.clusters.empty());
    int shown = static_cast<int>(probe.markers.size());
    for (const Cluster& c : probe.clusters) {
        EXPECT_GT(c.count, 1);
        EXPECT_TRUE(c.inView);
        EXPECT_TRUE(c.styled) << "the cluster style did not apply";
        shown += c.count;
    }
    EXPECT_EQ(shown, 900) << "every photo is a marker or inside a cluster";
    const std::size_t icons = probe.clusters.size() + probe.markers.size();
    EXPECT_LE(icons, 30U);
    EXPECT_EQ(probe.Value("icons"), std::to_string(icons)) << "only those icons are in the page";
}

// The view takes in the whole track, also where it runs far from the photos.
TEST_F(MapInBrowser, ViewFitsTheTrackAsWellAsThePhotos) {
    MapContent content;
    content.photos = {{{47.659685, 9.17578}, "IMG_0001.jpg", ""}};
    content.tracks = {{{47.60, 9.10}, {47.659685, 9.17578}}, {{47.70, 9.30}, {47.72, 9.35}}};
    const Probe probe = Show(content);
    ExpectCleanLeafletPage(probe);
    ASSERT_EQ(probe.markers.size(), 1U);
    ExpectMarkerAt(probe.markers[0], 47.659685, 9.17578);
    ASSERT_EQ(probe.lines.size(), 2U);
    for (const Line& line : probe.lines) {
        EXPECT_TRUE(line.inView);
    }
    EXPECT_LT(std::stoi(probe.Value("zoom")), 15) << "the track is wider than the single photo's view";
}

struct DateLineCase {
    std::string name;
    std::vector<MapPoint> photos;
    std::vector<MapPoint> track;
    double widestView;  // the most longitude the fitted view may span
};

void PrintTo(const DateLineCase& c, std::ostream* os) { *os << c.name; }

class DateLineInBrowser : public MapInBrowser, public ::testing::WithParamInterface<DateLineCase> {};

// A trip over the date line is drawn on the short side: the view spans a few degrees, not the world, the
// track stays one line without a jump, and each popup names the position as tagged.
TEST_P(DateLineInBrowser, FitsTheShortSide) {
    const DateLineCase& c = GetParam();
    MapContent content;
    for (const MapPoint& p : c.photos) {
        content.photos.push_back({p, "a.jpg", ""});
    }
    content.tracks = {c.track};
    const Probe probe = Show(content);
    ExpectCleanLeafletPage(probe);
    const double west = std::stod(probe.Value("view", 1));
    const double east = std::stod(probe.Value("view", 3));
    EXPECT_LT(east - west, c.widestView);
    ASSERT_EQ(probe.lines.size(), 1U);
    EXPECT_TRUE(probe.lines[0].inView);
    EXPECT_LT(probe.lines[0].widestStep, 10);
    ASSERT_EQ(probe.markers.size(), c.photos.size());
    for (std::size_t i = 0; i < c.photos.size(); ++i) {
        const Marker& m = probe.markers[i];
        EXPECT_TRUE(m.inView);
        // Drawn a whole number of turns from the tagged longitude.
        const double turns = (m.lon - c.photos[i].longitude) / 360;
        EXPECT_DOUBLE_EQ(turns, std::round(turns));
        std::ostringstream position;
        position << std::setprecision(10) << c.photos[i].latitude << ", " << c.photos[i].longitude;
        EXPECT_NE(m.popup.find("Position: " + position.str()), std::string::npos) << m.popup;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MapInBrowser, DateLineInBrowser,
    ::testing::Values(
        DateLineCase{"FijiToSamoa",
                     {{-18.1416, 178.4419}, {-13.8333, -171.7667}},
                     {{-18.1416, 178.4419}, {-16.5, 179.6}, {-15.2, -178.9}, {-13.8333, -171.7667}},
                     20},
        DateLineCase{"AlongTheDateLine",
                     {{-16.78, 180}, {-16.80, -179.99}},
                     {{-16.77, 179.99}, {-16.78, 180}, {-16.79, -180}, {-16.80, -179.99}},
                     1}),
    [](const auto& p) { return p.param.name; });

// A photo with a thumbnail beside the page shows it at the top of its popup, loaded from the thumbs
// folder only when the popup opens.
TEST_F(MapInBrowser, PopupShowsTheThumbnail) {
    MapContent content;
    content.photos = {{{47.659685, 9.17578}, "IMG_0001.jpg", "16.05.2026 10:00:30 (UTC + 2:00)"},
                      {{47.669685, 9.18578}, "IMG_0002.jpg", "16.05.2026 10:02:30 (UTC + 2:00)"}};
    content.photos[0].thumbnail = 7;
    fs::create_directories(maps_ / "thumbs");
    fs::copy_file(maps_ / "marker.png", maps_ / "thumbs" / "7.jpg");
    const Probe probe = Show(content);
    ExpectCleanLeafletPage(probe);
    ASSERT_EQ(probe.markers.size(), 2U);
    EXPECT_EQ(probe.markers[0].popup, "DIV(DIV(IMG[thumbs/7.jpg],STRONG(" + Quoted("IMG_0001.jpg") +
                                          "),BR()," + Quoted("Aufnahme: 16.05.2026 10:00:30 (UTC + 2:00)") +
                                          ",BR()," + Quoted("Position: 47.659685, 9.17578") + "))");
    EXPECT_EQ(probe.markers[1].popup,
              PopupDom("IMG_0002.jpg", "16.05.2026 10:02:30 (UTC + 2:00)", "47.669685, 9.18578"));
}

// File names are shown as they are; no name, quote, angle bracket or "</script>" adds an element, runs a
// script or ends the page's data.
TEST_F(MapInBrowser, HostileNamesStayText) {
    const std::vector<std::string> names{"<img src=x onerror=\"document.title='pwned'\">.jpg",
                                         "</script><script>document.title='pwned'</script>.jpg",
                                         "\"'&amp;<!--<b>x</b>]]>.jpg"};
    MapContent content;
    for (std::size_t i = 0; i < names.size(); ++i) {
        content.photos.push_back({{10.0 + static_cast<double>(i), 20}, names[i], "</script><i>" + names[i]});
    }
    const Probe probe = Show(content);
    ExpectCleanLeafletPage(probe);
    ASSERT_EQ(probe.markers.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        ExpectMarkerAt(probe.markers[i], 10.0 + static_cast<double>(i), 20);
        EXPECT_EQ(probe.markers[i].popup,
                  PopupDom(names[i], "</script><i>" + names[i], std::to_string(10 + i) + ", 20"));
    }
}

// The page after an undo or a removal: its notice as text above the map, no marker, the view on the
// tracks, or on the whole world when there is none.
TEST_F(MapInBrowser, NoticePageShowsItsLineAndAView) {
    MapContent content;
    content.notice = "Letzter Lauf rückgängig gemacht: 3 Fotos zurückgesetzt, 0 geändert und behalten <b>";
    for (const bool track : {true, false}) {
        SCOPED_TRACE(track);
        content.tracks.clear();
        if (track) {
            content.tracks = {{{47.6595, 9.1756}, {47.661, 9.178}}};
        }
        const Probe probe = Show(content);
        ExpectCleanLeafletPage(probe);
        EXPECT_EQ(probe.Value("notice"), "P(" + Quoted(content.notice) + ")");
        EXPECT_TRUE(probe.markers.empty());
        EXPECT_EQ(probe.lines.size(), track ? 1U : 0U);
        if (track) {
            EXPECT_GT(std::stoi(probe.Value("zoom")), 10);
        } else {
            EXPECT_EQ(probe.Value("zoom"), "2");
            EXPECT_EQ(probe.Value("centre", 0), "0");
        }
    }
}

// The probe itself can see a broken page: without Leaflet the page says so, and the failed load is
// recorded.
TEST_F(MapInBrowser, MissingLeafletIsToldOnThePage) {
    fs::remove(maps_ / "leaflet.js");
    MapContent content;
    content.photos.push_back({{1, 2}, "a.jpg", ""});
    const Probe probe = Show(content);
    EXPECT_EQ(probe.Value("leaflet"), "missing");
    EXPECT_EQ(probe.Value("maps"), "0");
    EXPECT_EQ(probe.Value("canvas"), "Die Kartenbibliothek leaflet.js fehlt im Ordner maps.");
    // The cluster script, which builds on Leaflet, fails after it.
    EXPECT_EQ(probe.errors,
              (std::vector<std::string>{"load failed: file://" + (maps_ / "leaflet.js").string(),
                                        "Script error. at :0"}));
}

// A data folder filled before the clusters came with the tool lacks their files: the page still shows
// every photo, each with its own marker.
TEST_F(MapInBrowser, WithoutTheClusterScriptEveryMarkerStandsAlone) {
    fs::remove(maps_ / "leaflet.markercluster.js");
    MapContent content;
    for (int i = 0; i < 3; ++i) {
        content.photos.push_back({{-33.8567, 151.215}, "opera.jpg", ""});
    }
    const Probe probe = Show(content);
    EXPECT_EQ(probe.errors, std::vector<std::string>{"load failed: file://" +
                                                     (maps_ / "leaflet.markercluster.js").string()});
    EXPECT_EQ(probe.Value("zoom"), "15");
    EXPECT_TRUE(probe.clusters.empty());
    ASSERT_EQ(probe.markers.size(), 3U);
    for (const Marker& m : probe.markers) {
        ExpectMarkerAt(m, -33.8567, 151.215);
    }
}

}  // namespace
}  // namespace zeloro::test
