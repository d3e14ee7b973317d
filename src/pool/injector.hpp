// The injection queue: jobs submitted from threads outside the pool, first in first out.
// A mutex-protected queue; injections are rare (one per outside call), so contention is
// negligible. An atomic count lets searching workers skip the lock when it is empty.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <iterator>
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

    // Any thread: removes `job` if no worker has taken it yet and returns whether it did.
    // Searched from the newest end, where a job just pushed sits.
    bool take_back(Job* job) {
        if (is_empty()) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) {
            if (*it != job) continue;
            jobs_.erase(std::next(it).base());
            count_.fetch_sub(1, std::memory_order_seq_cst);
            return true;
        }
        return false;
    }

private:
    alignas(64) std::atomic<std::size_t> count_{0};
    std::mutex mutex_;
    std::deque<Job*> jobs_;
};

}  // namespace tamarind::pool
