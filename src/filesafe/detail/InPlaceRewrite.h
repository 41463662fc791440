// src/filesafe/detail/InPlaceRewrite.h: the rewrite in place, under a journal, of a file with several names.
#pragma once
#include <cstdint>
#include <ctime>
#include <span>

#include "filesafe/FolderReplace.h"

namespace zeloro::detail {

// Rewrites the file read where it lies, so that every name sees the new content (see ReplaceReadFile);
// with mtime set, the file gets that modification time.
void RewriteInPlace(const ReadFile& file, std::span<const std::span<const std::uint8_t>> parts,
                    const timespec* mtime);

}  // namespace zeloro::detail
