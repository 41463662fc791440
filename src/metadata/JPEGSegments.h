// src/metadata/JPEGSegments.h: walks the marker segments at the head of a JPEG stream, writes segments
// and copies a JPEG stream without chosen segments. Knows nothing of EXIF, XMP or IPTC contents.
#pragma once
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>

#include "common/Error.h"
#include "metadata/Streams.h"
#include "metadata/VelExifException.h"

namespace zeloro {

// The graphics layer's invalid-graphic error.
class EInvalidGraphic : public Error {
public:
    using Error::Error;
};

// "JPEG header is not valid"
class EInvalidJPEGHeader : public EInvalidGraphic {
public:
    EInvalidJPEGHeader() : EInvalidGraphic(kMessage) {}
    // The same error, for a report that names the photo: "<photo>: JPEG header is not valid".
    explicit EInvalidJPEGHeader(const std::string& photo) : EInvalidGraphic(photo + ": " + kMessage) {}
    static constexpr const char* kMessage = "JPEG header is not valid";
};

// A metadata segment whose payload would not fit the 16-bit length field; refused instead of being
// written with a wrong length.
class SegmentTooLarge : public EVelExifException {
public:
    explicit SegmentTooLarge(std::size_t payloadSize);
};

inline constexpr std::uint8_t jmTEM = 0x01;
inline constexpr std::uint8_t jmSOF0 = 0xC0;
inline constexpr std::uint8_t jmRST0 = 0xD0;
inline constexpr std::uint8_t jmSOI = 0xD8;
inline constexpr std::uint8_t jmEOI = 0xD9;
inline constexpr std::uint8_t jmSOS = 0xDA;
inline constexpr std::uint8_t jmApp0 = 0xE0;
inline constexpr std::uint8_t jmApp1 = 0xE1;
inline constexpr std::uint8_t jmApp13 = 0xED;
// The most payload bytes a 16-bit length field (which counts itself) can describe.
inline constexpr std::size_t kMaxSegmentPayload = 65533;

// A set of marker values, one bit per byte value.
class TJPEGMarkers {
public:
    TJPEGMarkers() = default;
    TJPEGMarkers(std::initializer_list<std::uint8_t> markers) {
        for (const std::uint8_t m : markers) bits_.set(m);
    }
    static TJPEGMarkers Range(std::uint8_t first, std::uint8_t last) {
        TJPEGMarkers r;
        for (unsigned m = first; m <= last; ++m) r.bits_.set(m);
        return r;
    }
    [[nodiscard]] bool Contains(std::uint8_t m) const noexcept { return bits_.test(m); }
    void Include(std::uint8_t m) noexcept { bits_.set(m); }
    void Exclude(std::uint8_t m) noexcept { bits_.reset(m); }
    [[nodiscard]] bool Empty() const noexcept { return bits_.none(); }
    friend bool operator==(const TJPEGMarkers&, const TJPEGMarkers&) = default;

private:
    std::bitset<256> bits_;
};

enum TStreamOwnership : std::uint8_t { soReference = 0, soOwned = 1 };

// 0x00, 0x01 and RST0..EOI have no length field and no payload.
[[nodiscard]] constexpr bool IsLengthlessMarker(std::uint8_t m) noexcept {
    return m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD9);
}

// A segment: a marker and its payload (no 0xFF, no marker byte, no length field).
class TUserJPEGSegment {
public:
    explicit TUserJPEGSegment(std::uint8_t marker = 0);
    TUserJPEGSegment(std::uint8_t marker, std::span<const std::uint8_t> payload);
    virtual ~TUserJPEGSegment() = default;
    TUserJPEGSegment(const TUserJPEGSegment&) = delete;
    TUserJPEGSegment& operator=(const TUserJPEGSegment&) = delete;

    // The payload, positioned at 0 after creation.
    [[nodiscard]] MemoryStream& Data() noexcept { return data_; }
    [[nodiscard]] std::span<const std::uint8_t> Payload() const noexcept { return data_.Bytes(); }
    [[nodiscard]] std::uint8_t MarkerNum() const noexcept { return marker_; }
    // True for an APP13 payload of at least 20 bytes that begins with "Photoshop 3.0\0" (header 14) or
    // "Adobe_Photoshop2.5:" (header 19); sets AdobeHeaderSize() (0 when false).
    bool HasAdobeHeader();
    [[nodiscard]] std::int32_t AdobeHeaderSize() const noexcept { return adobeHeaderSize_; }

protected:
    std::int32_t adobeHeaderSize_ = 0;
    MemoryStream data_;
    std::uint8_t marker_;
};

// A segment found by a walk; its payload is a copy, independent of the parser and the stream.
class TFoundJPEGSegment : public TUserJPEGSegment {
public:
    TFoundJPEGSegment(std::uint8_t marker, std::int64_t offset) : TUserJPEGSegment(marker), offset_(offset) {}
    // Position of the 0xFF right before the marker byte (fill bytes before it are not counted).
    [[nodiscard]] std::int64_t MarkerOffset() const noexcept { return offset_; }
    // MarkerOffset + 4; for length-less markers this lies after the segment.
    [[nodiscard]] std::int64_t PayloadOffset() const noexcept { return offset_ + 4; }
    // Payload size + 4, or 2 for a length-less marker. Wide, so that payloads of 65532 and 65533 bytes
    // report their true size.
    [[nodiscard]] std::int64_t TotalSize() const noexcept;

private:
    std::int64_t offset_;
};

using IJPEGSegment = std::shared_ptr<TUserJPEGSegment>;
using IFoundJPEGSegment = std::shared_ptr<TFoundJPEGSegment>;

// Walks the segments of one JPEG stream; `for (auto& seg : *parser)` drives MoveNext.
class TJPEGHeaderParser {
public:
    // Checks for 0xFF 0xD8 at the stream position (EInvalidJPEGHeader otherwise).
    TJPEGHeaderParser(Stream& stream, const TJPEGMarkers& markersToLookFor);
    TJPEGHeaderParser(std::unique_ptr<Stream> ownedStream, const TJPEGMarkers& markersToLookFor);
    TJPEGHeaderParser(const TJPEGHeaderParser&) = delete;
    TJPEGHeaderParser& operator=(const TJPEGHeaderParser&) = delete;
    ~TJPEGHeaderParser();

    // True when a segment with a wanted marker was found; false once the walk has ended. A stream that
    // ends inside a marker, length or payload raises "Stream-Lesefehler" and the parser keeps its state.
    bool MoveNext();
    [[nodiscard]] const IFoundJPEGSegment& Current() const noexcept { return current_; }
    [[nodiscard]] std::uint8_t LastMarker() const noexcept { return lastMarker_; }

    class Iterator {
    public:
        Iterator() = default;
        explicit Iterator(TJPEGHeaderParser* p) : parser_(p) { Advance(); }
        const IFoundJPEGSegment& operator*() const noexcept { return parser_->Current(); }
        Iterator& operator++() {
            Advance();
            return *this;
        }
        bool operator==(const Iterator& o) const noexcept { return parser_ == o.parser_; }

    private:
        void Advance() {
            if (parser_ != nullptr && !parser_->MoveNext()) parser_ = nullptr;
        }
        TJPEGHeaderParser* parser_ = nullptr;
    };
    Iterator begin() { return Iterator(this); }
    Iterator end() { return Iterator(); }

private:
    void Start();
    void ReleaseStream() noexcept;
    bool ScanForEOI();

    IFoundJPEGSegment current_;
    std::uint8_t lastMarker_ = 0;
    TJPEGMarkers markersToLookFor_;
    std::int64_t savedPos_ = 0;
    std::int64_t startPos_ = 0;
    Stream* stream_ = nullptr;
    std::unique_ptr<Stream> owned_;
    TStreamOwnership ownership_ = soReference;
    bool ended_ = false;
};

using IJPEGHeaderParser = std::shared_ptr<TJPEGHeaderParser>;

[[nodiscard]] IJPEGHeaderParser ParseJPEGSegments(Stream& stream, const TJPEGMarkers& markers);
[[nodiscard]] IJPEGHeaderParser ParseJPEGSegments(std::unique_ptr<Stream> stream,
                                                  const TJPEGMarkers& markers);
// Over the bytes in place (no copy): they must outlive the parser.
[[nodiscard]] IJPEGHeaderParser ParseJPEGSegments(std::span<const std::uint8_t> jpeg,
                                                  const TJPEGMarkers& markers);

// True when the next two bytes are 0xFF 0xD8; the position is unchanged either way.
[[nodiscard]] bool StartsWithJPEGHeader(Stream& stream);
// Bytes from the position up to and including the first EOI after the image data, or to the end of the
// stream when there is none. The position is restored.
[[nodiscard]] std::int64_t MeasureJPEGData(Stream& stream);
[[nodiscard]] std::int64_t MeasureJPEGData(std::span<const std::uint8_t> jpeg);

// 0xFF, marker, big-endian count + 2, then count payload bytes. Payloads above 65533 bytes raise
// SegmentTooLarge before anything is written.
void WriteSegment(Stream& stream, std::uint8_t marker, const void* buffer, std::size_t count);
// count 0: the whole source from position 0; otherwise count bytes from the source's position.
void WriteSegment(Stream& stream, std::uint8_t marker, Stream& source, std::size_t count);
void WriteSegment(Stream& stream, TUserJPEGSegment& segment);

// Copies input from its position to output without the segments whose marker is in markers;
// returns the markers actually removed.
TJPEGMarkers StripJPEGSegments(Stream& input, Stream& output, const TJPEGMarkers& markers);

// Big-endian fields of an SOFn payload (byte 0 is the sample precision); the payload has more than 5 bytes.
[[nodiscard]] inline std::uint16_t SOFImageHeight(std::span<const std::uint8_t> payload) noexcept {
    return static_cast<std::uint16_t>(payload[1] * 256 + payload[2]);
}
[[nodiscard]] inline std::uint16_t SOFImageWidth(std::span<const std::uint8_t> payload) noexcept {
    return static_cast<std::uint16_t>(payload[3] * 256 + payload[4]);
}

}  // namespace zeloro
