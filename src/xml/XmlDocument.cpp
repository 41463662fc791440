// src/xml/XmlDocument.cpp: the node tree, its lookups and the loader that builds it from a decoding stream.
#include "xml/XmlDocument.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <new>

#include "common/AsciiText.h"
#include "xml/XmlDateTime.h"
#include "xml/XmlText.h"

namespace zeloro {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::string WithName(const char* message, std::string_view name) {
    const std::string_view format = message;
    const std::size_t at = format.find("%s");
    std::string text;
    text.reserve(format.size() + name.size());
    if (at == std::string_view::npos) {
        return text.append(format);
    }
    return text.append(format.substr(0, at)).append(name).append(format.substr(at + 2));
}

struct TTagType {
    std::string_view Start;
    std::string_view Close;
    TXmlElementType Style;
};

using enum TXmlElementType;
constexpr std::array<TTagType, 12> kTagTypes{{
    {"<![CDATA[", "]]>", xeCData},
    {"<!DOCTYPE", ">", xeDoctype},
    {"<!ELEMENT", ">", xeElement},
    {"<!ATTLIST", ">", xeAttList},
    {"<!ENTITY", ">", xeEntity},
    {"<!NOTATION", ">", xeNotation},
    {"<?xml-stylesheet", "?>", xeStylesheet},
    {"<?xml", "?>", xeDeclaration},
    {"<!--", "-->", xeComment},
    {"<!", ">", xeExclam},
    {"<?", "?>", xeQuestion},
    {"<", ">", xeNormal},
}};

std::string_view FixedName(TXmlElementType type) noexcept {
    switch (type) {
        case xeComment:
            return "Comment";
        case xeCData:
            return "CData";
        case xeExclam:
        case xeQuestion:
            return "Special";
        default:
            return "Unknown";
    }
}

// Bytes pushed back by the markup classification, delivered before the decoding stream's.
class TxrSurplusReader {
public:
    explicit TxrSurplusReader(TxrUtf8Stream& stream) noexcept : stream_(stream) {}
    bool Read(char& c) {
        if (pos_ < surplus_.size()) {
            c = surplus_[pos_++];
            return true;
        }
        return stream_.ReadChar(c);
    }
    [[nodiscard]] bool Empty() const noexcept { return pos_ >= surplus_.size(); }
    void PushBack(std::string_view bytes) {
        if (Empty()) {
            surplus_.assign(bytes);
        } else {
            surplus_.erase(0, pos_);
            surplus_.insert(0, bytes);
        }
        pos_ = 0;
    }
    // Appends the ASCII run that follows in the stream (see TxrUtf8Stream::ReadAsciiRun); nothing while
    // pushed-back bytes wait.
    std::size_t ReadRun(std::string& out, char stop1, char stop2, char stop3) {
        return Empty() ? stream_.ReadAsciiRun(out, stop1, stop2, stop3) : 0;
    }

private:
    TxrUtf8Stream& stream_;
    std::string surplus_;
    std::size_t pos_ = 0;
};

// Reads through the surplus reader up to the close string (not included in text, which comes in empty).
// With skipQuotes a close string inside a quoted stretch does not count. At the end of the data: false,
// and text stays empty.
bool ReadUntilClose(TxrSurplusReader& reader, std::string_view close, bool skipQuotes, std::string& text) {
    const char last = close.back();
    const std::string_view head = close.substr(0, close.size() - 1);
    char quote = 0;
    char c = 0;
    for (;;) {
        // Bytes that can neither end the read nor open or close a quoted stretch are taken in one run.
        if (quote != 0) {
            reader.ReadRun(text, quote, quote, quote);
        } else if (skipQuotes) {
            reader.ReadRun(text, '"', '\'', last);
        } else {
            reader.ReadRun(text, last, last, last);
        }
        if (!reader.Read(c)) {
            break;
        }
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (skipQuotes && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == last && std::string_view(text).ends_with(head)) {
            text.resize(text.size() - head.size());
            return true;
        }
        text.push_back(c);
    }
    text.clear();
    return false;
}

bool AttributeEntryMatches(std::string_view entry, std::string_view name) noexcept {
    return entry.size() > name.size() && entry[name.size()] == '=' &&
           SameTextAscii(entry.substr(0, name.size()), name);
}

}  // namespace

// ---- TXmlArena

void TXmlArena::FreeBlock::operator()(std::byte* block) const noexcept { std::free(block); }

void* TXmlArena::Allocate(std::size_t size, std::size_t align) {
    // Blocks grow from 64 KiB to 4 MiB, so that a small document stays small.
    const std::size_t kBlock = std::min<std::size_t>(std::size_t{65536} << std::min<std::size_t>(blocks_.size(), 6),
                                                     std::size_t{4} << 20);
    const auto misalign = [&] {
        return (align - (reinterpret_cast<std::uintptr_t>(cursor_) & (align - 1))) & (align - 1);
    };
    if (cursor_ == nullptr || left_ < size || left_ - size < misalign()) {
        std::size_t want = std::max(kBlock, size + align);
        void* block = nullptr;
        if (want >= kHugePage) {
            // Large blocks on huge-page boundaries: a big track then costs a few hundred page faults
            // instead of a hundred thousand.
            want = (want + kHugePage - 1) / kHugePage * kHugePage;
            block = std::aligned_alloc(kHugePage, want);
            if (block != nullptr) {
                (void)madvise(block, want, MADV_HUGEPAGE);
            }
        } else {
            block = std::malloc(want);
        }
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        blocks_.emplace_back(static_cast<std::byte*>(block));
        cursor_ = blocks_.back().get();
        left_ = want;
        reserved_ += want;
    }
    const std::size_t pad = misalign();
    std::byte* at = cursor_ + pad;
    cursor_ = at + size;
    left_ -= pad + size;
    return at;
}

std::string_view TXmlArena::Store(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    auto* at = static_cast<char*>(Allocate(text.size(), 1));
    std::copy(text.begin(), text.end(), at);
    return {at, text.size()};
}

void TXmlArena::Reset() noexcept {
    blocks_.clear();
    cursor_ = nullptr;
    left_ = 0;
    reserved_ = 0;
}

// ---- TXmlNode

static_assert(sizeof(TXmlNode) <= 80, "a node of a big track is one of millions");

TXmlNode* TXmlNode::Nodes(int index) const noexcept {
    if (index < 0) {
        return nullptr;
    }
    TXmlNode* child = first_;
    for (int i = 0; i < index && child != nullptr; ++i) {
        child = child->next_;
    }
    return child;
}

int TXmlNode::NodeCount() const noexcept {
    int count = 0;
    for (const TXmlNode* child = first_; child != nullptr; child = child->next_) {
        ++count;
    }
    return count;
}

std::string_view TXmlNode::AttributeEntry(int index) const noexcept {
    if (index < 0 || static_cast<std::uint32_t>(index) >= attributeCount_) {
        return {};
    }
    return attributes_[index];
}

const std::string_view* TXmlNode::FindAttribute(std::string_view name) const noexcept {
    for (std::uint32_t i = 0; i < attributeCount_; ++i) {
        if (AttributeEntryMatches(attributes_[i], name)) {
            return &attributes_[i];
        }
    }
    return nullptr;
}

std::string TXmlNode::AttributeTextByName(std::string_view name) const {
    const std::string_view* entry = FindAttribute(name);
    if (entry == nullptr) {
        return {};
    }
    return UnescapeText(UnquoteText(entry->substr(name.size() + 1)));
}

bool TXmlNode::HasAttribute(std::string_view name) const noexcept { return FindAttribute(name) != nullptr; }

TXmlNode* TXmlNode::NodeByName(std::string_view name) const noexcept {
    for (TXmlNode* child = first_; child != nullptr; child = child->next_) {
        if (SameTextAscii(child->Name(), name)) {
            return child;
        }
    }
    return nullptr;
}

void TXmlNode::FindNodesInto(std::string_view name, bool byPath, TXmlNodeList& list) const {
    for (TXmlNode* child = first_; child != nullptr; child = child->next_) {
        if (byPath ? SameTextAscii(child->FullPath(), name) : SameTextAscii(child->Name(), name)) {
            list.Add(child);
        }
        child->FindNodesInto(name, byPath, list);
    }
}

void TXmlNode::FindNodes(std::string_view name, TXmlNodeList& list) const {
    list.Clear();
    FindNodesInto(name, name.starts_with('/'), list);
}

std::string TXmlNode::FullPath() const {
    std::vector<std::string_view> names;
    for (const TXmlNode* node = this; node != nullptr && node->parent_ != nullptr; node = node->parent_) {
        names.push_back(node->Name());
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path.push_back('/');
        path.append(*it);
    }
    return path;
}

int TXmlNode::TreeDepth() const noexcept {
    int depth = -1;
    for (const TXmlNode* node = parent_; node != nullptr; node = node->parent_) {
        ++depth;
    }
    return depth;
}

std::string TXmlNode::ValueAsString() const {
    return UnescapeText(type_ == xeNormal ? TrimBlanks(ValueDirect()) : ValueDirect());
}

TDateTime TXmlNode::ValueAsDateTime() const {
    const bool useLocalBias = document_ != nullptr && document_->UseLocalBias();
    // A time text without references is converted where it stands; only one with "&" needs decoding.
    const std::string_view value = ValueDirect();
    if (value.find('&') == std::string_view::npos) {
        return DateTimeFromText(type_ == xeNormal ? TrimBlanks(value) : value, useLocalBias);
    }
    return DateTimeFromText(ValueAsString(), useLocalBias);
}

void TXmlNode::Clear() noexcept {
    name_ = nullptr;
    SetValueView({});
    attributes_ = nullptr;
    attributeCount_ = 0;
    NodesClear();
}

TXmlNode& TXmlNode::NodeNew() {
    TXmlNode* child = document_->NewNode();
    child->parent_ = this;
    child->document_ = document_;
    if (last_ == nullptr) {
        first_ = child;
    } else {
        last_->next_ = child;
    }
    last_ = child;
    return *child;
}

void TXmlNode::NodeDelete(int index) noexcept {
    if (index < 0) {
        return;
    }
    // The node's storage belongs to the document's arena and is released with the tree.
    TXmlNode* before = nullptr;
    TXmlNode* child = first_;
    for (int i = 0; i < index && child != nullptr; ++i) {
        before = child;
        child = child->next_;
    }
    if (child == nullptr) {
        return;
    }
    (before == nullptr ? first_ : before->next_) = child->next_;
    if (last_ == child) {
        last_ = before;
    }
    child->parent_ = nullptr;
    child->next_ = nullptr;
}

void TXmlNode::NodesClear() noexcept {
    first_ = nullptr;
    last_ = nullptr;
}

void TXmlNode::SetName(std::string_view name) { name_ = document_->InternName(name); }

void TXmlNode::SetValue(std::string_view value) { SetValueView(document_->arena_.Store(value)); }

void TXmlNode::SetValueView(std::string_view stored) {
    if (stored.size() > UINT32_MAX) {
        throw FilerError(WithName(kTextTooLong, Name()));
    }
    valueData_ = stored.data();
    valueSize_ = static_cast<std::uint32_t>(stored.size());
}

void TXmlNode::SetAttributes(const std::vector<std::string>& tokens, std::size_t first) {
    if (first >= tokens.size()) {
        attributes_ = nullptr;
        attributeCount_ = 0;
        return;
    }
    const std::size_t count = tokens.size() - first;
    auto* views = static_cast<std::string_view*>(
        document_->arena_.Allocate(count * sizeof(std::string_view), alignof(std::string_view)));
    for (std::size_t i = 0; i < count; ++i) {
        new (&views[i]) std::string_view(document_->arena_.Store(tokens[first + i]));
    }
    attributes_ = views;
    attributeCount_ = static_cast<std::uint32_t>(count);
}

// ---- The loader

class XmlLoader {
public:
    XmlLoader(TXmlDocument& document, TxrUtf8Stream& codec) : document_(document), codec_(codec) {}

    void ReadDocument();

private:
    // Buffers of one nesting level, kept between elements so that reading allocates little.
    struct Scratch {
        std::string text;
        std::string tag;
        std::vector<std::string> tokens;
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
};

void XmlLoader::ReadDocument() {
    document_.abortParsing_ = false;
    TXmlNode& list = *document_.rootNodes_;
    list.NodesClear();
    do {
        TXmlNode& node = list.NodeNew();
        ReadNode(node);
        if (node.type_ == xeDeclaration) {
            std::string encoding;
            if (node.HasAttribute("encoding")) {
                encoding = node.AttributeTextByName("encoding");
            } else {
                codec_.SetEncoding(TStringEncodingType::seUTF8);
            }
            if (SameTextAscii(encoding, "UTF-8")) {
                codec_.SetEncoding(TStringEncodingType::seUTF8);
            }
        }
        if (node.IsClear()) {
            list.NodeDelete(list.NodeCount() - 1);
        }
    } while (codec_.Position() < codec_.Size());
    if (document_.Root() == nullptr) {
        throw FilerError(kNoRootElement);
    }
}

std::size_t XmlLoader::MatchTagStart(TxrSurplusReader& reader) {
    std::array<bool, kTagTypes.size()> active{};
    active.fill(true);
    std::size_t best = kTagTypes.size() - 1;
    std::string read;  // the characters from position 2 on
    for (std::size_t p = 2;; ++p) {
        char c = 0;
        if (!reader.Read(c)) {
            break;
        }
        read.push_back(c);
        bool matched = false;
        for (std::size_t row = kTagTypes.size(); row-- > 0;) {
            const std::string_view start = kTagTypes[row].Start;
            if (!active[row] || start.size() < p) {
                continue;
            }
            if (start[p - 1] == c) {
                matched = true;
                if (start.size() == p) {
                    best = row;
                }
            } else {
                active[row] = false;
            }
        }
        if (!matched) {
            // What was read beyond the best start belongs to the markup's text.
            reader.PushBack(std::string_view(read).substr(kTagTypes[best].Start.size() - 1));
            break;
        }
    }
    return best;
}

void XmlLoader::ReadNode(TXmlNode& node, std::string_view pending) {
    node.Clear();
    TxrSurplusReader reader(codec_);
    if (!pending.empty()) {
        reader.PushBack(pending);
    }
    char c = 0;
    do {
        if (!reader.Read(c)) {
            return;
        }
    } while (IsXmlBlank(c));
    if (c != '<') {
        return;  // stray text outside an element is dropped byte by byte
    }
    const TTagType& row = kTagTypes[MatchTagStart(reader)];
    node.type_ = row.Style;
    if (static_cast<std::size_t>(depth_) >= scratch_.size()) {
        scratch_.emplace_back();
    }
    Scratch& scratch = scratch_[static_cast<std::size_t>(depth_)];
    switch (row.Style) {
        case xeNormal:
        case xeDeclaration:
        case xeStylesheet: {
            scratch.tag.clear();
            (void)ReadUntilClose(reader, row.Close, true, scratch.tag);
            bool emptyElement = false;
            if (row.Style == xeNormal && !scratch.tag.empty() && scratch.tag.back() == '/') {
                emptyElement = true;
                scratch.tag.pop_back();
            }
            SplitTagTokens(scratch.tag, scratch.tokens);
            std::size_t firstAttribute = 0;
            if (row.Style == xeDeclaration) {
                node.SetName("xml");
            } else if (row.Style == xeStylesheet) {
                node.SetName("xml-stylesheet");
                node.SetValue(TrimBlanks(scratch.tag));
            } else {
                if (scratch.tokens.empty()) {
                    throw FilerError(kMissingElementName);
                }
                node.SetName(scratch.tokens.front());
                firstAttribute = 1;
            }
            node.SetAttributes(scratch.tokens, firstAttribute);
            if (row.Style == xeNormal && !emptyElement) {
                ReadContent(node, reader, scratch);
            }
            return;
        }
        case xeDoctype:
            node.SetName("DTD");
            ParseDocType(node);
            return;
        case xeElement:
        case xeAttList:
        case xeEntity:
        case xeNotation:
            ReadDeclarationBody(node, scratch);
            return;
        default: {
            node.SetName(FixedName(row.Style));
            std::string value;
            (void)ReadUntilClose(reader, row.Close, false, value);
            node.SetValue(value);
            return;
        }
    }
}

void XmlLoader::ReadDeclarationBody(TXmlNode& node, Scratch& scratch) {
    scratch.tag.clear();
    char quote = 0;
    char c = 0;
    while (codec_.ReadChar(c)) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
        scratch.tag.push_back(c);
    }
    SplitTagTokens(scratch.tag, scratch.tokens);
    if (scratch.tokens.empty()) {
        return;
    }
    node.SetName(scratch.tokens.front());
    std::string value;
    for (std::size_t i = 1; i < scratch.tokens.size(); ++i) {
        value += scratch.tokens[i];
        value += "\r\n";
    }
    node.SetValue(TrimBlanks(value));
}

void XmlLoader::ParseDocType(TXmlNode& node) {
    std::string text;
    char c = 0;
    bool subset = false;
    for (;;) {
        if (!codec_.ReadChar(c)) {
            return;
        }
        if (c == '>' || c == '[') {
            subset = c == '[';
            break;
        }
        text.push_back(c);
    }
    std::vector<std::string> tokens;
    SplitTagTokens(text, tokens);
    if (!tokens.empty()) {
        node.SetName(tokens.front());
        std::string value;
        for (std::size_t i = 1; i < tokens.size(); ++i) {
            value += tokens[i];
            value += "\r\n";
        }
        std::string spaced;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
                spaced.push_back(' ');
                ++i;
            } else {
                spaced.push_back(value[i]);
            }
        }
        node.SetValue(TrimBlanks(spaced));
    }
    if (subset) {
        bool more = true;
        while (more) {
            ReadChild(node);
            for (;;) {
                while ((more = codec_.ReadChar(c)) && IsXmlBlank(c)) {
                }
                if (!more || c == ']') {
                    more = false;
                    break;
                }
                if (codec_.LastByteStartedCharacter()) {
                    codec_.StepBack(1);  // the next declaration starts with this character
                    break;
                }
                // The rest of a multi-byte character cannot be read again after a step back (it would
                // start the same character over and over); it is dropped, as the next declaration
                // would drop a stray byte.
            }
        }
        // What follows the subset up to the ">" that closes the document type is not used.
        while (codec_.ReadChar(c) && c != '>') {
        }
    }
}

void XmlLoader::ReadChild(TXmlNode& parent, std::string_view pending) {
    if (depth_ + 1 >= kMaxNestingDepth) {
        throw FilerError(WithName(kNestingTooDeep, parent.Name()));
    }
    TXmlNode& child = parent.NodeNew();
    ++depth_;
    ReadNode(child, pending);
    --depth_;
    if (document_.dropCommentsOnParse_ && child.type_ == xeComment) {
        parent.NodeDelete(parent.NodeCount() - 1);
    }
}

void XmlLoader::Flush(TXmlNode& node, std::string& text, bool keepBlank) {
    if (!text.empty() && (keepBlank || !TrimBlanks(text).empty())) {
        TXmlNode& child = node.NodeNew();
        child.type_ = xeCharData;
        child.SetValue(text);
    }
    text.clear();
}

void XmlLoader::ReadContent(TXmlNode& node, TxrSurplusReader& reader, Scratch& scratch) {
    std::string& text = scratch.text;
    text.clear();
    bool hasSubNodes = false;
    bool hasCR = false;
    for (;;) {
        const std::size_t runStart = text.size();
        if (codec_.ReadAsciiRun(text, '<', '<', '<') > 0 &&
            text.find('\r', runStart) != std::string::npos) {
            hasCR = true;
        }
        char c = 0;
        if (!codec_.ReadChar(c)) {
            throw FilerError(WithName(kMissingCloseTag, node.Name()));
        }
        if (c != '<') {
            if (c == '\r') {
                hasCR = true;
            }
            text.push_back(c);
            continue;
        }
        // Whether the "<" began a source character of its own: in malformed UTF-8 it can be the second
        // byte of one, and then no step back lands on it.
        const bool lessThanStarts = codec_.LastByteStartedCharacter();
        char before = '<';
        char next = 0;
        bool fromStream = false;
        for (;;) {
            fromStream = reader.Empty();
            if (!reader.Read(next)) {
                throw FilerError(WithName(kMissingDataAfterLt, node.Name()));
            }
            if (!IsXmlBlank(next)) {
                break;
            }
            before = next;
        }
        if (next == '/') {
            scratch.tag.clear();
            if (!ReadUntilClose(reader, ">", true, scratch.tag)) {
                throw FilerError(WithName(kMissingGtInCloseTag, node.Name()));
            }
            if (!SameTextAscii(TrimBlanks(scratch.tag), node.Name())) {
                throw FilerError(WithName(kIncorrectCloseTag, node.Name()));
            }
            break;
        }
        Flush(node, text, false);
        hasCR = false;
        hasSubNodes = true;
        if (lessThanStarts && fromStream && codec_.LastByteStartedCharacter()) {
            codec_.StepBack(2);  // back to the "<" (or the blank before the name), which the child reads again
            ReadChild(node);
        } else {
            // The two characters cannot be read again from the stream; the child gets the same two bytes
            // handed over instead, and the rest of a multi-byte character follows from the stream. This
            // keeps the loop moving forward on malformed input.
            const std::array<char, 2> pending{before, next};
            ReadChild(node, std::string_view(pending.data(), pending.size()));
        }
    }
    if (!hasSubNodes) {
        // The whole text, blanks included, is the element's value (what a text child taken over as the
        // value would give, without the child).
        if (!text.empty()) {
            node.SetValue(text);
        }
        text.clear();
        return;
    }
    Flush(node, text, false);
    if (hasCR) {
        for (TXmlNode* child = node.first_; child != nullptr; child = child->next_) {
            if (child->type_ != xeCharData) {
                continue;
            }
            std::string_view value = child->ValueDirect();
            while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) {
                value.remove_suffix(1);
            }
            child->SetValueView(value);
        }
    }
    if (node.first_ != nullptr && node.first_->type_ == xeCharData) {
        node.SetValueView(node.first_->ValueDirect());
        node.NodeDelete(0);
    }
}

// ---- TXmlDocument

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
        found = names_.insert(arena_.Store(name)).first;
    }
    return &*found;  // elements of the set keep their place when it grows
}

void TXmlDocument::MakeDefaultTree() {
    names_.clear();
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
    TXmlFileStream file(path);
    LoadFromStream(file);
}

void TXmlDocument::LoadFromStream(TXmlStream& stream) {
    // A new load starts from fresh storage: the nodes of the previous tree are gone with it.
    names_.clear();
    arena_.Reset();
    rootNodes_ = NewNode();
    TxrBufferedReadStream buffered(&stream, false);
    TxrUtf8Stream codec(&buffered);
    codecStream_ = &codec;
    try {
        XmlLoader loader(*this, codec);
        loader.ReadDocument();
    } catch (...) {
        codecStream_ = nullptr;
        throw;
    }
    externalEncoding_ = codec.Encoding();
    codecStream_ = nullptr;
}

}  // namespace zeloro
