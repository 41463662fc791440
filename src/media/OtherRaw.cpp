// src/media/OtherRaw.cpp: shot times of the RAW formats not built on TIFF: Fujifilm RAF, Minolta MRW and
// Canon's CIFF (CRW).
#include <array>
#include <string>

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

}  // namespace zeloro
