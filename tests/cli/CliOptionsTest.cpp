// tests/cli/CliOptionsTest.cpp: the command line of zeloro-cli and its error report text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliObserver.h"
#include "cli/CliOptions.h"

namespace zeloro::cli {
namespace {

struct ZoneCase {
    std::string text;
    std::optional<int> want;
};

TEST(CliOptions, ZoneByIndexOrItemText) {
    const std::vector<ZoneCase> cases{
        {"0", 0},
        {"11", 11},
        {"23", 23},
        {"24", std::nullopt},
        {"-1", std::nullopt},
        {"013", 13},
        {"", std::nullopt},
        {"UTC", 11},
        {"UTC + 2:00", 13},
        {"utc+2:00", 13},
        {"UTC - 11:00", 0},
        {"UTC + 12:00", 23},
        {"UTC + 2", std::nullopt},
        {"UTC+02:00", std::nullopt},
        {"13 ", std::nullopt},
    };
    for (const ZoneCase& c : cases) {
        EXPECT_EQ(ParseZone(c.text), c.want) << "'" << c.text << "'";
    }
}

TEST(CliOptions, ToleranceIsZeroToFiveHundredWholeSeconds) {
    EXPECT_EQ(ParseTolerance("0"), 0);
    EXPECT_EQ(ParseTolerance("500"), 500);
    EXPECT_EQ(ParseTolerance("007"), 7);
    for (const char* bad : {"501", "-1", "+5", "1.5", "", " 5", "5s", "99999"}) {
        EXPECT_EQ(ParseTolerance(bad), std::nullopt) << bad;
    }
}

TEST(CliOptions, JobsIsOneToTheLimitInWholeNumbers) {
    EXPECT_EQ(ParseJobs("1"), 1);
    EXPECT_EQ(ParseJobs("8"), 8);
    EXPECT_EQ(ParseJobs(std::to_string(kMaxJobs)), kMaxJobs);
    for (const std::string& bad :
         std::vector<std::string>{"0", std::to_string(kMaxJobs + 1), "-1", "", "2x", "1.5"}) {
        EXPECT_EQ(ParseJobs(bad), std::nullopt) << bad;
    }
}

CliOptions Parsed(std::vector<std::string> args) {
    const ParseResult r = ParseCommandLine(args);
    if (const auto* problem = std::get_if<std::string>(&r)) {
        ADD_FAILURE() << *problem;
        return {};
    }
    return std::get<CliOptions>(r);
}

std::string Problem(std::vector<std::string> args) {
    const ParseResult r = ParseCommandLine(args);
    const auto* problem = std::get_if<std::string>(&r);
    return problem != nullptr ? *problem : "(accepted)";
}

TEST(CliOptions, EveryOptionReachesItsField) {
    const CliOptions o = Parsed({"--gpx", "t.gpx", "--photos", "p", "--zone", "UTC - 3:00", "--tolerance",
                                 "30", "--data-dir", "/d", "--map", "--keep", "--jobs", "3"});
    EXPECT_EQ(o.gpx, "t.gpx");
    EXPECT_EQ(o.photos, "p");
    EXPECT_EQ(o.zoneIndex, 8);
    EXPECT_EQ(o.tolerance, 30);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_EQ(o.dataDir, "/d/");  // the data folder always ends with its delimiter
    EXPECT_TRUE(o.map);
    EXPECT_TRUE(o.keep);
    EXPECT_FALSE(o.help);
}

TEST(CliOptions, OpenWritesThePageToo) {
    const CliOptions open = Parsed({"--open"});
    EXPECT_TRUE(open.open);
    EXPECT_TRUE(open.map);
    const CliOptions both = Parsed({"--map", "--open"});
    EXPECT_TRUE(both.open && both.map);
    const CliOptions map = Parsed({"--map"});
    EXPECT_TRUE(map.map);
    EXPECT_FALSE(map.open);
}

TEST(CliOptions, DefaultsLeaveTheChecksToTheRun) {
    const CliOptions o = Parsed({});
    EXPECT_EQ(o.gpx, "");
    EXPECT_EQ(o.photos, "");
    EXPECT_EQ(o.zoneIndex, std::nullopt);
    EXPECT_EQ(o.tolerance, 0);
    EXPECT_EQ(o.jobs, 0);  // one photo per core
    EXPECT_EQ(o.dataDir, std::nullopt);
    EXPECT_FALSE(o.map || o.open || o.keep || o.help);
    EXPECT_EQ(Parsed({"--data-dir", "/d/"}).dataDir, "/d/");
    EXPECT_TRUE(Parsed({"--help"}).help);
    EXPECT_TRUE(Parsed({"-h"}).help);
}

TEST(CliOptions, WrongCommandLinesAreNamed) {
    EXPECT_EQ(Problem({"--gpx"}), "Die Option --gpx verlangt einen Wert.");
    EXPECT_EQ(Problem({"--map", "--map"}), "Die Option --map ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--open", "--map", "--open"}), "Die Option --open ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--data-dir", "a", "--data-dir", "b"}),
              "Die Option --data-dir ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--data-dir", ""}), "Die Option --data-dir verlangt einen Ordner.");
    EXPECT_EQ(Problem({"--gpx=a"}), "Unbekannte Option '--gpx=a' (siehe --help).");
    EXPECT_EQ(Problem({"photos"}), "Unerwartetes Argument 'photos' (siehe --help).");
    EXPECT_EQ(
        Problem({"--zone", "x"}),
        "Ungültige Zeitzone 'x': erwartet wird ein Index von 0 bis 23, ein Eintrag wie \"UTC + 2:00\", ein "
        "Versatz wie \"+05:30\", ein Zonenname wie \"Europe/Berlin\" oder \"auto\".");
    EXPECT_EQ(Problem({"--places", "--places=replace"}), "Die Option --places ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--places=all"}),
              "Ungültiger Wert 'all' für --places: erlaubt ist nur --places=replace.");
    EXPECT_EQ(Problem({"--zone", "auto", "--zone", "13"}), "Die Option --zone ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--tolerance", "600"}),
              "Ungültige maximale Abweichung '600': erwartet wird eine ganze Zahl von 0 bis 500 Sekunden.");
    EXPECT_EQ(Problem({"--jobs", "0"}),
              "Ungültige Anzahl paralleler Fotos '0': erwartet wird eine ganze Zahl von 1 bis 256.");
    EXPECT_EQ(Problem({"--jobs", "2", "--jobs", "2"}), "Die Option --jobs ist mehrfach angegeben.");
}

TEST(CliOptions, WithoutTheNewOptionsTheSettingsStayAtTheirDefaults) {
    const CliOptions o = Parsed({"--gpx", "t.gpx", "--photos", "p", "--zone", "13", "--tolerance", "5"});
    EXPECT_FALSE(o.settings.ShiftsTime());
    EXPECT_FALSE(o.settings.NeedsTrackDetails());
    EXPECT_TRUE(o.settings.moreGpxPaths.empty());
}

TEST(CliOptions, TimeAndMatchingOptionsReachTheSettings) {
    const CliOptions o =
        Parsed({"--gpx", "a.gpx", "--gpx", "b.gpx", "--photos", "p", "--offset", "-01:30:00", "--zone",
                "Europe/Berlin", "--photo-zone", "--interpolate=120", "--altitude", "--gpx", "c.gpx"});
    EXPECT_EQ(o.gpx, "a.gpx");
    EXPECT_EQ(o.settings.moreGpxPaths, (std::vector<std::string>{"b.gpx", "c.gpx"}));
    EXPECT_EQ(o.settings.clockOffsetSeconds, -5400);
    EXPECT_EQ(o.zoneIndex, std::nullopt);
    ASSERT_TRUE(o.settings.zone.has_value());
    EXPECT_EQ(o.settings.zone->Name(), "Europe/Berlin");
    EXPECT_TRUE(o.settings.photoZone);
    EXPECT_EQ(o.settings.interpolateMaxGap, 120);
    EXPECT_TRUE(o.settings.altitude);
    EXPECT_EQ(Parsed({"--interpolate"}).settings.interpolateMaxGap, 60);
    EXPECT_EQ(Parsed({"--offset", "90"}).settings.clockOffsetSeconds, 90);
}

TEST(CliOptions, PlacesAndZoneFromTrackReachTheSettings) {
    EXPECT_EQ(Parsed({}).settings.places, PlacesMode::off);
    EXPECT_EQ(Parsed({"--places"}).settings.places, PlacesMode::fill);
    EXPECT_EQ(Parsed({"--places=replace"}).settings.places, PlacesMode::replace);
    const CliOptions o = Parsed({"--zone", "auto", "--places"});
    EXPECT_TRUE(o.settings.zoneFromTrack);
    EXPECT_TRUE(o.settings.NeedsPlaces());
    EXPECT_TRUE(o.settings.ShiftsTime());
    EXPECT_EQ(o.zoneIndex, std::nullopt);
    EXPECT_EQ(o.settings.zone, std::nullopt);
    EXPECT_FALSE(Parsed({"--zone", "13"}).settings.NeedsPlaces());
}

TEST(CliOptions, ZoneNoticeNamesTheDefaultItem) {
    EXPECT_EQ(ZoneDefaultNotice(12),
              "Hinweis: ohne --zone gilt die Zeitzone \"UTC + 1:00\" (Winterzeit am heutigen "
              "Tag, wie im Fenster beim Start); --zone auto nimmt die Zeitzone aus dem Track.");
    EXPECT_EQ(ZoneDefaultNotice(13),
              "Hinweis: ohne --zone gilt die Zeitzone \"UTC + 2:00\" (Sommerzeit am heutigen "
              "Tag, wie im Fenster beim Start); --zone auto nimmt die Zeitzone aus dem Track.");
}

struct ZoneOptionCase {
    std::string text;
    std::optional<int> index;   // a list item
    std::optional<int> offset;  // else a fixed offset, seconds east of UTC
};

TEST(CliOptions, ZoneOptionTakesListItemsOffsetsAndNames) {
    const std::vector<ZoneOptionCase> cases{
        {"13", 13, std::nullopt},
        {"UTC + 2:00", 13, std::nullopt},
        // Whole hours the list holds are that list item, so they shift exactly as the item does.
        {"+02:00", 13, std::nullopt},
        {"UTC-11", 0, std::nullopt},
        {"UTC + 5:30", std::nullopt, 19800},
        {"+05:45", std::nullopt, 20700},
        {"-03:30", std::nullopt, -12600},
        {"+14:00", std::nullopt, 50400},
    };
    for (const ZoneOptionCase& c : cases) {
        SCOPED_TRACE(c.text);
        const CliOptions o = Parsed({"--zone", c.text});
        EXPECT_EQ(o.zoneIndex, c.index);
        EXPECT_EQ(o.settings.zone.has_value(), c.offset.has_value());
        if (o.settings.zone && c.offset) {
            EXPECT_EQ(o.settings.zone->OffsetSecondsAt(0), *c.offset);
        }
    }
    const CliOptions named = Parsed({"--zone", "Asia/Kolkata"});
    ASSERT_TRUE(named.settings.zone.has_value());
    EXPECT_EQ(named.settings.zone->Name(), "Asia/Kolkata");
}

TEST(CliOptions, WrongTimeAndMatchingOptionsAreNamed) {
    EXPECT_EQ(Problem({"--offset", "1.5"}),
              "Ungültige Zeitkorrektur '1.5': erwartet werden Sekunden wie \"90\" oder \"-3600\" oder "
              "[+-]HH:MM:SS wie \"-01:30:00\".");
    EXPECT_EQ(Problem({"--offset"}), "Die Option --offset verlangt einen Wert.");
    EXPECT_EQ(Problem({"--offset", "1", "--offset", "2"}), "Die Option --offset ist mehrfach angegeben.");
    for (const char* gap : {"0", "86401", "x", "", "-5", "1.5"}) {
        EXPECT_EQ(Problem({std::string("--interpolate=") + gap}),
                  std::string("Ungültige größte Lücke '") + gap +
                      "' für --interpolate: erwartet wird eine ganze Zahl von 1 bis 86400 Sekunden.");
    }
    EXPECT_EQ(Parsed({"--interpolate=86400"}).settings.interpolateMaxGap, 86400);
    EXPECT_EQ(Problem({"--interpolate", "--interpolate=5"}),
              "Die Option --interpolate ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--photo-zone", "--photo-zone"}), "Die Option --photo-zone ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--altitude", "--altitude"}), "Die Option --altitude ist mehrfach angegeben.");
    // --interpolate takes its gap only after "="; a following argument is no value of it.
    EXPECT_EQ(Problem({"--interpolate", "30"}), "Unerwartetes Argument '30' (siehe --help).");
    EXPECT_TRUE(Problem({"--zone", "+15:00"}).starts_with("Ungültige Zeitzone '+15:00': "));
    EXPECT_TRUE(
        Problem({"--zone", "Mars/Olympus_Mons"}).starts_with("Ungültige Zeitzone 'Mars/Olympus_Mons': "));
}

TEST(CliOptions, PhotoKindOptionsReachTheSettings) {
    const CliOptions o = Parsed({"--all-photos", "--sidecar", "base", "--raw-in-file", "--keep-going"});
    EXPECT_TRUE(o.settings.allPhotos);
    EXPECT_EQ(o.settings.sidecar, SidecarNaming::base);
    EXPECT_TRUE(o.settings.rawInFile);
    EXPECT_TRUE(o.settings.keepGoing);
    EXPECT_TRUE(o.summary);  // the summary counts the photos that were skipped
    EXPECT_EQ(Parsed({"--all-photos", "--sidecar", "ext"}).settings.sidecar, SidecarNaming::extension);
    const CliOptions plain = Parsed({"--gpx", "t.gpx"});
    EXPECT_FALSE(plain.settings.allPhotos || plain.settings.rawInFile || plain.settings.keepGoing ||
                 plain.summary);
    EXPECT_EQ(plain.settings.sidecar, SidecarNaming::extension);
    EXPECT_EQ(Problem({"--all-photos", "--sidecar", "BASE"}),
              "Ungültige Art der Begleitdatei 'BASE': erwartet wird \"ext\" (NAME.EXT.xmp) oder \"base\" "
              "(NAME.xmp).");
    EXPECT_EQ(Problem({"--all-photos", "--sidecar", "ext", "--sidecar", "ext"}),
              "Die Option --sidecar ist mehrfach angegeben.");
    EXPECT_EQ(Problem({"--raw-in-file"}), "Die Option --raw-in-file gilt nur zusammen mit --all-photos.");
    EXPECT_EQ(Problem({"--keep-going", "--keep-going"}), "Die Option --keep-going ist mehrfach angegeben.");
    // A removal takes the position out of the RAW files the write puts it in.
    const CliOptions removal = Parsed({"--remove-gps", "--photos", "p", "--all-photos", "--raw-in-file"});
    EXPECT_TRUE(removal.removeGps && removal.settings.rawInFile);
    EXPECT_EQ(Problem({"--remove-gps", "--photos", "p", "--gpx", "t.gpx"}),
              "Die Option --remove-gps gilt nur mit --photos, --data-dir, --all-photos, --raw-in-file, "
              "--dry-run, --keep-mtime, --keep-going, --map, --open und --json.");
    const std::string help = UsageText();
    for (const char* option : {"--all-photos", "--sidecar ext|base", "--raw-in-file", "--keep-going"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(CliOptions, HelpShowsEachOptionWithAnExample) {
    const std::string help = UsageText();
    for (const char* example :
         {"--gpx tag1.gpx --gpx tag2.gpx", "--zone \"UTC + 5:30\"", "--zone +05:45", "--zone -03:30",
          "--zone Europe/Berlin", "--offset 90", "--offset -01:00:00", "--photo-zone --zone Europe/Berlin",
          "--interpolate=120", "--altitude)", "--tolerance N", "--data-dir ORDNER", "--map", "--keep",
          "--gpx fahrt.fit", "--gpx - < log.nmea", "--track DATEI",
          "--track-format garmin_gpi --gpx ziele.gpi"}) {
        EXPECT_NE(help.find(example), std::string::npos) << example;
    }
}

TEST(CliOptions, ErrorReportAddsAFullStopAfterCharactersSortingAfterIt) {
    EXPECT_EQ(ErrorReportText("JPEG header is not valid"), "JPEG header is not valid.");
    EXPECT_EQ(ErrorReportText("no such table: gpx"), "no such table: gpx.");
    EXPECT_EQ(ErrorReportText("Fehler bei Bereichsprüfung"), "Fehler bei Bereichsprüfung.");
    EXPECT_EQ(ErrorReportText("Datei x kann nicht geöffnet werden. No such file or directory"),
              "Datei x kann nicht geöffnet werden. No such file or directory.");
    EXPECT_EQ(ErrorReportText("'1,2,3' ist kein gültiger Gleitkommawert"),
              "'1,2,3' ist kein gültiger Gleitkommawert.");
    // "." itself and what sorts before it ("!", ")", ",", "-") get nothing.
    for (const char* keep : {"Ende.", "Achtung!", "(x)", "a,", "a-", ""}) {
        EXPECT_EQ(ErrorReportText(keep), keep);
    }
    EXPECT_EQ(ErrorReportText("Zeile 3:"), "Zeile 3:.");  // ":" sorts after "."
}

// What the observer prints for the end of a stopped run: the log line in the log, an object of its own in
// JSON mode, which shows no log line; never both.
TEST(CliObserver, StopShowsOnceInEachOutputMode) {
    const std::string line = "10.12.2026 11:00:00 - Lauf abgebrochen: 1 von 2 Bildern bearbeitet.";
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "log");
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = ::open_memstream(&text, &size);
        ASSERT_NE(out, nullptr);
        {
            CliObserver observer(out, stderr, false, false);
            observer.SetJson(json);
            observer.AppendLine(line);
            observer.RunStopped(1, 2, "Lauf abgebrochen: 1 von 2 Bildern bearbeitet.");
        }
        std::fclose(out);
        const std::string printed(text, size);
        std::free(text);
        EXPECT_EQ(printed, json ? "{\"stopped\":{\"done\":1,\"message\":\"Lauf abgebrochen: 1 von 2 Bildern "
                                  "bearbeitet.\",\"total\":2}}\n"
                                : line + "\n");
    }
}

}  // namespace
}  // namespace zeloro::cli
