// src/media/OtherRaw.cpp: shot times of the RAW formats not built on TIFF: Fujifilm RAF, Minolta MRW,
// Canon's CIFF (CRW) and Sigma's X3F.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "media/ExifFacts.h"
#include "media/MediaReaders.h"

namespace zeloro {

namespace {

// Sub-heaps of a CRW nest two or three deep; records number some dozens.
constexpr int kMaxHeapDepth = 8;
constexpr int kMaxHeapRecords = 65536;
constexpr std::uint16_t kCrwCaptureTime = 0x180E;

std::uint32_t Big32(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) << 24U | static_cast<std::uint32_t>(p[1]) << 16U |
           static_cast<std::uint32_t>(p[2]) << 8U | p[3];
}

std::uint32_t Get32(const std::uint8_t* p, bool big) noexcept {
    return big ? Big32(p)
               : static_cast<std::uint32_t>(p[3]) << 24U | static_cast<std::uint32_t>(p[2]) << 16U |
                     static_cast<std::uint32_t>(p[1]) << 8U | p[0];
}

std::uint16_t Get16(const std::uint8_t* p, bool big) noexcept {
    return big ? static_cast<std::uint16_t>(p[0] << 8U | p[1])
               : static_cast<std::uint16_t>(p[1] << 8U | p[0]);
}

// Walks one CIFF heap: the last four bytes give where its record table lies; a record either holds its
// value in its own eight bytes or points into the heap, and records of the two heap types are sub-heaps.
class CiffWalk {
public:
    CiffWalk(const ByteSource& file, bool bigEndian) noexcept : file_(file), big_(bigEndian) {}

    std::optional<DateTimeValue> FindCaptureTime(std::uint64_t begin, std::uint64_t end, int depth) {
        if (depth > kMaxHeapDepth) throw MediaError("Die CRW-Daten sind zu tief verschachtelt");
        if (end - begin < 4) throw MediaError("Ein Datenbereich der CRW-Datei ist abgeschnitten");
        std::array<std::uint8_t, 10> bytes{};
        file_.ReadAt(end - 4, {bytes.data(), 4});
        const std::uint64_t table = begin + Get32(bytes.data(), big_);
        if (table > end - 4 || end - 4 - table < 2)
            throw MediaError("Die Tabelle eines CRW-Datenbereichs liegt außerhalb");
        file_.ReadAt(table, {bytes.data(), 2});
        const std::uint16_t count = Get16(bytes.data(), big_);
        if (count > (end - 4 - table - 2) / 10)
            throw MediaError("Die Tabelle eines CRW-Datenbereichs ist abgeschnitten");
        for (std::uint16_t i = 0; i < count; ++i) {
            if (++records_ > kMaxHeapRecords) throw MediaError("Die CRW-Datei hat zu viele Einträge");
            file_.ReadAt(table + 2 + 10U * i, bytes);
            const std::uint16_t type = Get16(bytes.data(), big_);
            const std::uint32_t length = Get32(bytes.data() + 2, big_);
            const std::uint32_t offset = Get32(bytes.data() + 6, big_);
            const bool inRecord = (type & 0xC000U) == 0x4000U;
            const unsigned dataType = type & 0x3800U;
            if (inRecord) continue;
            if (offset > end - begin || length > end - begin - offset) {
                throw MediaError("Ein Eintrag der CRW-Datei zeigt hinter seinen Datenbereich");
            }
            if ((type & 0x3FFFU) == kCrwCaptureTime && length >= 4) {
                std::array<std::uint8_t, 4> seconds{};
                file_.ReadAt(begin + offset, seconds);
                // Seconds since 1970 counted on the camera's clock, not UTC.
                return 25569.0 + static_cast<double>(Get32(seconds.data(), big_)) / kSecsPerDay;
            }
            if (dataType == 0x2800U || dataType == 0x3000U) {
                if (const auto found = FindCaptureTime(begin + offset, begin + offset + length, depth + 1)) {
                    return found;
                }
            }
        }
        return std::nullopt;
    }

private:
    const ByteSource& file_;
    bool big_;
    int records_ = 0;
};

// An X3F property list holds its names and values as UTF-16 texts; a list this large is no camera's.
constexpr std::uint64_t kMaxX3fProperties = 4U << 20U;
// The data format of an X3F image section that holds a JPEG.
constexpr std::uint32_t kX3fJpegFormat = 18;

bool IsTag(const std::uint8_t* p, const char (&tag)[5]) noexcept {
    return p[0] == static_cast<std::uint8_t>(tag[0]) && p[1] == static_cast<std::uint8_t>(tag[1]) &&
           p[2] == static_cast<std::uint8_t>(tag[2]) && p[3] == static_cast<std::uint8_t>(tag[3]);
}

struct X3fSection {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// The UTF-16 text at a character index of the list, up to its zero; only ASCII matters for the names and
// the time, so any other character ends the comparison as a mismatch.
std::string X3fText(const std::vector<std::uint8_t>& characters, std::uint64_t index) {
    std::string text;
    for (std::uint64_t at = index * 2; at + 1 < characters.size(); at += 2) {
        const unsigned c = characters[at] | static_cast<unsigned>(characters[at + 1]) << 8U;
        if (c == 0) return text;
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        if (text.size() > 64) break;  // longer than any name or time
    }
    return text;
}

// The property "TIME": seconds since 1970 as decimal text, counted on the camera's clock.
std::optional<DateTimeValue> X3fPropertyTime(const ByteSource& file, const X3fSection& section) {
    std::array<std::uint8_t, 24> head{};
    if (section.length < head.size()) throw MediaError("Die Eigenschaften der X3F-Datei sind abgeschnitten");
    file.ReadAt(section.offset, head);
    // Only the list of UTF-16 texts (character format 0) is defined.
    if (!IsTag(head.data(), "SECp") || Get32(head.data() + 12, false) != 0) return std::nullopt;
    const std::uint64_t count = Get32(head.data() + 8, false);
    const std::uint64_t characterCount = Get32(head.data() + 20, false);
    const std::uint64_t room = section.length - head.size();
    if (count > room / 8 || characterCount > (room - count * 8) / 2 || room > kMaxX3fProperties) {
        throw MediaError("Die Eigenschaften der X3F-Datei reichen über ihren Abschnitt hinaus");
    }
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count * 8));
    std::vector<std::uint8_t> characters(static_cast<std::size_t>(characterCount * 2));
    file.ReadAt(section.offset + head.size(), entries);
    file.ReadAt(section.offset + head.size() + entries.size(), characters);
    for (std::size_t i = 0; i < entries.size(); i += 8) {
        if (X3fText(characters, Get32(entries.data() + i, false)) != "TIME") continue;
        const std::string value = X3fText(characters, Get32(entries.data() + i + 4, false));
        if (value.empty() || value.size() > 12) return std::nullopt;
        std::uint64_t seconds = 0;
        for (const char c : value) {
            if (c < '0' || c > '9') return std::nullopt;
            seconds = seconds * 10 + static_cast<unsigned>(c - '0');
        }
        DateTimeValue time = 25569.0 + static_cast<double>(seconds) / kSecsPerDay;
        if (DecodeDate(time).year == 0) return std::nullopt;
        return time;
    }
    return std::nullopt;
}

}  // namespace

MediaFacts ReadRafFacts(const ByteSource& file) {
    std::array<std::uint8_t, 8> where{};
    if (file.Size() < 92) throw MediaError("Der Kopf der RAF-Datei ist abgeschnitten");
    file.ReadAt(84, where);
    const std::uint64_t offset = Big32(where.data());
    const std::uint64_t length = Big32(where.data() + 4);
    if (offset > file.Size() || length > file.Size() - offset) {
        throw MediaError("Das Vorschaubild der RAF-Datei reicht über ihr Ende hinaus");
    }
    return ReadJpegFacts(file, offset, length);
}

MediaFacts ReadMrwFacts(const ByteSource& file) {
    std::array<std::uint8_t, 8> head{};
    if (file.Size() < 8) throw MediaError("Der Kopf der MRW-Datei ist abgeschnitten");
    file.ReadAt(0, head);
    const std::uint64_t end = 8 + static_cast<std::uint64_t>(Big32(head.data() + 4));
    if (end > file.Size()) throw MediaError("Der Kopf der MRW-Datei reicht über ihr Ende hinaus");
    std::uint64_t at = 8;
    // Blocks are at least 8 bytes, so the walk ends within the header's length.
    while (end - at >= 8) {
        file.ReadAt(at, head);
        const std::uint64_t length = Big32(head.data() + 4);
        if (length > end - at - 8) throw MediaError("Ein Block der MRW-Datei reicht über ihren Kopf hinaus");
        if (head[0] == 0 && head[1] == 'T' && head[2] == 'T' && head[3] == 'W') {
            return ReadTiffBlockFacts(file, at + 8, length, TiffRole::image);
        }
        at += 8 + length;
    }
    return {};
}

MediaFacts ReadCrwFacts(const ByteSource& file) {
    std::array<std::uint8_t, 6> head{};
    if (file.Size() < 14) throw MediaError("Der Kopf der CRW-Datei ist abgeschnitten");
    file.ReadAt(0, head);
    const bool big = head[0] == 'M';
    const std::uint64_t heapBegin = Get32(head.data() + 2, big);
    if (heapBegin > file.Size()) throw MediaError("Der Kopf der CRW-Datei reicht über ihr Ende hinaus");
    CiffWalk walk(file, big);
    MediaFacts facts;
    if (const auto time = walk.FindCaptureTime(heapBegin, file.Size(), 0)) facts.shot = ShotTime{*time};
    return facts;
}

MediaFacts ReadX3fFacts(const ByteSource& file) {
    const std::uint64_t size = file.Size();
    std::array<std::uint8_t, 12> bytes{};
    if (size < 8) throw MediaError("Die X3F-Datei ist abgeschnitten");
    file.ReadAt(size - 4, {bytes.data(), 4});
    // The file ends with the offset of its section directory.
    const std::uint64_t directory = Get32(bytes.data(), false);
    if (directory > size - 4 || size - 4 - directory < 12) {
        throw MediaError("Das Verzeichnis der X3F-Datei liegt außerhalb der Datei");
    }
    file.ReadAt(directory, bytes);
    // Versions with a directory of their own keep their time where this reader does not look.
    if (!IsTag(bytes.data(), "SECd")) return {};
    const std::uint64_t count = Get32(bytes.data() + 8, false);
    if (count > (size - directory - 12) / 12)
        throw MediaError("Das Verzeichnis der X3F-Datei ist abgeschnitten");
    std::vector<X3fSection> images;
    for (std::uint64_t i = 0; i < count; ++i) {
        file.ReadAt(directory + 12 + 12 * i, bytes);
        const X3fSection section{Get32(bytes.data(), false), Get32(bytes.data() + 4, false)};
        if (section.offset > size || section.length > size - section.offset) {
            throw MediaError("Ein Abschnitt der X3F-Datei reicht über ihr Ende hinaus");
        }
        if (IsTag(bytes.data() + 8, "PROP")) {
            if (const auto time = X3fPropertyTime(file, section)) return {ShotTime{*time}, false};
        } else if (IsTag(bytes.data() + 8, "IMA2") || IsTag(bytes.data() + 8, "IMAG")) {
            images.push_back(section);
        }
    }
    // Without the property, the JPEG preview's EXIF block holds the time (all cameras but the first two).
    for (const X3fSection& image : images) {
        std::array<std::uint8_t, 28> head{};
        if (image.length < head.size()) continue;
        file.ReadAt(image.offset, head);
        if (!IsTag(head.data(), "SECi") || Get32(head.data() + 12, false) != kX3fJpegFormat) continue;
        MediaFacts facts = ReadJpegFacts(file, image.offset + head.size(), image.length - head.size());
        if (facts.shot) return facts;
    }
    return {};
}

}  // namespace zeloro
