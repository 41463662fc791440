// src/metadata/XMPReader.cpp: a parsed packet document read into the XMP model.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/AsciiText.h"
#include "metadata/XMPPacket.h"
#include "metadata/detail/LibXml2.h"
#include "metadata/detail/XMPPacketIO.h"

namespace zeloro {

namespace {

// Property nesting deeper than this is not read: no real packet comes near it, and it bounds the
// recursion over untrusted documents.
constexpr int kMaxPropertyDepth = 64;

[[nodiscard]] std::string QualifiedName(const xmlNode* node) {
    const std::string_view prefix = NamespacePrefix(node->ns);
    std::string name;
    if (!prefix.empty()) {
        name.append(prefix).append(":");
    }
    name.append(View(node->name));
    return name;
}

[[nodiscard]] bool IsElement(const xmlNode* node) noexcept { return node->type == XML_ELEMENT_NODE; }

[[nodiscard]] bool IsText(const xmlNode* node) noexcept {
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

// Text made of blanks only is layout, not content: the DOM we read with drops it.
[[nodiscard]] bool IsBlankText(const xmlNode* node) noexcept {
    for (const char c : View(node->content)) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool IsContentText(const xmlNode* node) noexcept { return IsText(node) && !IsBlankText(node); }

// The text of a node as the DOM gives it: its own content for text, the text below it for an element.
// Entity references are left out, so that no entity is expanded here.
void CollectText(const xmlNode* node, std::string& out, int depth) {
    if (IsText(node)) {
        out.append(View(node->content));
        return;
    }
    if (!IsElement(node) || depth > kMaxPropertyDepth) {
        return;
    }
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        CollectText(child, out, depth + 1);
    }
}

[[nodiscard]] std::string AttributeValue(const xmlAttr* attr) {
    std::string value;
    for (const xmlNode* child = attr->children; child != nullptr; child = child->next) {
        if (IsText(child)) {
            value.append(View(child->content));
        }
    }
    return value;
}

[[nodiscard]] const xmlAttr* FindAttribute(const xmlNode* node, std::string_view localName,
                                           std::string_view nsURI) noexcept {
    for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
        if (View(attr->name) == localName && NamespaceURI(attr->ns) == nsURI) {
            return attr;
        }
    }
    return nullptr;
}

constexpr std::string_view kXMLNamespace = "http://www.w3.org/XML/1998/namespace";

// The node a property is read from: an element, or an attribute of a description or structure.
struct PropertySource {
    std::string_view localName;
    const xmlNs* ns = nullptr;
    const xmlNode* children = nullptr;
    const xmlNode* element = nullptr;  // nullptr for an attribute

    static PropertySource FromElement(const xmlNode* node) noexcept {
        return {View(node->name), node->ns, node->children, node};
    }
    static PropertySource FromAttribute(const xmlAttr* attr) noexcept {
        return {View(attr->name), attr->ns, attr->children, nullptr};
    }
};

}  // namespace

// Builds the model without change notifications; the packet takes it over as a whole.
struct XMPReader {
    std::vector<std::unique_ptr<TXMPSchema>> schemas;
    std::string about;
    TXMPPacket& packet;

    explicit XMPReader(TXMPPacket& owner) : packet(owner) {}

    TXMPSchema& SchemaFor(std::string_view uri) {
        auto pos = std::lower_bound(
            schemas.begin(), schemas.end(), uri,
            [](const auto& schema, std::string_view u) { return CompareTextAscii(schema->FURI, u) < 0; });
        if (pos != schemas.end() && CompareTextAscii((*pos)->FURI, uri) == 0) {
            return **pos;
        }
        return **schemas.insert(pos, std::make_unique<TXMPSchema>(packet, uri));
    }

    void AddTopLevelProperty(const PropertySource& source) {
        TXMPSchema& schema = SchemaFor(NamespaceURI(source.ns));
        if (schema.FPreferredPrefix.empty()) {
            schema.FPreferredPrefix = std::string(NamespacePrefix(source.ns));
        }
        bool lossy = false;
        schema.FProperties.push_back(ReadProperty(schema, nullptr, source, 0, lossy));
        // An element in a default namespace has no prefix the generated form could use: kept as read too.
        if ((lossy || NamespacePrefix(source.ns).empty()) && source.element != nullptr) {
            schema.FProperties.back()->FSourceXML = StandaloneXml(source.element);
        }
    }

    // Sets `lossy` when the node holds content the model leaves out.
    static std::unique_ptr<TXMPProperty> ReadProperty(TXMPSchema& schema, TXMPProperty* parent,
                                                      const PropertySource& source, int depth, bool& lossy) {
        auto prop = std::make_unique<TXMPProperty>(schema, parent);
        const bool isItem = parent != nullptr && IsArrayKind(parent->FKind);
        const bool kindFromChild = parent == nullptr || parent->FKind == xpStructure;

        const xmlNode* found = nullptr;
        const xmlNode* container = nullptr;
        bool hasChildren = false;
        for (const xmlNode* child = source.children; child != nullptr; child = child->next) {
            if (IsElement(child)) {
                hasChildren = true;
                if (isItem) {
                    continue;  // array items are always simple
                }
                found = child;
                if (kindFromChild) {
                    const std::string name = QualifiedName(child);
                    if (name == "rdf:Alt") {
                        prop->FKind = xpAltArray;
                    } else if (name == "rdf:Bag") {
                        prop->FKind = xpBagArray;
                    } else if (name == "rdf:Seq") {
                        prop->FKind = xpSeqArray;
                    } else if (name == "rdf:Description") {
                        prop->FKind = xpStructure;
                    }
                    if (prop->FKind != xpSimple) {
                        container = child;
                    }
                }
                break;
            }
            if (IsContentText(child)) {
                hasChildren = true;
                found = child;
                break;
            }
        }
        if (!hasChildren && !isItem && source.element != nullptr && source.ns != nullptr) {
            for (const xmlAttr* attr = source.element->properties; attr != nullptr; attr = attr->next) {
                if (attr->ns != nullptr && NamespaceURI(attr->ns) == NamespaceURI(source.ns)) {
                    prop->FKind = xpStructure;
                    break;
                }
            }
        }

        if (prop->FKind == xpSimple && found != nullptr) {
            CollectText(found, prop->FValue, 0);
        }
        lossy = lossy || LosesContent(*prop, source, found, container, isItem, parent);
        if (prop->FKind != xpSimple && depth >= kMaxPropertyDepth) {
            lossy = true;
        }

        if (isItem) {
            if (parent->FKind == xpAltArray && source.element != nullptr) {
                if (const xmlAttr* lang = FindAttribute(source.element, "lang", kXMLNamespace)) {
                    prop->FName = AttributeValue(lang);
                }
            }
        } else {
            prop->FName = std::string(source.localName);
        }

        if (prop->FKind == xpSimple || depth >= kMaxPropertyDepth) {
            return prop;
        }
        if (prop->FKind == xpStructure) {
            if (source.element != nullptr && source.ns != nullptr) {
                for (const xmlAttr* attr = source.element->properties; attr != nullptr; attr = attr->next) {
                    if (attr->ns != nullptr && NamespaceURI(attr->ns) == NamespaceURI(source.ns)) {
                        prop->FSubProperties.push_back(ReadProperty(
                            schema, prop.get(), PropertySource::FromAttribute(attr), depth + 1, lossy));
                    }
                }
            }
            if (container != nullptr) {
                for (const xmlNode* child = container->children; child != nullptr; child = child->next) {
                    if (IsElement(child)) {
                        prop->FSubProperties.push_back(ReadProperty(
                            schema, prop.get(), PropertySource::FromElement(child), depth + 1, lossy));
                    }
                }
            }
            return prop;
        }
        for (const xmlNode* child = container->children; child != nullptr; child = child->next) {
            if (!IsElement(child) || QualifiedName(child) != "rdf:li") {
                continue;
            }
            if (prop->FKind == xpAltArray && FindAttribute(child, "lang", kXMLNamespace) == nullptr) {
                continue;  // an alternative without a language cannot be told apart from the others
            }
            prop->FSubProperties.push_back(
                ReadProperty(schema, prop.get(), PropertySource::FromElement(child), depth + 1, lossy));
        }
        return prop;
    }

    [[nodiscard]] static bool IsSignificant(const xmlNode* node) noexcept {
        return IsElement(node) || IsContentText(node) || node->type == XML_ENTITY_REF_NODE;
    }

    // Whether the property just read leaves out anything of its node: other children, attributes the
    // model has no place for, array entries that are no items, items with structure.
    [[nodiscard]] static bool LosesContent(const TXMPProperty& prop, const PropertySource& source,
                                           const xmlNode* found, const xmlNode* container, bool isItem,
                                           const TXMPProperty* parent) {
        for (const xmlNode* child = source.children; child != nullptr; child = child->next) {
            if (child != found && IsSignificant(child)) {
                return true;
            }
        }
        if (found != nullptr && IsElement(found) && container == nullptr) {
            return true;  // an element the model reads only as text
        }
        if (source.element != nullptr) {
            for (const xmlAttr* attr = source.element->properties; attr != nullptr; attr = attr->next) {
                const bool language = isItem && parent->FKind == xpAltArray && View(attr->name) == "lang" &&
                                      NamespaceURI(attr->ns) == kXMLNamespace;
                const bool field = prop.FKind == xpStructure && attr->ns != nullptr &&
                                   NamespaceURI(attr->ns) == NamespaceURI(source.ns);
                if (!language && !field) {
                    return true;
                }
            }
        }
        if (container == nullptr) {
            return false;
        }
        if (container->properties != nullptr) {
            return true;
        }
        for (const xmlNode* child = container->children; child != nullptr; child = child->next) {
            if (!IsSignificant(child)) {
                continue;
            }
            if (prop.FKind == xpStructure) {
                if (!IsElement(child)) {
                    return true;
                }
            } else if (!IsElement(child) || QualifiedName(child) != "rdf:li" ||
                       (prop.FKind == xpAltArray && FindAttribute(child, "lang", kXMLNamespace) == nullptr)) {
                return true;
            }
        }
        return false;
    }

    void ReadDescription(const xmlNode* description) {
        if (about.empty()) {
            if (const xmlAttr* attr = FindAttribute(description, "about", kRDFNamespace)) {
                about = AttributeValue(attr);
            } else if (const xmlAttr* plain = FindAttribute(description, "about", "")) {
                about = AttributeValue(plain);
            }
        }
        for (const xmlAttr* attr = description->properties; attr != nullptr; attr = attr->next) {
            const std::string_view uri = NamespaceURI(attr->ns);
            if (!uri.empty() && uri != kRDFNamespace && uri != kXMLNSNamespace) {
                AddTopLevelProperty(PropertySource::FromAttribute(attr));
            }
        }
        for (const xmlNode* child = description->children; child != nullptr; child = child->next) {
            if (IsElement(child) && !NamespaceURI(child->ns).empty()) {
                AddTopLevelProperty(PropertySource::FromElement(child));
            }
        }
    }

    [[nodiscard]] static const xmlNode* FindRDFElement(const xmlDoc* doc) {
        for (const xmlNode* node = doc->children; node != nullptr; node = node->next) {
            if (IsElement(node) && View(node->name) == "RDF") {
                return node;
            }
        }
        for (const xmlNode* node = doc->children; node != nullptr; node = node->next) {
            if (IsElement(node) && (View(node->name) == "xmpmeta" || View(node->name) == "xapmeta")) {
                for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
                    if (IsElement(child) && QualifiedName(child) == "rdf:RDF") {
                        return child;
                    }
                }
                return nullptr;
            }
        }
        return nullptr;
    }
};

std::optional<XMPContent> ReadXMPText(TXMPPacket& packet, const std::string& text) {
    const XmlDocPtr doc = ParseXmlDocument(text);
    if (!doc) {
        return std::nullopt;
    }
    const xmlNode* rdf = XMPReader::FindRDFElement(doc.get());
    if (rdf == nullptr) {
        return std::nullopt;
    }

    XMPContent content;

    XMPReader reader(packet);
    for (const xmlNode* child = rdf->children; child != nullptr; child = child->next) {
        if (IsElement(child) && NamespaceURI(child->ns) == kRDFNamespace &&
            SameTextAscii(QualifiedName(child), "rdf:Description")) {
            reader.ReadDescription(child);
        }
    }
    content.schemas = std::move(reader.schemas);
    content.about = std::move(reader.about);
    return content;
}

}  // namespace zeloro
