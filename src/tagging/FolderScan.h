// src/tagging/FolderScan.h: the photo folder scan of a run and its mask matching.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zeloro {

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

}  // namespace zeloro
