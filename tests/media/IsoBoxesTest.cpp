// tests/media/IsoBoxesTest.cpp: box headers and lists, each bounded by its parent.
#include <gtest/gtest.h>

#include "MediaBuilders.h"
#include "media/IsoBoxes.h"
#include "media/ShotTime.h"

namespace zeloro {
namespace {

using test::Box;
using test::Bytes;
using test::Join;
using test::LargeBox;
using test::Text;

TEST(IsoBoxes, ReadsPlainLargeAndToTheEndSizes) {
    const Bytes bytes =
        Join({Box("free", {1, 2, 3}), LargeBox("mdat", {4, 5}), {0, 0, 0, 0}, Text("skip"), {9}});
    const SpanSource file(bytes);
    IsoBoxList list(file, 0, file.Size());
    const auto free = list.Next();
    ASSERT_TRUE(free);
    EXPECT_EQ(free->type, FourCc("free"));
    EXPECT_EQ(free->size, 11U);
    EXPECT_EQ(free->PayloadBegin(), 8U);
    const auto mdat = list.Next();
    ASSERT_TRUE(mdat);
    EXPECT_EQ(mdat->begin, 11U);
    EXPECT_EQ(mdat->headerSize, 16U);
    EXPECT_EQ(mdat->PayloadSize(), 2U);
    const auto last = list.Next();  // size 0: to the end of the parent
    ASSERT_TRUE(last);
    EXPECT_EQ(last->begin, 29U);
    EXPECT_EQ(last->size, 9U);
    EXPECT_FALSE(list.Next());
}

TEST(IsoBoxes, ReadsUuidBoxesOwnType) {
    Bytes userType(16);
    for (std::size_t i = 0; i < userType.size(); ++i) userType[i] = static_cast<std::uint8_t>(0xA0 + i);
    const Bytes bytes = Box("uuid", Join({userType, {7, 7}}));
    const SpanSource file(bytes);
    const IsoBox box = ReadIsoBox(file, 0, file.Size());
    EXPECT_EQ(box.headerSize, 24U);
    EXPECT_EQ(box.PayloadSize(), 2U);
    EXPECT_EQ(Bytes(box.userType.begin(), box.userType.end()), userType);
}

TEST(IsoBoxes, FourBytesLeftAreNoBox) {
    const Bytes bytes = Join({Box("free", {}), {0, 0, 0, 0}});
    const SpanSource file(bytes);
    IsoBoxList list(file, 0, file.Size());
    EXPECT_TRUE(list.Next());
    EXPECT_FALSE(list.Next());
}

struct DamagedCase {
    std::string name;
    Bytes bytes;
    std::string message;
};
void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

class DamagedBox : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedBox, ThrowsNamingTheBox) {
    const DamagedCase& c = GetParam();
    const SpanSource file(c.bytes);
    try {
        (void)ReadIsoBox(file, 0, file.Size());
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    IsoBoxes, DamagedBox,
    ::testing::Values(
        DamagedCase{"PastTheEnd", Join({{0, 0, 0, 9}, Text("moov")}),
                    "Die Box 'moov' bei Byte 0 reicht über das Ende der umgebenden Daten hinaus"},
        DamagedCase{"SmallerThanItsHeader", Join({{0, 0, 0, 7}, Text("moov")}),
                    "Die Box 'moov' bei Byte 0 hat eine ungültige Größe"},
        DamagedCase{"LargeSizeCut", Join({{0, 0, 0, 1}, Text("mdat"), {0, 0, 0}}),
                    "Die Box 'mdat' bei Byte 0 ist abgeschnitten"},
        DamagedCase{"LargeSizeHuge", Join({{0, 0, 0, 1}, Text("mdat"), Bytes(8, 0xFF)}),
                    "Die Box 'mdat' bei Byte 0 reicht über das Ende der umgebenden Daten hinaus"},
        DamagedCase{"LargeSizeBelowHeader", Join({{0, 0, 0, 1}, Text("mdat"), {0, 0, 0, 0, 0, 0, 0, 15}}),
                    "Die Box 'mdat' bei Byte 0 hat eine ungültige Größe"},
        DamagedCase{"UuidWithoutItsType", Join({{0, 0, 0, 12}, Text("uuid"), {1, 2, 3, 4}}),
                    "Die Box 'uuid' bei Byte 0 ist abgeschnitten"},
        DamagedCase{"HeaderCut", Join({{0, 0, 0, 8}, Text("mo")}), "Eine Box bei Byte 0 ist abgeschnitten"},
        DamagedCase{"UnprintableType",
                    {0, 0, 0, 9, 0xA9, 'x', 0x01, 'z'},
                    "Die Box '?x?z' bei Byte 0 reicht über das Ende der umgebenden Daten hinaus"}),
    [](const auto& p) { return p.param.name; });

TEST(IsoBoxes, ChildMayNotPassItsParent) {
    // The child claims 12 bytes, but its parent holds 10 after its header.
    const Bytes bytes = Join({{0, 0, 0, 18}, Text("moov"), {0, 0, 0, 12}, Text("mvhd"), {0, 0}, Bytes(8, 0)});
    const SpanSource file(bytes);
    const IsoBox moov = ReadIsoBox(file, 0, file.Size());
    EXPECT_THROW((void)FindIsoBox(file, moov.PayloadBegin(), moov.End(), FourCc("trak")), MediaError);
}

TEST(IsoBoxes, FindStopsAtTheBoxFound) {
    // Damage after the box looked for (a recording cut short in its media data) does not matter.
    const Bytes bytes = Join({Box("moov", {}), {0, 0, 0x10, 0}, Text("mdat"), {1, 2}});
    const SpanSource file(bytes);
    EXPECT_TRUE(FindIsoBox(file, 0, file.Size(), FourCc("moov")));
    EXPECT_THROW((void)FindIsoBox(file, 0, file.Size(), FourCc("udta")), MediaError);
}

TEST(IsoBoxes, ListsEndSoonAfterTooManyBoxes) {
    const Bytes free = Box("free", {});
    Bytes bytes;
    for (int i = 0; i < 100001; ++i) bytes.insert(bytes.end(), free.begin(), free.end());
    const SpanSource file(bytes);
    EXPECT_THROW((void)FindIsoBox(file, 0, file.Size(), FourCc("moov")), MediaError);
}

TEST(IsoBoxes, PayloadReadIsCapped) {
    const Bytes bytes = Box("iloc", Bytes(100, 0));
    const SpanSource file(bytes);
    const IsoBox box = ReadIsoBox(file, 0, file.Size());
    EXPECT_EQ(ReadIsoPayload(file, box, 100).size(), 100U);
    EXPECT_THROW((void)ReadIsoPayload(file, box, 99), MediaError);
}

}  // namespace
}  // namespace zeloro
