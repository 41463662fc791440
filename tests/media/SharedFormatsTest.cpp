// tests/media/SharedFormatsTest.cpp: real files of every kind from the shared collection, judged by
// exiftool: the kind against its file type, the shot time and the position against what it reads.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <map>

#include "ExiftoolOracle.h"
#include "common/FileDescriptor.h"
#include "media/ShotTime.h"

namespace zeloro {
namespace {

// exiftool's file types by the kind they are.
MediaKind KindOfFileType(const std::string& type) {
    static const std::map<std::string, MediaKind> kinds{
        {"JPEG", MediaKind::jpeg},    {"TIFF", MediaKind::tiffRaw}, {"CR2", MediaKind::tiffRaw},
        {"NEF", MediaKind::tiffRaw},  {"NRW", MediaKind::tiffRaw},  {"DNG", MediaKind::tiffRaw},
        {"ARW", MediaKind::tiffRaw},  {"RW2", MediaKind::tiffRaw},  {"RWL", MediaKind::tiffRaw},
        {"ORF", MediaKind::tiffRaw},  {"PEF", MediaKind::tiffRaw},  {"SRW", MediaKind::tiffRaw},
        {"RAW", MediaKind::tiffRaw},  {"CR3", MediaKind::cr3},      {"CRW", MediaKind::otherRaw},
        {"RAF", MediaKind::otherRaw}, {"MRW", MediaKind::otherRaw}, {"X3F", MediaKind::otherRaw},
        {"HEIC", MediaKind::heif},    {"HEIF", MediaKind::heif},    {"AVIF", MediaKind::heif},
        {"MOV", MediaKind::video},    {"MP4", MediaKind::video},    {"M4V", MediaKind::video},
        {"3GP", MediaKind::video}};
    const auto found = kinds.find(type);
    return found == kinds.end() ? MediaKind::unknown : found->second;
}

// The value of a tag in any group, or empty.
std::string Tag(const test::TagReport& report, std::string_view name) {
    for (const auto& [key, value] : report) {
        const auto colon = key.find(':');
        if (colon != std::string::npos && std::string_view(key).substr(colon + 1) == name) return value;
    }
    return {};
}

// exiftool's "YYYY:MM:DD HH:MM:SS[...]" as the track table's "YYYY-MM-DD HH:MM:SS".
std::string AsTableText(const std::string& exif) {
    std::string text = exif.substr(0, 19);
    if (text.size() == 19) text[4] = text[7] = '-';
    return text;
}

TEST(SharedFormats, KindTimeAndPositionAsExiftoolReadsThem) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    if (!test::HaveExiftool()) ZELORO_SKIP_OUTSIDE_CI("exiftool is not installed");
    const auto files = test::SharedFiles("formats");
    std::vector<std::filesystem::path> media;
    std::vector<std::vector<std::string>> commands;
    for (const auto& path : files) {
        if (path.extension() == ".md") continue;
        media.push_back(path);
        commands.push_back({"-args", "-G1", "-n", "-FileType", "-ExifIFD:DateTimeOriginal",
                            "-QuickTime:CreateDate", "-Keys:CreationDate", "-GPSLatitude", "-GPSLongitude",
                            "-GPSCoordinates", path.string()});
    }
    ASSERT_FALSE(media.empty());
    const std::vector<test::TagReport> reports = test::RunExiftool(commands);
    for (std::size_t i = 0; i < media.size(); ++i) {
        const std::string name = media[i].filename().string();
        SCOPED_TRACE(name);
        const test::TagReport& report = reports[i];
        const test::Bytes bytes = test::ReadFileBytes(media[i]);
        const std::span<const std::uint8_t> head(bytes.data(), std::min<std::size_t>(bytes.size(), 64));
        const MediaKind kind = DetectMediaKind(head);
        EXPECT_EQ(kind, KindOfFileType(Tag(report, "FileType")));
        // Through a descriptor, as the run reads a file.
        const FileDescriptor fd(::open(media[i].c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd);
        const FdSource source(fd.get());
        if (name.starts_with("exv_issue_")) {
            // Files that once crashed a reader: an error that says what is damaged, nothing else.
            EXPECT_THROW((void)ReadMediaFacts(kind, source), MediaError);
            continue;
        }
        const MediaFacts facts = ReadMediaFacts(kind, source);
        const std::string keyed = Tag(report, "CreationDate");
        const std::string created =
            kind == MediaKind::video ? Tag(report, "CreateDate") : Tag(report, "DateTimeOriginal");
        ASSERT_TRUE(facts.shot);
        if (!keyed.empty()) {
            EXPECT_EQ(facts.shot->clock, ShotTime::Clock::offset);
            EXPECT_EQ(DateTimeText(facts.shot->time), AsTableText(keyed));
        } else {
            EXPECT_EQ(facts.shot->clock,
                      kind == MediaKind::video ? ShotTime::Clock::utc : ShotTime::Clock::camera);
            EXPECT_EQ(DateTimeText(facts.shot->time), AsTableText(created));
        }
        const bool position = (!Tag(report, "GPSLatitude").empty() && !Tag(report, "GPSLongitude").empty()) ||
                              !Tag(report, "GPSCoordinates").empty();
        EXPECT_EQ(facts.hasGpsPosition, position);
    }
}

}  // namespace
}  // namespace zeloro
