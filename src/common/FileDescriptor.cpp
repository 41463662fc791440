// src/common/FileDescriptor.cpp: the owner of one POSIX file descriptor.
#include "common/FileDescriptor.h"

#include <unistd.h>

#include <cerrno>

namespace zeloro {

void FileDescriptor::reset(int fd) noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

int FileDescriptor::release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int FileDescriptor::close() noexcept {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

}  // namespace zeloro
