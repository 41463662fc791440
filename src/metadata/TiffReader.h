// src/metadata/TiffReader.h: checks the TIFF header of an EXIF block, walks the chain of image file
// directories and describes every entry as a plain record. Damaged directories are recorded as load
// errors, never raised; only a bad header raises EInvalidTiffData "Malformed TIFF data".
#pragma once
#include <cstdint>
#include <vector>

#include "metadata/ExifTags.h"
#include "metadata/Streams.h"

namespace zeloro {

// Offsets are relative to the TIFF header (BasePosition).
struct TTiffTagInfo {
    std::int64_t HeaderOffset = 0;  // the 12-byte entry
    // Data of at most 4 bytes: the entry's value field; otherwise the stored offset plus the data-offset
    // base.
    std::int64_t DataOffset = 0;
    TTiffTagID ID = 0;
    std::uint16_t DataType = 0;
    std::int32_t ElementCount = 0;  // -1 when the data lies outside the stream

    [[nodiscard]] bool IsValid() const noexcept { return ElementCount >= 0 && IsValidTiffDataType(DataType); }
    // Computed in 64 bits so that a huge count never wraps to a small inline size.
    [[nodiscard]] std::int64_t DataSize() const noexcept {
        return IsValid() ? static_cast<std::int64_t>(ElementCount) * TiffElementSize(DataType) : 0;
    }
};

struct TTiffDirectory {
    std::vector<TTiffTagInfo> Tags;  // file order
    TTiffDirectoryLoadErrors LoadErrors;
    // Where the directory lies and where its next-directory offset lies (after the last entry read), both
    // relative to the TIFF header; -1 for a directory outside the stream (leBadOffset).
    std::int64_t Offset = -1;
    std::int64_t NextOffsetPosition = -1;
};

struct TTiffInfo {
    zeloro::Stream* Stream = nullptr;  // borrowed
    std::int64_t BasePosition = 0;     // first byte of the TIFF header
    TEndianness Endianness = SmallEndian;
    std::vector<TTiffDirectory> Directories;  // chain order: IFD0, IFD1, ...
};

// Which magic numbers a header may carry after its byte-order mark. An EXIF block holds TIFF's own 42;
// RAW files built on TIFF change it: Panasonic's RW2 to 0x55, Olympus's ORF to "RO" ("IIRO", "MMOR") or
// "RS" ("IIRS"). Their directories are TIFF's all the same.
enum class TiffMagic : std::uint8_t { exifOnly, rawVariants };

// Reads the header at the stream position and the directory chain. The chain stops at an offset it has
// already read, so a chain that points back never loops.
void LoadTiffInfo(Stream& stream, TTiffInfo& info, TiffMagic accepted = TiffMagic::exifOnly);
[[nodiscard]] TTiffDirectory ParseTiffDirectory(const TTiffInfo& info, std::int64_t dataOffsetBase,
                                                std::int64_t directoryOffset);
// Reads the tag's data into buffer (DataSize() bytes), converting to little-endian.
void ReadTagData(const TTiffInfo& info, const TTiffTagInfo& tag, std::uint8_t* buffer);

}  // namespace zeloro
