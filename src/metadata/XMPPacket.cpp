// src/metadata/XMPPacket.cpp: the XMP packet: loading and saving, its schemas and the update rules.
#include "metadata/XMPPacket.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "common/AsciiText.h"
#include "metadata/JPEGSegments.h"
#include "metadata/detail/XMPPacketIO.h"

namespace zeloro {

namespace {

[[nodiscard]] std::string_view TrimRight(std::string_view value) noexcept {
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 32) {
        value.remove_suffix(1);
    }
    return value;
}

}  // namespace

TXMPPacket::TXMPPacket() = default;

TXMPPacket::~TXMPPacket() = default;

void TXMPPacket::Assign(const TXMPPacket* source) {
    if (source == nullptr) {
        Clear();
        return;
    }
    const std::string text = source->RawXML();
    const bool writeHeader = source->FWriteSegmentHeader;
    SetRawXML(text);
    FWriteSegmentHeader = writeHeader;
}

bool TXMPPacket::HasSegmentHeader(std::span<const std::uint8_t> payload) noexcept {
    return payload.size() >= kXMPSegmentHeader.size() &&
           std::memcmp(payload.data(), kXMPSegmentHeader.data(), kXMPSegmentHeader.size()) == 0;
}

void TXMPPacket::SetAboutAttributeValue(std::string_view value) {
    if (value == FAboutAttributeValue) {
        return;
    }
    FAboutAttributeValue = std::string(value);
    Changed(true);
}

const std::string& TXMPPacket::RawXML() const {
    if (FRawXMLCache.empty()) {
        std::optional<std::string> spliced;
        if (!FSourceText.empty()) {
            spliced = SpliceXMPText(*this, FSourceText);
        }
        if (spliced) {
            FRawXMLCache = std::move(*spliced);
        } else {
            WriteXMPText(*this, FRawXMLCache);
        }
    }
    return FRawXMLCache;
}

void TXMPPacket::SetRawXML(std::string_view value) {
    if (value.empty()) {
        Clear();
        return;
    }
    LoadFromStream(std::span(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
}

TXMPSchema& TXMPPacket::Schemas(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FSchemas.size()) {
        throw RangeError();
    }
    return *FSchemas[static_cast<std::size_t>(index)];
}

bool TXMPPacket::TryLoadFromStream(std::span<const std::uint8_t> data) {
    const bool hasHeader = HasSegmentHeader(data);
    if (hasHeader) {
        data = data.subspan(kXMPSegmentHeader.size());
    }
    // Some writers pad the packet with zero bytes, which no XML parser accepts; the text kept for the save
    // keeps them, so that an unchanged packet goes back exactly as it came.
    std::string text(reinterpret_cast<const char*>(data.data()), data.size());
    std::string buffer = text;
    std::replace(buffer.begin(), buffer.end(), '\0', ' ');
    if (buffer.empty()) {
        return false;
    }
    std::optional<XMPContent> content = ReadXMPText(*this, std::move(buffer));
    if (!content) {
        return false;
    }
    FSchemas = std::move(content->schemas);
    FAboutAttributeValue = std::move(content->about);
    FSourceText = text;
    FRawXMLCache = std::move(text);
    FWriteSegmentHeader = hasHeader;
    Changed(false);
    return true;
}

bool TXMPPacket::TryLoadFromStream(Stream& stream) {
    const std::vector<std::uint8_t> bytes = stream.ReadToEnd();
    return TryLoadFromStream(std::span<const std::uint8_t>(bytes));
}

void TXMPPacket::LoadFromStream(std::span<const std::uint8_t> data) {
    if (!TryLoadFromStream(data)) {
        DoLoadError(data);
    }
}

void TXMPPacket::LoadFromStream(Stream& stream) {
    const std::vector<std::uint8_t> bytes = stream.ReadToEnd();
    LoadFromStream(std::span<const std::uint8_t>(bytes));
}

void TXMPPacket::LoadFromFile(const std::string& fileName) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(fileName);
    LoadFromStream(std::span<const std::uint8_t>(bytes));
}

bool TXMPPacket::LoadFromJPEG(const std::string& jpegFileName) {
    HeadFileStream stream(jpegFileName);
    const IJPEGHeaderParser parser = ParseJPEGSegments(stream, TJPEGMarkers{jmApp1});
    while (parser->MoveNext()) {
        const std::span<const std::uint8_t> payload = parser->Current()->Payload();
        if (HasSegmentHeader(payload)) {
            LoadFromStream(payload.subspan(kXMPSegmentHeader.size()));
            return true;
        }
    }
    Clear();
    return false;
}

void TXMPPacket::SaveToStream(std::vector<std::uint8_t>& out) const {
    if (FWriteSegmentHeader) {
        out.insert(out.end(), kXMPSegmentHeader.begin(), kXMPSegmentHeader.end());
    }
    const std::string& text = RawXML();
    out.insert(out.end(), text.begin(), text.end());
}

void TXMPPacket::SaveToStream(Stream& stream) const {
    std::vector<std::uint8_t> bytes;
    SaveToStream(bytes);
    stream.WriteBytes(bytes);
}

void TXMPPacket::SaveToFile(const std::string& fileName) const {
    FileStream file(fileName, FileStream::Mode::fmCreate);
    SaveToStream(file);
}

void TXMPPacket::Clear() {
    if (FSchemas.empty() && FAboutAttributeValue.empty()) {
        return;
    }
    FSchemas.clear();
    FAboutAttributeValue.clear();
    FSourceText.clear();
    Changed(true);
}

TXMPSchema* TXMPPacket::FindSchema(std::string_view uri) const {
    const auto pos = std::lower_bound(
        FSchemas.begin(), FSchemas.end(), uri,
        [](const auto& schema, std::string_view u) { return CompareTextAscii(schema->FURI, u) < 0; });
    if (pos != FSchemas.end() && CompareTextAscii((*pos)->FURI, uri) == 0) {
        return pos->get();
    }
    return nullptr;
}

TXMPSchema* TXMPPacket::FindSchema(TXMPKnownSchemaKind kind) const {
    const std::string_view uri = XMPSchemaURI(kind);
    return uri.empty() ? nullptr : FindSchema(uri);
}

bool TXMPPacket::FindSchema(std::string_view uri, TXMPSchema*& schema) const {
    schema = FindSchema(uri);
    return schema != nullptr;
}

bool TXMPPacket::FindSchema(TXMPKnownSchemaKind kind, TXMPSchema*& schema) const {
    schema = FindSchema(kind);
    return schema != nullptr;
}

TXMPSchema& TXMPPacket::FindOrAddSchema(std::string_view uri) {
    const auto pos = std::lower_bound(
        FSchemas.begin(), FSchemas.end(), uri,
        [](const auto& schema, std::string_view u) { return CompareTextAscii(schema->FURI, u) < 0; });
    if (pos != FSchemas.end() && CompareTextAscii((*pos)->FURI, uri) == 0) {
        return **pos;
    }
    TXMPSchema& added = **FSchemas.insert(pos, std::make_unique<TXMPSchema>(*this, uri));
    Changed(true);
    return added;
}

void TXMPPacket::DoUpdateProperty(TXMPWritePolicy policy, TXMPKnownSchemaKind schemaKind,
                                  std::string_view propName, TXMPPropertyKind propKind,
                                  std::string_view newValue) {
    if (policy == xwRemove || newValue.empty()) {
        RemoveProperty(schemaKind, propName);
        return;
    }
    const std::string_view uri = XMPSchemaURI(schemaKind);
    if (uri.empty()) {
        return;
    }
    TXMPSchema* schema = policy == xwAlwaysUpdate ? &FindOrAddSchema(uri) : FindSchema(uri);
    if (schema == nullptr) {
        return;
    }
    TXMPProperty* prop = schema->FindProperty(propName);
    if (prop == nullptr) {
        if (policy != xwAlwaysUpdate) {
            return;
        }
        prop = &schema->AddProperty(propName);
    }
    prop->SetKind(propKind);
    prop->WriteValue(TrimRight(newValue));
    // Older writers spelt TIFF names in lower case; keep such a copy in step. A name that has no upper-case
    // letter to lower is not repeated, or the repetition would never end.
    if (schemaKind == xsTIFF && propKind == xpSimple && !propName.empty() &&
        !(propName.front() >= 'a' && propName.front() <= 'z')) {
        std::string lower(propName);
        std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
        if (lower != propName) {
            DoUpdateProperty(policy == xwAlwaysUpdate ? xwUpdateIfExists : policy, schemaKind, lower,
                             propKind, newValue);
        }
    }
}

void TXMPPacket::UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                TXMPPropertyKind propKind, std::string_view newValue) {
    DoUpdateProperty(FUpdatePolicy, schemaKind, propName, propKind, newValue);
}

void TXMPPacket::UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                std::string_view newValue) {
    DoUpdateProperty(FUpdatePolicy, schemaKind, propName, xpSimple, newValue);
}

void TXMPPacket::UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName, int newValue) {
    DoUpdateProperty(FUpdatePolicy, schemaKind, propName, xpSimple, std::to_string(newValue));
}

void TXMPPacket::UpdateBagProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                   std::string_view singleValue) {
    DoUpdateProperty(FUpdatePolicy, schemaKind, propName, xpBagArray, singleValue);
}

void TXMPPacket::UpdateBagProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                   std::span<const std::string> newValues) {
    UpdateArrayProperty(schemaKind, propName, xpBagArray, newValues);
}

void TXMPPacket::UpdateSeqProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                   std::string_view singleValue) {
    DoUpdateProperty(FUpdatePolicy, schemaKind, propName, xpSeqArray, singleValue);
}

void TXMPPacket::UpdateSeqProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                   std::span<const std::string> newValues) {
    UpdateArrayProperty(schemaKind, propName, xpSeqArray, newValues);
}

void TXMPPacket::UpdateArrayProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                     TXMPPropertyKind arrayKind, std::span<const std::string> newValues) {
    if (FUpdatePolicy == xwRemove || newValues.empty()) {
        RemoveProperty(schemaKind, propName);
        return;
    }
    const std::string_view uri = XMPSchemaURI(schemaKind);
    if (uri.empty()) {
        return;
    }
    TXMPSchema* schema = FUpdatePolicy == xwAlwaysUpdate ? &FindOrAddSchema(uri) : FindSchema(uri);
    if (schema == nullptr) {
        return;
    }
    TXMPProperty* prop = schema->FindProperty(propName);
    if (prop == nullptr) {
        if (FUpdatePolicy != xwAlwaysUpdate) {
            return;
        }
        prop = &schema->AddProperty(propName);
    } else if (prop->Kind() != xpSimple && prop->Kind() != xpBagArray && prop->Kind() != xpSeqArray) {
        schema->RemoveProperty(propName);
        prop = &schema->AddProperty(propName);
    }
    prop->SetKind(arrayKind);
    prop->SetSubPropertyCount(static_cast<int>(newValues.size()));
    for (std::size_t i = 0; i < newValues.size(); ++i) {
        prop->SubProperties(static_cast<int>(i)).WriteValue(std::string_view(newValues[i]));
    }
}

void TXMPPacket::UpdateDateTimeProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                        DateTimeValue newValue, bool applyLocalBias) {
    if (newValue == 0) {
        RemoveProperty(schemaKind, propName);
        return;
    }
    const CalendarDate date = DecodeDate(newValue);
    const ClockTime time = DecodeTime(newValue);
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d", int{date.year},
                  int{date.month}, int{date.day}, int{time.hour}, int{time.minute}, int{time.second},
                  int{time.millisecond});
    std::string value(text.data());
    long offsetSeconds = 0;
    if (applyLocalBias) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local) != nullptr) {
            offsetSeconds = local.tm_gmtoff;
        }
    }
    if (offsetSeconds == 0) {
        value += 'Z';
    } else {
        const long minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
        std::snprintf(text.data(), text.size(), "%s%.2ld:%.2ld", offsetSeconds < 0 ? "-" : "+", minutes / 60,
                      minutes % 60);
        value += text.data();
    }
    DoUpdateProperty(FUpdatePolicy, schemaKind, propName, xpSimple, value);
}

bool TXMPPacket::RemoveProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName) {
    TXMPSchema* schema = FindSchema(schemaKind);
    return schema != nullptr && schema->RemoveProperty(propName);
}

bool TXMPPacket::RemoveProperties(TXMPKnownSchemaKind schemaKind,
                                  std::span<const std::string_view> propNames) {
    TXMPSchema* schema = FindSchema(schemaKind);
    return schema != nullptr && schema->RemoveProperties(propNames);
}

void TXMPPacket::Changed(bool resetXMLCache) {
    if (resetXMLCache) {
        FRawXMLCache.clear();
    }
    if (FOnChange) {
        FOnChange(*this);
    }
}

void TXMPPacket::DoLoadError(std::span<const std::uint8_t> data) {
    if (FOnLoadError) {
        FOnLoadError(*this, data);
        return;
    }
    throw EInvalidXMPPacket();
}

}  // namespace zeloro
