// src/cli/CliObserver.cpp: log lines on stdout, errors and the progress display on stderr.
#include "cli/CliObserver.h"

namespace zeloro::cli {
namespace {

// Redrawing a terminal line for every photo of a fast run costs more than the photo; a few redraws a
// second are enough to see it move.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void PutLine(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
}

}  // namespace

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
    PutLine(out_, text);
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
