// src/metadata/TiffReader.cpp: TIFF header check, IFD chain walk and directory entries.
#include "metadata/TiffReader.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace zeloro {

namespace {

// No EXIF block holds more directories than this; longer chains are damage.
constexpr std::size_t kMaxChainLength = 64;

std::uint16_t Get16(const std::uint8_t* p, TEndianness e) noexcept {
    return e == BigEndian ? static_cast<std::uint16_t>(p[0] << 8U | p[1])
                          : static_cast<std::uint16_t>(p[1] << 8U | p[0]);
}

std::uint32_t Get32(const std::uint8_t* p, TEndianness e) noexcept {
    if (e == BigEndian) {
        return static_cast<std::uint32_t>(p[0]) << 24U | static_cast<std::uint32_t>(p[1]) << 16U |
               static_cast<std::uint32_t>(p[2]) << 8U | p[3];
    }
    return static_cast<std::uint32_t>(p[3]) << 24U | static_cast<std::uint32_t>(p[2]) << 16U |
           static_cast<std::uint32_t>(p[1]) << 8U | p[0];
}

// Parses one directory and leaves the stream right after the last entry read (or at its end for a
// directory outside the stream), where the next-directory offset lies.
TTiffDirectory ParseDirectoryAt(const TTiffInfo& info, std::int64_t dataOffsetBase,
                                std::int64_t directoryOffset) {
    TTiffDirectory dir;
    Stream& s = *info.Stream;
    const std::int64_t size = s.Size();
    s.SetPosition(size);
    const std::int64_t base = info.BasePosition;
    const std::int64_t dirPos = base + directoryOffset;
    if (dirPos < 0 || dirPos > size - 2) {
        dir.LoadErrors.Include(leBadOffset);
        return dir;
    }
    dir.Offset = directoryOffset;
    const std::int64_t maxCount = (size - dirPos - 2) / 12;
    s.SetPosition(dirPos);
    std::int64_t count = ReadStreamWord(s, info.Endianness);
    if (count > maxCount) {
        count = maxCount;
        dir.LoadErrors.Include(leBadTagCount);
    }
    if (count == 0) {
        dir.NextOffsetPosition = dirPos + 2 - base;
        return dir;
    }
    // One read for all entries: the count was capped to what the stream holds.
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * 12);
    s.ReadBuffer(entries.data(), entries.size());
    dir.Tags.reserve(static_cast<std::size_t>(count));
    bool prevValid = true;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint8_t* e = entries.data() + i * 12;
        const std::int64_t entryPos = dirPos + 2 + i * 12;
        TTiffTagInfo tag;
        tag.HeaderOffset = entryPos - base;
        tag.ID = Get16(e, info.Endianness);
        tag.DataType = Get16(e + 2, info.Endianness);
        tag.ElementCount = static_cast<std::int32_t>(Get32(e + 4, info.Endianness));
        const std::int64_t dataSize = tag.DataSize();
        if (dataSize <= 4) {
            tag.DataOffset = entryPos + 8 - base;
        } else {
            tag.DataOffset = dataOffsetBase + static_cast<std::int32_t>(Get32(e + 8, info.Endianness));
            const std::int64_t at = base + tag.DataOffset;
            if (at < 0 || at > size || dataSize > size - at) {
                tag.ElementCount = -1;
            }
        }
        const bool valid = tag.IsValid();
        if (!valid) {
            if (!prevValid) {
                // Two bad entries in a row: the count itself cannot be trusted any more.
                dir.LoadErrors.Include(leBadTagCount);
                s.SetPosition(entryPos + 12);
                dir.NextOffsetPosition = entryPos + 12 - base;
                return dir;
            }
            dir.LoadErrors.Include(leBadTagHeader);
        }
        dir.Tags.push_back(tag);
        prevValid = valid;
    }
    s.SetPosition(dirPos + 2 + count * 12);
    dir.NextOffsetPosition = dirPos + 2 + count * 12 - base;
    return dir;
}

}  // namespace

void LoadTiffInfo(Stream& stream, TTiffInfo& info, TiffMagic accepted) {
    info.Directories.clear();
    info.Stream = &stream;
    info.BasePosition = stream.Position();
    std::uint16_t mark = 0;
    if (!TryReadStreamWord(stream, SmallEndian, mark)) throw EInvalidTiffData();
    if (mark == 0x4949) {
        info.Endianness = SmallEndian;
    } else if (mark == 0x4D4D) {
        info.Endianness = BigEndian;
    } else {
        throw EInvalidTiffData();
    }
    std::uint16_t magic = 0;
    if (!TryReadStreamWord(stream, info.Endianness, magic)) throw EInvalidTiffData();
    const bool rawMagic = magic == 0x55 || magic == 0x4F52 || magic == 0x5352;
    if (magic == 0x2A00) {
        // The mark disagrees with the byte order the 42 was written in; the 42 wins.
        info.Endianness = info.Endianness == SmallEndian ? BigEndian : SmallEndian;
    } else if (magic != 42 && !(accepted == TiffMagic::rawVariants && rawMagic)) {
        throw EInvalidTiffData();
    }
    const std::int64_t maxDirOffset = stream.Size() - info.BasePosition - 4;
    std::int32_t offset = 0;
    if (!TryReadStreamLongInt(stream, info.Endianness, offset)) throw EInvalidTiffData();
    std::set<std::int64_t> visited;
    info.Directories.reserve(2);
    while (offset != 0 && info.Directories.size() < kMaxChainLength) {
        // A chain that points back to a directory already read would never end.
        if (!visited.insert(offset).second) break;
        info.Directories.push_back(ParseDirectoryAt(info, 0, offset));
        std::int32_t next = 0;
        if (!TryReadStreamLongInt(stream, info.Endianness, next) || next > maxDirOffset) break;
        offset = next;
    }
}

TTiffDirectory ParseTiffDirectory(const TTiffInfo& info, std::int64_t dataOffsetBase,
                                  std::int64_t directoryOffset) {
    return ParseDirectoryAt(info, dataOffsetBase, directoryOffset);
}

void ReadTagData(const TTiffInfo& info, const TTiffTagInfo& tag, std::uint8_t* buffer) {
    const std::int64_t size = tag.DataSize();
    if (size <= 0) return;
    Stream& s = *info.Stream;
    s.SetPosition(info.BasePosition + tag.DataOffset);
    s.ReadBuffer(buffer, static_cast<std::size_t>(size));
    if (info.Endianness == SmallEndian) return;
    const std::uint32_t es = TiffElementSize(tag.DataType);
    // Bytes stay as they are; 2-byte elements swap, DOUBLE reverses all 8, every other wide type is a
    // sequence of 32-bit values (a rational is numerator then denominator).
    const std::uint32_t unit = es == 1 ? 1 : es == 2 ? 2 : tag.DataType == tdDouble ? 8 : 4;
    if (unit == 1) return;
    for (std::int64_t i = 0; i + unit <= size; i += unit) {
        std::reverse(buffer + i, buffer + i + unit);
    }
}

}  // namespace zeloro
