// src/metadata/XMPSidecar.h: the XMP sidecar of a photo or video that takes no metadata of its own: a new
// packet, an existing one updated, and what the run reads from one.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace zeloro {

// One simple property of the EXIF schema (http://ns.adobe.com/exif/1.0/) and its text as the packet holds
// it, e.g. {"GPSLatitude", "47,39.5811N"}.
struct XMPSidecarProperty {
    std::string name;
    std::string value;
};

// The text of a new sidecar holding only the properties, in the order given:
//   <x:xmpmeta xmlns:x="adobe:ns:meta/">\n
//    <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">\n
//     <rdf:Description rdf:about="" xmlns:exif="http://ns.adobe.com/exif/1.0/">\n
//      <exif:NAME>VALUE</exif:NAME>\n ...
//     </rdf:Description>\n
//    </rdf:RDF>\n
//   </x:xmpmeta>\n
// A sidecar is a file of its own, so it needs no packet wrapper and no padding; values are escaped.
[[nodiscard]] std::string NewXMPSidecarText(std::span<const XMPSidecarProperty> properties);

// The sidecar text with each property set: a property that is there gets the new value in place (the rest
// of the text byte for byte, padding in front of a closing wrapper adjusted as in a photo's packet); the
// properties that are missing follow in one description of their own (same about value, the exif
// namespace declared on it) in front of the RDF element's end tag. Where the text cannot be changed that
// way and still read back with every value set, the packet is written anew from what it holds (no property
// lost). Throws EInvalidXMPPacket for a text that is no XMP packet.
[[nodiscard]] std::string UpdateXMPSidecarText(const std::string& text,
                                               std::span<const XMPSidecarProperty> properties);

// The sidecar text without its exif:GPS properties, the rest of the text kept where the packet allows it
// (else written anew from everything else it holds); nullopt when it holds none. Throws EInvalidXMPPacket
// for a text that is no XMP packet.
[[nodiscard]] std::optional<std::string> RemoveXMPSidecarGps(const std::string& text);

// A shot time as a sidecar states it: the clock time as written and, when the text carries one, its
// offset east of UTC in seconds ("Z" is offset 0).
struct XMPSidecarTime {
    DateTimeValue time = 0;
    std::optional<int> offsetSeconds;
    friend bool operator==(const XMPSidecarTime&, const XMPSidecarTime&) = default;
};

// What a run needs of a sidecar: exif:DateTimeOriginal, and whether exif:GPSLatitude and
// exif:GPSLongitude both hold a coordinate. A text that is no XMP packet gives neither.
struct XMPSidecarFacts {
    std::optional<XMPSidecarTime> shot;
    bool hasGpsPosition = false;
};
[[nodiscard]] XMPSidecarFacts ReadXMPSidecarFacts(const std::string& text);

// An XMP date text "YYYY-MM-DDThh:mm[:ss[.s...]]" with an optional "Z" or "+hh:mm"/"-hh:mm"; a bare date
// or year-month is no shot time. Nullopt for anything else, a calendar value out of range included.
[[nodiscard]] std::optional<XMPSidecarTime> ParseXMPDateText(std::string_view text);

}  // namespace zeloro
