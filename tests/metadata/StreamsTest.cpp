// tests/metadata/StreamsTest.cpp: typed reads and writes in both byte orders, the header test,
// and the head-window file stream against the file's real bytes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "MetadataBuilders.h"
#include "metadata/Streams.h"

namespace zeloro {
namespace {

using test::Bytes;

TEST(StreamHelpers, TypedValuesInBothByteOrders) {
    for (const TEndianness e : {SmallEndian, BigEndian}) {
        MemoryStream s;
        WriteStreamByte(s, 0xAB);
        WriteStreamWord(s, 0x1234, e);
        WriteStreamLongWord(s, 0x89ABCDEF, e);
        WriteStreamLongInt(s, -2, e);
        WriteStreamDouble(s, 1.5, e);
        const Bytes little{0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0xFE, 0xFF, 0xFF,
                           0xFF, 0,    0,    0,    0,    0,    0,    0xF8, 0x3F};
        const Bytes big{0xAB, 0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0xFF, 0xFF, 0xFF,
                        0xFE, 0x3F, 0xF8, 0,    0,    0,    0,    0,    0};
        EXPECT_TRUE(
            test::BytesEqual(e == BigEndian ? big : little, Bytes(s.Bytes().begin(), s.Bytes().end())));
        s.SetPosition(0);
        EXPECT_EQ(ReadStreamByte(s), 0xAB);
        EXPECT_EQ(ReadStreamWord(s, e), 0x1234);
        EXPECT_EQ(ReadStreamLongWord(s, e), 0x89ABCDEFU);
        EXPECT_EQ(ReadStreamLongInt(s, e), -2);
        EXPECT_EQ(ReadStreamDouble(s, e), 1.5);
        std::uint16_t w = 0;
        EXPECT_FALSE(TryReadStreamWord(s, e, w));  // at the end: false, not an exception
        EXPECT_THROW((void)ReadStreamSmallInt(s, e), StreamError);
    }
}

TEST(StreamHelpers, HeaderTestMovesBackByWhatItRead) {
    const Bytes bytes{'E', 'x', 'i', 'f', 0};
    const Bytes header{'E', 'x', 'i', 'f', 0, 0};
    ReadOnlyMemoryStream s{std::span<const std::uint8_t>(bytes)};
    EXPECT_FALSE(TryReadStreamHeader(s, header));  // only 5 of 6 bytes there
    EXPECT_EQ(s.Position(), 0);
    const Bytes prefix{'E', 'x'};
    EXPECT_TRUE(TryReadStreamHeader(s, prefix));
    EXPECT_EQ(s.Position(), 2);
    const Bytes wrong{'i', 'X'};
    EXPECT_FALSE(TryReadStreamHeader(s, wrong));
    EXPECT_EQ(s.Position(), 2);
}

TEST(StreamHelpers, HeadFileStreamServesTheFilesBytes) {
    test::TempDir dir;
    Bytes content(5000);
    std::mt19937 rng(7);
    for (auto& b : content) b = static_cast<std::uint8_t>(rng());
    test::WriteFileBytes(dir / "f.bin", content);
    HeadFileStream s((dir / "f.bin").string(), 512);  // a small window, so reads cross its edges
    EXPECT_EQ(s.Size(), 5000);
    struct Read {
        std::int64_t at;
        std::size_t count;
    };
    // Inside a window, across its edge, larger than a window, backwards, and past the end.
    for (const Read r : std::vector<Read>{{0, 10}, {500, 30}, {100, 2000}, {40, 8}, {4990, 50}, {6000, 4}}) {
        s.SetPosition(r.at);
        Bytes got(r.count);
        const std::size_t n = s.Read(got.data(), got.size());
        const std::size_t want =
            r.at >= 5000 ? 0 : std::min<std::size_t>(r.count, static_cast<std::size_t>(5000 - r.at));
        ASSERT_EQ(n, want) << r.at;
        EXPECT_TRUE(
            std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                       content.begin() + static_cast<std::ptrdiff_t>(std::min<std::int64_t>(r.at, 5000))))
            << r.at;
    }
    EXPECT_LT(s.BytesRead(), 5000 + 2 * 512);
    EXPECT_EQ(s.Write(content.data(), 1), 0U);
}

}  // namespace
}  // namespace zeloro
