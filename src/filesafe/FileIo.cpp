#include "filesafe/FileIo.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace zeloro {

bool ReadFileAt(int fd, std::vector<std::uint8_t>& into, std::size_t count, std::uint64_t from) {
    into.resize(count);
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got =
            ::pread(fd, into.data() + filled, count - filled, static_cast<off_t>(from + filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

int WriteFileAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written == 0 ? ENOSPC : errno;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

int WriteFileFully(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written == 0 ? ENOSPC : errno;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace zeloro
