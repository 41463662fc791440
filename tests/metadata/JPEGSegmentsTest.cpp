// tests/metadata/JPEGSegmentsTest.cpp: segment walk, EOI scan, Adobe test, segment writing and stripping.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "MetadataBuilders.h"
#include "metadata/JPEGSegments.h"

namespace zeloro {
namespace {

using test::Bytes;
using test::BytesEqual;
using test::JpegBuilder;

struct Found {
    std::uint8_t marker;
    std::int64_t offset;
    std::int64_t totalSize;
    friend bool operator==(const Found&, const Found&) = default;
};

std::vector<Found> Walk(const Bytes& jpeg, const TJPEGMarkers& markers) {
    std::vector<Found> out;
    auto parser = ParseJPEGSegments(std::span<const std::uint8_t>(jpeg), markers);
    for (const auto& seg : *parser) out.push_back({seg->MarkerNum(), seg->MarkerOffset(), seg->TotalSize()});
    return out;
}

TEST(JpegSegments, SoiThenEoi) {
    const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_TRUE(Walk(jpeg, {0xE1}).empty());
    EXPECT_EQ(Walk(jpeg, {0xD9}), (std::vector<Found>{{0xD9, 2, 2}}));
}

TEST(JpegSegments, FillBytesBelongBeforeTheSegment) {
    const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xE1, 0x00, 0x04, 'a', 'b',  // two fill bytes, then APP1
                     0xFF, 0xD9};
    auto parser = ParseJPEGSegments(std::span<const std::uint8_t>(jpeg), {0xE1});
    ASSERT_TRUE(parser->MoveNext());
    EXPECT_EQ(parser->Current()->MarkerOffset(), 4);  // the last 0xFF
    EXPECT_EQ(parser->Current()->PayloadOffset(), 8);
    EXPECT_TRUE(BytesEqual(Bytes{'a', 'b'},
                           Bytes(parser->Current()->Payload().begin(), parser->Current()->Payload().end())));
    EXPECT_FALSE(parser->MoveNext());
    EXPECT_FALSE(parser->MoveNext());  // an ended walk stays ended
}

TEST(JpegSegments, WalkStopsAtImageData) {
    JpegBuilder b;
    b.Soi().Segment(0xE0, {1, 2}).Segment(0xE1, {'x'}).Sof0().Sos({0x12, 0x34});
    const auto afterImage = static_cast<std::int64_t>(b.Size());
    b.Segment(0xE1, {'y'}).Eoi();
    const auto found = Walk(b.bytes(), {0xE1});
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].offset, 8);  // SOI 2 + APP0 6
    EXPECT_LT(found[0].offset, afterImage);
}

struct EoiCase {
    std::string name;
    Bytes entropy;                    // bytes after the SOS header
    std::optional<std::int64_t> eoi;  // offset of the EOI's 0xFF within entropy, if found
};
void PrintTo(const EoiCase& c, std::ostream* os) { *os << c.name; }
class EoiScan : public ::testing::TestWithParam<EoiCase> {};

TEST_P(EoiScan, PairsEveryFFWithTheNextByte) {
    const EoiCase& c = GetParam();
    JpegBuilder b;
    b.Soi().Sof0().Sos(c.entropy);
    const auto sosEnd = static_cast<std::int64_t>(b.Size()) - static_cast<std::int64_t>(c.entropy.size());
    const auto found = Walk(b.bytes(), {0xD9});
    if (c.eoi) {
        ASSERT_EQ(found.size(), 1U);
        EXPECT_EQ(found[0].offset, sosEnd + *c.eoi);
        EXPECT_EQ(found[0].marker, 0xD9);
    } else {
        EXPECT_TRUE(found.empty());
    }
    // The measured length ends after the EOI, or covers everything without one.
    const std::int64_t measured = MeasureJPEGData(std::span<const std::uint8_t>(b.bytes()));
    EXPECT_EQ(measured, c.eoi ? sosEnd + *c.eoi + 2 : static_cast<std::int64_t>(b.Size()));
}

INSTANTIATE_TEST_SUITE_P(
    JpegSegments, EoiScan,
    ::testing::Values(EoiCase{"PairedFFHidesEoi", {0x12, 0x34, 0xFF, 0xFF, 0xD9}, std::nullopt},
                      EoiCase{"EoiAtThirdByte", {0x12, 0xFF, 0xD9}, 1},
                      EoiCase{"StuffedZeroThenEoi", {0x12, 0xFF, 0x00, 0xFF, 0xD9, 0xAA, 0xBB}, 3},
                      EoiCase{"RestartMarkerSkipped", {0x12, 0xFF, 0xD0, 0x55, 0xFF, 0xD9}, 4},
                      EoiCase{"TrailingLoneFF", {0x12, 0x34, 0xFF}, std::nullopt},
                      EoiCase{"NoEoi", {0x12, 0x34, 0x56}, std::nullopt}),
    [](const auto& p) { return p.param.name; });

TEST(JpegSegments, MeasureStopsAtFirstEoiAndRestoresPosition) {
    JpegBuilder b;
    b.Soi().Sof0().Sos({0x01, 0x02}).Eoi().RawBytes({0xAA, 0xBB, 0xFF, 0xD9});
    MemoryStream s;
    s.WriteBytes(Bytes{0x00, 0x00});  // the measure starts at the stream position, not at 0
    s.WriteBytes(b.bytes());
    s.SetPosition(2);
    EXPECT_EQ(MeasureJPEGData(s), static_cast<std::int64_t>(b.Size()) - 4);
    EXPECT_EQ(s.Position(), 2);
}

TEST(JpegSegments, NotAJpegIsRefused) {
    const Bytes bytes{0xFF, 0xD9, 0xFF, 0xD8};
    ReadOnlyMemoryStream s{std::span<const std::uint8_t>(bytes)};
    try {
        (void)ParseJPEGSegments(s, {0xE1});
        FAIL() << "no exception";
    } catch (const EInvalidJPEGHeader& e) {
        EXPECT_STREQ(e.what(), "JPEG header is not valid");
    }
    s.SetPosition(0);
    EXPECT_FALSE(StartsWithJPEGHeader(s));
    EXPECT_EQ(s.Position(), 0);
    s.SetPosition(2);
    EXPECT_TRUE(StartsWithJPEGHeader(s));
    EXPECT_EQ(s.Position(), 2);
}

struct TruncatedCase {
    std::string name;
    Bytes bytes;
};
void PrintTo(const TruncatedCase& c, std::ostream* os) { *os << c.name; }
class Truncated : public ::testing::TestWithParam<TruncatedCase> {};

TEST_P(Truncated, RaisesStreamReadError) {
    const Bytes& bytes = GetParam().bytes;
    auto parser = ParseJPEGSegments(std::span<const std::uint8_t>(bytes), {0xE1});
    try {
        while (parser->MoveNext()) {
        }
        FAIL() << "no exception";
    } catch (const StreamError& e) {
        EXPECT_STREQ(e.what(), "Stream-Lesefehler");
    }
}

INSTANTIATE_TEST_SUITE_P(
    JpegSegments, Truncated,
    ::testing::Values(TruncatedCase{"EndsInsideMarker", {0xFF, 0xD8, 0xFF, 0xFF}},
                      TruncatedCase{"EndsInsideLength", {0xFF, 0xD8, 0xFF, 0xE1, 0x00}},
                      TruncatedCase{"EndsInsidePayload", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 1, 2}},
                      TruncatedCase{"LengthZeroWrapsAndReadsPastEnd",
                                    {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00, 1, 2, 0xFF, 0xD9}},
                      TruncatedCase{"EndsInsideSkippedLength", {0xFF, 0xD8, 0xFF, 0xE0, 0x00}}),
    [](const auto& p) { return p.param.name; });

struct AdobeCase {
    std::string name;
    std::uint8_t marker;
    Bytes payload;
    bool want;
    std::int32_t headerSize;
};
void PrintTo(const AdobeCase& c, std::ostream* os) { *os << c.name; }
class AdobeHeader : public ::testing::TestWithParam<AdobeCase> {};

Bytes WithTail(std::string_view head, std::size_t tail) {
    Bytes b(head.begin(), head.end());
    b.resize(b.size() + tail, 0x38);
    return b;
}

TEST_P(AdobeHeader, MatchesTable) {
    const AdobeCase& c = GetParam();
    TUserJPEGSegment seg(c.marker, c.payload);
    EXPECT_EQ(seg.HasAdobeHeader(), c.want);
    EXPECT_EQ(seg.AdobeHeaderSize(), c.headerSize);
}

INSTANTIATE_TEST_SUITE_P(
    JpegSegments, AdobeHeader,
    ::testing::Values(
        AdobeCase{"Photoshop3", 0xED, WithTail(std::string_view("Photoshop 3.0\0", 14), 6), true, 14},
        AdobeCase{"Photoshop25", 0xED, WithTail("Adobe_Photoshop2.5:", 1), true, 19},
        AdobeCase{"Photoshop25OfExactly19Bytes", 0xED, WithTail("Adobe_Photoshop2.5:", 0), false, 0},
        AdobeCase{"Photoshop3Under20Bytes", 0xED, WithTail(std::string_view("Photoshop 3.0\0", 14), 5), false,
                  0},
        AdobeCase{"Photoshop3WithoutZero", 0xED, WithTail("Photoshop 3.0 ", 6), false, 0},
        AdobeCase{"NotApp13", 0xE1, WithTail(std::string_view("Photoshop 3.0\0", 14), 6), false, 0}),
    [](const auto& p) { return p.param.name; });

TEST(JpegSegments, WriteSegmentCountsTheLengthField) {
    MemoryStream out;
    const Bytes payload{'h', 'i'};
    WriteSegment(out, 0xFE, payload.data(), payload.size());
    WriteSegment(out, 0xE1, nullptr, 0);
    MemoryStream source(Bytes{1, 2, 3});
    source.SetPosition(2);
    WriteSegment(out, 0xE2, source, 0);  // count 0: the whole source from its start
    source.SetPosition(1);
    WriteSegment(out, 0xE3, source, 1);  // one byte from the position
    EXPECT_EQ(source.Position(), 2);
    const Bytes expected{0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xE1, 0x00, 0x02, 0xFF,
                         0xE2, 0x00, 0x05, 1,    2,   3,   0xFF, 0xE3, 0x00, 0x03, 2};
    EXPECT_TRUE(BytesEqual(expected, Bytes(out.Bytes().begin(), out.Bytes().end())));
}

TEST(JpegSegments, OversizedPayloadIsRefusedBeforeWriting) {
    MemoryStream out;
    const Bytes big(65534, 0x11);
    EXPECT_THROW(WriteSegment(out, 0xE1, big.data(), big.size()), SegmentTooLarge);
    MemoryStream source(big);
    EXPECT_THROW(WriteSegment(out, 0xE1, source, 0), SegmentTooLarge);
    EXPECT_EQ(out.Size(), 0);
    try {
        WriteSegment(out, 0xE1, big.data(), big.size());
    } catch (const SegmentTooLarge& e) {
        EXPECT_STREQ(
            e.what(),
            "Die Metadaten passen nicht in ein JPEG-Segment: 65534 Bytes, höchstens 65533 sind möglich");
    }
    const Bytes fits(65533, 0x22);
    WriteSegment(out, 0xE1, fits.data(), fits.size());
    EXPECT_EQ(out.Size(), 65537);
    EXPECT_EQ(out.Memory()[2], 0xFF);
    EXPECT_EQ(out.Memory()[3], 0xFF);
}

TEST(JpegSegments, TotalSizeOfLargestSegmentsIsWide) {
    JpegBuilder b;
    b.Soi().Segment(0xE1, Bytes(65533, 0x01)).Eoi();
    const auto found = Walk(b.bytes(), {0xE1});
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].totalSize, 65537);
}

TEST(JpegSegments, StripRemovesChosenSegmentsAndCopiesTheRest) {
    JpegBuilder in;
    in.Soi()
        .Segment(0xE0, {1})
        .Segment(0xE1, {2, 2})
        .Segment(0xE2, {3})
        .Segment(0xE1, {4})
        .Sof0()
        .Sos({9, 9})
        .Eoi();
    JpegBuilder want;
    want.Soi().Segment(0xE0, {1}).Segment(0xE2, {3}).Sof0().Sos({9, 9}).Eoi();
    ReadOnlyMemoryStream input{std::span<const std::uint8_t>(in.bytes())};
    MemoryStream output;
    const TJPEGMarkers removed = StripJPEGSegments(input, output, {0xE1, 0xED});
    EXPECT_TRUE(removed == TJPEGMarkers{0xE1});
    EXPECT_TRUE(BytesEqual(want.bytes(), Bytes(output.Bytes().begin(), output.Bytes().end())));
}

TEST(JpegSegments, StripOfTrailingSegmentWritesNothingAfterIt) {
    JpegBuilder in;
    in.Soi().Segment(0xE0, {1}).Segment(0xE1, {2});
    ReadOnlyMemoryStream input{std::span<const std::uint8_t>(in.bytes())};
    MemoryStream output;
    EXPECT_TRUE(StripJPEGSegments(input, output, {0xE1}) == TJPEGMarkers{0xE1});
    JpegBuilder want;
    want.Soi().Segment(0xE0, {1});
    EXPECT_TRUE(BytesEqual(want.bytes(), Bytes(output.Bytes().begin(), output.Bytes().end())));
}

TEST(JpegSegments, SofFieldsAreBigEndian) {
    const Bytes sof{8, 0x01, 0x02, 0x03, 0x04, 1};
    EXPECT_EQ(SOFImageHeight(sof), 0x0102);
    EXPECT_EQ(SOFImageWidth(sof), 0x0304);
}

TEST(JpegSegments, OwnedStreamIsReleasedWhenTheWalkEnds) {
    const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x03, 'z', 0xFF, 0xD9};
    auto parser = ParseJPEGSegments(std::make_unique<MemoryStream>(jpeg), {0xE1});
    ASSERT_TRUE(parser->MoveNext());
    const IFoundJPEGSegment kept = parser->Current();
    EXPECT_FALSE(parser->MoveNext());
    EXPECT_FALSE(parser->MoveNext());
    EXPECT_EQ(kept->Payload()[0], 'z');  // segments are copies, independent of the parser
}

}  // namespace
}  // namespace zeloro
