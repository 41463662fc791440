// tests/support/GpxText.h: GPX files as a logger writes them, built from the points a test names.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeloro::test {

// One point as the file holds it: the import reads the texts, so a test can hand it any spelling.
struct GpxPoint {
    std::string lat;
    std::string lon;
    std::optional<std::string> time;  // "2024-06-15T08:00:00Z"; nullopt: no time element
    std::optional<std::string> ele;   // nullopt: no elevation element
};

// A GPX 1.1 file: the waypoints, then one track of one segment, one element a line.
[[nodiscard]] std::string GpxText(const std::vector<GpxPoint>& track,
                                  const std::vector<GpxPoint>& waypoints = {});

// "2024-06-15T07:00:10Z": `second` seconds after the start of `date` ("2024-06-15"), within that day.
[[nodiscard]] std::string GpxTime(std::string_view date, int second);

}  // namespace zeloro::test
