// tests/trackread/TextTrackTesting.cpp
#include "TextTrackTesting.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <tuple>

#include "support/TestSupport.h"

namespace zeloro::test {

std::string PointText(const TrackPoint& point) {
    const CalendarDate date = DecodeDate(point.utcTime);
    const ClockTime clock = DecodeTime(point.utcTime);
    std::array<char, 160> text{};
    std::snprintf(text.data(), text.size(), "%.7f %.7f %04d-%02d-%02d %02d:%02d:%02d.%03d ", point.latitude,
                  point.longitude, date.year, date.month, date.day, clock.hour, clock.minute, clock.second,
                  clock.millisecond);
    std::string result = text.data();
    if (point.elevation) {
        std::snprintf(text.data(), text.size(), "%.2f", *point.elevation);
        result += text.data();
    } else {
        result += "-";
    }
    return result;
}

void RecordingSink::Add(const TrackPoint& point) {
    if (segments.empty()) {
        ADD_FAILURE() << "a point before the first NewSegment";
        segments.emplace_back();
    }
    segments.back().push_back(PointText(point));
    points.push_back(point);
}

std::vector<std::vector<std::string>> ReadText(const StreamReader& reader, std::string_view text) {
    std::istringstream in{std::string(text)};
    RecordingSink sink;
    reader(in, sink);
    return sink.segments;
}

std::string ReadError(const StreamReader& reader, std::string_view text) {
    std::istringstream in{std::string(text)};
    RecordingSink sink;
    try {
        reader(in, sink);
    } catch (const TrackFormatError& e) {
        return e.what();
    }
    return {};
}

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};

std::string Text(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

std::string Attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

void Collect(const xmlNode* node, std::vector<OraclePoint>& points) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        const std::string name = reinterpret_cast<const char*>(node->name);
        if (name == "wpt" || name == "trkpt" || name == "rtept") {
            for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
                if (child->type == XML_ELEMENT_NODE &&
                    std::string(reinterpret_cast<const char*>(child->name)) == "time") {
                    std::string time = Text(child);
                    EXPECT_TRUE(time.size() >= 20 && time.back() == 'Z') << time;
                    time = time.substr(0, 19);
                    time[10] = ' ';
                    points.push_back(
                        {std::stod(Attribute(node, "lat")), std::stod(Attribute(node, "lon")), time});
                }
            }
        } else {
            Collect(node->children, points);
        }
    }
}

}  // namespace

std::vector<OraclePoint> GpxTimedPoints(const std::string& gpx) {
    const std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(gpx.data(), static_cast<int>(gpx.size()), nullptr, nullptr, XML_PARSE_NONET));
    std::vector<OraclePoint> points;
    if (!doc) {
        ADD_FAILURE() << "the GPX text is not well-formed";
        return points;
    }
    Collect(xmlDocGetRootElement(doc.get()), points);
    return points;
}

std::optional<std::vector<OraclePoint>> GpsbabelTimedPoints(const std::filesystem::path& file,
                                                            std::string_view format) {
    if (std::system("gpsbabel -V >/dev/null 2>&1") != 0) {
        return std::nullopt;
    }
    const std::string command =
        "gpsbabel -t -w -r -i " + std::string(format) + " -f '" + file.string() + "' -o gpx -F - 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string gpx;
    if (pipe != nullptr) {
        std::array<char, 4096> buffer{};
        for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
            gpx.append(buffer.data(), got);
        }
        EXPECT_EQ(::pclose(pipe), 0) << command;
    }
    return GpxTimedPoints(gpx);
}

::testing::AssertionResult SamePoints(std::vector<OraclePoint> expected,
                                      const std::vector<TrackPoint>& actual) {
    std::vector<OraclePoint> ours;
    for (const TrackPoint& point : actual) {
        ours.push_back({point.latitude, point.longitude, DateTimeText(point.utcTime)});
    }
    const auto order = [](const OraclePoint& a, const OraclePoint& b) {
        return std::tie(a.time, a.latitude, a.longitude) < std::tie(b.time, b.latitude, b.longitude);
    };
    std::sort(expected.begin(), expected.end(), order);
    std::sort(ours.begin(), ours.end(), order);
    if (expected.size() != ours.size()) {
        return ::testing::AssertionFailure()
               << expected.size() << " points expected, " << ours.size() << " read";
    }
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const OraclePoint& e = expected[i];
        const OraclePoint& o = ours[i];
        if (e.time != o.time || std::fabs(e.latitude - o.latitude) > 1e-6 ||
            std::fabs(e.longitude - o.longitude) > 1e-6) {
            return ::testing::AssertionFailure()
                   << "point " << i << ": expected " << e.latitude << " " << e.longitude << " " << e.time
                   << ", read " << o.latitude << " " << o.longitude << " " << o.time;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace zeloro::test
