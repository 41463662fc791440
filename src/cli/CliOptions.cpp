// src/cli/CliOptions.cpp: parsing the command line of zeloro-cli.
#include "cli/CliOptions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "common/AsciiText.h"
#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "tagging/FrontEnd.h"

namespace zeloro::cli {
namespace {

std::optional<int> SmallDecimal(std::string_view text, int maximum, std::size_t maxDigits = 4) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > maximum) {
        return std::nullopt;
    }
    return value;
}

// Upper case without any blank, so "utc+2:00" and "UTC + 2:00" compare alike.
std::string Compact(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '\t') {
            out += AsciiUpper(c);
        }
    }
    return out;
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    quoted += text;
    quoted += '\'';
    return quoted;
}

// Why the GPX file cannot be imported, or nullopt. Opened without waiting and looked at through the open
// file: a FIFO would hold the open until a writer came, and a device could hand out bytes without end.
std::optional<std::string> GpxFileProblem(const std::string& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        const int error = errno;
        // A socket cannot be opened at all; the name says what it is.
        if (error == ENXIO && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            return "Die GPX-Datei " + Quoted(path) + " ist keine reguläre Datei.";
        }
        return "Die GPX-Datei " + Quoted(path) + " kann nicht gelesen werden: " + ReasonText(error) + ".";
    }
    if (S_ISDIR(st.st_mode)) {
        return "Die GPX-Datei " + Quoted(path) + " ist ein Ordner.";
    }
    if (!S_ISREG(st.st_mode)) {
        return "Die GPX-Datei " + Quoted(path) + " ist keine reguläre Datei.";
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> ParseZone(std::string_view text) {
    if (auto index = SmallDecimal(text, kZoneCount - 1)) {
        return index;
    }
    const std::string wanted = Compact(text);
    if (wanted.empty()) {
        return std::nullopt;
    }
    const auto& items = ZoneItems();
    for (int i = 0; i < kZoneCount; ++i) {
        if (Compact(items[static_cast<std::size_t>(i)]) == wanted) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<int> ParseTolerance(std::string_view text) { return SmallDecimal(text, 500); }

std::optional<int> ParseJobs(std::string_view text) {
    const auto jobs = SmallDecimal(text, kMaxJobs);
    return jobs && *jobs >= 1 ? jobs : std::nullopt;
}

std::optional<int> ParseInterpolationGap(std::string_view text) {
    const std::optional<int> gap = SmallDecimal(text, kLargestInterpolationGap, 5);
    if (gap && *gap == 0) {
        return std::nullopt;
    }
    return gap;
}

ParseResult ParseCommandLine(std::span<const std::string> args) {
    CliOptions options;
    bool seenGpx = false;
    bool seenPhotos = false;
    bool seenZone = false;
    bool seenTolerance = false;
    bool seenJobs = false;
    bool seenMap = false;
    bool seenOffset = false;
    bool seenSidecar = false;
    std::optional<std::string> trackFormat;  // for the next --gpx
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        bool* switchFlag = arg == "--map"           ? &seenMap
                           : arg == "--open"        ? &options.open
                           : arg == "--keep"        ? &options.keep
                           : arg == "--photo-zone"  ? &options.settings.photoZone
                           : arg == "--altitude"    ? &options.settings.altitude
                           : arg == "--dry-run"     ? &options.modes.dryRun
                           : arg == "--skip-tagged" ? &options.modes.skipTagged
                           : arg == "--keep-mtime"  ? &options.modes.keepMtime
                           : arg == "--json"        ? &options.json
                           : arg == "--summary"     ? &options.summary
                           : arg == "--explain"     ? &options.settings.explain
                           : arg == "--all-photos"  ? &options.settings.allPhotos
                           : arg == "--raw-in-file" ? &options.settings.rawInFile
                           : arg == "--keep-going"  ? &options.settings.keepGoing
                           : arg == "--undo"        ? &options.undo
                           : arg == "--remove-gps"  ? &options.removeGps
                                                    : nullptr;
        if (switchFlag != nullptr) {
            bool& flag = *switchFlag;
            if (flag) {
                return "Die Option " + arg + " ist mehrfach angegeben.";
            }
            flag = true;
            continue;
        }
        if (arg == "--places" || arg.starts_with("--places=")) {
            if (options.settings.places != PlacesMode::off) {
                return "Die Option --places ist mehrfach angegeben.";
            }
            if (arg == "--places") {
                options.settings.places = PlacesMode::fill;
            } else if (arg == "--places=replace") {
                options.settings.places = PlacesMode::replace;
            } else {
                return "Ungültiger Wert " +
                       Quoted(std::string_view(arg).substr(std::string_view("--places=").size())) +
                       " für --places: erlaubt ist nur --places=replace.";
            }
            continue;
        }
        if (arg == "--interpolate" || arg.starts_with("--interpolate=")) {
            if (options.settings.interpolateMaxGap) {
                return "Die Option --interpolate ist mehrfach angegeben.";
            }
            options.settings.interpolateMaxGap = kDefaultInterpolationGap;
            if (arg != "--interpolate") {
                const std::string_view gap =
                    std::string_view(arg).substr(std::string_view("--interpolate=").size());
                options.settings.interpolateMaxGap = ParseInterpolationGap(gap);
                if (!options.settings.interpolateMaxGap) {
                    return "Ungültige größte Lücke " + Quoted(gap) +
                           " für --interpolate: erwartet wird eine ganze Zahl von 1 bis 86400 Sekunden.";
                }
            }
            continue;
        }
        const bool takesValue = arg == "--gpx" || arg == "--track" || arg == "--track-format" ||
                                arg == "--photos" || arg == "--zone" || arg == "--tolerance" ||
                                arg == "--data-dir" || arg == "--offset" || arg == "--jobs" ||
                                arg == "--sidecar";
        if (!takesValue) {
            if (arg.starts_with("-")) {
                return "Unbekannte Option " + Quoted(arg) + " (siehe --help).";
            }
            return "Unerwartetes Argument " + Quoted(arg) + " (siehe --help).";
        }
        if (i + 1 >= args.size()) {
            return "Die Option " + arg + " verlangt einen Wert.";
        }
        const std::string& value = args[++i];
        bool* seen = nullptr;
        if (arg == "--track-format") {
            if (trackFormat) {
                return "Die Option --track-format ist vor einer --gpx-Datei mehrfach angegeben.";
            }
            if (value.empty() || value[0] == '-') {
                return "Ungültiges Format " + Quoted(value) +
                       " für --track-format: erwartet wird ein Formatname von gpsbabel wie \"garmin_gpi\".";
            }
            trackFormat = value;
            continue;
        }
        if (arg == "--gpx" || arg == "--track") {
            // The format named before a file is that file's alone.
            const std::size_t file = seenGpx ? options.settings.moreGpxPaths.size() + 1 : 0;
            if (trackFormat) {
                options.settings.gpsbabelFormats.resize(file + 1);
                options.settings.gpsbabelFormats[file] = *std::exchange(trackFormat, std::nullopt);
            }
            // Every further file is imported after the first, before the photos are matched.
            if (seenGpx) {
                options.settings.moreGpxPaths.push_back(value);
                continue;
            }
            seen = &seenGpx;
            options.gpx = value;
        } else if (arg == "--photos") {
            seen = &seenPhotos;
            options.photos = value;
        } else if (arg == "--zone") {
            seen = &seenZone;
            options.zoneIndex = ParseZone(value);
            if (value == "auto") {
                options.settings.zoneFromTrack = true;
            } else if (!options.zoneIndex) {
                const std::optional<CameraZone> zone = CameraZone::Parse(value);
                if (!zone) {
                    return "Ungültige Zeitzone " + Quoted(value) +
                           ": erwartet wird ein Index von 0 bis 23, ein Eintrag wie \"UTC + 2:00\", ein "
                           "Versatz wie \"+05:30\", ein Zonenname wie \"Europe/Berlin\" oder \"auto\".";
                }
                // A whole-hour offset of the list is that list item, so it shifts exactly as the item does.
                options.zoneIndex = zone->ListIndex();
                if (!options.zoneIndex) {
                    options.settings.zone = zone;
                }
            }
        } else if (arg == "--offset") {
            seen = &seenOffset;
            const std::optional<std::int64_t> offset = ParseClockOffset(value);
            if (!offset) {
                return "Ungültige Zeitkorrektur " + Quoted(value) +
                       ": erwartet werden Sekunden wie \"90\" oder \"-3600\" oder [+-]HH:MM:SS wie "
                       "\"-01:30:00\".";
            }
            options.settings.clockOffsetSeconds = *offset;
        } else if (arg == "--tolerance") {
            seen = &seenTolerance;
            const auto tolerance = ParseTolerance(value);
            if (!tolerance) {
                return "Ungültige maximale Abweichung " + Quoted(value) +
                       ": erwartet wird eine ganze Zahl von 0 bis 500 Sekunden.";
            }
            options.tolerance = *tolerance;
        } else if (arg == "--sidecar") {
            seen = &seenSidecar;
            if (value == "ext") {
                options.settings.sidecar = SidecarNaming::extension;
            } else if (value == "base") {
                options.settings.sidecar = SidecarNaming::base;
            } else {
                return "Ungültige Art der Begleitdatei " + Quoted(value) +
                       ": erwartet wird \"ext\" (NAME.EXT.xmp) oder \"base\" (NAME.xmp).";
            }
        } else if (arg == "--jobs") {
            seen = &seenJobs;
            const auto jobs = ParseJobs(value);
            if (!jobs) {
                return "Ungültige Anzahl paralleler Fotos " + Quoted(value) +
                       ": erwartet wird eine ganze Zahl von 1 bis " + std::to_string(kMaxJobs) + ".";
            }
            options.jobs = *jobs;
        } else {
            if (options.dataDir) {
                return "Die Option --data-dir ist mehrfach angegeben.";
            }
            if (value.empty()) {
                return "Die Option --data-dir verlangt einen Ordner.";
            }
            options.dataDir = value.back() == '/' ? value : value + "/";
            continue;
        }
        if (*seen) {
            return "Die Option " + arg + " ist mehrfach angegeben.";
        }
        *seen = true;
    }
    // Sidecars and RAW files are written only for the kinds that --all-photos lists.
    if (!options.settings.allPhotos && (seenSidecar || options.settings.rawInFile)) {
        return std::string("Die Option ") + (seenSidecar ? "--sidecar" : "--raw-in-file") +
               " gilt nur zusammen mit --all-photos.";
    }
    // An undo takes back what a run wrote; it runs nothing itself.
    if (options.undo && (seenGpx || seenPhotos || options.modes.skipTagged || options.modes.keepMtime ||
                         options.settings.allPhotos)) {
        return "Die Option --undo nimmt den letzten Lauf zurück und gilt nur mit --data-dir, --dry-run, "
               "--map, --open und --json.";
    }
    // A removal writes no position: it takes only the photo folder and the options of how and where it saves.
    if (options.removeGps &&
        (options.undo || seenGpx || options.modes.skipTagged || seenZone || seenTolerance || seenOffset)) {
        return "Die Option --remove-gps gilt nur mit --photos, --data-dir, --all-photos, --raw-in-file, "
               "--dry-run, --keep-mtime, --keep-going, --map, --open und --json.";
    }
    if (trackFormat) {
        return "Die Option --track-format gilt für die folgende --gpx-Datei, doch es folgt keine.";
    }
    const auto standardInput = [](const std::string& path) { return path == kStandardInputPath; };
    if (static_cast<int>(standardInput(options.gpx)) + std::count_if(options.settings.moreGpxPaths.begin(),
                                                                     options.settings.moreGpxPaths.end(),
                                                                     standardInput) >
        1) {
        return "Die Standardeingabe (--gpx -) kann nur einmal gelesen werden.";
    }
    options.map = seenMap || options.open;
    options.summary = options.summary || options.json || options.modes.AnyOn() || options.settings.keepGoing;
    return options;
}

std::string ErrorReportText(std::string_view message) {
    std::string text(message);
    // Compared as bytes: the last byte of a multi-byte UTF-8 character sorts after "." as well.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
        text += '.';
    }
    return text;
}

std::vector<std::string> CheckInputPaths(const CliOptions& options) {
    std::vector<std::string> problems;
    const auto checkGpx = [&problems](const std::string& path) {
        if (!path.empty() && path != kStandardInputPath) {
            if (std::optional<std::string> problem = GpxFileProblem(path)) {
                problems.push_back(std::move(*problem));
            }
        }
    };
    checkGpx(options.gpx);
    std::for_each(options.settings.moreGpxPaths.begin(), options.settings.moreGpxPaths.end(), checkGpx);
    if (!options.photos.empty()) {
        struct stat st {};
        if (::stat(options.photos.c_str(), &st) != 0) {
            problems.push_back("Der Fotoordner " + Quoted(options.photos) +
                               " kann nicht gelesen werden: " + ReasonText(errno) + ".");
        } else if (!S_ISDIR(st.st_mode)) {
            problems.push_back("Der Fotoordner " + Quoted(options.photos) + " ist kein Ordner.");
        } else if (::access(options.photos.c_str(), R_OK | X_OK) != 0) {
            problems.push_back("Der Fotoordner " + Quoted(options.photos) +
                               " kann nicht gelesen werden: " + ReasonText(errno) + ".");
        }
    }
    return problems;
}

std::string ZoneDefaultNotice(int zoneIndex) {
    const std::string item = zoneIndex >= 0 && zoneIndex < kZoneCount
                                 ? std::string(ZoneItems()[static_cast<std::size_t>(zoneIndex)])
                                 : "";
    return "Hinweis: ohne --zone gilt die Zeitzone \"" + item + "\" (" +
           (zoneIndex == kZoneIndexSummer ? "Sommerzeit" : "Winterzeit") +
           " am heutigen Tag, wie im Fenster beim Start); --zone auto nimmt die Zeitzone aus dem Track.";
}

std::string VersionText() { return std::string("zeloro-cli ") + ZELORO_VERSION; }

std::string UsageText() {
    return std::string(
        "Aufruf: zeloro-cli --gpx DATEI --photos ORDNER [--zone Z] [--tolerance N] [--data-dir ORDNER]\n"
        "                  [--track DATEI] [--track-format NAME --gpx DATEI]\n"
        "                  [--map] [--open] [--keep] [--offset T] [--photo-zone] [--interpolate[=N]]\n"
        "                  [--altitude] [--dry-run] [--skip-tagged] [--keep-mtime] [--json] [--summary]\n"
        "                  [--explain] [--jobs N] [--places[=replace]]\n"
        "       zeloro-cli --help | --version\n"
        "\n"
        "Schreibt die GPS-Position aus einem GPX-Track in die EXIF-Daten der JPEG-Fotos eines Ordners\n"
        "(mit Unterordnern) und speichert die Fotos an ihrem Platz.\n"
        "\n"
        "  --gpx DATEI         der GPX-Track (Wegpunkte, Trackpunkte und Routenpunkte mit Zeit); "
        "mehrfach\n"
        "                      angegeben werden alle Dateien vor dem Abgleich importiert\n"
        "                      (--gpx tag1.gpx --gpx tag2.gpx). Auch andere Trackdateien, am Inhalt\n"
        "                      erkannt: KML, KMZ, TCX, Garmin FIT, NMEA 0183 (RMC, GGA, GNS), IGC, CSV,\n"
        "                      GeoJSON, Google Records.json und Timeline.json (--gpx fahrt.fit);\n"
        "                      \"-\" liest die Trackdatei von der Standardeingabe (--gpx - < log.nmea)\n"
        "  --track DATEI       wie --gpx\n"
        "  --track-format NAME die folgende --gpx-Datei liest gpsbabel im Format NAME und gibt sie als GPX\n"
        "                      weiter, für Formate, die zeloro nicht selbst liest; braucht das Programm\n"
        "                      gpsbabel (--track-format garmin_gpi --gpx ziele.gpi)\n"
        "  --photos ORDNER     der Ordner mit den *.jpg-Dateien\n"
        "  --zone Z            die Zeitzone der Kamerauhr: Index 0..23 oder Eintrag wie \"UTC + 2:00\"\n"
        "                      (0 = \"UTC - 11:00\", 11 = \"UTC\", 23 = \"UTC + 12:00\"); ohne Angabe\n"
        "                      \"UTC + 2:00\" während der Sommerzeit, sonst \"UTC + 1:00\".\n"
        "                      Auch ein fester Versatz von UTC - 12:00 bis UTC + 14:00\n"
        "                      (--zone \"UTC + 5:30\", --zone +05:45, --zone -03:30) oder ein Zonenname\n"
        "                      der Zeitzonendatenbank mit Sommerzeit je Foto (--zone Europe/Berlin):\n"
        "                      eine doppelte Ortszeit beim Ende der Sommerzeit gilt als Sommerzeit, eine\n"
        "                      übersprungene beim Beginn wird mit dem Versatz davor gelesen.\n"
        "                      --zone auto: je Foto die Zeitzone des Tracks dort, wo es aufgenommen\n"
        "                      wurde (mit Sommerzeit); ein Wechsel steht im Protokoll (\"Zeitzone aus dem\n"
        "                      Track: Asia/Kolkata\"); ohne Trackpunkt innerhalb von 14 Stunden keine\n"
        "                      Position\n"
        "  --tolerance N       maximale Abweichung in Sekunden, 0..500 (Vorgabe 0); genommen wird der\n"
        "                      nächste Punkt innerhalb der Abweichung (gleich nah: der frühere)\n"
        "  --data-dir ORDNER   der Datenordner mit zeloro.sqlite und maps/ (Vorgabe: wie im Fenster,\n"
        "                      $XDG_DATA_HOME/kvd/zeloro/, ohne XDG_DATA_HOME ~/.local/share/kvd/zeloro/;\n"
        "                      beim ersten Start aus der Vorlage <prefix>/share/zeloro/ angelegt, ohne\n"
        "                      Vorlage der Ordner des Programms)\n"
        "  --map               danach die Kartenseite maps/index.html schreiben und ihren Pfad ausgeben\n"
        "  --open              wie --map, dann die Seite im Standard-Browser öffnen (xdg-open)\n"
        "  --keep              die importierten Trackpunkte behalten (sonst wird die Tabelle am Ende\n"
        "                      geleert, wie mit \"Beenden\")\n"
        "  --offset T          Korrektur der Kamerauhr, vor der Zeitzone zu jeder Aufnahmezeit addiert:\n"
        "                      Sekunden oder [+-]HH:MM:SS (Kamera 90 s nachgehend: --offset 90,\n"
        "                      eine Stunde vorgehend: --offset -01:00:00)\n"
        "  --photo-zone        Fotos mit gespeichertem Zeitversatz (EXIF OffsetTimeOriginal, sonst\n"
        "                      OffsetTime, z. B. \"+05:30\") verwenden diesen; die übrigen --zone\n"
        "                      (--photo-zone --zone Europe/Berlin)\n"
        "  --interpolate[=N]   die Position linear zwischen dem letzten Trackpunkt davor und dem ersten\n"
        "                      danach einsetzen, wenn beide höchstens N Sekunden (Vorgabe 60) "
        "auseinander\n"
        "                      und im selben Tracksegment liegen; die GPS-Zeit ist dann die UTC-Zeit des\n"
        "                      Fotos. Sonst gilt --tolerance (--interpolate, --interpolate=120)\n"
        "  --altitude          auch GPSAltitude und GPSAltitudeRef aus der Höhe <ele> des Trackpunkts\n"
        "                      schreiben, mit --interpolate interpoliert; ohne Höhe keine (--altitude)\n"
        "  --dry-run           Probelauf: alles außer dem Speichern; das Protokoll zeigt, was\n"
        "                      geschrieben würde, jedes Foto bleibt Byte für Byte und mit seinen\n"
        "                      Zeiten erhalten\n"
        "  --skip-tagged       Fotos, die schon eine GPS-Position haben, bleiben unverändert\n"
        "  --keep-mtime        getaggte Fotos behalten ihre Änderungszeit\n"
        "  --json              statt des Protokolls ein JSON-Objekt je Foto (file, status, latitude,\n"
        "                      longitude, utc_time, message), nach dem letzten Foto eines angehaltenen\n"
        "                      Laufs ein Objekt \"stopped\" (done, total, message) und zuletzt ein\n"
        "                      Objekt \"summary\"\n"
        "  --summary           nach dem Lauf eine Zeile Zusammenfassung (getaggt, ohne Treffer,\n"
        "                      übersprungen, fehlgeschlagen, Dauer); mit jeder der vier Optionen\n"
        "                      davor und mit --keep-going ohnehin\n"
        "  --explain           Details im Protokoll: hinter \"keine Koordinaten gefunden\" der Grund\n"
        "                      (keine Aufnahmezeit; Aufnahmezeit außerhalb der Tracks, mit deren\n"
        "                      erster und letzter UTC-Zeit; sonst der nächste Trackpunkt und sein\n"
        "                      Abstand in Sekunden); Fotos in Unterordnern mit ihrem Pfad unter ORDNER\n"
        "  --all-photos        alle Fotoformate: außer *.jpg auch .jpeg/.jpe, RAW (DNG NEF NRW CR2 CR3 CRW\n"
        "                      ARW SR2 SRF ORF RW2 RWL PEF SRW ERF 3FR IIQ MEF MOS DCR KDC RAF MRW X3F),\n"
        "                      TIFF, HEIC/HEIF/AVIF und Videos (MOV MP4 M4V 3GP); die Art entscheidet der\n"
        "                      Inhalt. JPEG-Bilder erhalten die Position in der Datei, alle anderen in\n"
        "                      einer XMP-Begleitdatei; die übrigen Dateien werden in einem Hinweis auf\n"
        "                      stderr gezählt. Ohne Aufnahmezeit in der Datei gilt exif:DateTimeOriginal\n"
        "                      einer vorhandenen Begleitdatei\n"
        "  --sidecar ext|base  Name der Begleitdatei: ext NAME.EXT.xmp (Vorgabe), base NAME.xmp; teilen\n"
        "                      sich mehrere Dateien NAME, erhält NAME.xmp die erste in der Reihenfolge\n"
        "                      RAW, HEIF/AVIF, Video (nur mit --all-photos)\n"
        "  --raw-in-file       TIFF und RAW auf TIFF-Basis erhalten die Position in der Datei selbst (eine\n"
        "                      vorhandene Begleitdatei ebenso); eine beschädigte Datei erhält stattdessen\n"
        "                      die Begleitdatei (nur mit --all-photos); mit --remove-gps wird die\n"
        "                      Position ebenso aus der Datei selbst entfernt\n"
        "  --undo              nimmt den letzten Lauf zurück, der Fotos geändert hat: jede Datei, die noch\n"
        "                      so ist, wie der Lauf sie hinterließ, bekommt ihren früheren Inhalt und ihre\n"
        "                      Änderungszeit zurück; ein erneutes --undo nimmt den Lauf davor zurück\n"
        "  --remove-gps        entfernt die GPS-Position aus den Fotos von --photos (die Tags, die ein\n"
        "                      Lauf schreibt, und die XMP-Eigenschaften exif:GPS*); mit --undo\n"
        "                      rückgängig zu machen\n"
        "  --keep-going        ein Foto, das nicht gelesen oder gespeichert werden kann, wird im Protokoll\n"
        "                      als \"übersprungen\" gemeldet, und der Lauf geht weiter; ein voller\n"
        "                      Datenträger oder ein Datenbankfehler beendet ihn weiterhin\n"
        "  --jobs N            so viele Fotos zugleich bearbeiten, 1.." +
        std::to_string(kMaxJobs) +
        " (Vorgabe: ein Foto je\n"
        "                      Prozessorkern); Protokoll und Fotos sind dieselben wie mit 1\n"
        "  --places[=replace]  Ortsnamen eintragen: Ort, Bundesland/Region, Land und Ländercode der\n"
        "                      Position (XMP photoshop:City, State, Country, Iptc4xmpCore:CountryCode)\n"
        "                      aus den Ortsdaten von GeoNames (CC BY 4.0); vorhandene Werte bleiben,\n"
        "                      mit =replace werden sie ersetzt. Ort nur bis 30 km, Land bis 50 km\n"
        "                      vom nächsten Ort\n"
        "  --help              diese Hilfe\n"
        "  --version           Programmname und Version\n"
        "\n"
        "Ausgabe: das Protokoll und Hinweise auf stdout, Fehlermeldungen auf stderr. Strg+C beendet\n"
        "den Lauf nach dem Foto, das gerade bearbeitet wird (letzte Protokollzeile: \"Lauf abgebrochen:\n"
        "N von M Bildern bearbeitet.\")\n"
        "Exit-Status: 0 alle Fotos bearbeitet, 1 ein Fehler hat den Lauf beendet, 2 fehlendes oder\n"
        "ungültiges Argument, 3 der GPX-Import ist fehlerhaft abgebrochen, 4 der Datenordner oder die\n"
        "Datenbank kann nicht angelegt, geöffnet oder geschrieben werden, 5 der Datenordner wird von\n"
        "einem anderen Lauf benutzt. Ein mit Strg+C (SIGINT) oder SIGTERM angehaltener Lauf endet\n"
        "danach durch dieses Signal, als wäre es nicht abgefangen worden (in der Shell 130 bzw. 143).\n");
}

}  // namespace zeloro::cli
