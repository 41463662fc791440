// src/trackstore/DataFolderTemplate.cpp: the user's data folder made and mended from the installed template.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "trackstore/TrackStore.h"

namespace zeloro {
namespace {

namespace fs = std::filesystem;

// mkdtemp replaces these six characters; a staging folder is the data folder's name, a dot and six of
// [A-Za-z0-9].
constexpr std::string_view kStagingSuffix = ".XXXXXX";

[[noreturn]] void ThrowDataFolderError(const std::string& folder, int error) {
    throw FileError("Der Datenordner " + folder + " kann nicht angelegt werden: " + ReasonText(error));
}

fs::path WithoutTrailingSlash(const std::string& folder) {
    fs::path target(folder);
    return target.has_filename() ? target : target.parent_path();
}

bool IsStagingName(std::string_view name, std::string_view dataFolderName) {
    if (name.size() != dataFolderName.size() + kStagingSuffix.size() || !name.starts_with(dataFolderName) ||
        name[dataFolderName.size()] != '.') {
        return false;
    }
    for (const char c : name.substr(dataFolderName.size() + 1)) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

// An exclusive flock on the folder itself; false when another process holds it.
bool LockFolder(const FileDescriptor& folder, bool wait) noexcept {
    int result = 0;
    do {
        result = ::flock(folder.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    return result == 0;
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

// The errno of a failed write of the whole of in to out, else 0.
int CopyContent(int in, int out) noexcept {
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0 ? 0 : errno;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR) {
                return errno;
            }
            done += put < 0 ? 0 : put;
        }
    }
}

// A file that gets a name only once it is complete: unnamed (O_TMPFILE) where the file system has them,
// else under a hidden name of its own that goes again however the copy ends, short of a kill.
class PendingFile {
public:
    explicit PendingFile(int folder) : folder_(folder) {
        fd_.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (fd_) {
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            throw std::system_error(errno, std::generic_category());
        }
        for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
            name_ = ".zeloro-copy-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            fd_.reset(::openat(folder, name_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
            if (!fd_ && errno != EEXIST) {
                break;
            }
        }
        if (!fd_) {
            name_.clear();
            throw std::system_error(errno, std::generic_category());
        }
    }
    ~PendingFile() {
        if (!name_.empty()) {
            ::unlinkat(folder_, name_.c_str(), 0);
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    [[nodiscard]] int fd() const noexcept { return fd_.get(); }

    // Gives the file its name unless that name exists by now; false then, and the file goes.
    bool LinkAs(const std::string& name) {
        int result = 0;
        if (name_.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
            result = ::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW);
        } else {
            result = ::linkat(folder_, name_.c_str(), folder_, name.c_str(), 0);
        }
        if (result == 0) {
            return true;
        }
        if (errno == EEXIST) {
            return false;
        }
        throw std::system_error(errno, std::generic_category());
    }

private:
    int folder_;
    FileDescriptor fd_;
    std::string name_;
};

// Copies the template file from to name in folder, unless name exists (or comes to exist meanwhile).
void FillFile(const fs::path& from, const fs::path& folder, const std::string& name) {
    struct stat existing {};
    if (::lstat((folder / name).c_str(), &existing) == 0) {
        return;
    }
    if (errno != ENOENT) {
        throw std::system_error(errno, std::generic_category());
    }
    const FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat source {};
    if (!in || !dir || ::fstat(in.get(), &source) != 0) {
        throw std::system_error(errno, std::generic_category());
    }
    PendingFile copy(dir.get());
    int error = CopyContent(in.get(), copy.fd());
    // As in a folder copied whole: the user's own to write, whatever the template allows.
    if (error == 0 && ::fchmod(copy.fd(), (source.st_mode & 07777U) | S_IRUSR | S_IWUSR) != 0) {
        error = errno;
    }
    if (error == 0 && ::fsync(copy.fd()) != 0) {
        error = errno;
    }
    if (error != 0) {
        throw std::system_error(error, std::generic_category());
    }
    static_cast<void>(copy.LinkAs(name));  // another program's copy of the same file is just as good
}

void MakeFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        throw std::system_error(errno, std::generic_category());
    }
}

}  // namespace

void CreateDataFolderFromTemplate(const std::string& templateFolder, const std::string& dataFolder) {
    const fs::path target = WithoutTrailingSlash(dataFolder);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
        ThrowDataFolderError(dataFolder, ec.value());
    }
    std::string staging =
        (target.parent_path() / (target.filename().string() + std::string(kStagingSuffix))).string();
    if (mkdtemp(staging.data()) == nullptr) {
        ThrowDataFolderError(dataFolder, errno);
    }
    // Held while the copy is made, so that a program starting meanwhile leaves the folder to this one
    // (RemoveStaleStagingFolders).
    FileDescriptor held(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (held) {
        static_cast<void>(LockFolder(held, true));
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
        struct stat database {};
        if (::stat((target / kDatabaseFileName).c_str(), &database) != 0) {
            ThrowDataFolderError(dataFolder, error);
        }
    }
}

void FillDataFolderFromTemplate(const std::string& templateFolder, const std::string& dataFolder) {
    const fs::path from(templateFolder);
    const fs::path to = WithoutTrailingSlash(dataFolder);
    try {
        FillFile(from / kDatabaseFileName, to, kDatabaseFileName);
        std::error_code ec;
        if (fs::is_regular_file(from / kHelpDocumentName, ec)) {
            FillFile(from / kHelpDocumentName, to, kHelpDocumentName);
        }
        if (!fs::is_directory(from / kMapsSubFolder, ec)) {
            return;
        }
        MakeFolder(to / kMapsSubFolder);
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(from / kMapsSubFolder)) {
            const fs::path relative = entry.path().lexically_relative(from);
            if (entry.is_directory()) {
                MakeFolder(to / relative);
            } else {
                FillFile(entry.path(), to / relative.parent_path(), relative.filename().string());
            }
        }
    } catch (const std::system_error& e) {
        ThrowDataFolderError(dataFolder, e.code().value());
    }
}

void RemoveStaleStagingFolders(const std::string& dataFolder) noexcept {
    const fs::path target = WithoutTrailingSlash(dataFolder);
    const std::string name = target.filename().string();
    const fs::path parent = target.parent_path();
    std::error_code ec;
    fs::directory_iterator entries(parent, ec);
    std::vector<fs::path> stale;
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const fs::path path = entries->path();
        struct stat info {};
        // Only a real folder of ours, as mkdtemp made it, and one nobody wrote to for a while: the copy
        // that made it takes a few moments at most.
        if (!IsStagingName(path.filename().string(), name) || ::lstat(path.c_str(), &info) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
            info.st_mtime > std::time(nullptr) - kStaleStagingSeconds) {
            continue;
        }
        stale.push_back(path);
    }
    for (const fs::path& path : stale) {
        const FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // A copy still running holds its folder; once it is ours, none can take it again (mkdtemp never
        // hands out a name that exists).
        if (folder && LockFolder(folder, false)) {
            fs::remove_all(path, ec);
        }
    }
}

}  // namespace zeloro
