// src/filesafe/FileIo.h: whole reads and writes of a file's bytes, short counts and interrupted calls taken
// care of, for the savers and repairs that work on a file in place.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zeloro {

// Reads count bytes at from into into; false when the file holds fewer or reading fails.
[[nodiscard]] bool ReadFileAt(int fd, std::vector<std::uint8_t>& into, std::size_t count, std::uint64_t from);

// Writes bytes at offset, leaving the file position alone; 0, or the errno of the failed write (ENOSPC for
// one that wrote nothing).
[[nodiscard]] int WriteFileAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset);

// Writes bytes at the file's position; 0, or the errno as above.
[[nodiscard]] int WriteFileFully(int fd, std::span<const std::uint8_t> bytes);

}  // namespace zeloro
