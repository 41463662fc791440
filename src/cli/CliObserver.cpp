// src/cli/CliObserver.cpp: log lines on stdout, errors and the progress display on stderr.
#include "cli/CliObserver.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/CliOptions.h"
#include "common/Error.h"
#include "tagging/FrontEnd.h"

namespace zeloro::cli {
namespace {

// Redrawing a terminal line for every photo of a fast run costs more than the photo; a few redraws a
// second are enough to see it move.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void PutLine(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
}

// The track table keeps a coordinate as the GPX file wrote it; the number is the one the lookup read
// from that text for the photo. Null only for a text that is no number to the lookup.
nlohmann::json CoordinateJson(const std::string& text) {
    try {
        const double value = CoordinateNumber(text);
        if (std::isfinite(value)) {
            return value;
        }
    } catch (const ConvertError&) {  // NOLINT(bugprone-empty-catch): no number, so null
    }
    return nullptr;
}

const char* StatusName(PhotoStatus status) {
    switch (status) {
        case PhotoStatus::tagged:
            return "tagged";
        case PhotoStatus::noMatch:
            return "no_match";
        case PhotoStatus::skipped:
            return "skipped";
        case PhotoStatus::failed:
            return "failed";
    }
    return "failed";
}

// A file name need not be valid UTF-8; JSON text must be, so a stray byte becomes U+FFFD.
std::string Dump(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Exactly the texts that Dump changes.
bool IsJsonText(const std::string& text) {
    try {
        static_cast<void>(nlohmann::json(text).dump());
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// Every byte that is not printable ASCII as "\xNN", and the backslash too, so that two names that differ
// in any byte give two texts.
std::string ByteText(const std::string& name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text.push_back(c);
        } else {
            text.append("\\x").push_back(kHex[byte >> 4U]);
            text.push_back(kHex[byte & 0x0FU]);
        }
    }
    return text;
}

}  // namespace

std::string PhotoJson(const PhotoReport& report) {
    nlohmann::json object;
    object["file"] = report.path;
    if (!IsJsonText(report.path)) {
        // The readable name above has U+FFFD for each stray byte; this one tells such names apart.
        object["file_bytes"] = ByteText(report.path);
    }
    object["status"] = StatusName(report.status);
    const bool tagged = report.status == PhotoStatus::tagged;
    object["latitude"] = tagged ? CoordinateJson(report.lat) : nlohmann::json(nullptr);
    object["longitude"] = tagged ? CoordinateJson(report.lon) : nlohmann::json(nullptr);
    if (tagged) {
        const CalendarDate d = DecodeDate(report.utcTime);
        const ClockTime t = DecodeTime(report.utcTime);
        char utc[40];
        std::snprintf(utc, sizeof utc, "%04d-%02d-%02dT%02d:%02d:%02dZ", d.year, d.month, d.day, t.hour,
                      t.minute, t.second);
        object["utc_time"] = utc;
    } else {
        object["utc_time"] = nullptr;
    }
    object["message"] = report.message;
    if (!report.reason.empty()) {
        object["reason"] = report.reason;
    }
    if (!report.zone.empty()) {
        object["zone"] = report.zone;
    }
    if (report.place) {
        // Each part the data does not know is null, like the position of a photo without one.
        const auto part = [](const std::string& text) {
            return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
        };
        object["place"] = {{"city", part(report.place->city)},
                           {"state", part(report.place->state)},
                           {"country", part(report.place->country)},
                           {"country_code", part(report.place->countryCode)}};
    }
    return Dump(object);
}

CliObserver::CliObserver(std::FILE* out, std::FILE* err, bool errIsTerminal, bool outIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal), outIsTerminal_(outIsTerminal) {}

CliObserver::~CliObserver() { Finish(); }

void CliObserver::wipeProgress() {
    if (progressShown_) {
        // Carriage return and "erase line": the next text starts on a clean line.
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        progressShown_ = false;
    }
}

void CliObserver::drawProgress(bool force) {
    if (!errIsTerminal_ || position_ <= 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && progressShown_ && now - lastDraw_ < kRedrawInterval && position_ < maximum_) {
        return;
    }
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    if (seconds > 0) {
        std::fprintf(err_, "\r\033[K%d/%d Fotos, %.1f Fotos/s", position_, maximum_, position_ / seconds);
    } else {
        std::fprintf(err_, "\r\033[K%d/%d Fotos", position_, maximum_);
    }
    std::fflush(err_);
    progressShown_ = true;
}

void CliObserver::AppendLine(const std::string& line) {
    if (json_) {
        return;  // the photo objects take the log's place
    }
    putOut(line);
}

void CliObserver::PhotoHandled(const PhotoReport& report) {
    counts_.Add(report.status);
    if (json_) {
        putOut(PhotoJson(report));
    }
}

void CliObserver::RunStopped(std::size_t done, std::size_t total, const std::string& message) {
    if (!json_) {
        return;  // the log line says it
    }
    putOut(Dump(nlohmann::json{{"stopped", {{"done", done}, {"total", total}, {"message", message}}}}));
}

void CliObserver::ImportFailed(const std::string& reason) { Error(ErrorReportText(reason)); }

void CliObserver::Notice(const std::string& text) { Error(text); }

void CliObserver::Summary(double seconds, bool dryRun) {
    if (!json_) {
        putOut(SummaryLine(counts_, seconds, dryRun));
        return;
    }
    nlohmann::json summary;
    summary["tagged"] = counts_.tagged;
    summary["no_match"] = counts_.noMatch;
    summary["skipped"] = counts_.skipped;
    summary["failed"] = counts_.failed;
    summary["seconds"] = seconds;
    summary["dry_run"] = dryRun;
    putOut(Dump(nlohmann::json{{"summary", summary}}));
}

void CliObserver::UndoDone(const UndoSummary& summary, bool dryRun) {
    if (!json_) {
        return;
    }
    nlohmann::json undo;
    undo["found"] = summary.found;
    undo["kind"] = summary.kind == RunRecord::Kind::removal ? "removal" : "tagging";
    undo["dry_run"] = dryRun;
    undo["restored"] = summary.restored;
    undo["changed_since"] = summary.changedSince;
    undo["failed"] = summary.failed;
    undo["stopped"] = summary.stopped;
    undo["restored_files"] = summary.restoredPaths;
    undo["changed_files"] = summary.changedPaths;
    putOut(Dump(nlohmann::json{{"undo", undo}}));
}

void CliObserver::RemovalDone(const RemovalSummary& summary, bool dryRun) {
    if (!json_ || summary.result == RunResult::inputMissing) {
        return;
    }
    nlohmann::json removal;
    removal["dry_run"] = dryRun;
    removal["removed"] = summary.removed;
    removal["without_gps"] = summary.withoutGps;
    removal["failed"] = summary.failed;
    removal["stopped"] = summary.result == RunResult::stopped;
    removal["removed_files"] = summary.removedPaths;
    putOut(Dump(nlohmann::json{{"removal", removal}}));
}

void CliObserver::putOut(const std::string& line) {
    // Only a shared terminal can show the two streams on one line.
    const bool shared = progressShown_ && outIsTerminal_;
    if (shared) {
        wipeProgress();
    }
    PutLine(out_, line);
    if (outIsTerminal_) {
        std::fflush(out_);
    }
    if (shared) {
        drawProgress(true);
    }
}

void CliObserver::SetProgressMax(int maximum) {
    maximum_ = maximum;
    // The rate counts from the end of the folder scan; the GPX import is part of the photos' time.
    started_ = std::chrono::steady_clock::now();
}

void CliObserver::SetProgressPosition(int position) {
    position_ = position;
    if (position <= 0) {
        wipeProgress();  // the run resets the bar when it ends
        return;
    }
    drawProgress(false);
}

void CliObserver::ShowError(const std::string& text) { Error(text); }

void CliObserver::Information(const std::string& text) {
    if (outIsTerminal_) {
        wipeProgress();
    }
    PutLine(out_, json_ ? Dump(nlohmann::json{{"information", text}}) : text);
    std::fflush(out_);
}

void CliObserver::Error(const std::string& text) {
    std::fflush(out_);  // what was logged before the error comes before it
    wipeProgress();
    PutLine(err_, text);
    std::fflush(err_);
}

void CliObserver::Finish() {
    wipeProgress();
    std::fflush(out_);
    std::fflush(err_);
}

}  // namespace zeloro::cli
