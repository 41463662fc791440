// src/tagging/FolderScan.cpp: folder scan over POSIX directory reading.
#include "tagging/FolderScan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>

#include "common/AsciiText.h"
#include "filesafe/SafeFileWrite.h"
#include "filesafe/SaveJournal.h"
#include "rawfile/RawGpsWrite.h"

namespace zeloro {
namespace {

struct CloseDir {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, CloseDir>;

// The order of a file system that compares names upper-cased ("AB" before "A_B"); names equal but for
// letter case keep a fixed order by their bytes.
bool nameLess(const std::string& a, const std::string& b) noexcept {
    const auto cmp = [](char x, char y) {
        return static_cast<unsigned char>(AsciiUpper(x)) < static_cast<unsigned char>(AsciiUpper(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), cmp)) {
        return true;
    }
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), cmp)) {
        return false;
    }
    return a < b;
}

enum class EntryType { file, link, folder, other };

// Symbolic links count as what they point to for files, but a link to a folder is never a folder here:
// following such links could lead back to an ancestor.
EntryType entryType(const std::string& fullPath, struct stat& st) noexcept {
    if (lstat(fullPath.c_str(), &st) != 0) {
        return EntryType::other;
    }
    if (S_ISDIR(st.st_mode)) {
        return EntryType::folder;
    }
    if (S_ISLNK(st.st_mode)) {
        struct stat target {};
        if (stat(fullPath.c_str(), &target) != 0) {
            return EntryType::other;
        }
        return S_ISREG(target.st_mode) ? EntryType::link : EntryType::other;
    }
    return S_ISREG(st.st_mode) ? EntryType::file : EntryType::other;
}

std::vector<std::string> sortedEntries(const std::string& folder, ScanFindings* findings) {
    std::vector<std::string> names;
    const DirHandle dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) {
        if (findings != nullptr) {
            findings->unreadableFolders.push_back(folder);
        }
        return names;
    }
    while (const dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(), nameLess);
    return names;
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) noexcept {
    // Iterative wildcard match with one backtrack point for the last "*": linear in practice, never
    // exponential on masks with many stars.
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || AsciiUpper(mask[m]) == AsciiUpper(name[n])) &&
            mask[m] != '*') {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

bool IsSaveTemporaryName(std::string_view name) noexcept {
    constexpr std::string_view kMark = ".zeloro-";
    constexpr std::size_t kRandom = 6;
    if (name.size() < 1 + 1 + kMark.size() + kRandom || name.front() != '.') {
        return false;
    }
    const std::string_view tail = name.substr(name.size() - kRandom);
    return name.substr(name.size() - kRandom - kMark.size(), kMark.size()) == kMark &&
           std::all_of(tail.begin(), tail.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

bool IsSidecarName(std::string_view name) noexcept {
    constexpr std::string_view kExtension = ".xmp";
    return name.size() > kExtension.size() &&
           SameTextAscii(name.substr(name.size() - kExtension.size()), kExtension);
}

void FindFilesRecursive(const std::string& path, const std::string& mask, std::vector<std::string>& list,
                        bool recursive, ScanFindings* findings) {
    FindPhotosRecursive(
        path, [&mask](std::string_view name) { return MatchesMask(name, mask); }, list, recursive, findings,
        false);
}

void FindPhotosRecursive(const std::string& path, const std::function<bool(std::string_view)>& accept,
                         std::vector<std::string>& list, bool recursive, ScanFindings* findings,
                         bool sidecars) {
    std::string folder = path;
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    const std::vector<std::string> names = sortedEntries(folder, findings);
    std::vector<std::string> subfolders;
    // The stems of this folder's photos, with the owner of each photo file (a save may give its temporary
    // file the photo's owner), and the names that look like our temporary files.
    std::unordered_map<std::string, uid_t> photoStems;
    std::vector<std::pair<std::string, uid_t>> temporaries;
    for (const std::string& name : names) {
        const std::string full = folder + name;
        struct stat info {};
        const EntryType type = entryType(full, info);
        if (findings != nullptr && type == EntryType::file && IsSaveTemporaryName(name)) {
            temporaries.emplace_back(name, info.st_uid);
        }
        if (findings != nullptr && type == EntryType::file && IsSaveJournalName(name)) {
            findings->saveJournals.push_back(full);
        }
        const bool isFile = type == EntryType::file || type == EntryType::link;
        if (isFile && accept(name)) {
            list.push_back(full);
            if (findings != nullptr) {
                photoStems.emplace(SaveNameStem(name), type == EntryType::file ? info.st_uid : ::geteuid());
            }
            if (findings != nullptr && type == EntryType::link) {
                findings->links.insert(full);
            }
        } else if (isFile && sidecars && findings != nullptr) {
            if (IsSidecarName(name)) {
                findings->sidecars.insert(full);
                photoStems.emplace(SaveNameStem(name), type == EntryType::file ? info.st_uid : ::geteuid());
                if (type == EntryType::link) {
                    findings->links.insert(full);
                }
            } else if (type == EntryType::file && IsRawJournalName(name)) {
                findings->rawJournals.push_back(full);
            } else if (!IsSaveTemporaryName(name) && !IsSaveJournalName(name)) {
                ++findings->otherFiles;
            }
        } else if (type == EntryType::folder && recursive && name.front() != '.') {
            subfolders.push_back(full);
        }
    }
    // Only a temporary file one of our saves can have left beside a photo of the folder is removed: named
    // for that photo, and this user's or the photo owner's. Any other file of that pattern is not ours.
    for (const auto& [name, owner] : temporaries) {
        constexpr std::size_t kSuffix = std::string_view(".zeloro-XXXXXX").size();
        const auto photo = photoStems.find(name.substr(1, name.size() - 1 - kSuffix));
        if (photo != photoStems.end() && (owner == ::geteuid() || owner == photo->second)) {
            findings->staleTemporaries.push_back(folder + name);
        }
    }
    for (const std::string& sub : subfolders) {
        FindPhotosRecursive(sub, accept, list, true, findings, sidecars);
    }
}

ScannedAs ScannedKind(const std::vector<std::string>& photos, const ScanFindings& findings,
                      const std::string& path) {
    if (std::find(photos.begin(), photos.end(), path) == photos.end()) {
        return ScannedAs::other;
    }
    return findings.links.contains(path) ? ScannedAs::photoLink : ScannedAs::photo;
}

}  // namespace zeloro
