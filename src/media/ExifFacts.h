// src/media/ExifFacts.h: the shot time and GPS presence of an EXIF block (a TIFF structure) wherever a
// file kind keeps it: a whole TIFF-based RAW file, a box, an item, an embedded JPEG.
#pragma once
#include <cstdint>

#include "media/ByteSource.h"
#include "media/ShotTime.h"
#include "metadata/TiffReader.h"

namespace zeloro {

// What the first directory of a TIFF block is. Most blocks start with the image's IFD0, which points to
// the Exif and GPS directories; CR3 stores the Exif directory and the GPS directory each as the first
// directory of a block of its own.
enum class TiffRole : std::uint8_t { image, exif, gps };

// Reads the TIFF block at [begin, begin + length) of file (the caller has checked the stretch lies in the
// file). shot: DateTimeOriginal on the camera's clock; nullopt where the block holds none or an unreadable
// text. Throws MediaError for a bad header, or a directory the shot time or position lies in outside the
// block.
[[nodiscard]] MediaFacts ReadTiffBlockFacts(const ByteSource& file, std::uint64_t begin, std::uint64_t length,
                                            TiffRole role, TiffMagic accepted = TiffMagic::exifOnly);

// Walks the JPEG at [begin, begin + length) by its segment lengths to its EXIF block (APP1 "Exif\0\0") and
// reads that; a JPEG without one holds no shot time. Throws MediaError for a JPEG whose segments do not
// fit together before the picture data.
[[nodiscard]] MediaFacts ReadJpegFacts(const ByteSource& file, std::uint64_t begin, std::uint64_t length);

// "YYYY:MM:DD HH:MM:SS" as EXIF writes a date; nullopt for any other text or a date not in the calendar.
[[nodiscard]] std::optional<DateTimeValue> ParseExifDateTime(std::string_view text) noexcept;

}  // namespace zeloro
