// src/trackstore/TrackStore.cpp: data folder resolution and emptying of the track table.
#include "trackstore/TrackStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/SystemFolders.h"
#include "trackstore/Database.h"

namespace zeloro {
namespace {

bool fileExists(const std::string& path) noexcept {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string ResolveDataFolder(const std::string& commonFolder, const std::string& exeFolder) {
    std::string common = commonFolder;
    if (!common.empty() && common.back() != '/') {
        common += '/';
    }
    // An unknown common folder must not turn into a search relative to the current directory.
    if (!common.empty()) {
        std::string folder = common + kDataSubFolder;
        if (fileExists(folder + kDatabaseFileName)) {
            return folder;
        }
    }
    if (!exeFolder.empty() && fileExists(exeFolder + kDatabaseFileName)) {
        return exeFolder;
    }
    return {};
}

std::string ResolveDataFolder() {
    return ResolveDataFolder(GetSpecialFolderPath(kCommonAppDataFolder), ExecutableFolder());
}

DataFolderLock::DataFolderLock(const std::string& dataFolder) {
    const std::string path = dataFolder + kLockFileName;
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd_) {
        return;
    }
    int result = 0;
    do {
        result = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno == EWOULDBLOCK) {
        throw DataFolderBusyError(kDataFolderBusyPrefix +
                                  (dataFolder.empty() ? std::string(".") : dataFolder) +
                                  kDataFolderBusySuffix);
    }
}

std::string DatabasePath(const std::string& dataFolder) { return dataFolder + kDatabaseFileName; }

bool clearDatabase(Query& query) noexcept {
    try {
        query.Close();
        query.SetSQL("DELETE FROM gpx");
        query.ExecSQL();
        // The plain form compacts the main database; with a schema word SQLite would look for an
        // attached database of that name and fail although the table is already empty.
        query.SetSQL("VACUUM");
        query.ExecSQL();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace zeloro
