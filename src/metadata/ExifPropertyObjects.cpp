// src/metadata/ExifPropertyObjects.cpp: the property objects bound to the EXIF container.
#include "metadata/ExifPropertyObjects.h"

#include "common/Error.h"
#include "metadata/ExifData.h"

namespace zeloro {

namespace {

bool IsDigit(std::uint8_t c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

TExifSection& ExifPropertyObject::Section() const { return owner_->RawSection(section_); }

TExifTag* ExifPropertyObject::WriteTag(TTiffTagID id, TTiffDataType type,
                                       std::span<const std::uint8_t> data) const {
    TExifSection& section = Section();
    const auto count = static_cast<std::int32_t>(data.size());
    TExifTag* tag = section.Find(id);
    if (tag == nullptr) {
        if (!section.IsExtendable()) throw EIllegalEditOfExifData();
        return static_cast<TExtendableExifSection&>(section).AddOrUpdate(id, type, count, data.data());
    }
    tag->UpdateData(type, count, data.data());
    return tag;
}

bool CustomExifVersion::MissingOrInvalid() const {
    const TExifTag* tag = Section().Find(tagID_);
    if (tag == nullptr || tag->ElementCount() < 4) return true;
    // Cameras write the character versions as UNDEFINED or as BYTE; both read alike.
    const auto t = tag->DataType();
    return t != dataType_ &&
           !((t == tdUndefined || t == tdByte) && (dataType_ == tdUndefined || dataType_ == tdByte));
}

std::array<std::uint8_t, 4> CustomExifVersion::Elements() const {
    std::array<std::uint8_t, 4> out{};
    if (MissingOrInvalid()) return out;
    const auto bytes = Section().Find(tagID_)->Bytes();
    for (std::size_t i = 0; i < out.size() && i < bytes.size(); ++i) out[i] = bytes[i];
    return out;
}

std::string CustomExifVersion::AsString() const {
    if (MissingOrInvalid()) return {};
    const auto e = Elements();
    if (dataType_ == tdByte) {
        return std::to_string(e[0]) + "." + std::to_string(e[1]) + "." + std::to_string(e[2]) + "." +
               std::to_string(e[3]);
    }
    // Character versions: "0230" reads "2.30"; a leading zero of the major part is dropped.
    std::string out;
    if (e[0] != '0') out += static_cast<char>(e[0]);
    out += static_cast<char>(e[1]);
    out += '.';
    out += static_cast<char>(e[2]);
    out += static_cast<char>(e[3]);
    return out;
}

void CustomExifVersion::SetElements(const std::array<std::uint8_t, 4>& elements) {
    WriteTag(tagID_, dataType_, elements);
}

void CustomExifVersion::Clear() { Section().Remove(tagID_); }

std::uint8_t CustomExifCharVersion::Major() const {
    const auto e = Elements();
    if (MissingOrInvalid() || !IsDigit(e[0]) || !IsDigit(e[1])) return 0;
    return static_cast<std::uint8_t>((e[0] - '0') * 10 + (e[1] - '0'));
}

std::uint8_t CustomExifCharVersion::Minor() const {
    const auto e = Elements();
    if (MissingOrInvalid() || !IsDigit(e[2]) || !IsDigit(e[3])) return 0;
    return static_cast<std::uint8_t>((e[2] - '0') * 10 + (e[3] - '0'));
}

void CustomExifCharVersion::Assign(std::uint8_t major, std::uint8_t minor) {
    if (major > 99 || minor > 99) throw RangeError();
    SetElements({static_cast<std::uint8_t>('0' + major / 10), static_cast<std::uint8_t>('0' + major % 10),
                 static_cast<std::uint8_t>('0' + minor / 10), static_cast<std::uint8_t>('0' + minor % 10)});
}

bool TExifFlashInfo::MissingOrInvalid() const { return Value().MissingOrInvalid(); }

TWordTagValue TExifFlashInfo::Value() const { return Section().GetWordValue(kFlashTag, 0); }

void TExifFlashInfo::SetValue(std::uint16_t value) { Section().SetWordValue(kFlashTag, 0, value); }

bool TExifFlashInfo::Fired() const { return (Section().GetWordValue(kFlashTag, 0, 0) & 0x01U) != 0; }
void TExifFlashInfo::SetFired(bool value) { SetBit(0x01U, value); }
bool TExifFlashInfo::RedEyeReduction() const {
    return (Section().GetWordValue(kFlashTag, 0, 0) & 0x40U) != 0;
}
void TExifFlashInfo::SetRedEyeReduction(bool value) { SetBit(0x40U, value); }

void TExifFlashInfo::SetBit(std::uint16_t mask, bool on) {
    const std::uint16_t old = Section().GetWordValue(kFlashTag, 0, 0);
    const auto v = static_cast<std::uint16_t>(on ? (old | mask) : (old & ~mask));
    SetValue(v);
}

TTiffLongWordFraction TExifFlashInfo::StrobeEnergy() const {
    return Section().GetFractionValue(kFlashEnergyTag, 0);
}
void TExifFlashInfo::SetStrobeEnergy(TTiffLongWordFraction value) {
    Section().SetFractionValue(kFlashEnergyTag, 0, value);
}

void TExifFlashInfo::Clear() { Section().Remove({kFlashTag, kFlashEnergyTag}); }

bool CustomExifResolution::MissingOrInvalid() const { return X().Denominator == 0 || Y().Denominator == 0; }
TTiffLongWordFraction CustomExifResolution::X() const { return Section().GetFractionValue(xID_, 0); }
void CustomExifResolution::SetX(TTiffLongWordFraction value) { Section().SetFractionValue(xID_, 0, value); }
TTiffLongWordFraction CustomExifResolution::Y() const { return Section().GetFractionValue(yID_, 0); }
void CustomExifResolution::SetY(TTiffLongWordFraction value) { Section().SetFractionValue(yID_, 0, value); }

ExifResolutionUnit CustomExifResolution::Unit() const {
    std::uint16_t v = 0;
    if (!Section().TryGetWordValue(unitID_, 0, v)) return trTagMissing;
    if (owner_->EnsureEnumsInRange() && (v < trNone || v > trCentimetre)) return trTagMissing;
    return static_cast<ExifResolutionUnit>(v);
}

void CustomExifResolution::SetUnit(ExifResolutionUnit value) {
    if (value == trTagMissing) {
        Section().Remove(unitID_);
    } else {
        Section().SetWordValue(unitID_, 0, value);
    }
}

void CustomExifResolution::Clear() { Section().Remove({xID_, yID_, unitID_}); }

std::vector<std::uint16_t> TISOSpeedRatings::Values() const {
    std::vector<std::uint16_t> out;
    const TExifTag* tag = Section().Find(kTag);
    if (tag == nullptr) return out;
    for (std::int32_t i = 0; i < tag->ElementCount(); ++i) {
        std::uint16_t v = 0;
        if (!Section().TryGetWordValue(kTag, i, v)) return {};
        out.push_back(v);
    }
    return out;
}

bool TISOSpeedRatings::MissingOrInvalid() const { return Values().empty(); }

TWordTagValue TISOSpeedRatings::Value() const { return Section().GetWordValue(kTag, 0); }

std::string TISOSpeedRatings::AsString() const {
    std::string out;
    for (const auto v : Values()) {
        if (!out.empty()) out += ", ";
        out += std::to_string(v);
    }
    return out;
}

void TISOSpeedRatings::SetValues(std::span<const std::uint16_t> values) {
    if (values.empty()) {
        Clear();
        return;
    }
    ExifUpdateScope scope(*owner_);
    TExifSection& section = Section();
    // Shrink or retype first, so that the element writes below leave exactly the new values.
    if (TExifTag* tag = section.Find(kTag); tag != nullptr) {
        tag->UpdateData(tdWord, static_cast<std::int32_t>(values.size()), nullptr);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        section.SetWordValue(kTag, static_cast<std::int32_t>(i), values[i]);
    }
}

void TISOSpeedRatings::Clear() { Section().Remove(kTag); }

}  // namespace zeloro
