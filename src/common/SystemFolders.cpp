// src/common/SystemFolders.cpp: well-known folders and the executable's folder from /proc/self/exe.
#include "common/SystemFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace zeloro {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string DataFolderBelow(const std::string& home) {
    const std::string base = WithoutTrailingSlashes(home);
    return (base == "/" ? std::string() : base) + "/.local/share";
}

}  // namespace

std::string PasswordHomeFolder() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1U << 20U)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
            return {};
        }
        return found->pw_dir;
    }
}

std::string UserDataFolder(const char* xdgDataHome, const char* home,
                           const std::function<std::string()>& passwordHome) {
    // A relative XDG_DATA_HOME is invalid by the base-directory rules and would point wherever the
    // program happens to be started; a relative HOME the same.
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
        return WithoutTrailingSlashes(xdgDataHome);
    }
    if (home != nullptr && home[0] == '/') {
        return DataFolderBelow(home);
    }
    // A program started without a login environment (a service, "env -i") is still run by a user.
    const std::string fromDatabase = passwordHome ? passwordHome() : std::string();
    if (!fromDatabase.empty() && fromDatabase[0] == '/') {
        return DataFolderBelow(fromDatabase);
    }
    return {};
}

std::string GetSpecialFolderPath(int folder) {
    if (folder == kCommonAppDataFolder) {
        return UserDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"), PasswordHomeFolder);
    }
    return {};
}

std::string ExecutableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(length));
    const std::size_t slash = buffer.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return buffer.substr(0, slash + 1);
}

}  // namespace zeloro
