// fuzz/MetadataXmpFuzz.cpp: XMP packet load from untrusted bytes, then update and regenerate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "metadata/XMPPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    TXMPPacket packet;
    try {
        if (!packet.TryLoadFromStream(std::span<const std::uint8_t>(data, size))) {
            return 0;
        }
        std::vector<std::uint8_t> cached;
        packet.SaveToStream(cached);

        // What the run does to a photo's packet, then a few edits that reshape the model.
        packet.SetUpdatePolicy(xwUpdateIfExists);
        packet.UpdateProperty(xsExif, "GPSLatitude", "51,30,7716/625N");
        packet.UpdateDateTimeProperty(xsExif, "GPSTimeStamp", 40605.5, false);
        packet.UpdateProperty(xsTIFF, "ImageWidth", 640);
        // The text as read with the new values in place reads back as well.
        std::vector<std::uint8_t> spliced;
        packet.SaveToStream(spliced);
        TXMPPacket road;
        if (!road.TryLoadFromStream(spliced)) {
            std::abort();
        }
        packet.SetUpdatePolicy(xwAlwaysUpdate);
        packet.UpdateBagProperty(xsDublinCore, "subject", "a, b;c");
        // Every other property changes; the rest keep what the model does not hold.
        bool change = false;
        for (const auto& schema : packet) {
            for (const auto& prop : *schema) {
                change = !change;
                if (change && prop->Kind() != xpStructure) {
                    prop->WriteValue("v");
                }
            }
        }

        // A packet generated from any model that was read must read back.
        std::vector<std::uint8_t> generated;
        packet.SaveToStream(generated);
        TXMPPacket again;
        if (!again.TryLoadFromStream(generated)) {
            std::abort();
        }
    } catch (const zeloro::Error&) {
    }
    return 0;
}
