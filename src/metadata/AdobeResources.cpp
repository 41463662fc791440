// src/metadata/AdobeResources.cpp: reading and writing Adobe resource blocks.
#include "metadata/AdobeResources.h"

#include <algorithm>
#include <cstring>

#include "common/Error.h"

namespace zeloro {
namespace {

constexpr std::string_view kPhotoshop3Header{"Photoshop 3.0\0", 14};
constexpr std::string_view kPhotoshop25Header{"Adobe_Photoshop2.5:", 19};
constexpr std::size_t kMinAdobePayload = 20;

[[noreturn]] void ThrowReadError() { throw StreamError(kStreamReadError); }

// The n bytes at pos, or the read error when fewer remain.
std::span<const std::uint8_t> Take(std::span<const std::uint8_t> payload, std::size_t& pos, std::size_t n) {
    if (pos > payload.size() || n > payload.size() - pos) {
        ThrowReadError();
    }
    const auto bytes = payload.subspan(pos, n);
    pos += n;
    return bytes;
}

bool StartsWith(std::span<const std::uint8_t> payload, std::string_view text) noexcept {
    return payload.size() >= text.size() && std::memcmp(payload.data(), text.data(), text.size()) == 0;
}

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> static_cast<unsigned>(shift)));
    }
}

}  // namespace

TAdobeBlock::TAdobeBlock(std::string_view signature, std::uint16_t typeID, std::string name,
                         std::vector<std::uint8_t> data)
    : typeID_(typeID), name_(std::move(name)), data_(std::move(data)) {
    SetSignature(signature);
}

void TAdobeBlock::SetSignature(std::string_view value) {
    signature_.assign(value.substr(0, 4));
    signature_.resize(4, ' ');
}

std::shared_ptr<TAdobeBlock> TAdobeBlock::Read(std::span<const std::uint8_t> payload, std::size_t& pos) {
    auto block = std::make_shared<TAdobeBlock>();
    const auto signature = Take(payload, pos, 4);
    block->signature_.assign(signature.begin(), signature.end());
    const auto type = Take(payload, pos, 2);
    block->typeID_ = static_cast<std::uint16_t>(type[0] << 8U | type[1]);
    const std::size_t nameLength = Take(payload, pos, 1)[0];
    const auto name = Take(payload, pos, nameLength);
    block->name_.assign(name.begin(), name.end());
    if (nameLength % 2 == 0) {
        ++pos;  // the pad byte that makes length byte and name even is not read
    }
    const auto size = Take(payload, pos, 4);
    const auto rawSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(size[0]) << 24U |
                                                   static_cast<std::uint32_t>(size[1]) << 16U |
                                                   static_cast<std::uint32_t>(size[2]) << 8U | size[3]);
    const std::size_t dataSize = rawSize < 0 ? 0 : static_cast<std::size_t>(rawSize);
    const auto data = Take(payload, pos, dataSize);
    block->data_.assign(data.begin(), data.end());
    if (dataSize % 2 != 0) {
        ++pos;
    }
    return block;
}

bool TAdobeBlock::IsIPTCBlock() const noexcept {
    return typeID_ == kIPTCResourceType && data_.size() > 4 && data_[0] == 0x1C;
}

void TAdobeBlock::SaveToBytes(std::vector<std::uint8_t>& out) const {
    const std::size_t nameLength = std::min<std::size_t>(name_.size(), 255);
    out.insert(out.end(), signature_.begin(), signature_.end());
    AppendBigEndian(out, typeID_, 2);
    out.push_back(static_cast<std::uint8_t>(nameLength));
    out.insert(out.end(), name_.begin(), name_.begin() + static_cast<std::ptrdiff_t>(nameLength));
    if (nameLength % 2 == 0) {
        out.push_back(0);
    }
    AppendBigEndian(out, static_cast<std::uint32_t>(data_.size()), 4);
    out.insert(out.end(), data_.begin(), data_.end());
    if (data_.size() % 2 != 0) {
        out.push_back(0);
    }
}

void TAdobeBlock::SaveToStream(Stream& stream) const {
    std::vector<std::uint8_t> bytes;
    SaveToBytes(bytes);
    stream.WriteBytes(bytes);
}

TAdobeApp13Enumerator::TAdobeApp13Enumerator(std::span<const std::uint8_t> payload,
                                             std::size_t headerSize) noexcept
    : payload_(payload), nextPos_(headerSize == 0 ? payload.size() : headerSize) {}

TAdobeApp13Enumerator::TAdobeApp13Enumerator(TUserJPEGSegment& segment)
    : TAdobeApp13Enumerator(segment.Payload(), segment.HasAdobeHeader()
                                                   ? static_cast<std::size_t>(segment.AdobeHeaderSize())
                                                   : 0) {}

bool TAdobeApp13Enumerator::MoveNext() {
    current_.reset();
    if (nextPos_ > payload_.size() || payload_.size() - nextPos_ < kMinAdobeBlockSize) {
        return false;
    }
    current_ = TAdobeBlock::Read(payload_, nextPos_);
    return true;
}

std::size_t AdobeHeaderSizeOf(std::span<const std::uint8_t> payload) noexcept {
    if (payload.size() < kMinAdobePayload) {
        return 0;
    }
    if (StartsWith(payload, kPhotoshop3Header)) {
        return kPhotoshop3Header.size();
    }
    if (StartsWith(payload, kPhotoshop25Header)) {
        return kPhotoshop25Header.size();
    }
    return 0;
}

void AppendAdobeHeader(std::vector<std::uint8_t>& out) {
    out.insert(out.end(), kPhotoshop3Header.begin(), kPhotoshop3Header.end());
}

}  // namespace zeloro
