// IPTC record streams, Adobe resource blocks and the APP13 step of a rewrite, byte for byte.
#include <gtest/gtest.h>

#include "metadata/AdobeResources.h"
#include "metadata/IPTCData.h"
#include "metadata/JPEGSegments.h"
#include "metadata/Streams.h"
#include "metadata/WriteFixtures.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

using test::BE16;
using test::BE32;
using test::Bytes;
using test::BytesEqual;
using test::Cat;
using test::Segment;
using test::Text;

const Bytes kPhotoshop3{'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};

// A dataset with a plain 16-bit size field.
Bytes Dataset(std::uint8_t record, std::uint8_t number, const Bytes& data) {
    return Cat({{0x1C, record, number}, BE16(static_cast<std::uint16_t>(data.size())), data});
}

// A resource block: the name part is given with its length byte and pad; the data pad follows an odd size.
Bytes Block(std::uint16_t type, const Bytes& nameWithPad, const Bytes& data) {
    return Cat({Text("8BIM"), BE16(type), nameWithPad, BE32(static_cast<std::uint32_t>(data.size())), data,
                data.size() % 2 != 0 ? Bytes{0} : Bytes{}});
}

Bytes RunApp13Step(const TIPTCData& iptc, const Bytes& photo) {
    ReadOnlyMemoryStream in(photo);
    MemoryStream out;
    iptc.SaveToJPEG(in, out);
    return Bytes(out.Bytes().begin(), out.Bytes().end());
}

struct BlockCase {
    std::string_view name;
    std::string blockName;
    Bytes data;
    Bytes expected;
};
void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class AdobeBlockLayout : public ::testing::TestWithParam<BlockCase> {};

TEST_P(AdobeBlockLayout, PadsNameAndDataAndReadsBack) {
    const BlockCase& c = GetParam();
    const TAdobeBlock block("8BIM", 0x0BB7, c.blockName, c.data);
    std::vector<std::uint8_t> written;
    block.SaveToBytes(written);
    EXPECT_TRUE(BytesEqual(c.expected, written));

    std::size_t pos = 0;
    const auto read = TAdobeBlock::Read(written, pos);
    EXPECT_EQ(pos, written.size());
    EXPECT_EQ(read->Name(), c.blockName);
    EXPECT_EQ(read->Data(), c.data);
    EXPECT_EQ(read->TypeID(), 0x0BB7);
}

INSTANTIATE_TEST_SUITE_P(
    AdobeResources, AdobeBlockLayout,
    ::testing::Values(BlockCase{"EmptyNameOddData",
                                "",
                                {7},
                                Cat({Text("8BIM"), {0x0B, 0xB7}, {0x00, 0x00}, {0, 0, 0, 1}, {7, 0}})},
                      BlockCase{"OddNameEvenData",
                                "a",
                                {1, 2},
                                Cat({Text("8BIM"), {0x0B, 0xB7}, {0x01, 'a'}, {0, 0, 0, 2}, {1, 2}})},
                      BlockCase{"EvenNameNoData",
                                "ab",
                                {},
                                Cat({Text("8BIM"), {0x0B, 0xB7}, {0x02, 'a', 'b', 0x00}, {0, 0, 0, 0}})}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AdobeResources, SignatureIsPaddedOrCut) {
    EXPECT_EQ(TAdobeBlock("AB", 1, "", {}).Signature(), "AB  ");
    EXPECT_EQ(TAdobeBlock("8BIMX", 1, "", {}).Signature(), "8BIM");
}

TEST(AdobeResources, EnumeratorReadsALastTwelveByteBlock) {
    const Bytes smallest = Block(0x0400, {0x00, 0x00}, {});
    ASSERT_EQ(smallest.size(), 12U);
    const Bytes payload = Cat({kPhotoshop3, Block(0x03ED, {0x00, 0x00}, {1, 2, 3, 4}), smallest});
    TAdobeApp13Enumerator blocks(payload, AdobeHeaderSizeOf(payload));
    std::vector<std::uint16_t> types;
    for (const IAdobeBlock& block : blocks) {
        types.push_back(block->TypeID());
    }
    EXPECT_EQ(types, (std::vector<std::uint16_t>{0x03ED, 0x0400}));
}

TEST(AdobeResources, NonAdobePayloadYieldsNothing) {
    const Bytes payload = Cat({Text("Adobe_CM"), Bytes(20, 0)});
    EXPECT_EQ(AdobeHeaderSizeOf(payload), 0U);
    TAdobeApp13Enumerator blocks(payload, 0);
    EXPECT_FALSE(blocks.MoveNext());
}

TEST(AdobeResources, HeaderSizes) {
    EXPECT_EQ(AdobeHeaderSizeOf(Cat({kPhotoshop3, Bytes(6, 0)})), 14U);
    EXPECT_EQ(AdobeHeaderSizeOf(Cat({Text("Adobe_Photoshop2.5:"), Bytes(1, 0)})), 19U);
    // 19 bytes hold the older header but fall short of the 20 the test asks for.
    EXPECT_EQ(AdobeHeaderSizeOf(Text("Adobe_Photoshop2.5:")), 0U);
}

TEST(AdobeResources, BlockRunningPastThePayloadIsAReadError) {
    const Bytes truncatedData =
        Cat({kPhotoshop3, Text("8BIM"), BE16(0x0404), {0, 0}, BE32(100), Bytes(10, 0x1C)});
    TAdobeApp13Enumerator blocks(truncatedData, 14);
    EXPECT_THROW(
        {
            try {
                blocks.MoveNext();
            } catch (const StreamError& e) {
                EXPECT_STREQ(e.what(), "Stream-Lesefehler");
                throw;
            }
        },
        StreamError);
}

TEST(AdobeResources, NegativeDataSizeReadsAsEmpty) {
    const Bytes block = Cat({Text("8BIM"), BE16(0x0404), {0, 0}, BE32(0xFFFFFFF0U), Bytes(4, 0)});
    std::size_t pos = 0;
    const auto read = TAdobeBlock::Read(block, pos);
    EXPECT_TRUE(read->Data().empty());
    EXPECT_EQ(pos, 12U);
}

TEST(IPTCData, RecordStreamIsWrittenGroupedByRecord) {
    const Bytes stream =
        Cat({Dataset(2, 25, Text("kw")), Dataset(1, 90, {0x1B, 0x25, 0x47}), Dataset(2, 120, Text("c"))});
    TIPTCData iptc;
    iptc.LoadFromBytes(stream);
    EXPECT_FALSE(iptc.Modified());
    EXPECT_TRUE(iptc.ApplicationSection().DefinitelySorted());
    std::vector<std::uint8_t> written;
    iptc.SaveToBytes(written);
    const Bytes expected =
        Cat({Dataset(1, 90, {0x1B, 0x25, 0x47}), Dataset(2, 25, Text("kw")), Dataset(2, 120, Text("c"))});
    EXPECT_TRUE(BytesEqual(expected, written));
}

TEST(IPTCData, DescendingNumbersAreNotDefinitelySorted) {
    TIPTCData iptc;
    iptc.LoadFromBytes(Cat({Dataset(2, 120, Text("c")), Dataset(2, 25, Text("kw"))}));
    EXPECT_FALSE(iptc.ApplicationSection().DefinitelySorted());
    EXPECT_EQ(iptc.ApplicationSection()[0].ID(), 120);
}

TEST(IPTCData, LargeDatasetUsesTheExtendedSizeAndReadsBack) {
    const Bytes big(40000, 0x41);
    TIPTCData iptc;
    iptc.ApplicationSection().Add(202).SetData(big);
    std::vector<std::uint8_t> written;
    iptc.SaveToBytes(written);
    const Bytes expectedHead{0x1C, 0x02, 202, 0xFF, 0xFC, 0x00, 0x00, 0x9C, 0x40};
    ASSERT_EQ(written.size(), expectedHead.size() + big.size());
    EXPECT_TRUE(BytesEqual(expectedHead, Bytes(written.begin(), written.begin() + 9)));

    TIPTCData reread;
    reread.LoadFromBytes(written);
    ASSERT_EQ(reread.ApplicationSection().Count(), 1U);
    EXPECT_TRUE(std::ranges::equal(reread.ApplicationSection()[0].Data(), big));
}

TEST(IPTCData, ExtendedSizeFieldsOfOneAndTwoBytes) {
    const Bytes stream =
        Cat({{0x1C, 2, 5, 0xFF, 0xFF, 0x03}, Text("abc"), {0x1C, 2, 6, 0xFF, 0xFE, 0x00, 0x02}, Text("xy")});
    TIPTCData iptc;
    iptc.LoadFromBytes(stream);
    ASSERT_EQ(iptc.ApplicationSection().Count(), 2U);
    EXPECT_EQ(iptc.ApplicationSection()[0].AsString(), "abc");
    EXPECT_EQ(iptc.ApplicationSection()[1].AsString(), "xy");
}

TEST(IPTCData, FillerAfterTheLastDatasetIsLeftUnread) {
    MemoryStream stream(Cat({Dataset(2, 5, Text("t")), Bytes(8, 0)}));
    TIPTCData iptc;
    iptc.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), 6);
    std::vector<std::uint8_t> written;
    iptc.SaveToBytes(written);
    EXPECT_TRUE(BytesEqual(Dataset(2, 5, Text("t")), written));
}

struct BadStreamCase {
    std::string_view name;
    Bytes stream;
    std::string message;
};
void PrintTo(const BadStreamCase& c, std::ostream* os) { *os << c.name; }

class IPTCDamage : public ::testing::TestWithParam<BadStreamCase> {};

TEST_P(IPTCDamage, RaisesItsMessage) {
    const BadStreamCase& c = GetParam();
    TIPTCData iptc;
    try {
        iptc.LoadFromBytes(c.stream);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
    // A dataset whose data was missing is not kept half-made.
    EXPECT_EQ(iptc.ApplicationSection().Count(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    IPTCData, IPTCDamage,
    ::testing::Values(
        BadStreamCase{"RecordZero", {0x1C, 0, 5, 0, 1, 'a'}, "Invalid IPTC record number (0)"},
        BadStreamCase{"RecordTen", {0x1C, 10, 5, 0, 1, 'a'}, "Invalid IPTC record number (10)"},
        BadStreamCase{"SizeField8004", {0x1C, 2, 5, 0x80, 0x04, 0, 0}, "Invalid IPTC tag size field (32764)"},
        BadStreamCase{"DataPastTheEnd", {0x1C, 2, 5, 0x00, 0x09, 'a', 'b'}, "Stream-Lesefehler"},
        BadStreamCase{
            "HugeExtendedSize", {0x1C, 2, 5, 0xFF, 0xFC, 0xFF, 0xFF, 0xFF, 0xF0, 'a'}, "Stream-Lesefehler"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(IPTCData, InvalidRecordNumberIsEInvalidIPTCData) {
    TIPTCData iptc;
    EXPECT_THROW(iptc.LoadFromBytes(Bytes{0x1C, 0, 5, 0, 1, 'a'}), EInvalidIPTCData);
}

TEST(IPTCData, LoadsTheFirstIPTCBlockOfTheFirstAdobeSegment) {
    const Bytes app13 = Segment(0xED, Cat({kPhotoshop3, Block(0x07D0, {0, 0}, {9, 9}),
                                           Block(0x0404, {0, 0}, Dataset(2, 5, Text("title")))}));
    TIPTCData iptc;
    iptc.LoadFromJPEG(test::Photo({app13}));
    ASSERT_NE(iptc.ApplicationSection().Find(5), nullptr);
    EXPECT_EQ(iptc.ApplicationSection().Find(5)->AsString(), "title");
    EXPECT_FALSE(iptc.Modified());

    iptc.LoadFromJPEG(test::Photo({}));
    EXPECT_TRUE(iptc.Empty());
    EXPECT_FALSE(iptc.Modified());
}

TEST(App13Step, RewritesHeaderPutsIPTCFirstAndKeepsOtherResources) {
    const Bytes path = Block(0x07D0, {0x03, 'p', 't', 'h'}, {1, 2, 3});
    const Bytes oldIPTC = Block(0x0404, {0, 0}, Cat({Dataset(2, 25, Text("kw")), Dataset(1, 90, {0x1B})}));
    const Bytes photo = test::Photo({Segment(0xED, Cat({Text("Adobe_Photoshop2.5:"), path, oldIPTC}))});
    TIPTCData iptc;
    iptc.LoadFromJPEG(photo);

    const Bytes records = Cat({Dataset(1, 90, {0x1B}), Dataset(2, 25, Text("kw"))});
    const Bytes expectedApp13 = Segment(0xED, Cat({kPhotoshop3, Block(0x0404, {0, 0}, records), path}));
    const Bytes expected = test::Photo({expectedApp13});
    EXPECT_TRUE(BytesEqual(expected, RunApp13Step(iptc, photo)));
}

TEST(App13Step, PhotoWithoutIPTCOrAdobeSegmentPassesUnchanged) {
    const Bytes photo =
        test::Photo({Segment(0xE0, Text("JFIF")), Segment(0xED, Cat({Text("Adobe_CM"), Bytes(4, 1)}))});
    const TIPTCData empty;
    EXPECT_TRUE(BytesEqual(photo, RunApp13Step(empty, photo)));
}

TEST(App13Step, NewIPTCGoesAfterTheLeadingApp0AndApp1Segments) {
    const Bytes app0 = Segment(0xE0, Text("JFIF"));
    const Bytes app1 = Segment(0xE1, Text("Exif"));
    const Bytes app2 = Segment(0xE2, Text("ICC"));
    TIPTCData iptc;
    iptc.ApplicationSection().Add(5).SetAsString("t");
    const Bytes expectedApp13 =
        Segment(0xED, Cat({kPhotoshop3, Block(0x0404, {0, 0}, Dataset(2, 5, Text("t")))}));
    EXPECT_TRUE(BytesEqual(test::Photo({app0, app1, expectedApp13, app2}),
                           RunApp13Step(iptc, test::Photo({app0, app1, app2}))));
}

TEST(App13Step, EmptiedContainerRemovesTheIPTCBlock) {
    const Bytes path = Block(0x07D0, {0, 0}, {1, 2});
    const Bytes photo = test::Photo(
        {Segment(0xED, Cat({kPhotoshop3, Block(0x0404, {0, 0}, Dataset(2, 5, Text("t"))), path}))});
    const TIPTCData empty;
    EXPECT_TRUE(
        BytesEqual(test::Photo({Segment(0xED, Cat({kPhotoshop3, path}))}), RunApp13Step(empty, photo)));
}

TEST(App13Step, IPTCSplitOverTwoSegmentsKeepsTheSecondPart) {
    const Bytes first = Block(0x0404, {0, 0}, Dataset(2, 5, Text("one")));
    const Bytes second = Block(0x0404, {0, 0}, Dataset(2, 25, Text("two")));
    const Bytes segment1 = Segment(0xED, Cat({kPhotoshop3, first}));
    const Bytes segment2 = Segment(0xED, Cat({kPhotoshop3, second}));
    const Bytes between = Segment(0xE2, Text("ICC"));
    const Bytes photo = test::Photo({segment1, between, segment2});
    TIPTCData iptc;
    iptc.LoadFromJPEG(photo);
    EXPECT_EQ(iptc.ApplicationSection().Count(), 1U);
    // Unchanged data comes out byte for byte, the second segment's IPTC included.
    EXPECT_TRUE(BytesEqual(photo, RunApp13Step(iptc, photo)));

    iptc.ApplicationSection().Find(5)->SetAsString("ONE");
    const Bytes expected =
        test::Photo({Segment(0xED, Cat({kPhotoshop3, Block(0x0404, {0, 0}, Dataset(2, 5, Text("ONE")))})),
                     between, segment2});
    EXPECT_TRUE(BytesEqual(expected, RunApp13Step(iptc, photo)));
}

TEST(App13Step, IPTCInTheSecondSegmentMovesToTheFirst) {
    const Bytes path = Block(0x07D0, {0, 0}, {1, 2});
    const Bytes iptcBlock = Block(0x0404, {0, 0}, Dataset(2, 5, Text("x")));
    const Bytes photo =
        test::Photo({Segment(0xED, Cat({kPhotoshop3, path})), Segment(0xED, Cat({kPhotoshop3, iptcBlock}))});
    TIPTCData iptc;
    iptc.LoadFromJPEG(photo);
    const Bytes expected =
        test::Photo({Segment(0xED, Cat({kPhotoshop3, iptcBlock, path})), Segment(0xED, kPhotoshop3)});
    EXPECT_TRUE(BytesEqual(expected, RunApp13Step(iptc, photo)));
}

TEST(App13Step, OversizedPayloadIsRefused) {
    TIPTCData iptc;
    iptc.ApplicationSection().Add(202).SetData(Bytes(70000, 1));
    const Bytes photo = test::Photo({});  // named: the stream only borrows it
    ReadOnlyMemoryStream in(photo);
    MemoryStream out;
    EXPECT_THROW(iptc.SaveToJPEG(in, out), SegmentTooLarge);
}

}  // namespace
}  // namespace zeloro
