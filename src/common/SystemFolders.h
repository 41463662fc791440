// src/common/SystemFolders.h: the well-known folders the data folder is looked for in.
#pragma once
#include <string>

namespace zeloro {

inline constexpr int kCommonAppDataFolder = 35;

// The path of a well-known folder without trailing "/": "/var/lib" for the common application-data
// folder (35); the empty text for any number not known here.
[[nodiscard]] std::string GetSpecialFolderPath(int folder);

// The folder of the running executable with a trailing "/"; empty when it cannot be determined.
[[nodiscard]] std::string ExecutableFolder();

}  // namespace zeloro
