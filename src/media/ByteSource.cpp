// src/media/ByteSource.cpp: reads of a file's bytes by offset, from memory or a descriptor.
#include "media/ByteSource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "media/ShotTime.h"

namespace zeloro {

namespace {

constexpr const char* kShortRead = "Die Datei endet vor den Daten, die gelesen werden sollen";

}  // namespace

void SpanSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) throw MediaError(kShortRead);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
}

FdSource::FdSource(int fd) : fd_(fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) throw MediaError("Die Größe der Datei ist nicht lesbar");
    size_ = static_cast<std::uint64_t>(st.st_size);
}

void FdSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > size_ || out.size() > size_ - offset) throw MediaError(kShortRead);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw MediaError("Die Datei ist nicht lesbar");
        // The file was cut after its size was taken.
        if (got == 0) throw MediaError(kShortRead);
        done += static_cast<std::size_t>(got);
    }
}

}  // namespace zeloro
