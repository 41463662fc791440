// tests/cli/CliProcess.h: runs zeloro-cli as a child process and keeps what it printed.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace zeloro::test {

struct ProcessResult {
    int exitStatus = -1;  // -1 when the process did not exit normally (signal)
    int signal = 0;       // the signal that ended the process, else 0
    std::string out;
    std::string err;
};

// Runs program with args, stdin from /dev/null, stdout and stderr captured separately: stdout through a
// pipe, stderr through a pipe or, with stderrTerminal, a pseudo-terminal (what a user's shell gives).
// A non-empty workDir becomes the child's current directory.
[[nodiscard]] ProcessResult RunProcess(const std::filesystem::path& program,
                                       const std::vector<std::string>& args, bool stderrTerminal = false,
                                       const std::filesystem::path& workDir = {});

// Runs program as RunProcess does, with input on its stdin through a pipe.
[[nodiscard]] ProcessResult RunProcessWithInput(const std::filesystem::path& program,
                                                const std::vector<std::string>& args,
                                                const std::string& input);

// Runs program as RunProcess does, with stdout a pipe of one page, and sends it signal once its stdout
// holds the text `after`: from there on stdout is not read until the pipe is full and the program waits
// in a write of its output, so the signal meets that write (and the program still has all the output
// after it to write); then stdout is read to the end. Throws when the program ends before its stdout holds
// `after`.
[[nodiscard]] ProcessResult RunProcessAndSignal(const std::filesystem::path& program,
                                                const std::vector<std::string>& args,
                                                const std::string& after, int signal);

// The lines of a text, without their line ends; a last line without line end counts too.
[[nodiscard]] std::vector<std::string> SplitLines(const std::string& text);

// A log line with its stamp ("dd.mm.yyyy" and, unless the time is 00:00:00, " hh:mm:ss") cut off;
// the line itself when it does not start with a stamp, prefixed with "NO STAMP:" so a comparison fails.
[[nodiscard]] std::string StripStamp(const std::string& line);

}  // namespace zeloro::test
