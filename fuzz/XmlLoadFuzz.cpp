// fuzz/XmlLoadFuzz.cpp: the XML loader and the lookups the GPX import makes on what it loaded.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Error.h"
#include "xml/XmlDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeloro::TXmlDocument document;
    zeloro::XmlBytesStream stream(std::span<const std::uint8_t>(data, size));
    try {
        document.LoadFromStream(stream);
    } catch (const zeloro::Error&) {
        return 0;
    }
    const zeloro::TXmlNode* root = document.Root();
    if (root == nullptr) {
        __builtin_trap();  // a load that succeeds always has a root element
    }
    zeloro::TXmlNodeList list;
    for (const char* name : {"wpt", "trkpt", "rtept", "/gpx/trk"}) {
        root->FindNodes(name, list);
        for (int i = 0; i < list.Count(); ++i) {
            const zeloro::TXmlNode* point = list[i];
            (void)point->AttributeTextByName("lat");
            (void)point->HasAttribute("lon");
            (void)point->FullPath();
            if (const zeloro::TXmlNode* time = point->NodeByName("time")) {
                try {
                    (void)time->ValueAsDateTime();
                } catch (const zeloro::Error&) {
                }
            }
        }
    }
    (void)root->ValueAsString();
    return 0;
}
