// src/media/SourceStream.h: a stretch of a ByteSource as a read-only metadata Stream, so the TIFF reader
// can walk an EXIF block that lies inside a RAW file, a box or an embedded JPEG without copying it.
#pragma once
#include <cstdint>
#include <vector>

#include "media/ByteSource.h"
#include "metadata/Streams.h"

namespace zeloro {

// Position 0 is the stretch's first byte; reads stop at its end. Small reads are served from a window
// refilled only when a read leaves it, since the TIFF reader reads word by word. Writes fail.
class SourceStream final : public Stream {
public:
    // begin and length must lie within the source (the caller checked them against its size).
    SourceStream(const ByteSource& source, std::uint64_t begin, std::uint64_t length);

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(length_); }
    void SetSize(std::int64_t newSize) override;

private:
    const ByteSource& source_;
    std::uint64_t begin_;
    std::uint64_t length_;
    std::uint64_t pos_ = 0;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
};

}  // namespace zeloro
