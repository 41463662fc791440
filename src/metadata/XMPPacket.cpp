// src/metadata/XMPPacket.cpp: the XMP packet model, read from a libxml2 document and written as text.
#include "metadata/XMPPacket.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>

#include "common/AsciiText.h"
#include "metadata/JpegSegments.h"

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

constexpr std::string_view kXPacketStart = "<?xpacket ";
constexpr std::string_view kPacketHeaderStart =
    "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" VelExifVersion=\"1.1.1\">\n"
    "\t<rdf:RDF xmlns:rdf=\"";
constexpr std::string_view kPacketHeaderEnd = "\">\n";
constexpr std::string_view kPacketFooter = "\t</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?> ";
// Property nesting deeper than this is not read: no real packet comes near it, and it bounds the
// recursion over untrusted documents.
constexpr int kMaxPropertyDepth = 64;

[[nodiscard]] std::string SubPropName(std::size_t index) { return "SubProp" + std::to_string(index); }

[[nodiscard]] std::string_view ContainerName(TXMPPropertyKind kind) noexcept {
    switch (kind) {
        case xpStructure:
            return "rdf:Description";
        case xpAltArray:
            return "rdf:Alt";
        case xpBagArray:
            return "rdf:Bag";
        case xpSeqArray:
            return "rdf:Seq";
        case xpSimple:
            break;
    }
    return {};
}

[[nodiscard]] bool IsArrayKind(TXMPPropertyKind kind) noexcept {
    return kind == xpAltArray || kind == xpBagArray || kind == xpSeqArray;
}

void AppendEscaped(std::string& out, std::string_view value) {
    for (const char c : value) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

[[nodiscard]] std::string_view TrimRight(std::string_view value) noexcept {
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 32) {
        value.remove_suffix(1);
    }
    return value;
}

// Parts between "," and ";"; an empty part after a final separator is not an item.
[[nodiscard]] std::vector<std::string_view> SplitItems(std::string_view value) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start < value.size()) {
        const std::size_t sep = value.find_first_of(",;", start);
        if (sep == std::string_view::npos) {
            parts.push_back(value.substr(start));
            break;
        }
        parts.push_back(value.substr(start, sep - start));
        start = sep + 1;
    }
    return parts;
}

// ---- libxml2 handles and node helpers ----
struct XmlDocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;
struct XmlParserCtxtFree {
    void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};
using XmlParserCtxtPtr = std::unique_ptr<xmlParserCtxt, XmlParserCtxtFree>;
struct XmlCharFree {
    void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharFree>;
struct XmlBufferFree {
    void operator()(xmlBuffer* buffer) const noexcept { xmlBufferFree(buffer); }
};
using XmlBufferPtr = std::unique_ptr<xmlBuffer, XmlBufferFree>;

[[nodiscard]] std::string_view View(const xmlChar* text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view(reinterpret_cast<const char*>(text));
}

[[nodiscard]] std::string_view NamespaceURI(const xmlNs* ns) noexcept {
    return ns == nullptr ? std::string_view{} : View(ns->href);
}
[[nodiscard]] std::string_view NamespacePrefix(const xmlNs* ns) noexcept {
    return ns == nullptr ? std::string_view{} : View(ns->prefix);
}

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

std::string_view XMPSchemaURI(TXMPSchemaKind kind) noexcept {
    return kind < kKnownSchemas.size() ? kKnownSchemas[kind].uri : std::string_view{};
}

std::string_view XMPSchemaPrefix(TXMPSchemaKind kind) noexcept {
    return kind < kKnownSchemas.size() ? kKnownSchemas[kind].prefix : std::string_view{};
}

// ---- reading a parsed document into the model, without change notifications ----
struct XMPReader {
    std::vector<std::unique_ptr<TXMPSchema>> schemas;
    std::string about;
    TXMPPacket& packet;

    explicit XMPReader(TXMPPacket& owner) : packet(owner) {}

    TXMPSchema& SchemaFor(std::string_view uri) {
        auto pos =
            std::lower_bound(schemas.begin(), schemas.end(), uri, [](const auto& schema, std::string_view u) {
                return CompareTextAscii(schema->FURI, u) < 0;
            });
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
            schema.FProperties.back()->FSourceXML = StandaloneXML(source.element);
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

    [[nodiscard]] static bool HasEntityReference(const xmlNode* node) noexcept {
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
            if (child->type == XML_ENTITY_REF_NODE || (IsElement(child) && HasEntityReference(child))) {
                return true;
            }
        }
        return false;
    }

    // The element as text that stands on its own: every namespace it uses is declared on it. Empty when
    // that cannot be had (an entity reference would not resolve outside the photo's document).
    [[nodiscard]] static std::string StandaloneXML(const xmlNode* element) {
        if (HasEntityReference(element)) {
            return {};
        }
        const XmlDocPtr doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        if (!doc) {
            throw std::bad_alloc();
        }
        xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(element), doc.get(), 1);
        if (copy == nullptr) {
            throw std::bad_alloc();
        }
        xmlDocSetRootElement(doc.get(), copy);
        if (xmlReconciliateNs(doc.get(), copy) < 0) {
            return {};
        }
        const XmlBufferPtr out(xmlBufferCreate());
        if (!out || xmlNodeDump(out.get(), doc.get(), copy, 0, 0) < 0) {
            return {};
        }
        return {reinterpret_cast<const char*>(xmlBufferContent(out.get())),
                static_cast<std::size_t>(xmlBufferLength(out.get()))};
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

// ---- TXMPProperty ----
TXMPProperty::TXMPProperty(TXMPSchema& schema, TXMPProperty* parentProperty, std::string name)
    : FName(std::move(name)), FParentProperty(parentProperty), FSchema(&schema) {}

TXMPProperty::~TXMPProperty() = default;

void TXMPProperty::Changed() {
    TXMPProperty* top = this;
    while (top->FParentProperty != nullptr) {
        top = top->FParentProperty;
    }
    top->FSourceXML.clear();
    FSchema->Changed();
}

void TXMPProperty::SetKind(TXMPPropertyKind value) {
    if (value == FKind) {
        return;
    }
    FKind = value;
    if (FKind == xpSimple) {
        FSubProperties.clear();
    } else if (FKind == xpBagArray || FKind == xpSeqArray) {
        for (const auto& sub : FSubProperties) {
            sub->FName.clear();
        }
    } else {
        for (std::size_t i = 0; i < FSubProperties.size(); ++i) {
            if (FSubProperties[i]->FName.empty()) {
                FSubProperties[i]->FName = SubPropName(i);
            }
        }
    }
    Changed();
}

void TXMPProperty::SetName(std::string_view value) {
    if (value == FName) {
        return;
    }
    FName = std::string(value);
    Changed();
}

void TXMPProperty::SetSubPropertyCount(int value) {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    const std::size_t wanted = value < 0 ? 0 : static_cast<std::size_t>(value);
    if (wanted == FSubProperties.size()) {
        return;
    }
    if (wanted < FSubProperties.size()) {
        FSubProperties.resize(wanted);
    } else {
        FSubProperties.reserve(wanted);
        while (FSubProperties.size() < wanted) {
            std::string name = NeedsNamedItems() ? SubPropName(FSubProperties.size()) : std::string();
            FSubProperties.push_back(std::make_unique<TXMPProperty>(*FSchema, this, std::move(name)));
        }
    }
    Changed();
}

TXMPProperty& TXMPProperty::SubProperties(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FSubProperties.size()) {
        throw RangeError();
    }
    return *FSubProperties[static_cast<std::size_t>(index)];
}

TXMPProperty& TXMPProperty::AddSubProperty(std::string_view name) {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    if (name.empty() && NeedsNamedItems()) {
        throw EInvalidXMPOperation(kXMPSubPropertiesMustBeNamed);
    }
    FSubProperties.push_back(std::make_unique<TXMPProperty>(*FSchema, this, std::string(name)));
    TXMPProperty& added = *FSubProperties.back();
    Changed();
    return added;
}

TXMPProperty* TXMPProperty::FindSubProperty(std::string_view name) const {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    for (const auto& sub : FSubProperties) {
        if (sub->FName == name) {
            return sub.get();
        }
    }
    return nullptr;
}

bool TXMPProperty::FindSubProperty(std::string_view name, TXMPProperty*& prop) const {
    prop = FindSubProperty(name);
    return prop != nullptr;
}

bool TXMPProperty::RemoveSubProperty(std::string_view name) {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    const auto pos = std::find_if(FSubProperties.begin(), FSubProperties.end(),
                                  [name](const auto& sub) { return sub->FName == name; });
    if (pos == FSubProperties.end()) {
        return false;
    }
    FSubProperties.erase(pos);
    Changed();
    return true;
}

std::string TXMPProperty::ReadValue(std::string_view defValue) const {
    if (FKind == xpSimple) {
        return FValue.empty() ? std::string(defValue) : FValue;
    }
    if (FKind == xpAltArray) {
        for (const auto& sub : FSubProperties) {
            if (sub->FName == "x-default" && sub->FKind == xpSimple && !sub->FValue.empty()) {
                return sub->FValue;
            }
        }
    }
    return std::string(defValue);
}

int TXMPProperty::ReadValue(int defValue) const {
    return ParseInteger<int>(ReadValue(std::string_view{})).value_or(defValue);
}

bool TXMPProperty::ReadValue(bool defValue) const {
    const std::string text = ReadValue(std::string_view{});
    if (SameTextAscii(text, "True")) {
        return true;
    }
    if (SameTextAscii(text, "False")) {
        return false;
    }
    const int number = ReadValue(INT_MIN);
    if (number == INT_MIN) {
        return defValue;
    }
    return number != 0;
}

void TXMPProperty::WriteValue(std::string_view value) {
    switch (FKind) {
        case xpSimple:
            if (FValue != value) {
                FValue = std::string(value);
                Changed();
            }
            return;
        case xpStructure:
            throw EInvalidXMPOperation(kXMPSingleValueToStructure);
        case xpAltArray: {
            TXMPProperty* item = FindSubProperty("x-default");
            if (item == nullptr) {
                item = &AddSubProperty("x-default");
            }
            item->WriteValue(value);
            return;
        }
        case xpBagArray:
        case xpSeqArray: {
            const std::vector<std::string_view> parts = SplitItems(value);
            SetSubPropertyCount(static_cast<int>(parts.size()));
            for (std::size_t i = 0; i < parts.size(); ++i) {
                FSubProperties[i]->WriteValue(parts[i]);
            }
            return;
        }
    }
}

void TXMPProperty::WriteValue(int value) { WriteValue(std::string_view(std::to_string(value))); }

void TXMPProperty::WriteValue(bool value) { WriteValue(std::string_view(value ? "True" : "False")); }

void TXMPProperty::UpdateSubProperty(std::string_view name, TXMPPropertyKind kind, std::string_view value) {
    TXMPProperty* sub = FindSubProperty(name);
    if (sub == nullptr) {
        sub = &AddSubProperty(name);
    }
    sub->SetKind(kind);
    sub->WriteValue(value);
}

void TXMPProperty::UpdateSubProperty(std::string_view name, std::string_view value) {
    UpdateSubProperty(name, xpSimple, value);
}

void TXMPProperty::UpdateSubProperty(std::string_view name, int value) {
    UpdateSubProperty(name, xpSimple, std::to_string(value));
}

void TXMPProperty::UpdateSubProperty(std::string_view name, bool value) {
    UpdateSubProperty(name, xpSimple, value ? "True" : "False");
}

// ---- TXMPSchema ----
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

// ---- TXMPPacket ----
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
        GenerateXML(FRawXMLCache);
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
    // Some writers pad the packet with zero bytes, which no XML parser accepts.
    std::string buffer(reinterpret_cast<const char*>(data.data()), data.size());
    std::replace(buffer.begin(), buffer.end(), '\0', ' ');
    if (buffer.empty() || buffer.size() > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }

    const XmlParserCtxtPtr ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        throw std::bad_alloc();
    }
    const XmlDocPtr doc(xmlCtxtReadMemory(ctxt.get(), buffer.data(), static_cast<int>(buffer.size()), nullptr,
                                          nullptr,
                                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    // A namespace error (an undeclared prefix) fails the parse as it does in any namespace-aware DOM.
    if (!doc || ctxt->wellFormed == 0 || ctxt->nsWellFormed == 0) {
        return false;
    }
    const xmlNode* rdf = XMPReader::FindRDFElement(doc.get());
    if (rdf == nullptr) {
        return false;
    }

    std::string cache;
    if (buffer.starts_with(kXPacketStart)) {
        cache = std::move(buffer);
    } else {
        const XmlBufferPtr out(xmlBufferCreate());
        if (!out) {
            throw std::bad_alloc();
        }
        xmlSaveCtxt* save = xmlSaveToBuffer(out.get(), "UTF-8", XML_SAVE_NO_DECL);
        if (save != nullptr) {
            xmlSaveDoc(save, doc.get());
            xmlSaveClose(save);
        }
        cache.assign(reinterpret_cast<const char*>(xmlBufferContent(out.get())),
                     static_cast<std::size_t>(xmlBufferLength(out.get())));
    }

    XMPReader reader(*this);
    for (const xmlNode* child = rdf->children; child != nullptr; child = child->next) {
        if (IsElement(child) && NamespaceURI(child->ns) == kRDFNamespace &&
            SameTextAscii(QualifiedName(child), "rdf:Description")) {
            reader.ReadDescription(child);
        }
    }

    FSchemas = std::move(reader.schemas);
    FAboutAttributeValue = std::move(reader.about);
    FRawXMLCache = std::move(cache);
    FWriteSegmentHeader = hasHeader;
    Changed(false);
    return true;
}

bool TXMPPacket::TryLoadFromStream(TStream& stream) {
    const std::vector<std::uint8_t> bytes = stream.ReadToEnd();
    return TryLoadFromStream(std::span<const std::uint8_t>(bytes));
}

void TXMPPacket::LoadFromStream(std::span<const std::uint8_t> data) {
    if (!TryLoadFromStream(data)) {
        DoLoadError(data);
    }
}

void TXMPPacket::LoadFromStream(TStream& stream) {
    const std::vector<std::uint8_t> bytes = stream.ReadToEnd();
    LoadFromStream(std::span<const std::uint8_t>(bytes));
}

void TXMPPacket::LoadFromFile(const std::string& fileName) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(fileName);
    LoadFromStream(std::span<const std::uint8_t>(bytes));
}

bool TXMPPacket::LoadFromJPEG(const std::string& jpegFileName) {
    THeadFileStream stream(jpegFileName);
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
    if (!FRawXMLCache.empty()) {
        out.insert(out.end(), FRawXMLCache.begin(), FRawXMLCache.end());
        if (FRawXMLCache.back() != ' ') {
            out.push_back(' ');
        }
        return;
    }
    std::string text;
    GenerateXML(text);
    out.insert(out.end(), text.begin(), text.end());
}

void TXMPPacket::SaveToStream(TStream& stream) const {
    std::vector<std::uint8_t> bytes;
    SaveToStream(bytes);
    stream.WriteBytes(bytes);
}

void TXMPPacket::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, TFileStream::TMode::fmCreate);
    SaveToStream(file);
}

namespace {

void WriteProperty(std::string& out, const TXMPProperty& prop, int indent, std::string_view prefix) {
    const std::string tabs(static_cast<std::size_t>(indent), '\t');
    const TXMPProperty* parent = prop.ParentProperty();
    if (prop.Kind() == xpSimple && parent != nullptr && IsArrayKind(parent->Kind())) {
        out += tabs;
        out += "<rdf:li";
        if (parent->Kind() == xpAltArray) {
            out += " xml:lang=\"";
            AppendEscaped(out, prop.Name());
            out += '"';
        }
        out += '>';
        AppendEscaped(out, prop.ReadValue());
        out += "</rdf:li>\n";
        return;
    }
    std::string qualified(prefix);
    qualified += ':';
    qualified += prop.Name();
    if (prop.Kind() == xpSimple) {
        out += tabs + '<' + qualified + '>';
        AppendEscaped(out, prop.ReadValue());
        out += "</" + qualified + ">\n";
        return;
    }
    const std::string_view container = ContainerName(prop.Kind());
    out += tabs + '<' + qualified + ">\n" + tabs + "\t<";
    out += container;
    out += ">\n";
    for (const auto& sub : prop) {
        WriteProperty(out, *sub, indent + 2, prefix);
    }
    out += tabs + "\t</";
    out += container;
    out += ">\n" + tabs + "</" + qualified + ">\n";
}

}  // namespace

void TXMPPacket::GenerateXML(std::string& out) const {
    out += kPacketHeaderStart;
    out += kRDFNamespace;
    out += kPacketHeaderEnd;
    for (const auto& schema : FSchemas) {
        // A namespace without a prefix cannot be declared in this form: only properties kept as read, which
        // declare their namespaces themselves, can be written for it.
        const bool declarable = !schema->FPreferredPrefix.empty();
        if (!declarable && std::none_of(schema->FProperties.begin(), schema->FProperties.end(),
                                        [](const auto& prop) { return !prop->FSourceXML.empty(); })) {
            continue;
        }
        // The about value, prefix and URI come from the photo: escaped so the packet stays well-formed.
        out += "\t\t<rdf:Description rdf:about=\"";
        AppendEscaped(out, FAboutAttributeValue);
        out += '"';
        if (declarable) {
            out += " xmlns:";
            AppendEscaped(out, schema->FPreferredPrefix);
            out += "=\"";
            AppendEscaped(out, schema->FURI);
            out += '"';
        }
        out += ">\n";
        for (const auto& prop : schema->FProperties) {
            if (!prop->FSourceXML.empty()) {
                out += "\t\t\t";
                out += prop->FSourceXML;
                out += '\n';
            } else if (declarable) {
                WriteProperty(out, *prop, 3, schema->FPreferredPrefix);
            }
        }
        out += "\t\t</rdf:Description>\n";
    }
    out += kPacketFooter;
}

void TXMPPacket::Clear() {
    if (FSchemas.empty() && FAboutAttributeValue.empty()) {
        return;
    }
    FSchemas.clear();
    FAboutAttributeValue.clear();
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
                                        TDateTime newValue, bool applyLocalBias) {
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
