#include "pool/platform.hpp"

#include <cerrno>
#include <climits>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#endif

namespace tamarind::pool::platform {
namespace {

std::atomic<long> g_starts_before_failure{-1};

// Consumes one allowed start of the test hook; false when this start must fail.
bool thread_start_allowed() noexcept {
    long left = g_starts_before_failure.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) return false;
        if (g_starts_before_failure.compare_exchange_weak(left, left - 1,
                                                          std::memory_order_relaxed)) {
            return true;
        }
    }
    return true;
}

struct ThreadStart {
    void (*entry)(void*);
    void* arg;
};

void* thread_main(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.entry(start.arg);
    return nullptr;
}

}  // namespace

std::size_t processor_count() noexcept {
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : 0;
}

int start_thread(void (*entry)(void*), void* arg) noexcept {
    if (!thread_start_allowed()) return EAGAIN;
    auto* start = new (std::nothrow) ThreadStart{entry, arg};
    if (start == nullptr) return ENOMEM;

    pthread_attr_t attr;
    int rc = ::pthread_attr_init(&attr);
    if (rc != 0) {
        delete start;
        return rc;
    }
    rc = ::pthread_attr_setstacksize(&attr, kWorkerStackSize);
    if (rc == 0) rc = ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (rc == 0) rc = ::pthread_create(&thread, &attr, &thread_main, start);
    ::pthread_attr_destroy(&attr);
    if (rc != 0) delete start;
    return rc;
}

#if defined(__linux__)

void wait_on_address(std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept {
    // EAGAIN (value changed) and EINTR both just return: the caller re-checks its condition.
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
              nullptr, nullptr, 0);
}

void wake_by_address_single(std::atomic<std::uint32_t>& word) noexcept {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr,
              nullptr, 0);
}

#else

void wait_on_address(std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept {
    word.wait(expected, std::memory_order_acquire);
}

void wake_by_address_single(std::atomic<std::uint32_t>& word) noexcept { word.notify_one(); }

#endif

int at_fork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept {
    return ::pthread_atfork(prepare, parent, child);
}

void yield_now() noexcept { ::sched_yield(); }

#if defined(__linux__)

int current_processor() noexcept { return ::sched_getcpu(); }

int allowed_processor(std::size_t i) noexcept {
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed) && i-- == 0) return cpu;
    }
    return -1;
}

void prefer_small_pages(void* begin, std::size_t bytes) noexcept {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t last = (start + bytes) & ~(page - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_NOHUGEPAGE);
}

namespace {
thread_local cpu_set_t t_before_confinement;
}  // namespace

bool confine_to_processor(int cpu) noexcept {
    if (cpu < 0 || cpu >= CPU_SETSIZE ||
        ::sched_getaffinity(0, sizeof t_before_confinement, &t_before_confinement) != 0 ||
        !CPU_ISSET(cpu, &t_before_confinement)) {
        return false;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return ::sched_setaffinity(0, sizeof one, &one) == 0;
}

void end_confinement() noexcept {
    ::sched_setaffinity(0, sizeof t_before_confinement, &t_before_confinement);
}

#else

int current_processor() noexcept { return -1; }

int allowed_processor(std::size_t) noexcept { return -1; }

bool confine_to_processor(int) noexcept { return false; }

void prefer_small_pages(void*, std::size_t) noexcept {}

void end_confinement() noexcept {}

#endif

void fail_thread_starts_after(long successes) noexcept {
    g_starts_before_failure.store(successes, std::memory_order_relaxed);
}

}  // namespace tamarind::pool::platform
