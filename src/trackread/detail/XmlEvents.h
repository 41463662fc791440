// src/trackread/detail/XmlEvents.h: an XML file read as a stream of element starts, texts and ends
// (libxml2's SAX interface), so that a reader keeps only the few texts it wants and the memory a read
// takes does not grow with the file, however long a single text in it is.
#pragma once
#include <string_view>

#include "trackread/detail/ByteSource.h"

namespace zeloro::trackread {

// Told about the document as it is read. Element names are local names, without their prefix: KML's
// gx:Track is "Track" (as in KML 2.3, where it has none). What a handler throws ends the read and
// leaves ReadXmlEvents unchanged.
class XmlEventHandler {
public:
    XmlEventHandler() = default;
    XmlEventHandler(const XmlEventHandler&) = delete;
    XmlEventHandler& operator=(const XmlEventHandler&) = delete;
    virtual ~XmlEventHandler() = default;
    virtual void StartElement(std::string_view localName) = 0;
    // A piece of an element's text; one text may come in several pieces.
    virtual void Text(std::string_view piece) = 0;
    virtual void EndElement() = 0;
};

// Reads the document without network access and without loading or substituting entities. A document
// that is not well-formed throws TrackFormatError "Die <formatName>-Datei ist kein wohlgeformtes XML
// (Zeile N)."
void ReadXmlEvents(ByteSource& source, XmlEventHandler& handler, std::string_view formatName);

}  // namespace zeloro::trackread
