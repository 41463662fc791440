// src/metadata/ExifSection.cpp: one directory of tags: lookup, typed reads and writes, date-time values,
// loading from a TIFF directory.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/Error.h"
#include "common/Win1252.h"
#include "metadata/ExifData.h"
#include "metadata/ExifTags.h"
#include "metadata/TiffReader.h"
#include "metadata/detail/ExifTagData.h"
#include "metadata/detail/ExifTagText.h"

namespace zeloro {

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
    if (index_ >= 0 && index_ < section_->Count() &&
        (current_ == nullptr || (*section_)[index_] == current_)) {
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
    const std::uint64_t newSize =
        static_cast<std::uint64_t>(std::max(newCount, 0)) * TiffElementSize(newType);
    if (newSize > 4 && newSize > static_cast<std::uint64_t>(std::max(tag.OriginalDataSize(), 0)) &&
        !IsExtendable()) {
        throw EIllegalEditOfExifData();
    }
    if (kind_ == esDetails && tag.ID() == ttMakerNote && owner_ != nullptr) {
        owner_->ResetMakerNote();
    }
}

void TExifSection::TagChanged(TExifTag& tag, TExifTag::ChangeKind kind) {
    if (kind == TExifTag::ChangeKind::ID) {
        const std::int32_t index = IndexOf(&tag);
        if (index >= 0) {
            auto owned = std::move(tags_[static_cast<std::size_t>(index)]);
            tags_.erase(tags_.begin() + index);
            auto pos =
                std::find_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t->ID() > tag.ID(); });
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
    ExifUpdateScope update(owner_);
    while (!tags_.empty()) DeleteAt(Count() - 1, false);
}

bool TExifSection::Remove(TTiffTagID id) {
    const std::int32_t index = IndexOf(Find(id));
    if (index < 0) return false;
    DeleteAt(index, false);
    return true;
}

void TExifSection::Remove(std::initializer_list<TTiffTagID> ids) {
    Remove(std::span<const TTiffTagID>(ids.begin(), ids.size()));
}

void TExifSection::Remove(std::span<const TTiffTagID> ids) {
    ExifUpdateScope update(owner_);
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
    if (t != tdByte && t != tdShortInt && t != tdWord && t != tdSmallInt && t != tdLongWord && t != tdLongInt)
        return false;
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

std::uint16_t TExifSection::GetWordValue(TTiffTagID id, std::int32_t index, std::uint16_t def,
                                         std::uint16_t min, std::uint16_t max) const {
    std::uint16_t v = 0;
    return TryGetWordValue(id, index, v) && v >= min && v <= max ? v : def;
}

std::int16_t TExifSection::GetSmallIntValue(TTiffTagID id, std::int32_t index, std::int16_t def,
                                            std::int16_t min, std::int16_t max) const {
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

TTiffLongWordFraction TExifSection::GetFractionValue(TTiffTagID id, std::int32_t index,
                                                     TTiffLongWordFraction def) const {
    const TExifTag* tag = Find(id);
    return tag == nullptr ? def : tag->ReadFraction(index, def);
}

TTiffLongIntFraction TExifSection::GetSignedFractionValue(TTiffTagID id, std::int32_t index,
                                                          TTiffLongIntFraction def) const {
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
        tag->Changed(TExifTag::ChangeKind::Data);
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
        tag->Changed(TExifTag::ChangeKind::Data);
    }
    return tag;
}

TExifTag* TExifSection::SetFractionValue(TTiffTagID id, std::int32_t index, TTiffLongWordFraction value) {
    return SetFraction(id, index, tdLongWordFraction, value);
}

TExifTag* TExifSection::SetSignedFractionValue(TTiffTagID id, std::int32_t index,
                                               TTiffLongIntFraction value) {
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

void TExifSection::LoadFromDirectory(const TTiffInfo& info, const TTiffDirectory& directory) {
    Clear();
    loadErrors_ = directory.LoadErrors;
    firstTagHeaderOffset_ = directory.Tags.empty() ? 0 : directory.Tags.front().HeaderOffset;
    tags_.reserve(directory.Tags.size());
    for (const TTiffTagInfo& ti : directory.Tags) {
        tags_.push_back(std::make_unique<TExifTag>(this, ti, info));
    }
    std::stable_sort(tags_.begin(), tags_.end(),
                     [](const auto& a, const auto& b) { return a->ID() < b->ID(); });
    modified_ = false;
}

void TExifSection::LoadAtOffset(const TTiffInfo& info, std::int64_t dataOffsetBase,
                                std::int64_t directoryOffset) {
    LoadFromDirectory(info, ParseTiffDirectory(info, dataOffsetBase, directoryOffset));
}

DateTimeValue TExifSection::GetDateTimeValue(TTiffTagID mainID, TTiffTagID /*subSecsID*/,
                                             DateTimeValue def) const {
    const TExifTag* tag = Find(mainID);
    if (tag == nullptr || tag->DataType() != tdAscii || tag->ElementCount() != 20) return def;
    // 19 characters and the terminator, whatever byte the terminator is.
    const char* t = reinterpret_cast<const char*>(tag->Data());
    if (t[4] != ':' || t[7] != ':') return def;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ParseField(t, 4, year) || !ParseField(t + 5, 2, month) || !ParseField(t + 8, 2, day) ||
        !ParseField(t + 11, 2, hour) || !ParseField(t + 14, 2, minute) || !ParseField(t + 17, 2, second)) {
        return def;
    }
    DateTimeValue date = 0;
    DateTimeValue time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time)) return def;
    return date < 0 ? date - time : date + time;
}

void TExifSection::SetDateTimeValue(TTiffTagID mainID, TTiffTagID subSecsID, DateTimeValue value) {
    TExifTag* subTag = nullptr;
    TExifSection* details = nullptr;
    if (subSecsID != 0 && owner_ != nullptr) {
        details = &owner_->RawSection(esDetails);
        subTag = details->Find(subSecsID);
        if (subTag == nullptr && value != 0 && owner_->AlwaysWritePreciseTimes()) {
            subTag = details->AddTag(subSecsID, tdAscii, 4);
        }
    }
    if (value == 0) {
        Remove(mainID);
        if (subTag != nullptr) subTag->Delete();
        return;
    }
    if (value != lastDateTimeValue_ || lastDateTimeText_.empty()) {
        const CalendarDate d = DecodeDate(value);
        const ClockTime c = DecodeTime(value);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.4d:%.2d:%.2d %.2d:%.2d:%.2d", d.year, d.month, d.day, c.hour,
                      c.minute, c.second);
        lastDateTimeText_ = buf;
        std::snprintf(buf, sizeof buf, "%.3d", c.millisecond);
        lastSubSecText_ = buf;
        lastDateTimeValue_ = value;
    }
    SetStringValue(mainID, lastDateTimeText_);
    if (subTag != nullptr) {
        subTag->SetDataType(tdAscii);
        subTag->SetAsString(lastSubSecText_);
    }
}

}  // namespace zeloro
