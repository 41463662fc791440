// src/tagging/PhotoThumbnail.cpp: the EXIF thumbnail of a photo, read from the head of its file.
#include "tagging/PhotoThumbnail.h"

#include <utility>

#include "common/Error.h"
#include "filesafe/FolderReplace.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImage.h"
#include "metadata/Streams.h"

namespace zeloro {

std::vector<std::uint8_t> ReadExifThumbnail(const std::string& path) {
    try {
        // Opened as a run opens a photo: a FIFO or device put in its place is refused, not waited on.
        ReadFile file = OpenFileForReplacing(path, true);
        HeadFileStream stream(std::move(file.file));
        TExifData exif;
        exif.LoadFromJPEG(stream);
        const TJPEGImage* thumbnail = exif.ThumbnailOrNil();
        if (thumbnail == nullptr) {
            return {};
        }
        const std::span<const std::uint8_t> bytes = thumbnail->StoredBytes();
        // The page names it "<n>.jpg": only a JPEG stream (it starts with SOI) is one.
        if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
            return {};
        }
        return {bytes.begin(), bytes.end()};
    } catch (const Error&) {
        return {};
    }
}

}  // namespace zeloro
