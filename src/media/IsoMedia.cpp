// src/media/IsoMedia.cpp: shot times of the ISO base media kinds: HEIF items, CR3's Canon boxes and
// QuickTime's movie header and metadata keys.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "media/ExifFacts.h"
#include "media/IsoBoxes.h"
#include "media/MediaReaders.h"

namespace zeloro {

namespace {

// The tables read whole (iloc, keys) are a few kilobytes in real files; an EXIF item some dozens.
constexpr std::uint64_t kMaxTableSize = 16U << 20U;
constexpr std::uint64_t kMaxExifItemSize = 64U << 20U;
constexpr std::uint64_t kMaxTextValue = 256;

constexpr std::array<std::uint8_t, 16> kCanonUuid{0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                                  0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

// A full box starts its payload with a version byte and three bytes of flags.
std::uint8_t FullBoxVersion(const ByteSource& file, const IsoBox& box) {
    if (box.PayloadSize() < 4) {
        throw MediaError("Die Box '" + FourCcText(box.type) + "' ist kürzer als ihr Inhalt");
    }
    std::array<std::uint8_t, 1> version{};
    file.ReadAt(box.PayloadBegin(), version);
    return version[0];
}

struct Extent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // 0: to the end of the data the offset is in
};

struct ItemLocation {
    unsigned constructionMethod = 0;  // 0 the file, 1 meta/idat, 2 other items
    std::uint64_t dataReference = 0;  // 0 this file
    std::vector<Extent> extents;
};

// The first "Exif" item of iinf; nullopt when there is none. Item entries before version 2 carry no
// type and so are never an EXIF item.
std::optional<std::uint32_t> FindExifItem(const ByteSource& file, const IsoBox& iinf) {
    const std::uint8_t version = FullBoxVersion(file, iinf);
    const std::uint64_t entriesAt = iinf.PayloadBegin() + 4 + (version == 0 ? 2 : 4);
    if (entriesAt > iinf.End()) throw MediaError("Die Box 'iinf' ist kürzer als ihr Inhalt");
    IsoBoxList entries(file, entriesAt, iinf.End());
    while (const auto infe = entries.Next()) {
        if (infe->type != FourCc("infe")) continue;
        const std::uint8_t infeVersion = FullBoxVersion(file, *infe);
        if (infeVersion < 2) continue;
        std::array<std::uint8_t, 12> fields{};
        const std::size_t idSize = infeVersion == 2 ? 2 : 4;
        const std::size_t need = idSize + 2 + 4;
        if (infe->PayloadSize() < 4 + need) throw MediaError("Die Box 'infe' ist kürzer als ihr Inhalt");
        file.ReadAt(infe->PayloadBegin() + 4, {fields.data(), need});
        BoxFields f({fields.data(), need}, infe->type);
        const auto id = static_cast<std::uint32_t>(f.Read(static_cast<unsigned>(idSize)));
        f.Skip(2);  // protection index
        if (f.Read(4) == FourCc("Exif")) return id;
    }
    return std::nullopt;
}

std::optional<ItemLocation> FindItemLocation(const ByteSource& file, const IsoBox& iloc,
                                             std::uint32_t itemId) {
    const std::vector<std::uint8_t> payload = ReadIsoPayload(file, iloc, kMaxTableSize);
    BoxFields f(payload, iloc.type);
    const auto version = static_cast<unsigned>(f.Read(1));
    f.Skip(3);
    if (version > 2) throw MediaError("Die Box 'iloc' hat die unbekannte Version " + std::to_string(version));
    const auto sizes = static_cast<unsigned>(f.Read(1));
    const auto moreSizes = static_cast<unsigned>(f.Read(1));
    const unsigned offsetSize = sizes >> 4U;
    const unsigned lengthSize = sizes & 0xFU;
    const unsigned baseOffsetSize = moreSizes >> 4U;
    const unsigned indexSize = version == 0 ? 0 : moreSizes & 0xFU;
    for (const unsigned size : {offsetSize, lengthSize, baseOffsetSize, indexSize}) {
        if (size != 0 && size != 4 && size != 8) {
            throw MediaError("Die Box 'iloc' hat die ungültige Feldbreite " + std::to_string(size));
        }
    }
    const std::uint64_t itemCount = f.Read(version < 2 ? 2 : 4);
    for (std::uint64_t i = 0; i < itemCount; ++i) {
        ItemLocation location;
        const std::uint64_t id = f.Read(version < 2 ? 2 : 4);
        if (version != 0) location.constructionMethod = static_cast<unsigned>(f.Read(2) & 0xFU);
        location.dataReference = f.Read(2);
        const std::uint64_t base = f.Read(baseOffsetSize);
        const std::uint64_t extentCount = f.Read(2);
        const bool wanted = id == itemId;
        for (std::uint64_t e = 0; e < extentCount; ++e) {
            f.Skip(indexSize);
            const std::uint64_t offset = f.Read(offsetSize);
            const std::uint64_t length = f.Read(lengthSize);
            if (!wanted) continue;
            if (offset > UINT64_MAX - base) throw MediaError("Die Box 'iloc' nennt eine ungültige Position");
            location.extents.push_back({base + offset, length});
        }
        if (wanted) return location;
    }
    return std::nullopt;
}

// The item's bytes as one stretch: the file itself where it is one extent in the file, else a copy.
MediaFacts ReadExifItem(const ByteSource& file, const ItemLocation& location,
                        const std::optional<IsoBox>& idat) {
    std::uint64_t dataBegin = 0;
    std::uint64_t dataSize = file.Size();
    if (location.constructionMethod == 1) {
        if (!idat) throw MediaError("Das EXIF-Element liegt in einer Box 'idat', die fehlt");
        dataBegin = idat->PayloadBegin();
        dataSize = idat->PayloadSize();
    }
    std::vector<std::uint8_t> joined;
    std::uint64_t itemBegin = 0;
    std::uint64_t itemSize = 0;
    for (const Extent& extent : location.extents) {
        if (extent.offset > dataSize || extent.length > dataSize - extent.offset) {
            throw MediaError("Das EXIF-Element reicht über das Ende der Datei hinaus");
        }
        const std::uint64_t length = extent.length == 0 ? dataSize - extent.offset : extent.length;
        if (location.extents.size() == 1) {
            itemBegin = dataBegin + extent.offset;
            itemSize = length;
            break;
        }
        if (length > kMaxExifItemSize - joined.size()) throw MediaError("Das EXIF-Element ist zu groß");
        const std::size_t at = joined.size();
        joined.resize(at + static_cast<std::size_t>(length));
        file.ReadAt(dataBegin + extent.offset, {joined.data() + at, static_cast<std::size_t>(length)});
    }
    const SpanSource joinedSource(joined);
    const ByteSource& source = location.extents.size() == 1 ? file : joinedSource;
    if (location.extents.size() != 1) itemSize = joined.size();
    // The item starts with the offset from its fifth byte to the TIFF header (past "Exif\0\0" as a rule).
    if (itemSize < 4) throw MediaError("Das EXIF-Element ist abgeschnitten");
    std::array<std::uint8_t, 4> head{};
    source.ReadAt(itemBegin, head);
    const std::uint64_t headerOffset = static_cast<std::uint64_t>(head[0]) << 24U |
                                       static_cast<std::uint64_t>(head[1]) << 16U |
                                       static_cast<std::uint64_t>(head[2]) << 8U | head[3];
    if (headerOffset > itemSize - 4)
        throw MediaError("Das EXIF-Element nennt einen TIFF-Kopf nach seinem Ende");
    return ReadTiffBlockFacts(source, itemBegin + 4 + headerOffset, itemSize - 4 - headerOffset,
                              TiffRole::image);
}

// The children of a "meta" box: a full box in ISO files, a plain one in QuickTime movies. A QuickTime
// "meta" begins with the size of its first child, never 0; an ISO one with version 0 and no flags.
std::uint64_t MetaChildrenBegin(const ByteSource& file, const IsoBox& meta) {
    if (meta.PayloadSize() < 4) return meta.End();
    std::array<std::uint8_t, 4> first{};
    file.ReadAt(meta.PayloadBegin(), first);
    return first == std::array<std::uint8_t, 4>{} ? meta.PayloadBegin() + 4 : meta.PayloadBegin();
}

// The days from 1899-12-30 to 1904-01-01, the epoch of QuickTime's times.
constexpr double kQuickTimeEpoch = 1462.0;
// 9999-12-31 23:59:59 in seconds since that epoch: later is no time the calendar holds.
constexpr std::uint64_t kMaxQuickTimeSeconds = 255485145599ULL;

std::optional<ShotTime> MovieHeaderTime(const ByteSource& file, const IsoBox& mvhd) {
    const std::uint8_t version = FullBoxVersion(file, mvhd);
    const unsigned width = version == 1 ? 8 : 4;
    if (mvhd.PayloadSize() < 4 + width) throw MediaError("Die Box 'mvhd' ist kürzer als ihr Inhalt");
    std::array<std::uint8_t, 8> bytes{};
    file.ReadAt(mvhd.PayloadBegin() + 4, {bytes.data(), width});
    const std::uint64_t seconds = BoxFields({bytes.data(), width}, mvhd.type).Read(width);
    // Zero is a camera that never set its clock, not New Year's Day 1904.
    if (seconds == 0 || seconds > kMaxQuickTimeSeconds) return std::nullopt;
    return ShotTime{kQuickTimeEpoch + static_cast<double>(seconds) / kSecsPerDay, ShotTime::Clock::utc};
}

struct MovieKeys {
    std::uint32_t creationDate = 0;  // 1-based index in keys; 0 none
    std::uint32_t location = 0;
};

MovieKeys ReadKeys(const ByteSource& file, const IsoBox& keys) {
    const std::vector<std::uint8_t> payload = ReadIsoPayload(file, keys, kMaxTableSize);
    BoxFields f(payload, keys.type);
    f.Skip(4);
    const std::uint64_t count = f.Read(4);
    MovieKeys found;
    for (std::uint64_t index = 1; index <= count && index <= UINT32_MAX; ++index) {
        const std::uint64_t size = f.Read(4);
        if (size < 8) f.Fail();
        f.Skip(4);  // namespace, "mdta" for these keys
        const std::uint64_t at = f.Position();
        f.Skip(size - 8);
        const std::string_view name(reinterpret_cast<const char*>(payload.data() + at),
                                    static_cast<std::size_t>(size - 8));
        if (name == "com.apple.quicktime.creationdate")
            found.creationDate = static_cast<std::uint32_t>(index);
        if (name == "com.apple.quicktime.location.ISO6709")
            found.location = static_cast<std::uint32_t>(index);
    }
    return found;
}

// The first "data" value of an ilst item, up to kMaxTextValue bytes (the values wanted are short texts).
std::string ItemText(const ByteSource& file, const IsoBox& item) {
    const auto data = FindIsoBox(file, item.PayloadBegin(), item.End(), FourCc("data"));
    // A type indicator and a locale come before the value.
    if (!data || data->PayloadSize() < 8) return {};
    std::string text(static_cast<std::size_t>(std::min(data->PayloadSize() - 8, kMaxTextValue)), '\0');
    file.ReadAt(data->PayloadBegin() + 8, {reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
    // Some writers end the text with a zero byte, which is no part of it.
    text.erase(std::min(text.find('\0'), text.size()));
    return text;
}

// udta/©xyz: a 16-bit text length and a language code before the text "+48.8577+002.2950/".
bool HasUserDataPosition(const ByteSource& file, const IsoBox& udta) {
    const auto xyz = FindIsoBox(file, udta.PayloadBegin(), udta.End(), 0xA978797AU);
    if (!xyz || xyz->PayloadSize() < 5) return false;
    std::array<std::uint8_t, 2> length{};
    file.ReadAt(xyz->PayloadBegin(), length);
    return (length[0] != 0 || length[1] != 0);
}

}  // namespace

std::optional<ShotTime> ParseQuickTimeDate(std::string_view text) noexcept {
    const auto digits = [text](std::size_t at, std::size_t count) {
        if (at > text.size() || count > text.size() - at) return -1;
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    DateTimeValue date = 0;
    DateTimeValue time = 0;
    if (!TryEncodeDate(digits(0, 4), digits(5, 2), digits(8, 2), date) ||
        !TryEncodeTime(digits(11, 2), digits(14, 2), digits(17, 2), 0, time)) {
        return std::nullopt;
    }
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        ++at;
        const std::size_t fractionBegin = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == fractionBegin) return std::nullopt;
    }
    ShotTime shot{date + time};
    const std::string_view zone = text.substr(at);
    if (zone.empty()) return shot;
    if (zone == "Z") {
        shot.clock = ShotTime::Clock::utc;
        return shot;
    }
    if (zone[0] != '+' && zone[0] != '-') return std::nullopt;
    int hours = digits(at + 1, 2);
    int minutes = 0;
    if (zone.size() == 3) {
        minutes = 0;
    } else if (zone.size() == 5) {
        minutes = digits(at + 3, 2);
    } else if (zone.size() == 6 && zone[3] == ':') {
        minutes = digits(at + 4, 2);
    } else {
        return std::nullopt;
    }
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
    shot.clock = ShotTime::Clock::offset;
    shot.offsetMinutes = (zone[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    return shot;
}

MediaFacts ReadHeifFacts(const ByteSource& file) {
    const auto meta = FindIsoBox(file, 0, file.Size(), FourCc("meta"));
    if (!meta) return {};
    (void)FullBoxVersion(file, *meta);
    std::optional<IsoBox> iinf;
    std::optional<IsoBox> iloc;
    std::optional<IsoBox> idat;
    IsoBoxList children(file, meta->PayloadBegin() + 4, meta->End());
    while (const auto box = children.Next()) {
        if (box->type == FourCc("iinf") && !iinf) iinf = box;
        if (box->type == FourCc("iloc") && !iloc) iloc = box;
        if (box->type == FourCc("idat") && !idat) idat = box;
    }
    if (!iinf) return {};
    const auto exifItem = FindExifItem(file, *iinf);
    if (!exifItem) return {};
    if (!iloc) throw MediaError("Das EXIF-Element hat keinen Ort: die Box 'iloc' fehlt");
    const auto location = FindItemLocation(file, *iloc, *exifItem);
    if (!location) throw MediaError("Das EXIF-Element hat keinen Ort in der Box 'iloc'");
    // Items built from other items, or kept in another file, hold no EXIF block this file can give.
    if (location->constructionMethod > 1 || location->dataReference != 0 || location->extents.empty())
        return {};
    return ReadExifItem(file, *location, idat);
}

MediaFacts ReadCr3Facts(const ByteSource& file) {
    const auto moov = FindIsoBox(file, 0, file.Size(), FourCc("moov"));
    if (!moov) return {};
    IsoBoxList moovChildren(file, moov->PayloadBegin(), moov->End());
    std::optional<IsoBox> canon;
    while (const auto box = moovChildren.Next()) {
        if (box->type == FourCc("uuid") && box->userType == kCanonUuid) {
            canon = box;
            break;
        }
    }
    if (!canon) return {};
    MediaFacts facts;
    IsoBoxList canonChildren(file, canon->PayloadBegin(), canon->End());
    while (const auto box = canonChildren.Next()) {
        if (box->type == FourCc("CMT2") && !facts.shot) {
            facts.shot =
                ReadTiffBlockFacts(file, box->PayloadBegin(), box->PayloadSize(), TiffRole::exif).shot;
        } else if (box->type == FourCc("CMT4")) {
            facts.hasGpsPosition =
                ReadTiffBlockFacts(file, box->PayloadBegin(), box->PayloadSize(), TiffRole::gps)
                    .hasGpsPosition;
        }
    }
    return facts;
}

MediaFacts ReadQuickTimeFacts(const ByteSource& file) {
    const auto moov = FindIsoBox(file, 0, file.Size(), FourCc("moov"));
    if (!moov) return {};
    MediaFacts facts;
    std::optional<ShotTime> keyedDate;
    IsoBoxList moovChildren(file, moov->PayloadBegin(), moov->End());
    while (const auto box = moovChildren.Next()) {
        if (box->type == FourCc("mvhd") && !facts.shot) {
            facts.shot = MovieHeaderTime(file, *box);
        } else if (box->type == FourCc("udta")) {
            facts.hasGpsPosition = facts.hasGpsPosition || HasUserDataPosition(file, *box);
        } else if (box->type == FourCc("meta")) {
            const std::uint64_t begin = MetaChildrenBegin(file, *box);
            const auto keys = FindIsoBox(file, begin, box->End(), FourCc("keys"));
            const auto ilst = FindIsoBox(file, begin, box->End(), FourCc("ilst"));
            if (!keys || !ilst) continue;
            const MovieKeys wanted = ReadKeys(file, *keys);
            IsoBoxList items(file, ilst->PayloadBegin(), ilst->End());
            while (const auto item = items.Next()) {
                if (wanted.creationDate != 0 && item->type == wanted.creationDate && !keyedDate) {
                    keyedDate = ParseQuickTimeDate(ItemText(file, *item));
                } else if (wanted.location != 0 && item->type == wanted.location) {
                    facts.hasGpsPosition = facts.hasGpsPosition || !ItemText(file, *item).empty();
                }
            }
        }
    }
    if (keyedDate) facts.shot = keyedDate;
    return facts;
}

}  // namespace zeloro
