// tests/xml/XmlDocumentTest.cpp: loading, the node tree, parser messages and the lookups.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/TestSupport.h"
#include "xml/XmlDocument.h"

namespace zeloro {
namespace {

using test::Bytes;
using enum TXmlElementType;

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::unique_ptr<TXmlDocument> Load(const Bytes& bytes) {
    auto doc = std::make_unique<TXmlDocument>();
    XmlBytesStream stream(bytes);
    doc->LoadFromStream(stream);
    return doc;
}

std::unique_ptr<TXmlDocument> Load(std::string_view text) { return Load(AsBytes(text)); }

// The message of whatever the load raises; empty when it succeeds.
std::string LoadError(const Bytes& bytes) {
    try {
        (void)Load(bytes);
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

std::vector<std::string> Names(const TXmlNodeList& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i) {
        std::string entry(list[i]->Name());
        entry.push_back('@');
        entry.append(list[i]->AttributeTextByName("id"));
        names.push_back(std::move(entry));
    }
    return names;
}

struct MessageCase {
    std::string_view name;
    std::string input;
    std::string_view message;
};
void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class ParserMessage : public ::testing::TestWithParam<MessageCase> {};
TEST_P(ParserMessage, MatchesTable) { EXPECT_EQ(LoadError(AsBytes(GetParam().input)), GetParam().message); }

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "<e>";
    }
    for (int i = 0; i < depth; ++i) {
        text += "</e>";
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    TXmlDocument, ParserMessage,
    ::testing::Values(
        MessageCase{"OnlyDeclaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
                    "No root element found in xml"},
        MessageCase{"OnlyComment", "<!-- nothing -->", "No root element found in xml"},
        MessageCase{"EmptyTag", "<>", "Missing element name"},
        MessageCase{"CutStartTag", "<gpx><trk", "Missing element name"},
        MessageCase{"CutInsideElement", "<gpx><trk><name>x</name>", "Missing close tag in element trk"},
        MessageCase{"CutAfterLessThan", "<gpx>text<", "Missing data after \"<\" in element gpx"},
        MessageCase{"CutAfterLessThanAndBlanks", "<gpx>< \n", "Missing data after \"<\" in element gpx"},
        MessageCase{"CloseTagWithoutGreaterThan", "<gpx><a></a", "Missing \">\" in close tag of element a"},
        MessageCase{"WrongCloseTagNamesInner", "<gpx><trk></gpx></trk>",
                    "Incorrect close tag in element trk"},
        MessageCase{"UnterminatedCommentInElement", "<a><!-- open", "Missing close tag in element a"},
        MessageCase{"NulEndsTheData", std::string("<r>ab\0cd</r>", 12), "Missing close tag in element r"},
        MessageCase{"EmptyFile", "", "Unsupported string encoding"},
        MessageCase{"TooDeep", Nested(kMaxNestingDepth + 1), "Elements nested too deeply in element e"},
        MessageCase{"DeepButAllowed", Nested(kMaxNestingDepth), ""},
        MessageCase{"CloseTagCaseIgnored", "<Gpx><TRK></trk></gPX>", ""},
        MessageCase{"CloseTagBlanks", "<a></a >", ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TXmlDocument, MissingFileRaisesOpenErrorWithPath) {
    test::TempDir dir;
    const std::string path = (dir / "none.gpx").string();
    TXmlDocument doc;
    try {
        doc.LoadFromFile(path);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Datei " + path + " kann nicht geöffnet werden. No such file or directory");
    }
}

TEST(TXmlDocument, LoadsFromFile) {
    test::TempDir dir;
    test::WriteFileText(dir / "a.gpx", "<gpx><wpt lat=\"1\"/></gpx>");
    TXmlDocument doc;
    doc.LoadFromFile((dir / "a.gpx").string());
    ASSERT_NE(doc.Root(), nullptr);
    EXPECT_EQ(doc.Root()->NodeByName("wpt")->AttributeTextByName("lat"), "1");
}

TEST(TXmlDocument, CreateHoldsDefaultTree) {
    TXmlDocument doc;
    TXmlNode& list = doc.RootNodeList();
    ASSERT_EQ(list.NodeCount(), 2);
    EXPECT_EQ(list.Nodes(0)->ElementType(), xeDeclaration);
    EXPECT_EQ(list.Nodes(0)->Name(), "xml");
    EXPECT_EQ(list.Nodes(0)->AttributeTextByName("version"), "1.0");
    EXPECT_EQ(list.Nodes(0)->AttributeTextByName("encoding"), "UTF-8");
    EXPECT_EQ(doc.Root(), list.Nodes(1));
    EXPECT_TRUE(doc.Root()->IsClear());
    EXPECT_EQ(doc.XmlFormat(), TXmlFormatType::xfCompact);
    EXPECT_FALSE(doc.UseLocalBias());
}

struct EncodingCase {
    std::string_view name;
    Bytes input;
    std::string wantName;
    std::string wantValue;
    TStringEncodingType encoding;
};
void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.name; }

class DocumentEncoding : public ::testing::TestWithParam<EncodingCase> {};
TEST_P(DocumentEncoding, NamesAndValuesComeOutAsUtf8) {
    const EncodingCase& c = GetParam();
    const auto doc = Load(c.input);
    ASSERT_NE(doc->Root(), nullptr);
    EXPECT_EQ(doc->Root()->Name(), c.wantName);
    EXPECT_EQ(doc->Root()->ValueDirect(), c.wantValue);
    EXPECT_EQ(doc->ExternalEncoding(), c.encoding);
}

Bytes Utf16(std::string_view ascii, bool bigEndian, bool mark) {
    Bytes out;
    if (mark) {
        out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    }
    for (const char ch : ascii) {
        // "~" stands for U+00E4 (a-umlaut), so the test can spell a non-ASCII character.
        const unsigned unit = ch == '~' ? 0xE4U : static_cast<unsigned char>(ch);
        const auto lo = static_cast<std::uint8_t>(unit & 0xFFU);
        const auto hi = static_cast<std::uint8_t>(unit >> 8U);
        if (bigEndian) {
            out.push_back(hi);
            out.push_back(lo);
        } else {
            out.push_back(lo);
            out.push_back(hi);
        }
    }
    return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kUmlaut = "\xC3\xA4";

INSTANTIATE_TEST_SUITE_P(
    TXmlDocument, DocumentEncoding,
    ::testing::Values(
        EncodingCase{"Utf8DeclarationKeepsBytes",
                     AsBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?><n\xC3\xA4>\xC3\xA4</n\xC3\xA4>"),
                     "n" + kUmlaut, kUmlaut, TStringEncodingType::seUTF8},
        EncodingCase{"Utf8DeclarationInLowerCase",
                     AsBytes("<?xml version='1.0' encoding='utf-8'?><n>\xC3\xA4</n>"), "n", kUmlaut,
                     TStringEncodingType::seUTF8},
        EncodingCase{"Utf8WithMark", Concat({0xEF, 0xBB, 0xBF}, AsBytes("<n>\xC3\xA4</n>")), "n", kUmlaut,
                     TStringEncodingType::seUTF8},
        EncodingCase{"Utf8WithoutDeclarationReadAsAnsi", AsBytes("<n>\xC3\xA4</n>"), "n", "\xC3\x83\xC2\xA4",
                     TStringEncodingType::seAnsi},
        EncodingCase{"OtherDeclaredEncodingIgnored",
                     AsBytes("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><n>\xE4</n>"), "n", kUmlaut,
                     TStringEncodingType::seAnsi},
        // A declaration without encoding switches to UTF-8.
        EncodingCase{"DeclarationWithoutEncoding", AsBytes("<?xml version=\"1.0\"?><n>\xC3\xA4</n>"), "n",
                     kUmlaut, TStringEncodingType::seUTF8},
        EncodingCase{"Utf16LeDeclared",
                     Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><n~>~</n~>", false, true),
                     "n" + kUmlaut, kUmlaut, TStringEncodingType::seUTF16LE},
        EncodingCase{"Utf16BeDeclared",
                     Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><n~>~</n~>", true, true),
                     "n" + kUmlaut, kUmlaut, TStringEncodingType::seUTF16BE},
        EncodingCase{"Utf16LeWithoutDeclaration", Utf16("<n>~</n>", false, true), "n", kUmlaut,
                     TStringEncodingType::seUTF16LE},
        EncodingCase{"Utf16BeWithoutDeclaration", Utf16("<n>~</n>", true, true), "n", kUmlaut,
                     TStringEncodingType::seUTF16BE}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TXmlDocument, Utf16DeclarationWithoutEncodingSwitchesToUtf8AndFails) {
    EXPECT_EQ(LoadError(Utf16("<?xml version=\"1.0\"?>\n<n>x</n>", false, true)), "Missing element name");
}

TEST(TXmlDocument, UnsupportedEncodingsPassThroughTheLoader) {
    EXPECT_EQ(LoadError(Bytes{0x00, 0x00, 0xFE, 0xFF, 0, 0, 0, '<'}), "Unsupported string encoding");
    EXPECT_EQ(LoadError(Bytes{0x4C, 0x6F, 0xA7, 0x94, 0x00}), "Unsupported string encoding");
}

TEST(TXmlNode, ElementTextIsKeptRawAndTrimmedOnRequest) {
    const auto doc = Load("<gpx><time> 2011-01-15T08:30:05Z\r\n</time></gpx>");
    const TXmlNode* time = doc->Root()->NodeByName("time");
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->ValueDirect(), " 2011-01-15T08:30:05Z\r\n");
    EXPECT_EQ(time->ValueAsString(), "2011-01-15T08:30:05Z");
    EXPECT_EQ(time->NodeCount(), 0);
}

TEST(TXmlNode, EmptyElementsBothForms) {
    const auto doc = Load("<r><a/><b></b><c x='1' /></r>");
    const TXmlNode* root = doc->Root();
    ASSERT_EQ(root->NodeCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(root->Nodes(i)->ValueDirect().empty());
        EXPECT_EQ(root->Nodes(i)->NodeCount(), 0);
    }
    EXPECT_EQ(root->Nodes(2)->AttributeTextByName("x"), "1");
    EXPECT_EQ(root->Nodes(3), nullptr);
}

TEST(TXmlNode, TextAfterChildStaysCharDataChild) {
    const auto doc = Load("<a>first<b/>second</a>");
    const TXmlNode* a = doc->Root();
    EXPECT_EQ(a->ValueDirect(), "first");
    ASSERT_EQ(a->NodeCount(), 2);
    EXPECT_EQ(a->Nodes(0)->Name(), "b");
    EXPECT_EQ(a->Nodes(1)->ElementType(), xeCharData);
    EXPECT_EQ(a->Nodes(1)->Name(), "");
    EXPECT_EQ(a->Nodes(1)->ValueDirect(), "second");
}

TEST(TXmlNode, BlankOnlyTextBetweenChildrenIsDropped) {
    const auto doc = Load("<a>\n  <b/>\n  <c/>\n</a>");
    const TXmlNode* a = doc->Root();
    EXPECT_EQ(a->ValueDirect(), "");
    ASSERT_EQ(a->NodeCount(), 2);
    EXPECT_EQ(a->Nodes(1)->Name(), "c");
}

TEST(TXmlNode, CarriageReturnAfterLastChildTrimsCharDataEnds) {
    // A CR after the last child start trims LF, CR and space (not tab) from every text child's end.
    const auto doc = Load("<a><b/>x\t \r\n<c/>y \r\n</a>");
    const TXmlNode* a = doc->Root();
    ASSERT_EQ(a->NodeCount(), 4);
    EXPECT_EQ(a->Nodes(1)->ValueDirect(), "x\t");
    EXPECT_EQ(a->Nodes(3)->ValueDirect(), "y");
    // Without a CR after the last child nothing is trimmed.
    const auto plain = Load("<a><b/>x \n<c/>y \n</a>");
    EXPECT_EQ(plain->Root()->Nodes(1)->ValueDirect(), "x \n");
}

TEST(TXmlNode, CommentBeforeTextLeavesValueEmpty) {
    const auto before = Load("<a><!--c-->text</a>");
    EXPECT_EQ(before->Root()->ValueDirect(), "");
    ASSERT_EQ(before->Root()->NodeCount(), 2);
    EXPECT_EQ(before->Root()->Nodes(0)->Name(), "Comment");
    EXPECT_EQ(before->Root()->Nodes(0)->ValueDirect(), "c");
    const auto after = Load("<a>text<!--c--></a>");
    EXPECT_EQ(after->Root()->ValueDirect(), "text");
}

TEST(TXmlNode, MarkupKindsAndNames) {
    const auto doc = Load(
        "<?xml version=\"1.0\"?><?xml-stylesheet href=\"a.css\"?><!DOCTYPE gpx SYSTEM \"g.dtd\" "
        "[<!ENTITY e \"v\"> <!-- in subset -->]>"
        "<gpx><![CDATA[<raw>]]><?pi data?><!weird thing></gpx>");
    const TXmlNode& list = const_cast<TXmlDocument&>(*doc).RootNodeList();
    ASSERT_EQ(list.NodeCount(), 4);
    EXPECT_EQ(list.Nodes(0)->ElementType(), xeDeclaration);
    EXPECT_EQ(list.Nodes(1)->ElementType(), xeStylesheet);
    EXPECT_EQ(list.Nodes(1)->Name(), "xml-stylesheet");
    EXPECT_EQ(list.Nodes(1)->ValueDirect(), "href=\"a.css\"");
    const TXmlNode* dtd = list.Nodes(2);
    EXPECT_EQ(dtd->ElementType(), xeDoctype);
    EXPECT_EQ(dtd->Name(), "gpx");
    EXPECT_EQ(dtd->ValueDirect(), "SYSTEM \"g.dtd\"");
    ASSERT_EQ(dtd->NodeCount(), 2);
    EXPECT_EQ(dtd->Nodes(0)->ElementType(), xeEntity);
    EXPECT_EQ(dtd->Nodes(0)->Name(), "e");
    EXPECT_EQ(dtd->Nodes(0)->ValueDirect(), "\"v\"");
    EXPECT_EQ(dtd->Nodes(1)->ElementType(), xeComment);
    const TXmlNode* gpx = doc->Root();
    ASSERT_EQ(gpx, list.Nodes(3));
    ASSERT_EQ(gpx->NodeCount(), 3);
    EXPECT_EQ(gpx->Nodes(0)->ElementType(), xeCData);
    EXPECT_EQ(gpx->Nodes(0)->Name(), "CData");
    EXPECT_EQ(gpx->Nodes(0)->ValueDirect(), "<raw>");
    EXPECT_EQ(gpx->Nodes(1)->ElementType(), xeQuestion);
    EXPECT_EQ(gpx->Nodes(1)->Name(), "Special");
    EXPECT_EQ(gpx->Nodes(1)->ValueDirect(), "pi data");
    EXPECT_EQ(gpx->Nodes(2)->ElementType(), xeExclam);
    EXPECT_EQ(gpx->Nodes(2)->ValueDirect(), "weird thing");
}

TEST(TXmlNode, DocumentTypeWithoutSubsetEndsAtItsGreaterThan) {
    const auto doc = Load("<!DOCTYPE gpx PUBLIC \"-//x\" \"g.dtd\"><gpx><wpt/></gpx>");
    const TXmlNode* dtd = doc->RootNodeList().Nodes(0);
    EXPECT_EQ(dtd->ElementType(), xeDoctype);
    EXPECT_EQ(dtd->Name(), "gpx");
    EXPECT_EQ(dtd->ValueDirect(), "PUBLIC \"-//x\" \"g.dtd\"");
    ASSERT_NE(doc->Root(), nullptr);
    EXPECT_EQ(doc->Root()->Name(), "gpx");
    EXPECT_NE(doc->Root()->NodeByName("wpt"), nullptr);
}

TEST(TXmlNode, MultiByteCharacterInSubsetIsSkipped) {
    // UTF-8 text: the two bytes of "ä" stand between the declarations of the subset.
    const auto doc =
        Load(Concat({0xEF, 0xBB, 0xBF}, AsBytes("<!DOCTYPE a [\xC3\xA4 <!ENTITY e 'v'> \xC3\xA4]><a/>")));
    const TXmlNode* dtd = doc->RootNodeList().Nodes(0);
    ASSERT_EQ(dtd->ElementType(), xeDoctype);
    TXmlNodeList entities;
    dtd->FindNodes("e", entities);
    EXPECT_EQ(entities.Count(), 1);
    ASSERT_NE(doc->Root(), nullptr);
    EXPECT_EQ(doc->Root()->Name(), "a");
}

TEST(TXmlNode, DeclarationPrefixTakesFollowingLetters) {
    // "<?xmlfoo" is read as a declaration; the letters after "xml" open its tag text.
    const auto doc = Load("<?xmlfoo a='1'?><r/>");
    const TXmlNode* decl = doc->RootNodeList().Nodes(0);
    EXPECT_EQ(decl->ElementType(), xeDeclaration);
    ASSERT_EQ(decl->AttributeCount(), 2);
    EXPECT_EQ(decl->AttributeEntry(0), "foo");
    EXPECT_EQ(decl->AttributeEntry(1), "a='1'");
}

TEST(TXmlDocument, LessThanInsideMalformedCharacterStillOpensChild) {
    // EF announces a three-byte character that swallows "<b": the child is read all the same instead of
    // the reader stepping back to a character before the "<" again and again.
    const auto doc = Load(Concat({0xEF, 0xBB, 0xBF}, AsBytes("<gpx><a>\xEF<b/></a></gpx>")));
    const TXmlNode* a = doc->Root()->NodeByName("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->ValueDirect(), "\xEF");
    ASSERT_EQ(a->NodeCount(), 1);
    EXPECT_EQ(a->Nodes(0)->Name(), "b");
}

TEST(TXmlDocument, StrayTextSkippedAndFirstElementIsRoot) {
    const auto doc = Load("junk <first/> more <second/>");
    ASSERT_NE(doc->Root(), nullptr);
    EXPECT_EQ(doc->Root()->Name(), "first");
    EXPECT_EQ(doc->RootNodeList().NodeCount(), 2);
}

TEST(TXmlDocument, DropCommentsOnParseRemovesCommentChildren) {
    TXmlDocument doc;
    doc.SetDropCommentsOnParse(true);
    const Bytes bytes = AsBytes("<a><!--x-->text<b/><!--y--></a>");
    XmlBytesStream stream(bytes);
    doc.LoadFromStream(stream);
    const TXmlNode* a = doc.Root();
    ASSERT_EQ(a->NodeCount(), 1);
    EXPECT_EQ(a->Nodes(0)->Name(), "b");
    EXPECT_EQ(a->ValueDirect(), "text");
}

TEST(TXmlDocument, ReloadReplacesTree) {
    TXmlDocument doc;
    const Bytes first = AsBytes("<one/>");
    const Bytes second = AsBytes("<two/>");
    XmlBytesStream s1(first);
    doc.LoadFromStream(s1);
    XmlBytesStream s2(second);
    doc.LoadFromStream(s2);
    EXPECT_EQ(doc.RootNodeList().NodeCount(), 1);
    EXPECT_EQ(doc.Root()->Name(), "two");
}

const char* const kTrack =
    "<gpx>"
    "<wpt id='w1'/>"
    "<trk><TRKSEG><trkpt id='1'><trkpt id='nested'/></trkpt><TrkPt id='2'/></TRKSEG></trk>"
    "<ns:trkpt id='prefixed'/>"
    "</gpx>";

TEST(TXmlNode, FindNodesIgnoresCaseAndKeepsDocumentOrder) {
    const auto doc = Load(kTrack);
    TXmlNodeList list;
    list.Add(doc->Root());  // a second call must not keep this
    doc->Root()->FindNodes("trkpt", list);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"trkpt@1", "trkpt@nested", "TrkPt@2"}));
    doc->Root()->FindNodes("ns:trkpt", list);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"ns:trkpt@prefixed"}));
    doc->Root()->FindNodes("gpx", list);
    EXPECT_EQ(list.Count(), 0);  // never the node itself
    doc->Root()->FindNodes("/GPX/trk/trkseg", list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0]->Name(), "TRKSEG");
    EXPECT_EQ(list[0]->FullPath(), "/gpx/trk/TRKSEG");
    EXPECT_EQ(list[0]->TreeDepth(), 2);
    EXPECT_EQ(doc->RootNodeList().TreeDepth(), -1);
}

TEST(TXmlNode, NodeByNameLooksAtDirectChildrenOfEveryKind) {
    const auto doc = Load("<p><!--x--><Time>1</Time><sub><time>2</time></sub></p>");
    const TXmlNode* p = doc->Root();
    ASSERT_NE(p->NodeByName("TIME"), nullptr);
    EXPECT_EQ(p->NodeByName("time")->ValueDirect(), "1");
    EXPECT_NE(p->NodeByName("comment"), nullptr);
    EXPECT_EQ(p->NodeByName("sub")->NodeByName("sub"), nullptr);
    EXPECT_EQ(p->NodeByName("missing"), nullptr);
}

struct AttributeCase {
    std::string_view name;
    std::string_view element;
    std::string_view attribute;
    std::string want;
    bool present;
};
void PrintTo(const AttributeCase& c, std::ostream* os) { *os << c.name; }

class Attribute : public ::testing::TestWithParam<AttributeCase> {};
TEST_P(Attribute, ReadsDecodedText) {
    const AttributeCase& c = GetParam();
    const auto doc = Load(c.element);
    EXPECT_EQ(doc->Root()->AttributeTextByName(c.attribute), c.want);
    EXPECT_EQ(doc->Root()->HasAttribute(c.attribute), c.present);
}

INSTANTIATE_TEST_SUITE_P(
    TXmlNode, Attribute,
    ::testing::Values(AttributeCase{"Plain", "<p lat=\"47.1\"/>", "lat", "47.1", true},
                      AttributeCase{"NameInCapitals", "<p LAT=\"47.1\"/>", "lat", "47.1", true},
                      AttributeCase{"Missing", "<p lat=\"47.1\"/>", "lon", "", false},
                      AttributeCase{"EmptyQuoted", "<p lat=\"\"/>", "lat", "", true},
                      AttributeCase{"BlanksInsideKept", "<p lat=\" +47.10 \"/>", "lat", " +47.10 ", true},
                      AttributeCase{"SpacesAroundEquals", "<p lat = '47.1' />", "lat", "47.1", true},
                      AttributeCase{"Amp", "<p n=\"a&amp;b\"/>", "n", "a&b", true},
                      AttributeCase{"AmpInCapitals", "<p n=\"a&AMP;b\"/>", "n", "a&AMP;b", true},
                      AttributeCase{"DecimalReference", "<p n=\"&#65;\"/>", "n", "A", true},
                      AttributeCase{"HexReference", "<p n=\"&#x41;\"/>", "n", "A", true},
                      AttributeCase{"PrefixOfLongerName", "<p lati=\"1\"/>", "lat", "", false},
                      AttributeCase{"FirstOfTwo", "<p a=\"1\" A=\"2\"/>", "a", "1", true},
                      AttributeCase{"ValuelessNotFound", "<p checked/>", "checked", "", false},
                      AttributeCase{"GreaterThanInsideQuotes", "<p n=\"a>b\"/>", "n", "a>b", true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TXmlNode, ValueAsStringDecodesEntities) {
    const auto doc = Load("<a> x &lt; y &#228; </a>");
    EXPECT_EQ(doc->Root()->ValueAsString(), "x < y \xC3\xA4");
    EXPECT_EQ(doc->Root()->ValueDirect(), " x &lt; y &#228; ");
}

TEST(TXmlNode, ValueAsDateTimeConvertsAndCDataFails) {
    const auto doc = Load("<p><time>\n 2011-01-15T08:30:05Z \n</time><t2><![CDATA[2011-01-15]]></t2></p>");
    EXPECT_DOUBLE_EQ(doc->Root()->NodeByName("time")->ValueAsDateTime(),
                     EncodeDateTime(2011, 1, 15, 8, 30, 5, 0));
    EXPECT_THROW((void)doc->Root()->NodeByName("t2")->ValueAsDateTime(), ConvertError);
}

TEST(TXmlNode, EditingOperations) {
    TXmlDocument doc;
    TXmlNode& root = *doc.Root();
    TXmlNode& a = root.NodeNew();
    TXmlNode& b = root.NodeNew();
    TXmlNode& c = root.NodeNew();
    EXPECT_EQ(&a, root.Nodes(0));
    EXPECT_EQ(b.Parent(), &root);
    EXPECT_EQ(c.Document(), &doc);
    root.NodeDelete(1);
    ASSERT_EQ(root.NodeCount(), 2);
    EXPECT_EQ(root.Nodes(1), &c);
    root.NodeDelete(1);
    root.NodeDelete(5);
    EXPECT_EQ(root.NodeCount(), 1);
    EXPECT_FALSE(root.IsEmpty());
    root.NodesClear();
    EXPECT_TRUE(root.IsClear());
    TXmlNode& d = root.NodeNew();
    EXPECT_EQ(root.Nodes(0), &d);
}

}  // namespace
}  // namespace zeloro
