// src/media/MediaKind.cpp: a file's kind from its magic numbers and ISO base media brands.
#include "media/MediaKind.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace zeloro {

namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view text) noexcept {
    if (at > bytes.size() || text.size() > bytes.size() - at) return false;
    return std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

std::string_view FourCc(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    if (at > bytes.size() || bytes.size() - at < 4) return {};
    return {reinterpret_cast<const char*>(bytes.data() + at), 4};
}

constexpr std::array<std::string_view, 11> kHeifBrands{"heic", "heix", "hevc", "heim", "heis", "hevm",
                                                       "hevs", "mif1", "msf1", "avif", "avis"};

// Brands of QuickTime and the MPEG-4 family a camera or phone writes for a movie; audio-only brands
// (M4A, M4B) are no photo of any kind.
bool IsVideoBrand(std::string_view brand) noexcept {
    static constexpr std::array<std::string_view, 22> kVideoBrands{
        "qt  ", "isom", "iso2", "iso3", "iso4", "iso5", "iso6", "mp41", "mp42", "mp71", "M4V ",
        "M4VH", "M4VP", "avc1", "MSNV", "XAVC", "f4v ", "mmp4", "CAEP", "caqv", "NDAS", "dash"};
    if (brand.size() == 4 && (brand.substr(0, 3) == "3gp" || brand.substr(0, 3) == "3g2")) return true;
    return std::find(kVideoBrands.begin(), kVideoBrands.end(), brand) != kVideoBrands.end();
}

MediaKind KindOfBrand(std::string_view brand) noexcept {
    if (brand == "crx ") return MediaKind::cr3;
    if (std::find(kHeifBrands.begin(), kHeifBrands.end(), brand) != kHeifBrands.end()) return MediaKind::heif;
    if (IsVideoBrand(brand)) return MediaKind::video;
    return MediaKind::unknown;
}

// The major brand decides; a writer with a brand of its own names what it follows among the compatible
// brands, which are read only as far as the head and the box reach.
MediaKind KindOfFileType(std::span<const std::uint8_t> head) noexcept {
    const std::string_view majorBrand = FourCc(head, 8);
    // Audio files name the movie brands among their compatible ones.
    if (majorBrand == "M4A " || majorBrand == "M4B " || majorBrand == "M4P ") return MediaKind::unknown;
    const MediaKind major = KindOfBrand(majorBrand);
    if (major != MediaKind::unknown) return major;
    const std::uint64_t boxSize = static_cast<std::uint64_t>(head[0]) << 24U |
                                  static_cast<std::uint64_t>(head[1]) << 16U |
                                  static_cast<std::uint64_t>(head[2]) << 8U | head[3];
    const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(boxSize, head.size()));
    for (std::size_t at = 16; at + 4 <= end; at += 4) {
        const MediaKind kind = KindOfBrand(FourCc(head, at));
        if (kind != MediaKind::unknown) return kind;
    }
    return MediaKind::unknown;
}

char Lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

MediaKind DetectMediaKind(std::span<const std::uint8_t> head) noexcept {
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return MediaKind::jpeg;
    if (StartsWith(head, 0, "FUJIFILMCCD-RAW")) return MediaKind::otherRaw;
    if (StartsWith(head, 0, std::string_view("\0MRM", 4))) return MediaKind::otherRaw;
    if (StartsWith(head, 0, "FOVb")) return MediaKind::otherRaw;
    if ((StartsWith(head, 0, "II") || StartsWith(head, 0, "MM")) && StartsWith(head, 6, "HEAPCCDR")) {
        return MediaKind::otherRaw;
    }
    if (StartsWith(head, 0, std::string_view("II*\0", 4)) ||
        StartsWith(head, 0, std::string_view("MM\0*", 4)) ||
        StartsWith(head, 0, std::string_view("IIU\0", 4)) || StartsWith(head, 0, "IIRO") ||
        StartsWith(head, 0, "IIRS") || StartsWith(head, 0, "MMOR")) {
        return MediaKind::tiffRaw;
    }
    if (head.size() >= 12 && FourCc(head, 4) == "ftyp") return KindOfFileType(head);
    // QuickTime movies older than the file-type box start with one of their top-level atoms.
    const std::string_view first = FourCc(head, 4);
    if (first == "moov" || first == "mdat" || first == "wide" || first == "free" || first == "skip" ||
        first == "pnot") {
        return MediaKind::video;
    }
    return MediaKind::unknown;
}

bool IsAllPhotosName(std::string_view fileName) noexcept {
    static constexpr std::array<std::string_view, 34> kExtensions{
        "jpg", "jpeg", "jpe", "dng", "nef", "nrw",  "cr2",  "arw",  "sr2", "srf", "orf", "rw2",
        "rwl", "pef",  "srw", "erf", "3fr", "iiq",  "mef",  "mos",  "dcr", "kdc", "tif", "tiff",
        "cr3", "crw",  "raf", "mrw", "x3f", "heic", "heif", "avif", "mov", "mp4"};
    static constexpr std::array<std::string_view, 2> kMoreExtensions{"m4v", "3gp"};
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view extension = fileName.substr(dot + 1);
    const auto same = [extension](std::string_view known) {
        return known.size() == extension.size() && std::equal(known.begin(), known.end(), extension.begin(),
                                                              [](char k, char e) { return k == Lower(e); });
    };
    return std::any_of(kExtensions.begin(), kExtensions.end(), same) ||
           std::any_of(kMoreExtensions.begin(), kMoreExtensions.end(), same);
}

const char* MediaKindText(MediaKind kind) noexcept {
    switch (kind) {
        case MediaKind::jpeg:
            return "JPEG-Bild";
        case MediaKind::tiffRaw:
            return "RAW-Bild (TIFF)";
        case MediaKind::cr3:
            return "CR3-Bild";
        case MediaKind::otherRaw:
            return "RAW-Bild";
        case MediaKind::heif:
            return "HEIF-Bild";
        case MediaKind::video:
            return "Video";
        case MediaKind::unknown:
            break;
    }
    return "unbekanntes Format";
}

}  // namespace zeloro
