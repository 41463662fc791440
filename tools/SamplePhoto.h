// tools/SamplePhoto.h: small camera-like JPEG photos of our own, for the bundled sample and the tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zeloro::sample {

using ByteVector = std::vector<std::uint8_t>;

struct PhotoSpec {
    int width = 240;
    int height = 160;
    int scene = 0;  // varies the drawn landscape, so that photos differ
    int quality = 85;
    // "YYYY:MM:DD hh:mm:ss" as a camera writes it; no DateTimeOriginal tag at all when absent.
    std::optional<std::string> dateTimeOriginal;
    // OffsetTimeOriginal and OffsetTime ("+05:30") in the EXIF directory; no tag when absent.
    std::optional<std::string> offsetTimeOriginal;
    std::optional<std::string> offsetTime;
    bool bigEndian = false;  // "MM" instead of "II" in the TIFF header
    // Length of an ImageDescription of "x"s in IFD0; 0 for none. A long one fills the EXIF segment up to
    // its size limit, so that adding GPS tags cannot fit any more.
    std::size_t descriptionLength = 0;
    std::string make = "Zeloro";
    std::string model = "Sample Camera";
    // The bytes of an IFD1 thumbnail (JPEGInterchangeFormat), as stored; no IFD1 when absent.
    std::optional<ByteVector> thumbnail;
};

// A baseline JPEG without any APPn segment, encoded with libjpeg. Throws std::runtime_error with
// libjpeg's message when encoding fails.
[[nodiscard]] ByteVector EncodePicture(const PhotoSpec& spec);

// The payload of an APP1 segment: "Exif\0\0", the TIFF header, IFD0 (Make, Model, the EXIF pointer) and
// the EXIF IFD (ExifVersion and, when given, DateTimeOriginal), laid out byte by byte; with a thumbnail
// then IFD1 (Compression 6, JPEGInterchangeFormat and its length) and the thumbnail's bytes.
[[nodiscard]] ByteVector BuildExifPayload(const PhotoSpec& spec);

// Puts an APP1 segment with the payload right after SOI. Throws std::invalid_argument when the
// picture does not start with SOI or the payload does not fit one segment.
[[nodiscard]] ByteVector InsertApp1(const ByteVector& jpeg, const ByteVector& payload);

// EncodePicture + BuildExifPayload + InsertApp1.
[[nodiscard]] ByteVector MakePhoto(const PhotoSpec& spec);

}  // namespace zeloro::sample
