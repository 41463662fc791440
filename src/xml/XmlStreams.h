// src/xml/XmlStreams.h: the paged read buffer and the decoding stream that hands the XML loader UTF-8 bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/Error.h"
#include "common/FileDescriptor.h"

namespace zeloro {

enum class TStringEncodingType : std::uint8_t {
    seAnsi,
    seUCS4BE,
    seUCS4LE,
    seUCS4_2143,
    seUCS4_3412,
    se16BitBE,
    se16BitLE,
    seUTF8,
    seUTF16BE,
    seUTF16LE,
    seEBCDIC
};

enum class TxrStreamModeType : std::uint8_t { umUnknown, umRead, umWrite };

enum class XmlSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

inline constexpr const char* kUnsupportedEncoding = "Unsupported string encoding";
inline constexpr const char* kEncodingStreamUnassigned = "Encoding stream unassigned";
inline constexpr const char* kCannotReadFromWriteStream =
    "Cannot read from a conversion stream opened for writing";
inline constexpr const char* kCannotReadMultipleChars =
    "Cannot read multiple chars from conversion stream at once";
inline constexpr const char* kCannotSeekBeforeReading =
    "Cannot seek before reading or writing in conversion stream";
inline constexpr const char* kCannotSeekCodec = "Cannot perform seek on codec stream";
inline constexpr const char* kCannotWriteReadStream = "Cannot write to an UTF stream opened for reading";

// A byte source the loader reads from. Positions and sizes are byte counts from the start.
class XmlStream {
public:
    XmlStream() = default;
    XmlStream(const XmlStream&) = delete;
    XmlStream& operator=(const XmlStream&) = delete;
    virtual ~XmlStream() = default;
    // Up to count bytes into buffer; fewer only at the end of the data. Throws StreamError on an I/O error.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, XmlSeekOrigin origin) = 0;
    [[nodiscard]] virtual std::int64_t Size() = 0;
    [[nodiscard]] std::int64_t Position() { return Seek(0, XmlSeekOrigin::soCurrent); }
};

inline constexpr const char* kNotARegularFile = "Keine reguläre Datei";

// Reads a file opened read-only; the descriptor is closed with the object.
class XmlFileStream final : public XmlStream {
public:
    // Throws FileError "Datei %s kann nicht geöffnet werden. %s" (full path, system error text, or
    // kNotARegularFile for a FIFO, device or socket, which are never read).
    explicit XmlFileStream(const std::string& path);
    std::size_t Read(void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, XmlSeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return size_; }

private:
    FileDescriptor fd_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

// A read-only view of bytes the caller keeps alive.
class XmlBytesStream final : public XmlStream {
public:
    explicit XmlBytesStream(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}
    std::size_t Read(void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, XmlSeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// For the runs of plain bytes the loader takes at once: a bit that every byte ending any run has (zero
// and the bytes from 0x80 on), and one bit of its own for each byte the loader stops a run at.
struct RunEndTable {
    std::array<std::uint8_t, 256> bits{};
    constexpr RunEndTable() {
        for (std::size_t b = 0x80; b < bits.size(); ++b) {
            bits[b] = 1;
        }
        bits[0] = 1;
        std::uint8_t bit = 2;
        for (const char stop : {'"', '\'', '<', '>', '-', ']', '?'}) {
            bits[static_cast<unsigned char>(stop)] = bit;
            bit = static_cast<std::uint8_t>(bit << 1U);
        }
    }
};
inline constexpr RunEndTable kRunEnds{};
inline constexpr std::uint8_t kAlwaysEnds = 1;
inline constexpr std::uint8_t kStopBits = 0xFE;

// Serves reads from one 64 KiB page of the underlying stream, so that the byte-wise reading of the
// decoder costs one underlying read per page.
class TxrBufferedReadStream final : public XmlStream {
public:
    static constexpr std::size_t kPageSize = 65536;
    // With owned set the underlying stream is destroyed with this object.
    TxrBufferedReadStream(XmlStream* stream, bool owned);
    ~TxrBufferedReadStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, XmlSeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return size_; }
    // Always throws StreamError: this stream only reads.
    [[noreturn]] void Write(const void* buffer, std::size_t count) const;

    // The byte at the current position; false at the end of the data.
    bool ReadByte(std::uint8_t& byte) {
        if (page_ >= 0 && bufPos_ < bufSize_) {
            byte = buffer_[bufPos_++];
            ++position_;
            return true;
        }
        return ReadByteSlow(byte);
    }
    [[nodiscard]] std::int64_t Pos() const noexcept { return position_; }
    // Appends the bytes from the current position within the page held that are below 0x80, not zero
    // and none of the stop bytes; returns how many.
    std::size_t TakeAsciiRun(std::string& out, char stop1, char stop2, char stop3) {
        if (page_ < 0 || bufPos_ >= bufSize_) {
            return 0;
        }
        const std::uint8_t* begin = buffer_.get() + bufPos_;
        const std::uint8_t* end = buffer_.get() + bufSize_;
        const auto s1 = static_cast<std::uint8_t>(stop1);
        const auto s2 = static_cast<std::uint8_t>(stop2);
        const auto s3 = static_cast<std::uint8_t>(stop3);
        const std::uint8_t* at = begin;
        const std::uint8_t b1 = kRunEnds.bits[s1];
        const std::uint8_t b2 = kRunEnds.bits[s2];
        const std::uint8_t b3 = kRunEnds.bits[s3];
        if ((b1 & kStopBits) != 0 && (b2 & kStopBits) != 0 && (b3 & kStopBits) != 0) {
            // Stop bytes the table knows: one look-up per byte.
            const auto mask = static_cast<std::uint8_t>(b1 | b2 | b3 | kAlwaysEnds);
            while (at < end && (kRunEnds.bits[*at] & mask) == 0) {
                ++at;
            }
        } else {
            while (at < end) {
                const std::uint8_t b = *at;
                if (b >= 0x80 || b == 0 || b == s1 || b == s2 || b == s3) {
                    break;
                }
                ++at;
            }
        }
        const auto n = static_cast<std::size_t>(at - begin);
        out.append(reinterpret_cast<const char*>(begin), n);
        bufPos_ += n;
        position_ += static_cast<std::int64_t>(n);
        return n;
    }
    // Consumes the byte at the current position only when it is held in the page and below 0x80.
    bool ReadAsciiByte(std::uint8_t& byte) noexcept {
        if (page_ >= 0 && bufPos_ < bufSize_ && buffer_[bufPos_] < 0x80) {
            byte = buffer_[bufPos_++];
            ++position_;
            return true;
        }
        return false;
    }

private:
    bool ReadByteSlow(std::uint8_t& byte);
    void LoadPageOfPosition();

    XmlStream* stream_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::int64_t page_ = -1;
    std::size_t bufPos_ = 0;
    std::size_t bufSize_ = 0;
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
    bool owned_;
    bool mustCheck_ = false;
};

// Detects the encoding of its input on the first read and hands out the text as UTF-8, one byte per read.
// A zero byte, decoded or missing at the end, reads as the end of the data.
class TxrUtf8Stream {
public:
    // The stream is borrowed; a null stream makes the first read throw "Encoding stream unassigned".
    explicit TxrUtf8Stream(TxrBufferedReadStream* stream) noexcept : stream_(stream) {}

    // The next UTF-8 byte; false at the end of the data or at a zero byte.
    bool ReadChar(char& out) {
        if (bufferPos_ < bufferLen_) {
            out = buffer_[bufferPos_++];
            return out != 0;
        }
        // An ASCII byte is one source character of one byte in both 8-bit and UTF-8 text: the common
        // case, served here without the general decoder.
        std::uint8_t b = 0;
        if (asciiFast_) {
            const std::int64_t at = stream_->Pos();
            if (stream_->ReadAsciiByte(b)) {
                posMin2_ = posMin1_;
                posMin1_ = at;
                buffer_[0] = static_cast<char>(b);
                bufferLen_ = 1;
                bufferPos_ = 1;
                out = static_cast<char>(b);
                return b != 0;
            }
        }
        return ReadCharSlow(out);
    }
    // Appends the run of ASCII bytes that follows, up to (not including) the first byte that is not
    // ASCII, is zero or is one of the stop bytes, as far as the page held reaches; returns its length.
    // The effect is that of reading the bytes one by one with ReadChar; the stop byte is left unread.
    std::size_t ReadAsciiRun(std::string& out, char stop1, char stop2, char stop3) {
        if (!asciiFast_ || bufferPos_ < bufferLen_) {
            return 0;
        }
        const std::size_t n = stream_->TakeAsciiRun(out, stop1, stop2, stop3);
        if (n > 0) {
            const std::int64_t end = stream_->Pos();
            posMin2_ = n >= 2 ? end - 2 : posMin1_;
            posMin1_ = end - 1;
            buffer_[0] = out.back();
            bufferLen_ = 1;
            bufferPos_ = 1;
        }
        return n;
    }
    // Byte-count form: count must be 1 (StreamError otherwise); returns 1 or 0 at the end of the data.
    std::size_t Read(void* buffer, std::size_t count);
    // 0/-1/-2 source characters from the current position, 0 from the end; absolute positions are
    // ignored. Anything else throws StreamError, as does any call before the first read.
    std::int64_t Seek(std::int64_t offset, XmlSeekOrigin origin);
    void StepBack(int characters) { Seek(-characters, XmlSeekOrigin::soCurrent); }

    [[nodiscard]] std::int64_t Position() const { return stream_ != nullptr ? stream_->Pos() : 0; }
    [[nodiscard]] std::int64_t Size() const { return stream_ != nullptr ? stream_->Size() : 0; }
    [[nodiscard]] TStringEncodingType Encoding() const noexcept { return encoding_; }
    // Takes effect with the next source character.
    void SetEncoding(TStringEncodingType encoding) noexcept {
        encoding_ = encoding;
        UpdateFastPath();
    }
    [[nodiscard]] TxrStreamModeType Mode() const noexcept { return mode_; }
    [[nodiscard]] bool WriteBom() const noexcept { return writeBom_; }
    // Whether the byte read last was the first UTF-8 byte of its source character.
    [[nodiscard]] bool LastByteStartedCharacter() const noexcept { return bufferPos_ == 1; }

private:
    bool ReadCharSlow(char& out);
    void UpdateFastPath() noexcept {
        asciiFast_ = mode_ == TxrStreamModeType::umRead &&
                     (encoding_ == TStringEncodingType::seUTF8 || encoding_ == TStringEncodingType::seAnsi);
    }
    void DetectEncoding();
    void ReadNextSourceCharacter();
    std::uint8_t NextSourceByte();

    std::array<char, 8> buffer_{};
    std::size_t bufferPos_ = 0;
    std::size_t bufferLen_ = 0;
    TStringEncodingType encoding_ = TStringEncodingType::seUTF8;
    TxrStreamModeType mode_ = TxrStreamModeType::umUnknown;
    std::int64_t posMin1_ = 0;
    std::int64_t posMin2_ = 0;
    TxrBufferedReadStream* stream_;
    bool swapByteOrder_ = false;
    bool writeBom_ = false;
    bool asciiFast_ = false;
};

}  // namespace zeloro
