// fuzz/MetadataSegmentsFuzz.cpp: the JPEG segment walk (every marker, with the EOI scan), the
// measurement of JPEG data and the copy without chosen segments, over untrusted bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Error.h"
#include "metadata/JPEGSegments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        TJPEGMarkers all = TJPEGMarkers::Range(0x00, 0xFF);
        auto parser = ParseJPEGSegments(bytes, all);
        for (const auto& seg : *parser) {
            (void)seg->TotalSize();
            if (seg->MarkerNum() == jmApp13) (void)seg->HasAdobeHeader();
        }
    } catch (const Error&) {
    }
    try {
        (void)MeasureJPEGData(bytes);
    } catch (const Error&) {
    }
    try {
        ReadOnlyMemoryStream in(bytes);
        MemoryStream out;
        (void)StripJPEGSegments(in, out, {jmApp1, jmApp13, jmEOI});
    } catch (const Error&) {
    }
    return 0;
}
