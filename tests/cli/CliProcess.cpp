// tests/cli/CliProcess.cpp: fork/exec with two pipes read through poll, so neither pipe can fill up.
#include "CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <regex>
#include <stdexcept>

namespace zeloro::test {

namespace {

// When to send a signal: once stdout holds `after` and the pipe is full again.
struct SignalPlan {
    std::string after;
    int signal = 0;
};

// True when a thread of the process waits in a write to a pipe, as the kernel names its wait.
bool WaitsInPipeWrite(pid_t pid) {
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream wchan(task.path() / "wchan");
        std::string where;
        if (std::getline(wchan, where) && where.find("pipe_write") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Waits until the pipe is full and the writer waits in its next write. At most 10 s: where the kernel
// does not name the wait, the writer is held all the same once the pipe is full and its own buffer too.
void WaitUntilHeldInWrite(pid_t pid, int readEnd) {
    const int capacity = ::fcntl(readEnd, F_GETPIPE_SZ);
    for (int waited = 0; waited < 10'000; ++waited) {
        int queued = 0;
        if (::ioctl(readEnd, FIONREAD, &queued) == 0 && queued >= capacity && WaitsInPipeWrite(pid)) {
            return;
        }
        ::usleep(1000);
    }
}

ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                  bool stderrTerminal, const std::filesystem::path& workDir, const SignalPlan* plan,
                  const std::string* input = nullptr) {
    std::array<int, 2> inPipe{-1, -1};
    if (input != nullptr && ::pipe2(inPipe.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::array<int, 2> outPipe{};
    std::array<int, 2> errPipe{};
    if (::pipe2(outPipe.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (plan != nullptr && ::fcntl(outPipe[0], F_SETPIPE_SZ, 4096) < 0) {
        throw std::runtime_error("F_SETPIPE_SZ failed");
    }
    if (stderrTerminal) {
        // errPipe[0] is the terminal's master side, errPipe[1] the side the child writes to.
        if (::openpty(&errPipe[0], &errPipe[1], nullptr, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        ::fcntl(errPipe[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(errPipe[1], F_SETFD, FD_CLOEXEC);
    } else if (::pipe2(errPipe.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argvText{program.string()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string workDirText = workDir.string();

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(input != nullptr ? inPipe[0] : devNull, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        if (!workDirText.empty() && ::chdir(workDirText.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (input != nullptr) {
        // The program reads its whole input before it writes: the pipe cannot fill both ways at once. A
        // program that ends without reading it must not end the test with SIGPIPE.
        ::signal(SIGPIPE, SIG_IGN);
        ::close(inPipe[0]);
        std::size_t done = 0;
        while (done < input->size()) {
            const ssize_t n = ::write(inPipe[1], input->data() + done, input->size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ::close(inPipe[1]);
    }

    ProcessResult result;
    std::array<pollfd, 2> fds{pollfd{outPipe[0], POLLIN, 0}, pollfd{errPipe[0], POLLIN, 0}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    int open = 2;
    bool signalled = plan == nullptr;
    std::array<char, 65536> buffer{};
    while (open > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (got > 0) {
                sinks[i]->append(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0 ||
                       errno != EINTR) {  // a terminal's master reports EIO once the child is gone
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                if (i == 0 && !signalled) {
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, nullptr, 0);
                    throw std::runtime_error("the program ended before its output held " + plan->after);
                }
            }
            if (i == 0 && !signalled && result.out.find(plan->after) != std::string::npos) {
                signalled = true;
                WaitUntilHeldInWrite(pid, outPipe[0]);
                ::kill(pid, plan->signal);
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         bool stderrTerminal, const std::filesystem::path& workDir) {
    return Run(program, args, stderrTerminal, workDir, nullptr);
}

ProcessResult RunProcessWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                  const std::string& input) {
    return Run(program, args, false, {}, nullptr, &input);
}

ProcessResult RunProcessAndSignal(const std::filesystem::path& program, const std::vector<std::string>& args,
                                  const std::string& after, int signal) {
    const SignalPlan plan{after, signal};
    return Run(program, args, false, {}, &plan);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string StripStamp(const std::string& line) {
    static const std::regex stamp(R"(^\d\d\.\d\d\.\d{4}( \d\d:\d\d:\d\d)?)");
    std::smatch m;
    if (!std::regex_search(line, m, stamp)) {
        return "NO STAMP:" + line;
    }
    return m.suffix().str();
}

}  // namespace zeloro::test
