// src/rawfile/TiffLayout.cpp: the TIFF structure of a RAW file read and checked, every offset against the
// file's size, every directory visited once.
#include "rawfile/TiffLayout.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace zeloro {
namespace {

constexpr const char* kNoTiff = "sie ist keine TIFF-Datei";
constexpr const char* kBigTiff = "sie ist eine BigTIFF-Datei";
constexpr const char* kDirectoryPastEnd = "ein Verzeichnis reicht über das Dateiende hinaus";
constexpr const char* kValuePastEnd = "ein Wert reicht über das Dateiende hinaus";
constexpr const char* kDataPastEnd =
    "Bilddaten reichen über das Dateiende hinaus (die Datei ist abgeschnitten)";
constexpr const char* kLoop = "ihre Verzeichnisse verweisen im Kreis";
constexpr const char* kEmptyIfd0 = "ihr erstes Verzeichnis (IFD0) ist leer";
constexpr const char* kTooMany = "sie hat zu viele Verzeichnisse";
constexpr const char* kBadGpsPointer = "der Verweis auf ihre GPS-Daten ist beschädigt";
constexpr const char* kPointerShared =
    "der Verweis, den das Schreiben umstellt, liegt in anderen Daten der Datei";

constexpr std::uint16_t kClassicMagic = 42;
constexpr std::uint16_t kBigTiffMagic = 43;
constexpr std::uint16_t kPanasonicMagic = 0x55;
constexpr std::uint16_t kOlympusMagicRO = 0x4F52;  // "RO" read in the header's byte order
constexpr std::uint16_t kOlympusMagicRS = 0x5352;  // "RS"

constexpr std::uint16_t kExifIfdTag = 0x8769;
constexpr std::uint16_t kInteropIfdTag = 0xA005;
constexpr std::uint16_t kSubIfdsTag = 0x014A;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeIfd = 13;
// Far beyond any camera's file (a DNG has a handful), and it bounds the work a crafted file can cause.
constexpr int kMostDirectories = 256;
constexpr std::uint32_t kMostSubIfds = 64;
// The most strips or tiles of one directory looked at; a DNG of 100 megapixels in 256-pixel tiles has
// about 1600.
constexpr std::uint32_t kMostDataPieces = 1U << 20U;
// The value that marks a piece of data as not in the file (written by tools that leave image data out).
constexpr std::uint32_t kAbsentData = 0xFFFFFFFFU;

struct DataPair {
    std::uint16_t offsets;
    std::uint16_t sizes;
};
constexpr std::array<DataPair, 3> kDataPairs{{{0x0111, 0x0117}, {0x0144, 0x0145}, {0x0201, 0x0202}}};

std::uint32_t ElementSize(std::uint16_t type) noexcept {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
    }
}

class Walker {
public:
    Walker(const TiffSource& source, bool bigEndian) : source_(source), bigEndian_(bigEndian) {}

    // From now on every directory, value and data piece read must leave these four bytes alone: the write
    // switches them, and nothing else may change with them.
    void Guard(std::uint64_t pointer) noexcept { pointer_ = pointer; }
    void Refuse(std::uint64_t offset, std::uint64_t length) const {
        if (pointer_ && offset < *pointer_ + 4 && *pointer_ < offset + length) {
            throw TiffLayoutError(kPointerShared);
        }
    }

    TiffDirectory ReadDirectory(std::uint32_t offset) {
        if (!seen_.insert(offset).second) {
            throw TiffLayoutError(kLoop);
        }
        if (++directories_ > kMostDirectories) {
            throw TiffLayoutError(kTooMany);
        }
        std::array<std::uint8_t, 2> countBytes{};
        if (std::uint64_t{offset} + 2 > source_.Size() || !source_.Read(offset, countBytes)) {
            throw TiffLayoutError(kDirectoryPastEnd);
        }
        const std::uint16_t count = TiffGet16(countBytes.data(), bigEndian_);
        const std::uint64_t end = std::uint64_t{offset} + 2 + std::uint64_t{count} * 12 + 4;
        std::vector<std::uint8_t> body(static_cast<std::size_t>(count) * 12 + 4);
        if (end > source_.Size() || !source_.Read(std::uint64_t{offset} + 2, body)) {
            throw TiffLayoutError(kDirectoryPastEnd);
        }
        Refuse(offset, end - offset);
        TiffDirectory directory;
        directory.offset = offset;
        directory.entries.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* raw = body.data() + i * 12;
            TiffEntry entry;
            entry.tag = TiffGet16(raw, bigEndian_);
            entry.type = TiffGet16(raw + 2, bigEndian_);
            entry.count = TiffGet32(raw + 4, bigEndian_);
            std::memcpy(entry.value.data(), raw + 8, 4);
            entry.at = std::uint64_t{offset} + 2 + i * 12;
            directory.entries.push_back(entry);
        }
        directory.next = TiffGet32(body.data() + static_cast<std::size_t>(count) * 12, bigEndian_);
        return directory;
    }

    // Checks a directory's values and data and walks into the directories it points to.
    void Check(const TiffDirectory& directory) {
        for (const TiffEntry& entry : directory.entries) {
            const std::uint64_t size = std::uint64_t{entry.count} * ElementSize(entry.type);
            if (size > 4) {
                const std::uint64_t at = TiffGet32(entry.value.data(), bigEndian_);
                if (at + size > source_.Size()) {
                    throw TiffLayoutError(kValuePastEnd);
                }
                Refuse(at, size);
            }
        }
        for (const DataPair& pair : kDataPairs) {
            CheckData(directory, pair);
        }
        for (const TiffEntry& entry : directory.entries) {
            if (entry.tag != kExifIfdTag && entry.tag != kInteropIfdTag && entry.tag != kSubIfdsTag &&
                entry.tag != kGpsInfoTag) {
                continue;
            }
            if ((entry.type != kTypeLong && entry.type != kTypeIfd) ||
                (entry.tag != kSubIfdsTag && entry.count != 1)) {
                continue;  // no pointer a reader follows; its bytes stay as they are
            }
            for (const std::uint32_t offset : Numbers(entry, kMostSubIfds)) {
                if (offset != 0) {
                    Check(ReadDirectory(offset));
                }
            }
        }
    }

    // The entry's numbers (SHORT or LONG), at most `most` of them.
    std::vector<std::uint32_t> Numbers(const TiffEntry& entry, std::uint32_t most) const {
        const std::uint32_t size = ElementSize(entry.type);
        const std::uint32_t count = std::min(entry.count, most);
        std::vector<std::uint8_t> raw(std::size_t{count} * size);
        if (std::uint64_t{entry.count} * size <= 4) {
            std::copy_n(entry.value.begin(), raw.size(), raw.begin());
        } else if (!source_.Read(TiffGet32(entry.value.data(), bigEndian_), raw)) {
            throw TiffLayoutError(kValuePastEnd);
        }
        std::vector<std::uint32_t> numbers(count);
        for (std::size_t i = 0; i < count; ++i) {
            numbers[i] = size == 2 ? TiffGet16(raw.data() + i * 2, bigEndian_)
                                   : TiffGet32(raw.data() + i * 4, bigEndian_);
        }
        return numbers;
    }

private:
    void CheckData(const TiffDirectory& directory, const DataPair& pair) const {
        const auto find = [&directory](std::uint16_t tag) -> const TiffEntry* {
            const auto it = std::find_if(directory.entries.begin(), directory.entries.end(),
                                         [tag](const TiffEntry& e) { return e.tag == tag; });
            return it == directory.entries.end() || (it->type != kTypeShort && it->type != kTypeLong)
                       ? nullptr
                       : &*it;
        };
        const TiffEntry* offsets = find(pair.offsets);
        const TiffEntry* sizes = find(pair.sizes);
        if (offsets == nullptr || sizes == nullptr) {
            return;
        }
        const std::vector<std::uint32_t> starts = Numbers(*offsets, kMostDataPieces);
        const std::vector<std::uint32_t> lengths = Numbers(*sizes, kMostDataPieces);
        for (std::size_t i = 0; i < std::min(starts.size(), lengths.size()); ++i) {
            if (starts[i] == kAbsentData) {
                continue;
            }
            if (std::uint64_t{starts[i]} + lengths[i] > source_.Size()) {
                throw TiffLayoutError(kDataPastEnd);
            }
            Refuse(starts[i], lengths[i]);
        }
    }

    const TiffSource& source_;
    bool bigEndian_;
    std::set<std::uint32_t> seen_;
    int directories_ = 0;
    std::optional<std::uint64_t> pointer_;
};

}  // namespace

bool MemoryTiffSource::Read(std::uint64_t offset, std::span<std::uint8_t> into) const {
    if (offset > bytes_.size() || into.size() > bytes_.size() - offset) {
        return false;
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
    return true;
}

std::uint16_t TiffGet16(const std::uint8_t* at, bool bigEndian) noexcept {
    return bigEndian ? static_cast<std::uint16_t>((at[0] << 8U) | at[1])
                     : static_cast<std::uint16_t>((at[1] << 8U) | at[0]);
}

std::uint32_t TiffGet32(const std::uint8_t* at, bool bigEndian) noexcept {
    const std::uint32_t a = at[0];
    const std::uint32_t b = at[1];
    const std::uint32_t c = at[2];
    const std::uint32_t d = at[3];
    return bigEndian ? (a << 24U) | (b << 16U) | (c << 8U) | d : (d << 24U) | (c << 16U) | (b << 8U) | a;
}

void TiffPut16(std::uint8_t* at, std::uint16_t value, bool bigEndian) noexcept {
    const auto high = static_cast<std::uint8_t>(value >> 8U);
    const auto low = static_cast<std::uint8_t>(value & 0xFFU);
    at[0] = bigEndian ? high : low;
    at[1] = bigEndian ? low : high;
}

void TiffPut32(std::uint8_t* at, std::uint32_t value, bool bigEndian) noexcept {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = bigEndian ? 8 * (3 - i) : 8 * i;
        at[i] = static_cast<std::uint8_t>((value >> shift) & 0xFFU);
    }
}

TiffLayout ReadTiffLayout(const TiffSource& source) {
    std::array<std::uint8_t, 8> header{};
    if (source.Size() < header.size() || !source.Read(0, header)) {
        throw TiffLayoutError(kNoTiff);
    }
    TiffLayout layout;
    if (header[0] == 'I' && header[1] == 'I') {
        layout.bigEndian = false;
    } else if (header[0] == 'M' && header[1] == 'M') {
        layout.bigEndian = true;
    } else {
        throw TiffLayoutError(kNoTiff);
    }
    const std::uint16_t magic = TiffGet16(header.data() + 2, layout.bigEndian);
    if (magic == kBigTiffMagic) {
        throw TiffLayoutError(kBigTiff);
    }
    if (magic != kClassicMagic && magic != kPanasonicMagic && magic != kOlympusMagicRO &&
        magic != kOlympusMagicRS) {
        throw TiffLayoutError(kNoTiff);
    }
    if (source.Size() > kLargestTiff) {
        throw TiffLayoutError(kNoTiff);
    }
    layout.fileSize = source.Size();
    Walker walker(source, layout.bigEndian);
    layout.ifd0 = walker.ReadDirectory(TiffGet32(header.data() + 4, layout.bigEndian));
    if (layout.ifd0.entries.empty()) {
        throw TiffLayoutError(kEmptyIfd0);
    }
    for (std::size_t i = 0; i < layout.ifd0.entries.size(); ++i) {
        const TiffEntry& entry = layout.ifd0.entries[i];
        if (entry.tag != kGpsInfoTag) {
            continue;
        }
        if (layout.gpsEntry || (entry.type != kTypeLong && entry.type != kTypeIfd) || entry.count != 1) {
            throw TiffLayoutError(kBadGpsPointer);
        }
        layout.gpsEntry = i;
    }
    // The pointer the write switches: IFD0's GPSInfo value (inside IFD0, its own entry), or the header's.
    if (layout.gpsEntry) {
        walker.Guard(layout.ifd0.entries[*layout.gpsEntry].at + 8);
    } else {
        walker.Guard(4);
        walker.Refuse(layout.ifd0.offset, 2 + layout.ifd0.entries.size() * 12 + 4);
    }
    walker.Check(layout.ifd0);
    if (layout.gpsEntry) {
        const std::uint32_t gpsOffset =
            TiffGet32(layout.ifd0.entries[*layout.gpsEntry].value.data(), layout.bigEndian);
        if (gpsOffset != 0) {
            // Checked above already: read again only for its entries, outside the walk's loop guard.
            Walker again(source, layout.bigEndian);
            layout.gps = again.ReadDirectory(gpsOffset);
        }
    }
    for (std::uint32_t next = layout.ifd0.next; next != 0;) {
        const TiffDirectory directory = walker.ReadDirectory(next);
        walker.Check(directory);
        next = directory.next;
    }
    return layout;
}

}  // namespace zeloro
