// src/tagging/PhotoPool.cpp: the deferred closes and the run's read transaction.
#include "tagging/PhotoPool.h"

#include "common/Error.h"
#include "trackstore/Database.h"

namespace zeloro {

DeferredCloser::DeferredCloser() : thread_([this] { Work(); }) {}

DeferredCloser::~DeferredCloser() {
    {
        const std::lock_guard lock(mutex_);
        done_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DeferredCloser::Close(FileDescriptor fd) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fd));
    }
    wake_.notify_one();
}

void DeferredCloser::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return done_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // done_ and nothing left to close
        }
        std::vector<FileDescriptor> batch;
        batch.swap(queue_);
        lock.unlock();
        batch.clear();  // the closes, outside the lock
        lock.lock();
    }
}

LookupTransaction::LookupTransaction(Connection& connection) : connection_(connection) {
    try {
        if (!connection_.InTransaction()) {
            connection_.StartTransaction();
            started_ = true;
        }
    } catch (const DatabaseError&) {
        // Each lookup then reads on its own, and meets the database's error itself.
    }
}

LookupTransaction::~LookupTransaction() {
    if (!started_) {
        return;
    }
    try {
        connection_.Commit();
    } catch (const Error&) {
        try {
            connection_.Rollback();
        } catch (const Error&) {
            // Nothing was written in it; closing the connection ends it.
        }
    }
}

}  // namespace zeloro
