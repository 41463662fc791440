// tests/xml/XmlStreamsTest.cpp: encoding detection, decoding, step back and the stream contract.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "support/TestSupport.h"
#include "xml/XmlStreams.h"

namespace zeloro {
namespace {

using test::Bytes;
using enum TStringEncodingType;

struct Decoded {
    std::string text;
    TStringEncodingType encoding;
};

// Everything the codec hands out up to the end of the data.
Decoded DecodeAll(const Bytes& bytes) {
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    Decoded out{{}, seAnsi};
    char c = 0;
    while (codec.ReadChar(c)) {
        out.text.push_back(c);
    }
    out.encoding = codec.Encoding();
    return out;
}

std::string Utf8(std::initializer_list<unsigned> bytes) {
    std::string s;
    for (const unsigned b : bytes) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

struct DecodeCase {
    std::string_view name;
    Bytes input;
    std::optional<std::string> want;  // nullopt: "Unsupported string encoding"
    TStringEncodingType encoding = seAnsi;
};
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, MatchesTable) {
    const DecodeCase& c = GetParam();
    if (!c.want) {
        try {
            (void)DecodeAll(c.input);
            FAIL() << "no error";
        } catch (const StreamError& e) {
            EXPECT_STREQ(e.what(), "Unsupported string encoding");
        }
        return;
    }
    const Decoded got = DecodeAll(c.input);
    EXPECT_EQ(got.text, *c.want);
    EXPECT_EQ(got.encoding, c.encoding);
}

INSTANTIATE_TEST_SUITE_P(
    TxrUtf8Stream, Decode,
    ::testing::Values(
        DecodeCase{"Utf8WithMark",
                   {0xEF, 0xBB, 0xBF, '<', 'a', '>', 0xC3, 0xA4},
                   "<a>" + Utf8({0xC3, 0xA4}),
                   seUTF8},
        // Without a mark the bytes are read as the 8-bit code page: each byte of a UTF-8 pair becomes a
        // character of its own.
        DecodeCase{"Utf8WithoutMarkReadAsAnsi",
                   {'<', 'a', '>', 0xC3, 0xA4},
                   "<a>" + Utf8({0xC3, 0x83, 0xC2, 0xA4}),
                   seAnsi},
        DecodeCase{"DeclarationStartIsAnsi", {'<', '?', 'x', 'm', 'l'}, "<?xml", seAnsi},
        DecodeCase{
            "AnsiUmlautAndEuro", {'<', 0xE4, 0x80}, "<" + Utf8({0xC3, 0xA4, 0xE2, 0x82, 0xAC}), seAnsi},
        DecodeCase{"Utf16LeWithMark",
                   {0xFF, 0xFE, '<', 0, 'a', 0, 0xE4, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE},
                   // the euro sign as 3 bytes; U+1F600 as its two surrogate halves, 3 bytes each
                   "<a" + Utf8({0xC3, 0xA4, 0xE2, 0x82, 0xAC, 0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}),
                   seUTF16LE},
        DecodeCase{
            "Utf16BeWithMark", {0xFE, 0xFF, 0, '<', 0, 'a', 0, 0xE4}, "<a" + Utf8({0xC3, 0xA4}), seUTF16BE},
        DecodeCase{"Utf16LeWithoutMark", {'<', 0, '?', 0, 'x', 0}, "<?x", seUTF16LE},
        DecodeCase{"Utf16BeWithoutMark", {0, '<', 0, '?', 0, 'x'}, "<?x", seUTF16BE},
        DecodeCase{"Empty", {}, std::nullopt},
        DecodeCase{"Ucs4BeMark", {0x00, 0x00, 0xFE, 0xFF, 0, 0, 0, '<'}, std::nullopt},
        DecodeCase{"Ucs4LeMark", {0xFF, 0xFE, 0x00, 0x00, '<', 0, 0, 0}, std::nullopt},
        DecodeCase{"Ucs4_2143Mark", {0x00, 0x00, 0xFF, 0xFE}, std::nullopt},
        DecodeCase{"Ucs4_3412Mark", {0xFE, 0xFF, 0x00, 0x00}, std::nullopt},
        DecodeCase{"Ucs4BeWithoutMark", {0, 0, 0, '<'}, std::nullopt},
        DecodeCase{"Ucs4LeWithoutMark", {'<', 0, 0, 0}, std::nullopt},
        DecodeCase{"Ebcdic", {0x4C, 0x6F, 0xA7, 0x94}, std::nullopt},
        // One byte is compared with the first byte of each row only: 3C matches the UCS-4 row first.
        DecodeCase{"SingleLessThan", {'<'}, std::nullopt},
        DecodeCase{"NulEndsAnsi", {'a', 'b', 0, 'c', 'd'}, "ab", seAnsi},
        DecodeCase{"NulEndsUtf8", {0xEF, 0xBB, 0xBF, 'a', 0, 'b'}, "a", seUTF8},
        // A lead byte at the end: the missing continuation byte reads as zero, which ends the data.
        DecodeCase{"TruncatedUtf8", {0xEF, 0xBB, 0xBF, 'a', 0xC3}, "a" + Utf8({0xC3}), seUTF8},
        DecodeCase{"OddUtf16Tail", {0xFF, 0xFE, 'a', 0, 'b'}, "ab", seUTF16LE}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TxrUtf8Stream, StepBackTwoRestartsAtMultiByteCharacter) {
    // After "é" (two bytes) and "<", stepping back two characters reads "é" again from its first byte.
    const Bytes bytes{0xEF, 0xBB, 0xBF, 'x', 0xC3, 0xA9, '<', 'y'};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    std::string seen;
    char c = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(codec.ReadChar(c));
        seen.push_back(c);
    }
    EXPECT_EQ(seen, "x\xC3\xA9<");
    codec.StepBack(2);
    std::string again;
    while (codec.ReadChar(c)) {
        again.push_back(c);
    }
    EXPECT_EQ(again, "\xC3\xA9<y");
}

TEST(TxrUtf8Stream, StepBackOneInsideCharacterRestartsIt) {
    const Bytes bytes{0xEF, 0xBB, 0xBF, 'x', 0xE2, 0x82, 0xAC, 'y'};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    char c = 0;
    ASSERT_TRUE(codec.ReadChar(c));
    ASSERT_TRUE(codec.ReadChar(c));  // first byte of the euro sign
    EXPECT_TRUE(codec.LastByteStartedCharacter());
    ASSERT_TRUE(codec.ReadChar(c));
    EXPECT_FALSE(codec.LastByteStartedCharacter());
    codec.StepBack(1);
    ASSERT_TRUE(codec.ReadChar(c));
    EXPECT_EQ(static_cast<unsigned char>(c), 0xE2);
}

TEST(TxrUtf8Stream, FourByteSequenceSplitsAfterThreeBytes) {
    // The lead byte F0 announces at most three bytes; the fourth starts a character of its own, so a
    // step back by one after it returns to that fourth byte, not to the lead byte.
    const Bytes bytes{0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80, 'z'};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    char c = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(codec.ReadChar(c));
    }
    EXPECT_EQ(static_cast<unsigned char>(c), 0x80);
    codec.StepBack(1);
    ASSERT_TRUE(codec.ReadChar(c));
    EXPECT_EQ(static_cast<unsigned char>(c), 0x80);
}

TEST(TxrUtf8Stream, SwitchToUtf8TakesEffectWithNextCharacter) {
    const Bytes bytes{'<', '?', 'x', 'm', 0xC3, 0xA4};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    std::string seen;
    char c = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(codec.ReadChar(c));
        seen.push_back(c);
    }
    EXPECT_EQ(codec.Encoding(), seAnsi);
    codec.SetEncoding(seUTF8);
    while (codec.ReadChar(c)) {
        seen.push_back(c);
    }
    EXPECT_EQ(seen, "<?xm\xC3\xA4");
}

struct ContractCase {
    std::string_view name;
    void (*action)(TxrUtf8Stream& codec);
    std::string_view message;
};
void PrintTo(const ContractCase& c, std::ostream* os) { *os << c.name; }

class Contract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(Contract, RaisesItsMessage) {
    const Bytes bytes{'<', 'a', '>', 'b'};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    try {
        GetParam().action(codec);
        FAIL() << "no error";
    } catch (const StreamError& e) {
        EXPECT_EQ(std::string_view(e.what()), GetParam().message);
    }
}

void ReadOne(TxrUtf8Stream& codec) {
    char c = 0;
    ASSERT_TRUE(codec.ReadChar(c));
}

INSTANTIATE_TEST_SUITE_P(
    TxrUtf8Stream, Contract,
    ::testing::Values(ContractCase{"SeekBeforeRead", [](TxrUtf8Stream& s) { s.StepBack(1); },
                                   "Cannot seek before reading or writing in conversion stream"},
                      ContractCase{"SeekBackThree",
                                   [](TxrUtf8Stream& s) {
                                       ReadOne(s);
                                       s.Seek(-3, XmlSeekOrigin::soCurrent);
                                   },
                                   "Cannot perform seek on codec stream"},
                      ContractCase{"SeekForward",
                                   [](TxrUtf8Stream& s) {
                                       ReadOne(s);
                                       s.Seek(1, XmlSeekOrigin::soCurrent);
                                   },
                                   "Cannot perform seek on codec stream"},
                      ContractCase{"SeekFromEnd",
                                   [](TxrUtf8Stream& s) {
                                       ReadOne(s);
                                       s.Seek(-1, XmlSeekOrigin::soEnd);
                                   },
                                   "Cannot perform seek on codec stream"},
                      ContractCase{"ReadTwoBytes",
                                   [](TxrUtf8Stream& s) {
                                       char two[2];
                                       (void)s.Read(two, 2);
                                   },
                                   "Cannot read multiple chars from conversion stream at once"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TxrUtf8Stream, NoUnderlyingStream) {
    TxrUtf8Stream codec(nullptr);
    char c = 0;
    try {
        (void)codec.ReadChar(c);
        FAIL() << "no error";
    } catch (const StreamError& e) {
        EXPECT_STREQ(e.what(), "Encoding stream unassigned");
    }
}

TEST(TxrUtf8Stream, AbsoluteSeekIsIgnoredAndCountedReadsWork) {
    const Bytes bytes{'a', 'b', 'c'};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    TxrUtf8Stream codec(&buffered);
    char c = 0;
    ASSERT_EQ(codec.Read(&c, 1), 1U);
    EXPECT_EQ(c, 'a');
    EXPECT_EQ(codec.Seek(0, XmlSeekOrigin::soBeginning), 1);
    EXPECT_EQ(codec.Seek(0, XmlSeekOrigin::soEnd), 3);
    ASSERT_EQ(codec.Read(&c, 1), 1U);
    EXPECT_EQ(c, 'b');
    EXPECT_EQ(codec.Read(&c, 0), 0U);
}

TEST(TxrBufferedReadStream, ReadsAcrossPagesAndAfterSeeks) {
    Bytes bytes(3 * TxrBufferedReadStream::kPageSize + 17);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    }
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    EXPECT_EQ(buffered.Size(), static_cast<std::int64_t>(bytes.size()));
    Bytes read;
    std::uint8_t b = 0;
    while (buffered.ReadByte(b)) {
        read.push_back(b);
    }
    EXPECT_TRUE(test::BytesEqual(bytes, read));

    // Back into the first page, then a block read that spans two pages.
    const std::size_t at = TxrBufferedReadStream::kPageSize - 5;
    buffered.Seek(static_cast<std::int64_t>(at), XmlSeekOrigin::soBeginning);
    Bytes block(10);
    ASSERT_EQ(buffered.Read(block.data(), block.size()), block.size());
    EXPECT_TRUE(test::BytesEqual(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(at + 10)),
                                 block));
    ASSERT_TRUE(buffered.ReadByte(b));
    EXPECT_EQ(b, bytes[at + 10]);
    // Within the page held, a seek back serves from the buffer.
    buffered.Seek(-2, XmlSeekOrigin::soCurrent);
    ASSERT_TRUE(buffered.ReadByte(b));
    EXPECT_EQ(b, bytes[at + 9]);
}

TEST(TxrBufferedReadStream, WritingRaises) {
    const Bytes bytes{'a'};
    XmlBytesStream source(bytes);
    TxrBufferedReadStream buffered(&source, false);
    try {
        buffered.Write(bytes.data(), 1);
        FAIL() << "no error";
    } catch (const StreamError& e) {
        EXPECT_STREQ(e.what(), "Cannot write to an UTF stream opened for reading");
    }
}

TEST(XmlFileStream, MissingFileNamesPathAndSystemText) {
    test::TempDir dir;
    const std::string path = (dir / "missing.gpx").string();
    try {
        XmlFileStream file(path);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Datei " + path + " kann nicht geöffnet werden. No such file or directory");
    }
}

// Only a regular file is read: a FIFO is refused at once, without waiting for a writer, and so is a
// device, which could hand out bytes without end, and a folder.
TEST(XmlFileStream, RefusesAnythingButARegularFile) {
    test::TempDir dir;
    const std::string fifo = (dir / "fifo.gpx").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should the open wait for a writer after all, one comes after a while, and the test fails instead of
    // hanging.
    std::atomic<bool> done = false;
    std::thread writer([&done, &fifo] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (std::chrono::steady_clock::now() > until) {
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        }
    });
    const auto started = std::chrono::steady_clock::now();
    for (const auto& [path, reason] : {std::pair<std::string, std::string>{fifo, "Keine reguläre Datei"},
                                       {"/dev/null", "Keine reguläre Datei"},
                                       {dir.path().string(), "Is a directory"}}) {
        SCOPED_TRACE(path);
        try {
            XmlFileStream file(path);
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht geöffnet werden. " + reason);
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    done = true;
    writer.join();
}

}  // namespace
}  // namespace zeloro
