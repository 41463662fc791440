// src/media/ByteSource.h: random access to a file's bytes, so that a reader touches only the few places
// it needs of a file that may be gigabytes long.
#pragma once
#include <cstdint>
#include <span>

namespace zeloro {

class ByteSource {
public:
    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    virtual ~ByteSource() = default;

    [[nodiscard]] virtual std::uint64_t Size() const = 0;
    // Fills out from offset exactly; throws MediaError when the bytes are not all there or cannot be read.
    virtual void ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// Borrows bytes in memory (a photo already read, a test's fixture); they must outlive the source.
class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}
    [[nodiscard]] std::uint64_t Size() const override { return bytes_.size(); }
    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Borrows an open descriptor (the caller keeps owning it) and reads with pread, so the descriptor's own
// position is never moved. The size is taken once, from fstat, when the source is made; throws MediaError
// when fstat fails.
class FdSource final : public ByteSource {
public:
    explicit FdSource(int fd);
    [[nodiscard]] std::uint64_t Size() const override { return size_; }
    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    int fd_;
    std::uint64_t size_ = 0;
};

}  // namespace zeloro
