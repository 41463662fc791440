// tests/metadata/XMPPacketTest.cpp: reading, updating and writing XMP packets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "metadata/XMPPacket.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::BytesEqual;

constexpr std::string_view kRDF = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kExifURI = "http://ns.adobe.com/exif/1.0/";
constexpr std::string_view kDCURI = "http://purl.org/dc/elements/1.1/";

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string Saved(const TXMPPacket& packet) {
    std::vector<std::uint8_t> out;
    packet.SaveToStream(out);
    return std::string(out.begin(), out.end());
}

bool Load(TXMPPacket& packet, std::string_view text) {
    const Bytes bytes = ToBytes(text);
    return packet.TryLoadFromStream(bytes);
}

// A packet as cameras and editors write it: wrapper, xmpmeta, one description per schema.
std::string Wrapped(std::string_view descriptions) {
    std::string text =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
    text += descriptions;
    text += " </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
    return text;
}

const std::string kExifDescription =
    "  <rdf:Description rdf:about=\"uuid:1\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
    "   <exif:GPSLatitude>51,30.2N</exif:GPSLatitude>\n"
    "  </rdf:Description>\n";

TEST(XMPPacketRead, WrappedPacketKeepsItsTextAndBuildsTheModel) {
    const std::string text = Wrapped(kExifDescription);
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));
    EXPECT_FALSE(packet.WriteSegmentHeader());
    EXPECT_EQ(packet.AboutAttributeValue(), "uuid:1");
    ASSERT_EQ(packet.SchemaCount(), 1);
    const TXMPSchema& schema = packet.Schemas(0);
    EXPECT_EQ(schema.Kind(), xsExif);
    EXPECT_EQ(schema.PreferredPrefix(), "exif");
    ASSERT_EQ(schema.PropertyCount(), 1);
    EXPECT_EQ(schema.Properties(0).Name(), "GPSLatitude");
    EXPECT_EQ(schema.Properties(0).Kind(), xpSimple);
    EXPECT_EQ(schema.Properties(0).ReadValue(), "51,30.2N");
    // The cache is the text as read, and a save writes exactly that.
    EXPECT_EQ(packet.RawXML(), text);
    EXPECT_EQ(Saved(packet), text);
}

TEST(XMPPacketRead, ZeroBytesAreReadAsSpacesAndWrittenBackAsRead) {
    std::string text = Wrapped(kExifDescription);
    text += std::string(3, '\0');
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("GPSLatitude")->ReadValue(), "51,30.2N");
    EXPECT_EQ(packet.RawXML(), text);
    EXPECT_EQ(Saved(packet), text);
}

TEST(XMPPacketRead, SegmentHeaderIsConsumedAndWrittenAgain) {
    const std::string text = Wrapped(kExifDescription);
    std::string segment(kXMPSegmentHeader);
    segment += text;
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, segment));
    EXPECT_TRUE(packet.WriteSegmentHeader());
    EXPECT_EQ(packet.RawXML(), text);
    EXPECT_EQ(Saved(packet), segment);
    ASSERT_EQ(kXMPSegmentHeader.size(), 29U);
    EXPECT_EQ(kXMPSegmentHeader.back(), '\0');
}

TEST(XMPPacketRead, UnwrappedPacketIsKeptAsRead) {
    const std::string text =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "dc:format=\"image/jpeg\"/>"
        "</rdf:RDF></x:xmpmeta>";
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));
    EXPECT_EQ(packet.RawXML(), text);
    const std::string saved = Saved(packet);
    EXPECT_EQ(saved, text);
    TXMPPacket again;
    ASSERT_TRUE(Load(again, saved));
    ASSERT_EQ(again.SchemaCount(), 1);
    EXPECT_EQ(again.Schemas(0).Properties(0).ReadValue(), "image/jpeg");
}

TEST(XMPPacketRead, TopLevelRDFElementIsFound) {
    const std::string text =
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description about=\"plain\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
        "exif:ColorSpace=\"1\"/>"
        "</rdf:RDF>";
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));
    EXPECT_EQ(packet.AboutAttributeValue(), "plain");
    ASSERT_NE(packet.FindSchema(xsExif), nullptr);
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("ColorSpace")->ReadValue(0), 1);
}

TEST(XMPPacket, TypedReadsTakeOneSignAndTheWholeText) {
    struct Case {
        std::string_view text;
        int asInt;    // ReadValue(-1)
        bool asBool;  // ReadValue(true)
    };
    TXMPPacket packet;
    for (const Case& c : {Case{"+7", 7, true}, Case{"-7", -7, true}, Case{"0", 0, false},
                          Case{"+-7", -1, true}, Case{" 7", -1, true}, Case{"FALSE", -1, false},
                          Case{"true", -1, true}, Case{"2147483648", -1, true}}) {
        packet.UpdateProperty(xsExif, "Value", c.text);
        const TXMPProperty* prop = packet.FindSchema(xsExif)->FindProperty("Value");
        ASSERT_NE(prop, nullptr);
        EXPECT_EQ(prop->ReadValue(-1), c.asInt) << c.text;
        EXPECT_EQ(prop->ReadValue(true), c.asBool) << c.text;
    }
}

struct FailCase {
    std::string_view name;
    std::string text;
};
void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }
class XMPPacketReadFails : public ::testing::TestWithParam<FailCase> {};

TEST_P(XMPPacketReadFails, LeavesThePacketAsItWas) {
    TXMPPacket packet;
    std::string segment(kXMPSegmentHeader);
    segment += Wrapped(kExifDescription);
    ASSERT_TRUE(Load(packet, segment));
    const std::string before = Saved(packet);
    int changes = 0;
    packet.SetOnChange([&changes](TXMPPacket&) { ++changes; });
    EXPECT_FALSE(Load(packet, GetParam().text));
    EXPECT_EQ(Saved(packet), before);
    EXPECT_TRUE(packet.WriteSegmentHeader());
    EXPECT_EQ(changes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    XMPPacket, XMPPacketReadFails,
    ::testing::Values(
        FailCase{"Empty", ""}, FailCase{"NotXML", "Exif\0\0 no xml here"},
        FailCase{"Unclosed", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF>"},
        FailCase{"NoRDFElement", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><other/></x:xmpmeta>"},
        FailCase{"RDFNotChildOfXmpmeta",
                 "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><a><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
                 "22-rdf-syntax-ns#\"/></a></x:xmpmeta>"},
        FailCase{"UndeclaredPrefix", "<x:xmpmeta><rdf:RDF/></x:xmpmeta>"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(XMPPacketRead, LoadFromStreamRaisesOrCallsTheHandler) {
    const Bytes bad = ToBytes("<not xml");
    TXMPPacket packet;
    try {
        packet.LoadFromStream(bad);
        FAIL() << "no exception";
    } catch (const EInvalidXMPPacket& e) {
        EXPECT_STREQ(e.what(), "XMP packet is not valid");
    }
    Bytes seen;
    TXMPPacket* sender = nullptr;
    packet.SetOnLoadError([&](TXMPPacket& p, std::span<const std::uint8_t> data) {
        sender = &p;
        seen.assign(data.begin(), data.end());
    });
    EXPECT_NO_THROW(packet.LoadFromStream(bad));
    EXPECT_EQ(sender, &packet);
    EXPECT_TRUE(BytesEqual(bad, seen));
}

TEST(XMPPacketRead, OnlyEmptyDescriptionsGiveAnEmptyPacket) {
    TXMPPacket packet;
    ASSERT_TRUE(
        Load(packet, Wrapped("<rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"/>"
                             "<rdf:Description rdf:about=\"\"/>")));
    EXPECT_TRUE(packet.Empty());
}

// The shapes a property can take in a document and what the model makes of each.
TEST(XMPPacketRead, PropertyShapes) {
    const std::string text = Wrapped(R"(
  <rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/"
      xmlns:xmpMM="http://ns.adobe.com/xap/1.0/mm/" xmlns:stRef="http://ns.adobe.com/xap/1.0/sType/ResourceRef#"
      xmlns:exif="http://ns.adobe.com/exif/1.0/" xmlns:my="http://example.com/my/"
      dc:format="image/jpeg">
   <dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li>two &amp; three</rdf:li></rdf:Bag></dc:subject>
   <dc:creator>
     <rdf:Seq>
       <rdf:li>Ann</rdf:li>
       <rdf:li><b>ignored element</b>Bob</rdf:li>
     </rdf:Seq>
   </dc:creator>
   <dc:title><rdf:Alt><rdf:li xml:lang="x-default">Title</rdf:li><rdf:li>no language</rdf:li>
     <rdf:li xml:lang="de">Titel</rdf:li></rdf:Alt></dc:title>
   <xmpMM:DerivedFrom><rdf:Description><stRef:instanceID>id1</stRef:instanceID></rdf:Description></xmpMM:DerivedFrom>
   <exif:Flash exif:Fired="False" exif:Mode="2"/>
   <exif:Lens rdf:parseType="Resource"><exif:Name>50mm</exif:Name></exif:Lens>
   <exif:Empty></exif:Empty>
   <my:Thing>value</my:Thing>
  </rdf:Description>
)");
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));

    TXMPSchema* dc = packet.FindSchema(xsDublinCore);
    ASSERT_NE(dc, nullptr);
    ASSERT_EQ(dc->PropertyCount(), 4);
    EXPECT_EQ(dc->Properties(0).Name(), "format");  // attributes come before child elements
    EXPECT_EQ(dc->Properties(0).ReadValue(), "image/jpeg");

    const TXMPProperty* subject = dc->FindProperty("subject");
    ASSERT_NE(subject, nullptr);
    EXPECT_EQ(subject->Kind(), xpBagArray);
    ASSERT_EQ(subject->SubPropertyCount(), 2);
    EXPECT_EQ(subject->SubProperties(0).Name(), "");
    EXPECT_EQ(subject->SubProperties(1).ReadValue(), "two & three");

    const TXMPProperty* creator = dc->FindProperty("creator");
    ASSERT_NE(creator, nullptr);
    EXPECT_EQ(creator->Kind(), xpSeqArray);
    ASSERT_EQ(creator->SubPropertyCount(), 2);
    EXPECT_EQ(creator->SubProperties(0).ReadValue(), "Ann");
    EXPECT_EQ(creator->SubProperties(1).Kind(), xpSimple);
    EXPECT_EQ(creator->SubProperties(1).ReadValue(), "Bob");

    const TXMPProperty* title = dc->FindProperty("title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->Kind(), xpAltArray);
    ASSERT_EQ(title->SubPropertyCount(), 2);  // the item without a language is not read
    EXPECT_EQ(title->SubProperties(0).Name(), "x-default");
    EXPECT_EQ(title->SubProperties(1).Name(), "de");
    EXPECT_EQ(title->SubProperties(1).ReadValue(), "Titel");
    EXPECT_EQ(title->ReadValue("none"), "Title");

    const TXMPSchema* mm = packet.FindSchema(xsXMPMediaManagement);
    ASSERT_NE(mm, nullptr);
    const TXMPProperty* derived = mm->FindProperty("DerivedFrom");
    ASSERT_NE(derived, nullptr);
    EXPECT_EQ(derived->Kind(), xpStructure);
    ASSERT_EQ(derived->SubPropertyCount(), 1);
    EXPECT_EQ(derived->SubProperties(0).Name(), "instanceID");
    EXPECT_EQ(derived->SubProperties(0).ReadValue(), "id1");

    const TXMPSchema* exif = packet.FindSchema(xsExif);
    ASSERT_NE(exif, nullptr);
    const TXMPProperty* flash = exif->FindProperty("Flash");
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ(flash->Kind(), xpStructure);
    ASSERT_EQ(flash->SubPropertyCount(), 2);
    EXPECT_EQ(flash->SubProperties(0).Name(), "Fired");
    EXPECT_FALSE(flash->SubProperties(0).ReadValue(true));
    EXPECT_EQ(flash->SubProperties(1).ReadValue(0), 2);
    // The parse-type form is not a structure to this model: the first child's text is the value.
    const TXMPProperty* lens = exif->FindProperty("Lens");
    ASSERT_NE(lens, nullptr);
    EXPECT_EQ(lens->Kind(), xpSimple);
    EXPECT_EQ(lens->ReadValue(), "50mm");
    ASSERT_NE(exif->FindProperty("Empty"), nullptr);
    EXPECT_EQ(exif->FindProperty("Empty")->ReadValue(), "");

    // An unknown namespace takes the prefix of the first node read from it.
    const TXMPSchema* my = packet.FindSchema("http://EXAMPLE.com/my/");
    ASSERT_NE(my, nullptr);
    EXPECT_EQ(my->Kind(), xsUnknown);
    EXPECT_EQ(my->PreferredPrefix(), "my");
    EXPECT_EQ(my->URI(), "http://example.com/my/");
}

TEST(XMPPacketRead, DescriptionNameIgnoresCaseAndSchemasAreSortedByURI) {
    TXMPPacket packet;
    ASSERT_TRUE(
        Load(packet, Wrapped(R"(<rdf:description xmlns:dc="http://purl.org/dc/elements/1.1/" dc:format="a"/>
        <rdf:Description xmlns:b="http://B/" b:x="1"/><rdf:Description xmlns:a="http://a/" a:y="2"/>
        <rdf:Description xmlns:exif="http://ns.adobe.com/exif/1.0/" exif:z="3"/>)")));
    ASSERT_EQ(packet.SchemaCount(), 4);
    EXPECT_EQ(packet.Schemas(0).URI(), "http://a/");
    EXPECT_EQ(packet.Schemas(1).URI(), "http://B/");
    EXPECT_EQ(packet.Schemas(2).URI(), kExifURI);
    EXPECT_EQ(packet.Schemas(3).URI(), kDCURI);
}

TEST(XMPPacketRead, DeepNestingIsBounded) {
    // 100 nested structures are 200 XML levels, within what the parser accepts.
    std::string inner = "x";
    for (int i = 0; i < 100; ++i) {
        inner = "<rdf:Description><my:f>" + inner + "</my:f></rdf:Description>";
    }
    TXMPPacket packet;
    const std::string text = "<rdf:RDF xmlns:rdf=\"" + std::string(kRDF) +
                             "\" xmlns:my=\"http://example.com/my/\"><rdf:Description><my:top>" + inner +
                             "</my:top></rdf:Description></rdf:RDF>";
    ASSERT_TRUE(Load(packet, text));
    ASSERT_EQ(packet.SchemaCount(), 1);
    int depth = 0;
    for (const TXMPProperty* prop = &packet.Schemas(0).Properties(0); prop->Kind() == xpStructure;
         prop = &prop->SubProperties(0)) {
        ++depth;
        ASSERT_EQ(prop->SubPropertyCount(), depth <= 64 ? 1 : 0);
        if (prop->SubPropertyCount() == 0) {
            break;
        }
    }
    EXPECT_EQ(depth, 65);
}

TEST(XMPPacketRead, EntitiesAreNeitherLoadedNorExpanded) {
    const std::string text =
        "<!DOCTYPE rdf:RDF [<!ENTITY e SYSTEM \"file:///etc/passwd\"><!ENTITY a \"aaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
        "<rdf:RDF xmlns:rdf=\"" +
        std::string(kRDF) +
        "\" xmlns:my=\"http://example.com/my/\">"
        "<rdf:Description><my:p>&e;</my:p><my:q>&b;</my:q></rdf:Description></rdf:RDF>";
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));
    ASSERT_EQ(packet.SchemaCount(), 1);
    EXPECT_EQ(packet.Schemas(0).FindProperty("p")->ReadValue(), "");
    EXPECT_EQ(packet.Schemas(0).FindProperty("q")->ReadValue(), "");
    EXPECT_EQ(packet.RawXML().find("root:"), std::string::npos);
}

TEST(XMPPacketWrite, GeneratedTextIsExact) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.SetAboutAttributeValue("about");
    packet.UpdateProperty(xsExif, "GPSLatitude", "51,30,7716/625N");
    packet.UpdateBagProperty(xsDublinCore, "subject", "a, b;c");
    packet.UpdateProperty(xsDublinCore, "title", xpAltArray, "T<&>\"'");
    TXMPProperty& flash = packet.FindSchema(xsExif)->AddProperty("Flash");
    flash.SetKind(xpStructure);
    flash.UpdateSubProperty("Fired", true);

    const std::string expected =
        "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" VelExifVersion=\"1.1.1\">\n"
        "\t<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "\t\t<rdf:Description rdf:about=\"about\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
        "\t\t\t<exif:GPSLatitude>51,30,7716/625N</exif:GPSLatitude>\n"
        "\t\t\t<exif:Flash>\n"
        "\t\t\t\t<rdf:Description>\n"
        "\t\t\t\t\t<exif:Fired>True</exif:Fired>\n"
        "\t\t\t\t</rdf:Description>\n"
        "\t\t\t</exif:Flash>\n"
        "\t\t</rdf:Description>\n"
        "\t\t<rdf:Description rdf:about=\"about\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
        "\t\t\t<dc:subject>\n"
        "\t\t\t\t<rdf:Bag>\n"
        "\t\t\t\t\t<rdf:li>a</rdf:li>\n"
        "\t\t\t\t\t<rdf:li> b</rdf:li>\n"
        "\t\t\t\t\t<rdf:li>c</rdf:li>\n"
        "\t\t\t\t</rdf:Bag>\n"
        "\t\t\t</dc:subject>\n"
        "\t\t\t<dc:title>\n"
        "\t\t\t\t<rdf:Alt>\n"
        "\t\t\t\t\t<rdf:li xml:lang=\"x-default\">T&lt;&amp;&gt;&quot;&apos;</rdf:li>\n"
        "\t\t\t\t</rdf:Alt>\n"
        "\t\t\t</dc:title>\n"
        "\t\t</rdf:Description>\n"
        "\t</rdf:RDF>\n"
        "</x:xmpmeta>\n"
        "<?xpacket end=\"w\"?> ";
    EXPECT_EQ(Saved(packet), expected);
    EXPECT_EQ(packet.RawXML(), expected);
    // The fixed header and footer have the sizes readers of such packets rely on.
    EXPECT_EQ(expected.find("\t\t<rdf:Description"), 178U);
    EXPECT_EQ(expected.size() - expected.rfind("\t</rdf:RDF>"), 45U);

    // Load, save, load: the same model and, generated again, the same bytes.
    TXMPPacket again;
    ASSERT_TRUE(Load(again, expected));
    again.SetAboutAttributeValue("x");
    again.SetAboutAttributeValue("about");  // drops the cache: the text is generated anew
    EXPECT_EQ(Saved(again), expected);
}

TEST(XMPPacketWrite, ContentTheModelDoesNotHoldIsKeptUntilItsPropertyChanges) {
    const std::string text = Wrapped(R"(
  <rdf:Description rdf:about="" xmlns:exif="http://ns.adobe.com/exif/1.0/"
      xmlns:xmpMM="http://ns.adobe.com/xap/1.0/mm/" xmlns:dc="http://purl.org/dc/elements/1.1/"
      xmlns:stEvt="http://ns.adobe.com/xap/1.0/sType/ResourceEvent#">
   <exif:GPSLatitude>10,0.0N</exif:GPSLatitude>
   <xmpMM:History><rdf:Seq><rdf:li rdf:parseType="Resource"><stEvt:action>saved</stEvt:action></rdf:li>
     </rdf:Seq></xmpMM:History>
   <dc:rights xml:lang="en">mine</dc:rights>
   <dc:subject><rdf:Bag><rdf:li>a</rdf:li></rdf:Bag></dc:subject>
  </rdf:Description>
)");
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, text));
    packet.SetUpdatePolicy(xwUpdateIfExists);
    packet.UpdateProperty(xsExif, "GPSLatitude", "51,30,7716/625N");
    // A new value alone goes into the text as read.
    std::string spliced = text;
    spliced.replace(spliced.find("10,0.0N"), 7, "51,30,7716/625N");
    EXPECT_EQ(Saved(packet), spliced);
    // Any other change generates the packet.
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateProperty(xsExif, "GPSLongitude", "1,2.0E");
    const std::string saved = Saved(packet);
    EXPECT_TRUE(saved.starts_with("<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"));
    EXPECT_NE(saved.find("\t\t\t<exif:GPSLatitude>51,30,7716/625N</exif:GPSLatitude>\n"), std::string::npos);
    // What the model can hold is written in its own form ...
    EXPECT_NE(saved.find("\t\t\t<dc:subject>\n\t\t\t\t<rdf:Bag>\n\t\t\t\t\t<rdf:li>a</rdf:li>\n"),
              std::string::npos);
    // ... what it cannot (a structured item, a language qualifier) as it was read.
    EXPECT_NE(saved.find("\t\t\t<xmpMM:History"), std::string::npos);
    EXPECT_NE(saved.find("<stEvt:action>saved</stEvt:action>"), std::string::npos);
    EXPECT_NE(saved.find("xml:lang=\"en\">mine</dc:rights>"), std::string::npos);

    TXMPPacket again;
    ASSERT_TRUE(Load(again, saved));
    EXPECT_EQ(again.FindSchema(xsXMPMediaManagement)->FindProperty("History")->Kind(), xpSeqArray);
    EXPECT_EQ(again.FindSchema(xsExif)->FindProperty("GPSLatitude")->ReadValue(), "51,30,7716/625N");
    EXPECT_EQ(Saved(again), saved) << "unchanged, the text is written back as read";

    // Once such a property changes, the model's form replaces it.
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateSeqProperty(xsXMPMediaManagement, "History", "edited");
    const std::string edited = Saved(packet);
    EXPECT_EQ(edited.find("stEvt:action"), std::string::npos);
    EXPECT_NE(edited.find("\t\t\t<xmpMM:History>\n\t\t\t\t<rdf:Seq>\n\t\t\t\t\t<rdf:li>edited</rdf:li>\n"),
              std::string::npos);
    EXPECT_NE(edited.find("xml:lang=\"en\">mine</dc:rights>"), std::string::npos);
}

TEST(XMPPacketWrite, PropertiesInADefaultNamespaceAreKeptAsRead) {
    TXMPPacket packet;
    ASSERT_TRUE(
        Load(packet, Wrapped(R"(<rdf:Description rdf:about="" xmlns:exif="http://ns.adobe.com/exif/1.0/">
        <exif:GPSLatitude>1,2N</exif:GPSLatitude><Rating xmlns="http://example.com/r/">5</Rating>
        </rdf:Description>)")));
    const TXMPSchema* rating = packet.FindSchema("http://example.com/r/");
    ASSERT_NE(rating, nullptr);
    EXPECT_EQ(rating->PreferredPrefix(), "");
    packet.UpdateProperty(xsExif, "GPSLatitude", "3,4S");
    packet.UpdateProperty(xsExif, "GPSAltitude", "5/1");  // a property added: the packet is generated
    const std::string saved = Saved(packet);
    EXPECT_NE(saved.find("\t\t<rdf:Description rdf:about=\"\">\n\t\t\t<Rating "
                         "xmlns=\"http://example.com/r/\">5</Rating>\n"),
              std::string::npos)
        << saved;
    TXMPPacket again;
    ASSERT_TRUE(Load(again, saved));
    EXPECT_EQ(again.FindSchema("http://example.com/r/")->FindProperty("Rating")->ReadValue(), "5");
    EXPECT_EQ(again.FindSchema(xsExif)->FindProperty("GPSLatitude")->ReadValue(), "3,4S");
}

TEST(XMPPacketWrite, EmptyPacketAndSegmentHeader) {
    TXMPPacket packet;
    packet.SetWriteSegmentHeader(true);
    const std::string saved = Saved(packet);
    EXPECT_TRUE(saved.starts_with(std::string(kXMPSegmentHeader) + "<?xpacket begin="));
    EXPECT_EQ(saved.size(), 29U + 178U + 45U);
}

TEST(XMPPacketWrite, AttributeValuesFromThePhotoAreEscaped) {
    TXMPPacket packet;
    ASSERT_TRUE(Load(packet, Wrapped(R"(<rdf:Description rdf:about="a&quot;b&amp;c"
        xmlns:exif="http://ns.adobe.com/exif/1.0/" exif:ColorSpace="1"/>)")));
    EXPECT_EQ(packet.AboutAttributeValue(), "a\"b&c");
    packet.FindSchema(xsExif)->Properties(0).WriteValue("2");
    TXMPPacket again;
    ASSERT_TRUE(Load(again, Saved(packet)));
    EXPECT_EQ(again.AboutAttributeValue(), "a\"b&c");
    EXPECT_EQ(again.FindSchema(xsExif)->Properties(0).ReadValue(), "2");
}

TEST(XMPPacketUpdate, UpdateIfExistsChangesOnlyWhatIsThere) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwUpdateIfExists);
    int changes = 0;
    packet.SetOnChange([&changes](TXMPPacket&) { ++changes; });
    packet.UpdateProperty(xsExif, "GPSLatitude", "1,2N");
    EXPECT_TRUE(packet.Empty());
    EXPECT_EQ(changes, 0);

    ASSERT_TRUE(Load(packet, Wrapped(kExifDescription)));
    EXPECT_EQ(changes, 1);  // the load itself
    const std::string cached = packet.RawXML();
    packet.UpdateProperty(xsExif, "GPSLongitude", "7,8E");
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("GPSLongitude"), nullptr);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Saved(packet), cached);  // nothing changed: written back byte for byte

    packet.UpdateProperty(xsExif, "GPSLatitude", "51,30,7716/625N \t\n");
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("GPSLatitude")->ReadValue(), "51,30,7716/625N");
    EXPECT_EQ(changes, 2);
    // The text as read, the new value in place of the old.
    std::string expected = cached;
    expected.replace(expected.find("51,30.2N"), 8, "51,30,7716/625N");
    EXPECT_EQ(Saved(packet), expected);

    packet.UpdateProperty(xsExif, "GPSLatitude", "51,30,7716/625N");
    EXPECT_EQ(changes, 2) << "writing the same value is no change";
}

TEST(XMPPacketUpdate, AlwaysUpdateCreatesAndRemoveRemoves) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateProperty(xsExif, "PixelXDimension", 4000);
    const TXMPSchema* exif = packet.FindSchema(xsExif);
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(exif->PreferredPrefix(), "exif");
    EXPECT_EQ(exif->FindProperty("PixelXDimension")->ReadValue(), "4000");

    packet.UpdateProperty(xsExif, "PixelXDimension", "");  // an empty value removes under every policy
    EXPECT_EQ(exif->FindProperty("PixelXDimension"), nullptr);

    packet.UpdateProperty(xsExif, "PixelYDimension", "3000");
    packet.SetUpdatePolicy(xwRemove);
    packet.UpdateProperty(xsExif, "PixelYDimension", "3000");
    EXPECT_EQ(exif->FindProperty("PixelYDimension"), nullptr);
    packet.UpdateProperty(xsPDF, "Keywords", "x");
    EXPECT_EQ(packet.FindSchema(xsPDF), nullptr);
}

TEST(XMPPacketUpdate, ValueGoesWhereTheKindSays) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateBagProperty(xsDublinCore, "subject", "a, b;c;");
    const TXMPProperty* subject = packet.FindSchema(xsDublinCore)->FindProperty("subject");
    ASSERT_EQ(subject->SubPropertyCount(), 3);
    EXPECT_EQ(subject->SubProperties(0).ReadValue(), "a");
    EXPECT_EQ(subject->SubProperties(1).ReadValue(), " b");
    EXPECT_EQ(subject->SubProperties(2).ReadValue(), "c");
    packet.UpdateSeqProperty(xsDublinCore, "subject", "x;;y");
    EXPECT_EQ(subject->Kind(), xpSeqArray);
    ASSERT_EQ(subject->SubPropertyCount(), 3);
    EXPECT_EQ(subject->SubProperties(1).ReadValue(), "");

    packet.UpdateProperty(xsDublinCore, "title", xpAltArray, "one");
    packet.UpdateProperty(xsDublinCore, "title", xpAltArray, "two");
    const TXMPProperty* title = packet.FindSchema(xsDublinCore)->FindProperty("title");
    ASSERT_EQ(title->SubPropertyCount(), 1);
    EXPECT_EQ(title->SubProperties(0).Name(), "x-default");
    EXPECT_EQ(title->SubProperties(0).ReadValue(), "two");

    TXMPProperty& flash = packet.FindSchema(xsDublinCore)->AddProperty("s");
    flash.SetKind(xpStructure);
    try {
        packet.UpdateProperty(xsDublinCore, "s", xpStructure, "v");
        FAIL() << "no exception";
    } catch (const EInvalidXMPOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a single value to a structure property");
    }

    const std::vector<std::string> items{"p", "q"};
    packet.UpdateBagProperty(xsDublinCore, "title", items);  // an alternative array is replaced
    title = packet.FindSchema(xsDublinCore)->FindProperty("title");
    EXPECT_EQ(title->Kind(), xpBagArray);
    ASSERT_EQ(title->SubPropertyCount(), 2);
    EXPECT_EQ(title->SubProperties(0).Name(), "");
    EXPECT_EQ(title->SubProperties(1).ReadValue(), "q");
    packet.UpdateBagProperty(xsDublinCore, "title", std::vector<std::string>{});
    EXPECT_EQ(packet.FindSchema(xsDublinCore)->FindProperty("title"), nullptr);
}

TEST(XMPPacketUpdate, TIFFNamesAreMirroredInLowerCase) {
    TXMPPacket packet;
    ASSERT_TRUE(
        Load(packet, Wrapped(R"(<rdf:Description rdf:about="" xmlns:tiff="http://ns.adobe.com/tiff/1.0/"
        tiff:ImageWidth="1" tiff:imagewidth="1"/>)")));
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateProperty(xsTIFF, "ImageWidth", 640);
    packet.UpdateProperty(xsTIFF, "ImageLength", 480);  // created; its lower-case twin is not
    const TXMPSchema* tiff = packet.FindSchema(xsTIFF);
    EXPECT_EQ(tiff->FindProperty("ImageWidth")->ReadValue(), "640");
    EXPECT_EQ(tiff->FindProperty("imagewidth")->ReadValue(), "640");
    EXPECT_NE(tiff->FindProperty("ImageLength"), nullptr);
    EXPECT_EQ(tiff->FindProperty("imagelength"), nullptr);
    packet.UpdateProperty(xsTIFF, "1st", 5);  // no letter to lower: written once
    EXPECT_EQ(tiff->FindProperty("1st")->ReadValue(), "5");
}

TEST(XMPPacketUpdate, DateTimeProperty) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    const DateTimeValue value = EncodeDateTime(2011, 3, 3, 23, 59, 59, 999);
    packet.UpdateDateTimeProperty(xsExif, "GPSTimeStamp", value, false);
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("GPSTimeStamp")->ReadValue(),
              "2011-03-03T23:59:59.999Z");
    packet.UpdateDateTimeProperty(xsExif, "GPSTimeStamp", EncodeDateTime(1, 1, 2, 0, 0, 0, 5), false);
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("GPSTimeStamp")->ReadValue(),
              "0001-01-02T00:00:00.005Z");
    packet.UpdateDateTimeProperty(xsExif, "GPSTimeStamp", 0, false);
    EXPECT_EQ(packet.FindSchema(xsExif)->FindProperty("GPSTimeStamp"), nullptr);
}

TEST(XMPPacketUpdate, KindChangesReshapeTheSubProperties) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateProperty(xsDublinCore, "x", "1");
    TXMPSchema& dc = *packet.FindSchema(xsDublinCore);
    TXMPProperty& prop = dc.AddProperty("p");
    prop.SetKind(xpBagArray);
    prop.SetSubPropertyCount(2);
    EXPECT_EQ(prop.SubProperties(1).Name(), "");
    prop.SetKind(xpStructure);
    EXPECT_EQ(prop.SubProperties(0).Name(), "SubProp0");
    EXPECT_EQ(prop.SubProperties(1).Name(), "SubProp1");
    prop.SetKind(xpSeqArray);
    EXPECT_EQ(prop.SubProperties(0).Name(), "");
    prop.SetKind(xpSimple);
    EXPECT_EQ(prop.SubPropertyCount(), 0);
}

struct OperationCase {
    std::string_view name;
    std::function<void(TXMPPacket&)> run;
    std::string_view message;
};
void PrintTo(const OperationCase& c, std::ostream* os) { *os << c.name; }
class XMPPacketRefuses : public ::testing::TestWithParam<OperationCase> {};

TEST_P(XMPPacketRefuses, WithTheRulesMessage) {
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateProperty(xsExif, "simple", "v");
    try {
        GetParam().run(packet);
        FAIL() << "no exception";
    } catch (const EInvalidXMPOperation& e) {
        EXPECT_EQ(std::string_view(e.what()), GetParam().message);
    }
}

TXMPProperty& Simple(TXMPPacket& p) { return *p.FindSchema(xsExif)->FindProperty("simple"); }

INSTANTIATE_TEST_SUITE_P(
    XMPPacket, XMPPacketRefuses,
    ::testing::Values(
        OperationCase{"AddToSimple", [](TXMPPacket& p) { Simple(p).AddSubProperty("a"); },
                      "Property type does not support sub-properties"},
        OperationCase{"FindInSimple", [](TXMPPacket& p) { (void)Simple(p).FindSubProperty("a"); },
                      "Property type does not support sub-properties"},
        OperationCase{"RemoveFromSimple", [](TXMPPacket& p) { Simple(p).RemoveSubProperty("a"); },
                      "Property type does not support sub-properties"},
        OperationCase{"CountOfSimple", [](TXMPPacket& p) { Simple(p).SetSubPropertyCount(1); },
                      "Property type does not support sub-properties"},
        OperationCase{"UnnamedInStructure",
                      [](TXMPPacket& p) {
                          Simple(p).SetKind(xpStructure);
                          Simple(p).AddSubProperty("");
                      },
                      "Sub-properties must be named"},
        OperationCase{"UnnamedInAlternative",
                      [](TXMPPacket& p) {
                          Simple(p).SetKind(xpAltArray);
                          Simple(p).AddSubProperty("");
                      },
                      "Sub-properties must be named"},
        OperationCase{"PropertyWithoutPrefix",
                      [](TXMPPacket& p) {
                          TXMPSchema& schema = *p.FindSchema(xsExif);
                          schema.SetPreferredPrefix("");
                          schema.AddProperty("x");
                      },
                      "The schema's PreferredPrefix property must be set before a new item can be added"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(XMPPacketChange, ChangesDropTheCacheAndNotifyOnce) {
    TXMPPacket packet;
    int changes = 0;
    packet.SetOnChange([&changes](TXMPPacket&) { ++changes; });
    packet.Clear();
    EXPECT_EQ(changes, 0) << "clearing an empty packet is no change";
    ASSERT_TRUE(Load(packet, Wrapped(kExifDescription)));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(packet.RawXML().starts_with("<?xpacket begin=\"\xEF\xBB\xBF\""));
    EXPECT_TRUE(packet.RemoveProperty(xsExif, "GPSLatitude"));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(packet.RawXML().starts_with("<?xpacket begin=\"\" id=")) << "generated anew";
    EXPECT_FALSE(packet.RemoveProperty(xsExif, "GPSLatitude"));
    EXPECT_EQ(changes, 2);
    packet.Clear();  // the about value and the now empty schema were still there
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(packet.Empty());
    EXPECT_EQ(packet.AboutAttributeValue(), "");
}

TEST(XMPPacketChange, AssignCopiesTextAndHeaderFlag) {
    TXMPPacket source;
    std::string segment(kXMPSegmentHeader);
    segment += Wrapped(kExifDescription);
    ASSERT_TRUE(Load(source, segment));
    TXMPPacket target;
    target.Assign(&source);
    EXPECT_TRUE(target.WriteSegmentHeader());
    EXPECT_EQ(Saved(target), Saved(source));
    target.Assign(nullptr);
    EXPECT_TRUE(target.Empty());
    target.SetRawXML(Wrapped(kExifDescription));
    EXPECT_EQ(target.SchemaCount(), 1);
    target.SetRawXML("");
    EXPECT_TRUE(target.Empty());
    EXPECT_THROW(target.SetRawXML("garbage"), EInvalidXMPPacket);
}

TEST(XMPPacketChange, ContainedPacketOnlyUpdatesWhatExists) {
    TContainedXMPPacket packet;
    EXPECT_EQ(packet.UpdatePolicy(), xwUpdateIfExists);
    packet.UpdateProperty(xsExif, "GPSLatitude", "1,2N");
    EXPECT_TRUE(packet.Empty());
}

Bytes JpegWith(const std::vector<std::pair<std::uint8_t, std::string>>& segments) {
    Bytes jpeg{0xFF, 0xD8};
    for (const auto& [marker, payload] : segments) {
        const std::size_t length = payload.size() + 2;
        jpeg.insert(jpeg.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8U),
                                 static_cast<std::uint8_t>(length & 0xFFU)});
        jpeg.insert(jpeg.end(), payload.begin(), payload.end());
    }
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34, 0xFF, 0xD9});
    return jpeg;
}

TEST(XMPPacketFiles, LoadFromJPEGTakesTheFirstXMPSegment) {
    const test::TempDir dir;
    const std::string xmp1 = std::string(kXMPSegmentHeader) + Wrapped(kExifDescription);
    const std::string xmp2 = std::string(kXMPSegmentHeader) + Wrapped("");
    test::WriteFileBytes(
        dir / "a.jpg",
        JpegWith({{0xE0, "JFIF"}, {0xE1, std::string("Exif\0\0", 6)}, {0xE1, xmp1}, {0xE1, xmp2}}));
    TXMPPacket packet;
    ASSERT_TRUE(packet.LoadFromJPEG((dir / "a.jpg").string()));
    EXPECT_FALSE(packet.WriteSegmentHeader());
    EXPECT_EQ(packet.SchemaCount(), 1);

    test::WriteFileBytes(dir / "b.jpg", JpegWith({{0xE1, std::string("Exif\0\0", 6)}}));
    EXPECT_FALSE(packet.LoadFromJPEG((dir / "b.jpg").string()));
    EXPECT_TRUE(packet.Empty());
}

TEST(XMPPacketFiles, SaveToFileAndLoadFromFile) {
    const test::TempDir dir;
    TXMPPacket packet;
    packet.SetUpdatePolicy(xwAlwaysUpdate);
    packet.UpdateProperty(xsExif, "GPSLatitude", "1,2N");
    packet.SaveToFile((dir / "p.xmp").string());
    EXPECT_EQ(test::ReadFileText(dir / "p.xmp"), Saved(packet));
    TXMPPacket again;
    again.LoadFromFile((dir / "p.xmp").string());
    EXPECT_EQ(again.FindSchema(xsExif)->FindProperty("GPSLatitude")->ReadValue(), "1,2N");
    EXPECT_THROW(again.LoadFromFile((dir / "missing.xmp").string()), Error);
}

}  // namespace
}  // namespace zeloro
