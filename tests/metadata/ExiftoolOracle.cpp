// tests/metadata/ExiftoolOracle.cpp: one exiftool process for many reports, and the rules by which a
// tagged photo's report may differ from the original's.
#include "ExiftoolOracle.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "metadata/JPEGSegments.h"
#include "metadata/XMPPacket.h"

namespace zeloro::test {
namespace {

struct PipeClose {
    void operator()(FILE* f) const noexcept { pclose(f); }
};

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The tag name of a "Group:Tag" key.
std::string TagOf(const std::string& key) {
    const auto colon = key.find(':');
    return colon == std::string::npos ? key : key.substr(colon + 1);
}

Bytes FromBase64(std::string_view text) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const auto digit = kDigits.find(c);
        if (digit == std::string_view::npos) {
            continue;  // padding
        }
        bits = bits << 6U | static_cast<std::uint32_t>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> static_cast<unsigned>(count)));
        }
    }
    return out;
}

// Embedded JPEG data up to its end marker. A length tag that runs past the end of the EXIF segment
// makes exiftool read bytes of whatever follows the segment; they are no part of the image.
std::string ImageData(const std::string& value) {
    const std::string_view prefix = "base64:";
    if (!value.starts_with(prefix)) {
        return value;
    }
    Bytes bytes = FromBase64(std::string_view(value).substr(prefix.size()));
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return value;
    }
    for (std::size_t i = bytes.size() - 1; i >= 2; --i) {
        if (bytes[i - 1] == 0xFF && bytes[i] == 0xD9) {
            bytes.resize(i + 1);
            break;
        }
    }
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> ValuesOf(const TagReport& report, const std::string& key) {
    std::vector<std::string> values;
    for (auto [it, end] = report.equal_range(key); it != end; ++it) {
        values.push_back(key.ends_with(" (data)") ? ImageData(it->second) : it->second);
    }
    std::sort(values.begin(), values.end());
    return values;
}

std::string Shown(const std::vector<std::string>& values) {
    if (values.empty()) {
        return "<missing>";
    }
    std::string text;
    for (const std::string& v : values) {
        text += (text.empty() ? "" : " | ") + (v.size() > 80 ? v.substr(0, 80) + "..." : v);
    }
    return text;
}

// Written by the run and checked by the caller against the track.
bool WrittenGpsTag(const std::string& key) {
    static const std::set<std::string> written{"GPS:GPSLatitude",  "GPS:GPSLatitudeRef",
                                               "GPS:GPSLongitude", "GPS:GPSLongitudeRef",
                                               "GPS:GPSDateStamp", "GPS:GPSTimeStamp"};
    return written.contains(key);
}

// What exiftool derives from the file itself rather than reads from a tag: file system data, values
// composed from other tags (compared through those), and the SPIFF segment, which exiftool decodes with
// the byte order of the segment read before it, and which is compared byte for byte instead.
bool DerivedFromTheFile(const std::string& key) {
    return key.starts_with("System:") || key.starts_with("Composite:") || key.starts_with("SPIFF:") ||
           key == "ExifTool:ExifToolVersion";
}

// File offsets of embedded images: they move with the segments in front of them (APP0 goes first, the
// EXIF segment grows), while the image they lead to is compared as data.
bool FileOffsetOfEmbeddedData(const std::string& key) {
    const std::string tag = TagOf(key);
    return tag == "ThumbnailOffset" || tag == "PreviewImageStart" || tag == "MPImageStart" ||
           tag == "JpgFromRawStart" || tag == "OtherImageStart";
}

// The segments in front of the image data as SegmentsAndImageDataKept compares them, and the XMP packet.
struct Kept {
    std::vector<Bytes> segments;  // marker byte, then the payload; the EXIF and XMP segments left out
    Bytes xmp;                    // the first XMP segment's payload, empty without one
    std::size_t imageData = 0;    // where the first SOS starts
};

Kept KeptOf(const Bytes& jpeg) {
    static const Bytes exif{'E', 'x', 'i', 'f', 0, 0};
    static const Bytes xmp = [] {
        const std::string_view signature("http://ns.adobe.com/xap/1.0/\0", 29);
        return Bytes(signature.begin(), signature.end());
    }();
    Kept kept;
    kept.imageData = jpeg.size();
    bool exifSeen = false;
    bool xmpSeen = false;
    auto walk = ParseJPEGSegments(std::span<const std::uint8_t>(jpeg), TJPEGMarkers::Range(0xC0, 0xFE));
    while (walk->MoveNext()) {
        const auto& segment = walk->Current();
        if (segment->MarkerNum() == 0xDA) {
            kept.imageData = static_cast<std::size_t>(segment->MarkerOffset());
            break;
        }
        Bytes payload(segment->Payload().begin(), segment->Payload().end());
        if (segment->MarkerNum() == 0xE1 && !exifSeen && StartsWith(payload, exif)) {
            exifSeen = true;
        } else if (segment->MarkerNum() == 0xE1 && !xmpSeen && StartsWith(payload, xmp)) {
            xmpSeen = true;
            kept.xmp = std::move(payload);
        } else {
            Bytes tagged{segment->MarkerNum()};
            tagged.insert(tagged.end(), payload.begin(), payload.end());
            kept.segments.push_back(tagged);
        }
    }
    return kept;
}

// The image data from its first SOS on, with the file offsets of an AFCP trailer that ends it (its
// footer's start field and each directory entry's offset field) cleared: they follow the trailer when
// the metadata in front of it changes size. exiftool judges them (it warns when they are off) and reads
// the entries through them.
Bytes ImageDataWithoutTrailerOffsets(const Bytes& jpeg, std::size_t imageData) {
    Bytes data(jpeg.begin() + static_cast<std::ptrdiff_t>(imageData), jpeg.end());
    const auto be32 = [&data](std::size_t at) {
        return std::uint32_t{data[at]} << 24U | std::uint32_t{data[at + 1]} << 16U |
               std::uint32_t{data[at + 2]} << 8U | data[at + 3];
    };
    const auto clear = [&data](std::size_t at) {
        std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(at), 4, 0);
    };
    const Bytes magic{'A', 'X', 'S', '!'};
    if (data.size() < 24 || !std::equal(magic.begin(), magic.end(), data.end() - 12)) {
        return data;
    }
    const std::size_t footer = data.size() - 12;
    const std::uint32_t header = be32(footer + 4);
    if (header < imageData || header - imageData > footer - 12) {
        return data;
    }
    const std::size_t start = header - imageData;
    const std::size_t count = std::size_t{data[start + 6]} << 8U | data[start + 7];
    if (!std::equal(magic.begin(), magic.end(), data.begin() + static_cast<std::ptrdiff_t>(start)) ||
        count > (footer - start - 12) / 12) {
        return data;
    }
    clear(footer + 4);
    for (std::size_t entry = 0; entry < count; ++entry) {
        clear(start + 12 + entry * 12 + 8);
    }
    return data;
}

}  // namespace

std::vector<TagReport> RunExiftool(const std::vector<std::vector<std::string>>& commands) {
    TempDir dir;
    std::string arguments;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        for (const std::string& argument : commands[i]) {
            arguments += argument + "\n";
        }
        arguments += "-execute" + std::to_string(i) + "\n";
    }
    arguments += "-stay_open\nFalse\n";
    WriteFileText(dir / "arguments", arguments);
    const std::string command =
        "exiftool -stay_open True -@ '" + (dir / "arguments").string() + "' 2>/dev/null";
    std::vector<TagReport> reports(commands.size());
    std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    if (!pipe) {
        return reports;
    }
    std::size_t current = 0;
    std::string line;
    int c = 0;
    while ((c = std::fgetc(pipe.get())) != EOF) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        if (line.starts_with("{ready")) {
            ++current;
        } else if (current < reports.size() && line.size() > 1 && line[0] == '-') {
            const auto eq = line.find('=');
            if (eq != std::string::npos) {
                reports[current].emplace(line.substr(1, eq - 1), line.substr(eq + 1));
            }
        } else if (current < reports.size() && line.starts_with("  \"")) {
            // A JSON line of binary data: '  "Group:Tag": "base64:...",'.
            const auto close = line.find("\": \"base64:");
            if (close != std::string::npos) {
                std::string value = line.substr(close + 4);
                while (!value.empty() && (value.back() == ',' || value.back() == '"')) {
                    value.pop_back();
                }
                reports[current].emplace(line.substr(3, close - 3) + " (data)", value);
            }
        }
        line.clear();
    }
    return reports;
}

std::vector<TagReport> FullReports(const std::vector<std::filesystem::path>& files) {
    // The -args form keeps repeated tags apart; binary data comes only with -b, which that form does not
    // take, so a JSON pass adds it. The validation adds its findings as warnings (the -validate option
    // would ask for those alone).
    std::vector<std::vector<std::string>> commands;
    for (const auto& file : files) {
        commands.push_back({"-a", "-G1", "-s", "-u", "-E", "-api", "validate=1", "-args", file.string()});
        commands.push_back({"-a", "-G1", "-s", "-u", "-b", "-j", file.string()});
    }
    const std::vector<TagReport> parts = RunExiftool(commands);
    std::vector<TagReport> reports(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        reports[i] = parts[2 * i];
        reports[i].insert(parts[2 * i + 1].begin(), parts[2 * i + 1].end());
    }
    return reports;
}

namespace {

// Validation findings that follow from what the run writes, not from damage it does:
// - an IFD0 the run creates holds only its GPS pointer: it adds no resolution or YCbCr tags, which would
//   be claims about the picture it does not make;
// - the GPS date in a GPS directory the photo had, whose version predates that tag (the version is the
//   photo's, and stays);
// - IFD1 measured against the room after IFD0: the validation takes the size left after IFD0 as the
//   limit of the directory that follows it, and an IFD0 that grew lies at the end of the block.
bool FindingOfWhatTheRunMayWrite(const TagReport& before, const std::string& warning) {
    const bool hadIfd0 = std::any_of(before.begin(), before.end(),
                                     [](const auto& entry) { return entry.first.starts_with("IFD0:"); });
    if (!hadIfd0 && warning.starts_with("Missing required JPEG IFD0 tag ")) {
        return true;
    }
    if (HadGpsDirectory(before) &&
        warning.starts_with("GPS tag 0x001d GPSDateStamp requires GPSVersionID ")) {
        return true;
    }
    return warning.starts_with("Short directory size for IFD1 ");
}

}  // namespace

bool HadGpsDirectory(const TagReport& report) {
    return std::any_of(report.begin(), report.end(),
                       [](const auto& entry) { return entry.first.starts_with("GPS:"); });
}

std::vector<std::string> UnexpectedChanges(const TagReport& before, const TagReport& after) {
    std::set<std::string> keys;
    for (const auto& [key, value] : before) {
        keys.insert(key);
    }
    for (const auto& [key, value] : after) {
        keys.insert(key);
    }
    const auto had = [&before](const std::string& key) { return before.contains(key); };
    std::vector<std::string> changes;
    for (const std::string& key : keys) {
        if (key == "ExifTool:Warning" || WrittenGpsTag(key) || DerivedFromTheFile(key) ||
            FileOffsetOfEmbeddedData(key)) {
            continue;
        }
        // A GPS directory the run creates starts with the version (checked by the caller).
        if (key == "GPS:GPSVersionID" && !HadGpsDirectory(before)) {
            continue;
        }
        // XMP properties that mirror what the run writes change only where they already were.
        if ((key == "XMP-exif:GPSLatitude" || key == "XMP-exif:GPSLongitude" ||
             key == "XMP-exif:GPSDateTime") &&
            had(key)) {
            continue;
        }
        // A photo without an EXIF block gets one, in little-endian order.
        if (key == "File:ExifByteOrder" && !had(key)) {
            continue;
        }
        const std::vector<std::string> old = ValuesOf(before, key);
        const std::vector<std::string> now = ValuesOf(after, key);
        if (old != now) {
            changes.push_back(key + " was " + Shown(old) + ", now " + Shown(now));
        }
    }
    const std::vector<std::string> oldWarnings = ValuesOf(before, "ExifTool:Warning");
    for (const std::string& warning : ValuesOf(after, "ExifTool:Warning")) {
        if (!std::binary_search(oldWarnings.begin(), oldWarnings.end(), warning) &&
            !FindingOfWhatTheRunMayWrite(before, warning)) {
            changes.push_back("new warning: " + warning);
        }
    }
    return changes;
}

::testing::AssertionResult SegmentsAndImageDataKept(const Bytes& original, const Bytes& saved) {
    Kept before = KeptOf(original);
    const Kept after = KeptOf(saved);
    std::stable_partition(before.segments.begin(), before.segments.end(),
                          [](const Bytes& s) { return s[0] == 0xE0; });
    if (before.segments != after.segments) {
        return ::testing::AssertionFailure() << "a segment was lost, added, changed or moved";
    }
    return BytesEqual(ImageDataWithoutTrailerOffsets(original, before.imageData),
                      ImageDataWithoutTrailerOffsets(saved, after.imageData))
           << " (image data from the first SOS on, an AFCP trailer's offsets aside)";
}

::testing::AssertionResult XmpPacketKeptWhereUnwritten(const Bytes& original, const Bytes& saved) {
    const Bytes before = KeptOf(original).xmp;
    const Bytes after = KeptOf(saved).xmp;
    if (before.empty()) {
        return ::testing::AssertionSuccess();
    }
    TXMPPacket packet;
    if (packet.TryLoadFromStream(std::span<const std::uint8_t>(before))) {
        const TXMPSchema* exifSchema = packet.FindSchema(xsExif);
        const bool written =
            exifSchema != nullptr &&
            std::any_of(exifSchema->begin(), exifSchema->end(), [](const auto& property) {
                const std::string& name = property->Name();
                return name == "GPSLatitude" || name == "GPSLongitude" || name == "GPSTimeStamp";
            });
        if (written) {
            return ::testing::AssertionSuccess();
        }
    }
    return BytesEqual(before, after) << " (an XMP packet without a property the run writes)";
}

}  // namespace zeloro::test
