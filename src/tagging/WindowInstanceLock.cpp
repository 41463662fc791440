// src/tagging/WindowInstanceLock.cpp: one window per user and data folder.
#include "tagging/WindowInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace zeloro {
namespace {

// A socket's path must fit sun_path (108 bytes with its terminator) with the file name added.
constexpr std::size_t kLongestFolder = 64;
constexpr const char* kFallbackFolder = "/tmp";

std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

}  // namespace

std::string WindowInstanceKey(const std::string& dataFolder, uid_t user) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(dataFolder, error);
    if (error) {
        resolved = std::filesystem::path(dataFolder).lexically_normal();
        if (!resolved.has_filename() && resolved.has_relative_path()) {
            resolved = resolved.parent_path();  // "folder/" is "folder"
        }
    }
    const std::uint64_t hash = Fnv1a(std::to_string(user) + '\0' + resolved.string());
    static constexpr std::array<char, 16> kDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                                  '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    std::string key(16, '0');
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[key.size() - 1 - i] = kDigits[(hash >> (4 * i)) & 0xFU];
    }
    return key;
}

std::string WindowInstanceFolder(const char* runtimeDir) {
    if (runtimeDir == nullptr || runtimeDir[0] != '/') {
        return kFallbackFolder;
    }
    std::string folder = runtimeDir;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    struct stat info {};
    // Another user able to enter the folder could put a socket of theirs where the window looks for its own.
    if (folder.size() > kLongestFolder || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return kFallbackFolder;
    }
    return folder;
}

WindowInstanceLock::WindowInstanceLock(const std::string& folder, const std::string& key)
    : socketPath_(folder + "/zeloro-" + key + ".socket") {
    const std::string path = folder + "/zeloro-" + key + ".lock";
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat info {};
    if (!fd_ || ::fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        fd_.reset();
        return;
    }
    int result = 0;
    do {
        result = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        state_ = State::held;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::heldElsewhere;
        fd_.reset();
    } else {
        fd_.reset();
    }
}

}  // namespace zeloro
