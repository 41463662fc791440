// src/cli/CliOptions.cpp: parsing the command line of zeloro-cli.
#include "cli/CliOptions.h"

#include "common/AsciiText.h"
#include "time/TimeRules.h"

namespace zeloro::cli {
namespace {

std::optional<int> SmallDecimal(std::string_view text, int maximum) {
    if (text.empty() || text.size() > 4) {
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

ParseResult ParseCommandLine(std::span<const std::string> args) {
    CliOptions options;
    bool seenGpx = false;
    bool seenPhotos = false;
    bool seenZone = false;
    bool seenTolerance = false;
    bool seenJobs = false;
    bool seenMap = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--map" || arg == "--open" || arg == "--keep") {
            bool& flag = arg == "--map" ? seenMap : arg == "--open" ? options.open : options.keep;
            if (flag) {
                return "Die Option " + arg + " ist mehrfach angegeben.";
            }
            flag = true;
            continue;
        }
        const bool takesValue = arg == "--gpx" || arg == "--photos" || arg == "--zone" ||
                                arg == "--tolerance" || arg == "--data-dir" || arg == "--jobs";
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
        if (arg == "--gpx") {
            seen = &seenGpx;
            options.gpx = value;
        } else if (arg == "--photos") {
            seen = &seenPhotos;
            options.photos = value;
        } else if (arg == "--zone") {
            seen = &seenZone;
            options.zoneIndex = ParseZone(value);
            if (!options.zoneIndex) {
                return "Ungültige Zeitzone " + Quoted(value) +
                       ": erwartet wird ein Index von 0 bis 23 oder ein Eintrag wie \"UTC + 2:00\".";
            }
        } else if (arg == "--tolerance") {
            seen = &seenTolerance;
            const auto tolerance = ParseTolerance(value);
            if (!tolerance) {
                return "Ungültige maximale Abweichung " + Quoted(value) +
                       ": erwartet wird eine ganze Zahl von 0 bis 500 Sekunden.";
            }
            options.tolerance = *tolerance;
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
    options.map = seenMap || options.open;
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

std::string UsageText() {
    return std::string("Aufruf: zeloro-cli --gpx DATEI --photos ORDNER [--zone Z] [--tolerance N] [--data-dir ORDNER]\n"
           "                  [--jobs N] [--map] [--open] [--keep]\n"
           "\n"
           "Schreibt die GPS-Position aus einem GPX-Track in die EXIF-Daten der JPEG-Fotos eines Ordners\n"
           "(mit Unterordnern) und speichert die Fotos an ihrem Platz.\n"
           "\n"
           "  --gpx DATEI         der GPX-Track (Wegpunkte, Trackpunkte und Routenpunkte mit Zeit)\n"
           "  --photos ORDNER     der Ordner mit den *.jpg-Dateien\n"
           "  --zone Z            die Zeitzone der Kamerauhr: Index 0..23 oder Eintrag wie \"UTC + 2:00\"\n"
           "                      (0 = \"UTC - 11:00\", 11 = \"UTC\", 23 = \"UTC + 12:00\"); ohne Angabe\n"
           "                      \"UTC + 2:00\" während der Sommerzeit, sonst \"UTC + 1:00\"\n"
           "  --tolerance N       maximale Abweichung in Sekunden, 0..500 (Vorgabe 0); genommen wird der\n"
           "                      nächste Punkt innerhalb der Abweichung (gleich nah: der frühere)\n"
           "  --data-dir ORDNER   der Datenordner mit zeloro.sqlite und maps/ (Vorgabe: wie im Fenster,\n"
           "                      /var/lib/kvd/zeloro/, sonst der Ordner des Programms)\n"
           "  --jobs N            so viele Fotos zugleich bearbeiten, 1.." + std::to_string(kMaxJobs) + " (Vorgabe: ein Foto je\n"
           "                      Prozessorkern); Protokoll und Fotos sind dieselben wie mit 1\n"
           "  --map               danach die Kartenseite maps/index.html schreiben und ihren Pfad ausgeben\n"
           "  --open              wie --map, dann die Seite im Standard-Browser öffnen (xdg-open)\n"
           "  --keep              die importierten Trackpunkte behalten (sonst wird die Tabelle am Ende\n"
           "                      geleert, wie mit \"Beenden\")\n"
           "  --help              diese Hilfe\n"
           "\n"
           "Ausgabe: das Protokoll und Hinweise auf stdout, Fehlermeldungen auf stderr. Strg+C beendet\n"
           "den Lauf nach dem Foto, das gerade bearbeitet wird.\n"
           "Exit-Status: 0 alle Fotos bearbeitet, 1 ein Fehler hat den Lauf beendet, 2 fehlendes oder\n"
           "ungültiges Argument, 3 der GPX-Import ist fehlerhaft abgebrochen.\n");
}

}  // namespace zeloro::cli
