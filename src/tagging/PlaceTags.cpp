// src/tagging/PlaceTags.cpp: place names into the Photoshop and IPTC Core properties of an XMP packet.
#include "tagging/PlaceTags.h"

#include "metadata/XMPPacket.h"

namespace zeloro {
namespace {

void WriteOne(TXMPPacket& packet, std::string_view uri, std::string_view prefix, std::string_view name,
              const std::string& value, PlaceWrite mode) {
    if (value.empty()) {
        return;
    }
    TXMPSchema* schema = packet.FindSchema(uri);
    TXMPProperty* property = schema != nullptr ? schema->FindProperty(name) : nullptr;
    if (property != nullptr && mode == PlaceWrite::fill &&
        (property->Kind() != xpSimple || !property->ReadValue().empty())) {
        return;
    }
    if (schema == nullptr) {
        schema = &packet.FindOrAddSchema(uri);
    }
    if (schema->PreferredPrefix().empty()) {
        schema->SetPreferredPrefix(prefix);
    }
    if (property == nullptr) {
        property = &schema->AddProperty(name);
    }
    property->SetKind(xpSimple);
    property->WriteValue(value);
}

}  // namespace

void WritePlaceProperties(TXMPPacket& packet, const PlaceNames& names, PlaceWrite mode) {
    const std::string_view photoshop = XMPSchemaURI(xsPhotoshop);
    const std::string_view photoshopPrefix = XMPSchemaPrefix(xsPhotoshop);
    WriteOne(packet, photoshop, photoshopPrefix, "City", names.city, mode);
    WriteOne(packet, photoshop, photoshopPrefix, "State", names.state, mode);
    WriteOne(packet, photoshop, photoshopPrefix, "Country", names.country, mode);
    WriteOne(packet, kIptcCoreNamespace, kIptcCorePrefix, "CountryCode", names.countryCode, mode);
}

std::string WritePlaceProperties(std::string_view xmpText, const PlaceNames& names, PlaceWrite mode) {
    TXMPPacket packet;
    if (!xmpText.empty()) {
        packet.LoadFromStream(
            std::span(reinterpret_cast<const std::uint8_t*>(xmpText.data()), xmpText.size()));
    }
    WritePlaceProperties(packet, names, mode);
    return packet.RawXML();
}

std::string PlaceLabel(const PlaceNames& names) {
    if (!names.city.empty() && !names.country.empty()) {
        return names.city + ", " + names.country;
    }
    return names.city.empty() ? names.country : names.city;
}

}  // namespace zeloro
