// fuzz/MediaQuickTimeFuzz.cpp: a QuickTime or MP4 movie over untrusted bytes: the movie header, the
// metadata keys and items, and the user data's position.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Error.h"
#include "media/ShotTime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    const SpanSource file(std::span<const std::uint8_t>(data, size));
    try {
        (void)ReadMediaFacts(MediaKind::video, file);
    } catch (const Error&) {
    }
    return 0;
}
