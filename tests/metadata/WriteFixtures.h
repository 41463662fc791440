// tests/metadata/WriteFixtures.h: small JPEG and EXIF byte builders for the writer's tests.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "support/TestSupport.h"

namespace zeloro {
class TExifData;
}

namespace zeloro::test {

// Bytes of a text, without a terminating zero unless the view holds one.
[[nodiscard]] Bytes Text(std::string_view text);
// Concatenation.
[[nodiscard]] Bytes Cat(std::initializer_list<Bytes> parts);
// 0xFF, marker, big-endian length (payload + 2), payload.
[[nodiscard]] Bytes Segment(std::uint8_t marker, const Bytes& payload);
// A real baseline JPEG of the given size made by libjpeg (a grey ramp), with its JFIF APP0.
[[nodiscard]] Bytes EncodedPicture(std::uint32_t width, std::uint32_t height, int quality = 75,
                                   bool noise = false);
// The picture's segments from its first non-APPn segment (DQT ...) to the end: what follows the
// metadata segments of a photo.
[[nodiscard]] Bytes PictureBody(const Bytes& picture);
// SOI, the given segments in order, then the body of a small encoded picture (16 x 8).
[[nodiscard]] Bytes Photo(std::initializer_list<Bytes> segments);
// Index of the first occurrence of needle in haystack, or npos.
[[nodiscard]] std::size_t Find(const Bytes& haystack, const Bytes& needle, std::size_t from = 0);
// Big- and little-endian numbers.
[[nodiscard]] Bytes BE16(std::uint16_t v);
[[nodiscard]] Bytes BE32(std::uint32_t v);
[[nodiscard]] Bytes LE16(std::uint16_t v);
[[nodiscard]] Bytes LE32(std::uint32_t v);
[[nodiscard]] Bytes Zeros(std::size_t n);
// "Exif\0\0": what opens the payload of an EXIF APP1 segment.
[[nodiscard]] Bytes ExifHeader();
// The little-endian TIFF header: "II", 42, and the offset of the first directory.
[[nodiscard]] Bytes TiffHeaderLE(std::uint32_t firstDirectory);
// A 12-byte directory entry, little-endian; value is the 4-byte value or offset field.
[[nodiscard]] Bytes Entry(std::uint16_t id, std::uint16_t type, std::uint32_t count, const Bytes& value);
// A photo whose EXIF APP1 segment carries the TIFF structure given.
[[nodiscard]] Bytes PhotoWithTiff(const Bytes& tiff);
// Little-endian RATIONAL values: numerator, denominator, numerator, ...
[[nodiscard]] Bytes Rationals(std::initializer_list<std::uint32_t> parts);

// What the run writes: 51 30 12.3456 N, 0 1 48 W, 2011-03-03 23:59:59 UTC.
void TagAsTheRun(TExifData& exif);
// The little-endian GPS directory TagAsTheRun gives a photo that had none, at `at`, its values right
// after it: GPSVersionID 2.3.0.0 (the directory is a new one), then the six tags the run writes.
[[nodiscard]] Bytes NewGpsDirectory(std::uint32_t at);

}  // namespace zeloro::test
