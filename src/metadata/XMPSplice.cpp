// src/metadata/XMPSplice.cpp: a changed packet written as the text it was read from, with only the changed
// values replaced, so that layout, comments, the toolkit name and blank values survive the save.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/AsciiText.h"
#include "metadata/XMPPacket.h"
#include "metadata/detail/XMPPacketIO.h"

namespace zeloro {

namespace {

constexpr std::string_view kXMLNamespace = "http://www.w3.org/XML/1998/namespace";

[[nodiscard]] bool IsXmlSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A top-level property of a description as it stands in the text: the bytes of its value.
struct ValueSpan {
    std::string uri;
    std::string localName;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool attribute = false;
    bool textOnly = true;  // element content without markup (no child, comment, CDATA or instruction)
};

struct Declared {
    std::string prefix;
    std::string uri;
};

struct OpenElement {
    std::string prefix;
    std::string localName;
    std::vector<Declared> declarations;
    std::size_t contentBegin = 0;
    int role = 0;  // see the Role values below
    std::size_t property = 0;
};

enum Role : std::uint8_t { rOther, rRoot, rRDF, rDescription, rProperty };

// Finds the value spans of every top-level property of the packet text, walking the markup the way the
// reader walks the parsed document. Nullopt for text this scan does not follow (a document type
// declaration with an internal subset, unbalanced or unterminated markup).
class ValueScanner {
public:
    explicit ValueScanner(std::string_view text) : text_(text) {}

    std::optional<std::vector<ValueSpan>> Scan() {
        std::size_t pos = 0;
        while (true) {
            const std::size_t lt = text_.find('<', pos);
            if (lt == std::string_view::npos) {
                break;
            }
            const std::string_view rest = text_.substr(lt);
            if (!rest.starts_with("</")) {
                MarkMarkupInProperty();
            }
            std::optional<std::size_t> next;
            if (rest.starts_with("<!--")) {
                next = SkipPast(lt, "-->");
            } else if (rest.starts_with("<?")) {
                next = SkipPast(lt, "?>");
            } else if (rest.starts_with("<![CDATA[")) {
                next = SkipPast(lt, "]]>");
            } else if (rest.starts_with("<!")) {
                const std::size_t gt = text_.find('>', lt);
                if (gt == std::string_view::npos ||
                    text_.substr(lt, gt - lt).find('[') != std::string_view::npos) {
                    return std::nullopt;
                }
                next = gt + 1;
            } else if (rest.starts_with("</")) {
                next = EndTag(lt);
            } else {
                next = StartTag(lt);
            }
            if (!next) {
                return std::nullopt;
            }
            pos = *next;
        }
        if (!open_.empty()) {
            return std::nullopt;
        }
        return std::move(spans_);
    }

private:
    [[nodiscard]] std::optional<std::size_t> SkipPast(std::size_t from, std::string_view terminator) const {
        const std::size_t at = text_.find(terminator, from + 2);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        return at + terminator.size();
    }

    void MarkMarkupInProperty() {
        if (!open_.empty() && open_.back().role == rProperty) {
            spans_[open_.back().property].textOnly = false;
        }
    }

    [[nodiscard]] std::string_view Resolve(std::string_view prefix) const {
        if (prefix == "xml") {
            return kXMLNamespace;
        }
        for (auto element = open_.rbegin(); element != open_.rend(); ++element) {
            for (const Declared& d : element->declarations) {
                if (d.prefix == prefix) {
                    return d.uri;
                }
            }
        }
        return {};
    }

    [[nodiscard]] static std::pair<std::string_view, std::string_view> SplitName(std::string_view name) {
        const std::size_t colon = name.find(':');
        if (colon == std::string_view::npos) {
            return {{}, name};
        }
        return {name.substr(0, colon), name.substr(colon + 1)};
    }

    [[nodiscard]] std::size_t NameEnd(std::size_t pos) const {
        while (pos < text_.size() && !IsXmlSpace(text_[pos]) && text_[pos] != '>' && text_[pos] != '/' &&
               text_[pos] != '=') {
            ++pos;
        }
        return pos;
    }

    [[nodiscard]] std::size_t SkipSpace(std::size_t pos) const {
        while (pos < text_.size() && IsXmlSpace(text_[pos])) {
            ++pos;
        }
        return pos;
    }

    std::optional<std::size_t> EndTag(std::size_t lt) {
        const std::size_t gt = text_.find('>', lt);
        if (gt == std::string_view::npos || open_.empty()) {
            return std::nullopt;
        }
        OpenElement& element = open_.back();
        if (element.role == rProperty) {
            spans_[element.property].end = lt;
        }
        open_.pop_back();
        return gt + 1;
    }

    struct Attribute {
        std::string_view name;
        std::size_t valueBegin;
        std::size_t valueEnd;
    };

    std::optional<std::size_t> StartTag(std::size_t lt) {
        std::size_t pos = NameEnd(lt + 1);
        const std::string_view qname = text_.substr(lt + 1, pos - lt - 1);
        if (qname.empty()) {
            return std::nullopt;
        }
        std::vector<Attribute> attributes;
        bool selfClosing = false;
        while (true) {
            pos = SkipSpace(pos);
            if (pos >= text_.size()) {
                return std::nullopt;
            }
            if (text_[pos] == '>') {
                ++pos;
                break;
            }
            if (text_.substr(pos).starts_with("/>")) {
                selfClosing = true;
                pos += 2;
                break;
            }
            const std::size_t nameEnd = NameEnd(pos);
            const std::string_view name = text_.substr(pos, nameEnd - pos);
            pos = SkipSpace(nameEnd);
            if (name.empty() || pos >= text_.size() || text_[pos] != '=') {
                return std::nullopt;
            }
            pos = SkipSpace(pos + 1);
            if (pos >= text_.size() || (text_[pos] != '"' && text_[pos] != '\'')) {
                return std::nullopt;
            }
            const std::size_t close = text_.find(text_[pos], pos + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            attributes.push_back({name, pos + 1, close});
            pos = close + 1;
        }

        OpenElement element;
        const auto [prefix, localName] = SplitName(qname);
        element.prefix = std::string(prefix);
        element.localName = std::string(localName);
        element.contentBegin = pos;
        for (const Attribute& attr : attributes) {
            if (attr.name == "xmlns") {
                element.declarations.push_back({"", std::string(Value(attr))});
            } else if (attr.name.starts_with("xmlns:")) {
                element.declarations.push_back({std::string(attr.name.substr(6)), std::string(Value(attr))});
            }
        }
        const int parentRole = open_.empty() ? rOther : open_.back().role;
        open_.push_back(std::move(element));
        OpenElement& self = open_.back();
        const std::string_view uri = Resolve(self.prefix);

        if (!rootSeen_) {
            rootSeen_ = true;
            if (self.localName == "RDF") {
                self.role = rRDF;
                rdfSeen_ = true;
            } else if (self.localName == "xmpmeta" || self.localName == "xapmeta") {
                self.role = rRoot;
            }
        } else if (parentRole == rRoot && !rdfSeen_ && qname == "rdf:RDF") {
            self.role = rRDF;
            rdfSeen_ = true;
        } else if (parentRole == rRDF && uri == kRDFNamespace && SameTextAscii(qname, "rdf:Description")) {
            self.role = rDescription;
            for (const Attribute& attr : attributes) {
                const auto [attrPrefix, attrLocal] = SplitName(attr.name);
                if (attrPrefix.empty() || attrPrefix == "xmlns") {
                    continue;
                }
                const std::string_view attrURI = Resolve(attrPrefix);
                if (!attrURI.empty() && attrURI != kRDFNamespace) {
                    spans_.push_back({std::string(attrURI), std::string(attrLocal), attr.valueBegin,
                                      attr.valueEnd, true, true});
                }
            }
        } else if (parentRole == rDescription && !uri.empty()) {
            self.role = rProperty;
            self.property = spans_.size();
            // A property written as an empty element has no content to replace: spliced as not text only.
            spans_.push_back({std::string(uri), self.localName, pos, pos, false, !selfClosing});
        }
        if (selfClosing) {
            open_.pop_back();
        }
        return pos;
    }

    [[nodiscard]] std::string_view Value(const Attribute& attr) const {
        return text_.substr(attr.valueBegin, attr.valueEnd - attr.valueBegin);
    }

    std::string_view text_;
    std::vector<OpenElement> open_;
    std::vector<ValueSpan> spans_;
    bool rootSeen_ = false;
    bool rdfSeen_ = false;
};

// Whether two models hold the same content: schemas, about value, every property's name, kind, value and
// sub-properties. Top-level simple properties whose values differ are collected in `changed` instead when
// it is given; any other difference makes the models unequal.
[[nodiscard]] bool SameProperty(const TXMPProperty& a, const TXMPProperty& b) {
    if (a.Name() != b.Name() || a.Kind() != b.Kind() || a.ReadValue() != b.ReadValue() ||
        a.SubPropertyCount() != b.SubPropertyCount()) {
        return false;
    }
    for (int i = 0; i < a.SubPropertyCount(); ++i) {
        if (!SameProperty(a.SubProperties(i), b.SubProperties(i))) {
            return false;
        }
    }
    return true;
}

struct ChangedValue {
    std::string_view uri;
    std::string_view name;
    std::string_view value;
};

[[nodiscard]] bool SameContent(std::string_view readAbout,
                               const std::vector<std::unique_ptr<TXMPSchema>>& readSchemas,
                               const TXMPPacket& current, std::vector<ChangedValue>* changed) {
    if (readAbout != current.AboutAttributeValue() ||
        readSchemas.size() != static_cast<std::size_t>(current.SchemaCount())) {
        return false;
    }
    for (std::size_t s = 0; s < readSchemas.size(); ++s) {
        const TXMPSchema& before = *readSchemas[s];
        const TXMPSchema& after = current.Schemas(static_cast<int>(s));
        if (before.URI() != after.URI() || before.PreferredPrefix() != after.PreferredPrefix() ||
            before.PropertyCount() != after.PropertyCount()) {
            return false;
        }
        for (int p = 0; p < before.PropertyCount(); ++p) {
            const TXMPProperty& old = before.Properties(p);
            const TXMPProperty& now = after.Properties(p);
            if (SameProperty(old, now)) {
                continue;
            }
            if (changed == nullptr || old.Name() != now.Name() || old.Kind() != xpSimple ||
                now.Kind() != xpSimple) {
                return false;
            }
            changed->push_back({after.URI(), now.Name(), now.ReadValue()});
        }
    }
    return true;
}

// Grows or shrinks the blank run in front of the closing packet wrapper by the size the values changed,
// so that the packet keeps its length where its padding allows. A run of one character (a bare line
// feed) is layout, not padding, and stays.
void AdjustPadding(std::string& text, std::ptrdiff_t growth, std::size_t lastEdit) {
    const std::size_t trailer = text.rfind("<?xpacket");
    if (growth == 0 || trailer == std::string::npos || trailer < lastEdit) {
        return;
    }
    std::size_t runBegin = trailer;
    while (runBegin > lastEdit && IsXmlSpace(text[runBegin - 1])) {
        --runBegin;
    }
    const std::size_t run = trailer - runBegin;
    if (run <= 1) {
        return;
    }
    if (growth > 0) {
        text.erase(runBegin + 1, std::min(static_cast<std::size_t>(growth), run - 1));
    } else {
        text.insert(runBegin + 1, static_cast<std::size_t>(-growth), ' ');
    }
}

}  // namespace

void AppendXMPEscaped(std::string& out, std::string_view value) {
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

std::optional<std::string> SpliceXMPText(const TXMPPacket& packet, const std::string& sourceText) {
    // The text is read again rather than remembered: what changed is whatever differs from it now.
    std::string blanked = sourceText;
    std::replace(blanked.begin(), blanked.end(), '\0', ' ');
    TXMPPacket scratch;
    std::optional<XMPContent> before = ReadXMPText(scratch, blanked);
    if (!before) {
        return std::nullopt;
    }
    std::vector<ChangedValue> changed;
    if (!SameContent(before->about, before->schemas, packet, &changed)) {
        return std::nullopt;
    }
    std::optional<std::vector<ValueSpan>> spans = ValueScanner(blanked).Scan();
    if (!spans) {
        return std::nullopt;
    }

    struct Edit {
        std::size_t begin;
        std::size_t end;
        std::string text;
    };
    std::vector<Edit> edits;
    for (const ChangedValue& value : changed) {
        const ValueSpan* found = nullptr;
        for (const ValueSpan& span : *spans) {
            if (CompareTextAscii(span.uri, value.uri) == 0 && span.localName == value.name) {
                if (found != nullptr) {
                    return std::nullopt;  // the name stands twice: which one the model holds is not certain
                }
                found = &span;
            }
        }
        if (found == nullptr || !found->textOnly) {
            return std::nullopt;
        }
        Edit edit{found->begin, found->end, {}};
        AppendXMPEscaped(edit.text, value.value);
        edits.push_back(std::move(edit));
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin > b.begin; });

    std::string text = sourceText;
    std::ptrdiff_t growth = 0;
    for (const Edit& edit : edits) {
        text.replace(edit.begin, edit.end - edit.begin, edit.text);
        growth += static_cast<std::ptrdiff_t>(edit.text.size()) -
                  static_cast<std::ptrdiff_t>(edit.end - edit.begin);
    }
    if (!edits.empty()) {
        const Edit& last = edits.front();
        AdjustPadding(text, growth, last.begin + last.text.size());
    }

    // Only a text that reads back as exactly the packet's content is taken.
    std::string check = text;
    std::replace(check.begin(), check.end(), '\0', ' ');
    TXMPPacket verify;
    std::optional<XMPContent> after = ReadXMPText(verify, std::move(check));
    if (!after || !SameContent(after->about, after->schemas, packet, nullptr)) {
        return std::nullopt;
    }
    return text;
}

}  // namespace zeloro
