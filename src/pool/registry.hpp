// The shared state of one pool (the registry) and the worker threads that serve it.
// A registry is reference-counted: the pool handle and every worker hold one reference,
// and the last release frees it, so dropping a handle never waits for its threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "pool/build_error.hpp"
#include "pool/deque.hpp"
#include "pool/injector.hpp"
#include "pool/job.hpp"
#include "pool/late_workers.hpp"
#include "pool/latch.hpp"
#include "pool/platform.hpp"
#include "pool/sleep.hpp"
#include "types/panic.hpp"

namespace tamarind::pool {

using messages::kInjectedOffPool;

// What the calling thread is: a worker of some pool, or (nullptr) an outside thread.
struct WorkerThread;
inline thread_local WorkerThread* t_current_worker = nullptr;

inline WorkerThread* current_worker() noexcept { return t_current_worker; }

#ifdef TAMARIND_COUNT_HANDOFFS
// Test builds only: jobs handed to any pool from a thread outside it, so that a test can
// tell whether a call reached a pool at all.
inline std::atomic<std::size_t> g_handed_off_jobs{0};
#endif

// Jobs handed to a pool from outside it so far; always 0 outside test builds.
inline std::size_t handed_off_jobs() noexcept {
#ifdef TAMARIND_COUNT_HANDOFFS
    return g_handed_off_jobs.load(std::memory_order_relaxed);
#else
    return 0;
#endif
}

class Registry {
public:
    // Starts a registry with `num_threads` workers and returns it holding one reference for
    // the caller; or nullptr with `*os_error` set when a thread could not be started (the
    // threads already started are told to end).
    static Registry* start(std::size_t num_threads, int* os_error);

    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    std::size_t num_threads() const noexcept { return num_threads_; }

    void acquire() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    // Frees the registry when this was the last reference.
    void release() noexcept;

    // Sets every worker's termination latch and wakes those asleep. Called once.
    void terminate() noexcept;

    // Any thread: queues a job for the pool's workers.
    void inject(Job* job);

    // Outside thread: takes back a job it injected that no worker has taken yet.
    bool take_back(Job* job) { return injector_.take_back(job); }

    // Outside thread of the global pool: runs jobs stolen from the workers' deques until
    // none is left or the latch is set, then blocks on the latch. Such jobs run the same
    // off the pool (their joins and spawns go back to the global pool), and a worker that
    // waits for a processor holds up no job it has split off.
    void help_until(LockLatch& latch, std::chrono::microseconds spin = kLockLatchSpin);

    // Called once, before the global pool is published.
    void mark_global() noexcept { global_ = true; }

    // Wakes worker i if it sleeps on a latch that was just set.
    void notify_worker_latch_is_set(std::size_t i) noexcept { sleep_.wake_specific_thread(i); }

    // Runs op on a worker of this pool and returns its value (void as std::monostate):
    // directly when the caller already is one, else as an injected job while the caller
    // blocks (outside thread) or keeps working for its own pool (worker of another pool).
    template <class Op>
    detail::value_t<Op> in_worker(Op& op);

    Sleep& sleep() noexcept { return sleep_; }
    JobDeque& deque(std::size_t i) noexcept { return infos_[i].deque; }
    Injector& injector() noexcept { return injector_; }

private:
    friend struct WorkerThread;
    struct alignas(64) ThreadInfo {
        JobDeque deque;
        CoreLatch terminate;
        Registry* registry = nullptr;
        std::size_t index = 0;
    };

    explicit Registry(std::size_t num_threads);
    ~Registry() = default;

    Job* steal_any() noexcept;

    static void worker_main(void* info);

    template <class Op>
    detail::value_t<Op> in_worker_cold(Op& op);
    template <class Op>
    detail::value_t<Op> in_worker_cross(WorkerThread& current, Op& op);

    alignas(64) std::atomic<std::size_t> refs_{1};
    std::size_t num_threads_;
    // Fewer workers than processors: a caller waiting for the pool has one to itself.
    bool spare_processor_;
    // The global pool, whose queued jobs an outside thread may run itself (help_until).
    bool global_ = false;
    std::unique_ptr<ThreadInfo[]> infos_;
    Injector injector_;
    Sleep sleep_;
};

// The global pool, built on first use from the environment and never freed (a forked child
// builds one of its own on first use). Panics with
// "The global thread pool has not been initialized." and the error when it cannot be built.
Registry& global_registry();

// Wakes one sleeping worker of the pool the caller's work is headed for (its own pool on a
// worker thread, else the global pool, if that exists), for a caller about to hand it work
// after a stretch of its own: waking a thread takes the scheduler tens of microseconds,
// which the caller's stretch then hides. The woken worker searches for the usual rounds
// before it sleeps again. Never builds the global pool.
void wake_for_work_soon() noexcept;

// A worker's view of its pool; lives on the worker thread's stack.
struct WorkerThread {
    Registry* registry;
    std::size_t index;
    std::uint64_t rng_state;  // xorshift64* state for picking victims; never 0

    JobDeque& deque() noexcept { return registry->deque(index); }

    // Pushes onto the own deque, where other workers may steal it.
    void push(Job* job) {
        const bool queue_was_empty = deque().is_empty();
        deque().push(job);
        registry->sleep().new_jobs(1, queue_was_empty);
    }

    Job* take_local_job() noexcept { return deque().pop(); }

    static void execute(Job* job) { job->execute_fn(job); }

    // Runs jobs (own, stolen, injected) until the latch is set, sleeping when there are none.
    void wait_until(CoreLatch& latch) {
        if (!latch.probe()) wait_until_cold(latch);
    }
    void wait_until_cold(CoreLatch& latch);

    Job* find_work();
    Job* steal() noexcept;
    std::size_t next_victim_start() noexcept;
};

// ---- templates ----

template <class Op>
detail::value_t<Op> Registry::in_worker(Op& op) {
    WorkerThread* worker = current_worker();
    if (worker == nullptr) return in_worker_cold(op);
    if (worker->registry != this) return in_worker_cross(*worker, op);
    return detail::call_for_value(op);
}

template <class Op>
detail::value_t<Op> Registry::in_worker_cold(Op& op) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point started{};
    auto injected = [&op, &started]() -> detail::value_t<Op> {
        if (current_worker() == nullptr) panic(kInjectedOffPool);
        started = Clock::now();
        return detail::call_for_value(op);
    };
    StackJob<decltype(injected), LockLatch> job(injected);
    // With a processor to spare the caller spins through most jobs, unless it holds the one a
    // worker sleeps on and will wake on.
    const bool spin_long = spare_processor_ && !sleep_.is_home(platform::current_processor());
    const Clock::time_point handed = Clock::now();
    inject(&job);
    const auto spin = spin_long ? kLockLatchSpareSpin : kLockLatchSpin;
    if (global_) help_until(job.latch, spin);
    else job.latch.wait(spin);
    if (global_ && started - handed > kLateWorker) note_late_worker();
    return job.into_result();
}

template <class Op>
detail::value_t<Op> Registry::in_worker_cross(WorkerThread& current, Op& op) {
    auto injected = [&op]() -> detail::value_t<Op> {
        if (current_worker() == nullptr) panic(kInjectedOffPool);
        return detail::call_for_value(op);
    };
    StackJob<decltype(injected), SpinLatch> job(injected, current.registry, current.index, true);
    inject(&job);
    // Keep serving the own pool until the other pool has run the job.
    current.wait_until(job.latch.core());
    return job.into_result();
}

}  // namespace tamarind::pool
