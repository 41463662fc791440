// src/filesafe/SafeFileWrite.cpp: the replace by path (temporary file, full write, close, permission bits,
// rename) and the pieces every way of saving shares.
#include "filesafe/SafeFileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "filesafe/FolderReplace.h"
#include "filesafe/detail/SafeWriteCommon.h"
#include "filesafe/detail/SaveJournalFormat.h"

namespace zeloro {

using detail::Checksum;
using detail::InjectedError;
using detail::kJournalMark;
using detail::RefuseReadOnly;
using detail::ThrowCreateError;
using detail::WriteAll;

namespace {

SafeWriteFaultHook& FaultHook() {
    static SafeWriteFaultHook hook;
    return hook;
}

// The longest stem that leaves room for the journal's dot and mark within a name of 255 bytes (a
// temporary file's ".zeloro-XXXXXX" is one byte shorter).
constexpr std::size_t kLongestStem = NAME_MAX - 1 - kJournalMark.size();

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

std::string TemporaryName(const std::string& fileName) {
    static constexpr std::string_view kLetters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    const std::string stem = SaveNameStem(fileName);
    std::string name;
    name.reserve(stem.size() + 16);
    name.append(".").append(stem).append(".zeloro-");
    for (int i = 0; i < 6; ++i) {
        name.push_back(kLetters[random() % kLetters.size()]);
    }
    return name;
}

// Tries hidden names beside `base` until `take` gets one that is free (it returns 0, or errno; EEXIST means
// taken, try the next). Gives the name it got, or the error that ended the search.
template <typename Take>
int TakeFreeName(const std::string& base, std::string& taken, Take take) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(base);
        const int error = take(name);
        if (error == 0) {
            taken = std::move(name);
            return 0;
        }
        if (error != EEXIST) {
            return error;
        }
    }
    return EEXIST;
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
    if (struct stat existing{}; ::stat(target.c_str(), &existing) == 0) {
        RefuseReadOnly(path, existing, AT_FDCWD, target.c_str());
    }
    const std::filesystem::path targetPath(target);
    std::filesystem::path folder = targetPath.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // Same folder, so the rename stays on one file system and is atomic; hidden, so folder scans of
    // photos never pick it up.
    // Built by appending: GCC 12 at -O3 misreads a chain of string + as overlapping copies.
    std::string name;
    const std::string base = SaveNameStem(targetPath.filename().string());
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

    if (WriteAll(temp.Fd(), parts) != 0) {
        ThrowWriteError();
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

std::string SaveNameStem(const std::string& fileName) {
    if (fileName.size() <= kLongestStem) {
        return fileName;
    }
    static constexpr std::string_view kHex = "0123456789abcdef";
    static constexpr std::size_t kHashText = 1 + 16;
    std::size_t cut = kLongestStem - kHashText;
    // Whole characters only, so the name stays valid UTF-8 where the photo's was.
    while (cut > 0 && (static_cast<unsigned char>(fileName[cut]) & 0xC0U) == 0x80U) {
        --cut;
    }
    std::string stem = fileName.substr(0, cut);
    stem.push_back('~');
    const std::uint64_t hash = Checksum(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(fileName.data()), fileName.size()));
    for (int shift = 60; shift >= 0; shift -= 4) {
        stem.push_back(kHex[(hash >> static_cast<unsigned>(shift)) & 0xFU]);
    }
    return stem;
}

namespace detail {

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

// Writes the parts one after the other at the file's position; the errno of a failed write (ENOSPC for one
// that wrote nothing), else 0.
int WriteAll(int fd, std::span<const std::span<const std::uint8_t>> parts) {
    for (const std::span<const std::uint8_t> part : parts) {
        const std::uint8_t* next = part.data();
        std::size_t left = part.size();
        while (left > 0) {
            const int injected = InjectedError(SafeWriteStep::write);
            const std::size_t chunk = std::min<std::size_t>(left, std::size_t{1} << 30U);
            const ssize_t written = injected != 0 ? -1 : ::write(fd, next, chunk);
            const int error = injected != 0 ? injected : errno;
            if (written < 0 && injected == 0 && error == EINTR) {
                continue;
            }
            if (written <= 0) {
                return written == 0 ? ENOSPC : error;
            }
            next += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    return 0;
}

void WriteParts(int fd, std::span<const std::span<const std::uint8_t>> parts) {
    if (const int error = WriteAll(fd, parts); error != 0) {
        throw StreamError(std::string(kStreamWriteError) + ": " + ReasonText(error));
    }
}

[[noreturn]] void ThrowStreamWrite(int error) {
    throw StreamError(std::string(kStreamWriteError) + ": " + ReasonText(error));
}

[[noreturn]] void ThrowOpenError(const std::string& path, const std::string& cause) {
    throw FileError("Datei " + path + " kann nicht geöffnet werden. " + cause);
}

[[noreturn]] void ThrowSkipped(const std::string& path, const char* cause) {
    throw FileSkippedError(path, cause);
}

[[noreturn]] void ThrowTimesError(const std::string& path, int cause) {
    throw FileError("Die Änderungszeit von " + path + " konnte nicht gesetzt werden. " +
                    std::strerror(cause));
}

void RefuseReadOnly(const std::string& path, const struct stat& info, int folder, const char* name) {
    const bool readOnly = ::geteuid() == 0
                              ? (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0
                              : ::faccessat(folder, name, W_OK, AT_EACCESS) != 0 && errno == EACCES;
    if (readOnly) {
        throw FileError("Die Datei " + path + " ist schreibgeschützt und wird nicht geändert.");
    }
}

bool SameContentIdentity(const struct stat& a, const struct stat& b) noexcept {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::uint64_t Checksum(std::span<const std::uint8_t> bytes) noexcept {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    return hash;
}

std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

FolderTemporary::~FolderTemporary() {
    fd_.reset();
    if (!name_.empty() && !kept_) {
        ::unlinkat(folder_, name_.c_str(), 0);
    }
}

int FolderTemporary::Create(const std::string& base) {
    fd_.reset(::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd_) {
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return errno;
    }
    return TakeFreeName(base, name_, [this](const std::string& name) {
        fd_.reset(
            ::openat(folder_, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
        return fd_ ? 0 : errno;
    });
}

int FolderTemporary::Name(const std::string& base) {
    if (!name_.empty()) {
        return 0;
    }
    const std::string self = DescriptorPath(fd_.get());
    return TakeFreeName(base, name_, [this, &self](const std::string& name) {
        return ::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    });
}

int FolderTemporary::LinkAs(const std::string& name) {
    if (name_.empty()) {
        const std::string self = DescriptorPath(fd_.get());
        return ::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }
    // The named fallback keeps its own name until it goes.
    return ::linkat(folder_, name_.c_str(), folder_, name.c_str(), 0) == 0 ? 0 : errno;
}

}  // namespace detail

}  // namespace zeloro
