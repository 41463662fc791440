// fuzz/MediaIsoBoxesFuzz.cpp: the ISO base media box walk over untrusted bytes, read as a HEIF file (meta,
// iinf, iloc, idat and the EXIF item) and as whatever kind its first bytes tell.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Error.h"
#include "media/ShotTime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    const std::span<const std::uint8_t> bytes(data, size);
    const SpanSource file(bytes);
    try {
        (void)ReadMediaFacts(MediaKind::heif, file);
    } catch (const Error&) {
    }
    const MediaKind kind = DetectMediaKind(bytes.first(std::min<std::size_t>(size, 64)));
    if (kind != MediaKind::heif) {
        try {
            (void)ReadMediaFacts(kind, file);
        } catch (const Error&) {
        }
    }
    return 0;
}
