// src/metadata/IPTCData.h: IPTC datasets (IIM records 1 to 9) carried in an Adobe APP13 resource block,
// and the APP13 step of a photo rewrite.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Error.h"
#include "metadata/Streams.h"

namespace zeloro {

class TIPTCData;
class TIPTCSection;
class TJPEGImage;

// "Invalid IPTC record number (%d)", "Invalid IPTC tag size field (%d)"
class EInvalidIPTCData : public Error {
public:
    using Error::Error;
    [[nodiscard]] static EInvalidIPTCData BadRecordNumber(unsigned record);
    [[nodiscard]] static EInvalidIPTCData BadSizeField(unsigned magnitude);
};

// One dataset: its number within its record and its bytes.
class TIPTCTag {
public:
    TIPTCTag(TIPTCSection* section, std::uint8_t id) : id_(id), section_(section) {}
    [[nodiscard]] std::uint8_t ID() const noexcept { return id_; }
    [[nodiscard]] TIPTCSection* Section() const noexcept { return section_; }
    [[nodiscard]] std::span<const std::uint8_t> Data() const noexcept { return data_; }
    [[nodiscard]] std::size_t DataSize() const noexcept { return data_.size(); }
    // Replaces the bytes and marks the section modified.
    void SetData(std::span<const std::uint8_t> bytes);
    // The bytes as single-byte text, and the inverse.
    [[nodiscard]] std::string AsString() const { return {data_.begin(), data_.end()}; }
    void SetAsString(const std::string& value);

private:
    friend class TIPTCData;
    std::vector<std::uint8_t> data_;
    std::uint8_t id_;
    TIPTCSection* section_;
};

// The datasets of one record, in the order they were read or added.
class TIPTCSection {
public:
    TIPTCSection(TIPTCData* owner, std::uint8_t id) : id_(id), owner_(owner) {}
    TIPTCSection(const TIPTCSection&) = delete;
    TIPTCSection& operator=(const TIPTCSection&) = delete;

    [[nodiscard]] std::uint8_t ID() const noexcept { return id_; }
    [[nodiscard]] TIPTCData* Owner() const noexcept { return owner_; }
    [[nodiscard]] std::size_t Count() const noexcept { return tags_.size(); }
    [[nodiscard]] TIPTCTag& operator[](std::size_t index) const { return *tags_.at(index); }
    // Whether the dataset numbers are known to be ascending.
    [[nodiscard]] bool DefinitelySorted() const noexcept { return definitelySorted_; }
    [[nodiscard]] bool Modified() const noexcept { return modified_; }
    void SetModified(bool value) noexcept { modified_ = value; }

    // Appends a dataset with no bytes.
    TIPTCTag& Add(std::uint8_t id);
    // The first dataset with the number, or nullptr.
    [[nodiscard]] TIPTCTag* Find(std::uint8_t id) const noexcept;
    // Deletes every dataset with the number; true when there was one.
    bool Remove(std::uint8_t id);
    void Delete(std::size_t index);
    void Clear();

private:
    friend class TIPTCData;
    bool definitelySorted_ = true;
    std::uint8_t id_;
    bool modified_ = false;
    TIPTCData* owner_;
    std::vector<std::unique_ptr<TIPTCTag>> tags_;
};

// The IPTC container: nine records, loaded from and saved as an IIM record stream.
class TIPTCData {
public:
    TIPTCData();
    TIPTCData(const TIPTCData&) = delete;
    TIPTCData& operator=(const TIPTCData&) = delete;

    // Record 1..9; RangeError "Fehler bei Bereichsprüfung" for any other number.
    [[nodiscard]] TIPTCSection& Sections(unsigned record);
    [[nodiscard]] const TIPTCSection& Sections(unsigned record) const;
    [[nodiscard]] TIPTCSection& EnvelopeSection() { return Sections(1); }
    [[nodiscard]] TIPTCSection& ApplicationSection() { return Sections(2); }
    [[nodiscard]] TIPTCSection& FirstDescriptorSection() { return Sections(7); }
    [[nodiscard]] TIPTCSection& ObjectDataSection() { return Sections(8); }
    [[nodiscard]] TIPTCSection& SecondDescriptorSection() { return Sections(9); }

    [[nodiscard]] bool Empty() const noexcept;
    [[nodiscard]] bool Modified() const noexcept;
    void Clear();

    // Loads the record stream of the first IPTC block found in the Adobe APP13 segments of a JPEG stream
    // (from its position), or clears the container when there is none. Errors: EInvalidJPEGHeader,
    // EInvalidIPTCData, StreamError "Stream-Lesefehler" (damaged segment or resource block).
    void LoadFromJPEG(Stream& jpeg);
    void LoadFromJPEG(std::span<const std::uint8_t> jpeg);
    void LoadFromJPEG(const std::string& jpegFileName);
    void LoadFromJPEG(TJPEGImage& image);

    // Clear, then AddFromStream; every record ends not modified, and sorted when its numbers never fall.
    void LoadFromStream(Stream& stream);
    void LoadFromBytes(std::span<const std::uint8_t> bytes);
    // Appends the datasets of a record stream read from the position. Stops at the first byte that is
    // not 0x1C (left unread) or when fewer than 5 bytes remain. A dataset whose data runs past the end
    // raises StreamError "Stream-Lesefehler" and is not kept.
    void AddFromStream(Stream& stream);
    // Returns the number of bytes read.
    std::size_t AddFromBytes(std::span<const std::uint8_t> bytes);

    // The record stream: records 1..9 in order, each record's datasets in list order; sizes above
    // 32767 as 0xFFFC followed by a 4-byte size.
    void SaveToStream(Stream& stream) const;
    void SaveToBytes(std::vector<std::uint8_t>& out) const;

    // The APP13 step alone, applied to a photo file (read whole; the result replaces it safely: temporary
    // file and rename, whatever bufferedWrite says) or to an image object (reloaded from the result). An
    // AFCP trailer that the step moves gets its file offsets moved with it.
    void SaveToJPEG(const std::string& jpegFileName, bool bufferedWrite = true) const;
    void SaveToJPEG(TJPEGImage& image) const;
    // The APP13 step: copies the JPEG stream in (from its position) to out, the container's record stream
    // written as the first block of the first Adobe APP13 segment (or of a new one after the leading APP0
    // and APP1 segments). The photo's first IPTC block is the one the container replaces; the IPTC blocks
    // after it, in later segments, are carried over unchanged. Other resource blocks keep their order.
    // SegmentTooLarge when a rewritten payload exceeds 65533 bytes; read errors as for LoadFromJPEG.
    void SaveToJPEG(Stream& in, Stream& out) const;

    // The IPTC resource block as this container writes it ("8BIM", 0x0404, empty name).
    void AppendIPTCBlock(std::vector<std::uint8_t>& out) const;

private:
    std::vector<std::unique_ptr<TIPTCSection>> sections_;
};

}  // namespace zeloro
