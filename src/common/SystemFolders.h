// src/common/SystemFolders.h: the well-known folders the data folder is looked for in.
#pragma once
#include <functional>
#include <string>

namespace zeloro {

inline constexpr int kCommonAppDataFolder = 35;

// The path of a well-known folder without trailing "/": the user's data folder for the common
// application-data folder (35), which only the user's own folder can stand for on a multi-user
// system; the empty text for any number not known here (and for 35 when no home folder is known).
[[nodiscard]] std::string GetSpecialFolderPath(int folder);

// The home folder of the real user as the password database gives it; empty when the user has no entry
// there or its home folder is not absolute.
[[nodiscard]] std::string PasswordHomeFolder();

// The user's data folder from the values of XDG_DATA_HOME and HOME (either may be null): XDG_DATA_HOME
// when it is absolute, else HOME + "/.local/share" when HOME is absolute, else passwordHome() (asked only
// then; PasswordHomeFolder outside tests) + "/.local/share" when that is absolute, else the empty text.
[[nodiscard]] std::string UserDataFolder(const char* xdgDataHome, const char* home,
                                         const std::function<std::string()>& passwordHome);

// The folder of the running executable with a trailing "/"; empty when it cannot be determined.
[[nodiscard]] std::string ExecutableFolder();

}  // namespace zeloro
