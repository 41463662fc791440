// tests/metadata/XMPSidecarTest.cpp: a new sidecar's exact text, an existing one changed only where the
// run writes, and the shot time and position read from one.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "metadata/XMPPacket.h"
#include "metadata/XMPSidecar.h"

namespace zeloro {
namespace {

const std::vector<XMPSidecarProperty> kPosition{{"GPSVersionID", "2.3.0.0"},
                                                {"GPSLatitude", "47,39.5811N"},
                                                {"GPSLongitude", "8,30.1234E"},
                                                {"GPSTimeStamp", "2024-06-15T08:00:30.000Z"}};

TEST(XMPSidecar, NewSidecarIsTheSmallPacket) {
    const std::string expected =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
        "   <exif:GPSVersionID>2.3.0.0</exif:GPSVersionID>\n"
        "   <exif:GPSLatitude>47,39.5811N</exif:GPSLatitude>\n"
        "   <exif:GPSLongitude>8,30.1234E</exif:GPSLongitude>\n"
        "   <exif:GPSTimeStamp>2024-06-15T08:00:30.000Z</exif:GPSTimeStamp>\n"
        "  </rdf:Description>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n";
    const std::string text = NewXMPSidecarText(kPosition);
    EXPECT_EQ(text, expected);
    // It is a packet our own reader takes, with every value as written.
    TXMPPacket packet;
    ASSERT_TRUE(
        packet.TryLoadFromStream(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
    const TXMPSchema* exif = packet.FindSchema(xsExif);
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(exif->PropertyCount(), 4);
    EXPECT_EQ(exif->FindProperty("GPSLatitude")->ReadValue(), "47,39.5811N");
}

TEST(XMPSidecar, NewSidecarEscapesMarkup) {
    const std::vector<XMPSidecarProperty> odd{{"GPSMapDatum", "a<b&\"c\""}};
    const std::string text = NewXMPSidecarText(odd);
    EXPECT_NE(text.find("<exif:GPSMapDatum>a&lt;b&amp;&quot;c&quot;</exif:GPSMapDatum>"), std::string::npos);
}

// A sidecar another program wrote: wrapper, toolkit, comment, the position there in attribute and element
// form, other properties of other schemas.
const std::string kForeign =
    "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/' x:xmptk='Image::ExifTool 12.57'>\n"
    "<!-- rating kept -->\n"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
    " <rdf:Description rdf:about=''\n"
    "  xmlns:xmp='http://ns.adobe.com/xap/1.0/'\n"
    "  xmlns:exif='http://ns.adobe.com/exif/1.0/'\n"
    "  exif:GPSLongitude='1,0.5W'\n"
    "  xmp:Rating='4'>\n"
    "  <exif:GPSLatitude>2,0.25S</exif:GPSLatitude>\n"
    "  <exif:DateTimeOriginal>2024-06-15T10:00:30</exif:DateTimeOriginal>\n"
    " </rdf:Description>\n"
    "</rdf:RDF>\n"
    "</x:xmpmeta>\n"
    "<?xpacket end='w'?>";

TEST(XMPSidecar, UpdateChangesOnlyTheWrittenValuesAndAddsTheMissingOnes) {
    const std::string expected =
        "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/' x:xmptk='Image::ExifTool 12.57'>\n"
        "<!-- rating kept -->\n"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
        " <rdf:Description rdf:about=''\n"
        "  xmlns:xmp='http://ns.adobe.com/xap/1.0/'\n"
        "  xmlns:exif='http://ns.adobe.com/exif/1.0/'\n"
        "  exif:GPSLongitude='8,30.1234E'\n"
        "  xmp:Rating='4'>\n"
        "  <exif:GPSLatitude>47,39.5811N</exif:GPSLatitude>\n"
        "  <exif:DateTimeOriginal>2024-06-15T10:00:30</exif:DateTimeOriginal>\n"
        " </rdf:Description>\n"
        "  <rdf:Description xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" rdf:about=\"\" "
        "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
        "   <exif:GPSVersionID>2.3.0.0</exif:GPSVersionID>\n"
        "   <exif:GPSTimeStamp>2024-06-15T08:00:30.000Z</exif:GPSTimeStamp>\n"
        "  </rdf:Description>\n"
        "</rdf:RDF>\n"
        "</x:xmpmeta>\n"
        "<?xpacket end='w'?>";
    EXPECT_EQ(UpdateXMPSidecarText(kForeign, kPosition), expected);
}

TEST(XMPSidecar, UpdateOfASidecarThatHoldsItAllIsTheSameText) {
    const std::string once = UpdateXMPSidecarText(kForeign, kPosition);
    EXPECT_EQ(UpdateXMPSidecarText(once, kPosition), once);
    const std::string fresh = NewXMPSidecarText(kPosition);
    EXPECT_EQ(UpdateXMPSidecarText(fresh, kPosition), fresh);
}

TEST(XMPSidecar, UpdateKeepsAnAboutValueAndAnRdfElementOnOneLine) {
    const std::string oneLine =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='uuid:1' xmlns:dc='http://purl.org/dc/elements/1.1/' "
        "dc:format='image/x'/>"
        "</rdf:RDF></x:xmpmeta>";
    const std::vector<XMPSidecarProperty> one{{"GPSLatitude", "47,39.5811N"}};
    const std::string expected =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='uuid:1' xmlns:dc='http://purl.org/dc/elements/1.1/' "
        "dc:format='image/x'/>\n"
        "  <rdf:Description xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" rdf:about=\"uuid:1\" "
        "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
        "   <exif:GPSLatitude>47,39.5811N</exif:GPSLatitude>\n"
        "  </rdf:Description>\n"
        "</rdf:RDF></x:xmpmeta>";
    EXPECT_EQ(UpdateXMPSidecarText(oneLine, one), expected);
}

TEST(XMPSidecar, UpdateOfATextThatIsNoPacketThrows) {
    EXPECT_THROW(static_cast<void>(UpdateXMPSidecarText("not xml at all", kPosition)), EInvalidXMPPacket);
    EXPECT_THROW(static_cast<void>(UpdateXMPSidecarText("<a><b/></a>", kPosition)), EInvalidXMPPacket);
}

TEST(XMPSidecar, FactsOfASidecar) {
    const XMPSidecarFacts facts = ReadXMPSidecarFacts(kForeign);
    ASSERT_TRUE(facts.shot);
    EXPECT_EQ(facts.shot->time, EncodeDateTime(2024, 6, 15, 10, 0, 30, 0));
    EXPECT_FALSE(facts.shot->offsetSeconds);
    EXPECT_TRUE(facts.hasGpsPosition);

    const XMPSidecarFacts none = ReadXMPSidecarFacts(NewXMPSidecarText({}));
    EXPECT_FALSE(none.shot);
    EXPECT_FALSE(none.hasGpsPosition);
    const std::vector<XMPSidecarProperty> latitudeOnly{{"GPSLatitude", "47,39.5811N"}};
    EXPECT_FALSE(ReadXMPSidecarFacts(NewXMPSidecarText(latitudeOnly)).hasGpsPosition);
    const std::vector<XMPSidecarProperty> noNumber{{"GPSLatitude", "north"}, {"GPSLongitude", "8,30.1E"}};
    EXPECT_FALSE(ReadXMPSidecarFacts(NewXMPSidecarText(noNumber)).hasGpsPosition);
    EXPECT_FALSE(ReadXMPSidecarFacts("garbage").shot);
}

struct DateCase {
    std::string_view name;
    std::string_view text;
    std::optional<XMPSidecarTime> want;
};
void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }
class XMPDateText : public ::testing::TestWithParam<DateCase> {};
TEST_P(XMPDateText, MatchesTable) {
    const DateCase& c = GetParam();
    EXPECT_EQ(ParseXMPDateText(c.text), c.want);
}
const DateTimeValue kShot = EncodeDateTime(2019, 5, 1, 10, 0, 7, 0);
INSTANTIATE_TEST_SUITE_P(
    XMPSidecar, XMPDateText,
    ::testing::Values(DateCase{"Plain", "2019-05-01T10:00:07", XMPSidecarTime{kShot, std::nullopt}},
                      DateCase{"Utc", "2019-05-01T10:00:07Z", XMPSidecarTime{kShot, 0}},
                      DateCase{"East", "2019-05-01T10:00:07+02:00", XMPSidecarTime{kShot, 7200}},
                      DateCase{"WestHalf", "2019-05-01T10:00:07-03:30", XMPSidecarTime{kShot, -12600}},
                      DateCase{"Fraction", "2019-05-01T10:00:07.25",
                               XMPSidecarTime{kShot + 0.25 / 86400.0, std::nullopt}},
                      DateCase{"NoSeconds", "2019-05-01T10:00",
                               XMPSidecarTime{EncodeDateTime(2019, 5, 1, 10, 0, 0, 0), {}}},
                      DateCase{"DateOnly", "2019-05-01", std::nullopt},
                      DateCase{"ExifForm", "2019:05:01 10:00:07", std::nullopt},
                      DateCase{"BadMonth", "2019-13-01T10:00:07", std::nullopt},
                      DateCase{"BadHour", "2019-05-01T24:00:07", std::nullopt},
                      DateCase{"OffsetWithoutColon", "2019-05-01T10:00:07+0200", std::nullopt},
                      DateCase{"Trailing", "2019-05-01T10:00:07Zx", std::nullopt},
                      DateCase{"EmptyFraction", "2019-05-01T10:00:07.", std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro
