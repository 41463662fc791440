// src/metadata/detail/ExifSave.h: the two ways of saving an EXIF container, and what they share.
#pragma once
#include <cstdint>
#include <vector>

#include "metadata/ExifData.h"
#include "metadata/ExifSourceBlock.h"

namespace zeloro::detail {

// An entry that failed to read and loaded as an empty tag. It carries nothing; a directory written anew
// leaves it out, since writing it would add a tag the photo never had (and two of them side by side
// would end the directory for a reader).
[[nodiscard]] inline bool FailedToRead(const TExifTag& tag) noexcept {
    return !tag.WellFormed() && tag.ElementCount() == 0;
}

// Where the full relayout puts the maker note (tag 0x927C of the EXIF sub-directory): at its old offset
// when it can stay there without damage, moved back by a recorded OffsetSchema shift, or (not fixed)
// placed like any other value.
struct MakerNotePlacement {
    TExifTag* tag = nullptr;
    TExifTag* shift = nullptr;  // the OffsetSchema tag that moves it back
    bool fixed = false;
    bool movedBack = false;
    std::int64_t offset = 0;
    std::int64_t end = 0;
};
[[nodiscard]] MakerNotePlacement PlaceMakerNote(const TExifSection& details);

// The TIFF structure (without "Exif\0\0") built on the block the last load read: the block as it was,
// values that still fit overwritten where they lie, and every directory that must change its entries,
// or value that grew, appended after the old end of the block and reached by the one pointer that
// changes. Adds, updates or removes the container's pointer tags as the relayout does.
[[nodiscard]] std::vector<std::uint8_t> SaveInPlace(TExifData& exif, const ExifSourceBlock& source);

// True when a relayout of the container would carry everything the source block holds: no entry that
// failed to read (it is left out), the maker note at its old offset (`makerNoteStays`), the thumbnail
// unreduced, IFD1 written, and every non-zero byte of the block inside the header, a directory, a value or
// the thumbnail.
[[nodiscard]] bool RelayoutKeepsEverything(const TExifData& exif, const ExifSourceBlock& source,
                                           bool makerNoteStays);

}  // namespace zeloro::detail
