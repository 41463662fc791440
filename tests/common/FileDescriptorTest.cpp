#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "common/FileDescriptor.h"

namespace zeloro {
namespace {

int OpenNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

// Whether the number names an open descriptor of this process.
bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

TEST(FileDescriptor, ClosesWhatItHolds) {
    int fd = OpenNull();
    ASSERT_GE(fd, 0);
    {
        const FileDescriptor owner(fd);
        EXPECT_TRUE(owner);
        EXPECT_EQ(owner.get(), fd);
    }
    EXPECT_FALSE(IsOpen(fd));

    fd = OpenNull();
    FileDescriptor moved;
    EXPECT_FALSE(moved);
    {
        FileDescriptor first(fd);
        moved = std::move(first);
        EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from owner must hold nothing
    }
    EXPECT_TRUE(IsOpen(fd));  // the moved-from owner did not close it
    const int second = OpenNull();
    moved.reset(second);
    EXPECT_FALSE(IsOpen(fd));
    EXPECT_TRUE(IsOpen(second));
    moved.reset();
    EXPECT_FALSE(IsOpen(second));
}

TEST(FileDescriptor, ReleaseAndCloseReport) {
    const int fd = OpenNull();
    ASSERT_GE(fd, 0);
    {
        FileDescriptor owner(fd);
        EXPECT_EQ(owner.release(), fd);
        EXPECT_FALSE(owner);
    }
    EXPECT_TRUE(IsOpen(fd));

    FileDescriptor owner(fd);
    EXPECT_EQ(owner.close(), 0);
    EXPECT_FALSE(owner);
    EXPECT_FALSE(IsOpen(fd));
    EXPECT_EQ(owner.close(), EBADF);  // nothing held: the failure is reported, not hidden
}

}  // namespace
}  // namespace zeloro
