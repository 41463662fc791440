// src/xml/XmlStreams.cpp: the paged read buffer and the decoding stream.
#include "xml/XmlStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "common/Win1252.h"

namespace zeloro {

namespace {

// "Datei %s kann nicht geöffnet werden. " with the full path; the reason follows.
std::string OpenErrorText(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    const std::string shown = ec ? path : full.string();
    return "Datei " + shown + " kann nicht geöffnet werden. ";
}

std::string OpenErrorText(const std::string& path, int err) {
    return OpenErrorText(path) + std::strerror(err);
}

std::int64_t ClampSeek(std::int64_t base, std::int64_t offset, std::int64_t size) {
    // The base lies within 0..size; an offset that would leave that range stops at its edge.
    if (offset < 0) {
        return offset < -base ? 0 : base + offset;
    }
    return offset > size - base ? size : base + offset;
}

std::int64_t SeekBase(XmlSeekOrigin origin, std::int64_t current, std::int64_t size) {
    switch (origin) {
        case XmlSeekOrigin::soBeginning:
            return 0;
        case XmlSeekOrigin::soCurrent:
            return current;
        case XmlSeekOrigin::soEnd:
            return size;
    }
    return current;
}

// The UTF-8 form of each byte of the 8-bit code page, built once.
struct AnsiTable {
    std::array<std::array<char, 4>, 256> bytes{};
    std::array<std::uint8_t, 256> lengths{};
    AnsiTable() {
        for (std::size_t b = 0; b < 256; ++b) {
            const char raw = static_cast<char>(static_cast<unsigned char>(b));
            const std::string utf8 = Win1252ToUtf8(std::string_view(&raw, 1));
            const std::size_t n = std::min<std::size_t>(utf8.size(), 4);
            std::copy_n(utf8.begin(), n, bytes[b].begin());
            // The zero byte must still come out as one byte: it is what ends the data.
            lengths[b] = static_cast<std::uint8_t>(n == 0 ? 1 : n);
        }
    }
};

const AnsiTable& Ansi() {
    static const AnsiTable table;
    return table;
}

struct DetectRow {
    std::array<std::uint8_t, 4> bytes;
    std::size_t count;
    TStringEncodingType encoding;
    bool mark;
};

using enum TStringEncodingType;
constexpr std::array<DetectRow, 15> kDetectTable{{
    {{0x00, 0x00, 0xFE, 0xFF}, 4, seUCS4BE, true},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, seUCS4LE, true},
    {{0x00, 0x00, 0xFF, 0xFE}, 4, seUCS4_2143, true},
    {{0xFE, 0xFF, 0x00, 0x00}, 4, seUCS4_3412, true},
    {{0xFE, 0xFF, 0x00, 0x00}, 2, seUTF16BE, true},
    {{0xFF, 0xFE, 0x00, 0x00}, 2, seUTF16LE, true},
    {{0xEF, 0xBB, 0xBF, 0x00}, 3, seUTF8, true},
    {{0x00, 0x00, 0x00, 0x3C}, 4, seUCS4BE, false},
    {{0x3C, 0x00, 0x00, 0x00}, 4, seUCS4LE, false},
    {{0x00, 0x00, 0x3C, 0x00}, 4, seUCS4_2143, false},
    {{0x00, 0x3C, 0x00, 0x00}, 4, seUCS4_3412, false},
    {{0x00, 0x3C, 0x00, 0x3F}, 4, seUTF16BE, false},
    {{0x3C, 0x00, 0x3F, 0x00}, 4, seUTF16LE, false},
    {{0x3C, 0x3F, 0x78, 0x6D}, 4, seAnsi, false},
    {{0x4C, 0x6F, 0xA7, 0x94}, 4, seEBCDIC, false},
}};

}  // namespace

XmlFileStream::XmlFileStream(const std::string& path) {
    // Without waiting: a FIFO would hold the open until some writer came. Only a regular file has the
    // size the reader seeks in; a device or FIFO is refused on the descriptor that would be read.
    fd_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd_) {
        throw FileError(OpenErrorText(path, errno));
    }
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) {
        throw FileError(OpenErrorText(path, errno));
    }
    if (S_ISDIR(st.st_mode)) {
        throw FileError(OpenErrorText(path, EISDIR));
    }
    if (!S_ISREG(st.st_mode)) {
        throw FileError(OpenErrorText(path) + kNotARegularFile);
    }
    // Reads of a regular file never wait anyway; the flag goes so that none of them can end early.
    const int flags = ::fcntl(fd_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw FileError(OpenErrorText(path, errno));
    }
    size_ = static_cast<std::int64_t>(st.st_size);
}

std::size_t XmlFileStream::Read(void* buffer, std::size_t count) {
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t n = ::pread(fd_.get(), out + done, count - done, static_cast<off_t>(position_));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw StreamError(kStreamReadError);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
        position_ += n;
    }
    return done;
}

std::int64_t XmlFileStream::Seek(std::int64_t offset, XmlSeekOrigin origin) {
    position_ =
        ClampSeek(std::clamp<std::int64_t>(SeekBase(origin, position_, size_), 0, size_), offset, size_);
    return position_;
}

std::size_t XmlBytesStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - position_);
    if (n > 0) {
        std::memcpy(buffer, bytes_.data() + position_, n);
    }
    position_ += n;
    return n;
}

std::int64_t XmlBytesStream::Seek(std::int64_t offset, XmlSeekOrigin origin) {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    const auto current = static_cast<std::int64_t>(position_);
    position_ = static_cast<std::size_t>(ClampSeek(SeekBase(origin, current, size), offset, size));
    return static_cast<std::int64_t>(position_);
}

TxrBufferedReadStream::TxrBufferedReadStream(XmlStream* stream, bool owned)
    : stream_(stream),
      buffer_(std::make_unique<std::uint8_t[]>(kPageSize)),
      size_(stream != nullptr ? stream->Size() : 0),
      owned_(owned) {
    if (stream_ != nullptr) {
        position_ = stream_->Position();
    }
}

TxrBufferedReadStream::~TxrBufferedReadStream() {
    if (owned_) {
        delete stream_;
    }
}

void TxrBufferedReadStream::Write(const void* /*buffer*/, std::size_t /*count*/) const {
    throw StreamError(kCannotWriteReadStream);
}

void TxrBufferedReadStream::LoadPageOfPosition() {
    const std::int64_t page = position_ / static_cast<std::int64_t>(kPageSize);
    if (page != page_ || mustCheck_) {
        const std::int64_t start = page * static_cast<std::int64_t>(kPageSize);
        stream_->Seek(start, XmlSeekOrigin::soBeginning);
        bufSize_ = stream_->Read(buffer_.get(), kPageSize);
        page_ = page;
        mustCheck_ = false;
    }
    bufPos_ = static_cast<std::size_t>(position_ - page_ * static_cast<std::int64_t>(kPageSize));
}

bool TxrBufferedReadStream::ReadByteSlow(std::uint8_t& byte) {
    if (stream_ == nullptr || position_ >= size_) {
        return false;
    }
    LoadPageOfPosition();
    if (bufPos_ >= bufSize_) {
        return false;  // the file shrank under us
    }
    byte = buffer_[bufPos_++];
    ++position_;
    return true;
}

std::size_t TxrBufferedReadStream::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (page_ < 0 || bufPos_ >= bufSize_) {
            if (stream_ == nullptr || position_ >= size_) {
                break;
            }
            LoadPageOfPosition();
            if (bufPos_ >= bufSize_) {
                break;
            }
        }
        const std::size_t n = std::min(count - done, bufSize_ - bufPos_);
        std::memcpy(out + done, buffer_.get() + bufPos_, n);
        bufPos_ += n;
        position_ += static_cast<std::int64_t>(n);
        done += n;
    }
    return done;
}

std::int64_t TxrBufferedReadStream::Seek(std::int64_t offset, XmlSeekOrigin origin) {
    const std::int64_t target = ClampSeek(SeekBase(origin, position_, size_), offset, size_);
    if (target == position_) {
        return position_;
    }
    position_ = target;
    const std::int64_t page = position_ / static_cast<std::int64_t>(kPageSize);
    if (page_ >= 0 && page == page_) {
        bufPos_ = static_cast<std::size_t>(position_ - page_ * static_cast<std::int64_t>(kPageSize));
    } else {
        // The page is loaded on the next read; until then the fast path must not serve stale bytes.
        bufPos_ = bufSize_;
        mustCheck_ = true;
    }
    return position_;
}

std::size_t TxrUtf8Stream::Read(void* buffer, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    if (count > 1) {
        throw StreamError(kCannotReadMultipleChars);
    }
    char c = 0;
    const bool got = ReadChar(c);
    *static_cast<char*>(buffer) = c;
    return got ? 1 : 0;
}

std::int64_t TxrUtf8Stream::Seek(std::int64_t offset, XmlSeekOrigin origin) {
    if (mode_ == TxrStreamModeType::umUnknown) {
        throw StreamError(kCannotSeekBeforeReading);
    }
    switch (origin) {
        case XmlSeekOrigin::soBeginning:
            return Position();
        case XmlSeekOrigin::soEnd:
            if (offset != 0) {
                throw StreamError(kCannotSeekCodec);
            }
            return Size();
        case XmlSeekOrigin::soCurrent:
            break;
    }
    if (offset == 0) {
        return Position();
    }
    if (offset != -1 && offset != -2) {
        throw StreamError(kCannotSeekCodec);
    }
    stream_->Seek(offset == -1 ? posMin1_ : posMin2_, XmlSeekOrigin::soBeginning);
    bufferPos_ = 0;
    bufferLen_ = 0;
    return Position();
}

bool TxrUtf8Stream::ReadCharSlow(char& out) {
    if (mode_ != TxrStreamModeType::umRead) {
        if (stream_ == nullptr) {
            throw StreamError(kEncodingStreamUnassigned);
        }
        if (mode_ == TxrStreamModeType::umWrite) {
            throw StreamError(kCannotReadFromWriteStream);
        }
        mode_ = TxrStreamModeType::umRead;
        DetectEncoding();
        UpdateFastPath();
        posMin1_ = stream_->Pos();
        posMin2_ = posMin1_;
    }
    posMin2_ = posMin1_;
    posMin1_ = stream_->Pos();
    ReadNextSourceCharacter();
    out = buffer_[bufferPos_++];
    return out != 0;
}

void TxrUtf8Stream::DetectEncoding() {
    const std::int64_t start = stream_->Pos();
    std::array<std::uint8_t, 4> probe{};
    const std::size_t got = stream_->Read(probe.data(), probe.size());
    const DetectRow* match = nullptr;
    for (const DetectRow& row : kDetectTable) {
        const std::size_t n = std::min(got, row.count);
        if (std::equal(probe.begin(), probe.begin() + static_cast<std::ptrdiff_t>(n), row.bytes.begin())) {
            match = &row;
            break;
        }
    }
    encoding_ = match != nullptr ? match->encoding : seAnsi;
    writeBom_ = match != nullptr && match->mark;
    // The mark is skipped; without one the probe bytes are text and are read again.
    stream_->Seek(writeBom_ ? start + static_cast<std::int64_t>(match->count) : start,
                  XmlSeekOrigin::soBeginning);
    switch (encoding_) {
        case seUCS4BE:
        case seUCS4_2143:
        case seUCS4_3412:
        case seEBCDIC:
            throw StreamError(kUnsupportedEncoding);
        case se16BitBE:
        case seUTF16BE:
            swapByteOrder_ = true;
            break;
        default:
            break;
    }
}

std::uint8_t TxrUtf8Stream::NextSourceByte() {
    std::uint8_t b = 0;
    if (!stream_->ReadByte(b)) {
        return 0;  // bytes missing at the end read as zero
    }
    return b;
}

void TxrUtf8Stream::ReadNextSourceCharacter() {
    bufferPos_ = 0;
    switch (encoding_) {
        case seAnsi: {
            const std::uint8_t b = NextSourceByte();
            const AnsiTable& table = Ansi();
            bufferLen_ = table.lengths[b];
            std::copy_n(table.bytes[b].begin(), bufferLen_, buffer_.begin());
            return;
        }
        case seUTF8: {
            const std::uint8_t b = NextSourceByte();
            buffer_[0] = static_cast<char>(b);
            bufferLen_ = 1;
            // The lead byte alone decides the length, at most three bytes; nothing is validated.
            if ((b & 0x80U) != 0) {
                buffer_[bufferLen_++] = static_cast<char>(NextSourceByte());
                if ((b & 0x20U) != 0) {
                    buffer_[bufferLen_++] = static_cast<char>(NextSourceByte());
                }
            }
            return;
        }
        case seUTF16LE:
        case seUTF16BE:
        case se16BitLE:
        case se16BitBE: {
            const unsigned lo = NextSourceByte();
            const unsigned hi = NextSourceByte();
            const unsigned unit = swapByteOrder_ ? ((lo << 8U) | hi) : ((hi << 8U) | lo);
            // Each unit is encoded on its own: the halves of a surrogate pair give two 3-byte sequences.
            if (unit < 0x80U) {
                buffer_[0] = static_cast<char>(unit);
                bufferLen_ = 1;
            } else if (unit < 0x800U) {
                buffer_[0] = static_cast<char>(0xC0U | (unit >> 6U));
                buffer_[1] = static_cast<char>(0x80U | (unit & 0x3FU));
                bufferLen_ = 2;
            } else {
                buffer_[0] = static_cast<char>(0xE0U | (unit >> 12U));
                buffer_[1] = static_cast<char>(0x80U | ((unit >> 6U) & 0x3FU));
                buffer_[2] = static_cast<char>(0x80U | (unit & 0x3FU));
                bufferLen_ = 3;
            }
            return;
        }
        default:
            bufferLen_ = 0;
            throw StreamError(kUnsupportedEncoding);
    }
}

}  // namespace zeloro
