// src/tagging/PlaceTags.h: the names of a photo's place written into its XMP packet (--places).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "places/PlaceIndex.h"

namespace zeloro {

class TXMPPacket;

inline constexpr std::string_view kIptcCoreNamespace = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
inline constexpr std::string_view kIptcCorePrefix = "Iptc4xmpCore";

// Whether a property that already holds a value keeps it.
enum class PlaceWrite : std::uint8_t { fill, replace };

// Sets photoshop:City, photoshop:State, photoshop:Country and Iptc4xmpCore:CountryCode from the names,
// creating schema and property where they are missing. A name the data does not give is left as the
// photo has it; so is, with PlaceWrite::fill, a property that holds a value (of any kind). Nothing but
// these four properties changes; an unchanged value is no change.
void WritePlaceProperties(TXMPPacket& packet, const PlaceNames& names, PlaceWrite mode);

// The same on the text of an XMP packet, such as a sidecar's: the text with the properties written (the
// packet generated afresh when it had none). Throws EInvalidXMPPacket when a non-empty text does not read
// as XMP.
[[nodiscard]] std::string WritePlaceProperties(std::string_view xmpText, const PlaceNames& names,
                                               PlaceWrite mode);

// What a popup or a line shows of the names: "Köln, Deutschland", the city or the country alone when only
// one is known, else the empty text.
[[nodiscard]] std::string PlaceLabel(const PlaceNames& names);

}  // namespace zeloro
