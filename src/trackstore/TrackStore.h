// src/trackstore/TrackStore.h: where the track database lies and how its table is emptied.
#pragma once
#include <string>

#include "common/Error.h"
#include "common/FileDescriptor.h"

namespace zeloro {

class Query;

inline constexpr const char* kDatabaseFileName = "zeloro.sqlite";
inline constexpr const char* kDataSubFolder = "kvd/zeloro/";

// The installed template of the data folder, relative to the installed programs.
inline constexpr const char* kTemplateFolderFromExe = "../share/zeloro/";
// What a template holds, and so what a data folder filled from it gets.
inline constexpr const char* kHelpDocumentName = "doku.pdf";
inline constexpr const char* kMapsSubFolder = "maps";

// The data folder with a trailing "/". When the installed template (beside the programs,
// kTemplateFolderFromExe) holds zeloro.sqlite: the user's "kvd/zeloro/", created and filled from the
// template at the first start, and given back any template file it lacks at every later one (stale
// staging folders of a copy that was killed are removed first). Without a template: the user's
// "kvd/zeloro/" when it holds zeloro.sqlite. Else the executable's folder when that holds the database (a
// build tree); else the empty text (the caller reports kDatabaseNotFoundMessage and goes no further).
// Throws FileError naming the folder and the reason when the folder could not be created or filled, and
// FileError kNoHomeFolderMessage when no home folder is known (GetSpecialFolderPath) and the executable's
// folder holds no database; nothing is created then.
[[nodiscard]] std::string ResolveDataFolder();
// The same over given candidates: commonFolder (with or without trailing "/"; empty: no home folder is
// known), exeFolder (with "/") and templateFolder (with "/"; empty: none).
[[nodiscard]] std::string ResolveDataFolder(const std::string& commonFolder, const std::string& exeFolder,
                                            const std::string& templateFolder = {});

inline constexpr const char* kDatabaseNotFoundMessage = "Die Datenbankdatei konnte nicht gefunden werden";
inline constexpr const char* kNoHomeFolderMessage =
    "Der Datenordner kann nicht bestimmt werden: weder XDG_DATA_HOME noch HOME nennt einen absoluten "
    "Ordner, und die Benutzerdatenbank kennt keinen Home-Ordner für diesen Benutzer.";

// Creates dataFolder (with trailing "/") as a copy of templateFolder: zeloro.sqlite, maps/ and, when
// present, doku.pdf, each writable by the user. The copy is put together in a staging folder beside the
// target ("zeloro.XXXXXX", held with a flock while it is filled) and renamed into place, so a second
// program starting at the same moment sees either nothing or the whole folder. Throws FileError naming
// the folder and the reason.
void CreateDataFolderFromTemplate(const std::string& templateFolder, const std::string& dataFolder);

// Gives the existing dataFolder (with trailing "/") each file of the template it lacks (zeloro.sqlite,
// doku.pdf, the files and folders below maps/), writable by the user. Each file appears whole under its
// name or not at all, and never replaces a name that exists: what the user has, or what another program
// put there a moment ago, stays as it is. Throws FileError naming the folder and the reason.
void FillDataFolderFromTemplate(const std::string& templateFolder, const std::string& dataFolder);

// Removes what a killed CreateDataFolderFromTemplate left beside dataFolder (with trailing "/"): folders
// named like the data folder, a dot and six letters or digits, owned by this user, unchanged for
// kStaleStagingSeconds and held by no running copy. Anything else there, links included, stays; a folder
// that cannot be removed is left for the next start.
void RemoveStaleStagingFolders(const std::string& dataFolder) noexcept;
inline constexpr long kStaleStagingSeconds = 60;

// Throws DatabaseError naming the file and the reason (German) when the database at path exists but
// cannot be read and written, or its folder does not take the journal SQLite writes beside it, so
// the fault shows before any photo is touched. A missing file is left to the caller.
void CheckDatabaseWritable(const std::string& path);

// dataFolder + "zeloro.sqlite". Throws DatabaseError kDatabaseNotFoundMessage for an empty data folder.
[[nodiscard]] std::string DatabasePath(const std::string& dataFolder);

// Holds the data folder for one process: its table and map page are shared by whoever uses the folder,
// and two runs importing into one table would each look up the other's points. The hold is an exclusive
// flock on the folder's "zeloro.lock", so it ends with the process however that ends (a SIGKILL included)
// and never needs cleaning up. A folder where no lock file can be made (read-only) is used without one:
// nothing can be imported there anyway. Throws DataFolderBusyError when another process holds the folder.
class DataFolderLock {
public:
    explicit DataFolderLock(const std::string& dataFolder);

private:
    FileDescriptor fd_;
};

// "Der Datenordner <folder> wird bereits von einem anderen Lauf benutzt. ..."
class DataFolderBusyError : public Error {
public:
    using Error::Error;
};
inline constexpr const char* kLockFileName = "zeloro.lock";
inline constexpr const char* kDataFolderBusyPrefix = "Der Datenordner ";
inline constexpr const char* kDataFolderBusySuffix =
    " wird bereits von einem anderen Lauf benutzt. Bitte warten Sie, bis dieser beendet ist.";

// The mark a process leaves when it keeps its track points on purpose (--keep). Points found in the table
// without it were left by a process that died before it could empty the table, and are never used.
inline constexpr const char* kKeptMarkFileName = "zeloro.kept";

// Deletes every track point and compacts the file. False when any step failed; nothing is reported.
bool EmptyTrackTable(Query& query) noexcept;

}  // namespace zeloro
