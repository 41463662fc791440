// src/metadata/JPEGSegments.cpp: the segment walk, the EOI scan, segment writing and stripping.
#include "metadata/JPEGSegments.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zeloro {

namespace {

constexpr std::array<std::uint8_t, 14> kAdobeHeader3{'P', 'h', 'o', 't', 'o', 's', 'h',
                                                     'o', 'p', ' ', '3', '.', '0', 0};
constexpr std::array<std::uint8_t, 19> kAdobeHeader25{'A', 'd', 'o', 'b', 'e', '_', 'P', 'h', 'o', 't',
                                                      'o', 's', 'h', 'o', 'p', '2', '.', '5', ':'};

template <std::size_t N>
bool StartsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& prefix) {
    return bytes.size() >= N && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

// Reaches the user as the reason a photo was not saved, so it is German like every text the user reads.
SegmentTooLarge::SegmentTooLarge(std::size_t payloadSize)
    : EVelExifException("Die Metadaten passen nicht in ein JPEG-Segment: " + std::to_string(payloadSize) +
                        " Bytes, höchstens 65533 sind möglich") {}

TUserJPEGSegment::TUserJPEGSegment(std::uint8_t marker) : marker_(marker) {}

TUserJPEGSegment::TUserJPEGSegment(std::uint8_t marker, std::span<const std::uint8_t> payload)
    : data_(payload), marker_(marker) {}

bool TUserJPEGSegment::HasAdobeHeader() {
    adobeHeaderSize_ = 0;
    const auto payload = Payload();
    if (marker_ != jmApp13 || payload.size() < 20) {
        return false;
    }
    if (StartsWith(payload, kAdobeHeader3)) {
        adobeHeaderSize_ = static_cast<std::int32_t>(kAdobeHeader3.size());
    } else if (StartsWith(payload, kAdobeHeader25)) {
        adobeHeaderSize_ = static_cast<std::int32_t>(kAdobeHeader25.size());
    }
    return adobeHeaderSize_ != 0;
}

std::int64_t TFoundJPEGSegment::TotalSize() const noexcept {
    if (IsLengthlessMarker(marker_)) {
        return 2;
    }
    return static_cast<std::int64_t>(data_.Bytes().size()) + 4;
}

TJPEGHeaderParser::TJPEGHeaderParser(Stream& stream, const TJPEGMarkers& markersToLookFor)
    : markersToLookFor_(markersToLookFor), stream_(&stream) {
    Start();
}

TJPEGHeaderParser::TJPEGHeaderParser(std::unique_ptr<Stream> ownedStream,
                                     const TJPEGMarkers& markersToLookFor)
    : markersToLookFor_(markersToLookFor),
      stream_(ownedStream.get()),
      owned_(std::move(ownedStream)),
      ownership_(soOwned) {
    Start();  // on failure the owned stream is released with this half-built object
}

TJPEGHeaderParser::~TJPEGHeaderParser() = default;

void TJPEGHeaderParser::Start() {
    startPos_ = stream_->Position();
    std::uint8_t soi[2] = {0, 0};
    if (stream_->Read(soi, 2) != 2 || soi[0] != 0xFF || soi[1] != jmSOI) {
        throw EInvalidJPEGHeader();
    }
    savedPos_ = startPos_ + 2;
}

void TJPEGHeaderParser::ReleaseStream() noexcept {
    stream_ = nullptr;
    owned_.reset();
}

bool TJPEGHeaderParser::MoveNext() {
    current_.reset();
    if (stream_ == nullptr || lastMarker_ == jmEOI || ended_) {
        return false;
    }
    Stream& s = *stream_;
    s.SetPosition(savedPos_);
    // A stream that ends where a segment could begin ends the walk; one that ends inside a marker, a
    // length or a payload is a read error.
    std::uint8_t b = 0;
    bool have = s.Read(&b, 1) == 1;
    while (have && b == 0xFF) {
        do {
            b = ReadStreamByte(s);
        } while (b == 0xFF);
        const std::uint8_t marker = b;
        lastMarker_ = marker;
        std::uint16_t payloadSize = 0;
        const bool lengthless = IsLengthlessMarker(marker);
        if (!lengthless) {
            // The length counts itself; a damaged field of 0 or 1 wraps and the read or skip decides.
            payloadSize = static_cast<std::uint16_t>(ReadStreamWord(s, BigEndian) - 2U);
        }
        if (markersToLookFor_.Contains(marker)) {
            const std::int64_t pos = s.Position();
            auto seg = std::make_shared<TFoundJPEGSegment>(marker, pos - (lengthless ? 2 : 4));
            if (!lengthless && payloadSize > 0) {
                auto& buf = seg->Data().Buffer();
                buf.resize(payloadSize);
                s.ReadBuffer(buf.data(), payloadSize);
            }
            savedPos_ = s.Position();
            current_ = std::move(seg);
            return true;
        }
        if (marker == jmEOI) {
            break;
        }
        s.Seek(payloadSize, SeekOrigin::soCurrent);
        have = s.Read(&b, 1) == 1;
    }
    if (lastMarker_ == jmSOS && markersToLookFor_.Contains(jmEOI) && ScanForEOI()) {
        return true;
    }
    ended_ = true;
    if (ownership_ == soOwned) {
        ReleaseStream();
    }
    return false;
}

// The walk stopped inside the entropy-coded data. Every 0xFF there is paired with the byte after it
// (stuffing or restart markers), so the first pair FF D9 is the end of the image.
bool TJPEGHeaderParser::ScanForEOI() {
    Stream& s = *stream_;
    savedPos_ = s.Position();
    const std::int64_t size = s.Size();
    std::int64_t found = -1;
    if (auto* mem = dynamic_cast<MemoryStream*>(&s)) {
        const std::uint8_t* p = mem->Memory();
        for (std::int64_t i = savedPos_; i + 1 < size; ++i) {
            if (p[i] == 0xFF) {
                if (p[i + 1] == jmEOI) {
                    found = i;
                    break;
                }
                ++i;
            }
        }
    } else if (auto* ro = dynamic_cast<ReadOnlyMemoryStream*>(&s)) {
        const std::uint8_t* p = ro->Bytes().data();
        for (std::int64_t i = savedPos_; i + 1 < size; ++i) {
            if (p[i] == 0xFF) {
                if (p[i + 1] == jmEOI) {
                    found = i;
                    break;
                }
                ++i;
            }
        }
    } else {
        std::vector<std::uint8_t> chunk(64 * 1024);
        std::int64_t chunkPos = savedPos_;
        bool pendingFF = false;  // the previous chunk ended on an unpaired 0xFF
        while (found < 0 && chunkPos < size) {
            const std::size_t n = s.Read(chunk.data(), chunk.size());
            if (n == 0) break;
            std::size_t i = 0;
            if (pendingFF) {
                pendingFF = false;
                if (chunk[0] == jmEOI) {
                    found = chunkPos - 1;
                    break;
                }
                i = 1;
            }
            for (; i < n; ++i) {
                if (chunk[i] == 0xFF) {
                    if (i + 1 == n) {
                        pendingFF = true;
                        break;
                    }
                    if (chunk[i + 1] == jmEOI) {
                        found = chunkPos + static_cast<std::int64_t>(i);
                        break;
                    }
                    ++i;
                }
            }
            chunkPos += static_cast<std::int64_t>(n);
        }
    }
    if (found < 0) {
        s.Seek(0, SeekOrigin::soEnd);
        return false;
    }
    s.SetPosition(found + 2);
    savedPos_ = found + 2;
    current_ = std::make_shared<TFoundJPEGSegment>(jmEOI, found);
    lastMarker_ = jmEOI;
    return true;
}

IJPEGHeaderParser ParseJPEGSegments(Stream& stream, const TJPEGMarkers& markers) {
    return std::make_shared<TJPEGHeaderParser>(stream, markers);
}

IJPEGHeaderParser ParseJPEGSegments(std::unique_ptr<Stream> stream, const TJPEGMarkers& markers) {
    return std::make_shared<TJPEGHeaderParser>(std::move(stream), markers);
}

IJPEGHeaderParser ParseJPEGSegments(std::span<const std::uint8_t> jpeg, const TJPEGMarkers& markers) {
    return std::make_shared<TJPEGHeaderParser>(std::make_unique<ReadOnlyMemoryStream>(jpeg), markers);
}

bool StartsWithJPEGHeader(Stream& stream) {
    std::uint8_t b[2] = {0, 0};
    const std::size_t n = stream.Read(b, 2);
    stream.Seek(-static_cast<std::int64_t>(n), SeekOrigin::soCurrent);
    return n == 2 && b[0] == 0xFF && b[1] == jmSOI;
}

std::int64_t MeasureJPEGData(Stream& stream) {
    const std::int64_t start = stream.Position();
    std::int64_t result = stream.Size() - start;
    try {
        TJPEGHeaderParser parser(stream, TJPEGMarkers{jmEOI});
        while (parser.MoveNext()) {
            result = stream.Position() - start;
        }
    } catch (...) {
        stream.SetPosition(start);
        throw;
    }
    stream.SetPosition(start);
    return result;
}

std::int64_t MeasureJPEGData(std::span<const std::uint8_t> jpeg) {
    ReadOnlyMemoryStream s(jpeg);
    std::int64_t result = static_cast<std::int64_t>(jpeg.size());
    TJPEGHeaderParser parser(s, TJPEGMarkers{jmEOI});
    while (parser.MoveNext()) {
        result = s.Position();
    }
    return result;
}

void WriteSegment(Stream& stream, std::uint8_t marker, const void* buffer, std::size_t count) {
    if (count > kMaxSegmentPayload) {
        throw SegmentTooLarge(count);
    }
    const auto len = static_cast<std::uint16_t>(count + 2);
    const std::uint8_t header[4] = {0xFF, marker, static_cast<std::uint8_t>(len >> 8U),
                                    static_cast<std::uint8_t>(len & 0xFFU)};
    stream.WriteBuffer(header, 4);
    if (count > 0 && buffer != nullptr) {
        stream.WriteBuffer(buffer, count);
    }
}

void WriteSegment(Stream& stream, std::uint8_t marker, Stream& source, std::size_t count) {
    if (count == 0) {
        source.SetPosition(0);
        const std::int64_t size = source.Size();
        if (size > static_cast<std::int64_t>(kMaxSegmentPayload)) {
            throw SegmentTooLarge(static_cast<std::size_t>(size));
        }
        count = static_cast<std::size_t>(size);
        if (count == 0) {
            WriteSegment(stream, marker, nullptr, 0);
            return;
        }
    }
    if (count > kMaxSegmentPayload) {
        throw SegmentTooLarge(count);
    }
    if (auto* mem = dynamic_cast<MemoryStream*>(&source)) {
        const std::int64_t pos = mem->Position();
        if (mem->Size() - pos < static_cast<std::int64_t>(count)) {
            throw StreamError(kStreamReadError);
        }
        WriteSegment(stream, marker, mem->Memory() + pos, count);
        mem->Seek(static_cast<std::int64_t>(count), SeekOrigin::soCurrent);
        return;
    }
    std::vector<std::uint8_t> buf(count);
    source.ReadBuffer(buf.data(), count);
    WriteSegment(stream, marker, buf.data(), count);
}

void WriteSegment(Stream& stream, TUserJPEGSegment& segment) {
    WriteSegment(stream, segment.MarkerNum(), segment.Data(), 0);
}

TJPEGMarkers StripJPEGSegments(Stream& input, Stream& output, const TJPEGMarkers& markers) {
    TJPEGMarkers removed;
    std::int64_t pos = input.Position();
    TJPEGHeaderParser parser(input, markers);
    while (parser.MoveNext()) {
        const IFoundJPEGSegment& seg = parser.Current();
        removed.Include(seg->MarkerNum());
        if (seg->MarkerOffset() != pos) {
            input.SetPosition(pos);
            output.CopyFrom(input, seg->MarkerOffset() - pos);
        }
        pos = seg->MarkerOffset() + seg->TotalSize();
    }
    input.SetPosition(pos);
    const std::int64_t rest = input.Size() - pos;
    if (rest > 0) {
        output.CopyFrom(input, rest);
    }
    return removed;
}

}  // namespace zeloro
