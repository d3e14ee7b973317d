// The injection queue: jobs submitted from threads outside the pool, first in first out.
// A mutex-protected queue; injections are rare (one per outside call), so contention is
// negligible. An atomic count lets searching workers skip the lock when it is empty.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

#include "pool/job.hpp"

namespace tamarind::pool {

class Injector {
public:
    // Any thread.
    bool is_empty() const noexcept { return count_.load(std::memory_order_seq_cst) == 0; }

    // Any thread. The seq_cst count update orders the push before the sleep-state check
    // that follows it.
    void push(Job* job) {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(job);
        count_.fetch_add(1, std::memory_order_seq_cst);
    }

    // Any thread. The oldest job, or nullptr.
    Job* pop() {
        if (is_empty()) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.empty()) return nullptr;
        Job* job = jobs_.front();
        jobs_.pop_front();
        count_.fetch_sub(1, std::memory_order_seq_cst);
        return job;
    }

private:
    alignas(64) std::atomic<std::size_t> count_{0};
    std::mutex mutex_;
    std::deque<Job*> jobs_;
};

}  // namespace tamarind::pool
