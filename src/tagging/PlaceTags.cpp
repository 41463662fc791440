// src/tagging/PlaceTags.cpp: place names into the Photoshop and IPTC Core properties of an XMP packet.
#include "tagging/PlaceTags.h"

#include <optional>
#include <vector>

#include "metadata/XMPPacket.h"

namespace zeloro {
namespace {

// A property the packet did not have, to be written into the packet's text.
struct Added {
    std::string_view uri;
    std::string_view prefix;
    std::string_view name;
    std::string value;
};

std::string Escaped(std::string_view value) {
    std::string out;
    for (const char c : value) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Whether two packets hold the same schemas, properties, kinds, names and values.
bool SameProperty(const TXMPProperty& a, const TXMPProperty& b) {
    if (a.Kind() != b.Kind() || a.Name() != b.Name() || a.ReadValue() != b.ReadValue() ||
        a.SubPropertyCount() != b.SubPropertyCount()) {
        return false;
    }
    for (int i = 0; i < a.SubPropertyCount(); ++i) {
        if (!SameProperty(a.SubProperties(i), b.SubProperties(i))) {
            return false;
        }
    }
    return true;
}

bool SameContent(const TXMPPacket& a, const TXMPPacket& b) {
    if (a.SchemaCount() != b.SchemaCount() || a.AboutAttributeValue() != b.AboutAttributeValue()) {
        return false;
    }
    for (int s = 0; s < a.SchemaCount(); ++s) {
        const TXMPSchema& x = a.Schemas(s);
        const TXMPSchema& y = b.Schemas(s);
        if (x.URI() != y.URI() || x.PropertyCount() != y.PropertyCount()) {
            return false;
        }
        for (int i = 0; i < x.PropertyCount(); ++i) {
            if (!SameProperty(x.Properties(i), y.Properties(i))) {
                return false;
            }
        }
    }
    return true;
}

// The packet's text with the added properties as elements at the end of its first description, and
// their namespaces declared on it, so that the layout, comments and everything else of the text stay as
// they were. Nullopt where the text has no description to put them in.
std::optional<std::string> WithAdded(const std::string& text, const std::vector<Added>& added) {
    const std::string rdfDeclaration = "=\"" + std::string(kRDFNamespace) + "\"";
    const std::size_t declared = text.find(rdfDeclaration);
    const std::size_t xmlns = declared == std::string::npos ? declared : text.rfind("xmlns:", declared);
    if (xmlns == std::string::npos) {
        return std::nullopt;
    }
    const std::string rdf = text.substr(xmlns + 6, declared - xmlns - 6);
    const std::size_t open = text.find("<" + rdf + ":Description", declared);
    const std::size_t openEnd = open == std::string::npos ? open : text.find('>', open);
    if (openEnd == std::string::npos || text[openEnd - 1] == '/') {
        return std::nullopt;
    }
    const std::size_t close = text.find("</" + rdf + ":Description>", openEnd);
    if (close == std::string::npos) {
        return std::nullopt;
    }
    // The new elements take the indentation of the line before the closing tag when it is deeper.
    const std::size_t lineStart = text.rfind('\n', close);
    const bool ownLine = lineStart != std::string::npos && lineStart > openEnd &&
                         text.find_first_not_of(" \t", lineStart + 1) == close;
    const std::string closeIndent = ownLine ? text.substr(lineStart + 1, close - lineStart - 1) : "";
    std::string childIndent = closeIndent + " ";
    if (ownLine) {
        const std::size_t previous = text.rfind('\n', lineStart - 1);
        if (previous != std::string::npos && previous > openEnd) {
            const std::size_t first = text.find_first_not_of(" \t", previous + 1);
            if (first > previous + 1 + closeIndent.size() && first < lineStart) {
                childIndent = text.substr(previous + 1, first - previous - 1);
            }
        }
    }
    std::string elements;
    std::string declarations;
    for (const Added& a : added) {
        elements += (ownLine ? childIndent : "") + "<" + std::string(a.prefix) + ":" + std::string(a.name) +
                    ">" + Escaped(a.value) + "</" + std::string(a.prefix) + ":" + std::string(a.name) + ">" +
                    (ownLine ? "\n" : "");
        const std::string declaration = " xmlns:" + std::string(a.prefix) + "=\"" + std::string(a.uri) + "\"";
        if (text.substr(open, openEnd - open).find(declaration) == std::string::npos &&
            declarations.find(declaration) == std::string::npos) {
            declarations += declaration;
        }
    }
    std::string out = text;
    out.insert(ownLine ? lineStart + 1 : close, elements);
    out.insert(openEnd, declarations);
    return out;
}

// Writes one property; a missing one only when added is given, which then lists it.
void WriteOne(TXMPPacket& packet, std::string_view uri, std::string_view prefix, std::string_view name,
              const std::string& value, PlaceWrite mode, std::vector<Added>* added) {
    if (value.empty()) {
        return;
    }
    TXMPSchema* schema = packet.FindSchema(uri);
    TXMPProperty* property = schema != nullptr ? schema->FindProperty(name) : nullptr;
    if (property == nullptr && added == nullptr) {
        return;
    }
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
        added->push_back(Added{uri, schema->PreferredPrefix(), name, value});
    }
    property->SetKind(xpSimple);
    property->WriteValue(value);
}

}  // namespace

void WritePlaceProperties(TXMPPacket& packet, const PlaceNames& names, PlaceWrite mode) {
    const std::string_view photoshop = XMPSchemaURI(xsPhotoshop);
    const std::string_view photoshopPrefix = XMPSchemaPrefix(xsPhotoshop);
    const auto writeAll = [&](std::vector<Added>* added) {
        WriteOne(packet, photoshop, photoshopPrefix, "City", names.city, mode, added);
        WriteOne(packet, photoshop, photoshopPrefix, "State", names.state, mode, added);
        WriteOne(packet, photoshop, photoshopPrefix, "Country", names.country, mode, added);
        WriteOne(packet, kIptcCoreNamespace, kIptcCorePrefix, "CountryCode", names.countryCode, mode, added);
    };
    // First the values the packet has, which it splices into its own text; that text, as it then stands,
    // gets the missing properties added, so a packet read from a photo keeps its layout.
    writeAll(nullptr);
    const std::string before = packet.Empty() ? std::string() : packet.RawXML();
    std::vector<Added> added;
    writeAll(&added);
    if (added.empty() || before.empty()) {
        return;  // a packet the photo did not have is generated whole
    }
    const std::optional<std::string> text = WithAdded(before, added);
    if (!text) {
        return;
    }
    // Only a text that reads back as exactly the packet's content is taken; else the packet is generated.
    TXMPPacket check;
    if (check.TryLoadFromStream(
            std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size())) &&
        SameContent(check, packet)) {
        packet.SetRawXML(*text);
    }
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
