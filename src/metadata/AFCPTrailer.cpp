// src/metadata/AFCPTrailer.cpp: finding a sound AFCP trailer at the end of a photo and shifting its offsets.
#include "metadata/AFCPTrailer.h"

#include <algorithm>
#include <array>
#include <limits>

namespace zeloro {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic{'A', 'X', 'S', '!'};
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kFooterSize = 12;
constexpr std::size_t kEntrySize = 12;
constexpr std::uint16_t kVersion = 1;

std::uint16_t ReadBE16(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return static_cast<std::uint16_t>((bytes[at] << 8U) | bytes[at + 1]);
}

std::uint32_t ReadBE32(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return (std::uint32_t{bytes[at]} << 24U) | (std::uint32_t{bytes[at + 1]} << 16U) |
           (std::uint32_t{bytes[at + 2]} << 8U) | std::uint32_t{bytes[at + 3]};
}

void WriteBE32(std::uint8_t* out, std::uint32_t value) noexcept {
    out[0] = static_cast<std::uint8_t>(value >> 24U);
    out[1] = static_cast<std::uint8_t>(value >> 16U);
    out[2] = static_cast<std::uint8_t>(value >> 8U);
    out[3] = static_cast<std::uint8_t>(value);
}

bool MagicAt(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return std::equal(kMagic.begin(), kMagic.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// The offset as it reads after the move, when it stays a 32-bit file offset.
std::optional<std::uint32_t> Shifted(std::uint32_t offset, std::int64_t shift) noexcept {
    const std::int64_t moved = std::int64_t{offset} + shift;
    if (moved < 0 || moved > std::int64_t{std::numeric_limits<std::uint32_t>::max()}) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(moved);
}

}  // namespace

std::optional<MovedAFCPTrailer> MoveAFCPTrailer(std::span<const std::uint8_t> photo, std::int64_t shift) {
    if (shift == 0 || photo.size() < kHeaderSize + kFooterSize) {
        return std::nullopt;
    }
    const std::size_t footer = photo.size() - kFooterSize;
    if (!MagicAt(photo, footer)) {
        return std::nullopt;
    }
    const std::uint32_t startField = ReadBE32(photo, footer + 4);
    const std::size_t start = startField;
    if (start > footer - kHeaderSize || !MagicAt(photo, start) || ReadBE16(photo, start + 4) != kVersion) {
        return std::nullopt;
    }
    const std::size_t count = ReadBE16(photo, start + 6);
    const std::size_t directory = start + kHeaderSize;
    if (count > (footer - directory) / kEntrySize) {
        return std::nullopt;
    }
    const std::size_t directoryEnd = directory + count * kEntrySize;

    const auto movedStart = Shifted(startField, shift);
    if (!movedStart) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> entries(photo.begin() + static_cast<std::ptrdiff_t>(directory),
                                      photo.begin() + static_cast<std::ptrdiff_t>(directoryEnd));
    for (std::size_t entry = 0; entry < entries.size(); entry += kEntrySize) {
        const std::size_t size = ReadBE32(entries, entry + 4);
        const std::uint32_t offsetField = ReadBE32(entries, entry + 8);
        const std::size_t offset = offsetField;
        // An entry whose data reaches into the directory or the footer is not one a save can vouch for.
        if (offset < directoryEnd || offset > footer || size > footer - offset) {
            return std::nullopt;
        }
        const auto moved = Shifted(offsetField, shift);
        if (!moved) {
            return std::nullopt;
        }
        WriteBE32(entries.data() + entry + 8, *moved);
    }
    MovedAFCPTrailer result;
    result.start = start;
    if (count > 0) {
        result.patches.push_back({directory, std::move(entries)});
    }
    std::vector<std::uint8_t> startBytes(4);
    WriteBE32(startBytes.data(), *movedStart);
    result.patches.push_back({footer + 4, std::move(startBytes)});
    return result;
}

void KeepAFCPTrailerOffsets(std::span<const std::uint8_t> before, std::span<std::uint8_t> after) {
    const std::int64_t shift =
        static_cast<std::int64_t>(after.size()) - static_cast<std::int64_t>(before.size());
    const auto moved = MoveAFCPTrailer(before, shift);
    if (!moved) {
        return;
    }
    const std::size_t length = before.size() - moved->start;
    if (length > after.size() ||
        !std::equal(before.begin() + static_cast<std::ptrdiff_t>(moved->start), before.end(),
                    after.end() - static_cast<std::ptrdiff_t>(length))) {
        return;
    }
    for (const TrailerPatch& patch : moved->patches) {
        const auto at = static_cast<std::ptrdiff_t>(static_cast<std::int64_t>(patch.at) + shift);
        std::copy(patch.bytes.begin(), patch.bytes.end(), after.begin() + at);
    }
}

}  // namespace zeloro
