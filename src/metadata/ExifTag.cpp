// src/metadata/ExifTag.cpp: one tag of a section: its data, type and count, and its text form.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>

#include "common/Error.h"
#include "common/Win1252.h"
#include "metadata/ExifData.h"
#include "metadata/ExifTags.h"
#include "metadata/TiffReader.h"
#include "metadata/detail/ExifTagData.h"
#include "metadata/detail/ExifTagText.h"

namespace zeloro {

namespace {

bool IsIntegerType(TTiffDataType t) noexcept {
    return t == tdByte || t == tdWord || t == tdLongWord || t == tdShortInt || t == tdSmallInt;
}

std::int64_t ReadElementAsInt(const std::uint8_t* data, TTiffDataType type, std::size_t index) noexcept {
    switch (type) {
        case tdByte:
            return data[index];
        case tdShortInt:
            return static_cast<std::int8_t>(data[index]);
        case tdWord: {
            std::uint16_t v;
            std::memcpy(&v, data + index * 2, 2);
            return v;
        }
        case tdSmallInt: {
            std::int16_t v;
            std::memcpy(&v, data + index * 2, 2);
            return v;
        }
        case tdLongWord: {
            std::uint32_t v;
            std::memcpy(&v, data + index * 4, 4);
            return v;
        }
        default:
            return 0;
    }
}

std::uint32_t LE32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

TExifTag::TExifTag(TExifSection* section, TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount)
    : dataType_(dataType), elementCount_(std::max(elementCount, 0)), id_(id), section_(section) {
    data_.assign(DataSize(), 0);
    originalDataSize_ = static_cast<std::int32_t>(DataSize());
}

TExifTag::TExifTag(TExifSection* section, const TTiffTagInfo& info, const TTiffInfo& tiff)
    : dataType_(info.IsValid() ? static_cast<TTiffDataType>(info.DataType) : tdUndefined),
      elementCount_(info.IsValid() ? info.ElementCount : 0),
      id_(info.ID),
      originalDataOffset_(info.DataOffset),
      wellFormed_(info.IsValid()),
      section_(section) {
    originalDataSize_ = static_cast<std::int32_t>(DataSize());
    data_.resize(DataSize());
    if (elementCount_ > 0) {
        ReadTagData(tiff, info, data_.data());
    }
}

TExifTag::~TExifTag() = default;

void TExifTag::Delete() {
    if (section_ != nullptr) {
        section_->DeleteAt(section_->IndexOf(this), false);
    } else {
        delete this;  // NOLINT(cppcoreguidelines-owning-memory): a detached tag owns itself
    }
}

void TExifTag::Assign(const TExifTag* source) {
    if (source == nullptr) {
        SetElementCount(0);
        return;
    }
    if (source->section_ != section_ || section_ == nullptr) {
        SetID(source->id_);
    }
    UpdateData(source->dataType_, source->elementCount_, source->data_.data());
}

void TExifTag::CheckChange(TTiffTagID newID, TTiffDataType newType, std::int32_t newCount) const {
    if (section_ != nullptr) {
        section_->CheckTagChange(*this, newID, newType, newCount);
    }
}

void TExifTag::UpdateData(TTiffDataType newType, std::int32_t newCount, const void* newData) {
    newCount = std::max(newCount, 0);
    if (newData == nullptr && newType == dataType_ && newCount == elementCount_) {
        return;
    }
    const std::uint32_t oldSize = DataSize();
    const std::uint32_t newElementSize = TiffElementSize(newType);
    const std::uint64_t newSize64 = static_cast<std::uint64_t>(newCount) * newElementSize;
    if (newSize64 > std::numeric_limits<std::int32_t>::max()) {
        throw RangeError();
    }
    const auto newSize = static_cast<std::uint32_t>(newSize64);
    CheckChange(id_, newType, newCount);
    std::vector<std::int64_t> remembered;
    if (newData == nullptr && newSize != oldSize && IsIntegerType(dataType_) && IsIntegerType(newType) &&
        elementCount_ > 0 && newCount > 0) {
        const auto n = static_cast<std::size_t>(std::min(elementCount_, newCount));
        remembered.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            remembered.push_back(ReadElementAsInt(data_.data(), dataType_, i));
    }
    data_.resize(newSize, 0);
    if (newData != nullptr) {
        if (newSize > 0) std::memcpy(data_.data(), newData, newSize);
    } else if (newElementSize != ElementSize()) {
        std::fill_n(data_.begin(), std::min(oldSize, newSize), 0);
        for (std::size_t i = 0; i < remembered.size(); ++i) {
            WriteElementLow(data_.data(), newElementSize, i, remembered[i]);
        }
    }
    dataType_ = newType;
    elementCount_ = newCount;
    Changed(newSize == oldSize ? ChangeKind::Data : ChangeKind::Size);
}

void TExifTag::UpdateData(const void* value) {
    CheckChange(id_, dataType_, elementCount_);
    if (!data_.empty() && value != nullptr) std::memcpy(data_.data(), value, data_.size());
    Changed(ChangeKind::Data);
}

void TExifTag::Changed(ChangeKind kind) {
    if (kind != ChangeKind::ID) {
        asStringCache_.clear();
        asStringCached_ = false;
    }
    if (section_ != nullptr) {
        section_->TagChanged(*this, kind);
    }
}

void TExifTag::SetID(TTiffTagID value) {
    if (value == id_) return;
    CheckChange(value, dataType_, elementCount_);
    id_ = value;
    Changed(ChangeKind::ID);
}

void TExifTag::SetDataType(TTiffDataType value) {
    if (value != dataType_) UpdateData(value, elementCount_, nullptr);
}

void TExifTag::SetElementCount(std::int32_t value) {
    if (value != elementCount_) UpdateData(dataType_, value, nullptr);
}

TTiffLongWordFraction TExifTag::ReadFraction(std::int32_t index, TTiffLongWordFraction def) const noexcept {
    if ((dataType_ != tdLongWordFraction && dataType_ != tdLongIntFraction) || index < 0 ||
        index >= elementCount_) {
        return def;
    }
    const std::uint8_t* p = data_.data() + static_cast<std::size_t>(index) * 8;
    return {LE32(p), LE32(p + 4)};
}

std::uint32_t TExifTag::ReadLongWord(std::int32_t index, std::uint32_t def) const noexcept {
    if (index < 0 || index >= elementCount_) return def;
    const auto i = static_cast<std::size_t>(index);
    switch (dataType_) {
        case tdByte:
        case tdShortInt:
            return data_[i];
        case tdWord:
        case tdSmallInt:
            return static_cast<std::uint32_t>(data_[2 * i] | (data_[2 * i + 1] << 8U));
        case tdLongWord:
        case tdLongInt:
            return LE32(data_.data() + 4 * i);
        default:
            return def;
    }
}

std::uint16_t TExifTag::ReadWord(std::int32_t index, std::uint16_t def) const noexcept {
    if (index < 0 || index >= elementCount_) return def;
    const auto i = static_cast<std::size_t>(index);
    switch (dataType_) {
        case tdByte:
        case tdShortInt:
            return data_[i];
        case tdWord:
        case tdSmallInt:
            return static_cast<std::uint16_t>(data_[2 * i] | (data_[2 * i + 1] << 8U));
        default:
            return def;
    }
}

bool TExifTag::HasWindowsStringData() const noexcept {
    return dataType_ == tdByte && section_ != nullptr && section_->Kind() == esGeneral && id_ >= 40091 &&
           id_ <= 40095;
}

bool TExifTag::IsPadding() const noexcept {
    return id_ == ttPadding && dataType_ == tdUndefined && elementCount_ > 1 && data_[0] == 0x1C &&
           data_[1] == 0xEA;
}

void TExifTag::SetAsPadding(TExifPaddingTagSize size) {
    size = std::max(size, 2);
    SetID(ttPadding);
    UpdateData(tdUndefined, size, nullptr);
    std::fill(data_.begin(), data_.end(), 0);
    data_[0] = 0x1C;
    data_[1] = 0xEA;
    Changed(ChangeKind::Data);
}

const std::string& TExifTag::AsString() const {
    if (asStringCached_) return asStringCache_;
    std::string s;
    if (elementCount_ > 0) {
        if (dataType_ == tdAscii) {
            s = Win1252ToUtf8(std::string_view(reinterpret_cast<const char*>(data_.data()),
                                               static_cast<std::size_t>(elementCount_ - 1)));
        } else if (dataType_ == tdUndefined) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            s.reserve(data_.size() * 2);
            for (const std::uint8_t b : data_) {
                s += kHex[b >> 4U];
                s += kHex[b & 0xFU];
            }
        } else if (HasWindowsStringData()) {
            const std::size_t units = static_cast<std::size_t>(elementCount_) / 2;
            s = units > 0 ? Utf16LeToUtf8(data_.data(), units - 1) : std::string();
        } else {
            for (std::int32_t i = 0; i < elementCount_; ++i) {
                const auto k = static_cast<std::size_t>(i);
                std::string item;
                switch (dataType_) {
                    case tdByte:
                    case tdWord:
                    case tdLongWord:
                        item = std::to_string(ReadLongWord(i, 0));
                        break;
                    case tdShortInt:
                        item = std::to_string(static_cast<std::int8_t>(data_[k]));
                        break;
                    case tdSmallInt:
                        item = std::to_string(static_cast<std::int16_t>(ReadWord(i, 0)));
                        break;
                    case tdLongInt:
                    case tdSubDirectory:
                        item = std::to_string(static_cast<std::int32_t>(LE32(data_.data() + 4 * k)));
                        break;
                    case tdLongWordFraction:
                        item = ReadFraction(i, {}).AsString();
                        break;
                    case tdLongIntFraction: {
                        const auto f = ReadFraction(i, {});
                        item = TTiffLongIntFraction(static_cast<std::int32_t>(f.Numerator),
                                                    static_cast<std::int32_t>(f.Denominator))
                                   .AsString();
                        break;
                    }
                    case tdSingle: {
                        float f;
                        std::memcpy(&f, data_.data() + 4 * k, 4);
                        item = FormatFloat(static_cast<double>(f));
                        break;
                    }
                    case tdDouble: {
                        double d;
                        std::memcpy(&d, data_.data() + 8 * k, 8);
                        item = FormatFloat(d);
                        break;
                    }
                    default:
                        break;
                }
                if (elementCount_ == 1) {
                    s = item;
                } else {
                    if (i > 0) s += ',';
                    AppendCommaItem(s, item);
                }
            }
        }
    }
    asStringCache_ = std::move(s);
    asStringCached_ = true;
    return asStringCache_;
}

void TExifTag::SetAsString(const std::string& value) {
    if (value.empty()) {
        SetElementCount(0);
        return;
    }
    if (dataType_ == tdAscii) {
        const bool enforce =
            section_ != nullptr && section_->Owner() != nullptr && section_->Owner()->EnforceASCII();
        if (enforce && std::any_of(value.begin(), value.end(),
                                   [](char c) { return static_cast<unsigned char>(c) > 127; })) {
            throw ENotOnlyASCIIError();
        }
        std::string bytes = Utf8ToWin1252(value);
        bytes.push_back('\0');
        UpdateData(tdAscii, static_cast<std::int32_t>(bytes.size()), bytes.data());
    } else if (dataType_ == tdUndefined) {
        // Anything but pairs of hexadecimal digits is refused as a whole: the tag keeps its bytes.
        std::vector<std::uint8_t> bytes;
        bytes.reserve(value.size() / 2);
        auto hexValue = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
            const int hi = hexValue(value[i]);
            const int lo = hexValue(value[i + 1]);
            if (hi < 0 || lo < 0) throw InvalidValueError(kNotAnInteger, value);
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        UpdateData(tdUndefined, static_cast<std::int32_t>(bytes.size()), bytes.data());
    } else if (HasWindowsStringData()) {
        const auto bytes = Utf8ToUtf16LeZ(value);
        UpdateData(tdByte, static_cast<std::int32_t>(bytes.size()), bytes.data());
    } else {
        const auto items = SplitCommaText(value);
        const std::uint32_t es = ElementSize();
        std::vector<std::uint8_t> bytes(items.size() * es, 0);
        for (std::size_t i = 0; i < items.size(); ++i) {
            const std::string& it = items[i];
            std::uint8_t* dst = bytes.data() + i * es;
            auto putInt = [&](std::int64_t lo, std::int64_t hi) {
                const std::optional<std::int64_t> v = ParseBlankedInteger<std::int64_t>(it);
                if (!v) throw InvalidValueError(kNotAnInteger, it);
                if (*v < lo || *v > hi) throw RangeError();
                WriteElementLow(dst, es, 0, *v);
            };
            switch (dataType_) {
                case tdByte:
                    putInt(0, 255);
                    break;
                case tdWord:
                    putInt(0, 65535);
                    break;
                case tdLongWord:
                    putInt(0, 4294967295LL);
                    break;
                case tdShortInt:
                    putInt(-128, 127);
                    break;
                case tdSmallInt:
                    putInt(-32768, 32767);
                    break;
                case tdLongInt:
                case tdSubDirectory:
                    putInt(std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max());
                    break;
                case tdLongWordFraction: {
                    const TTiffLongWordFraction f(it);
                    WriteElementLow(dst, 4, 0, f.Numerator);
                    WriteElementLow(dst, 4, 1, f.Denominator);
                    break;
                }
                case tdLongIntFraction: {
                    const TTiffLongIntFraction f(it);
                    WriteElementLow(dst, 4, 0, static_cast<std::uint32_t>(f.Numerator));
                    WriteElementLow(dst, 4, 1, static_cast<std::uint32_t>(f.Denominator));
                    break;
                }
                case tdSingle:
                case tdDouble: {
                    double d = 0;
                    const char* b = it.data();
                    const auto r = std::from_chars(b, b + it.size(), d);
                    if (r.ec != std::errc() || r.ptr != b + it.size()) {
                        throw InvalidValueError(kNotAFloat, it);
                    }
                    if (dataType_ == tdSingle) {
                        const auto f = static_cast<float>(d);
                        std::memcpy(dst, &f, 4);
                    } else {
                        std::memcpy(dst, &d, 8);
                    }
                    break;
                }
                default:
                    break;
            }
        }
        UpdateData(dataType_, static_cast<std::int32_t>(items.size()), bytes.data());
    }
    asStringCache_ = value;
    asStringCached_ = true;
}

}  // namespace zeloro
