// src/metadata/detail/XMPPacketIO.h: the packet text read into the model and the model written as text.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/XMPPacket.h"

namespace zeloro {

// The kinds whose sub-properties are items (rdf:li) rather than named fields.
[[nodiscard]] constexpr bool IsArrayKind(TXMPPropertyKind kind) noexcept {
    return kind == xpAltArray || kind == xpBagArray || kind == xpSeqArray;
}

// What a packet text holds, read without change notifications.
struct XMPContent {
    std::vector<std::unique_ptr<TXMPSchema>> schemas;  // sorted by URI, ignoring case
    std::string about;
};

// The packet text (segment header taken off, zero bytes blanked) read into schemas owned by packet;
// nullopt when it does not parse as XML or holds no RDF element.
[[nodiscard]] std::optional<XMPContent> ReadXMPText(TXMPPacket& packet, const std::string& text);

// Appends the generated packet: each schema in the model's form, properties kept as read as they were.
void WriteXMPText(const TXMPPacket& packet, std::string& out);

// Appends the value with the five markup characters written as entities.
void AppendXMPEscaped(std::string& out, std::string_view value);

// The text the packet was read from with only the values that changed since replaced, each in place
// (attribute value or element text), and the padding in front of the closing wrapper shortened or
// lengthened by what they grew or shrank. Nullopt when anything but the values of simple top-level
// properties changed, or the text cannot be spliced so that it reads back as the packet; the packet is
// then generated instead.
[[nodiscard]] std::optional<std::string> SpliceXMPText(const TXMPPacket& packet,
                                                       const std::string& sourceText);

}  // namespace zeloro
