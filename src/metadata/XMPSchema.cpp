// src/metadata/XMPSchema.cpp: one namespace of an XMP packet and the namespaces the system knows.
#include <algorithm>
#include <array>
#include <string_view>

#include "metadata/XMPPacket.h"

namespace zeloro {

namespace {

struct KnownSchema {
    std::string_view prefix;
    std::string_view uri;
};

// Indexed by TXMPSchemaKind.
constexpr std::array<KnownSchema, 14> kKnownSchemas{{
    {"", ""},
    {"crs", "http://ns.adobe.com/camera-raw-settings/1.0/"},
    {"dc", "http://purl.org/dc/elements/1.1/"},
    {"exif", "http://ns.adobe.com/exif/1.0/"},
    {"MicrosoftPhoto", "http://ns.microsoft.com/photo/1.0"},
    {"pdf", "http://ns.adobe.com/pdf/1.3/"},
    {"photoshop", "http://ns.adobe.com/photoshop/1.0/"},
    {"tiff", "http://ns.adobe.com/tiff/1.0/"},
    {"xmp", "http://ns.adobe.com/xap/1.0/"},
    {"xmpBJ", "http://ns.adobe.com/xap/1.0/bj/"},
    {"xmpDM", "http://ns.adobe.com/xmp/1.0/DynamicMedia/"},
    {"xmpMM", "http://ns.adobe.com/xap/1.0/mm/"},
    {"xmpTPg", "http://ns.adobe.com/xap/1.0/t/pg/"},
    {"xmpRights", "http://ns.adobe.com/xap/1.0/rights/"},
}};

}  // namespace

std::string_view XMPSchemaURI(TXMPSchemaKind kind) noexcept {
    return kind < kKnownSchemas.size() ? kKnownSchemas[kind].uri : std::string_view{};
}

std::string_view XMPSchemaPrefix(TXMPSchemaKind kind) noexcept {
    return kind < kKnownSchemas.size() ? kKnownSchemas[kind].prefix : std::string_view{};
}

TXMPSchema::TXMPSchema(TXMPPacket& owner, std::string_view uri)
    : FKind(xsUnknown), FOwner(&owner), FURI(uri) {
    for (std::size_t kind = 1; kind < kKnownSchemas.size(); ++kind) {
        if (kKnownSchemas[kind].uri == uri) {
            FKind = static_cast<TXMPSchemaKind>(kind);
            FPreferredPrefix = std::string(kKnownSchemas[kind].prefix);
            break;
        }
    }
}

TXMPSchema::~TXMPSchema() = default;

void TXMPSchema::Changed() { FOwner->Changed(true); }

void TXMPSchema::SetPreferredPrefix(std::string_view value) {
    if (value == FPreferredPrefix) {
        return;
    }
    FPreferredPrefix = std::string(value);
    Changed();
}

TXMPProperty& TXMPSchema::Properties(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FProperties.size()) {
        throw RangeError();
    }
    return *FProperties[static_cast<std::size_t>(index)];
}

TXMPProperty& TXMPSchema::AddProperty(std::string_view name) {
    if (FPreferredPrefix.empty()) {
        throw EInvalidXMPOperation(kXMPSchemaPrefixMissing);
    }
    FProperties.push_back(std::make_unique<TXMPProperty>(*this, nullptr, std::string(name)));
    TXMPProperty& added = *FProperties.back();
    Changed();
    return added;
}

TXMPProperty* TXMPSchema::FindProperty(std::string_view name) const {
    for (const auto& prop : FProperties) {
        if (prop->FName == name) {
            return prop.get();
        }
    }
    return nullptr;
}

bool TXMPSchema::FindProperty(std::string_view name, TXMPProperty*& prop) const {
    prop = FindProperty(name);
    return prop != nullptr;
}

bool TXMPSchema::RemoveProperty(std::string_view name) {
    const auto pos = std::find_if(FProperties.begin(), FProperties.end(),
                                  [name](const auto& prop) { return prop->FName == name; });
    if (pos == FProperties.end()) {
        return false;
    }
    FProperties.erase(pos);
    Changed();
    return true;
}

bool TXMPSchema::RemoveProperties(std::span<const std::string_view> names) {
    bool removed = false;
    for (const std::string_view name : names) {
        removed = RemoveProperty(name) || removed;
    }
    return removed;
}

}  // namespace zeloro
