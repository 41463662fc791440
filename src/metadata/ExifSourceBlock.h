// src/metadata/ExifSourceBlock.h: the EXIF block as the last load read it. A save that keeps the block's
// layout starts from these bytes and changes only what the container changed since.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "metadata/ExifTags.h"
#include "metadata/TiffReader.h"

namespace zeloro {

// One directory the load read for a section. The section's tags were made from `entries`, one tag per
// entry, each tag keeping the entry's ID and data offset; that pair leads a tag back to its entry.
struct ExifSourceDirectory {
    std::int64_t offset = -1;  // relative to the TIFF header; -1 when no directory was read
    std::int64_t nextOffsetPosition = -1;
    std::vector<TTiffTagInfo> entries;  // file order
    [[nodiscard]] bool Read() const noexcept { return offset >= 0; }
};

struct ExifSourceBlock {
    std::vector<std::uint8_t> tiff;  // from the TIFF header to the end of the segment
    TEndianness endianness = SmallEndian;
    std::array<ExifSourceDirectory, 5> directories;  // esGeneral .. esThumbnail
    // The IFD1 thumbnail's bytes (relative to the TIFF header): a JPEG the load took over, or bytes it
    // could not take as one, kept as they were read. Size 0 when IFD1 names none inside the block.
    std::int64_t thumbnailOffset = 0;
    std::int64_t thumbnailSize = 0;
    bool thumbnailIsJPEG = false;

    [[nodiscard]] ExifSourceDirectory& Directory(TExifSectionKind kind) noexcept {
        return directories[kind - 1];
    }
    [[nodiscard]] const ExifSourceDirectory& Directory(TExifSectionKind kind) const noexcept {
        return directories[kind - 1];
    }
};

}  // namespace zeloro
