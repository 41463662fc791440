// src/metadata/Streams.cpp: memory and file streams, typed reads and writes in either byte order.
#include "metadata/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "common/Error.h"

namespace zeloro {

namespace {

std::int64_t ClampPosition(std::int64_t base, std::int64_t offset) noexcept {
    // Offsets can come from files; saturate instead of overflowing.
    if (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const std::int64_t p = base + offset;
    return p < 0 ? 0 : p;
}

std::int64_t SeekBase(SeekOrigin origin, std::int64_t pos, std::int64_t size) noexcept {
    switch (origin) {
        case SeekOrigin::soBeginning:
            return 0;
        case SeekOrigin::soCurrent:
            return pos;
        case SeekOrigin::soEnd:
            return size;
    }
    return 0;
}

[[noreturn]] void ThrowOpenError(const std::string& path, int err) {
    throw FileError("Datei " + path + " kann nicht geöffnet werden. " + std::strerror(err));
}

std::uint16_t Swap16(std::uint16_t v) noexcept { return static_cast<std::uint16_t>((v >> 8U) | (v << 8U)); }
std::uint32_t Swap32(std::uint32_t v) noexcept { return __builtin_bswap32(v); }

std::uint16_t FromBytes16(const std::uint8_t* b, TEndianness e) noexcept {
    return e == BigEndian ? static_cast<std::uint16_t>(b[0] << 8U | b[1])
                          : static_cast<std::uint16_t>(b[1] << 8U | b[0]);
}
std::uint32_t FromBytes32(const std::uint8_t* b, TEndianness e) noexcept {
    if (e == BigEndian) {
        return static_cast<std::uint32_t>(b[0]) << 24U | static_cast<std::uint32_t>(b[1]) << 16U |
               static_cast<std::uint32_t>(b[2]) << 8U | b[3];
    }
    return static_cast<std::uint32_t>(b[3]) << 24U | static_cast<std::uint32_t>(b[2]) << 16U |
           static_cast<std::uint32_t>(b[1]) << 8U | b[0];
}

}  // namespace

void Stream::ReadBuffer(void* buffer, std::size_t count) {
    if (count != 0 && Read(buffer, count) != count) {
        throw StreamError(kStreamReadError);
    }
}

void Stream::WriteBuffer(const void* buffer, std::size_t count) {
    if (count != 0 && Write(buffer, count) != count) {
        throw StreamError(kStreamWriteError);
    }
}

std::int64_t Stream::CopyFrom(Stream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    if (count <= 0) {
        return 0;
    }
    if (auto* mem = dynamic_cast<MemoryStream*>(&source)) {
        // Read in place: no bounce buffer for the common memory-to-anything copy.
        const std::int64_t pos = mem->Position();
        const std::int64_t avail = mem->Size() - pos;
        if (avail < count) {
            throw StreamError(kStreamReadError);
        }
        WriteBuffer(mem->Memory() + pos, static_cast<std::size_t>(count));
        mem->Seek(count, SeekOrigin::soCurrent);
        return count;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 20)));
    std::int64_t left = count;
    while (left > 0) {
        const auto n =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= static_cast<std::int64_t>(n);
    }
    return count;
}

std::vector<std::uint8_t> Stream::ReadToEnd() {
    const std::int64_t pos = Position();
    const std::int64_t size = Size();
    std::vector<std::uint8_t> out;
    if (size > pos) {
        out.resize(static_cast<std::size_t>(size - pos));
        ReadBuffer(out.data(), out.size());
    }
    return out;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
    if (pos_ >= data_.size()) {
        return 0;
    }
    const std::size_t n = std::min(count, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    if (pos_ > data_.size() || count > data_.size() - pos_) {
        data_.resize(pos_ + count);
    }
    std::memcpy(data_.data() + pos_, buffer, count);
    pos_ += count;
    return count;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const std::int64_t p = ClampPosition(SeekBase(origin, static_cast<std::int64_t>(pos_), Size()), offset);
    pos_ = static_cast<std::size_t>(p);
    return p;
}

void MemoryStream::SetSize(std::int64_t newSize) {
    data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(newSize, 0)));
    pos_ = std::min(pos_, data_.size());
}

std::size_t ReadOnlyMemoryStream::Read(void* buffer, std::size_t count) {
    if (pos_ >= data_.size()) {
        return 0;
    }
    const std::size_t n = std::min(count, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::size_t ReadOnlyMemoryStream::Write(const void* /*buffer*/, std::size_t /*count*/) { return 0; }

std::int64_t ReadOnlyMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const std::int64_t p = ClampPosition(SeekBase(origin, static_cast<std::int64_t>(pos_), Size()), offset);
    pos_ = static_cast<std::size_t>(std::min<std::int64_t>(p, std::numeric_limits<std::int64_t>::max()));
    return p;
}

void ReadOnlyMemoryStream::SetSize(std::int64_t /*newSize*/) { throw StreamError(kStreamWriteError); }

FileStream::FileStream(const std::string& path, Mode mode) {
    const int flags =
        mode == Mode::fmCreate ? (O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC);
    fd_.reset(::open(path.c_str(), flags, 0666));
    if (!fd_) {
        ThrowOpenError(path, errno);
    }
}

std::size_t FileStream::Read(void* buffer, std::size_t count) {
    std::size_t done = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::pread(fd_.get(), out + done, count - done, static_cast<off_t>(pos_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
        pos_ += n;
    }
    return done;
}

std::size_t FileStream::Write(const void* buffer, std::size_t count) {
    std::size_t done = 0;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::pwrite(fd_.get(), in + done, count - done, static_cast<off_t>(pos_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
        pos_ += n;
    }
    return done;
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const std::int64_t base = origin == SeekOrigin::soEnd ? Size() : SeekBase(origin, pos_, 0);
    pos_ = ClampPosition(base, offset);
    return pos_;
}

std::int64_t FileStream::Size() {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) {
        return 0;
    }
    return st.st_size;
}

void FileStream::SetSize(std::int64_t newSize) {
    if (::ftruncate(fd_.get(), static_cast<off_t>(std::max<std::int64_t>(newSize, 0))) != 0) {
        throw StreamError(kStreamWriteError);
    }
    pos_ = std::min(pos_, std::max<std::int64_t>(newSize, 0));
}

HeadFileStream::HeadFileStream(const std::string& path, std::size_t windowSize)
    : window_(std::max<std::size_t>(windowSize, 512)) {
    fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd_) {
        ThrowOpenError(path, errno);
    }
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) {
        ThrowOpenError(path, errno);
    }
    size_ = st.st_size;
}

HeadFileStream::HeadFileStream(FileDescriptor file, std::size_t windowSize)
    : fd_(std::move(file)), window_(std::max<std::size_t>(windowSize, 512)) {
    struct stat st {};
    if (fd_ && ::fstat(fd_.get(), &st) == 0) {
        size_ = st.st_size;
    }
}

std::size_t HeadFileStream::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count && pos_ < size_) {
        if (pos_ < windowStart_ || pos_ >= windowStart_ + static_cast<std::int64_t>(windowFill_)) {
            const std::size_t left = count - done;
            if (left >= window_.size()) {
                // Large reads (a whole segment payload) go straight into the caller's buffer.
                const ssize_t n = ::pread(fd_.get(), out + done, left, static_cast<off_t>(pos_));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                bytesRead_ += n;
                done += static_cast<std::size_t>(n);
                pos_ += n;
                continue;
            }
            const ssize_t n = ::pread(fd_.get(), window_.data(), window_.size(), static_cast<off_t>(pos_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            bytesRead_ += n;
            windowStart_ = pos_;
            windowFill_ = static_cast<std::size_t>(n);
        }
        const auto inWindow = static_cast<std::size_t>(pos_ - windowStart_);
        const std::size_t n = std::min(count - done, windowFill_ - inWindow);
        std::memcpy(out + done, window_.data() + inWindow, n);
        done += n;
        pos_ += static_cast<std::int64_t>(n);
    }
    return done;
}

std::size_t HeadFileStream::Write(const void* /*buffer*/, std::size_t /*count*/) { return 0; }

std::int64_t HeadFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    pos_ = ClampPosition(SeekBase(origin, pos_, size_), offset);
    return pos_;
}

void HeadFileStream::SetSize(std::int64_t /*newSize*/) { throw StreamError(kStreamWriteError); }

std::uint8_t ReadStreamByte(Stream& stream) {
    std::uint8_t b = 0;
    stream.ReadBuffer(&b, 1);
    return b;
}

bool TryReadStreamWord(Stream& stream, TEndianness endianness, std::uint16_t& value) {
    std::uint8_t b[2];
    if (stream.Read(b, 2) != 2) {
        return false;
    }
    value = FromBytes16(b, endianness);
    return true;
}

std::uint16_t ReadStreamWord(Stream& stream, TEndianness endianness) {
    std::uint8_t b[2];
    stream.ReadBuffer(b, 2);
    return FromBytes16(b, endianness);
}

std::int16_t ReadStreamSmallInt(Stream& stream, TEndianness endianness) {
    return static_cast<std::int16_t>(ReadStreamWord(stream, endianness));
}

bool TryReadStreamLongWord(Stream& stream, TEndianness endianness, std::uint32_t& value) {
    std::uint8_t b[4];
    if (stream.Read(b, 4) != 4) {
        return false;
    }
    value = FromBytes32(b, endianness);
    return true;
}

bool TryReadStreamLongInt(Stream& stream, TEndianness endianness, std::int32_t& value) {
    std::uint32_t v = 0;
    if (!TryReadStreamLongWord(stream, endianness, v)) {
        return false;
    }
    value = static_cast<std::int32_t>(v);
    return true;
}

std::uint32_t ReadStreamLongWord(Stream& stream, TEndianness endianness) {
    std::uint8_t b[4];
    stream.ReadBuffer(b, 4);
    return FromBytes32(b, endianness);
}

std::int32_t ReadStreamLongInt(Stream& stream, TEndianness endianness) {
    return static_cast<std::int32_t>(ReadStreamLongWord(stream, endianness));
}

double ReadStreamDouble(Stream& stream, TEndianness endianness) {
    std::uint8_t b[8];
    stream.ReadBuffer(b, 8);
    if (endianness == BigEndian) {
        std::reverse(std::begin(b), std::end(b));
    }
    double d = 0;
    std::memcpy(&d, b, 8);
    return d;
}

bool TryReadStreamHeader(Stream& stream, std::span<const std::uint8_t> header) {
    std::uint8_t buf[255];
    const std::size_t len = std::min<std::size_t>(header.size(), sizeof buf);
    const std::size_t n = stream.Read(buf, len);
    if (n == len && std::equal(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(len), buf)) {
        return true;
    }
    stream.Seek(-static_cast<std::int64_t>(n), SeekOrigin::soCurrent);
    return false;
}

void WriteStreamByte(Stream& stream, std::uint8_t value) { stream.WriteBuffer(&value, 1); }

void WriteStreamWord(Stream& stream, std::uint16_t value, TEndianness endianness) {
    if (endianness == BigEndian) value = Swap16(value);
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value & 0xFFU),
                               static_cast<std::uint8_t>(value >> 8U)};
    stream.WriteBuffer(b, 2);
}

void WriteStreamLongWord(Stream& stream, std::uint32_t value, TEndianness endianness) {
    if (endianness == BigEndian) value = Swap32(value);
    const std::uint8_t b[4] = {
        static_cast<std::uint8_t>(value & 0xFFU), static_cast<std::uint8_t>((value >> 8U) & 0xFFU),
        static_cast<std::uint8_t>((value >> 16U) & 0xFFU), static_cast<std::uint8_t>(value >> 24U)};
    stream.WriteBuffer(b, 4);
}

void WriteStreamLongInt(Stream& stream, std::int32_t value, TEndianness endianness) {
    WriteStreamLongWord(stream, static_cast<std::uint32_t>(value), endianness);
}

void WriteStreamDouble(Stream& stream, double value, TEndianness endianness) {
    std::uint8_t b[8];
    std::memcpy(b, &value, 8);
    if (endianness == BigEndian) {
        std::reverse(std::begin(b), std::end(b));
    }
    stream.WriteBuffer(b, 8);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::fmOpenRead);
    return file.ReadToEnd();
}

}  // namespace zeloro
