// src/media/MediaReaders.h: one reader per kind of file, each reading only the boxes, blocks or
// directories where that kind keeps its shot time and position. ReadMediaFacts picks the reader.
#pragma once
#include <optional>
#include <string_view>

#include "media/ByteSource.h"
#include "media/ShotTime.h"

namespace zeloro {

// HEIC, HEIF, AVIF: the item of type "Exif" (found in meta/iinf, placed by meta/iloc, in the file or in
// meta/idat), whose first four bytes give the offset of its TIFF header.
[[nodiscard]] MediaFacts ReadHeifFacts(const ByteSource& file);
// CR3: moov/uuid (Canon's) holds CMT2, the Exif directory, and CMT4, the GPS directory, each a TIFF block.
[[nodiscard]] MediaFacts ReadCr3Facts(const ByteSource& file);
// QuickTime and MP4: moov/meta's "com.apple.quicktime.creationdate" (keys and ilst) when it is there and
// readable, else moov/mvhd's creation time (UTC); a position from the ISO 6709 location key or udta/©xyz.
[[nodiscard]] MediaFacts ReadQuickTimeFacts(const ByteSource& file);
// RAF: the JPEG preview, whose offset and length the header holds, carries the EXIF block.
[[nodiscard]] MediaFacts ReadRafFacts(const ByteSource& file);
// MRW: the TTW block of the header is a TIFF block.
[[nodiscard]] MediaFacts ReadMrwFacts(const ByteSource& file);
// CRW: the heap record of the capture time (seconds since 1970 on the camera's clock), in any sub-heap.
[[nodiscard]] MediaFacts ReadCrwFacts(const ByteSource& file);
// X3F: the property "TIME" (seconds since 1970 on the camera's clock) of the PROP section the directory at
// the file's end lists, else the EXIF block of a JPEG preview section.
[[nodiscard]] MediaFacts ReadX3fFacts(const ByteSource& file);

// "2019-05-01T10:00:00+0200", "…+02:00", "…Z" or without a zone, fractions of a second ignored; nullopt
// for any other text. Without a zone the clock is the camera's.
[[nodiscard]] std::optional<ShotTime> ParseQuickTimeDate(std::string_view text) noexcept;

}  // namespace zeloro
