// src/trackstore/TrackStore.cpp: data folder resolution and emptying of the track table.
#include "trackstore/TrackStore.h"

#include <sys/stat.h>

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
