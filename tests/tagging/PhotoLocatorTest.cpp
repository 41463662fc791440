// tests/tagging/PhotoLocatorTest.cpp: a shot time to UTC under the run's settings (clock offset, zones,
// the photo's stored offset), reading that offset from the photo, and the altitude tags.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "SamplePhoto.h"
#include "metadata/ExifData.h"
#include "support/TestSupport.h"
#include "tagging/PhotoLocator.h"
#include "time/TimeRules.h"

namespace zeloro {
namespace {

DateTimeValue At(std::string_view text) { return test::TimeFromText(text); }

struct UtcCase {
    std::string name;
    std::string shot;
    std::int64_t clockOffset;
    std::optional<std::string> zone;  // --zone beyond the list; else the list index below
    int zoneIndex;
    bool photoZone;
    std::optional<int> stored;  // the photo's stored offset
    std::string utc;
};

void PrintTo(const UtcCase& c, std::ostream* os) { *os << c.name; }

class ShotToUtc : public ::testing::TestWithParam<UtcCase> {};

TEST_P(ShotToUtc, MatchesTable) {
    const UtcCase& c = GetParam();
    RunSettings settings;
    settings.clockOffsetSeconds = c.clockOffset;
    settings.photoZone = c.photoZone;
    if (c.zone) {
        settings.zone = CameraZone::Parse(*c.zone);
        ASSERT_TRUE(settings.zone.has_value()) << *c.zone;
    }
    EXPECT_EQ(DateTimeText(ShotTimeToUtc(At(c.shot), c.stored, c.zoneIndex, settings)), c.utc);
}

INSTANTIATE_TEST_SUITE_P(
    PhotoLocator, ShotToUtc,
    ::testing::Values(
        UtcCase{"NothingSetIsTheListZone", "2024-06-15 10:00:00", 0, std::nullopt, 13, false, std::nullopt,
                "2024-06-15 08:00:00"},
        // The clock offset is added before the zone; it carries over midnight and the month's end.
        UtcCase{"OffsetAcrossMidnight", "2024-06-15 23:59:30", 90, std::nullopt, kZoneIndexUtc, false,
                std::nullopt, "2024-06-16 00:01:00"},
        UtcCase{"OffsetAcrossMonthEnd", "2024-01-31 23:59:30", 90, std::nullopt, kZoneIndexUtc, false,
                std::nullopt, "2024-02-01 00:01:00"},
        UtcCase{"NegativeOffsetBackIntoLeapDay", "2024-03-01 00:00:30", -60, std::nullopt, kZoneIndexUtc,
                false, std::nullopt, "2024-02-29 23:59:30"},
        UtcCase{"HourOffsetIntoNextYear", "2024-12-31 23:30:00", 3600, std::nullopt, kZoneIndexUtc, false,
                std::nullopt, "2025-01-01 00:30:00"},
        UtcCase{"OffsetThenListZone", "2024-06-15 10:00:00", -3600, std::nullopt, 13, false, std::nullopt,
                "2024-06-15 07:00:00"},
        UtcCase{"OffsetThenFixedZoneAcrossMidnight", "2024-06-16 05:00:00", 1800, "UTC + 5:30", 13, false,
                std::nullopt, "2024-06-16 00:00:00"},
        // The named zone's offset is taken for the corrected time: 01:59 + 2 min is 02:01, in the hour
        // skipped on 31 March 2024, read with the winter offset.
        UtcCase{"OffsetMovesIntoTheSkippedHour", "2024-03-31 01:59:00", 120, "Europe/Berlin", 13, false,
                std::nullopt, "2024-03-31 01:01:00"},
        UtcCase{"NamedZoneReplacesTheList", "2024-01-15 10:00:00", 0, "Europe/Berlin", 13, false,
                std::nullopt, "2024-01-15 09:00:00"},
        // A photo that stores "+05:30" uses it; one without falls back to the zone.
        UtcCase{"StoredOffsetWins", "2024-06-15 13:30:00", 0, "Europe/Berlin", 13, true, 19800,
                "2024-06-15 08:00:00"},
        UtcCase{"StoredOffsetAfterClockOffset", "2024-06-15 13:29:00", 60, std::nullopt, 13, true, 19800,
                "2024-06-15 08:00:00"},
        UtcCase{"NoStoredOffsetUsesTheZone", "2024-06-15 10:00:00", 0, std::nullopt, 13, true, std::nullopt,
                "2024-06-15 08:00:00"},
        UtcCase{"StoredOffsetIgnoredWithoutPhotoZone", "2024-06-15 13:30:00", 0, std::nullopt, 13, false,
                19800, "2024-06-15 11:30:00"}),
    [](const auto& p) { return p.param.name; });

struct ZoneTextCase {
    std::string name;
    std::string local;
    std::optional<std::string> zone;  // --zone beyond the list; else the list index below
    int zoneIndex;
    bool photoZone;
    std::optional<int> stored;
    std::string text;
};

void PrintTo(const ZoneTextCase& c, std::ostream* os) { *os << c.name; }

class ShotZone : public ::testing::TestWithParam<ZoneTextCase> {};

// The popup names the zone the shot time was read in to match the photo, by the same precedence.
TEST_P(ShotZone, MatchesTable) {
    const ZoneTextCase& c = GetParam();
    RunSettings settings;
    settings.photoZone = c.photoZone;
    if (c.zone) {
        settings.zone = CameraZone::Parse(*c.zone);
        ASSERT_TRUE(settings.zone.has_value()) << *c.zone;
    }
    EXPECT_EQ(ShotZoneText(At(c.local), c.stored, c.zoneIndex, settings), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    PhotoLocator, ShotZone,
    ::testing::Values(
        ZoneTextCase{"ListZone", "2024-06-15 10:00:00", std::nullopt, 13, false, std::nullopt, "UTC + 2:00"},
        ZoneTextCase{"NoListItem", "2024-06-15 10:00:00", std::nullopt, -1, false, std::nullopt, ""},
        ZoneTextCase{"FreeOffset", "2024-06-15 10:00:00", "+05:30", 13, false, std::nullopt, "UTC + 5:30"},
        ZoneTextCase{"NamedZoneInSummer", "2024-06-15 10:00:00", "Europe/Berlin", 11, false, std::nullopt,
                     "Europe/Berlin, UTC + 2:00"},
        ZoneTextCase{"StoredOffsetWins", "2024-06-15 13:30:00", "Europe/Berlin", 13, true, 19800,
                     "UTC + 5:30"},
        ZoneTextCase{"NoStoredOffsetUsesTheZone", "2024-06-15 10:00:00", "Europe/Berlin", 13, true,
                     std::nullopt, "Europe/Berlin, UTC + 2:00"},
        ZoneTextCase{"StoredOffsetIgnoredWithoutPhotoZone", "2024-06-15 13:30:00", std::nullopt, 13, false,
                     19800, "UTC + 2:00"}),
    [](const auto& p) { return p.param.name; });

TEST(PhotoLocator, ListZoneWithoutOtherSettingsIsBitForBitTheListShift) {
    const DateTimeValue shot = At("2024-06-15 10:00:00") + 0.3 / 86400;
    for (int index = -1; index <= kZoneCount; ++index) {
        EXPECT_EQ(ShotTimeToUtc(shot, std::nullopt, index, RunSettings{}), makeUTCDifference(shot, index));
    }
}

struct StoredCase {
    std::string name;
    std::optional<std::string> original;
    std::optional<std::string> plain;
    std::optional<int> want;
};

void PrintTo(const StoredCase& c, std::ostream* os) { *os << c.name; }

class StoredOffsetOfPhoto : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredOffsetOfPhoto, OffsetTimeOriginalElseOffsetTime) {
    const StoredCase& c = GetParam();
    for (const bool bigEndian : {false, true}) {
        sample::PhotoSpec spec;
        spec.width = 16;
        spec.height = 16;
        spec.dateTimeOriginal = "2024:06:15 13:30:00";
        spec.offsetTimeOriginal = c.original;
        spec.offsetTime = c.plain;
        spec.bigEndian = bigEndian;
        const sample::ByteVector photo = sample::MakePhoto(spec);
        TExifData exif;
        exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
        EXPECT_EQ(StoredPhotoOffset(exif), c.want) << (bigEndian ? "MM" : "II");
    }
}

INSTANTIATE_TEST_SUITE_P(PhotoLocator, StoredOffsetOfPhoto,
                         ::testing::Values(StoredCase{"India", "+05:30", std::nullopt, 19800},
                                           StoredCase{"OnlyOffsetTime", std::nullopt, "-03:30", -12600},
                                           StoredCase{"OriginalBeforeOffsetTime", "+05:45", "+01:00", 20700},
                                           StoredCase{"BlankOriginalFallsBack", "   :  ", "+01:00", 3600},
                                           StoredCase{"NeitherReadable", "   :  ", "junk", std::nullopt},
                                           StoredCase{"None", std::nullopt, std::nullopt, std::nullopt}),
                         [](const auto& p) { return p.param.name; });

struct AltitudeCase {
    std::string name;
    long double metres;
    std::optional<TTiffLongWordFraction> altitude;  // nullopt: nothing written
    TGPSAltitudeRef ref;
};

void PrintTo(const AltitudeCase& c, std::ostream* os) { *os << c.name; }

class AltitudeTags : public ::testing::TestWithParam<AltitudeCase> {};

TEST_P(AltitudeTags, MatchTable) {
    const AltitudeCase& c = GetParam();
    sample::PhotoSpec spec;
    spec.width = 16;
    spec.height = 16;
    const sample::ByteVector photo = sample::MakePhoto(spec);
    TExifData exif;
    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
    WriteAltitude(exif, c.metres);
    EXPECT_EQ(exif.GPSAltitudeRef(), c.ref);
    EXPECT_EQ(exif.GPSAltitude(), c.altitude.value_or(TTiffLongWordFraction()));
}

INSTANTIATE_TEST_SUITE_P(
    PhotoLocator, AltitudeTags,
    ::testing::Values(AltitudeCase{"WholeMetres", 395, TTiffLongWordFraction(395, 1), alAboveSeaLevel},
                      AltitudeCase{"Centimetres", 395.25L, TTiffLongWordFraction(39525, 100),
                                   alAboveSeaLevel},
                      AltitudeCase{"BelowSeaLevel", -12.5L, TTiffLongWordFraction(125, 10), alBelowSeaLevel},
                      AltitudeCase{"DeadSeaShore", -430.4L, TTiffLongWordFraction(4304, 10), alBelowSeaLevel},
                      AltitudeCase{"SeaLevel", 0, TTiffLongWordFraction(0, 1), alAboveSeaLevel},
                      AltitudeCase{"RoundsToSeaLevel", -0.004L, TTiffLongWordFraction(0, 1), alAboveSeaLevel},
                      AltitudeCase{"TooHighForARational", 1e12L, std::nullopt, alTagMissing},
                      AltitudeCase{"NotANumber", std::numeric_limits<long double>::quiet_NaN(), std::nullopt,
                                   alTagMissing}),
    [](const auto& p) { return p.param.name; });

TEST(PhotoLocator, AltitudeUpdatesOnlyTheXmpPropertiesThatExist) {
    sample::PhotoSpec spec;
    spec.width = 16;
    spec.height = 16;
    const sample::ByteVector photo = sample::MakePhoto(spec);
    TExifData exif;
    exif.LoadFromJPEG(std::span<const std::uint8_t>(photo));
    TXMPPacket& xmp = exif.XMPPacket();
    // A packet that another program left with an altitude but without its reference.
    xmp.SetUpdatePolicy(xwAlwaysUpdate);
    xmp.UpdateProperty(xsExif, "GPSAltitude", "100/1");
    xmp.SetUpdatePolicy(xwUpdateIfExists);
    WriteAltitude(exif, -12.5L);
    const TXMPSchema* schema = xmp.FindSchema(xsExif);
    ASSERT_NE(schema, nullptr);
    ASSERT_NE(schema->FindProperty("GPSAltitude"), nullptr);
    EXPECT_EQ(schema->FindProperty("GPSAltitude")->ReadValue(), "125/10");
    EXPECT_EQ(schema->FindProperty("GPSAltitudeRef"), nullptr);  // nothing is added
    WriteAltitude(exif, 395);
    EXPECT_EQ(schema->FindProperty("GPSAltitude")->ReadValue(), "395/1");
}

}  // namespace
}  // namespace zeloro
