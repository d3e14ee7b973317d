// The per-worker job deque: a Chase-Lev work-stealing deque. The owner pushes and pops at
// the bottom (newest first); thieves steal at the top (oldest first) with one CAS. The
// buffer grows by doubling; old buffers stay allocated until the deque is destroyed, so a
// thief still reading one never touches freed memory.
//
// Memory orders: every access to top_ and bottom_ that takes part in the pop/steal race is
// seq_cst (a store of bottom followed by a load of top must not be reordered, and vice versa
// in steal). That costs one full fence on push and pop, which the sleep protocol needs after
// a push anyway. Slots are relaxed atomics: their contents are published by the bottom_
// store and claimed by the top_ CAS.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "pool/job.hpp"

namespace tamarind::pool {

enum class StealStatus { kEmpty, kSuccess, kRetry };

struct Stolen {
    StealStatus status;
    Job* job;
};

class JobDeque {
public:
    // buffers_ must exist before the first buffer is recorded in it, hence the body.
    JobDeque() { buffer_.store(new_buffer(kInitialCapacity), std::memory_order_relaxed); }
    JobDeque(const JobDeque&) = delete;
    JobDeque& operator=(const JobDeque&) = delete;

    // Any thread; a snapshot that may be stale by the time it returns.
    bool is_empty() const noexcept {
        const std::int64_t b = bottom_.load(std::memory_order_seq_cst);
        const std::int64_t t = top_.load(std::memory_order_seq_cst);
        return b <= t;
    }

    // Only the owner thread can push.
    void push(Job* job) {
        const std::int64_t b = bottom_.load(std::memory_order_relaxed);
        const std::int64_t t = top_.load(std::memory_order_acquire);
        Buffer* buf = buffer_.load(std::memory_order_relaxed);
        if (b - t >= buf->capacity) buf = grow(buf, b, t);
        buf->put(b, job);
        bottom_.store(b + 1, std::memory_order_seq_cst);
    }

    // Only the owner thread can pop. Returns the newest job, or nullptr.
    Job* pop() noexcept {
        const std::int64_t b = bottom_.load(std::memory_order_relaxed) - 1;
        Buffer* buf = buffer_.load(std::memory_order_relaxed);
        bottom_.store(b, std::memory_order_seq_cst);
        std::int64_t t = top_.load(std::memory_order_seq_cst);
        if (t > b) {  // was empty
            bottom_.store(b + 1, std::memory_order_relaxed);
            return nullptr;
        }
        Job* job = buf->get(b);
        if (t == b) {
            // Last job: race the thieves for it through top_.
            if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst,
                                              std::memory_order_relaxed)) {
                job = nullptr;
            }
            bottom_.store(b + 1, std::memory_order_relaxed);
        }
        return job;
    }

    // Any thread. Takes the oldest job; kRetry when another thread won the race for it.
    Stolen steal() noexcept {
        std::int64_t t = top_.load(std::memory_order_seq_cst);
        const std::int64_t b = bottom_.load(std::memory_order_seq_cst);
        if (t >= b) return {StealStatus::kEmpty, nullptr};
        Buffer* buf = buffer_.load(std::memory_order_acquire);
        Job* job = buf->get(t);
        if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst,
                                          std::memory_order_relaxed)) {
            return {StealStatus::kRetry, nullptr};
        }
        return {StealStatus::kSuccess, job};
    }

private:
    // Slots of a fresh deque; deep recursion rarely holds more than a few dozen jobs.
    static constexpr std::int64_t kInitialCapacity = 64;

    struct Buffer {
        std::int64_t capacity;  // a power of two
        std::unique_ptr<std::atomic<Job*>[]> slots;

        Job* get(std::int64_t i) const noexcept {
            return slots[static_cast<std::size_t>(i & (capacity - 1))].load(
                std::memory_order_relaxed);
        }
        void put(std::int64_t i, Job* job) noexcept {
            slots[static_cast<std::size_t>(i & (capacity - 1))].store(job,
                                                                      std::memory_order_relaxed);
        }
    };

    Buffer* new_buffer(std::int64_t capacity) {
        auto buf = std::make_unique<Buffer>();
        buf->capacity = capacity;
        buf->slots = std::make_unique<std::atomic<Job*>[]>(static_cast<std::size_t>(capacity));
        buffers_.push_back(std::move(buf));
        return buffers_.back().get();
    }

    // Owner only: copies the live range [t, b) into a buffer twice as large and publishes it.
    Buffer* grow(Buffer* old, std::int64_t b, std::int64_t t) {
        Buffer* bigger = new_buffer(old->capacity * 2);
        for (std::int64_t i = t; i < b; ++i) bigger->put(i, old->get(i));
        buffer_.store(bigger, std::memory_order_release);
        return bigger;
    }

    alignas(64) std::atomic<std::int64_t> top_{0};
    alignas(64) std::atomic<std::int64_t> bottom_{0};
    std::atomic<Buffer*> buffer_{nullptr};
    std::vector<std::unique_ptr<Buffer>> buffers_;  // every buffer ever used; owner only
};

}  // namespace tamarind::pool
