// src/filesafe/detail/SafeWriteCommon.h: the pieces every way of saving shares: the fault hook, the write
// loop, the errors, the temporary file beside the target and the checks of a file's identity.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "common/FileDescriptor.h"
#include "filesafe/SafeFileWrite.h"

namespace zeloro::detail {

// What the test seam makes the step fail with (an errno value), or 0.
[[nodiscard]] int InjectedError(SafeWriteStep step);

// Writes the parts one after the other at the file's position; the errno of a failed write (ENOSPC for one
// that wrote nothing), else 0.
[[nodiscard]] int WriteAll(int fd, std::span<const std::span<const std::uint8_t>> parts);
// The same, throwing StreamError "Stream-Schreibfehler: <cause>" on a failure.
void WriteParts(int fd, std::span<const std::span<const std::uint8_t>> parts);

// FileError "Datei <path> kann nicht erstellt werden. <cause>".
[[noreturn]] void ThrowCreateError(const std::string& path, int error);
// StreamError "Stream-Schreibfehler: <cause>".
[[noreturn]] void ThrowStreamWrite(int error);
// FileError "Datei <path> kann nicht geöffnet werden. <cause>".
[[noreturn]] void ThrowOpenError(const std::string& path, const std::string& cause);
// FileSkippedError for the path, with the reason.
[[noreturn]] void ThrowSkipped(const std::string& path, const char* cause);
// FileError "Die Änderungszeit von <path> konnte nicht gesetzt werden. <cause>".
[[noreturn]] void ThrowTimesError(const std::string& path, int cause);

// A file the user may not write is one marked "do not change": an in-place write would fail on it, but the
// rename over it would not, so it is refused before anything is written. The kernel's own rule decides
// (owner, group, others and ACLs, for the effective user), asked for the name in its folder. Root passes
// every permission check, so for root the mode alone tells: a file without any write bit is read-only to
// root as well.
void RefuseReadOnly(const std::string& path, const struct stat& info, int folder, const char* name);

// Same device, inode, size and modification time: the same content as when the first was taken.
[[nodiscard]] bool SameContentIdentity(const struct stat& a, const struct stat& b) noexcept;

// FNV-1a over the bytes.
[[nodiscard]] std::uint64_t Checksum(std::span<const std::uint8_t> bytes) noexcept;
// A path's folder ("." for none) and last name.
[[nodiscard]] std::pair<std::string, std::string> SplitPath(const std::string& path);
// The path under which the kernel opens or links the very file a descriptor holds, not a name looked up
// again.
[[nodiscard]] std::string DescriptorPath(int fd);

// The temporary file of a replacement: unnamed until it is complete, and removed unless it became the file.
class FolderTemporary {
public:
    explicit FolderTemporary(int folder) noexcept : folder_(folder) {}
    FolderTemporary(const FolderTemporary&) = delete;
    FolderTemporary& operator=(const FolderTemporary&) = delete;
    ~FolderTemporary();
    // errno when neither an unnamed nor a named temporary file can be made.
    int Create(const std::string& base);
    // Gives the unnamed file a hidden name, just before the rename; errno on failure.
    int Name(const std::string& base);
    // Gives the complete file the name given (failing with EEXIST when it is taken), leaving no other name
    // behind; errno on failure.
    int LinkAs(const std::string& name);
    [[nodiscard]] int Fd() const noexcept { return fd_.get(); }
    [[nodiscard]] const std::string& NameInFolder() const noexcept { return name_; }
    int Close() noexcept { return fd_.close(); }
    void Keep() noexcept { kept_ = true; }

private:
    int folder_;
    FileDescriptor fd_;
    std::string name_;
    bool kept_ = false;
};

}  // namespace zeloro::detail
