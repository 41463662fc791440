// src/common/SystemFolders.cpp: well-known folders and the executable's folder from /proc/self/exe.
#include "common/SystemFolders.h"

#include <unistd.h>

#include <cstdlib>

namespace zeloro {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string UserDataFolder(const char* xdgDataHome, const char* home) {
    // A relative XDG_DATA_HOME is invalid by the base-directory rules and would point wherever the
    // program happens to be started.
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
        return WithoutTrailingSlashes(xdgDataHome);
    }
    if (home != nullptr && home[0] == '/') {
        const std::string base = WithoutTrailingSlashes(home);
        return (base == "/" ? std::string() : base) + "/.local/share";
    }
    return {};
}

std::string GetSpecialFolderPath(int folder) {
    if (folder == kCommonAppDataFolder) {
        return UserDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
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
