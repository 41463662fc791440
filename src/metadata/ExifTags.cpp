// src/metadata/ExifTags.cpp: tags, sections, rationals and their text forms.
#include "metadata/ExifTags.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "common/Win1252.h"
#include "metadata/ExifData.h"
#include "metadata/TiffReader.h"

namespace zeloro {

namespace {

bool IsIntegerType(TTiffDataType t) noexcept {
    return t == tdByte || t == tdWord || t == tdLongWord || t == tdShortInt || t == tdSmallInt;
}

std::int64_t ReadElementAsInt(const std::uint8_t* data, TTiffDataType type, std::size_t index) noexcept {
    switch (type) {
        case tdByte: return data[index];
        case tdShortInt: return static_cast<std::int8_t>(data[index]);
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
        default: return 0;
    }
}

void WriteElementLow(std::uint8_t* data, std::uint32_t elementSize, std::size_t index, std::int64_t value) noexcept {
    // Held little-endian: the low-order bytes come first, so a narrower width keeps exactly those.
    const auto u = static_cast<std::uint64_t>(value);
    for (std::uint32_t b = 0; b < elementSize; ++b) {
        data[index * elementSize + b] = static_cast<std::uint8_t>((u >> (8U * b)) & 0xFFU);
    }
}

std::uint32_t LE32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Blanks around the number are accepted, as the text-to-number routine of the system does.
template <std::integral T>
std::optional<T> ParseBlankedInteger(std::string_view text) noexcept {
    text = TrimLeadingSpaces(text);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return ParseInteger<T>(text);
}

std::string FormatFloat(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// One item of comma-separated text, quoted when it holds a blank, a comma or a double quote.
void AppendCommaItem(std::string& out, const std::string& item) {
    if (item.find_first_of(" ,\"") == std::string::npos) {
        out += item;
        return;
    }
    out += '"';
    for (const char c : item) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::vector<std::string> SplitCommaText(std::string_view text) {
    std::vector<std::string> items;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    };
    skipBlanks();
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item += text[i++];
        } else {
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item += text[i++];
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < n && text[i] == ',') {
            ++i;
            skipBlanks();
            if (i == n) items.emplace_back();
        }
    }
    return items;
}

std::string Utf16LeToUtf8(const std::uint8_t* p, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        char32_t cu = static_cast<char32_t>(p[2 * i] | (p[2 * i + 1] << 8U));
        if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < units) {
            const char32_t lo = static_cast<char32_t>(p[2 * i + 2] | (p[2 * i + 3] << 8U));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cu = 0x10000 + ((cu - 0xD800) << 10U) + (lo - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cu);
    }
    return out;
}

std::vector<std::uint8_t> Utf8ToUtf16LeZ(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::size_t pos = 0;
    auto put = [&out](char32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFFU));
        out.push_back(static_cast<std::uint8_t>((u >> 8U) & 0xFFU));
    };
    while (pos < text.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(text, pos, cp)) cp = U'?';
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10U));
            put(0xDC00 + (cp & 0x3FFU));
        } else {
            put(cp);
        }
    }
    put(0);
    return out;
}

}  // namespace

// ---- exceptions ----
ETagAlreadyExists::ETagAlreadyExists(unsigned id)
    : EInvalidTiffData("Tag with ID of \"" + std::to_string(id) + "\" already exists in section") {}

// ---- rationals ----
TTiffLongWordFraction::TTiffLongWordFraction(Currency quotient) {
    // The currency value already is the quotient times 10000, exact.
    std::int64_t num = quotient.value;
    std::int64_t den = 10000;
    std::int64_t a = num;
    std::int64_t b = den;
    while (b != 0) {
        const std::int64_t r = a % b;
        a = b;
        b = r;
    }
    if (a < 0) a = -a;
    if (a != 0) {
        num /= a;
        den /= a;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (num < 0 || num > kMax || den < 0 || den > kMax) {
        throw RangeError();
    }
    Numerator = static_cast<std::uint32_t>(num);
    Denominator = static_cast<std::uint32_t>(den);
}

namespace {

// "n" or "n/d"; the fraction keeps its value when the text is not one of these.
template <typename Fraction, typename T>
void ParseFraction(std::string_view text, Fraction& fraction) {
    const auto slash = text.find('/');
    const std::optional<T> n = ParseBlankedInteger<T>(text.substr(0, slash));
    const std::optional<T> d = slash == std::string_view::npos ? T{1} : ParseBlankedInteger<T>(text.substr(slash + 1));
    if (n && d) {
        fraction.Numerator = *n;
        fraction.Denominator = *d;
    }
}

// Empty for a missing value (denominator 0), "n" for a whole number, else "n/d".
template <typename T>
std::string FractionText(T numerator, T denominator) {
    if (denominator == 0) return {};
    if (denominator == 1) return std::to_string(numerator);
    return std::to_string(numerator) + "/" + std::to_string(denominator);
}

}  // namespace

TTiffLongWordFraction::TTiffLongWordFraction(std::string_view text) {
    ParseFraction<TTiffLongWordFraction, std::uint32_t>(text, *this);
}

std::string TTiffLongWordFraction::AsString() const { return FractionText(Numerator, Denominator); }

TTiffLongIntFraction::TTiffLongIntFraction(std::string_view text) {
    ParseFraction<TTiffLongIntFraction, std::int32_t>(text, *this);
}

std::string TTiffLongIntFraction::AsString() const { return FractionText(Numerator, Denominator); }

// ---- TExifTag ----
TExifTag::TExifTag(TExifSection* section, TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount)
    : dataType_(dataType), elementCount_(std::max(elementCount, 0)), id_(id), section_(section) {
    data_.assign(DataSize(), 0);
    originalDataSize_ = static_cast<std::int32_t>(DataSize());
}

TExifTag::TExifTag(TExifSection* section, const TTiffTagInfo& info, const TTiffInfo& tiff)
    : dataType_(info.IsValid() ? static_cast<TTiffDataType>(info.DataType) : tdUndefined),
      elementCount_(info.IsValid() ? info.ElementCount : 0), id_(info.ID), originalDataOffset_(info.DataOffset),
      wellFormed_(info.IsValid()), section_(section) {
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
        for (std::size_t i = 0; i < n; ++i) remembered.push_back(ReadElementAsInt(data_.data(), dataType_, i));
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
    Changed(newSize == oldSize ? TChangeKind::Data : TChangeKind::Size);
}

void TExifTag::UpdateData(const void* value) {
    CheckChange(id_, dataType_, elementCount_);
    if (!data_.empty() && value != nullptr) std::memcpy(data_.data(), value, data_.size());
    Changed(TChangeKind::Data);
}

void TExifTag::Changed(TChangeKind kind) {
    if (kind != TChangeKind::ID) {
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
    Changed(TChangeKind::ID);
}

void TExifTag::SetDataType(TTiffDataType value) {
    if (value != dataType_) UpdateData(value, elementCount_, nullptr);
}

void TExifTag::SetElementCount(std::int32_t value) {
    if (value != elementCount_) UpdateData(dataType_, value, nullptr);
}

TTiffLongWordFraction TExifTag::ReadFraction(std::int32_t index, TTiffLongWordFraction def) const noexcept {
    if ((dataType_ != tdLongWordFraction && dataType_ != tdLongIntFraction) || index < 0 || index >= elementCount_) {
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
        case tdShortInt: return data_[i];
        case tdWord:
        case tdSmallInt: return static_cast<std::uint32_t>(data_[2 * i] | (data_[2 * i + 1] << 8U));
        case tdLongWord:
        case tdLongInt: return LE32(data_.data() + 4 * i);
        default: return def;
    }
}

std::uint16_t TExifTag::ReadWord(std::int32_t index, std::uint16_t def) const noexcept {
    if (index < 0 || index >= elementCount_) return def;
    const auto i = static_cast<std::size_t>(index);
    switch (dataType_) {
        case tdByte:
        case tdShortInt: return data_[i];
        case tdWord:
        case tdSmallInt: return static_cast<std::uint16_t>(data_[2 * i] | (data_[2 * i + 1] << 8U));
        default: return def;
    }
}

bool TExifTag::HasWindowsStringData() const noexcept {
    return dataType_ == tdByte && section_ != nullptr && section_->Kind() == esGeneral && id_ >= 40091 &&
           id_ <= 40095;
}

bool TExifTag::IsPadding() const noexcept {
    return id_ == ttPadding && dataType_ == tdUndefined && elementCount_ > 1 && data_[0] == 0x1C && data_[1] == 0xEA;
}

void TExifTag::SetAsPadding(TExifPaddingTagSize size) {
    size = std::max(size, 2);
    SetID(ttPadding);
    UpdateData(tdUndefined, size, nullptr);
    std::fill(data_.begin(), data_.end(), 0);
    data_[0] = 0x1C;
    data_[1] = 0xEA;
    Changed(TChangeKind::Data);
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
                    case tdLongWord: item = std::to_string(ReadLongWord(i, 0)); break;
                    case tdShortInt: item = std::to_string(static_cast<std::int8_t>(data_[k])); break;
                    case tdSmallInt: item = std::to_string(static_cast<std::int16_t>(ReadWord(i, 0))); break;
                    case tdLongInt:
                    case tdSubDirectory: item = std::to_string(static_cast<std::int32_t>(LE32(data_.data() + 4 * k))); break;
                    case tdLongWordFraction: item = ReadFraction(i, {}).AsString(); break;
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
                    default: break;
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
        const bool enforce = section_ != nullptr && section_->Owner() != nullptr && section_->Owner()->EnforceASCII();
        if (enforce && std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) > 127; })) {
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
                case tdByte: putInt(0, 255); break;
                case tdWord: putInt(0, 65535); break;
                case tdLongWord: putInt(0, 4294967295LL); break;
                case tdShortInt: putInt(-128, 127); break;
                case tdSmallInt: putInt(-32768, 32767); break;
                case tdLongInt:
                case tdSubDirectory: putInt(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()); break;
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
                default: break;
            }
        }
        UpdateData(dataType_, static_cast<std::int32_t>(items.size()), bytes.data());
    }
    asStringCache_ = value;
    asStringCached_ = true;
}

// ---- TExifSection ----
TExifSection::TExifSection(TCustomExifData* owner, TExifSectionKindEx kind) : kind_(kind), owner_(owner) {}

TExifSection::~TExifSection() {
    for (auto& tag : tags_) tag->section_ = nullptr;
}

TExifTag* TExifSection::Iterator::operator*() {
    current_ = index_ >= 0 && index_ < section_->Count() ? (*section_)[index_] : nullptr;
    return current_;
}

TExifSection::Iterator& TExifSection::Iterator::operator++() {
    // A deleted current tag leaves its successor at the same index.
    if (index_ >= 0 && index_ < section_->Count() && (current_ == nullptr || (*section_)[index_] == current_)) {
        ++index_;
    }
    current_ = nullptr;
    return *this;
}

bool TExifSection::Iterator::operator==(const Iterator& o) const noexcept {
    const bool atEnd = index_ < 0 || index_ >= section_->Count();
    const bool oAtEnd = o.index_ < 0 || o.index_ >= o.section_->Count();
    if (atEnd || oAtEnd) return atEnd == oAtEnd;
    return index_ == o.index_;
}

TExifTag* TExifSection::Find(TTiffTagID id) const noexcept {
    for (const auto& tag : tags_) {
        if (tag->ID() >= id) {
            return tag->ID() == id ? tag.get() : nullptr;
        }
    }
    return nullptr;
}

bool TExifSection::Find(TTiffTagID id, TExifTag*& tag) const noexcept {
    tag = Find(id);
    return tag != nullptr;
}

bool TExifSection::TagExists(TTiffTagID id, TTiffDataTypes validTypes, std::int32_t minCount) const noexcept {
    const TExifTag* tag = Find(id);
    return tag != nullptr && validTypes.Contains(tag->DataType()) && tag->ElementCount() >= minCount;
}

std::int32_t TExifSection::IndexOf(const TExifTag* tag) const noexcept {
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        if (tags_[i].get() == tag) return static_cast<std::int32_t>(i);
    }
    return -1;
}

void TExifSection::Changed() {
    modified_ = true;
    if (owner_ != nullptr && kind_ != esUserDefined) {
        owner_->Changed();
    }
}

void TExifSection::CheckTagChange(const TExifTag& tag, TTiffTagID newID, TTiffDataType newType,
                                  std::int32_t newCount) const {
    if (newID != tag.ID()) {
        if (!IsExtendable()) throw EIllegalEditOfExifData();
        const TExifTag* other = Find(newID);
        if (other != nullptr && other != &tag) throw ETagAlreadyExists(newID);
    }
    const std::uint64_t newSize = static_cast<std::uint64_t>(std::max(newCount, 0)) * TiffElementSize(newType);
    if (newSize > 4 && newSize > static_cast<std::uint64_t>(std::max(tag.OriginalDataSize(), 0)) && !IsExtendable()) {
        throw EIllegalEditOfExifData();
    }
    if (kind_ == esDetails && tag.ID() == ttMakerNote && owner_ != nullptr) {
        owner_->ResetMakerNote();
    }
}

void TExifSection::TagChanged(TExifTag& tag, TExifTag::TChangeKind kind) {
    if (kind == TExifTag::TChangeKind::ID) {
        const std::int32_t index = IndexOf(&tag);
        if (index >= 0) {
            auto owned = std::move(tags_[static_cast<std::size_t>(index)]);
            tags_.erase(tags_.begin() + index);
            auto pos = std::find_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t->ID() > tag.ID(); });
            tags_.insert(pos, std::move(owned));
        }
    }
    Changed();
}

TExifTag* TExifSection::AddTag(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount) {
    if (!IsExtendable()) throw EIllegalEditOfExifData();
    if (Find(id) != nullptr) throw ETagAlreadyExists(id);
    auto tag = std::make_unique<TExifTag>(this, id, dataType, elementCount);
    TExifTag* raw = tag.get();
    auto pos = std::find_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t->ID() > id; });
    tags_.insert(pos, std::move(tag));
    Changed();
    return raw;
}

void TExifSection::DeleteAt(std::int32_t index, bool /*fromTagDestructor*/) {
    if (index < 0 || index >= Count()) return;
    auto owned = std::move(tags_[static_cast<std::size_t>(index)]);
    tags_.erase(tags_.begin() + index);
    owned->section_ = nullptr;
    if (owned->ID() == ttMakerNote && kind_ == esDetails && owner_ != nullptr) {
        owner_->ResetMakerNote();
    }
    owned.reset();
    Changed();
}

void TExifSection::DetachTag(TExifTag* tag) noexcept {
    const std::int32_t index = IndexOf(tag);
    if (index >= 0) {
        (void)tags_[static_cast<std::size_t>(index)].release();
        tags_.erase(tags_.begin() + index);
    }
}

void TExifSection::Clear() {
    loadErrors_.Clear();
    TExifUpdateScope update(owner_);
    while (!tags_.empty()) DeleteAt(Count() - 1, false);
}

bool TExifSection::Remove(TTiffTagID id) {
    const std::int32_t index = IndexOf(Find(id));
    if (index < 0) return false;
    DeleteAt(index, false);
    return true;
}

void TExifSection::Remove(std::initializer_list<TTiffTagID> ids) { Remove(std::span<const TTiffTagID>(ids.begin(), ids.size())); }

void TExifSection::Remove(std::span<const TTiffTagID> ids) {
    TExifUpdateScope update(owner_);
    for (std::int32_t i = Count() - 1; i >= 0; --i) {
        const TTiffTagID id = tags_[static_cast<std::size_t>(i)]->ID();
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) DeleteAt(i, false);
    }
}

bool TExifSection::RemovePaddingTag() {
    for (std::int32_t i = 0; i < Count(); ++i) {
        if (tags_[static_cast<std::size_t>(i)]->IsPadding()) {
            DeleteAt(i, false);
            return true;
        }
    }
    return false;
}

// ---- typed reads ----
bool TExifSection::TryGetByteValue(TTiffTagID id, std::int32_t index, std::uint8_t& value) const {
    const TExifTag* tag = Find(id);
    if (tag == nullptr || index < 0 || index >= tag->ElementCount()) return false;
    const auto t = tag->DataType();
    if (t != tdByte && t != tdShortInt && t != tdUndefined) return false;
    value = tag->Data()[index];
    return true;
}

bool TExifSection::TryGetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t& value) const {
    const TExifTag* tag = Find(id);
    if (tag == nullptr || index < 0 || index >= tag->ElementCount()) return false;
    const auto t = tag->DataType();
    if (t != tdByte && t != tdShortInt && t != tdWord && t != tdSmallInt) return false;
    value = tag->ReadWord(index, 0);
    return true;
}

bool TExifSection::TryGetLongWordValue(TTiffTagID id, std::int32_t index, std::uint32_t& value) const {
    const TExifTag* tag = Find(id);
    if (tag == nullptr || index < 0 || index >= tag->ElementCount()) return false;
    const auto t = tag->DataType();
    if (t != tdByte && t != tdShortInt && t != tdWord && t != tdSmallInt && t != tdLongWord && t != tdLongInt) return false;
    value = tag->ReadLongWord(index, 0);
    return true;
}

bool TExifSection::TryGetStringValue(TTiffTagID id, std::string& value) const {
    const TExifTag* tag = Find(id);
    if (tag == nullptr || tag->DataType() != tdAscii || tag->ElementCount() < 1) return false;
    // The last byte is taken for the terminator, unseen.
    value = Win1252ToUtf8(std::string_view(reinterpret_cast<const char*>(tag->Data()),
                                           static_cast<std::size_t>(tag->ElementCount() - 1)));
    return true;
}

bool TExifSection::TryGetWindowsStringValue(TTiffTagID id, std::string& value) const {
    const TExifTag* tag = Find(id);
    if (tag == nullptr || tag->DataType() != tdByte || tag->ElementCount() <= 1) return false;
    const std::size_t units = static_cast<std::size_t>(tag->ElementCount()) / 2;
    value = units > 0 ? Utf16LeToUtf8(tag->Data(), units - 1) : std::string();
    return true;
}

std::uint8_t TExifSection::GetByteValue(TTiffTagID id, std::int32_t index, std::uint8_t def, std::uint8_t min,
                                        std::uint8_t max) const {
    std::uint8_t v = 0;
    return TryGetByteValue(id, index, v) && v >= min && v <= max ? v : def;
}

std::uint16_t TExifSection::GetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t def, std::uint16_t min,
                                         std::uint16_t max) const {
    std::uint16_t v = 0;
    return TryGetWordValue(id, index, v) && v >= min && v <= max ? v : def;
}

std::int16_t TExifSection::GetSmallIntValue(TTiffTagID id, std::int32_t index, std::int16_t def, std::int16_t min,
                                            std::int16_t max) const {
    std::uint16_t v = 0;
    if (!TryGetWordValue(id, index, v)) return def;
    const auto s = static_cast<std::int16_t>(v);
    return s >= min && s <= max ? s : def;
}

TWordTagValue TExifSection::GetWordValue(TTiffTagID id, std::int32_t index) const {
    TWordTagValue r;
    r.FMissingOrInvalid = !TryGetWordValue(id, index, r.FValue);
    if (r.FMissingOrInvalid) r.FValue = 0;
    return r;
}

TLongWordTagValue TExifSection::GetLongWordValue(TTiffTagID id, std::int32_t index) const {
    TLongWordTagValue r;
    r.FMissingOrInvalid = !TryGetLongWordValue(id, index, r.FValue);
    if (r.FMissingOrInvalid) r.FValue = 0;
    return r;
}

TLongIntTagValue TExifSection::GetLongIntValue(TTiffTagID id, std::int32_t index) const {
    TLongIntTagValue r;
    std::uint32_t v = 0;
    r.FMissingOrInvalid = !TryGetLongWordValue(id, index, v);
    r.FValue = r.FMissingOrInvalid ? 0 : static_cast<std::int32_t>(v);
    return r;
}

std::uint32_t TExifSection::GetLongWordValue(TTiffTagID id, std::int32_t index, std::uint32_t def) const {
    std::uint32_t v = 0;
    return TryGetLongWordValue(id, index, v) ? v : def;
}

std::int32_t TExifSection::GetLongIntValue(TTiffTagID id, std::int32_t index, std::int32_t def) const {
    std::uint32_t v = 0;
    return TryGetLongWordValue(id, index, v) ? static_cast<std::int32_t>(v) : def;
}

TTiffLongWordFraction TExifSection::GetFractionValue(TTiffTagID id, std::int32_t index, TTiffLongWordFraction def) const {
    const TExifTag* tag = Find(id);
    return tag == nullptr ? def : tag->ReadFraction(index, def);
}

TTiffLongIntFraction TExifSection::GetSignedFractionValue(TTiffTagID id, std::int32_t index, TTiffLongIntFraction def) const {
    const TExifTag* tag = Find(id);
    if (tag == nullptr) return def;
    const TTiffLongWordFraction missing(0, 0);
    const auto f = tag->ReadFraction(index, missing);
    if (tag->DataType() != tdLongWordFraction && tag->DataType() != tdLongIntFraction) return def;
    if (index < 0 || index >= tag->ElementCount()) return def;
    return {static_cast<std::int32_t>(f.Numerator), static_cast<std::int32_t>(f.Denominator)};
}

std::string TExifSection::GetStringValue(TTiffTagID id, const std::string& def) const {
    std::string v;
    return TryGetStringValue(id, v) ? v : def;
}

std::string TExifSection::GetWindowsStringValue(TTiffTagID id, const std::string& def) const {
    std::string v;
    return TryGetWindowsStringValue(id, v) ? v : def;
}

// ---- typed writes ----
template <typename T>
TExifTag* TExifSection::SetIntegerValue(TTiffTagID id, std::int32_t index, TTiffDataType type, T value) {
    if (index < 0) throw RangeError();
    TExifTag* tag = Find(id);
    if (tag != nullptr) {
        tag->UpdateData(type, std::max(index + 1, tag->ElementCount()), nullptr);
    } else {
        tag = AddTag(id, type, index + 1);
    }
    std::uint8_t bytes[sizeof(T)];
    WriteElementLow(bytes, sizeof(T), 0, static_cast<std::int64_t>(value));
    std::uint8_t* dst = tag->Data() + static_cast<std::size_t>(index) * sizeof(T);
    if (std::memcmp(dst, bytes, sizeof(T)) != 0) {
        std::memcpy(dst, bytes, sizeof(T));
        tag->Changed(TExifTag::TChangeKind::Data);
    }
    return tag;
}

TExifTag* TExifSection::SetByteValue(TTiffTagID id, std::int32_t index, std::uint8_t value) {
    return SetIntegerValue(id, index, tdByte, value);
}
TExifTag* TExifSection::SetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t value) {
    return SetIntegerValue(id, index, tdWord, value);
}
TExifTag* TExifSection::SetLongWordValue(TTiffTagID id, std::int32_t index, std::uint32_t value) {
    return SetIntegerValue(id, index, tdLongWord, value);
}

template <typename F>
TExifTag* TExifSection::SetFraction(TTiffTagID id, std::int32_t index, TTiffDataType type, F value) {
    if (index < 0) throw RangeError();
    if (value.Numerator == 0 && value.Denominator == 0) {
        TExifTag* tag = Find(id);
        if (tag == nullptr || index >= tag->ElementCount()) return nullptr;
        if (index == tag->ElementCount() - 1) {
            if (index == 0) {
                DeleteAt(IndexOf(tag), false);
                return nullptr;
            }
            tag->SetElementCount(index);
            return tag;
        }
    }
    TExifTag* tag = Find(id);
    if (tag != nullptr) {
        tag->UpdateData(type, std::max(index + 1, tag->ElementCount()), nullptr);
    } else {
        tag = AddTag(id, type, index + 1);
    }
    std::uint8_t bytes[8];
    WriteElementLow(bytes, 4, 0, static_cast<std::uint32_t>(value.Numerator));
    WriteElementLow(bytes, 4, 1, static_cast<std::uint32_t>(value.Denominator));
    std::uint8_t* dst = tag->Data() + static_cast<std::size_t>(index) * 8;
    if (std::memcmp(dst, bytes, 8) != 0) {
        std::memcpy(dst, bytes, 8);
        tag->Changed(TExifTag::TChangeKind::Data);
    }
    return tag;
}

TExifTag* TExifSection::SetFractionValue(TTiffTagID id, std::int32_t index, TTiffLongWordFraction value) {
    return SetFraction(id, index, tdLongWordFraction, value);
}

TExifTag* TExifSection::SetSignedFractionValue(TTiffTagID id, std::int32_t index, TTiffLongIntFraction value) {
    return SetFraction(id, index, tdLongIntFraction, value);
}

TExifTag* TExifSection::SetStringValue(TTiffTagID id, const std::string& value) {
    if (value.empty()) {
        Remove(id);
        return nullptr;
    }
    if (owner_ != nullptr && owner_->EnforceASCII() &&
        std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) > 127; })) {
        throw ENotOnlyASCIIError();
    }
    std::string bytes = Utf8ToWin1252(value);
    bytes.push_back('\0');
    TExifTag* tag = Find(id);
    if (tag == nullptr) tag = AddTag(id, tdAscii, static_cast<std::int32_t>(bytes.size()));
    tag->UpdateData(tdAscii, static_cast<std::int32_t>(bytes.size()), bytes.data());
    return tag;
}

TExifTag* TExifSection::SetWindowsStringValue(TTiffTagID id, const std::string& value) {
    if (value.empty()) {
        Remove(id);
        return nullptr;
    }
    const auto bytes = Utf8ToUtf16LeZ(value);
    TExifTag* tag = Find(id);
    if (tag == nullptr) tag = AddTag(id, tdByte, static_cast<std::int32_t>(bytes.size()));
    tag->UpdateData(tdByte, static_cast<std::int32_t>(bytes.size()), bytes.data());
    return tag;
}

// ---- loading ----
void TExifSection::LoadFromDirectory(const TTiffInfo& info, const TTiffDirectory& directory) {
    Clear();
    loadErrors_ = directory.LoadErrors;
    firstTagHeaderOffset_ = directory.Tags.empty() ? 0 : directory.Tags.front().HeaderOffset;
    tags_.reserve(directory.Tags.size());
    for (const TTiffTagInfo& ti : directory.Tags) {
        tags_.push_back(std::make_unique<TExifTag>(this, ti, info));
    }
    std::stable_sort(tags_.begin(), tags_.end(), [](const auto& a, const auto& b) { return a->ID() < b->ID(); });
    modified_ = false;
}

void TExifSection::LoadAtOffset(const TTiffInfo& info, std::int64_t dataOffsetBase, std::int64_t directoryOffset) {
    LoadFromDirectory(info, ParseTiffDirectory(info, dataOffsetBase, directoryOffset));
}

// ---- extendable section ----
TExifTag* TExtendableExifSection::Add(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount) {
    return AddTag(id, dataType, elementCount);
}

TExifTag* TExtendableExifSection::AddOrUpdate(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount,
                                              const void* data) {
    TExifTag* tag = Find(id);
    if (tag == nullptr) tag = AddTag(id, dataType, elementCount);
    tag->UpdateData(dataType, elementCount, data);
    return tag;
}

void TExtendableExifSection::Assign(const TExifSection* source) {
    if (source == this) return;  // clearing first would lose the very tags to be copied
    TExifUpdateScope update(Owner());
    Clear();
    if (source != nullptr) CopyTags(*source);
}

void TExtendableExifSection::CopyTags(const TExifSection& source) {
    TExifUpdateScope update(Owner());
    for (std::int32_t i = 0; i < source.Count(); ++i) {
        const TExifTag* tag = source[i];
        AddOrUpdate(tag->ID(), tag->DataType(), tag->ElementCount(), tag->Data());
    }
}

}  // namespace zeloro
