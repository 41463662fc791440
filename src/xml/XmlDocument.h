// src/xml/XmlDocument.h: the XML document loader and its node tree.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/DateTime.h"
#include "common/Error.h"
#include "xml/XmlStreams.h"

namespace zeloro {

enum class TXmlElementType : std::uint8_t {
    xeNormal,
    xeComment,
    xeCData,
    xeDeclaration,
    xeStylesheet,
    xeDoctype,
    xeElement,
    xeAttList,
    xeEntity,
    xeNotation,
    xeExclam,
    xeQuestion,
    xeCharData,
    xeUnknown
};

enum class TXmlFormatType : std::uint8_t { xfReadable, xfCompact };

// A document that is not well-formed in the ways the loader checks. what() is the parser message.
class EFilerError : public Error {
public:
    using Error::Error;
};

inline constexpr const char* kNoRootElement = "No root element found in xml";
inline constexpr const char* kMissingElementName = "Missing element name";
inline constexpr const char* kMissingCloseTag = "Missing close tag in element %s";
inline constexpr const char* kMissingDataAfterLt = "Missing data after \"<\" in element %s";
inline constexpr const char* kMissingGtInCloseTag = "Missing \">\" in close tag of element %s";
inline constexpr const char* kIncorrectCloseTag = "Incorrect close tag in element %s";
// Deeper nesting than any real document has would otherwise exhaust the stack of the recursive reader.
inline constexpr const char* kNestingTooDeep = "Elements nested too deeply in element %s";
// A single text of 4 GiB or more cannot be held by a node.
inline constexpr const char* kTextTooLong = "Text too long in element %s";
inline constexpr int kMaxNestingDepth = 1000;  // levels of nodes, the top level counting as one

class TXmlDocument;
class TXmlNode;

// Told about a document's nodes while it is read, by a reader that needs no more than one part of the
// tree at a time.
class XmlNodeSink {
public:
    XmlNodeSink() = default;
    XmlNodeSink(const XmlNodeSink&) = delete;
    XmlNodeSink& operator=(const XmlNodeSink&) = delete;
    virtual ~XmlNodeSink() = default;
    // Called for every node below a top-level node as soon as it is read completely (a child before its
    // parent); underRoot: the node lies in the first top-level element, the one Root() gives. Returns
    // whether the tree keeps the node. A node not kept is taken out of its parent and its storage is used
    // again, so nothing of it or below it may be held on to.
    virtual bool NodeRead(const TXmlNode& node, bool underRoot) = 0;
};

// Node references in document order; the nodes stay owned by their document.
class TXmlNodeList {
public:
    [[nodiscard]] int Count() const noexcept { return static_cast<int>(items_.size()); }
    // Null for an index outside 0..Count()-1.
    [[nodiscard]] TXmlNode* Items(int index) const noexcept {
        return index >= 0 && static_cast<std::size_t>(index) < items_.size()
                   ? items_[static_cast<std::size_t>(index)]
                   : nullptr;
    }
    [[nodiscard]] TXmlNode* operator[](int index) const noexcept { return Items(index); }
    void Add(TXmlNode* node) { items_.push_back(node); }
    void Clear() noexcept { items_.clear(); }

private:
    std::vector<TXmlNode*> items_;
};

// One node of a document. Names and values are UTF-8 bytes held in the document's storage; a node is
// created only by its document (NodeNew) and lives as long as the document's current tree.
class TXmlNode {
public:
    TXmlNode() = default;
    TXmlNode(const TXmlNode&) = delete;
    TXmlNode& operator=(const TXmlNode&) = delete;

    [[nodiscard]] std::string_view Name() const noexcept {
        return name_ != nullptr ? *name_ : std::string_view();
    }
    // The text exactly as read: entities not decoded, white space kept.
    [[nodiscard]] std::string_view ValueDirect() const noexcept { return {valueData_, valueSize_}; }
    // An element's text trimmed of blanks, then entity-decoded; other kinds only entity-decoded.
    [[nodiscard]] std::string ValueAsString() const;
    // The text of ValueAsString as a date-time; throws ConvertError when it does not convert.
    [[nodiscard]] DateTimeValue ValueAsDateTime() const;
    // Appends AppendDateTimeText's text of ValueAsDateTime, with the same errors.
    void AppendValueAsDateTimeText(std::string& text) const;
    [[nodiscard]] TXmlElementType ElementType() const noexcept { return type_; }
    [[nodiscard]] TXmlNode* Parent() const noexcept { return parent_; }
    [[nodiscard]] TXmlDocument* Document() const noexcept { return document_; }
    [[nodiscard]] std::int32_t Tag() const noexcept { return tag_; }
    void SetTag(std::int32_t tag) noexcept { tag_ = tag; }

    // Counts the children (a walk along them).
    [[nodiscard]] int NodeCount() const noexcept;
    // Null for an index outside 0..NodeCount()-1.
    [[nodiscard]] TXmlNode* Nodes(int index) const noexcept;
    [[nodiscard]] TXmlNode* FirstChild() const noexcept { return first_; }
    [[nodiscard]] TXmlNode* NextSibling() const noexcept { return next_; }

    [[nodiscard]] int AttributeCount() const noexcept { return static_cast<int>(attributeCount_); }
    // The raw entry of attribute i (name, "=", quoted value, as written); empty outside the range.
    [[nodiscard]] std::string_view AttributeEntry(int index) const noexcept;
    // Unquoted and entity-decoded value of the first entry "name=..." (ASCII letters in any case);
    // empty when there is none.
    [[nodiscard]] std::string AttributeTextByName(std::string_view name) const;
    // The same text into text, whose storage a caller reading many nodes can keep.
    void AttributeTextInto(std::string_view name, std::string& text) const;
    [[nodiscard]] bool HasAttribute(std::string_view name) const noexcept;

    // The first direct child of any kind whose name matches without regard to letter case; null if none.
    [[nodiscard]] TXmlNode* NodeByName(std::string_view name) const noexcept;
    // Empties list, then appends every matching descendant in document order (a parent before its
    // children), never this node. A name starting with "/" is compared with the candidate's FullPath.
    void FindNodes(std::string_view name, TXmlNodeList& list) const;
    // "/" and the name of each ancestor below the root-node list, from the top down, then of this node.
    [[nodiscard]] std::string FullPath() const;
    // -1 for the root-node list, 0 for a top-level node, one more per level below.
    [[nodiscard]] int TreeDepth() const noexcept;

    [[nodiscard]] bool IsEmpty() const noexcept {
        return valueSize_ == 0 && first_ == nullptr && attributeCount_ == 0;
    }
    [[nodiscard]] bool IsClear() const noexcept { return IsEmpty() && name_ == nullptr; }

    // Empties name, value, attributes and children.
    void Clear() noexcept;
    // A new empty child appended after the others.
    TXmlNode& NodeNew();
    // Removes child index (no effect outside the range) with its subtree.
    void NodeDelete(int index) noexcept;
    void NodesClear() noexcept;

private:
    friend class TXmlDocument;
    friend class XmlLoader;

    void SetName(std::string_view name);
    void SetValue(std::string_view value);
    void SetValueView(std::string_view stored);  // a text already in the document's storage
    void SetAttributes(const std::vector<std::string_view>& tokens, std::size_t first);
    [[nodiscard]] const std::string_view* FindAttribute(std::string_view name) const noexcept;
    void FindNodesInto(std::string_view name, bool byPath, TXmlNodeList& list) const;

    // A node of a big track is one of millions: its fields are kept to 80 bytes.
    const std::string_view* name_ = nullptr;  // interned in the document; null for no name
    const char* valueData_ = nullptr;
    const std::string_view* attributes_ = nullptr;
    TXmlNode* parent_ = nullptr;
    TXmlNode* first_ = nullptr;
    TXmlNode* last_ = nullptr;
    TXmlNode* next_ = nullptr;
    TXmlDocument* document_ = nullptr;
    std::uint32_t valueSize_ = 0;
    std::uint32_t attributeCount_ = 0;
    std::int32_t tag_ = 0;
    TXmlElementType type_ = TXmlElementType::xeNormal;
};

// Bump storage for the nodes and texts of one tree: a few large blocks instead of one allocation per
// node and string, freed together when the tree is replaced.
class XmlArena {
public:
    void* Allocate(std::size_t size, std::size_t align);
    [[nodiscard]] std::string_view Store(std::string_view text);
    void Reset() noexcept;
    [[nodiscard]] std::size_t BytesReserved() const noexcept { return reserved_; }

    // A point in the storage; Release gives back everything allocated after it, for reuse.
    struct Mark {
        std::size_t blocks = 0;
        std::byte* cursor = nullptr;
        std::size_t left = 0;
        std::size_t reserved = 0;
    };
    [[nodiscard]] Mark Position() const noexcept { return {blocks_.size(), cursor_, left_, reserved_}; }
    void Release(const Mark& mark) noexcept;

private:
    struct FreeBlock {
        void operator()(std::byte* block) const noexcept;
    };
    std::vector<std::unique_ptr<std::byte, FreeBlock>> blocks_;
    std::byte* cursor_ = nullptr;
    std::size_t left_ = 0;
    std::size_t reserved_ = 0;
};

class TXmlDocument {
public:
    // A new document holding the default tree: a declaration (version 1.0, encoding UTF-8) and one
    // empty element.
    TXmlDocument();
    TXmlDocument(const TXmlDocument&) = delete;
    TXmlDocument& operator=(const TXmlDocument&) = delete;
    ~TXmlDocument();

    // Resets the settings to their defaults and the tree to the default tree.
    void Clear();
    // Throws FileError when the file cannot be opened, EFilerError for a document the loader rejects and
    // StreamError for an unsupported encoding. A failed load leaves what was read; discard the document.
    void LoadFromFile(const std::string& path);
    void LoadFromStream(XmlStream& stream);
    // Reads the file as LoadFromFile does, with the same errors at the same places, handing each node
    // to sink; the tree keeps only the nodes the sink keeps (and the top-level nodes), so the memory a
    // read takes need not grow with the file.
    void StreamFromFile(const std::string& path, XmlNodeSink& sink);

    // The first top-level element, or null.
    [[nodiscard]] TXmlNode* Root() const noexcept;
    // The unnamed node that owns every top-level node.
    [[nodiscard]] TXmlNode& RootNodeList() noexcept { return *rootNodes_; }

    [[nodiscard]] TXmlFormatType XmlFormat() const noexcept { return xmlFormat_; }
    // Governs output layout only; loading ignores it.
    void SetXmlFormat(TXmlFormatType format) noexcept { xmlFormat_ = format; }
    [[nodiscard]] bool UseLocalBias() const noexcept { return useLocalBias_; }
    void SetUseLocalBias(bool use) noexcept { useLocalBias_ = use; }
    [[nodiscard]] bool DropCommentsOnParse() const noexcept { return dropCommentsOnParse_; }
    void SetDropCommentsOnParse(bool drop) noexcept { dropCommentsOnParse_ = drop; }
    // The encoding in force at the end of the last successful load.
    [[nodiscard]] TStringEncodingType ExternalEncoding() const noexcept { return externalEncoding_; }
    [[nodiscard]] bool AbortParsing() const noexcept { return abortParsing_; }

private:
    friend class TXmlNode;
    friend class XmlLoader;

    void Load(XmlStream& stream, XmlNodeSink* sink);
    void ResetDefaults() noexcept;
    void MakeDefaultTree();
    TXmlNode* NewNode();
    [[nodiscard]] const std::string_view* InternName(std::string_view name);

    XmlArena arena_;
    XmlArena namesArena_;  // apart from the nodes, so that a node's storage can be used again
    std::unordered_set<std::string_view> names_;
    TXmlNode* rootNodes_ = nullptr;
    TxrUtf8Stream* codecStream_ = nullptr;
    TStringEncodingType externalEncoding_ = TStringEncodingType::seUTF8;
    TXmlFormatType xmlFormat_ = TXmlFormatType::xfCompact;
    bool abortParsing_ = false;
    bool dropCommentsOnParse_ = false;
    bool useLocalBias_ = false;
};

}  // namespace zeloro
