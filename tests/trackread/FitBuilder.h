// tests/trackread/FitBuilder.h: FIT files built byte by byte for the reader's tests.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

namespace zeloro::test {

// FIT's global message numbers and record fields the reader uses.
inline constexpr std::uint16_t kFitRecord = 20;
inline constexpr std::uint16_t kFitSession = 18;
inline constexpr std::uint16_t kFitLap = 19;
inline constexpr std::uint16_t kFitFileId = 0;
inline constexpr std::uint8_t kFitTimestamp = 253;
inline constexpr std::uint8_t kFitLat = 0;
inline constexpr std::uint8_t kFitLon = 1;
inline constexpr std::uint8_t kFitAltitude = 2;
inline constexpr std::uint8_t kFitEnhancedAltitude = 78;

struct FitField {
    std::uint8_t number;
    std::uint8_t size;
};

class FitBuilder {
public:
    // headerSize 12 or 14; every definition in this byte order.
    explicit FitBuilder(bool bigEndian = false, std::uint8_t headerSize = 14)
        : bigEndian_(bigEndian), headerSize_(headerSize) {}

    // developerSizes: the sizes of developer fields, which the data messages then carry as 0xDD bytes.
    FitBuilder& Define(std::uint8_t local, std::uint16_t global, std::vector<FitField> fields,
                       std::vector<std::uint8_t> developerSizes = {}) {
        data_.push_back(static_cast<std::uint8_t>(0x40U | (developerSizes.empty() ? 0U : 0x20U) | local));
        data_.push_back(0);
        data_.push_back(bigEndian_ ? 1 : 0);
        Put(global, 2);
        data_.push_back(static_cast<std::uint8_t>(fields.size()));
        for (const FitField& field : fields) {
            data_.push_back(field.number);
            data_.push_back(field.size);
            data_.push_back(field.size == 1 ? 0x02 : field.size == 2 ? 0x84 : 0x86);
        }
        std::size_t developerBytes = 0;
        if (!developerSizes.empty()) {
            data_.push_back(static_cast<std::uint8_t>(developerSizes.size()));
            for (std::size_t i = 0; i < developerSizes.size(); ++i) {
                data_.push_back(static_cast<std::uint8_t>(i));
                data_.push_back(developerSizes[i]);
                data_.push_back(0);
                developerBytes += developerSizes[i];
            }
        }
        definitions_[local] = {std::move(fields), developerBytes};
        return *this;
    }

    // One value per field of the local message's definition, each written in the field's size.
    FitBuilder& Data(std::uint8_t local, const std::vector<std::uint64_t>& values) {
        data_.push_back(local);
        Values(local, values);
        return *this;
    }

    // A data message with a compressed time header: the low five bits of the time in the header.
    FitBuilder& Compressed(std::uint8_t local, std::uint8_t timeOffset,
                           const std::vector<std::uint64_t>& values) {
        data_.push_back(static_cast<std::uint8_t>(0x80U | ((local & 0x03U) << 5U) | (timeOffset & 0x1FU)));
        Values(local, values);
        return *this;
    }

    // The whole file; the wrong checksums only on request.
    [[nodiscard]] std::vector<std::uint8_t> Bytes(bool badFileCrc = false, bool badHeaderCrc = false) const {
        std::vector<std::uint8_t> file{headerSize_, 0x20, 0x08, 0x08};
        const auto size = static_cast<std::uint32_t>(data_.size());
        for (unsigned shift = 0; shift < 32; shift += 8) {
            file.push_back(static_cast<std::uint8_t>(size >> shift));
        }
        file.insert(file.end(), {'.', 'F', 'I', 'T'});
        if (headerSize_ == 14) {
            std::uint16_t crc = Crc(file);
            crc = static_cast<std::uint16_t>(crc ^ (badHeaderCrc ? 1U : 0U));
            file.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
            file.push_back(static_cast<std::uint8_t>(crc >> 8U));
        }
        file.insert(file.end(), data_.begin(), data_.end());
        std::uint16_t crc = Crc(file);
        crc = static_cast<std::uint16_t>(crc ^ (badFileCrc ? 0x8000U : 0U));
        file.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
        file.push_back(static_cast<std::uint8_t>(crc >> 8U));
        return file;
    }

    // The FIT checksum (CRC-16, polynomial 0xA001, bytes low nibble first).
    static std::uint16_t Crc(const std::vector<std::uint8_t>& bytes) {
        std::uint16_t crc = 0;
        for (const std::uint8_t byte : bytes) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<std::uint16_t>((crc & 1U) != 0 ? (crc >> 1U) ^ 0xA001U : crc >> 1U);
            }
        }
        return crc;
    }

private:
    void Put(std::uint64_t value, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::size_t shift = 8 * (bigEndian_ ? size - 1 - i : i);
            data_.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }

    void Values(std::uint8_t local, const std::vector<std::uint64_t>& values) {
        const auto& [fields, developerBytes] = definitions_.at(local);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            Put(values.at(i), fields[i].size);
        }
        data_.insert(data_.end(), developerBytes, 0xDD);
    }

    bool bigEndian_;
    std::uint8_t headerSize_;
    std::vector<std::uint8_t> data_;
    std::map<std::uint8_t, std::pair<std::vector<FitField>, std::size_t>> definitions_;
};

}  // namespace zeloro::test
