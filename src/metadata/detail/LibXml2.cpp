// src/metadata/detail/LibXml2.cpp: parsing, writing out and copying with libxml2.
#include "metadata/detail/LibXml2.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <new>

namespace zeloro {

namespace {

[[nodiscard]] std::string BufferText(const xmlBuffer* buffer) {
    return {reinterpret_cast<const char*>(xmlBufferContent(buffer)),
            static_cast<std::size_t>(xmlBufferLength(buffer))};
}

[[nodiscard]] bool HasEntityReference(const xmlNode* node) noexcept {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ENTITY_REF_NODE ||
            (child->type == XML_ELEMENT_NODE && HasEntityReference(child))) {
            return true;
        }
    }
    return false;
}

}  // namespace

XmlDocPtr ParseXmlDocument(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        return nullptr;
    }
    const XmlParserCtxtPtr ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        throw std::bad_alloc();
    }
    XmlDocPtr doc(xmlCtxtReadMemory(ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    // A namespace error (an undeclared prefix) fails the parse as it does in any namespace-aware DOM.
    if (!doc || ctxt->wellFormed == 0 || ctxt->nsWellFormed == 0) {
        return nullptr;
    }
    return doc;
}

std::string SerializeXmlDocument(xmlDoc* doc) {
    const XmlBufferPtr out(xmlBufferCreate());
    if (!out) {
        throw std::bad_alloc();
    }
    xmlSaveCtxt* save = xmlSaveToBuffer(out.get(), "UTF-8", XML_SAVE_NO_DECL);
    if (save != nullptr) {
        xmlSaveDoc(save, doc);
        xmlSaveClose(save);
    }
    return BufferText(out.get());
}

std::string StandaloneXml(const xmlNode* element) {
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
    return BufferText(out.get());
}

}  // namespace zeloro
