// fuzz/MetadataIptcFuzz.cpp: Adobe resource blocks and IPTC record streams from untrusted bytes. What
// loads must save, and what was saved must load back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "common/Error.h"
#include "metadata/AdobeResources.h"
#include "metadata/IPTCData.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "zeloro_metadata_iptc_fuzz: %s\n", what);
    std::abort();
}

void CheckRecordStream(std::span<const std::uint8_t> bytes) {
    zeloro::TIPTCData first;
    try {
        first.LoadFromBytes(bytes);
    } catch (const zeloro::Error&) {
        return;
    }
    std::vector<std::uint8_t> saved;
    first.SaveToBytes(saved);
    zeloro::TIPTCData second;
    try {
        second.LoadFromBytes(saved);
    } catch (const zeloro::Error&) {
        Fail("a saved record stream does not load");
    }
    std::vector<std::uint8_t> again;
    second.SaveToBytes(again);
    if (again != saved) {
        Fail("a saved record stream changes when loaded and saved again");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    CheckRecordStream(input);
    // The same bytes as an APP13 payload whose first 14 bytes stand for the Adobe header.
    zeloro::TAdobeApp13Enumerator blocks(input, size >= 14 ? 14 : 0);
    try {
        while (blocks.MoveNext()) {
            const zeloro::TAdobeBlock& block = *blocks.Current();
            std::vector<std::uint8_t> saved;
            block.SaveToBytes(saved);
            std::size_t pos = 0;
            const auto reread = zeloro::TAdobeBlock::Read(saved, pos);
            if (reread->Signature() != block.Signature() || reread->TypeID() != block.TypeID() ||
                reread->Name() != block.Name() || reread->Data() != block.Data()) {
                Fail("a saved resource block reads back different");
            }
            if (block.IsIPTCBlock()) {
                CheckRecordStream(block.Data());
            }
        }
    } catch (const zeloro::Error&) {
        // A damaged block ends the walk, as it ends the APP13 step.
    }
    return 0;
}
