// src/media/IsoBoxes.cpp: box headers and lists, bounded by their parents and the file.
#include "media/IsoBoxes.h"

#include "media/ShotTime.h"

namespace zeloro {

namespace {

// Far more boxes than any container of a real file holds side by side.
constexpr std::uint32_t kMaxBoxesInList = 100000;

std::uint64_t Big(std::span<const std::uint8_t> bytes) noexcept {
    std::uint64_t value = 0;
    for (const std::uint8_t b : bytes) value = value << 8U | b;
    return value;
}

}  // namespace

std::string FourCcText(std::uint32_t type) {
    std::string text(4, '?');
    for (unsigned i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(type >> (24U - 8U * i));
        // 0xA9 ('©') begins many QuickTime atom names; the rest of Latin-1 is no name.
        if (c >= 0x20 && c < 0x7F) text[i] = static_cast<char>(c);
    }
    return text;
}

IsoBox ReadIsoBox(const ByteSource& file, std::uint64_t at, std::uint64_t end) {
    if (at > end || end - at < 8) {
        throw MediaError("Eine Box bei Byte " + std::to_string(at) + " ist abgeschnitten");
    }
    std::array<std::uint8_t, 16> head{};
    file.ReadAt(at, {head.data(), 8});
    IsoBox box;
    box.begin = at;
    box.type = static_cast<std::uint32_t>(Big({head.data() + 4, 4}));
    box.size = Big({head.data(), 4});
    box.headerSize = 8;
    const auto damaged = [&box](const char* what) {
        return MediaError("Die Box '" + FourCcText(box.type) + "' bei Byte " + std::to_string(box.begin) +
                          " " + what);
    };
    if (box.size == 1) {
        if (end - at < 16) throw damaged("ist abgeschnitten");
        file.ReadAt(at + 8, {head.data() + 8, 8});
        box.size = Big({head.data() + 8, 8});
        box.headerSize = 16;
    } else if (box.size == 0) {
        box.size = end - at;
    }
    if (box.type == FourCc("uuid")) {
        if (box.size < box.headerSize + 16 || end - at < box.headerSize + 16)
            throw damaged("ist abgeschnitten");
        file.ReadAt(at + box.headerSize, box.userType);
        box.headerSize += 16;
    }
    if (box.size < box.headerSize) throw damaged("hat eine ungültige Größe");
    if (box.size > end - at) throw damaged("reicht über das Ende der umgebenden Daten hinaus");
    return box;
}

std::optional<IsoBox> IsoBoxList::Next() {
    if (at_ >= end_ || end_ - at_ < 8) return std::nullopt;
    if (++count_ > kMaxBoxesInList) {
        throw MediaError("Die Datei hat an einer Stelle mehr als " + std::to_string(kMaxBoxesInList) +
                         " Boxen");
    }
    const IsoBox box = ReadIsoBox(file_, at_, end_);
    at_ = box.End();
    return box;
}

std::optional<IsoBox> FindIsoBox(const ByteSource& file, std::uint64_t begin, std::uint64_t end,
                                 std::uint32_t type) {
    IsoBoxList list(file, begin, end);
    while (const auto box = list.Next()) {
        if (box->type == type) return box;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> ReadIsoPayload(const ByteSource& file, const IsoBox& box, std::uint64_t maxSize) {
    if (box.PayloadSize() > maxSize) {
        throw MediaError("Die Box '" + FourCcText(box.type) + "' ist mit " +
                         std::to_string(box.PayloadSize()) + " Bytes zu groß");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(box.PayloadSize()));
    file.ReadAt(box.PayloadBegin(), bytes);
    return bytes;
}

std::uint64_t BoxFields::Read(unsigned width) {
    if (width > 8 || width > Left()) Fail();
    const std::uint64_t value = Big(bytes_.subspan(pos_, width));
    pos_ += width;
    return value;
}

void BoxFields::Skip(std::uint64_t count) {
    if (count > Left()) Fail();
    pos_ += static_cast<std::size_t>(count);
}

void BoxFields::Fail() const {
    throw MediaError("Die Box '" + FourCcText(boxType_) + "' ist kürzer als ihr Inhalt");
}

}  // namespace zeloro
