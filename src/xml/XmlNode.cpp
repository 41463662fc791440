// src/xml/XmlNode.cpp: one node of a document tree: its texts, attributes, children and lookups.
#include <new>
#include <string>
#include <vector>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "xml/XmlDateTime.h"
#include "xml/XmlDocument.h"
#include "xml/XmlText.h"

namespace zeloro {

namespace {

using enum TXmlElementType;

bool AttributeEntryMatches(std::string_view entry, std::string_view name) noexcept {
    return entry.size() > name.size() && entry[name.size()] == '=' &&
           SameTextAscii(entry.substr(0, name.size()), name);
}

}  // namespace

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
    std::string text;
    AttributeTextInto(name, text);
    return text;
}

void TXmlNode::AttributeTextInto(std::string_view name, std::string& text) const {
    const std::string_view* entry = FindAttribute(name);
    if (entry == nullptr) {
        text.clear();
        return;
    }
    const std::string_view value = entry->substr(name.size() + 1);
    // The common value, quoted once with no reference and no doubled quote inside, is its inner text.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) {
        const std::size_t close = value.find(value.front(), 1);
        const std::string_view inner = value.substr(1, close == std::string_view::npos ? close : close - 1);
        const bool doubled =
            close != std::string_view::npos && close + 1 < value.size() && value[close + 1] == value.front();
        if (!doubled && inner.find('&') == std::string_view::npos) {
            text.assign(inner);
            return;
        }
    }
    text = UnescapeText(UnquoteText(value));
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

DateTimeValue TXmlNode::ValueAsDateTime() const {
    const bool useLocalBias = document_ != nullptr && document_->UseLocalBias();
    // A time text without references is converted where it stands; only one with "&" needs decoding.
    const std::string_view value = ValueDirect();
    if (value.find('&') == std::string_view::npos) {
        return DateTimeFromText(type_ == xeNormal ? TrimBlanks(value) : value, useLocalBias);
    }
    return DateTimeFromText(ValueAsString(), useLocalBias);
}

void TXmlNode::AppendValueAsDateTimeText(std::string& text) const {
    const bool useLocalBias = document_ != nullptr && document_->UseLocalBias();
    const std::string_view value = ValueDirect();
    if (value.find('&') == std::string_view::npos) {
        AppendDateTimeFromText(text, type_ == xeNormal ? TrimBlanks(value) : value, useLocalBias);
        return;
    }
    AppendDateTimeFromText(text, ValueAsString(), useLocalBias);
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
        throw EFilerError(FillMessage(kTextTooLong, Name()));
    }
    valueData_ = stored.data();
    valueSize_ = static_cast<std::uint32_t>(stored.size());
}

void TXmlNode::SetAttributes(const std::vector<std::string_view>& tokens, std::size_t first) {
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

}  // namespace zeloro
