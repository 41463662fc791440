// src/tagging/Helper.h: the photo folder scan, text splitting and the well-known folders.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zeloro {

inline constexpr int kCommonAppDataFolder = 35;

// Appends the full paths of the files below path whose names match mask ("*" and "?", letter case
// ignored). Each folder gives first its matching files, then what lies below each subfolder (depth
// first); entries are taken in name order, letter case ignored. Hidden files (leading ".") are listed,
// hidden folders are not entered; symbolic links to folders are neither listed nor entered, links to
// files are listed like files. Only regular files (or links to them) are listed, so a FIFO or socket
// that matches the mask is never handed to the caller. A folder that cannot be read adds nothing.
void FindFilesRecursive(const std::string& path, const std::string& mask, std::vector<std::string>& list,
                        bool recursive);

// True when name matches the wildcard mask, ASCII letter case ignored.
[[nodiscard]] bool MatchesMask(std::string_view name, std::string_view mask) noexcept;

// Splits text at every occurrence of sep; empty parts are kept, so the result always has one element
// more than sep occurs. An empty sep does not occur: the result is the whole text.
[[nodiscard]] std::vector<std::string> SplitBySeparator(std::string_view sep, std::string_view text);

// The path of a well-known folder without trailing "/": "/var/lib" for the common application-data
// folder (35); the empty text for any number not known here.
[[nodiscard]] std::string GetSpecialFolderPath(int folder);

// The folder of the running executable with a trailing "/"; empty when it cannot be determined.
[[nodiscard]] std::string ExecutableFolder();

}  // namespace zeloro
