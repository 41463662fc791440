// fuzz/TaggingRunRecordFuzz.cpp: the run record, a file in the user's data folder that anyone who may write
// there can choose. The first byte picks the shape: the record as it is, or its body with the checksum made
// right, so the reader's checks after the checksum are reached. A record read must write back to the same
// bytes, and every file of it must rebuild from any content to its recorded size or be refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "tagging/RunRecord.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    if ((data[0] & 1U) != 0) {
        const std::uint64_t hash = zeloro::ContentHash::Of(bytes);
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(hash >> (8 * i)));
        }
    }
    try {
        const zeloro::RunRecord record = zeloro::DecodeRunRecord(bytes);
        Check(zeloro::EncodeRunRecord(record) == bytes);
        const std::span<const std::uint8_t> now(bytes);
        for (const zeloro::RecordedFile& file : record.files) {
            try {
                const std::vector<std::uint8_t> former = zeloro::RebuildFormer(file, now);
                Check(former.size() == file.oldSize);
            } catch (const zeloro::RunRecordError&) {
            }
        }
    } catch (const zeloro::RunRecordError&) {
    }
    return 0;
}
