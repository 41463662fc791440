// src/cli/CliOptions.h: the command line of zeloro-cli and the texts it prints besides the log.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace zeloro::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;          // the run handled every photo
inline constexpr int kExitRunError = 1;      // an error ended the run (its report went to stderr)
inline constexpr int kExitBadArgument = 2;   // a missing or invalid argument (its text went to stderr)
inline constexpr int kExitImportFailed = 3;  // the GPX import failed and was aborted

struct CliOptions {
    std::string gpx;                     // empty when not given: the run's own check names it
    std::string photos;                  // likewise
    std::optional<int> zoneIndex;        // nullopt: the start-up rule of the window
    int tolerance = 0;                   // whole seconds, 0..500
    std::optional<std::string> dataDir;  // with a trailing "/"; nullopt: resolved as the window does
    int jobs = 0;                        // photos at once; 0: one per core
    bool map = false;                    // also set by --open
    bool open = false;                   // open the written page in the desktop's default browser
    bool keep = false;
    bool help = false;
};

// Either the options or the text that tells what is wrong with the command line.
using ParseResult = std::variant<CliOptions, std::string>;

// args without the program name. Every option but --map, --open, --keep and --help takes the next
// argument as its value; an option given twice, an unknown option or a stray argument is an error.
[[nodiscard]] ParseResult ParseCommandLine(std::span<const std::string> args);

// A zone list item index "0".."23" or an item text such as "UTC + 2:00" (letter case and the blanks
// around the sign ignored); nullopt for anything else.
[[nodiscard]] std::optional<int> ParseZone(std::string_view text);

// Whole seconds "0".."500" in decimal digits; nullopt for anything else.
[[nodiscard]] std::optional<int> ParseTolerance(std::string_view text);

// Photos worked on at once, "1".."256" in decimal digits; nullopt for anything else.
inline constexpr int kMaxJobs = 256;
[[nodiscard]] std::optional<int> ParseJobs(std::string_view text);

// What the window's default error report shows for an error that ended a command: the message, and a
// "." after it when its last character sorts after ".".
[[nodiscard]] std::string ErrorReportText(std::string_view message);

// The --help text.
[[nodiscard]] std::string UsageText();

}  // namespace zeloro::cli
