// src/mapexport/MapThumbnails.cpp: the thumbnail folder beside the page, filled aside and put in place.
#include "mapexport/MapThumbnails.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/Error.h"
#include "filesafe/FolderReplace.h"

namespace zeloro {
namespace {

[[noreturn]] void throwCreateError(const std::string& path, int error) {
    throw FileError("Datei " + path + " kann nicht erstellt werden. " + std::strerror(error));
}

void removeTree(const std::string& path, const std::string& shownPath) {
    std::error_code error;
    // remove_all removes a symbolic link itself and never descends through one.
    std::filesystem::remove_all(path, error);
    if (error) {
        throwCreateError(shownPath, error.value());
    }
}

}  // namespace

MapThumbnailFolder::MapThumbnailFolder(const std::string& dataFolder)
    : target_(dataFolder + "maps/" + kMapThumbnailFolder) {
    std::string name = dataFolder + "maps/." + kMapThumbnailFolder + "-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throwCreateError(target_, errno);
    }
    fresh_ = buffer.data();
    // mkdtemp makes the folder private; the thumbnails are as readable as the page beside them.
    if (::chmod(fresh_.c_str(), 0755) != 0) {
        const int error = errno;
        std::error_code ignored;
        std::filesystem::remove_all(fresh_, ignored);
        throwCreateError(target_, error);
    }
}

MapThumbnailFolder::~MapThumbnailFolder() {
    if (!fresh_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(fresh_, ignored);
    }
}

void MapThumbnailFolder::Add(std::size_t number, std::span<const std::uint8_t> jpeg) {
    WriteNewFile(fresh_ + "/" + std::to_string(number) + ".jpg", jpeg, 0644);
}

void MapThumbnailFolder::Commit() {
    removeTree(target_, target_);
    if (std::rename(fresh_.c_str(), target_.c_str()) != 0) {
        throwCreateError(target_, errno);
    }
    fresh_.clear();
}

void RemoveMapThumbnails(const std::string& dataFolder) {
    const std::string target = dataFolder + "maps/" + kMapThumbnailFolder;
    removeTree(target, target);
}

}  // namespace zeloro
