// tests/tagging/ClockMatchTest.cpp: the camera's clock offset from a photo of a clock, and its text for the
// offset field.
#include <filesystem>
#include <optional>
#include <string>

#include "MetadataBuilders.h"
#include "SamplePhoto.h"
#include "common/DateTime.h"
#include "common/Error.h"
#include "support/TestSupport.h"
#include "tagging/ClockMatch.h"
#include "tagging/PhotoLocator.h"
#include "time/CameraZone.h"
#include "time/TimeRules.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

Bytes Photo(std::optional<std::string> shot, std::optional<std::string> offset = std::nullopt) {
    sample::PhotoSpec spec;
    spec.width = 16;
    spec.height = 16;
    spec.dateTimeOriginal = std::move(shot);
    spec.offsetTimeOriginal = std::move(offset);
    return sample::MakePhoto(spec);
}

struct ClockCase {
    std::string name;
    std::string shot;  // the camera clock in the photo's EXIF block
    std::optional<std::string> stored;
    int zoneIndex;           // the run's list zone
    std::string cameraZone;  // the run's zone setting ("" none)
    bool photoZone;
    DateTimeValue shown;  // what the photographed clock shows
    std::string shownZone;
    std::int64_t wantOffset;
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.name; }

class ClockMatchTable : public ::testing::TestWithParam<ClockCase> {};

DateTimeValue At(int year, int month, int day, int hour, int minute, int second) {
    return EncodeDateTime(year, month, day, hour, minute, second, 0);
}

TEST_P(ClockMatchTable, OffsetMakesTheShotTheClocksTime) {
    const ClockCase& c = GetParam();
    TempDir tmp;
    const fs::path photo = tmp / "clock.jpg";
    WriteFileBytes(photo, Photo(c.shot, c.stored));
    RunInputs inputs;
    inputs.zoneIndex = c.zoneIndex;
    RunSettings settings;
    if (!c.cameraZone.empty()) {
        settings.zone = CameraZone::Parse(c.cameraZone);
        ASSERT_TRUE(settings.zone);
    }
    settings.photoZone = c.photoZone;
    settings.clockOffsetSeconds = 12345;  // the offset in force is replaced, not added to
    const std::optional<CameraZone> shownZone = CameraZone::Parse(c.shownZone);
    ASSERT_TRUE(shownZone);

    const ClockMatch match = MatchClock(photo.string(), c.shown, *shownZone, inputs, settings);
    EXPECT_EQ(match.offsetSeconds, c.wantOffset);
    EXPECT_EQ(match.photoName, "clock.jpg");
    // A run with the offset takes the shot as the clock's own time.
    settings.clockOffsetSeconds = match.offsetSeconds;
    const std::optional<int> stored = c.stored ? ParseStoredOffset(*c.stored) : std::nullopt;
    EXPECT_EQ(DateTimeText(ShotTimeToUtc(match.shotTime, stored, inputs.zoneIndex, settings)),
              DateTimeText(shownZone->ToUtc(c.shown)));
}

INSTANTIATE_TEST_SUITE_P(
    ClockMatch, ClockMatchTable,
    ::testing::Values(
        // 90 s slow in UTC + 2:00: the shot says 09:58:30 when the device in UTC says 08:00:00.
        ClockCase{"SlowCameraDeviceInUtc", "2024:06:15 09:58:30", std::nullopt, kZoneIndexSummer, "", false,
                  At(2024, 6, 15, 8, 0, 0), "UTC", 90},
        ClockCase{"SlowCameraPhoneInCameraZone", "2024:06:15 09:58:30", std::nullopt, kZoneIndexSummer, "",
                  false, At(2024, 6, 15, 10, 0, 0), "UTC + 2:00", 90},
        ClockCase{"FastCamera", "2024:06:15 10:01:00", std::nullopt, kZoneIndexSummer, "", false,
                  At(2024, 6, 15, 8, 0, 0), "UTC", -60},
        // Berlin in summer is two hours ahead of UTC, in winter one.
        ClockCase{"NamedZoneSummer", "2024:06:15 09:58:30", std::nullopt, kZoneIndexWinter, "Europe/Berlin",
                  false, At(2024, 6, 15, 8, 0, 0), "UTC", 90},
        ClockCase{"NamedZoneWinter", "2024:01:15 08:58:30", std::nullopt, kZoneIndexSummer, "Europe/Berlin",
                  false, At(2024, 1, 15, 8, 0, 0), "UTC", 90},
        ClockCase{"PhoneInNamedZoneSummer", "2024:06:15 09:58:30", std::nullopt, kZoneIndexWinter,
                  "Europe/Berlin", false, At(2024, 6, 15, 10, 0, 0), "Europe/Berlin", 90},
        // The camera still on winter time at 01:00 of the changeover night, the clock shows 02:00 UTC
        // (04:00 summer time): three hours, not the two the winter offset alone would give.
        ClockCase{"AcrossTheChangeToSummerTime", "2024:03:31 01:00:00", std::nullopt, kZoneIndexWinter,
                  "Europe/Berlin", false, At(2024, 3, 31, 2, 0, 0), "UTC", 3 * 3600},
        ClockCase{"StoredOffsetOfThePhoto", "2024:06:15 13:31:00", "+05:30", kZoneIndexSummer, "", true,
                  At(2024, 6, 15, 8, 0, 0), "UTC", -60},
        ClockCase{"StoredOffsetUnusedWithoutPhotoZone", "2024:06:15 13:31:00", "+05:30", kZoneIndexSummer, "",
                  false, At(2024, 6, 15, 8, 0, 0), "UTC", 2 * 3600 - 5 * 3600 - 31 * 60},
        ClockCase{"DaysOff", "2024:06:13 10:00:00", std::nullopt, kZoneIndexSummer, "", false,
                  At(2024, 6, 15, 8, 0, 0), "UTC", 2 * 86400}),
    [](const auto& p) { return p.param.name; });

struct FailCase {
    std::string name;
    std::optional<Bytes> content;  // nullopt: no file
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class ClockMatchFails : public ::testing::TestWithParam<FailCase> {};

TEST_P(ClockMatchFails, NamesThePhoto) {
    TempDir tmp;
    const fs::path photo = tmp / "Uhr 1.jpg";
    if (GetParam().content) {
        WriteFileBytes(photo, *GetParam().content);
    }
    const std::optional<CameraZone> utc = CameraZone::Parse("UTC");
    ASSERT_TRUE(utc);
    try {
        static_cast<void>(
            MatchClock(photo.string(), At(2024, 6, 15, 8, 0, 0), *utc, RunInputs{}, RunSettings{}));
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Uhr 1.jpg ", 0), 0U) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(ClockMatch, ClockMatchFails,
                         ::testing::Values(FailCase{"NoShotTime", Photo(std::nullopt)},
                                           FailCase{"Missing", std::nullopt},
                                           FailCase{"NoPhoto", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p'}}),
                         [](const auto& p) { return p.param.name; });

TEST(ClockMatch, NoShotTimeSaysSo) {
    TempDir tmp;
    WriteFileBytes(tmp / "a.jpg", Photo(std::nullopt));
    try {
        static_cast<void>(MatchClock((tmp / "a.jpg").string(), At(2024, 6, 15, 8, 0, 0),
                                     CameraZone::FromListIndex(kZoneIndexUtc), RunInputs{}, RunSettings{}));
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "a.jpg hat keine Aufnahmezeit; die Uhrzeit der Kamera ist daraus nicht abzulesen.");
    }
}

// A TIFF-based RAW is read as the run reads it: only when the run takes every kind.
TEST(ClockMatch, RawOnlyWithEveryKind) {
    TempDir tmp;
    TiffBuilder tiff;
    tiff.AddDirectory({tiff.Pointer(0x8769, 1)});
    tiff.AddDirectory({tiff.Text(0x9003, "2024:06:15 09:58:30")});
    WriteFileBytes(tmp / "IMG_1.dng", tiff.Build());
    const std::string path = (tmp / "IMG_1.dng").string();
    const CameraZone utc = CameraZone::FromListIndex(kZoneIndexUtc);
    RunInputs inputs;
    inputs.zoneIndex = kZoneIndexSummer;
    RunSettings settings;
    EXPECT_THROW(static_cast<void>(MatchClock(path, At(2024, 6, 15, 8, 0, 0), utc, inputs, settings)), Error);
    settings.allPhotos = true;
    const ClockMatch match = MatchClock(path, At(2024, 6, 15, 8, 0, 0), utc, inputs, settings);
    EXPECT_EQ(match.offsetSeconds, 90);
    EXPECT_EQ(DateTimeText(match.shotTime), DateTimeText(At(2024, 6, 15, 9, 58, 30)));
}

struct TextCase {
    std::int64_t seconds;
    std::string text;
};

class OffsetText : public ::testing::TestWithParam<TextCase> {};

TEST_P(OffsetText, IsWhatTheOffsetFieldReadsBack) {
    EXPECT_EQ(ClockOffsetText(GetParam().seconds), GetParam().text);
    EXPECT_EQ(ParseClockOffset(ClockOffsetText(GetParam().seconds)), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(ClockMatch, OffsetText,
                         ::testing::Values(TextCase{90, "+0:01:30"}, TextCase{-3600, "-1:00:00"},
                                           TextCase{0, "+0:00:00"}, TextCase{2 * 86400 + 59, "+48:00:59"},
                                           TextCase{-kLargestClockOffsetSeconds, "-277777:46:39"}));

}  // namespace
}  // namespace zeloro::test
