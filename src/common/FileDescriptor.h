// src/common/FileDescriptor.h: the owner of one POSIX file descriptor.
#pragma once

namespace zeloro {

// Closes the descriptor it holds when it goes; -1 holds none. Moves, never copies.
class FileDescriptor {
public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] explicit operator bool() const noexcept { return fd_ >= 0; }
    // Closes the descriptor held, if any, and takes fd; a failed close goes unreported.
    void reset(int fd = -1) noexcept;
    // Gives the descriptor up without closing it.
    [[nodiscard]] int release() noexcept;
    // Closes now and holds none after; the errno of a failed close, else 0. A write error the kernel
    // delayed shows only here, so a writer that must know calls this instead of leaving it to the owner.
    [[nodiscard]] int close() noexcept;

private:
    int fd_ = -1;
};

}  // namespace zeloro
