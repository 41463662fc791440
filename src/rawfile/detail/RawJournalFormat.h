// src/rawfile/detail/RawJournalFormat.h: the journal of a RAW write, shared by the write that makes it and
// the repair that reads it.
#pragma once
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zeloro::detail {

inline constexpr std::string_view kRawJournalMagic = "ZELORO-RAW-GPS 1\n";
// The largest tail a journal is trusted to name: a GPS directory and a copy of the largest IFD0 (65535
// entries of 12 bytes) with room to spare; it keeps a planted head from making the repair read or
// allocate without bound.
inline constexpr std::uint64_t kLargestRawTail = std::uint64_t{1} << 20U;

// What a journal holds before the file's name and the tail: enough to find the file again, to tell each
// state a killed write can leave, and to undo it.
struct RawJournalHead {
    std::uint64_t throughLink;  // 1: the name is a symbolic link the scanned folder held, followed once
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t owner;
    std::uint64_t oldSize;        // the file's size before the write: where the tail starts
    std::uint64_t pointerOffset;  // the four bytes the switch writes
    std::int64_t mtimeSeconds;    // the modification time before the write
    std::int64_t mtimeNanoseconds;
    std::uint64_t keepMtime;                 // 1: the finished write gives the file that time back
    std::array<std::uint8_t, 4> oldPointer;  // as the file holds them
    std::array<std::uint8_t, 4> newPointer;
    std::uint64_t tailSize;
    std::uint64_t nameLength;
};
inline constexpr std::size_t kRawJournalFixed = kRawJournalMagic.size() + sizeof(RawJournalHead);

// Writes the journal for the file entryName in folder: to an unnamed file (or, where the file system has
// none, a hidden temporary one), private to this user, synced, then named and the folder synced, so that
// a journal that exists is always whole. Throws FileSkippedError for the path when a journal of an
// earlier write is still there, FileError/StreamError when it cannot be written.
void WriteRawJournal(int folder, const std::string& entryName, const std::string& path,
                     const RawJournalHead& head, std::span<const std::uint8_t> tail);
// Removes it and syncs the folder; errno or 0.
[[nodiscard]] int RemoveRawJournal(int folder, const std::string& entryName) noexcept;

}  // namespace zeloro::detail
