// tests/media/MediaBuilders.h: byte builders of the media fixtures: ISO base media boxes, HEIF files with
// an EXIF item, CR3 and QuickTime movies, and EXIF blocks with a shot time and a position.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

namespace zeloro::test {

// width bytes of value, most significant first.
void PutBig(Bytes& out, std::uint64_t value, unsigned width);
[[nodiscard]] Bytes Join(std::initializer_list<Bytes> parts);
[[nodiscard]] Bytes Text(std::string_view text);

// A box with a 32-bit size; LargeBox with size 1 and the 64-bit size; FullBox with version and flags first.
[[nodiscard]] Bytes Box(std::string_view type, const Bytes& payload);
[[nodiscard]] Bytes LargeBox(std::string_view type, const Bytes& payload);
[[nodiscard]] Bytes FullBox(std::string_view type, std::uint8_t version, const Bytes& payload);
[[nodiscard]] Bytes FileTypeBox(std::string_view major, std::initializer_list<std::string_view> compatible);

// A TIFF block: IFD0 pointing to an Exif directory with DateTimeOriginal (left out when empty) and, with
// gps, to a GPS directory with latitude and longitude. Exif and GPS alone make the block's IFD0 that
// directory, as CR3 stores them.
[[nodiscard]] Bytes ExifTiff(std::string_view dateTimeOriginal, bool gps, bool bigEndian = false);
[[nodiscard]] Bytes ExifDirectoryTiff(std::string_view dateTimeOriginal);
[[nodiscard]] Bytes GpsDirectoryTiff(bool withPosition);
// The EXIF item of a HEIF file: the offset to the TIFF header, "Exif\0\0", the block.
[[nodiscard]] Bytes ExifItem(const Bytes& tiff);

struct HeifLayout {
    unsigned ilocVersion = 0;      // 0, 1 or 2
    bool inIdat = false;           // construction method 1 (needs version 1 or 2)
    int extents = 1;               // the item split into this many extents, stored back to front
    std::uint64_t baseOffset = 0;  // moved from the extents' offsets into base_offset
    unsigned infeVersion = 2;      // 2 or 3
};
// ftyp heic, meta (hdlr, iinf with an "hvc1" item 1 and the "Exif" item 2, iloc, idat), mdat.
[[nodiscard]] Bytes HeifFile(const Bytes& exifItem, const HeifLayout& layout = {});

// ftyp crx, moov with Canon's uuid box holding CMT1, CMT2 and (when not empty) CMT4.
[[nodiscard]] Bytes Cr3File(const Bytes& cmt2, const Bytes& cmt4);

[[nodiscard]] Bytes MovieHeader(std::uint8_t version, std::uint64_t creationTime);
// moov/meta (QuickTime form: no version) with keys and ilst holding the given key-value texts.
[[nodiscard]] Bytes KeyedMeta(const std::vector<std::pair<std::string, std::string>>& values);
// udta with ©xyz holding the text.
[[nodiscard]] Bytes UserDataPosition(std::string_view iso6709);
// ftyp qt, moov with the children given, mdat.
[[nodiscard]] Bytes Movie(const std::vector<Bytes>& moovChildren);

// RAF: the header, with the preview JPEG's offset and length at byte 84, the JPEG at that offset.
[[nodiscard]] Bytes RafFile(const Bytes& jpeg, std::uint32_t offset, std::uint32_t length);
// MRW: a PRD block, then the TTW block holding the TIFF block.
[[nodiscard]] Bytes MrwFile(const Bytes& tiff);
// CRW: the root heap holds a sub-heap (ImageProps), which holds the capture-time record.
[[nodiscard]] Bytes CrwFile(std::uint32_t seconds);
// X3F: header, a property list of UTF-16 texts, optionally a JPEG preview section, the section directory
// and, last, the directory's offset.
[[nodiscard]] Bytes X3fFile(const std::vector<std::pair<std::string, std::string>>& properties,
                            const Bytes& jpeg);

}  // namespace zeloro::test
