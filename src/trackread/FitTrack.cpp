// src/trackread/FitTrack.cpp: a streaming decoder of FIT files, for the position records only.
#include "trackread/FitTrack.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zeloro {

namespace {

constexpr std::uint16_t kRecordMessage = 20;
constexpr std::uint16_t kSessionMessage = 18;
constexpr std::uint16_t kLapMessage = 19;
constexpr std::uint8_t kTimestampField = 253;
constexpr std::uint8_t kLatitudeField = 0;
constexpr std::uint8_t kLongitudeField = 1;
constexpr std::uint8_t kAltitudeField = 2;
constexpr std::uint8_t kEnhancedAltitudeField = 78;

// FIT marks a field without a value by the largest number of its type (the largest positive for signed).
constexpr std::uint32_t kInvalidU32 = 0xFFFFFFFFU;
constexpr std::uint32_t kInvalidS32 = 0x7FFFFFFFU;
constexpr std::uint16_t kInvalidU16 = 0xFFFFU;

// Seconds of a FIT time count from 1989-12-31 00:00 UTC.
constexpr double kFitEpochDays = 32873.0;
// Semicircles times 180 are exact in a double: divided by 2^31 they give the nearest double to the angle.
constexpr double kSemicircles = 2147483648.0;

constexpr const char* kTruncated = "FIT-Datei ist abgeschnitten";

std::uint16_t CrcStep(std::uint16_t crc, std::uint8_t byte) noexcept {
    static constexpr std::array<std::uint16_t, 16> kTable{0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                                          0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                                          0x5000, 0x9C01, 0x8801, 0x4400};
    std::uint16_t tmp = kTable[crc & 0xFU];
    crc = static_cast<std::uint16_t>((crc >> 4U) & 0x0FFFU);
    crc = static_cast<std::uint16_t>(crc ^ tmp ^ kTable[byte & 0xFU]);
    tmp = kTable[crc & 0xFU];
    crc = static_cast<std::uint16_t>((crc >> 4U) & 0x0FFFU);
    return static_cast<std::uint16_t>(crc ^ tmp ^ kTable[(byte >> 4U) & 0xFU]);
}

struct FieldDefinition {
    std::uint8_t number = 0;
    std::uint8_t size = 0;
};

struct MessageDefinition {
    bool defined = false;
    bool bigEndian = false;
    std::uint16_t global = 0;
    std::vector<FieldDefinition> fields;
    std::size_t developerBytes = 0;  // developer fields follow the others and are skipped whole
};

// Reads the stream in blocks and keeps the running checksum of what it hands out, so that a file of any
// length is read in the same small memory.
class FitInput {
public:
    explicit FitInput(std::istream& in) : in_(in) {}

    // False at the end of the stream, nothing read.
    bool AtEnd() { return pos_ == end_ && !Fill(); }

    std::uint8_t Byte() {
        if (pos_ == end_ && !Fill()) {
            throw TrackFormatError(kTruncated);
        }
        const auto byte = static_cast<std::uint8_t>(buffer_[pos_++]);
        crc_ = CrcStep(crc_, byte);
        return byte;
    }

    void Bytes(std::uint8_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = Byte();
        }
    }

    [[nodiscard]] std::uint16_t Crc() const noexcept { return crc_; }
    void ResetCrc() noexcept { crc_ = 0; }

private:
    bool Fill() {
        in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        end_ = static_cast<std::size_t>(in_.gcount());
        pos_ = 0;
        return end_ > 0;
    }

    std::istream& in_;
    std::vector<char> buffer_ = std::vector<char>(65536);
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint16_t crc_ = 0;
};

std::uint32_t Unsigned(const std::uint8_t* bytes, std::size_t size, bool bigEndian) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = bigEndian ? i : size - 1 - i;
        value = (value << 8U) | bytes[at];
    }
    return value;
}

class FitDecoder {
public:
    FitDecoder(std::istream& in, TrackPointSink& sink) : input_(in), sink_(sink) {}

    void Run() {
        if (input_.AtEnd()) {
            throw TrackFormatError("leere Datei, kein FIT-Dateikopf");
        }
        do {
            File();
        } while (!input_.AtEnd());
    }

private:
    // One file of a chain: header, records, checksum.
    void File() {
        input_.ResetCrc();
        std::array<std::uint8_t, 14> header{};
        header[0] = input_.Byte();
        if (header[0] != 12 && header[0] != 14) {
            throw TrackFormatError("kein FIT-Dateikopf");
        }
        input_.Bytes(header.data() + 1, 11);
        if (header[8] != '.' || header[9] != 'F' || header[10] != 'I' || header[11] != 'T') {
            throw TrackFormatError("kein FIT-Dateikopf");
        }
        if (header[0] == 14) {
            const std::uint16_t computed = input_.Crc();
            header[12] = input_.Byte();
            header[13] = input_.Byte();
            const auto stored = static_cast<std::uint16_t>(header[12] | (header[13] << 8U));
            // A writer that leaves the header's checksum out writes 0.
            if (stored != 0 && stored != computed) {
                throw TrackFormatError("FIT-Dateikopf mit falscher Prüfsumme");
            }
        }
        std::uint64_t left = Unsigned(header.data() + 4, 4, false);
        for (auto& definition : definitions_) {
            definition = MessageDefinition{};
        }
        newSegment_ = true;
        while (left > 0) {
            left = Record(left);
        }
        const std::uint16_t computed = input_.Crc();
        const std::uint8_t low = input_.Byte();
        const std::uint8_t high = input_.Byte();
        if (static_cast<std::uint16_t>(low | (high << 8U)) != computed) {
            throw TrackFormatError("FIT-Datei mit falscher Prüfsumme");
        }
    }

    // Reads one record of the data part; returns what is left of it.
    std::uint64_t Record(std::uint64_t left) {
        const std::uint8_t header = Take(left);
        if ((header & 0x80U) != 0) {
            // A compressed time: the low five bits of the time, counted on from the last full time seen.
            const std::uint32_t offset = header & 0x1FU;
            const std::uint32_t time = lastTime_ + ((offset - (lastTime_ & 0x1FU)) & 0x1FU);
            lastTime_ = time;
            return Data((header >> 5U) & 0x03U, time, left);
        }
        const std::uint8_t local = header & 0x0FU;
        if ((header & 0x40U) != 0) {
            return Definition(local, (header & 0x20U) != 0, left);
        }
        return Data(local, std::nullopt, left);
    }

    std::uint64_t Definition(std::uint8_t local, bool developer, std::uint64_t left) {
        MessageDefinition& definition = definitions_[local];
        definition = MessageDefinition{};
        Take(left);  // reserved
        const std::uint8_t architecture = Take(left);
        if (architecture > 1) {
            throw TrackFormatError("FIT-Definition mit unbekannter Bytereihenfolge");
        }
        definition.bigEndian = architecture == 1;
        std::array<std::uint8_t, 2> global{};
        global[0] = Take(left);
        global[1] = Take(left);
        definition.global = static_cast<std::uint16_t>(Unsigned(global.data(), 2, definition.bigEndian));
        const std::uint8_t count = Take(left);
        definition.fields.resize(count);
        for (FieldDefinition& field : definition.fields) {
            field.number = Take(left);
            field.size = Take(left);
            Take(left);  // the base type: the field's meaning is known by its number here
        }
        if (developer) {
            const std::uint8_t developerCount = Take(left);
            for (std::uint8_t i = 0; i < developerCount; ++i) {
                Take(left);
                definition.developerBytes += Take(left);
                Take(left);
            }
        }
        definition.defined = true;
        return left;
    }

    std::uint64_t Data(std::uint8_t local, std::optional<std::uint32_t> time, std::uint64_t left) {
        const MessageDefinition& definition = definitions_[local];
        if (!definition.defined) {
            throw TrackFormatError("FIT-Datennachricht ohne Definition (lokale Nummer " +
                                   std::to_string(local) + ")");
        }
        std::optional<std::int32_t> latitude;
        std::optional<std::int32_t> longitude;
        std::optional<double> altitude;
        std::optional<double> enhancedAltitude;
        bool timeValid = time.has_value();
        std::uint32_t seconds = time.value_or(0);
        std::array<std::uint8_t, 255> value{};
        for (const FieldDefinition& field : definition.fields) {
            for (std::size_t i = 0; i < field.size; ++i) {
                value[i] = Take(left);
            }
            const bool be = definition.bigEndian;
            if (field.number == kTimestampField && field.size == 4) {
                // Every message's full time is the base of the compressed times after it.
                const std::uint32_t stamp = Unsigned(value.data(), 4, be);
                if (stamp != kInvalidU32) {
                    lastTime_ = stamp;
                    seconds = stamp;
                    timeValid = true;
                } else {
                    timeValid = false;
                }
            }
            if (definition.global != kRecordMessage) {
                continue;
            }
            if ((field.number == kLatitudeField || field.number == kLongitudeField) && field.size == 4) {
                const std::uint32_t raw = Unsigned(value.data(), 4, be);
                if (raw != kInvalidS32) {
                    (field.number == kLatitudeField ? latitude : longitude) = static_cast<std::int32_t>(raw);
                }
            } else if (field.number == kAltitudeField && field.size == 2) {
                const std::uint32_t raw = Unsigned(value.data(), 2, be);
                if (raw != kInvalidU16) {
                    altitude = raw / 5.0 - 500.0;
                }
            } else if (field.number == kEnhancedAltitudeField && field.size == 4) {
                const std::uint32_t raw = Unsigned(value.data(), 4, be);
                if (raw != kInvalidU32) {
                    enhancedAltitude = raw / 5.0 - 500.0;
                }
            }
        }
        for (std::size_t i = 0; i < definition.developerBytes; ++i) {
            Take(left);
        }
        if (definition.global == kSessionMessage || definition.global == kLapMessage) {
            newSegment_ = true;
        } else if (definition.global == kRecordMessage && timeValid && latitude && longitude) {
            TrackPoint point;
            point.latitude = *latitude * 180.0 / kSemicircles;
            point.longitude = *longitude * 180.0 / kSemicircles;
            point.utcTime = kFitEpochDays + seconds / 86400.0;
            point.elevation = enhancedAltitude ? enhancedAltitude : altitude;
            if (newSegment_) {
                sink_.NewSegment();
                newSegment_ = false;
            }
            sink_.Add(point);
        }
        return left;
    }

    // One byte of the data part, whose size the header gives: a record that reaches past it is damage.
    std::uint8_t Take(std::uint64_t& left) {
        if (left == 0) {
            throw TrackFormatError("FIT-Nachricht reicht über das Ende der Daten");
        }
        --left;
        return input_.Byte();
    }

    FitInput input_;
    TrackPointSink& sink_;
    std::array<MessageDefinition, 16> definitions_{};
    std::uint32_t lastTime_ = 0;
    bool newSegment_ = true;
};

}  // namespace

void ReadFit(std::istream& in, TrackPointSink& sink) {
    FitDecoder decoder(in, sink);
    decoder.Run();
}

}  // namespace zeloro
