// src/tagging/PhotoPool.h: the machinery of a run with more than one job: photos prepared ahead on worker
// threads and taken in list order, the closes of replaced files handed off, and the run's one read
// transaction.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "common/FileDescriptor.h"

namespace zeloro {

class Connection;

// Prepares the photos of a list on worker threads, ahead of the one the run thread takes next, so that
// reading, parsing and building overlap with the writes. Few photos wait: on large photos more in memory
// only cost cache and page faults, so at most workers + 1 prepared photos are held. The pool writes
// nothing itself; the run thread takes the photos in list order and alone decides what is written, so a
// photo after one whose save fails, or after a stop, is never written, whatever its worker had done.
// Scratch is what each worker reuses from photo to photo (a reading container).
template <typename Prepared, typename Scratch>
class PhotoPool {
public:
    // Prepares the photo at index; what it throws reaches the run thread when it takes that photo.
    using Prepare = std::function<Prepared(std::size_t index, Scratch& scratch)>;

    PhotoPool(std::size_t count, unsigned workers, Prepare prepare)
        : count_(count), prepare_(std::move(prepare)), slots_(workers + 1) {
        try {
            threads_.reserve(workers);
            for (unsigned i = 0; i < workers; ++i) {
                threads_.emplace_back([this] { Work(); });
            }
        } catch (...) {
            StopAndJoin();
            throw;
        }
    }
    // Photos being prepared are finished and dropped; no worker takes another.
    ~PhotoPool() { StopAndJoin(); }
    PhotoPool(const PhotoPool&) = delete;
    PhotoPool& operator=(const PhotoPool&) = delete;

    // Waits until the photo at index is prepared (indexes are taken in order, each once), and rethrows
    // what preparing it threw.
    Prepared Take(std::size_t index) {
        std::unique_lock lock(mutex_);
        Slot& slot = slots_[index % slots_.size()];
        ready_.wait(lock, [&] { return slot.filled; });
        std::optional<Prepared> photo = std::move(slot.photo);
        const std::exception_ptr error = slot.error;
        slot = Slot{};
        taken_ = index + 1;
        lock.unlock();
        room_.notify_all();
        if (error) {
            std::rethrow_exception(error);
        }
        return std::move(*photo);
    }

private:
    struct Slot {
        bool filled = false;
        std::optional<Prepared> photo;
        std::exception_ptr error;
    };

    void Work() {
        Scratch scratch{};
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                // A photo goes into the slot of the one a round before it, which the run thread has taken.
                room_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < taken_ + slots_.size(); });
                if (stop_ || next_ >= count_) {
                    return;
                }
                index = next_++;
            }
            Slot prepared;
            prepared.filled = true;
            try {
                prepared.photo.emplace(prepare_(index, scratch));
            } catch (...) {
                prepared.error = std::current_exception();
            }
            {
                const std::lock_guard lock(mutex_);
                slots_[index % slots_.size()] = std::move(prepared);
            }
            ready_.notify_all();
        }
    }

    void StopAndJoin() noexcept {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        room_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

    const std::size_t count_;
    const Prepare prepare_;
    std::mutex mutex_;
    std::condition_variable room_;   // a worker may take the next photo, or the pool stops
    std::condition_variable ready_;  // a photo has been prepared
    // Prepared photos waiting for the run thread, in memory; the ring's size bounds how many.
    std::vector<Slot> slots_;
    std::size_t next_ = 0;   // the next photo a worker takes
    std::size_t taken_ = 0;  // photos the run thread has taken
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Closes descriptors on a thread of its own. Closing the last descriptor of a photo that a save has just
// replaced frees the old file's blocks and pages, which costs about as much as writing the new one; the
// run thread hands that over and goes on with the next photo. Whatever is handed over is closed before
// the closer is gone, so the run ends with no descriptor of it open.
class DeferredCloser {
public:
    DeferredCloser();
    ~DeferredCloser();
    DeferredCloser(const DeferredCloser&) = delete;
    DeferredCloser& operator=(const DeferredCloser&) = delete;

    void Close(FileDescriptor fd);

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<FileDescriptor> queue_;
    bool done_ = false;
    std::thread thread_;
};

// All lookups of a run read in one transaction, so the table is locked for reading once per run instead
// of once per photo. A transaction the connection already has is used as it is; one that cannot be
// started leaves each lookup to read on its own.
class LookupTransaction {
public:
    explicit LookupTransaction(Connection& connection);
    ~LookupTransaction();
    LookupTransaction(const LookupTransaction&) = delete;
    LookupTransaction& operator=(const LookupTransaction&) = delete;

private:
    Connection& connection_;
    bool started_ = false;
};

}  // namespace zeloro
