// tests/metadata/XMPRoadTest.cpp: the photo's XMP packet on the tagging road, through the container and
// the JPEG rewrite: mirrored GPS values, packets written back as read, nothing added.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "MetadataBuilders.h"
#include "common/Currency.h"
#include "common/DateTime.h"
#include "metadata/ExifData.h"
#include "metadata/JPEGImageEx.h"
#include "metadata/XMPPacket.h"

namespace zeloro {
namespace {

using test::Bytes;

std::string Packet(std::string_view properties) {
    std::string text =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n";
    text += properties;
    text += "  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
    return text;
}

Bytes XMPPayload(std::string_view text) {
    Bytes payload(kXMPSegmentHeader.begin(), kXMPSegmentHeader.end());
    payload.insert(payload.end(), text.begin(), text.end());
    return payload;
}

// A decodable photo with an EXIF block (a shot time) and the given XMP segment after it.
Bytes Photo(const std::optional<Bytes>& xmpPayload) {
    test::TiffBuilder tiff;
    tiff.AddDirectory({tiff.Text(271, "Acme"), tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, "2011:03:03 12:00:00")});
    const Bytes picture = test::TinyJpeg();
    test::JpegBuilder jpeg;
    jpeg.Soi().App1Exif(tiff.Build());
    if (xmpPayload) {
        jpeg.Segment(0xE1, *xmpPayload);
    }
    jpeg.RawBytes(Bytes(picture.begin() + 2, picture.end()));
    return jpeg.bytes();
}

// The payload of the file's XMP segment, or none.
std::optional<Bytes> XMPSegmentOf(const Bytes& jpeg) {
    const auto parser = ParseJPEGSegments(std::span<const std::uint8_t>(jpeg), TJPEGMarkers{jmApp1});
    while (parser->MoveNext()) {
        const auto payload = parser->Current()->Payload();
        if (TXMPPacket::HasSegmentHeader(payload)) {
            return Bytes(payload.begin(), payload.end());
        }
    }
    return std::nullopt;
}

// What the run does to one photo.
Bytes Tag(const Bytes& photo) {
    const test::TempDir dir;
    const auto path = (dir / "photo.jpg").string();
    test::WriteFileBytes(path, photo);
    TJPEGImageEx img;
    img.LoadFromFile(path);
    img.ExifData().GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                                        TTiffLongWordFraction(Currency::FromReal(12.3456L)), ltNorth);
    img.ExifData().GPSLongitude().Assign(TTiffLongWordFraction(7, 1), TTiffLongWordFraction(5, 1),
                                         TTiffLongWordFraction(Currency::FromReal(1.5L)), lnEast);
    img.ExifData().SetGPSDateTimeUTC(EncodeDateTime(2011, 3, 3, 11, 0, 0, 250));
    img.SaveToFile(path);
    return test::ReadFileBytes(path);
}

TEST(XMPRoad, ExistingGPSPropertiesReceiveTheNewValues) {
    const std::string text = Packet(
        "   <exif:GPSLatitude>10,0.0N</exif:GPSLatitude>\n"
        "   <exif:GPSTimeStamp>2000-01-01T00:00:00Z</exif:GPSTimeStamp>\n"
        "   <exif:ExposureTime>1/125</exif:ExposureTime>\n");
    const Bytes saved = Tag(Photo(XMPPayload(text)));
    const std::optional<Bytes> segment = XMPSegmentOf(saved);
    ASSERT_TRUE(segment.has_value());

    TXMPPacket packet;
    ASSERT_TRUE(packet.TryLoadFromStream(*segment));
    EXPECT_TRUE(packet.WriteSegmentHeader());
    const TXMPSchema* exif = packet.FindSchema(xsExif);
    ASSERT_NE(exif, nullptr);
    ASSERT_NE(exif->FindProperty("GPSLatitude"), nullptr);
    EXPECT_EQ(exif->FindProperty("GPSLatitude")->ReadValue(), "51,30.20576N");
    EXPECT_EQ(exif->FindProperty("GPSTimeStamp")->ReadValue(), "2011-03-03T11:00:00.250Z");
    EXPECT_EQ(exif->FindProperty("ExposureTime")->ReadValue(), "1/125");
    // Nothing is added that was not there before.
    EXPECT_EQ(exif->FindProperty("GPSLongitude"), nullptr);
    EXPECT_EQ(exif->PropertyCount(), 3);
    EXPECT_EQ(packet.SchemaCount(), 1);
    // The text is the one read, with the two values in place.
    const std::string expected = Packet(
        "   <exif:GPSLatitude>51,30.20576N</exif:GPSLatitude>\n"
        "   <exif:GPSTimeStamp>2011-03-03T11:00:00.250Z</exif:GPSTimeStamp>\n"
        "   <exif:ExposureTime>1/125</exif:ExposureTime>\n");
    EXPECT_TRUE(test::BytesEqual(XMPPayload(expected), *segment));
}

TEST(XMPRoad, PacketWithoutGPSPropertiesIsWrittenBackByteForByte) {
    const std::string text = Packet("   <exif:ExposureTime>1/125</exif:ExposureTime>\n");
    const Bytes saved = Tag(Photo(XMPPayload(text)));
    const std::optional<Bytes> segment = XMPSegmentOf(saved);
    ASSERT_TRUE(segment.has_value());
    EXPECT_TRUE(test::BytesEqual(XMPPayload(text), *segment));
}

TEST(XMPRoad, UnparsablePacketIsKeptAsRead) {
    const Bytes payload = XMPPayload("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF");
    const Bytes saved = Tag(Photo(payload));
    const std::optional<Bytes> segment = XMPSegmentOf(saved);
    ASSERT_TRUE(segment.has_value());
    EXPECT_TRUE(test::BytesEqual(payload, *segment));
}

TEST(XMPRoad, PacketWithOnlyEmptyDescriptionsIsDropped) {
    const Bytes saved = Tag(Photo(XMPPayload(Packet(""))));
    EXPECT_FALSE(XMPSegmentOf(saved).has_value());
}

TEST(XMPRoad, PhotoWithoutXMPGetsNone) {
    const Bytes saved = Tag(Photo(std::nullopt));
    EXPECT_FALSE(XMPSegmentOf(saved).has_value());
    TExifData exif;
    exif.LoadFromJPEG(std::span<const std::uint8_t>(saved));
    EXPECT_EQ(exif.GPSLatitude().AsString(), "51,30,7716/625N");
}

}  // namespace
}  // namespace zeloro

// The shared photo collection, read against exiftool.

namespace zeloro {
namespace {

struct PipeClose {
    void operator()(FILE* f) const noexcept { pclose(f); }
};

// stdout of a command, or none when it cannot be run.
std::optional<std::string> RunCommand(const std::string& command) {
    std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    if (!pipe) {
        return std::nullopt;
    }
    std::string out;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
        out.append(buffer.data(), n);
    }
    return out;
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// The XMP tags exiftool finds in a file ("XMP-dc:Subject" -> its text, repeated names joined).
std::map<std::string, std::string> XMPTags(const std::filesystem::path& path) {
    std::map<std::string, std::string> tags;
    std::istringstream lines(
        RunCommand("exiftool -XMP:all -G1 -s -a " + Quoted(path) + " 2>/dev/null").value_or(""));
    std::string line;
    while (std::getline(lines, line)) {
        const auto close = line.find(']');
        const auto colon = line.find(" :");
        if (line.starts_with("[") && close != std::string::npos && colon != std::string::npos &&
            colon > close) {
            std::string name = line.substr(close + 1, colon - close - 1);
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            std::string& text = tags[line.substr(1, close - 1) + ":" + name];
            text +=
                (text.empty() ? "" : "\n") + line.substr(colon + 3 <= line.size() ? colon + 3 : line.size());
        }
    }
    return tags;
}

TEST(XMPSharedPhotos, PacketIsTheSegmentExiftoolReadsAndTaggingKeepsItReadable) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    int withXMP = 0;
    for (const auto& file : test::SharedFiles("jpeg")) {
        SCOPED_TRACE(file.filename().string());
        const std::string raw = RunCommand("exiftool -b -XMP " + Quoted(file) + " 2>/dev/null").value_or("");
        TXMPPacket packet;
        bool refused = false;
        packet.SetOnLoadError([&refused](TXMPPacket&, std::span<const std::uint8_t>) { refused = true; });
        const bool found = packet.LoadFromJPEG(file.string());
        EXPECT_EQ(found, !raw.empty());
        if (raw.empty()) {
            continue;
        }
        ++withXMP;
        if (refused) {
            // Not XML to a UTF-8 reader (a UTF-16 packet, broken element names): libxml2 agrees.
            const std::string check =
                RunCommand("exiftool -b -XMP " + Quoted(file) +
                           " 2>/dev/null | tr '\\000' ' ' | xmllint --noout - 2>&1 >/dev/null")
                    .value_or("");
            EXPECT_FALSE(check.empty()) << "we refuse a packet that xmllint reads";
        } else {
            EXPECT_FALSE(packet.Empty());
            EXPECT_EQ(packet.RawXML(), raw) << "the text is kept exactly as read";
        }

        // Tag the photo: a packet we read stays readable, to us and to exiftool; one we refused is kept as
        // read.
        const test::TempDir dir;
        const auto path = dir / "photo.jpg";
        std::filesystem::copy_file(file, path);
        // The shared files are read-only, and so is a copy; a save refuses a photo the user may not write.
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        try {
            TJPEGImageEx img;
            img.LoadFromFile(path.string());
            const bool hadLatitude =
                img.XMPPacket().FindSchema(xsExif) != nullptr &&
                img.XMPPacket().FindSchema(xsExif)->FindProperty("GPSLatitude") != nullptr;
            img.ExifData().GPSLatitude().Assign(TTiffLongWordFraction(51, 1), TTiffLongWordFraction(30, 1),
                                                TTiffLongWordFraction(Currency::FromReal(12.3456L)), ltNorth);
            img.SaveToFile(path.string());
            if (refused) {
                const auto before = XMPSegmentOf(test::ReadFileBytes(file));
                const auto after = XMPSegmentOf(test::ReadFileBytes(path));
                ASSERT_TRUE(before.has_value() && after.has_value());
                EXPECT_TRUE(test::BytesEqual(*before, *after));
                continue;
            }
            TXMPPacket after;
            ASSERT_TRUE(after.LoadFromJPEG(path.string()));
            const std::string value =
                RunCommand("exiftool -s3 -XMP-exif:GPSLatitude -n " + Quoted(path) + " 2>/dev/null")
                    .value_or("");
            // Everything exiftool read before is still there with its value, but the latitude written.
            std::map<std::string, std::string> changed;
            std::map<std::string, std::string> tagsAfter = XMPTags(path);
            for (const auto& [name, before] : XMPTags(file)) {
                if (name != "XMP-exif:GPSLatitude" && tagsAfter[name] != before) {
                    changed[name] = before + " -> " + tagsAfter[name];
                }
            }
            EXPECT_TRUE(changed.empty()) << "changed: " << testing::PrintToString(changed);
            if (hadLatitude) {
                EXPECT_EQ(after.FindSchema(xsExif)->FindProperty("GPSLatitude")->ReadValue(), "51,30.20576N");
                ASSERT_FALSE(value.empty()) << "exiftool no longer finds the property";
                EXPECT_NEAR(std::stod(value), 51.503429333, 1e-8) << "exiftool reads another place";
            } else {
                EXPECT_TRUE(value.empty()) << value;
                const auto before = XMPSegmentOf(test::ReadFileBytes(file));
                const auto written = XMPSegmentOf(test::ReadFileBytes(path));
                ASSERT_TRUE(before.has_value() && written.has_value());
                EXPECT_TRUE(test::BytesEqual(*before, *written)) << "a packet without the property changed";
            }
        } catch (const Error& e) {
            ADD_FAILURE() << e.what();
        }
    }
    EXPECT_GT(withXMP, 0);
}

// exiftool, reading the tagged photo, finds in the XMP the same place the EXIF holds.
TEST(XMPRoadOracle, ExiftoolReadsTheXMPPositionAsTheEXIFPosition) {
    ZELORO_REQUIRE_EXIFTOOL();
    const std::string text = Packet(
        "   <exif:GPSLatitude>10,0.0N</exif:GPSLatitude>\n"
        "   <exif:GPSLongitude>20,0.0W</exif:GPSLongitude>\n");
    const test::TempDir dir;
    const auto path = dir / "tagged.jpg";
    test::WriteFileBytes(path.string(), Tag(Photo(XMPPayload(text))));
    const std::string report = RunCommand(
                                   "exiftool -n -s3 -GPS:GPSLatitude -GPS:GPSLongitude -XMP-exif:GPSLatitude "
                                   "-XMP-exif:GPSLongitude " +
                                   Quoted(path) + " 2>/dev/null")
                                   .value_or("");
    std::istringstream lines(report);
    std::vector<double> values;
    std::string line;
    while (std::getline(lines, line)) {
        values.push_back(std::stod(line));
    }
    ASSERT_EQ(values.size(), 4U) << report;
    // EXIF: 51 30' 12.3456" N and 7 5' 1.5" E, unsigned; XMP signed by its direction letter.
    EXPECT_NEAR(values[0], 51 + 30 / 60.0 + 12.3456 / 3600, 1e-9);
    EXPECT_NEAR(values[1], 7 + 5 / 60.0 + 1.5 / 3600, 1e-9);
    EXPECT_NEAR(values[2], values[0], 1e-9);
    EXPECT_NEAR(values[3], values[1], 1e-9);
}

}  // namespace
}  // namespace zeloro
