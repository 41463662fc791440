// src/media/ExifFacts.cpp: DateTimeOriginal and the GPS directory read straight from a TIFF block.
#include "media/ExifFacts.h"

#include <array>
#include <string>

#include "media/SourceStream.h"

namespace zeloro {

namespace {

constexpr TTiffTagID kExifPointer = 0x8769;
constexpr TTiffTagID kGpsPointer = 0x8825;
constexpr TTiffTagID kDateTimeOriginal = 0x9003;
constexpr TTiffTagID kGpsLatitude = 2;
constexpr TTiffTagID kGpsLongitude = 4;
// A JPEG holds a few dozen segments before its picture data; more is damage, not a photo.
constexpr int kMaxJpegSegments = 4096;

[[noreturn]] void ThrowDamaged(const std::string& what) {
    throw MediaError("Die EXIF-Daten sind beschädigt: " + what);
}

const TTiffTagInfo* FindTag(const TTiffDirectory& dir, TTiffTagID id) noexcept {
    for (const TTiffTagInfo& tag : dir.Tags) {
        if (tag.ID == id && tag.IsValid()) return &tag;
    }
    return nullptr;
}

// The directory a pointer tag leads to; nullopt without the tag. A pointer whose directory lies outside
// the block is damage where the run must read.
std::optional<TTiffDirectory> FollowPointer(const TTiffInfo& info, const TTiffDirectory& dir, TTiffTagID id,
                                            const char* name) {
    const TTiffTagInfo* tag = FindTag(dir, id);
    if (tag == nullptr) return std::nullopt;
    if (tag->DataSize() != 4) ThrowDamaged(std::string("der Verweis auf das ") + name + " ist ungültig");
    std::array<std::uint8_t, 4> value{};
    ReadTagData(info, *tag, value.data());
    const std::uint32_t offset =
        static_cast<std::uint32_t>(value[0]) | static_cast<std::uint32_t>(value[1]) << 8U |
        static_cast<std::uint32_t>(value[2]) << 16U | static_cast<std::uint32_t>(value[3]) << 24U;
    TTiffDirectory target = ParseTiffDirectory(info, 0, offset);
    if (target.Offset < 0) ThrowDamaged(std::string("das ") + name + " liegt außerhalb der Daten");
    return target;
}

std::optional<DateTimeValue> ShotOf(const TTiffInfo& info, const TTiffDirectory& exif) {
    const TTiffTagInfo* tag = FindTag(exif, kDateTimeOriginal);
    if (tag == nullptr || tag->DataType != tdAscii || tag->ElementCount < 19 || tag->ElementCount > 64) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(tag->DataSize()), '\0');
    ReadTagData(info, *tag, reinterpret_cast<std::uint8_t*>(text.data()));
    return ParseExifDateTime(std::string_view(text).substr(0, 19));
}

bool HasPosition(const TTiffDirectory& gps) noexcept {
    const TTiffTagInfo* lat = FindTag(gps, kGpsLatitude);
    const TTiffTagInfo* lon = FindTag(gps, kGpsLongitude);
    return lat != nullptr && lon != nullptr && lat->ElementCount > 0 && lon->ElementCount > 0;
}

std::uint16_t Big16(const std::array<std::uint8_t, 4>& b, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(b[at] << 8U | b[at + 1]);
}

}  // namespace

std::optional<DateTimeValue> ParseExifDateTime(std::string_view text) noexcept {
    if (text.size() != 19 || text[4] != ':' || text[7] != ':' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    const auto field = [text](std::size_t at, std::size_t digits) {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    DateTimeValue date = 0;
    DateTimeValue time = 0;
    if (!TryEncodeDate(field(0, 4), field(5, 2), field(8, 2), date) ||
        !TryEncodeTime(field(11, 2), field(14, 2), field(17, 2), 0, time)) {
        return std::nullopt;
    }
    return date + time;
}

MediaFacts ReadTiffBlockFacts(const ByteSource& file, std::uint64_t begin, std::uint64_t length,
                              TiffRole role, TiffMagic accepted) {
    SourceStream stream(file, begin, length);
    MediaFacts facts;
    try {
        TTiffInfo info;
        try {
            LoadTiffInfo(stream, info, accepted);
        } catch (const EInvalidTiffData&) {
            ThrowDamaged("der TIFF-Kopf ist ungültig");
        }
        if (info.Directories.empty() || info.Directories.front().Offset < 0) {
            ThrowDamaged("das erste Verzeichnis liegt außerhalb der Daten");
        }
        const TTiffDirectory& first = info.Directories.front();
        switch (role) {
            case TiffRole::image: {
                if (const auto exif = FollowPointer(info, first, kExifPointer, "Exif-Verzeichnis")) {
                    if (const auto shot = ShotOf(info, *exif)) facts.shot = ShotTime{*shot};
                }
                if (const auto gps = FollowPointer(info, first, kGpsPointer, "GPS-Verzeichnis")) {
                    facts.hasGpsPosition = HasPosition(*gps);
                }
                break;
            }
            case TiffRole::exif:
                if (const auto shot = ShotOf(info, first)) facts.shot = ShotTime{*shot};
                break;
            case TiffRole::gps:
                facts.hasGpsPosition = HasPosition(first);
                break;
        }
    } catch (const MediaError&) {
        throw;
    } catch (const Error& e) {
        // A stream read that came up short: the directories' own bounds checks let nothing else through.
        ThrowDamaged(e.what());
    }
    return facts;
}

MediaFacts ReadJpegFacts(const ByteSource& file, std::uint64_t begin, std::uint64_t length) {
    std::array<std::uint8_t, 4> head{};
    if (length < 4) throw MediaError("Das JPEG-Bild ist abgeschnitten");
    file.ReadAt(begin, {head.data(), 2});
    if (head[0] != 0xFF || head[1] != 0xD8)
        throw MediaError("Das JPEG-Bild beginnt nicht mit seinem Startmarker");
    std::uint64_t at = 2;
    for (int segments = 0; segments < kMaxJpegSegments; ++segments) {
        if (length - at < 4) throw MediaError("Das JPEG-Bild endet vor seinen Bilddaten");
        file.ReadAt(begin + at, head);
        if (head[0] != 0xFF) throw MediaError("Die Segmente des JPEG-Bilds sind beschädigt");
        const std::uint8_t marker = head[1];
        if (marker == 0xFF) {
            ++at;  // a fill byte before the marker
            continue;
        }
        // The picture data, or its end: the metadata segments all come before.
        if (marker == 0xDA || marker == 0xD9) return {};
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::uint16_t segmentLength = Big16(head, 2);
        // The length counts its own two bytes but not the marker's.
        if (segmentLength < 2 || segmentLength > length - at - 2) {
            throw MediaError("Ein Segment des JPEG-Bilds reicht über sein Ende hinaus");
        }
        if (marker == 0xE1 && segmentLength >= 2 + 6 + 8) {
            std::array<std::uint8_t, 6> id{};
            file.ReadAt(begin + at + 4, id);
            if (id == std::array<std::uint8_t, 6>{'E', 'x', 'i', 'f', 0, 0}) {
                return ReadTiffBlockFacts(file, begin + at + 10, segmentLength - 8U, TiffRole::image);
            }
        }
        at += 2U + segmentLength;
    }
    throw MediaError("Das JPEG-Bild hat zu viele Segmente");
}

}  // namespace zeloro
