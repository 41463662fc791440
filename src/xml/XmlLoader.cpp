// src/xml/XmlLoader.cpp: the loader: markup classification, elements and their content, document types.
#include "xml/detail/XmlLoader.h"

#include <array>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "xml/XmlText.h"

namespace zeloro {

namespace {

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

}  // namespace

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
    // One byte just read is to be read again.
    void PushBackByte(char c) {
        if (Empty()) {
            surplus_.assign(1, c);
        } else {
            surplus_.erase(0, pos_);
            surplus_.insert(surplus_.begin(), c);
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

namespace {

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

}  // namespace

void XmlLoader::ReadDocument() {
    document_.abortParsing_ = false;
    TXmlNode& list = *document_.rootNodes_;
    list.NodesClear();
    do {
        underRoot_ = document_.Root() == nullptr;
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
        throw EFilerError(kNoRootElement);
    }
}

std::size_t XmlLoader::MatchTagStart(TxrSurplusReader& reader) {
    constexpr std::size_t kPlain = kTagTypes.size() - 1;
    // Every longer start goes on with "!" or "?": any other byte after "<" begins a plain element's name.
    char first = 0;
    if (!reader.Read(first)) {
        return kPlain;
    }
    reader.PushBackByte(first);
    if (first != '!' && first != '?') {
        return kPlain;
    }
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
    if (depth_ == 0 && row.Style != xeNormal) {
        underRoot_ = false;  // a document type's declarations lie in no element
    }
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
            std::vector<std::string_view>& tokens = scratch.views;
            if (!SplitTagTokenViews(scratch.tag, tokens)) {
                SplitTagTokens(scratch.tag, scratch.tokens);
                tokens.assign(scratch.tokens.begin(), scratch.tokens.end());
            }
            std::size_t firstAttribute = 0;
            if (row.Style == xeDeclaration) {
                node.SetName("xml");
            } else if (row.Style == xeStylesheet) {
                node.SetName("xml-stylesheet");
                node.SetValue(TrimBlanks(scratch.tag));
            } else {
                if (tokens.empty()) {
                    throw EFilerError(kMissingElementName);
                }
                node.SetName(tokens.front());
                firstAttribute = 1;
            }
            node.SetAttributes(tokens, firstAttribute);
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
        throw EFilerError(FillMessage(kNestingTooDeep, parent.Name()));
    }
    const XmlArena::Mark mark = document_.arena_.Position();
    TXmlNode& child = parent.NodeNew();
    ++depth_;
    ReadNode(child, pending);
    --depth_;
    if (document_.dropCommentsOnParse_ && child.type_ == xeComment) {
        parent.NodeDelete(parent.NodeCount() - 1);
    } else if (sink_ != nullptr && !sink_->NodeRead(child, underRoot_)) {
        parent.NodeDelete(parent.NodeCount() - 1);
        document_.arena_.Release(mark);  // the child was the last thing stored
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
        if (codec_.ReadAsciiRun(text, '<', '<', '<') > 0 && text.find('\r', runStart) != std::string::npos) {
            hasCR = true;
        }
        char c = 0;
        if (!codec_.ReadChar(c)) {
            throw EFilerError(FillMessage(kMissingCloseTag, node.Name()));
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
                throw EFilerError(FillMessage(kMissingDataAfterLt, node.Name()));
            }
            if (!IsXmlBlank(next)) {
                break;
            }
            before = next;
        }
        if (next == '/') {
            scratch.tag.clear();
            if (!ReadUntilClose(reader, ">", true, scratch.tag)) {
                throw EFilerError(FillMessage(kMissingGtInCloseTag, node.Name()));
            }
            if (!SameTextAscii(TrimBlanks(scratch.tag), node.Name())) {
                throw EFilerError(FillMessage(kIncorrectCloseTag, node.Name()));
            }
            break;
        }
        Flush(node, text, false);
        hasCR = false;
        hasSubNodes = true;
        if (lessThanStarts && fromStream && codec_.LastByteStartedCharacter()) {
            codec_.StepBack(
                2);  // back to the "<" (or the blank before the name), which the child reads again
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

}  // namespace zeloro
