// src/app/StartOptions.cpp: what the window program answers from its command line alone.
#include "app/StartOptions.h"

#include <span>
#include <string_view>

namespace zeloro {

StartRequest StartRequestOf(int argc, const char* const* argv) {
    if (argc < 2 || argv == nullptr) {
        return StartRequest::window;
    }
    for (const char* arg : std::span(argv + 1, static_cast<std::size_t>(argc - 1))) {
        const std::string_view text = arg == nullptr ? std::string_view() : std::string_view(arg);
        if (text == "--help" || text == "-h") {
            return StartRequest::help;
        }
        if (text == "--version") {
            return StartRequest::version;
        }
    }
    return StartRequest::window;
}

std::string WindowVersionText() { return std::string("zeloro ") + ZELORO_VERSION; }

std::string WindowUsageText() {
    return "Aufruf: zeloro\n"
           "       zeloro --help | --version\n"
           "\n"
           "Öffnet das Fenster von Zeloro geotagging: GPS-Positionen aus einem GPX-Track in die EXIF-Daten\n"
           "der JPEG-Fotos eines Ordners schreiben. Je Datenordner ist ein Fenster geöffnet; ein weiterer\n"
           "Start holt es nach vorn und meldet \"Zeloro ist bereits geöffnet\".\n"
           "Ohne Fenster arbeitet zeloro-cli (zeloro-cli --help).\n"
           "\n"
           "  --help     diese Hilfe\n"
           "  --version  Programmname und Version\n";
}

}  // namespace zeloro
