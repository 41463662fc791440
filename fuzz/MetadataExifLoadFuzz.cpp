// fuzz/MetadataExifLoadFuzz.cpp: the EXIF load path over untrusted bytes, as a JPEG file and as a bare
// EXIF block, followed by every read the tool and the writer make of the loaded container.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Error.h"
#include "metadata/ExifData.h"

namespace {

void ReadEverything(zeloro::TExifData& exif) {
    using namespace zeloro;
    (void)exif.DateTimeOriginal();
    (void)exif.DateTime();
    (void)exif.GPSDateTimeUTC();
    (void)exif.GPSLatitude().AsString();
    (void)exif.GPSLongitude().AsString();
    (void)exif.Comments();
    (void)exif.Author();
    std::int64_t offset = 0;
    (void)exif.FindThumbnail(nullptr, offset);
    for (int k = kFirstSectionKind; k <= kLastSectionKind; ++k) {
        // esMakerNote builds the maker-note view, which parses the maker note's own directory.
        const TExifSection& section = exif.Sections(static_cast<TExifSectionKind>(k));
        for (std::int32_t i = 0; i < section.Count(); ++i) (void)section[i]->AsString();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    const std::span<const std::uint8_t> bytes(data, size);
    {
        TExifData exif;
        try {
            exif.LoadFromJPEG(bytes);
            ReadEverything(exif);
        } catch (const Error&) {
        }
    }
    {
        // The same bytes as the payload of an EXIF segment.
        TExifData exif;
        try {
            ReadOnlyMemoryStream s(bytes);
            exif.LoadFromStream(s);
            ReadEverything(exif);
        } catch (const Error&) {
        }
    }
    return 0;
}
