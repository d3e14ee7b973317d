#include "pool/late_workers.hpp"

#include <algorithm>
#include <atomic>

namespace tamarind::pool {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t now_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

constexpr std::int64_t ns(std::chrono::milliseconds d) noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

// The end of the current back-off and its length. Two threads noting at once may each
// extend it; either outcome is a valid back-off, so relaxed accesses do.
std::atomic<std::int64_t> late_until{0};
std::atomic<std::int64_t> backoff{0};
// Tests: late until reset, whatever the clock says.
std::atomic<bool> marked_late{false};

}  // namespace

void note_late_worker() noexcept {
    const std::int64_t now = now_ns();
    const std::int64_t until = late_until.load(std::memory_order_relaxed);
    const std::int64_t last = backoff.load(std::memory_order_relaxed);
    // Late again within one back-off of the last one's end: the neighbour is still busy.
    const std::int64_t next = until != 0 && now < until + last
                                  ? std::min(2 * last, ns(kLateBackoffMax))
                                  : ns(kLateBackoffMin);
    backoff.store(next, std::memory_order_relaxed);
    late_until.store(now + next, std::memory_order_relaxed);
}

bool workers_late() noexcept {
    if (marked_late.load(std::memory_order_relaxed)) [[unlikely]]
        return true;
    const std::int64_t until = late_until.load(std::memory_order_relaxed);
    return until != 0 && now_ns() < until;
}

void reset_late_workers() noexcept {
    marked_late.store(false, std::memory_order_relaxed);
    late_until.store(0, std::memory_order_relaxed);
    backoff.store(0, std::memory_order_relaxed);
}

void mark_workers_late() noexcept { marked_late.store(true, std::memory_order_relaxed); }

}  // namespace tamarind::pool
