// tests/metadata/XMPSpliceTest.cpp: a changed packet keeps its text; only the written values change.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/XMPPacket.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

std::string Saved(const TXMPPacket& packet) {
    std::vector<std::uint8_t> out;
    packet.SaveToStream(out);
    return {out.begin(), out.end()};
}

// A packet from an outside writer: toolkit name, comment, processing instruction, attribute and element
// properties, a value of blanks, indentation by spaces, padding before the closing wrapper.
std::string ForeignPacket(std::string_view latitudeElement, std::string_view longitudeAttribute,
                          std::string_view padding) {
    std::string text =
        "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/' x:xmptk='Image::ExifTool 12.57'>\n"
        "<!-- written by hand -->\n"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
        "\n"
        " <rdf:Description rdf:about=''\n"
        "  xmlns:exif='http://ns.adobe.com/exif/1.0/'\n"
        "  exif:GPSLongitude='";
    text += longitudeAttribute;
    text +=
        "'\n"
        "  exif:ExposureTime = \"1/125\">\n"
        "  <?editor keep-me?>\n"
        "  <exif:GPSLatitude>";
    text += latitudeElement;
    text +=
        "</exif:GPSLatitude>\n"
        "  <exif:UserComment>   </exif:UserComment>\n"
        " </rdf:Description>\n"
        " <rdf:Description rdf:about='' xmlns:tiff='http://ns.adobe.com/tiff/1.0/'>\n"
        "  <tiff:ImageDescription>\t \t</tiff:ImageDescription>\n"
        " </rdf:Description>\n"
        "</rdf:RDF>\n"
        "</x:xmpmeta>";
    text += padding;
    text += "<?xpacket end='w'?>";
    return text;
}

struct SpliceCase {
    const char* name;
    const char* latitude;   // written to exif:GPSLatitude, or empty
    const char* longitude;  // written to exif:GPSLongitude, or empty
    const char* latitudeText;
    const char* longitudeText;
};

class XMPSplice : public testing::TestWithParam<SpliceCase> {};

TEST_P(XMPSplice, OnlyTheWrittenValuesChange) {
    const SpliceCase& c = GetParam();
    const std::string padding = "\n" + std::string(100, ' ') + "\n" + std::string(100, ' ') + "\n";
    const std::string text = ForeignPacket("10,0.0N", "7,5.0E", padding);
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwUpdateIfExists);
    ASSERT_TRUE(packet.TryLoadFromStream(test::Bytes(text.begin(), text.end())));
    if (*c.latitude != '\0') {
        packet.UpdateProperty(xsExif, "GPSLatitude", c.latitude);
    }
    if (*c.longitude != '\0') {
        packet.UpdateProperty(xsExif, "GPSLongitude", c.longitude);
    }
    const std::string saved = Saved(packet);
    // The same text with the two values in place; the padding takes up what the values grew.
    std::string expected = ForeignPacket(c.latitudeText, c.longitudeText, padding);
    const std::ptrdiff_t growth = static_cast<std::ptrdiff_t>(expected.size() - text.size());
    const std::size_t paddingAt = expected.rfind(padding);
    ASSERT_NE(paddingAt, std::string::npos);
    if (growth > 0) {
        expected.erase(paddingAt + 1, static_cast<std::size_t>(growth));
    } else {
        expected.insert(paddingAt + 1, static_cast<std::size_t>(-growth), ' ');
    }
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(saved.size(), text.size());

    TXMPPacket again;
    ASSERT_TRUE(again.TryLoadFromStream(test::Bytes(saved.begin(), saved.end())));
    const TXMPSchema* exif = again.FindSchema(xsExif);
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(exif->FindProperty("GPSLatitude")->ReadValue(), *c.latitude != '\0' ? c.latitude : "10,0.0N");
    EXPECT_EQ(exif->FindProperty("GPSLongitude")->ReadValue(), *c.longitude != '\0' ? c.longitude : "7,5.0E");
}

INSTANTIATE_TEST_SUITE_P(
    Values, XMPSplice,
    testing::Values(SpliceCase{"ElementOnly", "47,39.5811N", "", "47,39.5811N", "7,5.0E"},
                    SpliceCase{"AttributeOnly", "", "122,25.50125W", "10,0.0N", "122,25.50125W"},
                    SpliceCase{"BothShorter", "1,2.5S", "3,4.5W", "1,2.5S", "3,4.5W"},
                    SpliceCase{"MarkupCharactersEscaped", "a<b&\"c'", "x>'y\"", "a&lt;b&amp;&quot;c&apos;",
                               "x&gt;&apos;y&quot;"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(XMPSpliceBytes, PacketWithoutTheWrittenPropertiesIsByteIdentical) {
    // Zero-byte padding and no trailing space: both stay exactly as read.
    std::string text = ForeignPacket("10,0.0N", "7,5.0E", "\n");
    text += std::string(5, '\0');
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwUpdateIfExists);
    ASSERT_TRUE(packet.TryLoadFromStream(test::Bytes(text.begin(), text.end())));
    packet.UpdateProperty(xsExif, "GPSAltitude", "100/1");
    packet.UpdateProperty(xsExif, "PixelXDimension", 640);
    packet.UpdateProperty(xsExif, "GPSLatitude", "10,0.0N");  // the same value: no change either
    EXPECT_EQ(Saved(packet), text);
    EXPECT_EQ(packet.RawXML(), text);

    // Text that does not start with the packet wrapper is kept as read too.
    const std::string bare = text.substr(text.find("<x:xmpmeta"));
    TXMPPacket unwrapped;
    ASSERT_TRUE(unwrapped.TryLoadFromStream(test::Bytes(bare.begin(), bare.end())));
    EXPECT_EQ(Saved(unwrapped), bare);
}

TEST(XMPSpliceBytes, PaddingOfOneLineFeedIsLayoutAndStays) {
    const std::string text = ForeignPacket("10,0.0N", "7,5.0E", "\n");
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwUpdateIfExists);
    ASSERT_TRUE(packet.TryLoadFromStream(test::Bytes(text.begin(), text.end())));
    packet.UpdateProperty(xsExif, "GPSLatitude", "47,39.58110001N");
    EXPECT_EQ(Saved(packet), ForeignPacket("47,39.58110001N", "7,5.0E", "\n"));
}

TEST(XMPSpliceBytes, BlankValueWrittenInPlace) {
    const std::string text = ForeignPacket("10,0.0N", "7,5.0E", "\n");
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwUpdateIfExists);
    ASSERT_TRUE(packet.TryLoadFromStream(test::Bytes(text.begin(), text.end())));
    packet.UpdateProperty(xsExif, "UserComment", "now");
    std::string expected = text;
    expected.replace(expected.find("   </exif:UserComment>"), 3, "now");
    EXPECT_EQ(Saved(packet), expected);
}

// Changes beyond the values of simple properties, and text where the value cannot be found once, go
// through the generated form; its content is still exactly the packet's.
TEST(XMPSpliceBytes, OtherChangesAreGenerated) {
    const std::string duplicate =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='1,0.0N'/>"
        "<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='2,0.0N'/>"
        "</rdf:RDF></x:xmpmeta>";
    struct Case {
        std::string text;
        std::function<void(TXMPPacket&)> change;
    };
    const std::vector<Case> cases{
        {ForeignPacket("10,0.0N", "7,5.0E", "\n"),
         [](TXMPPacket& p) { p.RemoveProperty(xsExif, "ExposureTime"); }},
        {ForeignPacket("10,0.0N", "7,5.0E", "\n"),
         [](TXMPPacket& p) { p.UpdateBagProperty(xsExif, "GPSLatitude", "a,b"); }},
        {duplicate, [](TXMPPacket& p) { p.UpdateProperty(xsExif, "GPSLatitude", "3,0.0N"); }},
    };
    for (const Case& c : cases) {
        TXMPPacket packet;
        packet.SetUpdatePolicy(xwUpdateIfExists);
        ASSERT_TRUE(packet.TryLoadFromStream(test::Bytes(c.text.begin(), c.text.end())));
        c.change(packet);
        const std::string saved = Saved(packet);
        EXPECT_TRUE(saved.starts_with("<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n")) << saved;
    }
    // An element without text still has its place for one.
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwUpdateIfExists);
    const std::string text = ForeignPacket("", "7,5.0E", "\n");
    ASSERT_TRUE(packet.TryLoadFromStream(test::Bytes(text.begin(), text.end())));
    packet.UpdateProperty(xsExif, "GPSLatitude", "5,0.0N");
    EXPECT_EQ(Saved(packet), ForeignPacket("5,0.0N", "7,5.0E", "\n"));
}

}  // namespace
}  // namespace zeloro
