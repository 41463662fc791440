// src/metadata/IPTCData.cpp: IIM record streams, their Adobe resource block and the APP13 step.
#include "metadata/IPTCData.h"

#include <algorithm>

#include "filesafe/SafeFileWrite.h"
#include "metadata/AFCPTrailer.h"
#include "metadata/AdobeResources.h"
#include "metadata/JPEGImage.h"
#include "metadata/JPEGSegments.h"

namespace zeloro {
namespace {

constexpr std::uint8_t kTagMarker = 0x1C;
constexpr unsigned kRecordCount = 9;
constexpr std::size_t kDatasetHeaderSize = 5;
constexpr std::size_t kMaxShortDatasetSize = 0x7FFF;

[[noreturn]] void ThrowReadError() { throw StreamError(kStreamReadError); }

std::uint32_t ReadBigEndian(std::span<const std::uint8_t> bytes, std::size_t& pos, std::size_t count) {
    if (pos > bytes.size() || count > bytes.size() - pos) {
        ThrowReadError();
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = value << 8U | bytes[pos + i];
    }
    pos += count;
    return value;
}

void CopyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to) {
    if (to > from) {
        in.SetPosition(from);
        out.CopyFrom(in, to - from);
    }
}

}  // namespace

EInvalidIPTCData EInvalidIPTCData::BadRecordNumber(unsigned record) {
    return EInvalidIPTCData("Invalid IPTC record number (" + std::to_string(record) + ")");
}

EInvalidIPTCData EInvalidIPTCData::BadSizeField(unsigned magnitude) {
    return EInvalidIPTCData("Invalid IPTC tag size field (" + std::to_string(magnitude) + ")");
}

void TIPTCTag::SetData(std::span<const std::uint8_t> bytes) {
    data_.assign(bytes.begin(), bytes.end());
    if (section_ != nullptr) {
        section_->SetModified(true);
    }
}

void TIPTCTag::SetAsString(const std::string& value) {
    SetData({reinterpret_cast<const std::uint8_t*>(value.data()), value.size()});
}

TIPTCTag& TIPTCSection::Add(std::uint8_t id) {
    if (!tags_.empty() && tags_.back()->ID() > id) {
        definitelySorted_ = false;
    }
    tags_.push_back(std::make_unique<TIPTCTag>(this, id));
    modified_ = true;
    return *tags_.back();
}

TIPTCTag* TIPTCSection::Find(std::uint8_t id) const noexcept {
    const auto found =
        std::find_if(tags_.begin(), tags_.end(), [id](const auto& tag) { return tag->ID() == id; });
    return found == tags_.end() ? nullptr : found->get();
}

bool TIPTCSection::Remove(std::uint8_t id) {
    const auto removed = std::erase_if(tags_, [id](const auto& tag) { return tag->ID() == id; });
    if (removed > 0) {
        modified_ = true;
    }
    return removed > 0;
}

void TIPTCSection::Delete(std::size_t index) {
    if (index < tags_.size()) {
        tags_.erase(tags_.begin() + static_cast<std::ptrdiff_t>(index));
        modified_ = true;
    }
}

void TIPTCSection::Clear() {
    if (!tags_.empty()) {
        tags_.clear();
        modified_ = true;
    }
    definitelySorted_ = true;
}

TIPTCData::TIPTCData() {
    for (unsigned record = 1; record <= kRecordCount; ++record) {
        sections_.push_back(std::make_unique<TIPTCSection>(this, static_cast<std::uint8_t>(record)));
    }
}

TIPTCSection& TIPTCData::Sections(unsigned record) {
    if (record < 1 || record > kRecordCount) {
        throw RangeError();
    }
    return *sections_[record - 1];
}

const TIPTCSection& TIPTCData::Sections(unsigned record) const {
    if (record < 1 || record > kRecordCount) {
        throw RangeError();
    }
    return *sections_[record - 1];
}

bool TIPTCData::Empty() const noexcept {
    return std::all_of(sections_.begin(), sections_.end(), [](const auto& s) { return s->Count() == 0; });
}

bool TIPTCData::Modified() const noexcept {
    return std::any_of(sections_.begin(), sections_.end(), [](const auto& s) { return s->Modified(); });
}

void TIPTCData::Clear() {
    for (auto& section : sections_) {
        section->Clear();
    }
}

void TIPTCData::LoadFromJPEG(Stream& jpeg) {
    auto parser = ParseJPEGSegments(jpeg, TJPEGMarkers{jmApp13});
    while (parser->MoveNext()) {
        TAdobeApp13Enumerator blocks(*parser->Current());
        for (const IAdobeBlock& block : blocks) {
            if (block->IsIPTCBlock()) {
                LoadFromBytes(block->Data());
                return;
            }
        }
    }
    Clear();
    for (auto& section : sections_) {
        section->SetModified(false);
    }
}

void TIPTCData::LoadFromJPEG(std::span<const std::uint8_t> jpeg) {
    ReadOnlyMemoryStream stream(jpeg);
    LoadFromJPEG(stream);
}

void TIPTCData::LoadFromJPEG(const std::string& jpegFileName) {
    HeadFileStream stream(jpegFileName);
    LoadFromJPEG(stream);
}

void TIPTCData::LoadFromJPEG(TJPEGImage& image) {
    std::vector<std::uint8_t> bytes;
    image.SaveToBytes(bytes);
    LoadFromJPEG(std::span<const std::uint8_t>(bytes));
}

void TIPTCData::LoadFromStream(Stream& stream) {
    const std::int64_t start = stream.Position();
    const std::vector<std::uint8_t> bytes = stream.ReadToEnd();
    stream.SetPosition(start);
    std::size_t used = 0;
    try {
        Clear();
        used = AddFromBytes(bytes);
    } catch (...) {
        stream.SetPosition(start);
        throw;
    }
    stream.SetPosition(start + static_cast<std::int64_t>(used));
    for (auto& section : sections_) {
        section->SetModified(false);
    }
}

void TIPTCData::LoadFromBytes(std::span<const std::uint8_t> bytes) {
    Clear();
    AddFromBytes(bytes);
    for (auto& section : sections_) {
        section->SetModified(false);
    }
}

void TIPTCData::AddFromStream(Stream& stream) {
    const std::int64_t start = stream.Position();
    const std::vector<std::uint8_t> bytes = stream.ReadToEnd();
    stream.SetPosition(start);
    const std::size_t used = AddFromBytes(bytes);
    stream.SetPosition(start + static_cast<std::int64_t>(used));
}

std::size_t TIPTCData::AddFromBytes(std::span<const std::uint8_t> bytes) {
    std::size_t pos = 0;
    while (bytes.size() >= kDatasetHeaderSize && pos <= bytes.size() - kDatasetHeaderSize) {
        if (bytes[pos] != kTagMarker) {
            break;
        }
        ++pos;
        const unsigned record = bytes[pos++];
        if (record == 0 || record > kRecordCount) {
            throw EInvalidIPTCData::BadRecordNumber(record);
        }
        const std::uint8_t dataset = bytes[pos++];
        const auto field = static_cast<std::uint16_t>(ReadBigEndian(bytes, pos, 2));
        std::size_t size = field;
        if ((field & 0x8000U) != 0) {
            // The negated field names how many big-endian bytes of real size follow.
            const unsigned extra = 0x10000U - field;
            if (extra != 1 && extra != 2 && extra != 4) {
                throw EInvalidIPTCData::BadSizeField(extra);
            }
            size = ReadBigEndian(bytes, pos, extra);
        }
        // Checked before anything is added or allocated, so a false size cannot cost memory.
        if (size > bytes.size() - pos) {
            ThrowReadError();
        }
        TIPTCTag& tag = sections_[record - 1]->Add(dataset);
        tag.data_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                         bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
        pos += size;
    }
    return pos;
}

void TIPTCData::SaveToBytes(std::vector<std::uint8_t>& out) const {
    for (const auto& section : sections_) {
        for (const auto& tag : section->tags_) {
            const std::size_t size = tag->DataSize();
            out.push_back(kTagMarker);
            out.push_back(section->ID());
            out.push_back(tag->ID());
            if (size <= kMaxShortDatasetSize) {
                out.push_back(static_cast<std::uint8_t>(size >> 8U));
                out.push_back(static_cast<std::uint8_t>(size));
            } else {
                out.push_back(0xFF);
                out.push_back(0xFC);
                for (unsigned shift = 24;; shift -= 8) {
                    out.push_back(static_cast<std::uint8_t>(size >> shift));
                    if (shift == 0) {
                        break;
                    }
                }
            }
            out.insert(out.end(), tag->data_.begin(), tag->data_.end());
        }
    }
}

void TIPTCData::SaveToStream(Stream& stream) const {
    std::vector<std::uint8_t> bytes;
    SaveToBytes(bytes);
    stream.WriteBytes(bytes);
}

void TIPTCData::AppendIPTCBlock(std::vector<std::uint8_t>& out) const {
    std::vector<std::uint8_t> records;
    SaveToBytes(records);
    TAdobeBlock(kAdobeSignature, kIPTCResourceType, std::string(), std::move(records)).SaveToBytes(out);
}

void TIPTCData::SaveToJPEG(Stream& in, Stream& out) const {
    const std::int64_t start = in.Position();
    // Walk first, copy afterwards: the segments hold copies of their payloads, and the copying below
    // moves the input's position, which the walk must not see.
    std::vector<IFoundJPEGSegment> adobeSegments;
    {
        auto parser = ParseJPEGSegments(in, TJPEGMarkers{jmApp13});
        while (parser->MoveNext()) {
            if (parser->Current()->HasAdobeHeader()) {
                adobeSegments.push_back(parser->Current());
            }
        }
    }
    bool iptcWritten = Empty();
    bool replacedBlockSeen = false;
    std::int64_t copyPos = start;
    std::vector<std::uint8_t> payload;
    for (const IFoundJPEGSegment& segment : adobeSegments) {
        payload.clear();
        AppendAdobeHeader(payload);
        if (!iptcWritten) {
            AppendIPTCBlock(payload);
            iptcWritten = true;
        }
        TAdobeApp13Enumerator blocks(*segment);
        for (const IAdobeBlock& block : blocks) {
            if (block->IsIPTCBlock() && !replacedBlockSeen) {
                replacedBlockSeen = true;  // the block the container was loaded from and now replaces
                continue;
            }
            block->SaveToBytes(payload);
        }
        if (payload.size() > kMaxSegmentPayload) {
            throw SegmentTooLarge(payload.size());
        }
        CopyRange(in, out, copyPos, segment->MarkerOffset());
        WriteSegment(out, jmApp13, payload.data(), payload.size());
        copyPos = segment->MarkerOffset() + segment->TotalSize();
    }
    if (!iptcWritten) {
        TJPEGMarkers anchor = TJPEGMarkers::Range(0x00, 0xFF);
        anchor.Exclude(jmApp0);
        anchor.Exclude(jmApp1);
        in.SetPosition(start);
        std::int64_t anchorOffset = -1;
        {
            auto parser = ParseJPEGSegments(in, anchor);
            if (parser->MoveNext()) {
                anchorOffset = parser->Current()->MarkerOffset();
            }
        }
        if (anchorOffset >= 0) {
            payload.clear();
            AppendAdobeHeader(payload);
            AppendIPTCBlock(payload);
            if (payload.size() > kMaxSegmentPayload) {
                throw SegmentTooLarge(payload.size());
            }
            CopyRange(in, out, copyPos, anchorOffset);
            WriteSegment(out, jmApp13, payload.data(), payload.size());
            copyPos = anchorOffset;
        }
    }
    CopyRange(in, out, copyPos, in.Size());
}

void TIPTCData::SaveToJPEG(const std::string& jpegFileName, bool /*bufferedWrite*/) const {
    const std::vector<std::uint8_t> original = ReadWholeFile(jpegFileName);
    ReadOnlyMemoryStream in(original);
    MemoryStream out;
    SaveToJPEG(in, out);
    std::vector<std::uint8_t> saved = out.TakeBytes();
    KeepAFCPTrailerOffsets(original, saved);
    WriteFileReplacing(jpegFileName, saved);
}

void TIPTCData::SaveToJPEG(TJPEGImage& image) const {
    std::vector<std::uint8_t> bytes;
    image.SaveToBytes(bytes);
    ReadOnlyMemoryStream in(bytes);
    MemoryStream out;
    SaveToJPEG(in, out);
    std::vector<std::uint8_t> saved = out.TakeBytes();
    KeepAFCPTrailerOffsets(bytes, saved);
    image.LoadFromBytes(std::move(saved));
}

}  // namespace zeloro
