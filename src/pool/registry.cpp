#include "pool/registry.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "pool/platform.hpp"
#include "pool/thread_count.hpp"

namespace tamarind::pool {

std::string ThreadPoolBuildError::to_string() const {
    return "ThreadPoolBuildError { kind: IOError(Os { code: " + std::to_string(os_error) +
           ", message: \"" + std::strerror(os_error) + "\" }) }";
}

// ---- latches that wake through the registry ----

void SpinLatch::set() noexcept {
    // Copy everything out first: once the core latch is set the owner may free this latch.
    Registry* registry = registry_;
    const std::size_t owner = owner_index_;
    const bool cross = cross_;
    // A setter from another pool holds nothing that keeps the owner's pool alive.
    if (cross) registry->acquire();
    if (core_.set()) registry->notify_worker_latch_is_set(owner);
    if (cross) registry->release();
}

void CountLatch::set() noexcept {
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    Registry* registry = registry_;
    const std::size_t owner = owner_index_;
    if (core_.set()) registry->notify_worker_latch_is_set(owner);
}

// ---- registry ----

Registry::Registry(std::size_t num_threads)
    : num_threads_(num_threads),
      spare_processor_(num_threads < platform::processor_count()),
      infos_(std::make_unique<ThreadInfo[]>(num_threads)),
      sleep_(num_threads, injector_) {
    for (std::size_t i = 0; i < num_threads; ++i) {
        infos_[i].registry = this;
        infos_[i].index = i;
    }
}

Registry* Registry::start(std::size_t num_threads, int* os_error) {
    auto* registry = new Registry(num_threads);
    for (std::size_t i = 0; i < num_threads; ++i) {
        registry->acquire();  // the worker's reference
        const int rc = platform::start_thread(&Registry::worker_main, &registry->infos_[i]);
        if (rc != 0) {
            registry->release();  // the worker that never started
            registry->terminate();
            registry->release();  // the caller's; the started workers free it
            *os_error = rc;
            return nullptr;
        }
    }
    return registry;
}

void Registry::release() noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void Registry::terminate() noexcept {
    for (std::size_t i = 0; i < num_threads_; ++i) {
        if (infos_[i].terminate.set()) sleep_.wake_specific_thread(i);
    }
}

void Registry::inject(Job* job) {
#ifdef TAMARIND_COUNT_HANDOFFS
    g_handed_off_jobs.fetch_add(1, std::memory_order_relaxed);
#endif
    const bool queue_was_empty = injector_.is_empty();
    injector_.push(job);
    sleep_.new_jobs(1, queue_was_empty);
}

Job* Registry::steal_any() noexcept {
    for (;;) {
        bool retry = false;
        for (std::size_t i = 0; i < num_threads_; ++i) {
            const Stolen stolen = infos_[i].deque.steal();
            if (stolen.status == StealStatus::kSuccess) return stolen.job;
            if (stolen.status == StealStatus::kRetry) retry = true;
        }
        if (!retry) return nullptr;
    }
}

void Registry::help_until(LockLatch& latch, std::chrono::microseconds spin) {
    while (!latch.probe()) {
        Job* job = steal_any();
        if (job == nullptr) break;
        WorkerThread::execute(job);
    }
    latch.wait(spin);
}

void Registry::worker_main(void* raw) {
    auto* info = static_cast<ThreadInfo*>(raw);
    Registry* registry = info->registry;
    // Any nonzero, distinct seed will do; mix the index so workers start at different victims.
    WorkerThread worker{registry, info->index,
                        (info->index + 1) * 0x9E3779B97F4A7C15ULL ^
                            reinterpret_cast<std::uintptr_t>(registry)};
    if (worker.rng_state == 0) worker.rng_state = 1;
    t_current_worker = &worker;
    registry->sleep_.go_home(info->index);
    try {
        worker.wait_until(info->terminate);
    } catch (...) {
        // Every job catches its own panics; one escaping here means the pool is broken.
        std::fputs("Rayon: detected unexpected panic; aborting\n", stderr);
        std::abort();
    }
    t_current_worker = nullptr;
    registry->release();
}

// ---- worker ----

void WorkerThread::wait_until_cold(CoreLatch& latch) {
    Sleep& sleep = registry->sleep();
    while (!latch.probe()) {
        if (Job* job = take_local_job()) {
            execute(job);
            continue;
        }
        IdleState idle = sleep.start_looking(index);
        Job* found = nullptr;
        while (!latch.probe()) {
            found = find_work();
            if (found != nullptr) break;
            sleep.no_work_found(idle, latch);
        }
        if (found == nullptr) {
            sleep.stop_looking();
            return;
        }
        sleep.work_found();
        execute(found);
    }
}

Job* WorkerThread::find_work() {
    if (Job* job = take_local_job()) return job;
    if (Job* job = steal()) return job;
    return registry->injector().pop();
}

std::size_t WorkerThread::next_victim_start() noexcept {
    std::uint64_t x = rng_state;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    rng_state = x;
    return static_cast<std::size_t>((x * 0x2545F4914F6CDD1DULL) % registry->num_threads());
}

Job* WorkerThread::steal() noexcept {
    const std::size_t n = registry->num_threads();
    if (n < 2) return nullptr;
    const std::size_t start = next_victim_start();
    for (;;) {
        bool retry = false;
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t victim = start + k;
            if (victim >= n) victim -= n;
            if (victim == index) continue;
            const Stolen stolen = registry->deque(victim).steal();
            if (stolen.status == StealStatus::kSuccess) return stolen.job;
            if (stolen.status == StealStatus::kRetry) retry = true;
        }
        if (!retry) return nullptr;
    }
}

// ---- the global pool ----

namespace {

struct GlobalPool {
    Registry* registry = nullptr;  // never released
    std::optional<ThreadPoolBuildError> error;
};

// The pool of this process, built once under the mutex; never freed.
std::mutex g_global_mutex;
std::atomic<const GlobalPool*> g_global{nullptr};

// Around fork() the mutex is held, so the child never inherits it locked mid-build.
void lock_global() { g_global_mutex.lock(); }
void unlock_global() { g_global_mutex.unlock(); }

// A forked child has none of its parent's threads: the parent's registry would take jobs
// that nobody runs. The child forgets it and builds a pool of its own on first use. The
// parent's registry (and its GlobalPool record) is deliberately leaked: its workers'
// deques, latches and sleep state describe threads that do not exist here, so nothing in
// it may be waited on, woken or freed.
void forget_global_in_child() {
    g_global.store(nullptr, std::memory_order_relaxed);
    g_global_mutex.unlock();
}

const GlobalPool* build_global_pool() {
    std::lock_guard lock(g_global_mutex);
    if (const GlobalPool* built = g_global.load(std::memory_order_relaxed)) return built;
    // Registered once per process image; a child inherits the registration.
    static const int at_fork_error = platform::at_fork(&lock_global, &unlock_global, &forget_global_in_child);
    (void)at_fork_error;  // if it failed, a child can only do what it did before: hang
    auto* pool = new GlobalPool;
    int os_error = 0;
    pool->registry = Registry::start(resolve_num_threads(0), &os_error);
    if (pool->registry != nullptr) pool->registry->mark_global();
    if (pool->registry == nullptr) {
        pool->error = ThreadPoolBuildError{ThreadPoolBuildErrorKind::IOError, os_error};
    }
    g_global.store(pool, std::memory_order_release);
    return pool;
}

}  // namespace

void wake_for_work_soon() noexcept {
    if (const WorkerThread* worker = current_worker()) {
        worker->registry->sleep().wake_one();
        return;
    }
    const GlobalPool* pool = g_global.load(std::memory_order_acquire);
    if (pool != nullptr && pool->registry != nullptr) pool->registry->sleep().wake_one();
}

Registry& global_registry() {
    const GlobalPool* pool = g_global.load(std::memory_order_acquire);
    if (pool == nullptr) [[unlikely]]
        pool = build_global_pool();
    if (pool->registry == nullptr) {
        panic(std::string(messages::kGlobalPoolNotInitialized) + pool->error->to_string());
    }
    return *pool->registry;
}

}  // namespace tamarind::pool
