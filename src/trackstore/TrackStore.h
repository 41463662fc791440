// src/trackstore/TrackStore.h: where the track database lies and how its table is emptied.
#pragma once
#include <string>

namespace zeloro {

class Query;

inline constexpr const char* kDatabaseFileName = "zeloro.sqlite";
inline constexpr const char* kDataSubFolder = "kvd/zeloro/";

// The data folder with a trailing "/": the common application-data folder's "kvd/zeloro/" when it holds
// zeloro.sqlite, else the executable's folder when that holds it, else the empty text (the caller tells
// the user "Die Datenbankdatei konnte nicht gefunden werden").
[[nodiscard]] std::string ResolveDataFolder();
// The same over given candidates: commonFolder (with or without trailing "/") and exeFolder (with "/").
[[nodiscard]] std::string ResolveDataFolder(const std::string& commonFolder, const std::string& exeFolder);

// dataFolder + "zeloro.sqlite"; the bare name for an empty data folder.
[[nodiscard]] std::string DatabasePath(const std::string& dataFolder);

// Deletes every track point and compacts the file. False when any step failed; nothing is reported.
bool clearDatabase(Query& query) noexcept;

}  // namespace zeloro
