// src/common/SystemFolders.cpp: well-known folders and the executable's folder from /proc/self/exe.
#include "common/SystemFolders.h"

#include <unistd.h>

namespace zeloro {

std::string GetSpecialFolderPath(int folder) {
    if (folder == kCommonAppDataFolder) {
        return "/var/lib";
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
