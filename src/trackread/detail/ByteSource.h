// src/trackread/detail/ByteSource.h: where a reader's bytes come from: a stream, or an entry of an
// archive, read piece by piece.
#pragma once
#include <cstddef>
#include <istream>

namespace zeloro::trackread {

class ByteSource {
public:
    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    virtual ~ByteSource() = default;
    // Up to size bytes into buffer; 0 at the end. Throws TrackFormatError when the bytes cannot be read.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

class StreamSource final : public ByteSource {
public:
    explicit StreamSource(std::istream& in) noexcept : in_(in) {}
    std::size_t Read(char* buffer, std::size_t size) override;

private:
    std::istream& in_;
};

}  // namespace zeloro::trackread
