// fuzz/MetadataWriteFuzz.cpp: a photo loaded, tagged as the run tags it and saved; the output must load
// again and carry what was written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/DateTime.h"
#include "common/Error.h"
#include "metadata/JPEGImageEx.h"

namespace {

[[noreturn]] void Fail(const char* what, const char* detail) {
    std::fprintf(stderr, "zeloro_metadata_write_fuzz: %s: %s\n", what, detail);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    std::vector<std::uint8_t> output;
    {
        TJPEGImageEx image;
        try {
            image.LoadFromBytes(std::vector<std::uint8_t>(data, data + size));
            if (image.Empty()) {
                return 0;  // no bytes, no picture: nothing to tag
            }
            image.ExifData().GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                                                  TTiffLongWordFraction(7716, 625), ltNorth);
            image.ExifData().GPSLongitude().Assign(TTiffLongWordFraction(13, 1), TTiffLongWordFraction(24, 1),
                                                   TTiffLongWordFraction(5, 1), lnEast);
            image.ExifData().SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
            image.SaveToBytes(output);
        } catch (const Error&) {
            return 0;  // refused input, or a block too large for its segment: nothing is written
        }
    }
    // What the writer produced from a photo it could open must open again with the new values.
    TJPEGImageEx reloaded;
    try {
        reloaded.LoadFromBytes(output);
    } catch (const Error& e) {
        Fail("the saved photo does not load", e.what());
    }
    if (reloaded.ExifData().GPSLatitude().AsString() != "51,30,7716/625N" ||
        reloaded.ExifData().GPSLongitude().AsString() != "13,24,5E") {
        Fail("the saved photo lost its GPS values", reloaded.ExifData().GPSLatitude().AsString().c_str());
    }
    return 0;
}
