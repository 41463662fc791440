// src/trackimport/TrackFormat.cpp: telling a track file's format by its content.
#include "trackimport/TrackFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <vector>

#include "common/AsciiText.h"
#include "common/FileDescriptor.h"
#include "media/MediaKind.h"

namespace zeloro {

namespace {

// Enough for the root element behind a long comment or doctype, and for the first lines of a log.
constexpr std::size_t kHeadBytes = 16384;

// The formats the import reads itself.
constexpr std::array<std::string_view, 10> kExtensions{"gpx",  "kml", "kmz", "tcx",     "fit",
                                                       "nmea", "igc", "csv", "geojson", "json"};

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

std::string Extension(std::string_view name) {
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    std::string extension;
    for (const char c : name.substr(dot + 1)) {
        extension += AsciiLower(c);
    }
    return extension;
}

std::string_view Text(std::span<const std::uint8_t> head) {
    return {reinterpret_cast<const char*>(head.data()), head.size()};
}

// The kinds of files that land in a track's place by mistake: a photo or video as the run tells it, else by
// their magic numbers.
std::string_view OtherKind(std::span<const std::uint8_t> head) {
    if (const MediaKind kind = DetectMediaKind(head); kind != MediaKind::unknown) {
        return MediaKindText(kind);
    }
    struct Magic {
        std::size_t at;
        std::string_view bytes;
        std::string_view what;
    };
    static constexpr std::array<Magic, 10> kMagics{{
        {0, "\x89PNG\r\n\x1A\n", "PNG-Bild"},
        {0, "GIF8", "GIF-Bild"},
        {0, "%PDF", "PDF-Dokument"},
        {4, "ftyp", "ISO-Mediendatei"},
        {0, "RIFF", "RIFF-Datei (WebP, AVI, WAV)"},
        {0, "PK\x03\x04", "ZIP-Archiv"},
        {0, "\x1F\x8B", "gzip-Archiv"},
        {0, "SQLite format 3", "SQLite-Datenbank"},
        {0,
         "\x7F"
         "ELF",
         "Programmdatei"},
        {0, "BM", "BMP-Bild"},
    }};
    for (const Magic& magic : kMagics) {
        if (head.size() >= magic.at && StartsWith(head.subspan(magic.at), magic.bytes)) {
            return magic.what;
        }
    }
    return {};
}

// A zip archive whose local headers, as far as the head reaches, name a .kml file.
bool ZipHoldsKml(std::span<const std::uint8_t> head) {
    std::size_t at = 0;
    while (head.size() >= at + 30 && StartsWith(head.subspan(at), "PK\x03\x04")) {
        const auto le = [&head, at](std::size_t offset, std::size_t count) {
            std::size_t value = 0;
            for (std::size_t i = count; i > 0; --i) {
                value = (value << 8U) | head[at + offset + i - 1];
            }
            return value;
        };
        const std::size_t nameLength = le(26, 2);
        const std::size_t extraLength = le(28, 2);
        const std::size_t packed = le(18, 4);
        if (head.size() < at + 30 + nameLength) {
            return false;
        }
        const std::string name(Text(head.subspan(at + 30, nameLength)));
        if (Extension(name) == "kml") {
            return true;
        }
        at += 30 + nameLength + extraLength + packed;
    }
    return false;
}

// The local name of the document's first element, or empty when the text is no XML.
std::string_view RootElement(std::string_view text) {
    std::size_t at = 0;
    for (;;) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos || text[at] != '<') {
            return {};
        }
        if (text.substr(at, 4) == "<!--") {
            const std::size_t end = text.find("-->", at + 4);
            if (end == std::string_view::npos) {
                return {};
            }
            at = end + 3;
        } else if (text.substr(at, 2) == "<?" || text.substr(at, 2) == "<!") {
            const std::size_t end = text.find('>', at);
            if (end == std::string_view::npos) {
                return {};
            }
            at = end + 1;
        } else {
            const std::size_t start = at + 1;
            const std::size_t end = text.find_first_of(" \t\r\n/>", start);
            std::string_view name =
                text.substr(start, end == std::string_view::npos ? text.npos : end - start);
            const std::size_t colon = name.find(':');
            return colon == std::string_view::npos ? name : name.substr(colon + 1);
        }
    }
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool IsText(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n';
    });
}

// An NMEA sentence start at the beginning of a line: "$" and five capitals (talker and type) and ",".
bool HasSentence(std::string_view text) {
    std::size_t at = 0;
    for (int line = 0; line < 50 && at < text.size(); ++line) {
        const std::string_view rest = text.substr(at);
        if (rest.size() > 7 && rest[0] == '$' && rest[6] == ',' &&
            std::all_of(rest.begin() + 1, rest.begin() + 6,
                        [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); })) {
            return true;
        }
        const std::size_t next = text.find('\n', at);
        if (next == std::string_view::npos) {
            break;
        }
        at = next + 1;
    }
    return false;
}

DetectedTrack Json(std::string_view text) {
    if (Contains(text, "\"semanticSegments\"") || Contains(text, "\"timelinePath\"")) {
        return {TrackFormat::googleTimeline, {}};
    }
    if (Contains(text, "\"locations\"") || Contains(text, "\"latitudeE7\"")) {
        return {TrackFormat::googleRecords, {}};
    }
    if (Contains(text, "\"type\"") &&
        (Contains(text, "\"FeatureCollection\"") || Contains(text, "\"Feature\"") ||
         Contains(text, "\"LineString\"") || Contains(text, "\"MultiLineString\"") ||
         Contains(text, "\"Point\""))) {
        return {TrackFormat::geoJson, {}};
    }
    return {TrackFormat::none, "JSON-Datei"};
}

// A header line of a table with a latitude column.
bool CsvHeader(std::string_view text) {
    const std::string_view first = text.substr(0, text.find('\n'));
    if (first.find_first_of(",;\t") == std::string_view::npos) {
        return false;
    }
    std::string lower;
    for (const char c : first) {
        lower += AsciiLower(c);
    }
    return Contains(lower, "lat");
}

}  // namespace

std::string_view TrackFormatName(TrackFormat format) {
    switch (format) {
        case TrackFormat::gpx:
            return "GPX";
        case TrackFormat::kml:
            return "KML";
        case TrackFormat::kmz:
            return "KMZ";
        case TrackFormat::nmea:
            return "NMEA";
        case TrackFormat::tcx:
            return "TCX";
        case TrackFormat::igc:
            return "IGC";
        case TrackFormat::csv:
            return "CSV";
        case TrackFormat::geoJson:
            return "GeoJSON";
        case TrackFormat::googleRecords:
            return "Google Records";
        case TrackFormat::googleTimeline:
            return "Google Timeline";
        case TrackFormat::fit:
            return "FIT";
        case TrackFormat::none:
            break;
    }
    return "keine Trackdatei";
}

DetectedTrack DetectTrackFormat(std::span<const std::uint8_t> head, std::string_view fileName) {
    const std::string extension = Extension(fileName);
    if (head.size() >= 12 && (head[0] == 12 || head[0] == 14) && StartsWith(head.subspan(8), ".FIT")) {
        return {TrackFormat::fit, {}};
    }
    if (StartsWith(head, "PK\x03\x04") && (extension == "kmz" || ZipHoldsKml(head))) {
        return {TrackFormat::kmz, {}};
    }
    // XML in UTF-16 or UTF-32: only GPX is read in those.
    if (StartsWith(head, "\xFF\xFE") || StartsWith(head, "\xFE\xFF") ||
        StartsWith(head, std::string_view("\0\0\xFE\xFF", 4)) ||
        (head.size() >= 2 && (head[0] == 0 || head[1] == 0) && (head[0] == '<' || head[1] == '<'))) {
        return {TrackFormat::gpx, {}};
    }
    if (const std::string_view other = OtherKind(head); !other.empty()) {
        return {TrackFormat::none, std::string(other)};
    }
    std::string_view text = Text(head);
    if (StartsWith(head, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        if (extension == "gpx") {
            return {TrackFormat::gpx, {}};
        }
        return {TrackFormat::none, head.empty() ? "leere Datei" : "Textdatei ohne Inhalt"};
    }
    text.remove_prefix(first);
    if (text[0] == '<') {
        const std::string_view root = RootElement(text);
        if (SameTextAscii(root, "kml")) {
            return {TrackFormat::kml, {}};
        }
        if (SameTextAscii(root, "TrainingCenterDatabase")) {
            return {TrackFormat::tcx, {}};
        }
        return {TrackFormat::gpx, {}};
    }
    if (text[0] == '{' || text[0] == '[') {
        return Json(text);
    }
    if (!IsText(text)) {
        return {extension == "gpx" ? TrackFormat::gpx : TrackFormat::none, "Datei unbekannter Art"};
    }
    if (HasSentence(text)) {
        return {TrackFormat::nmea, {}};
    }
    if (text[0] == 'A' && (Contains(text, "\nHFDTE") || Contains(text, "\nB") || extension == "igc")) {
        return {TrackFormat::igc, {}};
    }
    if (CsvHeader(text)) {
        return {TrackFormat::csv, {}};
    }
    if (extension == "gpx") {
        return {TrackFormat::gpx, {}};
    }
    return {TrackFormat::none, "Textdatei"};
}

DetectedTrack DetectTrackFormat(const std::string& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {TrackFormat::gpx, {}};
    }
    std::vector<std::uint8_t> head(kHeadBytes);
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd.get(), head.data() + got, head.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return DetectTrackFormat(head, path);
}

std::span<const std::string_view> TrackFileExtensions() { return kExtensions; }

}  // namespace zeloro
