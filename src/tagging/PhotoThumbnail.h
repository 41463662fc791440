// src/tagging/PhotoThumbnail.h: the small picture a JPEG photo carries in its EXIF block, for the map.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zeloro {

// The JPEG stream the photo at path holds as its EXIF thumbnail (IFD1), as stored. Only the head of the
// file is read and the picture is never decoded. Empty when the photo has no such thumbnail, when the
// stored thumbnail is no JPEG stream, and when the file cannot be read as a photo (gone since the run,
// no regular file, damaged): the map then shows the photo without it.
[[nodiscard]] std::vector<std::uint8_t> ReadExifThumbnail(const std::string& path);

}  // namespace zeloro
