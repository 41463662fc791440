// src/media/ShotTime.cpp: the reader for each kind of file.
#include "media/ShotTime.h"

#include <array>

#include "media/ExifFacts.h"
#include "media/MediaReaders.h"

namespace zeloro {

MediaFacts ReadMediaFacts(MediaKind kind, const ByteSource& file) {
    switch (kind) {
        case MediaKind::jpeg:
            return ReadJpegFacts(file, 0, file.Size());
        case MediaKind::tiffRaw:
            return ReadTiffBlockFacts(file, 0, file.Size(), TiffRole::image, TiffMagic::rawVariants);
        case MediaKind::cr3:
            return ReadCr3Facts(file);
        case MediaKind::heif:
            return ReadHeifFacts(file);
        case MediaKind::video:
            return ReadQuickTimeFacts(file);
        case MediaKind::otherRaw: {
            std::array<std::uint8_t, 4> head{};
            if (file.Size() < head.size()) return {};
            file.ReadAt(0, head);
            if (head == std::array<std::uint8_t, 4>{'F', 'U', 'J', 'I'}) return ReadRafFacts(file);
            if (head == std::array<std::uint8_t, 4>{0, 'M', 'R', 'M'}) return ReadMrwFacts(file);
            if (head[0] == head[1] && (head[0] == 'I' || head[0] == 'M')) return ReadCrwFacts(file);
            if (head == std::array<std::uint8_t, 4>{'F', 'O', 'V', 'b'}) return ReadX3fFacts(file);
            return {};
        }
        case MediaKind::unknown:
            break;
    }
    return {};
}

}  // namespace zeloro
