// Latches: one-shot flags that a thread waits on until another thread sets them.
//   CoreLatch   the state word a worker waits on while it keeps running jobs; it can fall
//               asleep on it, and the setter then wakes it through the pool's sleep state.
//   SpinLatch   a CoreLatch that knows its owner (pool and worker index), for join halves
//               and jobs injected into another pool.
//   CountLatch  a CoreLatch set when a count of pending jobs reaches zero (scopes).
//   LockLatch   mutex and condition variable, for threads that are not pool workers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "pool/platform.hpp"

namespace tamarind::pool {

class Registry;
struct WorkerThread;

class CoreLatch {
public:
    // Any thread.
    bool probe() const noexcept { return state_.load(std::memory_order_acquire) == kSet; }

    // Owner only: the steps of falling asleep. Each fails once the latch is set.
    bool get_sleepy() noexcept { return transition(kUnset, kSleepy); }
    bool fall_asleep() noexcept { return transition(kSleepy, kSleeping); }

    // Owner only: back to unset after a sleep that did not end with the latch set.
    void wake_up() noexcept {
        if (!probe()) transition(kSleeping, kUnset);
    }

    // Any thread. Returns true when the owner was asleep on the latch and must be woken.
    // The latch may be freed by its owner as soon as this returns.
    bool set() noexcept {
        return state_.exchange(kSet, std::memory_order_acq_rel) == kSleeping;
    }

private:
    static constexpr std::uint32_t kUnset = 0;
    static constexpr std::uint32_t kSleepy = 1;
    static constexpr std::uint32_t kSleeping = 2;
    static constexpr std::uint32_t kSet = 3;

    bool transition(std::uint32_t from, std::uint32_t to) noexcept {
        return state_.compare_exchange_strong(from, to, std::memory_order_seq_cst,
                                              std::memory_order_relaxed);
    }

    std::atomic<std::uint32_t> state_{kUnset};
};

class SpinLatch {
public:
    // A latch owned by `owner`. `cross` marks a setter from another pool, which must keep
    // the owner's pool alive until its wake-up call is done.
    SpinLatch(Registry* registry, std::size_t owner_index, bool cross) noexcept
        : registry_(registry), owner_index_(owner_index), cross_(cross) {}

    CoreLatch& core() noexcept { return core_; }
    bool probe() const noexcept { return core_.probe(); }

    // Any thread; defined with the registry.
    void set() noexcept;

private:
    CoreLatch core_;
    Registry* registry_;
    std::size_t owner_index_;
    bool cross_;
};

class CountLatch {
public:
    CountLatch(Registry* registry, std::size_t owner_index) noexcept
        : registry_(registry), owner_index_(owner_index) {}

    CoreLatch& core() noexcept { return core_; }

    // Any thread, while the count is above zero (the caller holds one of the counts).
    void increment() noexcept { pending_.fetch_add(1, std::memory_order_relaxed); }

    // Any thread: gives back one count; the last one sets the latch. The setter is always a
    // worker of the owner's pool, which therefore outlives the wake-up call.
    void set() noexcept;

private:
    std::atomic<std::size_t> pending_{1};
    CoreLatch core_;
    Registry* registry_;
    std::size_t owner_index_;
};

// How long a lock latch's waiter keeps checking (yielding in between) before it blocks. A
// blocked thread is woken through the scheduler, which on an idle processor (above all a
// virtual one) takes tens of microseconds: more than a short job on the pool runs. Yielding
// leaves the processor to the pool's workers whenever they need it.
inline constexpr std::chrono::microseconds kLockLatchSpin{50};
// The same when the pool leaves a processor to the waiter, whose checks then take time from
// no worker: long enough that the wake-up costs a job that outlasts it a few percent at most.
inline constexpr std::chrono::microseconds kLockLatchSpareSpin{2000};

class LockLatch {
public:
    // Any thread. The waiter cannot return before the mutex is released, so the latch is
    // not touched after it may be freed.
    void set() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_.store(true, std::memory_order_release);
        cond_.notify_all();
    }

    // Any thread.
    bool probe() const noexcept { return set_.load(std::memory_order_acquire); }

    // Blocks the calling thread until set, after checking for `spin`.
    void wait(std::chrono::microseconds spin = kLockLatchSpin) {
        const auto start = std::chrono::steady_clock::now();
        while (!set_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() - start < spin) {
            platform::yield_now();
        }
        // Taken even when the flag is seen set, to wait until set() has let go of the latch.
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [this] { return set_.load(std::memory_order_relaxed); });
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    std::atomic<bool> set_{false};
};

}  // namespace tamarind::pool
