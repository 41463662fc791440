// src/trackstore/TrackStore.cpp: data folder resolution and emptying of the track table.
#include "trackstore/TrackStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/Error.h"
#include "common/ReasonText.h"
#include "common/SystemFolders.h"
#include "trackstore/Database.h"

namespace zeloro {
namespace {

bool fileExists(const std::string& path) noexcept {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void CheckDatabaseWritable(const std::string& path) {
    if (!fileExists(path)) {
        return;
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS) {
            throw DatabaseError(SQLITE_READONLY, "Die Datenbank " + path + " ist schreibgeschützt (" +
                                                     ReasonText(error) + ").");
        }
        throw DatabaseError(SQLITE_CANTOPEN, "Die Datenbank " + path +
                                                 " kann nicht geöffnet werden: " + ReasonText(error) + ".");
    }
    const std::string folder = ParentFolder(path);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        throw DatabaseError(SQLITE_READONLY, "Die Datenbank " + path +
                                                 " kann nicht geschrieben werden: der Ordner " + folder +
                                                 " ist schreibgeschützt (" + ReasonText(errno) + ").");
    }
}

std::string ResolveDataFolder(const std::string& commonFolder, const std::string& exeFolder,
                              const std::string& templateFolder) {
    std::string common = commonFolder;
    if (!common.empty() && common.back() != '/') {
        common += '/';
    }
    // An unknown common folder must not turn into a search relative to the current directory.
    if (!common.empty()) {
        std::string folder = common + kDataSubFolder;
        if (!templateFolder.empty() && fileExists(templateFolder + kDatabaseFileName)) {
            RemoveStaleStagingFolders(folder);
            struct stat st {};
            if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                // A file the user deleted (the database included) comes back as the template has it;
                // every file that is there stays as it is.
                FillDataFolderFromTemplate(templateFolder, folder);
            } else {
                CreateDataFolderFromTemplate(templateFolder, folder);
            }
            return folder;
        }
        if (fileExists(folder + kDatabaseFileName)) {
            return folder;
        }
    }
    if (!exeFolder.empty() && fileExists(exeFolder + kDatabaseFileName)) {
        return exeFolder;
    }
    if (common.empty()) {
        throw FileError(kNoHomeFolderMessage);
    }
    return {};
}

std::string ResolveDataFolder() {
    const std::string exeFolder = ExecutableFolder();
    const std::string templateFolder = exeFolder.empty() ? std::string() : exeFolder + kTemplateFolderFromExe;
    return ResolveDataFolder(GetSpecialFolderPath(kCommonAppDataFolder), exeFolder, templateFolder);
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

std::string DatabasePath(const std::string& dataFolder) {
    // The bare name would open, or create, a file in whatever folder the program was started in.
    if (dataFolder.empty()) {
        throw DatabaseError(SQLITE_CANTOPEN, kDatabaseNotFoundMessage);
    }
    return dataFolder + kDatabaseFileName;
}

bool EmptyTrackTable(Query& query) noexcept {
    try {
        query.Close();
        // Where SQLite is built to zero every freed page, a delete of a big track writes each page twice
        // more (journal and file), and the compaction right after drops the freed pages from the file
        // anyway: the file comes out the same without the zeroing. The connection keeps its setting.
        query.SetSQL("PRAGMA secure_delete");
        query.Open();
        const std::string secureDelete = query.Eof() ? "" : query.Fields().front().AsString();
        query.Close();
        const bool zeroing = !secureDelete.empty() && secureDelete != "0";
        if (zeroing) {
            query.SetSQL("PRAGMA secure_delete = 0");
            query.ExecSQL();
        }
        bool deleted = true;
        try {
            query.SetSQL("DELETE FROM gpx");
            query.ExecSQL();
        } catch (...) {
            deleted = false;
        }
        if (zeroing) {
            query.SetSQL("PRAGMA secure_delete = " + secureDelete);
            query.ExecSQL();
        }
        if (!deleted) {
            return false;
        }
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
