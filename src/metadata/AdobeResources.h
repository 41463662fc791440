// src/metadata/AdobeResources.h: the resource blocks of an Adobe APP13 payload ("8BIM" blocks).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/JPEGSegments.h"

namespace zeloro {

inline constexpr std::uint16_t kIPTCResourceType = 0x0404;
// The header that payloads written by this system start with: "Photoshop 3.0" and a zero byte.
inline constexpr std::size_t kAdobeHeaderSize = 14;
inline constexpr std::string_view kAdobeSignature = "8BIM";
// The smallest block: signature, type, empty name with its pad byte, data size.
inline constexpr std::size_t kMinAdobeBlockSize = 12;

// One resource block. In a payload (numbers big-endian): 4-byte signature, 2-byte type, name length L,
// L name bytes, a zero pad byte when L is even, 4-byte data size D, D data bytes, a zero pad byte when D
// is odd.
class TAdobeBlock {
public:
    TAdobeBlock() = default;
    // The signature is padded with blanks or cut to 4 characters; the name is kept as given (its first
    // 255 bytes are written).
    TAdobeBlock(std::string_view signature, std::uint16_t typeID, std::string name,
                std::vector<std::uint8_t> data);

    // Reads the block at pos of the payload and advances pos past it (pad bytes included, even when the
    // last pad byte lies beyond the payload). Any signature is accepted; a negative data size reads as
    // 0. A header, name or data that runs past the end raises StreamError "Stream-Lesefehler".
    [[nodiscard]] static std::shared_ptr<TAdobeBlock> Read(std::span<const std::uint8_t> payload,
                                                           std::size_t& pos);

    [[nodiscard]] const std::string& Signature() const noexcept { return signature_; }
    void SetSignature(std::string_view value);
    [[nodiscard]] std::uint16_t TypeID() const noexcept { return typeID_; }
    void SetTypeID(std::uint16_t value) noexcept { typeID_ = value; }
    // Single-byte text, as stored.
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    void SetName(std::string value) { name_ = std::move(value); }
    [[nodiscard]] const std::vector<std::uint8_t>& Data() const noexcept { return data_; }
    [[nodiscard]] std::vector<std::uint8_t>& Data() noexcept { return data_; }

    // Type 0x0404, more than 4 data bytes, the first of them 0x1C.
    [[nodiscard]] bool IsIPTCBlock() const noexcept;
    // Appends the block in its payload layout.
    void SaveToBytes(std::vector<std::uint8_t>& out) const;
    void SaveToStream(Stream& stream) const;

private:
    std::string signature_ = std::string(kAdobeSignature);
    std::uint16_t typeID_ = 0;
    std::string name_;
    std::vector<std::uint8_t> data_;
};

using IAdobeBlock = std::shared_ptr<TAdobeBlock>;

// Enumerates the blocks of one APP13 payload: from the end of the Adobe header while at least 12 bytes
// (the smallest block) remain, so a last block with an empty name and no data is read too. A payload
// that fails the Adobe test yields nothing. Read errors of a damaged block propagate from MoveNext.
class TAdobeApp13Enumerator {
public:
    // Borrows the payload; headerSize 0 means the payload failed the Adobe test.
    TAdobeApp13Enumerator(std::span<const std::uint8_t> payload, std::size_t headerSize) noexcept;
    // Runs the segment's Adobe test; borrows its payload, so the segment must outlive the enumerator.
    explicit TAdobeApp13Enumerator(TUserJPEGSegment& segment);

    bool MoveNext();
    [[nodiscard]] const IAdobeBlock& Current() const noexcept { return current_; }

    class Iterator {
    public:
        Iterator() = default;
        explicit Iterator(TAdobeApp13Enumerator* e) : enumerator_(e) { Advance(); }
        const IAdobeBlock& operator*() const noexcept { return enumerator_->Current(); }
        Iterator& operator++() {
            Advance();
            return *this;
        }
        bool operator==(const Iterator& o) const noexcept { return enumerator_ == o.enumerator_; }

    private:
        void Advance() {
            if (enumerator_ != nullptr && !enumerator_->MoveNext()) {
                enumerator_ = nullptr;
            }
        }
        TAdobeApp13Enumerator* enumerator_ = nullptr;
    };
    Iterator begin() { return Iterator(this); }
    Iterator end() { return {}; }

private:
    std::span<const std::uint8_t> payload_;
    std::size_t nextPos_;
    IAdobeBlock current_;
};

// The Adobe header size of an APP13 payload (14 or 19), or 0 when it fails the Adobe test.
[[nodiscard]] std::size_t AdobeHeaderSizeOf(std::span<const std::uint8_t> payload) noexcept;
// Appends "Photoshop 3.0" and a zero byte.
void AppendAdobeHeader(std::vector<std::uint8_t>& out);

}  // namespace zeloro
