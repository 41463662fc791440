// fuzz/MediaCr3Fuzz.cpp: a CR3 file over untrusted bytes: moov, Canon's uuid box and the TIFF blocks of
// CMT2 and CMT4.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Error.h"
#include "media/ShotTime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    const SpanSource file(std::span<const std::uint8_t>(data, size));
    try {
        (void)ReadMediaFacts(MediaKind::cr3, file);
    } catch (const Error&) {
    }
    return 0;
}
