// src/media/SourceStream.cpp: windowed reads of a stretch of a ByteSource.
#include "media/SourceStream.h"

#include <algorithm>
#include <cstring>

namespace zeloro {

namespace {

constexpr std::uint64_t kWindowSize = 4096;

}  // namespace

SourceStream::SourceStream(const ByteSource& source, std::uint64_t begin, std::uint64_t length)
    : source_(source), begin_(begin), length_(length) {}

std::size_t SourceStream::Read(void* buffer, std::size_t count) {
    if (pos_ >= length_) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, length_ - pos_));
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (n > kWindowSize) {
        source_.ReadAt(begin_ + pos_, {out, n});
    } else {
        if (pos_ < windowStart_ || pos_ + n > windowStart_ + window_.size()) {
            windowStart_ = pos_;
            window_.resize(static_cast<std::size_t>(std::min(kWindowSize, length_ - pos_)));
            source_.ReadAt(begin_ + windowStart_, window_);
        }
        std::memcpy(out, window_.data() + (pos_ - windowStart_), n);
    }
    pos_ += n;
    return n;
}

std::size_t SourceStream::Write(const void* /*buffer*/, std::size_t /*count*/) { return 0; }

std::int64_t SourceStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const std::int64_t base = origin == SeekOrigin::soBeginning ? 0
                              : origin == SeekOrigin::soCurrent ? static_cast<std::int64_t>(pos_)
                                                                : static_cast<std::int64_t>(length_);
    // Both lie within a file's size, so neither sum can overflow; a position before 0 is clamped.
    std::int64_t to = base;
    if (offset > 0) {
        to = offset > INT64_MAX - base ? INT64_MAX : base + offset;
    } else {
        to = base + offset < 0 ? 0 : base + offset;
    }
    pos_ = static_cast<std::uint64_t>(to);
    return to;
}

void SourceStream::SetSize(std::int64_t /*newSize*/) { throw StreamError(kStreamWriteError); }

}  // namespace zeloro
