// src/metadata/Streams.h: the seekable byte streams of the metadata subsystem and the typed
// reads and writes in either byte order that the segment, TIFF, XMP and IPTC layers share.
//
// Streams: `Stream` is the abstract, seekable stream. `MemoryStream` owns a growable buffer (Memory()
// gives the bytes in place), `ReadOnlyMemoryStream` borrows bytes it never copies, `FileStream` reads or
// writes a file through a file descriptor, and `HeadFileStream` reads a file through a small window so that
// a segment walk touches only the head of a photo. Everything that loads metadata also has an overload on a
// byte span, which is the fast road; streams are for the walks that seek.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Error.h"
#include "common/FileDescriptor.h"

namespace zeloro {

// SmallEndian: little-endian, TIFF mark "II"; BigEndian: "MM". Tag values are held little-endian in memory.
enum TEndianness : std::uint8_t { SmallEndian = 0, BigEndian = 1 };

enum class SeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

class Stream {
public:
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    virtual ~Stream() = default;

    // Reads up to count bytes at the position; returns how many were read (0 at the end).
    [[nodiscard]] virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes count bytes at the position, growing the stream; returns how many were written.
    [[nodiscard]] virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Returns the new position. A position before 0 is clamped to 0; beyond the end is allowed.
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    [[nodiscard]] virtual std::int64_t Size() = 0;
    // Cuts or extends (with zero bytes) the stream; the position stays unless it lies beyond the new end.
    virtual void SetSize(std::int64_t newSize) = 0;

    [[nodiscard]] std::int64_t Position() { return Seek(0, SeekOrigin::soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, SeekOrigin::soBeginning); }

    // Exactly count bytes or StreamError "Stream-Lesefehler" / "Stream-Schreibfehler".
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);
    void WriteBytes(std::span<const std::uint8_t> bytes) { WriteBuffer(bytes.data(), bytes.size()); }
    // Copies count bytes from source's position; count 0 copies the whole source from position 0.
    // Returns the bytes copied; a short source fails with the read error.
    std::int64_t CopyFrom(Stream& source, std::int64_t count);
    // The bytes from the position to the end.
    [[nodiscard]] std::vector<std::uint8_t> ReadToEnd();
};

class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}
    explicit MemoryStream(std::span<const std::uint8_t> bytes) : data_(bytes.begin(), bytes.end()) {}

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t newSize) override;

    void Clear() noexcept {
        data_.clear();
        pos_ = 0;
    }
    [[nodiscard]] const std::uint8_t* Memory() const noexcept { return data_.data(); }
    [[nodiscard]] std::uint8_t* Memory() noexcept { return data_.data(); }
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept { return data_; }
    [[nodiscard]] std::vector<std::uint8_t>& Buffer() noexcept { return data_; }
    [[nodiscard]] std::vector<std::uint8_t> TakeBytes() noexcept {
        pos_ = 0;
        return std::move(data_);
    }

private:
    std::vector<std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// Borrows the bytes: they must outlive the stream. Writes fail (return 0).
class ReadOnlyMemoryStream : public Stream {
public:
    explicit ReadOnlyMemoryStream(std::span<const std::uint8_t> bytes) noexcept : data_(bytes) {}
    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t newSize) override;
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept { return data_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// A file opened through a descriptor it owns. Open failures raise FileError
// "Datei %s kann nicht geöffnet werden. %s" with the path and the system's error text.
class FileStream : public Stream {
public:
    enum class Mode : std::uint8_t { fmOpenRead, fmCreate };
    FileStream(const std::string& path, Mode mode);
    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override;
    void SetSize(std::int64_t newSize) override;

private:
    FileDescriptor fd_;
    std::int64_t pos_ = 0;
};

// Read-only file stream that serves reads from one window of the file, refilled by a positioned read
// only when a read leaves it. Seeks cost nothing, so skipping a segment's payload reads none of it.
// BytesRead() tells how many bytes were actually fetched from the file.
class HeadFileStream : public Stream {
public:
    explicit HeadFileStream(const std::string& path, std::size_t windowSize = 64 * 1024);
    // On a file already opened; its size is taken from the descriptor (0 when it cannot be).
    explicit HeadFileStream(FileDescriptor file, std::size_t windowSize = 64 * 1024);
    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return size_; }
    void SetSize(std::int64_t newSize) override;
    [[nodiscard]] std::int64_t BytesRead() const noexcept { return bytesRead_; }

private:
    FileDescriptor fd_;
    std::int64_t size_ = 0;
    std::int64_t pos_ = 0;
    std::vector<std::uint8_t> window_;
    std::int64_t windowStart_ = 0;
    std::size_t windowFill_ = 0;
    std::int64_t bytesRead_ = 0;
};

// Typed reads and writes. The plain reads raise "Stream-Lesefehler" on a short read, the try forms return
// false instead; writes raise "Stream-Schreibfehler".
[[nodiscard]] std::uint8_t ReadStreamByte(Stream& stream);
[[nodiscard]] bool TryReadStreamWord(Stream& stream, TEndianness endianness, std::uint16_t& value);
[[nodiscard]] std::uint16_t ReadStreamWord(Stream& stream, TEndianness endianness);
[[nodiscard]] std::int16_t ReadStreamSmallInt(Stream& stream, TEndianness endianness);
[[nodiscard]] bool TryReadStreamLongInt(Stream& stream, TEndianness endianness, std::int32_t& value);
[[nodiscard]] std::int32_t ReadStreamLongInt(Stream& stream, TEndianness endianness);
[[nodiscard]] bool TryReadStreamLongWord(Stream& stream, TEndianness endianness, std::uint32_t& value);
[[nodiscard]] std::uint32_t ReadStreamLongWord(Stream& stream, TEndianness endianness);
[[nodiscard]] double ReadStreamDouble(Stream& stream, TEndianness endianness);
// Consumes the header only when all of it is there and equal; otherwise moves back by what was read.
[[nodiscard]] bool TryReadStreamHeader(Stream& stream, std::span<const std::uint8_t> header);
void WriteStreamByte(Stream& stream, std::uint8_t value);
void WriteStreamWord(Stream& stream, std::uint16_t value, TEndianness endianness);
void WriteStreamLongInt(Stream& stream, std::int32_t value, TEndianness endianness);
void WriteStreamLongWord(Stream& stream, std::uint32_t value, TEndianness endianness);
void WriteStreamDouble(Stream& stream, double value, TEndianness endianness);

// Whole file into memory (FileError on failure); used by saves that rewrite a photo.
[[nodiscard]] std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

}  // namespace zeloro
