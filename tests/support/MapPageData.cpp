#include "MapPageData.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <string_view>

namespace zeloro::test {

namespace {

constexpr std::string_view kDataOpen = "<script type=\"application/json\" id=\"places\">";

// Where the data element's text lies: [from, to), or nullopt.
std::optional<std::pair<std::size_t, std::size_t>> DataRange(const std::string& page) {
    const std::size_t open = page.find(kDataOpen);
    if (open == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t from = open + kDataOpen.size();
    const std::size_t to = page.find("</script>", from);
    if (to == std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(from, to);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

}  // namespace

void PrintTo(const PageData& data, std::ostream* os) {
    *os << "photos:";
    for (const PagePhoto& p : data.photos) {
        *os << " {" << p.lat << ", " << p.lon << ", \"" << p.name << "\", \"" << p.shot << "\"}";
    }
    *os << " tracks:";
    for (const auto& track : data.tracks) {
        *os << " [" << track.size() << " points";
        for (const auto& point : track) {
            *os << " " << point[0] << "," << point[1];
        }
        *os << "]";
    }
    if (!data.notice.empty()) {
        *os << " notice: \"" << data.notice << "\"";
    }
}

std::string PageDataText(const std::string& page) {
    const auto range = DataRange(page);
    if (!range) {
        ADD_FAILURE() << "no data element in the page";
        return {};
    }
    return page.substr(range->first, range->second - range->first);
}

std::string PageWithoutData(const std::string& page) {
    const auto range = DataRange(page);
    if (!range) {
        ADD_FAILURE() << "no data element in the page";
        return page;
    }
    return page.substr(0, range->first) + page.substr(range->second);
}

std::optional<PageData> ReadPageData(const std::string& page) {
    const auto range = DataRange(page);
    if (!range) {
        ADD_FAILURE() << "no data element in the page";
        return std::nullopt;
    }
    try {
        const auto json = nlohmann::json::parse(page.begin() + static_cast<std::ptrdiff_t>(range->first),
                                                page.begin() + static_cast<std::ptrdiff_t>(range->second));
        const bool notice = json.contains("notice");
        if (json.size() != (notice ? 3U : 2U)) {
            ADD_FAILURE() << "the data hold more than photos, tracks and a notice: " << json.dump();
            return std::nullopt;
        }
        PageData data;
        if (notice) {
            data.notice = json.at("notice").get<std::string>();
        }
        for (const auto& photo : json.at("photos")) {
            if (photo.size() != 4U) {
                ADD_FAILURE() << "a photo of other fields: " << photo.dump();
                return std::nullopt;
            }
            data.photos.push_back({photo.at("lat").get<double>(), photo.at("lon").get<double>(),
                                   photo.at("name").get<std::string>(), photo.at("shot").get<std::string>()});
        }
        for (const auto& track : json.at("tracks")) {
            data.tracks.push_back(track.get<std::vector<std::array<double, 2>>>());
        }
        return data;
    } catch (const nlohmann::json::exception& e) {
        ADD_FAILURE() << "the page's data are not of the expected shape: " << e.what();
        return std::nullopt;
    }
}

::testing::AssertionResult PageWellFormed(const std::string& page) {
    static const std::vector<std::string> kVoid{"!doctype", "meta", "link", "img", "br"};
    const std::string lower = Lower(page);
    std::vector<std::string> open;
    std::size_t at = 0;
    while ((at = page.find('<', at)) != std::string::npos) {
        const std::size_t end = page.find('>', at);
        if (end == std::string::npos) {
            return ::testing::AssertionFailure() << "a tag at offset " << at << " is not closed";
        }
        const std::string_view tag(page.data() + at + 1, end - at - 1);
        const bool closing = tag.starts_with('/');
        const std::string_view rest = closing ? tag.substr(1) : tag;
        const std::string name = Lower(rest.substr(0, rest.find_first_of(" \t\r\n/")));
        at = end + 1;
        if (closing) {
            if (open.empty() || open.back() != name) {
                return ::testing::AssertionFailure()
                       << "</" << name << "> at offset " << end << " closes "
                       << (open.empty() ? std::string("nothing") : "<" + open.back() + ">");
            }
            open.pop_back();
        } else if (std::find(kVoid.begin(), kVoid.end(), name) == kVoid.end() && !tag.ends_with('/')) {
            open.push_back(name);
            if (name == "script") {
                // A script's text is not markup: a browser ends it at the first "</script", in any case.
                at = lower.find("</script", at);
                if (at == std::string::npos) {
                    return ::testing::AssertionFailure() << "<script> is not closed";
                }
            }
        }
    }
    if (!open.empty()) {
        return ::testing::AssertionFailure() << "<" << open.back() << "> is not closed";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace zeloro::test
