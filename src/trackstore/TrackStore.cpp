// src/trackstore/TrackStore.cpp: data folder resolution and emptying of the track table.
#include "trackstore/TrackStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "common/Error.h"
#include "common/ReasonText.h"
#include "common/SystemFolders.h"
#include "trackstore/Database.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;

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

[[noreturn]] void ThrowDataFolderError(const std::string& folder, int error) {
    throw FileError("Der Datenordner " + folder + " kann nicht angelegt werden: " + ReasonText(error));
}

void CopyTemplate(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::copy_file(from / kDatabaseFileName, to / kDatabaseFileName, ec);
    if (!ec && fs::is_regular_file(from / kHelpDocumentName)) {
        fs::copy_file(from / kHelpDocumentName, to / kHelpDocumentName, ec);
    }
    if (!ec && fs::is_directory(from / kMapsSubFolder)) {
        fs::copy(from / kMapsSubFolder, to / kMapsSubFolder, fs::copy_options::recursive, ec);
    }
    if (ec) {
        throw std::system_error(ec);
    }
    // The template is read-only for everybody; the copy is the user's own: the database and the map
    // page are rewritten, and a later update of the folder must be able to replace every file.
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(to)) {
        const fs::perms add =
            entry.is_directory() ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write;
        fs::permissions(entry.path(), add, fs::perm_options::add);
    }
}

}  // namespace

void CreateDataFolderFromTemplate(const std::string& templateFolder, const std::string& dataFolder) {
    fs::path target(dataFolder);
    if (!target.has_filename()) {
        target = target.parent_path();
    }
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
        ThrowDataFolderError(dataFolder, ec.value());
    }
    std::string staging = (target.parent_path() / (target.filename().string() + ".XXXXXX")).string();
    if (mkdtemp(staging.data()) == nullptr) {
        ThrowDataFolderError(dataFolder, errno);
    }
    try {
        CopyTemplate(fs::path(templateFolder), fs::path(staging));
        fs::permissions(staging, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    } catch (const std::system_error& e) {
        fs::remove_all(staging, ec);
        ThrowDataFolderError(dataFolder, e.code().value());
    }
    // rename() of a folder does not replace a non-empty one: a program that started at the same moment
    // and finished first keeps its folder, and this copy goes.
    if (::rename(staging.c_str(), target.c_str()) != 0) {
        const int error = errno;
        fs::remove_all(staging, ec);
        if (!fileExists(dataFolder + kDatabaseFileName)) {
            ThrowDataFolderError(dataFolder, error);
        }
    }
}

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
        if (fileExists(folder + kDatabaseFileName)) {
            return folder;
        }
        if (!templateFolder.empty() && fileExists(templateFolder + kDatabaseFileName)) {
            CreateDataFolderFromTemplate(templateFolder, folder);
            return folder;
        }
    }
    if (!exeFolder.empty() && fileExists(exeFolder + kDatabaseFileName)) {
        return exeFolder;
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

std::string DatabasePath(const std::string& dataFolder) { return dataFolder + kDatabaseFileName; }

bool clearDatabase(Query& query) noexcept {
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
