// src/metadata/XMPSidecar.cpp: sidecar packets written new or updated so that only what the run writes
// changes, and the shot time and position a sidecar already holds.
#include "metadata/XMPSidecar.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/Error.h"
#include "metadata/XMPGPSText.h"
#include "metadata/XMPPacket.h"
#include "metadata/detail/XMPPacketIO.h"

namespace zeloro {
namespace {

constexpr std::string_view kExifURI = "http://ns.adobe.com/exif/1.0/";

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The description of the properties: about value, the namespaces it needs declared on itself (so it reads
// the same wherever it is put), one element per property.
void AppendDescription(std::string& out, std::string_view about, bool declareRdf,
                       std::span<const XMPSidecarProperty> properties, std::string_view indent) {
    out.append(indent).append("<rdf:Description");
    if (declareRdf) {
        out.append(" xmlns:rdf=\"").append(kRDFNamespace).append("\"");
    }
    out.append(" rdf:about=\"");
    AppendXMPEscaped(out, about);
    out.append("\" xmlns:exif=\"").append(kExifURI).append("\">\n");
    for (const XMPSidecarProperty& property : properties) {
        out.append(indent).append(" <exif:").append(property.name).append(">");
        AppendXMPEscaped(out, property.value);
        out.append("</exif:").append(property.name).append(">\n");
    }
    out.append(indent).append("</rdf:Description>\n");
}

// Where the end tag of the RDF element starts, whatever its prefix: the last end tag named RDF.
std::optional<std::size_t> RdfEndTag(const std::string& text) {
    std::size_t from = text.size();
    while (from > 0) {
        const std::size_t lt = text.rfind("</", from - 1);
        if (lt == std::string::npos) {
            return std::nullopt;
        }
        std::size_t end = lt + 2;
        while (end < text.size() && text[end] != '>' && text[end] != ' ' && text[end] != '\t' &&
               text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        const std::string_view qname(text.data() + lt + 2, end - lt - 2);
        const std::size_t colon = qname.find(':');
        if ((colon == std::string_view::npos ? qname : qname.substr(colon + 1)) == "RDF") {
            return lt;
        }
        from = lt;
    }
    return std::nullopt;
}

const TXMPProperty* FindExifProperty(const TXMPPacket& packet, std::string_view name) {
    const TXMPSchema* schema = packet.FindSchema(xsExif);
    return schema == nullptr ? nullptr : schema->FindProperty(name);
}

int PropertyTotal(const TXMPPacket& packet) {
    int total = 0;
    for (const auto& schema : packet) {
        total += schema->PropertyCount();
    }
    return total;
}

// The text reads back as a packet holding every property of before, the given ones with their values.
bool HoldsUpdate(const std::string& text, const TXMPPacket& before,
                 std::span<const XMPSidecarProperty> wanted, std::size_t added) {
    TXMPPacket after;
    if (!after.TryLoadFromStream(AsBytes(text)) ||
        after.AboutAttributeValue() != before.AboutAttributeValue() ||
        PropertyTotal(after) != PropertyTotal(before) + static_cast<int>(added)) {
        return false;
    }
    for (const XMPSidecarProperty& property : wanted) {
        const TXMPProperty* found = FindExifProperty(after, property.name);
        if (found == nullptr || found->Kind() != xpSimple || found->ReadValue() != property.value) {
            return false;
        }
    }
    return true;
}

bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
    if (text.size() - pos < count) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

std::string NewXMPSidecarText(std::span<const XMPSidecarProperty> properties) {
    std::string text = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n";
    text.append(" <rdf:RDF xmlns:rdf=\"").append(kRDFNamespace).append("\">\n");
    AppendDescription(text, "", false, properties, "  ");
    text.append(" </rdf:RDF>\n</x:xmpmeta>\n");
    return text;
}

std::string UpdateXMPSidecarText(const std::string& text, std::span<const XMPSidecarProperty> properties) {
    TXMPPacket before;
    if (!before.TryLoadFromStream(AsBytes(text))) {
        throw EInvalidXMPPacket();
    }
    std::vector<XMPSidecarProperty> missing;
    for (const XMPSidecarProperty& property : properties) {
        if (FindExifProperty(before, property.name) == nullptr) {
            missing.push_back(property);
        }
    }

    TXMPPacket packet;
    packet.TryLoadFromStream(AsBytes(text));
    packet.SetUpdatePolicy(xwUpdateIfExists);
    for (const XMPSidecarProperty& property : properties) {
        packet.UpdateProperty(xsExif, property.name, xpSimple, property.value);
    }
    std::string updated = packet.RawXML();
    if (!missing.empty()) {
        if (const std::optional<std::size_t> end = RdfEndTag(updated)) {
            std::string description;
            AppendDescription(description, packet.AboutAttributeValue(), true, missing, "  ");
            // The end tag keeps the indentation it had: the new description goes in at the start of its line.
            std::size_t at = *end;
            while (at > 0 && (updated[at - 1] == ' ' || updated[at - 1] == '\t')) {
                --at;
            }
            if (at > 0 && updated[at - 1] != '\n') {
                description.insert(description.begin(), '\n');
                at = *end;
            }
            updated.insert(at, description);
        }
    }
    if (HoldsUpdate(updated, before, properties, missing.size())) {
        return updated;
    }
    // The text could not be changed in place (a property in a form the model rewrites, a layout the
    // splice does not follow): the packet is written anew from everything it holds.
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    for (const XMPSidecarProperty& property : properties) {
        packet.UpdateProperty(xsExif, property.name, xpSimple, property.value);
    }
    std::string generated;
    WriteXMPText(packet, generated);
    return generated;
}

std::optional<std::string> RemoveXMPSidecarGps(const std::string& text) {
    TXMPPacket packet;
    if (!packet.TryLoadFromStream(AsBytes(text))) {
        throw EInvalidXMPPacket();
    }
    const int total = PropertyTotal(packet);
    std::vector<std::string> names;
    if (const TXMPSchema* schema = packet.FindSchema(xsExif)) {
        for (const auto& property : *schema) {
            if (property->Name().starts_with("GPS")) {
                names.push_back(property->Name());
            }
        }
    }
    if (names.empty()) {
        return std::nullopt;
    }
    for (const std::string& name : names) {
        packet.RemoveProperty(xsExif, name);
    }
    std::string updated = packet.RawXML();
    TXMPPacket after;
    const bool holds = after.TryLoadFromStream(AsBytes(updated)) &&
                       after.AboutAttributeValue() == packet.AboutAttributeValue() &&
                       PropertyTotal(after) == total - static_cast<int>(names.size()) &&
                       std::none_of(names.begin(), names.end(), [&](const std::string& name) {
                           return FindExifProperty(after, name) != nullptr;
                       });
    if (holds) {
        return updated;
    }
    std::string generated;
    WriteXMPText(packet, generated);
    return generated;
}

std::optional<XMPSidecarTime> ParseXMPDateText(std::string_view text) {
    std::size_t pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!ReadDigits(text, pos, 4, year) || !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, month) ||
        !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, day) || !Expect(text, pos, 'T') ||
        !ReadDigits(text, pos, 2, hour) || !Expect(text, pos, ':') || !ReadDigits(text, pos, 2, minute)) {
        return std::nullopt;
    }
    int millisecond = 0;
    if (Expect(text, pos, ':')) {
        if (!ReadDigits(text, pos, 2, second)) {
            return std::nullopt;
        }
        if (Expect(text, pos, '.')) {
            // Fractions beyond the millisecond are cut: the track has whole seconds.
            int scale = 100;
            const std::size_t first = pos;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                millisecond += (text[pos] - '0') * scale;
                scale /= 10;
                ++pos;
            }
            if (pos == first) {
                return std::nullopt;
            }
        }
    }
    XMPSidecarTime shot;
    if (Expect(text, pos, 'Z')) {
        shot.offsetSeconds = 0;
    } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        const int sign = text[pos] == '-' ? -1 : 1;
        ++pos;
        int offsetHours = 0;
        int offsetMinutes = 0;
        if (!ReadDigits(text, pos, 2, offsetHours) || !Expect(text, pos, ':') ||
            !ReadDigits(text, pos, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
            return std::nullopt;
        }
        shot.offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    DateTimeValue date = 0;
    DateTimeValue time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, millisecond, time)) {
        return std::nullopt;
    }
    shot.time = EncodeDateTime(year, month, day, hour, minute, second, millisecond);
    return shot;
}

XMPSidecarFacts ReadXMPSidecarFacts(const std::string& text) {
    XMPSidecarFacts facts;
    TXMPPacket packet;
    if (!packet.TryLoadFromStream(AsBytes(text))) {
        return facts;
    }
    const auto simpleValue = [&packet](std::string_view name) -> std::optional<std::string> {
        const TXMPProperty* property = FindExifProperty(packet, name);
        if (property == nullptr || property->Kind() != xpSimple) {
            return std::nullopt;
        }
        return property->ReadValue();
    };
    if (const std::optional<std::string> original = simpleValue("DateTimeOriginal")) {
        facts.shot = ParseXMPDateText(*original);
    }
    const std::optional<std::string> latitude = simpleValue("GPSLatitude");
    const std::optional<std::string> longitude = simpleValue("GPSLongitude");
    facts.hasGpsPosition =
        latitude && longitude && ParseXMPGPSCoordinate(*latitude) && ParseXMPGPSCoordinate(*longitude);
    return facts;
}

}  // namespace zeloro
