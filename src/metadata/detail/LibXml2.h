// src/metadata/detail/LibXml2.h: the metadata subsystem's libxml2 handles and the calls made with them.
#pragma once
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>

namespace zeloro {

struct XmlDocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;
struct XmlParserCtxtFree {
    void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};
using XmlParserCtxtPtr = std::unique_ptr<xmlParserCtxt, XmlParserCtxtFree>;
struct XmlBufferFree {
    void operator()(xmlBuffer* buffer) const noexcept { xmlBufferFree(buffer); }
};
using XmlBufferPtr = std::unique_ptr<xmlBuffer, XmlBufferFree>;

[[nodiscard]] inline std::string_view View(const xmlChar* text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view(reinterpret_cast<const char*>(text));
}

[[nodiscard]] inline std::string_view NamespaceURI(const xmlNs* ns) noexcept {
    return ns == nullptr ? std::string_view{} : View(ns->href);
}
[[nodiscard]] inline std::string_view NamespacePrefix(const xmlNs* ns) noexcept {
    return ns == nullptr ? std::string_view{} : View(ns->prefix);
}

// Reads the text without network access and without messages; entities are neither loaded nor
// substituted. Null when it is not well-formed XML, a namespace error (an undeclared prefix) included, or
// too long for libxml2; std::bad_alloc when libxml2 runs out of memory.
[[nodiscard]] XmlDocPtr ParseXmlDocument(std::string_view text);
// The document as text again, without an XML declaration.
[[nodiscard]] std::string SerializeXmlDocument(xmlDoc* doc);
// The element as text that stands on its own: every namespace it uses is declared on it. Empty when that
// cannot be had (an entity reference would not resolve outside the element's document).
[[nodiscard]] std::string StandaloneXml(const xmlNode* element);

}  // namespace zeloro
