// src/metadata/XMPWriter.cpp: the XMP model written as packet text.
#include <algorithm>
#include <string>
#include <string_view>

#include "metadata/XMPPacket.h"
#include "metadata/detail/XMPPacketIO.h"

namespace zeloro {

namespace {

constexpr std::string_view kPacketHeaderStart =
    "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" VelExifVersion=\"1.1.1\">\n"
    "\t<rdf:RDF xmlns:rdf=\"";
constexpr std::string_view kPacketHeaderEnd = "\">\n";
constexpr std::string_view kPacketFooter = "\t</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?> ";

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

void WriteProperty(std::string& out, const TXMPProperty& prop, int indent, std::string_view prefix) {
    const std::string tabs(static_cast<std::size_t>(indent), '\t');
    const TXMPProperty* parent = prop.ParentProperty();
    if (prop.Kind() == xpSimple && parent != nullptr && IsArrayKind(parent->Kind())) {
        out += tabs;
        out += "<rdf:li";
        if (parent->Kind() == xpAltArray) {
            out += " xml:lang=\"";
            AppendXMPEscaped(out, prop.Name());
            out += '"';
        }
        out += '>';
        AppendXMPEscaped(out, prop.ReadValue());
        out += "</rdf:li>\n";
        return;
    }
    std::string qualified(prefix);
    qualified += ':';
    qualified += prop.Name();
    if (prop.Kind() == xpSimple) {
        out += tabs + '<' + qualified + '>';
        AppendXMPEscaped(out, prop.ReadValue());
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

void WriteXMPText(const TXMPPacket& packet, std::string& out) {
    out += kPacketHeaderStart;
    out += kRDFNamespace;
    out += kPacketHeaderEnd;
    for (const auto& schema : packet) {
        // A namespace without a prefix cannot be declared in this form: only properties kept as read, which
        // declare their namespaces themselves, can be written for it.
        const bool declarable = !schema->PreferredPrefix().empty();
        if (!declarable && std::none_of(schema->begin(), schema->end(),
                                        [](const auto& prop) { return !prop->FSourceXML.empty(); })) {
            continue;
        }
        // The about value, prefix and URI come from the photo: escaped so the packet stays well-formed.
        out += "\t\t<rdf:Description rdf:about=\"";
        AppendXMPEscaped(out, packet.AboutAttributeValue());
        out += '"';
        if (declarable) {
            out += " xmlns:";
            AppendXMPEscaped(out, schema->PreferredPrefix());
            out += "=\"";
            AppendXMPEscaped(out, schema->URI());
            out += '"';
        }
        out += ">\n";
        for (const auto& prop : *schema) {
            if (!prop->FSourceXML.empty()) {
                out += "\t\t\t";
                out += prop->FSourceXML;
                out += '\n';
            } else if (declarable) {
                WriteProperty(out, *prop, 3, schema->PreferredPrefix());
            }
        }
        out += "\t\t</rdf:Description>\n";
    }
    out += kPacketFooter;
}

}  // namespace zeloro
