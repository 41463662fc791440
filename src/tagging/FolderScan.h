// src/tagging/FolderScan.h: the photo folder scan of a run and its mask matching.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "filesafe/SaveJournal.h"

namespace zeloro {

// Appends the full paths of the files below path whose names match mask ("*" and "?", letter case
// ignored). Each folder gives first its matching files, then what lies below each subfolder (depth
// first); entries are taken in name order, letter case ignored. Hidden files (leading ".") are listed,
// hidden folders are not entered; symbolic links to folders are neither listed nor entered, links to
// files are listed like files. Only regular files (or links to them) are listed, so a FIFO or socket
// that matches the mask is never handed to the caller. A folder that cannot be read adds nothing.
// What a scan notices besides the photos: the listed entries that are symbolic links (only these may be
// followed when a photo is read; a link swapped in after the scan never is), temporary files a killed save
// of ours left (hidden, named ".<stem>.zeloro-" and six letters or digits, where the stem is that of a
// photo the folder holds (SaveNameStem), and this user's or that photo owner's), journals of in-place
// saves a killed run left (".<stem>.zeloro-journal"; whether one is ours is the restore's to decide), and
// folders it could not read.
// A scan that takes every photo kind also notes the sidecars (".xmp" in any case, files or links to them)
// and counts the files it passed over: neither photo nor sidecar nor a file of our own saves.
struct ScanFindings {
    std::unordered_set<std::string> links;
    std::vector<std::string> staleTemporaries;
    std::vector<std::string> saveJournals;
    std::vector<std::string> unreadableFolders;
    std::vector<std::string> rawJournals;  // of writes into RAW files; only noted with the sidecars
    std::unordered_set<std::string> sidecars;
    std::size_t otherFiles = 0;
};

void FindFilesRecursive(const std::string& path, const std::string& mask, std::vector<std::string>& list,
                        bool recursive, ScanFindings* findings = nullptr);

// The same scan with the photos told by accept (a file name) instead of a mask; with sidecars set the
// findings also get the sidecars and the count of other files, and a temporary file of a sidecar's save
// counts as ours like one of a photo's.
void FindPhotosRecursive(const std::string& path, const std::function<bool(std::string_view)>& accept,
                         std::vector<std::string>& list, bool recursive, ScanFindings* findings,
                         bool sidecars);

// True for a sidecar's name: ".xmp" at the end, letter case ignored, and something before it.
[[nodiscard]] bool IsSidecarName(std::string_view name) noexcept;

// How the scan that listed photos (with its findings) saw path, for the restore of a journal.
[[nodiscard]] ScannedAs ScannedKind(const std::vector<std::string>& photos, const ScanFindings& findings,
                                    const std::string& path);

// True for the name of a temporary file a save of ours makes next to a photo.
[[nodiscard]] bool IsSaveTemporaryName(std::string_view name) noexcept;

// True when name matches the wildcard mask, ASCII letter case ignored.
[[nodiscard]] bool MatchesMask(std::string_view name, std::string_view mask) noexcept;

}  // namespace zeloro
