// tests/tagging/PlacesRunTest.cpp: place names in the XMP packet (--places) and each photo's zone taken
// from the track (--zone auto), on packets, photos and tracks built here and the delivered place data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MetadataBuilders.h"
#include "SamplePhoto.h"
#include "metadata/ExifData.h"
#include "metadata/XMPPacket.h"
#include "metadata/XMPSidecar.h"
#include "places/PlaceIndex.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"
#include "tagging/PlaceTags.h"
#include "tagging/RunInputs.h"
#include "tagging/TaggingSession.h"
#include "tagging/TrackZone.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

const PlaceNames kCologne{"Köln", "North Rhine-Westphalia", "Deutschland", "DE"};

constexpr std::string_view kHead =
    "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" VelExifVersion=\"1.1.1\">\n"
    "\t<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
constexpr std::string_view kFoot = "\t</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?> ";

// The packet the run creates for a photo without one: the IPTC Core namespace sorts before Photoshop's.
std::string NewCologneXmp() {
    return std::string(kHead) +
           "\t\t<rdf:Description rdf:about=\"\" "
           "xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">\n"
           "\t\t\t<Iptc4xmpCore:CountryCode>DE</Iptc4xmpCore:CountryCode>\n"
           "\t\t</rdf:Description>\n"
           "\t\t<rdf:Description rdf:about=\"\" xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\">\n"
           "\t\t\t<photoshop:City>Köln</photoshop:City>\n"
           "\t\t\t<photoshop:State>North Rhine-Westphalia</photoshop:State>\n"
           "\t\t\t<photoshop:Country>Deutschland</photoshop:Country>\n"
           "\t\t</rdf:Description>\n" +
           std::string(kFoot);
}

// A packet as an editor writes one, with all four properties; the city as given.
std::string EditorXmp(std::string_view city) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\"\n"
           "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
           "    xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">\n"
           "   <photoshop:City>" +
           std::string(city) +
           "</photoshop:City>\n"
           "   <photoshop:State>Hessen</photoshop:State>\n"
           "   <photoshop:Country>Germany</photoshop:Country>\n"
           "   <Iptc4xmpCore:CountryCode>DE</Iptc4xmpCore:CountryCode>\n"
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}

// A packet with the city only, and a comment that only the text holds.
std::string CityOnlyXmp(std::string_view declarations, std::string_view added) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\"\n"
           "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"" +
           std::string(declarations) +
           ">\n"
           "   <photoshop:City>Frankfurt &amp; Main</photoshop:City>\n"
           "   <!-- written by hand -->\n" +
           std::string(added) +
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}

TEST(PlaceTags, NewPacketHoldsTheFourProperties) {
    TXMPPacket packet;
    WritePlaceProperties(packet, kCologne, PlaceWrite::fill);
    EXPECT_EQ(packet.RawXML(), NewCologneXmp());
}

struct KeepCase {
    std::string_view name;
    std::string source;
    PlaceNames names;
    PlaceWrite mode;
    std::string want;
};
void PrintTo(const KeepCase& c, std::ostream* os) { *os << c.name; }

class PlaceTagsOnPacket : public ::testing::TestWithParam<KeepCase> {};

TEST_P(PlaceTagsOnPacket, MatchesTable) {
    const KeepCase& c = GetParam();
    EXPECT_EQ(WritePlaceProperties(c.source, c.names, c.mode), c.want);
}

// Every value given way to is replaced where it stands; the rest of the text stays as the editor wrote it.
INSTANTIATE_TEST_SUITE_P(
    PlaceTags, PlaceTagsOnPacket,
    ::testing::Values(
        KeepCase{"ValuesKeptWithoutReplace", EditorXmp("Frankfurt"), kCologne, PlaceWrite::fill,
                 EditorXmp("Frankfurt")},
        KeepCase{"EmptyValueFilled", EditorXmp(""), kCologne, PlaceWrite::fill, EditorXmp("Köln")},
        KeepCase{"ValuesReplaced", EditorXmp("Frankfurt"), kCologne, PlaceWrite::replace,
                 [] {
                     std::string text = EditorXmp("Köln");
                     text.replace(text.find("Hessen"), 6, "North Rhine-Westphalia");
                     text.replace(text.find("Germany"), 7, "Deutschland");
                     return text;
                 }()},
        // At sea nothing is known: the photo keeps what it has, even under replace.
        KeepCase{"NothingKnownNothingChanged", EditorXmp("Frankfurt"), PlaceNames{}, PlaceWrite::replace,
                 EditorXmp("Frankfurt")},
        KeepCase{"NoPacketYet", "", kCologne, PlaceWrite::fill, NewCologneXmp()},
        // The missing properties join the description, their namespace declared on it; the comment,
        // the layout and the city the photo had stay.
        KeepCase{"MissingAddedInPlace", CityOnlyXmp("", ""), kCologne, PlaceWrite::fill,
                 CityOnlyXmp(" xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\"",
                             "   <photoshop:State>North Rhine-Westphalia</photoshop:State>\n"
                             "   <photoshop:Country>Deutschland</photoshop:Country>\n"
                             "   <Iptc4xmpCore:CountryCode>DE</Iptc4xmpCore:CountryCode>\n")},
        KeepCase{"MissingAddedAndReplaced", CityOnlyXmp("", ""),
                 PlaceNames{"Tom & Jerry's <Town>", "", "", ""}, PlaceWrite::replace,
                 [] {
                     std::string text = CityOnlyXmp("", "");
                     text.replace(text.find("Frankfurt &amp; Main"), 20,
                                  "Tom &amp; Jerry&apos;s &lt;Town&gt;");
                     return text;
                 }()}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PlaceTags, LabelNamesCityAndCountry) {
    EXPECT_EQ(PlaceLabel(kCologne), "Köln, Deutschland");
    EXPECT_EQ(PlaceLabel(PlaceNames{"", "", "Deutschland", "DE"}), "Deutschland");
    EXPECT_EQ(PlaceLabel(PlaceNames{"Fernviertel", "", "", ""}), "Fernviertel");
    EXPECT_EQ(PlaceLabel(PlaceNames{}), "");
}

// ---- runs

class RecordingObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t dash = line.find(" - ");
        lines.push_back(dash == std::string::npos ? line : line.substr(dash));
    }
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { lines.push_back("ERROR " + text); }
    void PhotoHandled(const PhotoReport& report) override { reports.push_back(report); }
    std::vector<std::string> lines;
    std::vector<PhotoReport> reports;
};

// The JPEG segments before the picture data, each marker with its payload.
std::vector<std::pair<int, Bytes>> Segments(const Bytes& jpeg) {
    std::vector<std::pair<int, Bytes>> out;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
        out.emplace_back(jpeg[at + 1], Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                             jpeg.begin() + static_cast<std::ptrdiff_t>(at + 2 + length)));
        at += 2 + length;
    }
    return out;
}

// An APP13 block with one IPTC record (2:90, the city "Bonn") as a newsroom tool writes it.
Bytes WithIptcCity(const Bytes& jpeg) {
    const std::string iptc = std::string("\x1C\x02\x5A\x00\x04", 5) + "Bonn";
    std::string payload = std::string("Photoshop 3.0\0", 14) + "8BIM" + std::string("\x04\x04\0\0", 4);
    payload += std::string("\0\0\0", 3) + static_cast<char>(iptc.size()) + iptc;
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.push_back(0xFF);
    out.push_back(0xED);
    out.push_back(static_cast<std::uint8_t>((payload.size() + 2) >> 8));
    out.push_back(static_cast<std::uint8_t>(payload.size() + 2));
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes Photo(std::string shot, std::optional<std::string> offset = std::nullopt) {
    sample::PhotoSpec spec;
    spec.width = 32;
    spec.height = 24;
    spec.dateTimeOriginal = std::move(shot);
    spec.offsetTimeOriginal = std::move(offset);
    return sample::MakePhoto(spec);
}

class PlacesRun : public ::testing::Test {
protected:
    void SetUp() override {
        Connection con;
        con.Open((tmp_ / "zeloro.sqlite").string());
        con.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME)");
        con.Close();
        fs::create_directories(photos_);
        session_.Connect();
        settings_.placeFile = (BuildDir() / kPlaceFileName).string();
    }

    RunResult Run(int zoneIndex = 13) {
        const RunInputs inputs{gpx_.string(), photos_.string(), zoneIndex, 0, RunModes{}, 1};
        return session_.Run(inputs, observer_, settings_);
    }

    TempDir tmp_;
    fs::path photos_ = tmp_ / "photos";
    fs::path gpx_ = tmp_ / "track.gpx";
    TaggingSession session_{(tmp_.path() / "").string()};
    RecordingObserver observer_;
    RunSettings settings_;
};

TEST_F(PlacesRun, PhotoGetsAPacketWithItsPlaceAndKeepsItsIptc) {
    WriteFileText(gpx_, GpxText({{"50.9375", "6.9603", "2024-06-15T08:00:00Z", std::nullopt}}));
    const Bytes before = WithIptcCity(Photo("2024:06:15 10:00:00"));
    WriteFileBytes(photos_ / "a.jpg", before);
    settings_.places = PlacesMode::fill;
    ASSERT_EQ(Run(), RunResult::done);

    const auto segments = Segments(ReadFileBytes(photos_ / "a.jpg"));
    std::optional<Bytes> xmp;
    std::optional<Bytes> app13;
    for (const auto& [marker, payload] : segments) {
        if (marker == 0xE1 && TXMPPacket::HasSegmentHeader(payload)) {
            xmp = payload;
        } else if (marker == 0xED) {
            app13 = payload;
        }
    }
    const std::string text = std::string(kXMPSegmentHeader) + NewCologneXmp();
    ASSERT_TRUE(xmp);
    EXPECT_TRUE(BytesEqual(Bytes(text.begin(), text.end()), *xmp));
    ASSERT_TRUE(app13);
    const auto beforeSegments = Segments(before);
    EXPECT_TRUE(BytesEqual(beforeSegments[0].second, *app13));  // the IPTC block byte for byte

    ASSERT_EQ(observer_.reports.size(), 1U);
    EXPECT_EQ(observer_.reports[0].place, kCologne);
    EXPECT_EQ(session_.MapPageContent().photos.at(0).place, "Köln, Deutschland");
}

TEST_F(PlacesRun, WithoutTheOptionNoPlaceAnywhere) {
    WriteFileText(gpx_, GpxText({{"50.9375", "6.9603", "2024-06-15T08:00:00Z", std::nullopt}}));
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:06:15 10:00:00"));
    settings_.placeFile = (tmp_ / "no-such-file").string();  // never read
    ASSERT_EQ(Run(), RunResult::done);
    for (const auto& [marker, payload] : Segments(ReadFileBytes(photos_ / "a.jpg"))) {
        EXPECT_FALSE(marker == 0xE1 && TXMPPacket::HasSegmentHeader(payload));
    }
    ASSERT_EQ(observer_.reports.size(), 1U);
    EXPECT_EQ(observer_.reports[0].place, std::nullopt);
    EXPECT_EQ(observer_.reports[0].zone, "");
    EXPECT_EQ(session_.MapPageContent().photos.at(0).place, "");
}

TEST_F(PlacesRun, MissingPlaceFileEndsTheRunBeforeAnyPhoto) {
    WriteFileText(gpx_, GpxText({{"50.9375", "6.9603", "2024-06-15T08:00:00Z", std::nullopt}}));
    const Bytes before = Photo("2024:06:15 10:00:00");
    WriteFileBytes(photos_ / "a.jpg", before);
    settings_.places = PlacesMode::fill;
    settings_.placeFile = (tmp_ / "none.bin").string();
    try {
        static_cast<void>(Run());
        FAIL() << "ran without its place file";
    } catch (const PlaceDataError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Die Ortsdaten " + settings_.placeFile + " können nicht gelesen werden: nicht vorhanden");
    }
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "a.jpg")));
    EXPECT_TRUE(observer_.lines.empty());
}

// ---- --zone auto: a day of track points every quarter of an hour at one spot, each a little further
// north, so the point a photo is tagged with tells the UTC time it was read at.

std::vector<GpxPoint> DayAt(double lat, double lon, std::string_view date, int fromSecond = 0,
                            int toSecond = 86400) {
    std::vector<GpxPoint> points;
    for (int s = fromSecond; s < toSecond; s += 900) {
        char latText[32];
        std::snprintf(latText, sizeof latText, "%.6f", lat + s / 900 * 1e-5);
        char lonText[32];
        std::snprintf(lonText, sizeof lonText, "%.6f", lon);
        points.push_back({latText, lonText, GpxTime(date, s), std::nullopt});
    }
    return points;
}

struct ZoneCase {
    std::string_view name;
    double lat;
    double lon;
    std::string date;   // of the track and the photo
    std::string shot;   // the camera's clock
    DateTimeValue utc;  // the point it must be tagged with
    std::string zone;
    std::string popup;  // the shot time as the map's popup shows it
};
void PrintTo(const ZoneCase& c, std::ostream* os) { *os << c.name; }

class ZoneFromTrack : public PlacesRun, public ::testing::WithParamInterface<ZoneCase> {};

TEST_P(ZoneFromTrack, ReadsTheShotInTheZoneOfThePlace) {
    const ZoneCase& c = GetParam();
    WriteFileText(gpx_, GpxText(DayAt(c.lat, c.lon, c.date)));
    WriteFileBytes(photos_ / "a.jpg", Photo(c.shot));
    settings_.zoneFromTrack = true;
    ASSERT_EQ(Run(), RunResult::done);
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), c.utc);
    EXPECT_EQ(observer_.lines.at(4), " - Zeitzone aus dem Track: " + c.zone);
    EXPECT_EQ(observer_.reports.at(0).zone, c.zone);
    EXPECT_EQ(session_.MapPageContent().photos.at(0).shotTime, c.popup);
}

INSTANTIATE_TEST_SUITE_P(
    PlacesRun, ZoneFromTrack,
    ::testing::Values(ZoneCase{"India", 22.5726, 88.3639, "2024-01-10", "2024:01:10 12:00:00",
                               EncodeDateTime(2024, 1, 10, 6, 30, 0, 0), "Asia/Kolkata",
                               "10.01.2024 12:00:00 (Asia/Kolkata, UTC + 5:30)"},
                      ZoneCase{"Nepal", 27.7172, 85.3240, "2024-01-10", "2024:01:10 12:00:00",
                               EncodeDateTime(2024, 1, 10, 6, 15, 0, 0), "Asia/Kathmandu",
                               "10.01.2024 12:00:00 (Asia/Kathmandu, UTC + 5:45)"},
                      ZoneCase{"LisbonSummer", 38.7223, -9.1393, "2024-07-10", "2024:07:10 12:00:00",
                               EncodeDateTime(2024, 7, 10, 11, 0, 0, 0), "Europe/Lisbon",
                               "10.07.2024 12:00:00 (Europe/Lisbon, UTC + 1:00)"},
                      ZoneCase{"LisbonWinter", 38.7223, -9.1393, "2024-01-10", "2024:01:10 12:00:00",
                               EncodeDateTime(2024, 1, 10, 12, 0, 0, 0), "Europe/Lisbon",
                               "10.01.2024 12:00:00 (Europe/Lisbon, UTC)"},
                      ZoneCase{"NorwaySummer", 69.6496, 18.9560, "2024-07-10", "2024:07:10 12:00:00",
                               EncodeDateTime(2024, 7, 10, 10, 0, 0, 0), "Europe/Oslo",
                               "10.07.2024 12:00:00 (Europe/Oslo, UTC + 2:00)"},
                      ZoneCase{"IcelandNoSummerTime", 64.1466, -21.9426, "2024-07-10", "2024:07:10 12:00:00",
                               EncodeDateTime(2024, 7, 10, 12, 0, 0, 0), "Atlantic/Reykjavik",
                               "10.07.2024 12:00:00 (Atlantic/Reykjavik, UTC)"},
                      ZoneCase{"Argentina", -34.6037, -58.3816, "2024-07-10", "2024:07:10 12:00:00",
                               EncodeDateTime(2024, 7, 10, 15, 0, 0, 0), "America/Argentina/Buenos_Aires",
                               "10.07.2024 12:00:00 (America/Argentina/Buenos_Aires, UTC - 3:00)"}),
    [](const auto& p) { return std::string(p.param.name); });

// From Elvas (Portugal, UTC + 1 in summer) across the border to Badajoz (Spain, UTC + 2), the camera set
// to the local time on each side. The first photo's local time read as UTC lies on the Spanish part of
// the track; the position found there lies in Portugal, whose zone then decides.
TEST_F(PlacesRun, TripAcrossAZoneBorder) {
    std::vector<GpxPoint> track = DayAt(38.8810, -7.1630, "2024-07-10", 8 * 3600, 10 * 3600);
    const std::vector<GpxPoint> spain = DayAt(38.8794, -6.9707, "2024-07-10", 10 * 3600, 12 * 3600 + 1);
    track.insert(track.end(), spain.begin(), spain.end());
    WriteFileText(gpx_, GpxText(track));
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:07:10 10:30:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:07:10 12:30:00"));
    WriteFileBytes(photos_ / "c.jpg", Photo("2024:07:10 15:00:00"));  // 13:00 UTC: past the track
    settings_.zoneFromTrack = true;
    settings_.places = PlacesMode::fill;
    ASSERT_EQ(Run(), RunResult::done);
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 7, 10, 9, 30, 0, 0));
    exif.LoadFromJPEG((photos_ / "b.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 7, 10, 10, 30, 0, 0));
    EXPECT_EQ(observer_.reports.at(0).place->city, "Elvas");
    EXPECT_EQ(observer_.reports.at(1).place->city, "Badajoz");
    const std::vector<std::string> tail(observer_.lines.begin() + 4, observer_.lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{" - Zeitzone aus dem Track: Europe/Lisbon",
                                        " - a.jpg Koordinaten gefunden:", " - 38.881380,-7.163000 getaggt!",
                                        " - Zeitzone aus dem Track: Europe/Madrid",
                                        " - b.jpg Koordinaten gefunden:", " - 38.879820,-6.970700 getaggt!",
                                        " - c.jpg keine Koordinaten gefunden"}));
}

// The night summer time ends in Berlin: one zone, two offsets, the zone named once.
TEST_F(PlacesRun, SummerTimeEndsDuringTheTrip) {
    std::vector<GpxPoint> track = DayAt(52.5200, 13.4050, "2024-10-26", 20 * 3600);
    const std::vector<GpxPoint> morning = DayAt(52.5300, 13.4050, "2024-10-27", 0, 6 * 3600);
    track.insert(track.end(), morning.begin(), morning.end());
    WriteFileText(gpx_, GpxText(track));
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:10:26 23:00:00"));  // CEST: 21:00 UTC
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:10:27 05:00:00"));  // CET: 04:00 UTC
    settings_.zoneFromTrack = true;
    ASSERT_EQ(Run(), RunResult::done);
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 10, 26, 21, 0, 0, 0));
    exif.LoadFromJPEG((photos_ / "b.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 10, 27, 4, 0, 0, 0));
    EXPECT_EQ(std::count(observer_.lines.begin(), observer_.lines.end(),
                         " - Zeitzone aus dem Track: Europe/Berlin"),
              1);
}

TEST_F(PlacesRun, NoPointWithinFourteenHoursIsExplained) {
    WriteFileText(gpx_, GpxText(DayAt(22.5726, 88.3639, "2024-01-10")));
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:01:12 12:00:00"));
    settings_.zoneFromTrack = true;
    settings_.explain = true;
    ASSERT_EQ(Run(), RunResult::done);
    const std::vector<std::string> tail(observer_.lines.begin() + 4, observer_.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{" - a.jpg keine Koordinaten gefunden",
                                              std::string(" - ") + kNoPointForZone}));
    EXPECT_EQ(observer_.reports.at(0).reason, kNoPointForZone);
}

// A camera that stores its offset is believed with --photo-zone, whatever the track's zone.
TEST_F(PlacesRun, StoredOffsetWinsWithPhotoZone) {
    WriteFileText(gpx_, GpxText(DayAt(22.5726, 88.3639, "2024-01-10")));
    WriteFileBytes(photos_ / "a.jpg", Photo("2024:01:10 12:00:00", "+09:00"));
    WriteFileBytes(photos_ / "b.jpg", Photo("2024:01:10 12:00:00"));
    settings_.zoneFromTrack = true;
    settings_.photoZone = true;
    ASSERT_EQ(Run(), RunResult::done);
    TExifData exif;
    exif.LoadFromJPEG((photos_ / "a.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 1, 10, 3, 0, 0, 0));
    exif.LoadFromJPEG((photos_ / "b.jpg").string());
    EXPECT_EQ(exif.GPSDateTimeUTC(), EncodeDateTime(2024, 1, 10, 6, 30, 0, 0));
    const std::vector<std::string> tail(observer_.lines.begin() + 4, observer_.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        " - a.jpg Koordinaten gefunden:", " - 22.572720,88.363900 getaggt!",
                        " - Zeitzone aus dem Track: Asia/Kolkata",
                        " - b.jpg Koordinaten gefunden:", " - 22.572860,88.363900 getaggt!"}));
}

// ---- the other kinds: the names go into the sidecar, a camera clock is read in the track's zone

// A TIFF whose Exif directory holds the camera's shot time: the smallest TIFF-based RAW.
Bytes ShotTiff(const std::string& shot) {
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, shot)});
    return tiff.Build();
}

TEST_F(PlacesRun, NewSidecarOfARawHoldsThePositionAndThePlace) {
    WriteFileText(gpx_, GpxText({{"50.9375", "6.9603", "2024-06-15T08:00:00Z", std::nullopt}}));
    const Bytes raw = ShotTiff("2024:06:15 10:00:00");
    WriteFileBytes(photos_ / "a.cr2", raw);
    settings_.allPhotos = true;
    settings_.places = PlacesMode::fill;
    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_TRUE(BytesEqual(raw, ReadFileBytes(photos_ / "a.cr2")));
    EXPECT_EQ(ReadFileText(photos_ / "a.cr2.xmp"),
              "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
              " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
              "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\""
              " xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\""
              " xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">\n"
              "   <exif:GPSVersionID>2.3.0.0</exif:GPSVersionID>\n"
              "   <exif:GPSLatitude>50,56.25N</exif:GPSLatitude>\n"
              "   <exif:GPSLongitude>6,57.618E</exif:GPSLongitude>\n"
              "   <exif:GPSTimeStamp>2024-06-15T08:00:00.000Z</exif:GPSTimeStamp>\n"
              "   <photoshop:City>Köln</photoshop:City>\n"
              "   <photoshop:State>North Rhine-Westphalia</photoshop:State>\n"
              "   <photoshop:Country>Deutschland</photoshop:Country>\n"
              "   <Iptc4xmpCore:CountryCode>DE</Iptc4xmpCore:CountryCode>\n"
              "  </rdf:Description>\n"
              " </rdf:RDF>\n"
              "</x:xmpmeta>\n");
    ASSERT_EQ(observer_.reports.size(), 1U);
    EXPECT_EQ(observer_.reports[0].place, kCologne);
    EXPECT_EQ(session_.MapPageContent().photos.at(0).place, "Köln, Deutschland");
}

// A sidecar as an editor writes one, with a rating and the city given.
std::string EditorSidecar(std::string_view city, bool placed) {
    const std::string_view gps =
        "  <rdf:Description xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" rdf:about=\"\""
        " xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
        "   <exif:GPSVersionID>2.3.0.0</exif:GPSVersionID>\n"
        "   <exif:GPSLatitude>50,56.25N</exif:GPSLatitude>\n"
        "   <exif:GPSLongitude>6,57.618E</exif:GPSLongitude>\n"
        "   <exif:GPSTimeStamp>2024-06-15T08:00:00.000Z</exif:GPSTimeStamp>\n"
        "  </rdf:Description>\n";
    return std::string(
               "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
               " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
               "  <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
               "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"") +
           (placed ? " xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\"" : "") +
           ">\n"
           "   <xmp:Rating>4</xmp:Rating>\n"
           "   <photoshop:City>" +
           std::string(city) + "</photoshop:City>\n" +
           (placed ? "   <photoshop:State>North Rhine-Westphalia</photoshop:State>\n"
                     "   <photoshop:Country>Deutschland</photoshop:Country>\n"
                     "   <Iptc4xmpCore:CountryCode>DE</Iptc4xmpCore:CountryCode>\n"
                   : "") +
           "  </rdf:Description>\n" + (placed ? std::string(gps) : "") + " </rdf:RDF>\n</x:xmpmeta>\n";
}

// A sidecar that is there keeps every other property, and the city it names unless the names replace.
TEST_F(PlacesRun, ExistingSidecarKeepsItsPropertiesAndItsCityUnlessReplaced) {
    WriteFileText(gpx_, GpxText({{"50.9375", "6.9603", "2024-06-15T08:00:00Z", std::nullopt}}));
    WriteFileBytes(photos_ / "a.cr2", ShotTiff("2024:06:15 10:00:00"));
    settings_.allPhotos = true;
    for (const auto& [mode, city] :
         {std::pair{PlacesMode::fill, "Bonn"}, std::pair{PlacesMode::replace, "Köln"}}) {
        WriteFileText(photos_ / "a.cr2.xmp", EditorSidecar("Bonn", false));
        settings_.places = mode;
        ASSERT_EQ(Run(), RunResult::done);
        EXPECT_EQ(ReadFileText(photos_ / "a.cr2.xmp"), EditorSidecar(city, true)) << city;
    }
}

// A RAW that takes the position in itself gets no sidecar for the names; one it has gets them.
TEST_F(PlacesRun, RawInTheFileGetsThePlaceOnlyIntoASidecarItHas) {
    WriteFileText(gpx_, GpxText({{"50.9375", "6.9603", "2024-06-15T08:00:00Z", std::nullopt}}));
    const Bytes raw = ShotTiff("2024:06:15 10:00:00");
    WriteFileBytes(photos_ / "a.nef", raw);
    WriteFileBytes(photos_ / "b.nef", raw);
    WriteFileText(photos_ / "b.nef.xmp", EditorSidecar("Bonn", false));
    settings_.allPhotos = true;
    settings_.rawInFile = true;
    settings_.places = PlacesMode::fill;
    ASSERT_EQ(Run(), RunResult::done);
    EXPECT_FALSE(fs::exists(photos_ / "a.nef.xmp"));
    EXPECT_FALSE(BytesEqual(raw, ReadFileBytes(photos_ / "a.nef")));  // the position went into the file
    EXPECT_EQ(ReadFileText(photos_ / "b.nef.xmp"), EditorSidecar("Bonn", true));
    ASSERT_EQ(observer_.reports.size(), 2U);
    EXPECT_EQ(observer_.reports[0].place, kCologne);
    EXPECT_EQ(session_.MapPageContent().photos.at(0).place, "Köln, Deutschland");
}

// A RAW's camera clock is read in the zone of the track as a JPEG's is; the sidecar's time tells which.
TEST_F(PlacesRun, ZoneFromTheTrackForARawSidecar) {
    WriteFileText(gpx_, GpxText(DayAt(22.5726, 88.3639, "2024-01-10")));
    WriteFileBytes(photos_ / "a.cr2", ShotTiff("2024:01:10 12:00:00"));
    WriteFileBytes(photos_ / "b.cr2", ShotTiff("2024:01:12 12:00:00"));  // two days past the track
    settings_.allPhotos = true;
    settings_.zoneFromTrack = true;
    settings_.explain = true;
    ASSERT_EQ(Run(), RunResult::done);
    const std::string sidecar = ReadFileText(photos_ / "a.cr2.xmp");
    EXPECT_NE(sidecar.find("<exif:GPSTimeStamp>2024-01-10T06:30:00.000Z</exif:GPSTimeStamp>"),
              std::string::npos)
        << sidecar;
    const std::vector<std::string> tail(observer_.lines.begin() + 4, observer_.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        " - Zeitzone aus dem Track: Asia/Kolkata",
                        " - a.cr2 Koordinaten gefunden:", " - 22.572860,88.363900 getaggt!",
                        " - b.cr2 keine Koordinaten gefunden", std::string(" - ") + kNoPointForZone}));
    EXPECT_EQ(observer_.reports.at(0).zone, "Asia/Kolkata");
}

}  // namespace
}  // namespace zeloro::test
