#include "metadata/WriteFixtures.h"

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

}  // namespace zeloro::test
