// src/metadata/SafeFileWrite.cpp: temporary file, full write, close, permission bits, rename.
#include "metadata/SafeFileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "common/Error.h"
#include "common/FileDescriptor.h"

namespace zeloro {
namespace {

SafeWriteFaultHook& FaultHook() {
    static SafeWriteFaultHook hook;
    return hook;
}

int InjectedError(SafeWriteStep step) {
    const SafeWriteFaultHook& hook = FaultHook();
    return hook ? hook(step) : 0;
}

[[noreturn]] void ThrowCreateError(const std::string& path, int error) {
    const std::string reason = std::generic_category().message(error);
    std::string message;
    message.reserve(path.size() + reason.size() + 40);
    message.append("Datei ").append(path).append(" kann nicht erstellt werden. ").append(reason);
    throw FileError(message);
}

[[noreturn]] void ThrowWriteError() { throw StreamError(kStreamWriteError); }

// Removes the temporary file unless the rename has made it the target.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        fd_.reset();  // closed before the name goes
        if (!kept_) {
            ::unlink(path_.c_str());
        }
    }
    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] int Fd() const noexcept { return fd_.get(); }
    void SetFd(int fd) noexcept { fd_.reset(fd); }
    // Closes the descriptor; returns the errno of a failed close, else 0.
    int Close() noexcept { return fd_.close(); }
    void Keep() noexcept { kept_ = true; }

private:
    std::string path_;
    FileDescriptor fd_;
    bool kept_ = false;
};

// The mode a newly created file would get: 0666 less the process's file-creation mask.
mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666U & ~static_cast<unsigned>(mask));
}

std::string ResolveTarget(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
        if (!ec) {
            return resolved.string();
        }
    }
    return path;
}

// A file the user may not write is one marked "do not change": an in-place write would fail on it, but the
// rename over it would not, so it is refused before anything is written. The kernel's own rule decides
// (owner, group, others and ACLs, for the effective user). Root passes every permission check, so for
// root the mode alone tells: a file without any write bit is read-only to root as well.
void RefuseReadOnlyTarget(const std::string& path, const std::string& target) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) {
        return;  // nothing there yet: the write creates it
    }
    const bool readOnly =
        ::geteuid() == 0 ? (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0
                         : ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
    if (readOnly) {
        throw FileError("Die Datei " + path + " ist schreibgeschützt und wird nicht geändert.");
    }
}

}  // namespace

void SetSafeWriteFaultHook(SafeWriteFaultHook hook) { FaultHook() = std::move(hook); }

void WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes, bool durable) {
    const std::span<const std::uint8_t> parts[] = {bytes};
    WriteFileReplacing(path, parts, durable);
}

void WriteFileReplacing(const std::string& path, std::span<const std::span<const std::uint8_t>> parts,
                        bool durable) {
    const std::string target = ResolveTarget(path);
    RefuseReadOnlyTarget(path, target);
    const std::filesystem::path targetPath(target);
    std::filesystem::path folder = targetPath.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // Same folder, so the rename stays on one file system and is atomic; hidden, so folder scans of
    // photos never pick it up.
    // Built by appending: GCC 12 at -O3 misreads a chain of string + as overlapping copies.
    std::string name;
    const std::string base = targetPath.filename().string();
    name.reserve(base.size() + 16);
    name.append(".").append(base).append(".zeloro-XXXXXX");
    std::string pattern = (folder / name).string();

    int error = InjectedError(SafeWriteStep::create);
    const int fd = error != 0 ? -1 : ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        ThrowCreateError(path, error != 0 ? error : errno);
    }
    TemporaryFile temp(pattern);
    temp.SetFd(fd);

    for (const std::span<const std::uint8_t> part : parts) {
        const std::uint8_t* next = part.data();
        std::size_t left = part.size();
        while (left > 0) {
            error = InjectedError(SafeWriteStep::write);
            const std::size_t chunk = std::min<std::size_t>(left, std::size_t{1} << 30U);
            const ssize_t written = error != 0 ? -1 : ::write(temp.Fd(), next, chunk);
            if (written < 0 && error == 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                ThrowWriteError();
            }
            next += written;
            left -= static_cast<std::size_t>(written);
        }
    }

    struct stat original {};
    const bool exists = ::stat(target.c_str(), &original) == 0;
    // Before the mode: a change of owner clears set-id bits.
    if (exists && (original.st_uid != ::geteuid() || original.st_gid != ::getegid())) {
        // Keeps the photo's owner when we may (running as root); otherwise the new file is ours,
        // as any program's rewrite would be.
        [[maybe_unused]] const int ignored = ::fchown(temp.Fd(), original.st_uid, original.st_gid);
    }
    error = InjectedError(SafeWriteStep::permissions);
    const mode_t mode = exists ? static_cast<mode_t>(original.st_mode & 07777U) : NewFileMode();
    if (error != 0 || ::fchmod(temp.Fd(), mode) != 0) {
        ThrowCreateError(path, error != 0 ? error : errno);
    }

    if (durable) {
        error = InjectedError(SafeWriteStep::sync);
        if (error != 0 || ::fsync(temp.Fd()) != 0) {
            ThrowWriteError();
        }
    }
    error = InjectedError(SafeWriteStep::close);
    const int closeError = temp.Close();
    if (error != 0 || closeError != 0) {
        ThrowWriteError();
    }

    error = InjectedError(SafeWriteStep::rename);
    if (error != 0 || ::rename(temp.Path().c_str(), target.c_str()) != 0) {
        ThrowCreateError(path, error != 0 ? error : errno);
    }
    temp.Keep();

    if (durable) {
        const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) {
            ::fsync(dir.get());
        }
    }
}

}  // namespace zeloro
