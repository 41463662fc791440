// src/metadata/AFCPTrailer.h: the AFCP trailer some photos end with, and its offsets when it moves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zeloro {

// Bytes to write in place of as many bytes of a photo, from offset `at` of the photo as read.
struct TrailerPatch {
    std::size_t at = 0;
    std::vector<std::uint8_t> bytes;
};

// An AFCP trailer that ends a photo, moved as a whole: where it started and its offset fields rewritten
// for the new place (ascending, not overlapping, all at or after start).
struct MovedAFCPTrailer {
    std::size_t start = 0;
    std::vector<TrailerPatch> patches;
};

// The trailer stores absolute file offsets: in its footer (the last 12 bytes of the file: "AXS!", the
// big-endian offset of its header, 4 more bytes) and in each directory entry after its header ("AXS!",
// version 1, the entry count, 4 more bytes; each entry 12 bytes: a 4-byte tag, the big-endian size and
// offset of the entry's data). Returns the directory and the footer's offset field shifted by `shift`
// bytes when the photo ends with such a trailer that is sound: the footer leads to its header, the
// directory fits in front of the footer and every entry's data lies between the directory and the
// footer. Anything else (no trailer, a damaged or unknown one, an offset that would leave the 32-bit
// range) gives nullopt, and so does a shift of 0: the trailer's bytes are then to be kept as they are.
[[nodiscard]] std::optional<MovedAFCPTrailer> MoveAFCPTrailer(std::span<const std::uint8_t> photo,
                                                              std::int64_t shift);

// After a rewrite of `before` into `after` that kept the end of the photo and moved it by the difference
// in size: the AFCP trailer at that end, if sound and carried over byte for byte, gets its offsets
// shifted in `after`. Otherwise `after` stays as it is.
void KeepAFCPTrailerOffsets(std::span<const std::uint8_t> before, std::span<std::uint8_t> after);

}  // namespace zeloro
