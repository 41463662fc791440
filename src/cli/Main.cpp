// src/cli/Main.cpp: zeloro-cli, the tagging run without a window.
#include <malloc.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliObserver.h"
#include "cli/CliOptions.h"
#include "common/DateTime.h"
#include "common/Error.h"
#include "tagging/FrontEnd.h"
#include "tagging/TaggingSession.h"

namespace {

using namespace zeloro;
using namespace zeloro::cli;

// The number of the first SIGINT or SIGTERM; the run then ends after the photo in hand, so no photo is
// left half-handled, and the table is emptied as usual before the signal takes its normal course.
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int signal) { gStopSignal = signal; }

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program at once. The run looks at the flag between photos, so a call the
    // signal meets goes on: a write of the log held by a slow reader (a pager, a full pipe) would
    // otherwise fail, and the lines in it would be lost.
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_RESTART);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Hands the page to the desktop's opener, as the window's shell "open" does. The opener runs in a session
// of its own and is not waited for: a browser it starts may stay in the foreground until it is closed,
// and it must outlive this program and ignore the terminal's Ctrl+C. Empty when started, else the reason.
std::string OpenInBrowser(const std::string& page) {
    std::error_code ec;
    // Absolute, so that a data folder named "-x" cannot read as an option of the opener.
    const std::filesystem::path absolute = std::filesystem::absolute(page, ec);
    std::string program = "xdg-open";
    std::string argument = ec ? page : absolute.string();
    const std::array<char*, 3> argv{program.data(), argument.data(), nullptr};
    // Nothing between init and destroy can throw.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        return program + ": " + std::strerror(error);
    }
    return {};
}

std::vector<std::string*> TrackPaths(CliOptions& options) {
    std::vector<std::string*> paths{&options.gpx};
    for (std::string& path : options.settings.moreGpxPaths) {
        paths.push_back(&path);
    }
    return paths;
}

bool UsesStandardInput(CliOptions& options) {
    const std::vector<std::string*> paths = TrackPaths(options);
    return std::any_of(paths.begin(), paths.end(),
                       [](const std::string* path) { return *path == kStandardInputPath; });
}

// The copy of the standard input takes the place of "-", which the options allow once.
void StandInFor(CliOptions& options, const std::string& copy) {
    for (std::string* path : TrackPaths(options)) {
        if (*path == kStandardInputPath) {
            *path = copy;
        }
    }
}

// The map page after an undo or a removal, saying what it did; its path goes out as a run's page's does.
// A page that cannot be written or opened makes the status an error, the work done stays done.
void ShowNoticePage(TaggingSession& session, CliObserver& observer, const CliOptions& options,
                    const std::string& notice, int& status) {
    try {
        const std::string page = session.WriteNoticeMapPage(notice);
        observer.Information(page);
        if (options.open) {
            if (const std::string problem = OpenInBrowser(page); !problem.empty()) {
                observer.Error("Die Kartenseite konnte nicht geöffnet werden: " + problem);
                status = status == kExitDone ? kExitRunError : status;
            }
        }
    } catch (const std::exception& e) {
        observer.Error(ErrorReportText(e.what()));
        status = status == kExitDone ? kExitRunError : status;
    }
}

int RunCommands(const CliOptions& options, CliObserver& observer) {
    // Before the data folder is set up and the photo folder scanned: a mistyped path costs nothing.
    if (const std::vector<std::string> problems = CheckInputPaths(options); !problems.empty()) {
        for (const std::string& problem : problems) {
            observer.Error(problem);
        }
        return kExitBadArgument;
    }
    std::string dataFolder;
    if (options.dataDir) {
        // A folder named on the command line that holds no database is a wrong argument: opening it
        // would create an empty file there, and every import would fail on the missing table.
        dataFolder = *options.dataDir;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(DatabasePath(dataFolder), ec)) {
            observer.Error(std::string(kDatabaseNotFoundMessage) + ": " + DatabasePath(dataFolder));
            return kExitBadArgument;
        }
    } else {
        try {
            dataFolder = ResolveDataFolder();
        } catch (const std::exception& e) {
            observer.Error(ErrorReportText(e.what()));
            return kExitDatabase;
        }
        if (dataFolder.empty()) {
            // The bare name would open or create a database in the current folder, without a track table.
            observer.Error(kDatabaseNotFoundMessage);
            return kExitDatabase;
        }
    }

    TaggingSession session(dataFolder);
    try {
        session.Connect();
    } catch (const DataFolderBusyError& e) {
        observer.Error(e.what());
        return kExitDataFolderBusy;
    } catch (const std::exception& e) {
        observer.Error(ErrorReportText(e.what()));
        return kExitDatabase;
    }

    if (session.StaleRowsDeleted() > 0) {
        observer.Error(std::to_string(session.StaleRowsDeleted()) +
                       " Trackpunkte eines abgebrochenen Laufs wurden aus der Tabelle entfernt.");
    }

    if (options.undo) {
        observer.SetJson(options.json);
        int status = kExitDone;
        try {
            const UndoSummary summary = session.UndoLastRun(observer, options.modes.dryRun);
            observer.UndoDone(summary, options.modes.dryRun);
            if (summary.failed > 0) {
                status = kExitRunError;
            }
            if (options.map) {
                ShowNoticePage(session, observer, options, UndoPageNotice(summary, options.modes.dryRun),
                               status);
            }
        } catch (const std::exception& e) {
            observer.Error(ErrorReportText(e.what()));
            status = kExitRunError;
        }
        if (options.keep) {
            session.KeepTrackTable();
        }
        session.Disconnect();
        return status;
    }

    if (options.removeGps) {
        observer.SetJson(options.json);
        int status = kExitDone;
        try {
            const RemovalSummary summary =
                session.RemoveGps(options.photos, observer, options.modes, options.settings);
            observer.RemovalDone(summary, options.modes.dryRun);
            if (summary.result == RunResult::inputMissing) {
                status = kExitBadArgument;
            } else if (summary.result == RunResult::busy) {
                status = kExitRunError;
            } else if (options.map) {
                ShowNoticePage(session, observer, options, RemovalPageNotice(summary, options.modes.dryRun),
                               status);
            }
        } catch (const std::exception& e) {
            observer.Error(ErrorReportText(e.what()));
            status = kExitRunError;
        }
        session.Disconnect();
        return status;
    }

    RunInputs inputs;
    inputs.gpxPath = options.gpx;
    inputs.folder = options.photos;
    inputs.zoneIndex = options.zoneIndex ? *options.zoneIndex : DefaultZoneIndex(Now());

    inputs.toleranceSeconds = options.tolerance;
    inputs.jobs = options.jobs;
    inputs.modes = options.modes;
    observer.SetJson(options.json);

    int status = kExitDone;
    bool ran = true;
    const auto started = std::chrono::steady_clock::now();
    try {
        switch (session.Run(inputs, observer, options.settings)) {
            case RunResult::done:
                break;
            case RunResult::stopped:
                break;  // the run's last log line says so, with the count of photos done
            case RunResult::inputMissing:
                status = kExitBadArgument;
                ran = false;
                break;
            case RunResult::importFailed:
                status = kExitImportFailed;
                break;
            case RunResult::busy:
                status = kExitRunError;
                break;
        }
    } catch (const GpxLoadError& e) {
        observer.Error(ErrorReportText(e.what()));
        status = kExitImportFailed;
    } catch (const DatabaseError& e) {
        observer.Error(ErrorReportText(e.what()));
        status = kExitDatabase;
    } catch (const std::exception& e) {
        // What the window's default error report would show; the work done before it stays done.
        observer.Error(ErrorReportText(e.what()));
        status = kExitRunError;
    }
    if (ran && !options.zoneIndex && !options.settings.zone && !options.settings.zoneFromTrack) {
        // The zone then follows today's date, not the photos': say which one the photos were read in.
        observer.Error(ZoneDefaultNotice(inputs.zoneIndex));
    }
    if (options.summary && ran) {
        const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - started;
        observer.Summary(taken.count(), options.modes.dryRun);
    }

    // "Maps" can follow any run that got past its input checks, also one an error ended: the map list
    // then holds the photos tagged before the error.
    if (options.map && ran) {
        try {
            if (const std::optional<std::string> page = session.WriteMapPage()) {
                observer.Information(*page);
                if (options.open) {
                    if (const std::string problem = OpenInBrowser(*page); !problem.empty()) {
                        observer.Error("Die Kartenseite konnte nicht geöffnet werden: " + problem);
                        if (status == kExitDone) {
                            status = kExitRunError;
                        }
                    }
                }
            } else {
                observer.Information(kNoMapDataMessage);
            }
        } catch (const std::exception& e) {
            observer.Error(ErrorReportText(e.what()));
            if (status == kExitDone) {
                status = kExitRunError;
            }
        }
    }

    if (!options.keep) {
        static_cast<void>(session.clearDatabase());  // as "Beenden": the result is not looked at
    } else {
        session.KeepTrackTable();
    }
    session.Disconnect();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    CliObserver observer(stdout, stderr, ::isatty(STDERR_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1);
    const ParseResult parsed = ParseCommandLine(args);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        observer.Error(*problem);
        return kExitBadArgument;
    }
    CliOptions options = std::get<CliOptions>(parsed);
    if (options.help) {
        std::string usage = UsageText();
        usage.pop_back();  // Information ends the text with its own line break
        observer.Information(usage);
        return kExitDone;
    }
    if (options.version) {
        observer.Information(VersionText());
        return kExitDone;
    }
    // Each photo's bytes live in one buffer of the photo's size. Kept in the heap after their photo
    // instead of going back to the system, the next photo reuses the same pages, and the kernel does
    // not have to hand out (and fault in) megabytes of fresh zeroed memory for every large photo.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    CatchStopSignals();
    observer.SetStopFlag(&gStopSignal);
    // Read whole before the run: the import reads a file, which it may read twice. Without a pipe or
    // redirection the copy would wait for the user to type a track.
    std::unique_ptr<TemporaryTrackFile> standardInput;
    if (UsesStandardInput(options)) {
        if (::isatty(STDIN_FILENO) == 1) {
            observer.Error(
                "Die Standardeingabe ist ein Terminal: --gpx - liest eine Trackdatei aus einer Pipe oder "
                "Umleitung (zeloro-cli --gpx - --photos ORDNER < track.fit).");
            return kExitBadArgument;
        }
        try {
            standardInput = CopyToTemporaryFile(STDIN_FILENO);
        } catch (const std::exception& e) {
            observer.Error(ErrorReportText(std::string("Standardeingabe: ") + e.what()));
            return kExitImportFailed;
        }
        StandInFor(options, standardInput->Path());
    }
    int status = kExitRunError;
    try {
        status = RunCommands(options, observer);
    } catch (const std::exception& e) {
        observer.Error(ErrorReportText(e.what()));
    }
    observer.Finish();
    if (gStopSignal != 0) {
        // The shell sees the program ended by the signal, as if it had not been caught.
        std::signal(gStopSignal, SIG_DFL);
        std::raise(gStopSignal);
    }
    return status;
}
