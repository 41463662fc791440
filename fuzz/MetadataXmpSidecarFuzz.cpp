// fuzz/MetadataXmpSidecarFuzz.cpp: a sidecar anyone may have written: its facts read, then the position
// written into it; the result must read back with the position.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Error.h"
#include "metadata/XMPSidecar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    const std::string text(reinterpret_cast<const char*>(data), size);
    static_cast<void>(ReadXMPSidecarFacts(text));
    static_cast<void>(ParseXMPDateText(text));
    const std::vector<XMPSidecarProperty> position{{"GPSVersionID", "2.3.0.0"},
                                                   {"GPSLatitude", "47,39.5811N"},
                                                   {"GPSLongitude", "8,30.1234E"},
                                                   {"GPSTimeStamp", "2024-06-15T08:00:30.000Z"}};
    try {
        const std::string updated = UpdateXMPSidecarText(text, position);
        if (!ReadXMPSidecarFacts(updated).hasGpsPosition) {
            std::abort();
        }
    } catch (const Error&) {
    }
    return 0;
}
