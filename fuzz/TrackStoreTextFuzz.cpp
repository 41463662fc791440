// fuzz/TrackStoreTextFuzz.cpp: the texts the track store reads from files and the database:
// coordinate conversion, stored date-time texts, declared column types, and the text helpers. The
// first byte picks the function; the rest is its text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Error.h"
#include "common/TextSplit.h"
#include "tagging/FolderScan.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Two texts from one input: before and after the first NUL byte.
std::pair<std::string_view, std::string_view> twoTexts(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, nul), text.substr(nul + 1)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        switch (data[0] % 5) {
            case 0: {
                const zeloro::Dms dms = zeloro::CoordinateToDms(std::string(text), "N", "S");
                check(dms.hemisphere == "N" || dms.hemisphere == "S");
                check(dms.degrees >= 0 && dms.minutes >= 0 && dms.minutes <= 60);
                check(dms.seconds >= 0 && dms.seconds <= 60);
                break;
            }
            case 1: {
                if (const auto value = zeloro::ParseDateTimeText(text)) {
                    check(std::isfinite(*value));
                    check(zeloro::DateTimeText(*value).size() == 19);
                }
                if (const auto value = zeloro::ParseTimeText(text)) {
                    check(*value >= 0 && *value < 1);
                }
                break;
            }
            case 2:
                (void)zeloro::KindOfDeclaredType(text);
                break;
            case 3: {
                const auto [name, mask] = twoTexts(text);
                (void)zeloro::MatchesMask(name, mask);
                break;
            }
            default: {
                const auto [sep, rest] = twoTexts(text);
                const auto parts = zeloro::SplitBySeparator(sep, rest);
                std::string joined;
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    joined += (i == 0 ? "" : std::string(sep)) + parts[i];
                }
                check(joined == rest);
                break;
            }
        }
    } catch (const zeloro::Error&) {
    }
    return 0;
}
