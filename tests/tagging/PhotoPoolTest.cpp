// tests/tagging/PhotoPoolTest.cpp: the pool of a run with several jobs on its own: photos come out in
// list order whatever order the workers finish them in, a worker's error surfaces at its photo, few
// prepared photos wait, and a pool given up with photos in flight joins its workers; beside it the
// deferred closes and the run's read transaction.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/Error.h"
#include "tagging/PhotoPool.h"
#include "trackstore/Database.h"

namespace zeloro::test {
namespace {

using namespace std::chrono_literals;

// Move-only, as a prepared photo is.
struct Item {
    std::unique_ptr<std::size_t> index;
};
struct Scratch {
    int uses = 0;
};
using Pool = PhotoPool<Item, Scratch>;

// Counts the photos started and done, and lets a test hold the workers inside their photos.
class Gate {
public:
    void Started() {
        const std::lock_guard lock(mutex_);
        ++started_;
        changed_.notify_all();
    }
    void Done(std::size_t index) {
        const std::lock_guard lock(mutex_);
        done_.push_back(index);
        changed_.notify_all();
    }
    // True once pred holds, false after a generous time.
    template <typename Pred>
    bool WaitFor(Pred pred) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return pred(started_, done_.size()); });
    }
    void Hold() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::size_t StartedCount() const {
        const std::lock_guard lock(mutex_);
        return started_;
    }
    std::vector<std::size_t> DoneOrder() const {
        const std::lock_guard lock(mutex_);
        return done_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t started_ = 0;
    std::vector<std::size_t> done_;
    bool open_ = false;
};

Item Made(std::size_t index) { return Item{std::make_unique<std::size_t>(index)}; }

TEST(PhotoPool, TakesPhotosInListOrderWhateverOrderTheyWereFinished) {
    constexpr std::size_t kCount = 20;
    Gate gate;
    Pool pool(kCount, 3, [&](std::size_t index, Scratch& scratch) {
        ++scratch.uses;
        gate.Started();
        if (index == 0) {
            // The first photo is finished only after two later ones.
            EXPECT_TRUE(gate.WaitFor([](std::size_t, std::size_t done) { return done >= 2; }));
        }
        gate.Done(index);
        return Made(index);
    });
    for (std::size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(*pool.Take(i).index, i);
    }
    const std::vector<std::size_t> order = gate.DoneOrder();
    ASSERT_EQ(order.size(), kCount);
    EXPECT_NE(order.front(), 0U);  // the workers did finish out of order
}

TEST(PhotoPool, ErrorOfAWorkerSurfacesAtItsPhoto) {
    constexpr std::size_t kCount = 8;
    Pool pool(kCount, 2, [](std::size_t index, Scratch&) {
        if (index == 5) {
            throw StreamError("Stream-Lesefehler: Foto 5");
        }
        return Made(index);
    });
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(*pool.Take(i).index, i);
    }
    try {
        (void)pool.Take(5);
        FAIL() << "no error";
    } catch (const StreamError& e) {
        EXPECT_STREQ(e.what(), "Stream-Lesefehler: Foto 5");
    }
    EXPECT_EQ(*pool.Take(6).index, 6U);  // the photos after it are there for a run that goes on
}

TEST(PhotoPool, AtMostWorkersPlusOnePreparedPhotosWait) {
    constexpr unsigned kWorkers = 3;
    Gate gate;
    Pool pool(100, kWorkers, [&](std::size_t index, Scratch&) {
        gate.Started();
        gate.Done(index);
        return Made(index);
    });
    const auto doneAtLeast = [](std::size_t n) {
        return [n](std::size_t, std::size_t done) { return done >= n; };
    };
    ASSERT_TRUE(gate.WaitFor(doneAtLeast(kWorkers + 1)));
    std::this_thread::sleep_for(100ms);  // time enough for a worker that would run ahead
    EXPECT_EQ(gate.StartedCount(), kWorkers + 1);
    (void)pool.Take(0);
    ASSERT_TRUE(gate.WaitFor(doneAtLeast(kWorkers + 2)));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(gate.StartedCount(), kWorkers + 2);
}

TEST(PhotoPool, GivenUpWithPhotosInFlightJoinsItsWorkers) {
    constexpr unsigned kWorkers = 3;
    Gate gate;
    std::atomic<int> inside{0};
    auto pool = std::make_optional<Pool>(100, kWorkers, [&](std::size_t index, Scratch&) {
        ++inside;
        gate.Started();
        if (index > 0) {
            gate.Hold();
        }
        gate.Done(index);
        --inside;
        return Made(index);
    });
    (void)pool->Take(0);  // let through at once, so the first photo is taken and the rest are in flight
    ASSERT_TRUE(gate.WaitFor([](std::size_t started, std::size_t) { return started >= kWorkers + 1; }));
    std::thread opener([&] {
        std::this_thread::sleep_for(50ms);
        gate.Open();
    });
    pool.reset();  // waits for the photos in hand, takes no other
    EXPECT_EQ(inside.load(), 0);
    EXPECT_LE(gate.StartedCount(), kWorkers + 2);  // the one taken, and at most a ring's worth beyond it
    EXPECT_EQ(gate.DoneOrder().size(), gate.StartedCount());
    opener.join();
}

TEST(PhotoPool, UntakenPhotosAreDroppedWhenThePoolGoes) {
    // Every worker waits for room in a full ring; the pool must still end.
    Gate gate;
    {
        Pool pool(100, 2, [&](std::size_t index, Scratch&) {
            gate.Done(index);
            return Made(index);
        });
        ASSERT_TRUE(gate.WaitFor([](std::size_t, std::size_t done) { return done >= 3; }));
    }
    EXPECT_EQ(gate.DoneOrder().size(), 3U);
}

TEST(DeferredCloser, EverythingHandedOverIsClosedWhenItGoes) {
    std::vector<int> numbers;
    {
        DeferredCloser closer;
        for (int i = 0; i < 16; ++i) {
            FileDescriptor fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            ASSERT_TRUE(fd);
            numbers.push_back(fd.get());
            closer.Close(std::move(fd));
        }
    }
    for (const int number : numbers) {
        errno = 0;
        EXPECT_EQ(::fcntl(number, F_GETFD), -1) << number;
        EXPECT_EQ(errno, EBADF) << number;
    }
}

TEST(LookupTransaction, OpensOneForTheRunAndLeavesAnOpenOneAlone) {
    Connection connection;
    connection.Open(":memory:");
    {
        const LookupTransaction lookups(connection);
        EXPECT_TRUE(connection.InTransaction());
    }
    EXPECT_FALSE(connection.InTransaction());  // its own transaction ends with it
    connection.StartTransaction();
    { const LookupTransaction lookups(connection); }
    EXPECT_TRUE(connection.InTransaction());  // an import's open transaction stays for its commit
    connection.Rollback();
}

}  // namespace
}  // namespace zeloro::test
