// tools/MakeMarker.cpp: draws the 30 by 30 map marker (an orange pin whose tip is the bottom centre)
// and writes it as PNG with stored deflate blocks, so no image or compression library is needed.
// Usage: zeloro_make_marker OUTPUT.png
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 30;
constexpr int kSamples = 4;  // per axis, for smooth edges

using Bytes = std::vector<std::uint8_t>;

struct Rgba {
    double r, g, b, a;
};

std::uint32_t crc32(const Bytes& data, std::size_t from) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1U) : c >> 1U;
            }
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFU;
    for (std::size_t i = from; i < data.size(); ++i) {
        c = table[(c ^ data[i]) & 0xFFU] ^ (c >> 8U);
    }
    return c ^ 0xFFFFFFFFU;
}

std::uint32_t adler32(const Bytes& data) {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : data) {
        a = (a + byte) % 65521U;
        b = (b + a) % 65521U;
    }
    return (b << 16U) | a;
}

void putU32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> static_cast<unsigned>(shift)));
    }
}

void putChunk(Bytes& png, const char* type, const Bytes& data) {
    putU32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    putU32(png, crc32(png, start));
}

// zlib stream of stored blocks (at most 65535 bytes each).
Bytes storedZlib(const Bytes& raw) {
    Bytes out{0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t len = std::min<std::size_t>(raw.size() - pos, 65535);
        const bool last = pos + len == raw.size();
        out.push_back(last ? 1 : 0);
        const auto l = static_cast<std::uint16_t>(len);
        const auto nl = static_cast<std::uint16_t>(~l);
        out.push_back(static_cast<std::uint8_t>(l & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(l >> 8U));
        out.push_back(static_cast<std::uint8_t>(nl & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(nl >> 8U));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                   raw.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
    } while (pos < raw.size());
    putU32(out, adler32(raw));
    return out;
}

// The pin: a round head joined to a cone whose tip touches the bottom edge at the centre.
constexpr double kCx = 15.0;
constexpr double kCy = 11.0;
constexpr double kRadius = 10.0;
constexpr double kTipY = 29.8;

bool inPin(double x, double y, double inset) {
    const double r = kRadius - inset;
    const double dx = x - kCx;
    const double dy = y - kCy;
    if (dx * dx + dy * dy <= r * r) {
        return true;
    }
    const double tip = kTipY - inset * 1.8;
    return y >= kCy && y <= tip && std::fabs(dx) <= r * (tip - y) / (tip - kCy);
}

Rgba sample(double x, double y) {
    const double dx = x - kCx;
    const double dy = y - kCy;
    if (dx * dx + dy * dy <= 3.6 * 3.6) {
        return {1.0, 1.0, 1.0, 1.0};  // the white eye of the pin
    }
    if (inPin(x, y, 1.4)) {
        return {0.96, 0.55, 0.12, 1.0};  // orange body
    }
    if (inPin(x, y, 0.0)) {
        return {0.55, 0.27, 0.02, 1.0};  // dark rim, visible on light and dark map tiles
    }
    return {0, 0, 0, 0};
}

Bytes drawPixels() {
    Bytes raw;
    for (int y = 0; y < kSize; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < kSize; ++x) {
            Rgba sum{0, 0, 0, 0};
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Rgba c = sample(x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples);
                    sum.r += c.r * c.a;
                    sum.g += c.g * c.a;
                    sum.b += c.b * c.a;
                    sum.a += c.a;
                }
            }
            const auto channel = [&](double premultiplied) {
                return static_cast<std::uint8_t>(sum.a > 0 ? std::lround(255.0 * premultiplied / sum.a) : 0);
            };
            raw.push_back(channel(sum.r));
            raw.push_back(channel(sum.g));
            raw.push_back(channel(sum.b));
            raw.push_back(static_cast<std::uint8_t>(std::lround(255.0 * sum.a / (kSamples * kSamples))));
        }
    }
    return raw;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " OUTPUT.png\n";
        return 2;
    }
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    putU32(header, kSize);
    putU32(header, kSize);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", storedZlib(drawPixels()));
    putChunk(png, "IEND", {});

    const std::string output = argv[1];
    const std::string temporary = output + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        if (!file.flush()) {
            std::cerr << "cannot write " << temporary << "\n";
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::perror(output.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
