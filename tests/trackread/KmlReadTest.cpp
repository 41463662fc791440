// tests/trackread/KmlReadTest.cpp: KML placemarks and gx:Track, and KML inside a KMZ archive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <memory>
#include <string>
#include <vector>

#include "TextTrackTesting.h"
#include "support/TestSupport.h"
#include "trackread/TextTracks.h"

namespace zeloro::test {
namespace {

using Segments = std::vector<std::vector<std::string>>;

std::string Kml(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2"><Document>)" +
           body + "</Document></kml>\n";
}

std::string Placemark(const std::string& when, const std::string& coordinates) {
    return "<Placemark><name>p</name><TimeStamp><when>" + when + "</when></TimeStamp><Point><coordinates>" +
           coordinates + "</coordinates></Point></Placemark>";
}

// Point placemarks in a row share a segment; each gx:Track, also inside a gx:MultiTrack, is its own.
// gx:coord gives "lon lat [alt]"; a when that is empty or names a day only is no moment, and its
// position is left out; a placemark without a time, or with a time span, is no track point.
TEST(KmlRead, PlacemarksAndTracksInFileOrderAndSegments) {
    const std::string kml =
        Kml(Placemark("2024-06-15T08:00:00Z", "8.5,47.25,410.5") +
            Placemark("2024-06-15T08:00:10.250+02:00", " 8.6 , 47.3 ") +
            "<Placemark><Point><coordinates>1,2</coordinates></Point></Placemark>"
            "<Placemark><TimeSpan><begin>2024-06-15T08:00:00Z</begin></TimeSpan><Point><coordinates>1,2</"
            "coordinates>"
            "</Point></Placemark>"
            "<Placemark><gx:Track><when>2024-06-15T09:00:00Z</when><when></when><when>2024-06-15</when>"
            "<when>2024-06-15T09:00:03Z</when>"
            "<gx:coord>-122.1 37.5 12</gx:coord><gx:coord>-122.2 37.6 13</gx:coord><gx:coord>-122.3 "
            "37.7</gx:coord>"
            "<gx:coord>-122.4 37.8</gx:coord></gx:Track></Placemark>" +
            Placemark("2024-06-15T10:00:00-01:30", "-0.5,-45.5,-3") +
            "<Placemark><gx:MultiTrack><gx:Track><when>2024-06-15T11:00:00Z</when><gx:coord>1 2 3</gx:coord>"
            "<when>2024-06-15T11:00:01Z</when><gx:coord>1.5 2.5 3.5</gx:coord></gx:Track>"
            "<gx:Track><when>2024-06-15T12:00:00Z</when><gx:coord>4 5</gx:coord></gx:Track>"
            "</gx:MultiTrack></Placemark>");
    const Segments expected{
        {"47.2500000 8.5000000 2024-06-15 08:00:00.000 410.50",
         "47.3000000 8.6000000 2024-06-15 06:00:10.250 -"},
        {"37.5000000 -122.1000000 2024-06-15 09:00:00.000 12.00",
         "37.8000000 -122.4000000 2024-06-15 09:00:03.000 -"},
        {"-45.5000000 -0.5000000 2024-06-15 11:30:00.000 -3.00"},
        {"2.0000000 1.0000000 2024-06-15 11:00:00.000 3.00",
         "2.5000000 1.5000000 2024-06-15 11:00:01.000 3.50"},
        {"5.0000000 4.0000000 2024-06-15 12:00:00.000 -"},
    };
    EXPECT_EQ(ReadText(ReadKml, kml), expected);
}

// KML 2.3 writes Track without a prefix; a document in UTF-16 is read as well.
TEST(KmlRead, UnprefixedTrackInUtf16) {
    const std::string kml =
        R"(<?xml version="1.0" encoding="UTF-16"?>)"
        R"(<kml xmlns="http://www.opengis.net/kml/2.3"><Placemark><Track>)"
        R"(<when>2024-01-01T00:00:00Z</when><coord>10 20 30</coord></Track></Placemark></kml>)";
    std::string utf16 = "\xFF\xFE";
    for (const char c : kml) {
        utf16 += c;
        utf16 += '\0';
    }
    EXPECT_EQ(ReadText(ReadKml, utf16), (Segments{{"20.0000000 10.0000000 2024-01-01 00:00:00.000 30.00"}}));
}

// A damaged file or one of another kind says what is wrong, where the file shows it.
TEST(KmlRead, DamagedFilesAreRefused) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "Die KML-Datei ist leer."},
        {Kml("<Placemark>\n<name>x</Placemark>"), "Die KML-Datei ist kein wohlgeformtes XML (Zeile 3)."},
        {"<gpx><wpt/></gpx>", "Die Datei ist keine KML-Datei: ihr Wurzelelement ist <gpx>."},
        {Kml(Placemark("2024-06-15T08:00:00Z", "8.5;47.25")),
         "Placemark Nr. 1: die Koordinaten \"8.5;47.25\" sind nicht lesbar."},
        {Kml(Placemark("15.06.2024 08:00", "8.5,47.25")),
         "Placemark Nr. 1: die Zeit \"15.06.2024 08:00\" ist nicht lesbar."},
        {Kml("<Placemark><gx:Track><when>2024-06-15T09:00:00Z</when><when>2024-06-15T09:00:01Z</when>"
             "<gx:coord>1 2</gx:coord></gx:Track></Placemark>"),
         "gx:Track Nr. 1: 2 Zeitangaben (when), aber 1 Positionen (gx:coord)."},
        {Kml("<Placemark><gx:Track><when>2024-06-15T09:00:00Z</when><gx:coord>1,2</gx:coord></gx:Track>"
             "</Placemark>"),
         "gx:Track Nr. 1: die Position \"1,2\" ist nicht lesbar."},
    };
    for (const auto& [kml, message] : cases) {
        EXPECT_EQ(ReadError(ReadKml, kml), message) << kml;
    }
}

// An entity is never loaded nor expanded: a file cannot pull another file's text (or a network
// resource, or a billion copies of a text) into a time or a position; one that uses them is refused.
TEST(KmlRead, EntitiesAreNeitherLoadedNorExpanded) {
    const std::string kml = R"(<?xml version="1.0"?>
<!DOCTYPE kml [<!ENTITY t SYSTEM "file:///etc/hostname"><!ENTITY p "47.5">]>
<kml><Placemark><TimeStamp><when>&t;</when></TimeStamp><Point><coordinates>8.5,&p;</coordinates></Point>
</Placemark></kml>)";
    EXPECT_EQ(ReadError(ReadKml, kml), "Die KML-Datei ist kein wohlgeformtes XML (Zeile 3).");
}

// Bytes the declared encoding cannot have are refused, and libxml2 says nothing on stderr about them
// (the log is the program's own).
TEST(KmlRead, BrokenEncodingIsRefusedSilently) {
    ::testing::internal::CaptureStderr();
    // "<" in UCS-4, then bytes no UCS-4 character has.
    const std::string error =
        ReadError(ReadKml, std::string("<\0\0\0\0\0e\x03o\xFF\xFF\xFF\xFF\xFF\xFFx", 16));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error, "Die KML-Datei ist kein wohlgeformtes XML (Zeile 1).");
}

// A document that breaks its encoding after some points is refused, not read as far as it went; the
// namespace warnings of a careless writer are no reason to refuse one.
TEST(KmlRead, EncodingBrokenHalfwayIsRefused) {
    std::string body;
    for (int i = 0; i < 3000; ++i) {
        body += Placemark("2024-06-15T08:00:00Z", "1,2") + "\n";
    }
    const std::string latin =
        "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<kml>" + body + "<name>\xFF</name></kml>";
    EXPECT_EQ(ReadError(ReadKml, latin), "Die KML-Datei ist kein wohlgeformtes XML (Zeile 3002).");
    const std::string relative =
        "<kml xmlns=\"kml22\" xmlns:gx=\"ext\">" + Placemark("2024-06-15T08:00:00Z", "1,2") + "</kml>";
    EXPECT_EQ(ReadText(ReadKml, relative), (Segments{{"2.0000000 1.0000000 2024-06-15 08:00:00.000 -"}}));
}

// What the sink throws (a stop, a database error) leaves the reader as it is, through libxml2's frames.
TEST(KmlRead, WhatTheSinkThrowsEndsTheRead) {
    struct Stop {};
    class StoppingSink : public TrackPointSink {
    public:
        void NewSegment() override {}
        void Add(const TrackPoint& /*point*/) override {
            ++added;
            throw Stop();
        }
        int added = 0;
    };
    std::string body;
    for (int i = 0; i < 3; ++i) {
        body += Placemark("2024-06-15T08:00:0" + std::to_string(i) + "Z", "1,2");
    }
    std::istringstream in(Kml(body));
    StoppingSink sink;
    EXPECT_THROW(ReadKml(in, sink), Stop);
    EXPECT_EQ(sink.added, 1);
}

struct ZipDiscard {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};

// A zip archive at path with the entries given (name, content), in that order.
void WriteZip(const std::filesystem::path& path,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> archive(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    ASSERT_TRUE(archive) << error;
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(archive.get(), content.data(), content.size(), 0);
        ASSERT_NE(source, nullptr);
        ASSERT_GE(zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
    }
    ASSERT_EQ(zip_close(archive.release()), 0);
}

std::vector<std::vector<std::string>> ReadKmzFile(const std::filesystem::path& path) {
    RecordingSink sink;
    ReadKmz(path.string(), sink);
    return sink.segments;
}

std::string KmzError(const std::filesystem::path& path) {
    try {
        (void)ReadKmzFile(path);
    } catch (const TrackFormatError& e) {
        return e.what();
    }
    return {};
}

// doc.kml is the document wherever it stands in the archive; without one the first .kml entry is.
TEST(KmlRead, KmzReadsDocKmlOrElseTheFirstKmlEntry) {
    const TempDir dir;
    const std::string first = Kml(Placemark("2024-06-15T08:00:00Z", "1,2"));
    const std::string doc = Kml(Placemark("2024-06-15T09:00:00Z", "3,4"));
    // Big enough to be deflated across many reads of the entry.
    std::string big;
    for (int i = 0; i < 2000; ++i) {
        big += Placemark("2024-06-15T10:00:00Z", "5,6");
    }
    WriteZip(dir / "a.kmz", {{"files/icon.png", "\x89PNG"}, {"other.kml", first}, {"doc.kml", doc}});
    WriteZip(dir / "b.kmz", {{"files/icon.png", "\x89PNG"}, {"tracks/Tour.KML", first}, {"z.kml", doc}});
    WriteZip(dir / "c.kmz", {{"doc.kml", Kml(big)}});
    EXPECT_EQ(ReadKmzFile(dir / "a.kmz"), (Segments{{"4.0000000 3.0000000 2024-06-15 09:00:00.000 -"}}));
    EXPECT_EQ(ReadKmzFile(dir / "b.kmz"), (Segments{{"2.0000000 1.0000000 2024-06-15 08:00:00.000 -"}}));
    const Segments many = ReadKmzFile(dir / "c.kmz");
    ASSERT_EQ(many.size(), 1U);
    EXPECT_EQ(many[0].size(), 2000U);
}

TEST(KmlRead, KmzWithoutKmlOrNoArchiveIsRefused) {
    const TempDir dir;
    WriteZip(dir / "empty.kmz", {{"readme.txt", "hello"}});
    WriteFileText(dir / "plain.kmz", Kml(Placemark("2024-06-15T08:00:00Z", "1,2")));
    WriteZip(dir / "broken.kmz", {{"doc.kml", Kml("<Placemark>")}});
    EXPECT_EQ(KmzError(dir / "empty.kmz"), "Das KMZ-Archiv enthält keine KML-Datei.");
    EXPECT_EQ(KmzError(dir / "plain.kmz"), "Die KMZ-Datei ist kein lesbares ZIP-Archiv.");
    EXPECT_EQ(KmzError(dir / "missing.kmz"), "Die KMZ-Datei kann nicht gelesen werden: nicht vorhanden.");
    ASSERT_EQ(::mkfifo((dir / "pipe.kmz").c_str(), 0600), 0);
    EXPECT_EQ(KmzError(dir / "pipe.kmz"), "Die KMZ-Datei ist keine gewöhnliche Datei.");
    EXPECT_EQ(KmzError(dir / "broken.kmz"), "Die KML-Datei ist kein wohlgeformtes XML (Zeile 2).");
}

// A deflated entry whose bytes were changed fails its check and is not read as a good one.
TEST(KmlRead, KmzWithDamagedEntryIsRefused) {
    const TempDir dir;
    std::string body;
    for (int i = 0; i < 200; ++i) {
        body += Placemark("2024-06-15T08:00:00Z", std::to_string(i) + ",2");
    }
    WriteZip(dir / "d.kmz", {{"doc.kml", Kml(body)}});
    Bytes bytes = ReadFileBytes(dir / "d.kmz");
    ASSERT_GT(bytes.size(), 200U);
    bytes[100] ^= 0x55;  // inside the deflated data, past the local header
    WriteFileBytes(dir / "d.kmz", bytes);
    const std::string error = KmzError(dir / "d.kmz");
    EXPECT_TRUE(error == "Die KML-Datei im KMZ-Archiv ist beschädigt." ||
                error.rfind("Die KML-Datei ist kein wohlgeformtes XML", 0) == 0)
        << error;
}

}  // namespace
}  // namespace zeloro::test
