// src/xml/detail/XmlLoader.h: the loader that builds a document's tree from a decoding stream.
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "xml/XmlDocument.h"
#include "xml/XmlStreams.h"

namespace zeloro {

class TxrSurplusReader;

// Reads one document into the tree of its owner; throws EFilerError for what it rejects.
class XmlLoader {
public:
    // With a sink, each node read below a top-level node goes to it, and one it does not keep leaves
    // the tree at once.
    XmlLoader(TXmlDocument& document, TxrUtf8Stream& codec, XmlNodeSink* sink = nullptr)
        : document_(document), codec_(codec), sink_(sink) {}

    void ReadDocument();

private:
    // Buffers of one nesting level, kept between elements so that reading allocates little.
    struct Scratch {
        std::string text;
        std::string tag;
        std::vector<std::string> tokens;
        std::vector<std::string_view> views;  // the tokens, into tag or into tokens
    };

    // pending: bytes already taken from the stream that the node reads first.
    void ReadNode(TXmlNode& node, std::string_view pending = {});
    void ReadContent(TXmlNode& node, TxrSurplusReader& reader, Scratch& scratch);
    void ReadChild(TXmlNode& parent, std::string_view pending = {});
    std::size_t MatchTagStart(TxrSurplusReader& reader);
    void ReadDeclarationBody(TXmlNode& node, Scratch& scratch);
    void ParseDocType(TXmlNode& node);
    void Flush(TXmlNode& node, std::string& text, bool keepBlank);

    TXmlDocument& document_;
    TxrUtf8Stream& codec_;
    std::deque<Scratch> scratch_;  // a deque: references stay valid while deeper levels are added
    int depth_ = 0;
    XmlNodeSink* sink_;
    bool underRoot_ = false;  // the top-level node being read is the first element
};

}  // namespace zeloro
