// src/metadata/detail/SaveJournalFormat.h: the journal of an in-place save, shared by the save that writes
// it and the restore that reads it.
#pragma once
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zeloro::detail {

inline constexpr std::string_view kJournalMark = ".zeloro-journal";

// A journal starts with the magic and the head, then the name it is for, the original bytes and the new
// ones. The new bytes are what tells a file an interrupted rewrite left from one another program has
// changed since.
inline constexpr std::string_view kJournalMagic = "ZELORO-JOURNAL 2\n";
// The largest original or new content a journal is trusted to hold: far beyond any photo, and it keeps a
// planted journal's head from making the restore read or allocate without bound.
inline constexpr std::uint64_t kLargestJournalPart = std::uint64_t{1} << 31U;

// What a journal holds before the name: enough to find the file again and to know both contents are whole.
struct JournalHead {
    std::uint64_t throughLink;  // 1: the name is a symbolic link the scanned folder held, followed once
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t originalSize;
    std::uint64_t newSize;
    std::int64_t mtimeSeconds;
    std::int64_t mtimeNanoseconds;
    std::uint64_t originalChecksum;
    std::uint64_t newChecksum;
    std::uint64_t nameLength;
};
inline constexpr std::size_t kJournalFixed = kJournalMagic.size() + sizeof(JournalHead);

// FNV-1a over the bytes.
[[nodiscard]] std::uint64_t Checksum(std::span<const std::uint8_t> bytes) noexcept;
// A path's folder ("." for none) and last name.
[[nodiscard]] std::pair<std::string, std::string> SplitPath(const std::string& path);
// The path under which the kernel opens or links the very file a descriptor holds, not a name looked up
// again.
[[nodiscard]] std::string DescriptorPath(int fd);
// Puts the original bytes back into the file, written in place from the start and then cut to their
// length, and its modification time where the process may set it (one that may write but does not own
// the file may not); errno or 0.
[[nodiscard]] int RestoreInPlace(int fd, std::span<const std::uint8_t> original, const timespec& mtime);

}  // namespace zeloro::detail
