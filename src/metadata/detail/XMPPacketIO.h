// src/metadata/detail/XMPPacketIO.h: the packet text read into the model and the model written as text.
#pragma once
#include <memory>
#include <optional>
#include <string>
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
    // The raw-XML cache: the text itself when it starts as a packet, otherwise the document written out.
    std::string rawXML;
};

// The packet text (segment header taken off, zero bytes blanked) read into schemas owned by packet;
// nullopt when it does not parse as XML or holds no RDF element.
[[nodiscard]] std::optional<XMPContent> ReadXMPText(TXMPPacket& packet, std::string text);

// Appends the generated packet: each schema in the model's form, properties kept as read as they were.
void WriteXMPText(const TXMPPacket& packet, std::string& out);

}  // namespace zeloro
