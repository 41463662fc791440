#include "metadata/WriteFixtures.h"

#include "metadata/ExifData.h"
#include "metadata/JPEGImage.h"

namespace zeloro::test {

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Segment(std::uint8_t marker, const Bytes& payload) {
    return Cat({{0xFF, marker}, BE16(static_cast<std::uint16_t>(payload.size() + 2)), payload});
}

Bytes EncodedPicture(std::uint32_t width, std::uint32_t height, int quality, bool noise) {
    Bitmap bitmap(width, height);
    auto pixels = bitmap.Pixels();
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (noise) {
            seed = seed * 1103515245U + 12345U;
            pixels[i] = static_cast<std::uint8_t>(seed >> 16U);
        } else {
            pixels[i] = static_cast<std::uint8_t>((i / 3) % width * 255 / (width > 1 ? width - 1 : 1));
        }
    }
    TJPEGImage image;
    image.SetCompressionQuality(quality);
    image.Assign(bitmap);
    std::vector<std::uint8_t> out;
    image.SaveToBytes(out);
    return out;
}

Bytes PictureBody(const Bytes& picture) {
    std::size_t pos = 2;
    while (pos + 4 <= picture.size() && picture[pos] == 0xFF && picture[pos + 1] >= 0xE0 &&
           picture[pos + 1] <= 0xEF) {
        pos += 2 + (static_cast<std::size_t>(picture[pos + 2]) << 8U | picture[pos + 3]);
    }
    return Bytes(picture.begin() + static_cast<std::ptrdiff_t>(pos), picture.end());
}

Bytes Photo(std::initializer_list<Bytes> segments) {
    static const Bytes body = PictureBody(EncodedPicture(16, 8));
    Bytes out{0xFF, 0xD8};
    for (const Bytes& segment : segments) {
        out.insert(out.end(), segment.begin(), segment.end());
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::size_t Find(const Bytes& haystack, const Bytes& needle, std::size_t from) {
    if (needle.empty() || haystack.size() < needle.size()) {
        return std::string::npos;
    }
    for (std::size_t i = from; i + needle.size() <= haystack.size(); ++i) {
        if (std::equal(needle.begin(), needle.end(), haystack.begin() + static_cast<std::ptrdiff_t>(i))) {
            return i;
        }
    }
    return std::string::npos;
}

Bytes BE16(std::uint16_t v) { return {static_cast<std::uint8_t>(v >> 8U), static_cast<std::uint8_t>(v)}; }
Bytes BE32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24U), static_cast<std::uint8_t>(v >> 16U),
            static_cast<std::uint8_t>(v >> 8U), static_cast<std::uint8_t>(v)};
}
Bytes LE16(std::uint16_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8U)}; }
Bytes LE32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8U),
            static_cast<std::uint8_t>(v >> 16U), static_cast<std::uint8_t>(v >> 24U)};
}
Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

Bytes ExifHeader() { return {'E', 'x', 'i', 'f', 0, 0}; }

Bytes TiffHeaderLE(std::uint32_t firstDirectory) {
    return Cat({Text("II"), {0x2A, 0x00}, LE32(firstDirectory)});
}

Bytes Entry(std::uint16_t id, std::uint16_t type, std::uint32_t count, const Bytes& value) {
    return Cat({LE16(id), LE16(type), LE32(count), value});
}

Bytes PhotoWithTiff(const Bytes& tiff) { return Photo({Segment(0xE1, Cat({ExifHeader(), tiff}))}); }

Bytes Rationals(std::initializer_list<std::uint32_t> parts) {
    Bytes out;
    for (const std::uint32_t part : parts) {
        const Bytes le = LE32(part);
        out.insert(out.end(), le.begin(), le.end());
    }
    return out;
}

void TagAsTheRun(TExifData& exif) {
    exif.GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                              TTiffLongWordFraction(7716, 625), ltNorth);
    exif.GPSLongitude().Assign(TTiffLongWordFraction(0, 1), TTiffLongWordFraction(1, 1),
                               TTiffLongWordFraction(48, 1), lnWest);
    exif.SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 23, 59, 59, 0));
}

Bytes NewGpsDirectory(std::uint32_t at) {
    const std::uint32_t values = at + 2 + 7 * 12 + 4;
    return Cat({{0x07, 0x00},
                Entry(0, 1, 4, {2, 3, 0, 0}),
                Entry(1, 2, 2, {'N', 0, 0, 0}),
                Entry(2, 5, 3, LE32(values)),
                Entry(3, 2, 2, {'W', 0, 0, 0}),
                Entry(4, 5, 3, LE32(values + 24)),
                Entry(7, 5, 3, LE32(values + 48)),
                Entry(29, 2, 11, LE32(values + 72)),
                Zeros(4),
                Rationals({51, 1, 30, 1, 7716, 625}),
                Rationals({0, 1, 1, 1, 48, 1}),
                Rationals({23, 1, 59, 1, 59, 1}),
                Text(std::string_view("2011:03:03\0", 11))});
}

}  // namespace zeloro::test
