// src/xml/XmlDocument.cpp: the document: its settings, its tree's storage and the load entry points.
#include "xml/XmlDocument.h"

#include <new>

#include "xml/detail/XmlLoader.h"

namespace zeloro {

namespace {

using enum TXmlElementType;

}  // namespace

TXmlDocument::TXmlDocument() { Clear(); }

TXmlDocument::~TXmlDocument() = default;

void TXmlDocument::ResetDefaults() noexcept {
    externalEncoding_ = TStringEncodingType::seUTF8;
    xmlFormat_ = TXmlFormatType::xfCompact;
    dropCommentsOnParse_ = false;
    useLocalBias_ = false;
    abortParsing_ = false;
}

TXmlNode* TXmlDocument::NewNode() {
    auto* node = new (arena_.Allocate(sizeof(TXmlNode), alignof(TXmlNode))) TXmlNode();
    node->document_ = this;
    return node;
}

const std::string_view* TXmlDocument::InternName(std::string_view name) {
    if (name.empty()) {
        return nullptr;
    }
    auto found = names_.find(name);
    if (found == names_.end()) {
        found = names_.insert(namesArena_.Store(name)).first;
    }
    return &*found;  // elements of the set keep their place when it grows
}

void TXmlDocument::MakeDefaultTree() {
    names_.clear();
    namesArena_.Reset();
    arena_.Reset();
    rootNodes_ = NewNode();
    TXmlNode& declaration = rootNodes_->NodeNew();
    declaration.type_ = xeDeclaration;
    declaration.SetName("xml");
    declaration.SetAttributes({"version=\"1.0\"", "encoding=\"UTF-8\""}, 0);
    rootNodes_->NodeNew();
}

void TXmlDocument::Clear() {
    ResetDefaults();
    MakeDefaultTree();
}

TXmlNode* TXmlDocument::Root() const noexcept {
    for (TXmlNode* node = rootNodes_->first_; node != nullptr; node = node->next_) {
        if (node->type_ == xeNormal) {
            return node;
        }
    }
    return nullptr;
}

void TXmlDocument::LoadFromFile(const std::string& path) {
    XmlFileStream file(path);
    LoadFromStream(file);
}

void TXmlDocument::LoadFromStream(XmlStream& stream) { Load(stream, nullptr); }

void TXmlDocument::StreamFromFile(const std::string& path, XmlNodeSink& sink) {
    XmlFileStream file(path);
    Load(file, &sink);
}

void TXmlDocument::Load(XmlStream& stream, XmlNodeSink* sink) {
    // A new load starts from fresh storage: the nodes of the previous tree are gone with it.
    names_.clear();
    namesArena_.Reset();
    arena_.Reset();
    rootNodes_ = NewNode();
    TxrBufferedReadStream buffered(&stream, false);
    TxrUtf8Stream codec(&buffered);
    codecStream_ = &codec;
    try {
        XmlLoader loader(*this, codec, sink);
        loader.ReadDocument();
    } catch (...) {
        codecStream_ = nullptr;
        throw;
    }
    externalEncoding_ = codec.Encoding();
    codecStream_ = nullptr;
}

}  // namespace zeloro
