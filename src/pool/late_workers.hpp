// Whether the global pool's workers have lately been slow to get a processor. A worker
// woken onto a processor that another process keeps busy may wait a whole scheduler time
// slice (milliseconds) before it runs, or lose the processor in the middle of a job; the
// caller that waits for it then takes ten times as long as it would alone. A hand-off
// whose worker was that late marks the workers late for a while, and while they are, the
// entries keep work that one thread finishes in a few milliseconds on the calling thread.
// The while doubles each time the workers turn out late again soon after it ended, so a
// neighbour that stays busy costs one late hand-off every kLateBackoffMax at most.
#pragma once

#include <chrono>
#include <cstdint>

namespace tamarind::pool {

// A worker counts as late when the job it was handed started, or (for the second half of
// a join) finished, this long after the caller could have done it: well past a wake-up on
// an idle processor (tens of microseconds), well short of a time slice.
inline constexpr std::chrono::microseconds kLateWorker{1000};
// How long the workers count as late after the first late hand-off, and at most.
inline constexpr std::chrono::milliseconds kLateBackoffMin{50};
inline constexpr std::chrono::milliseconds kLateBackoffMax{1000};

// Notes a hand-off whose worker was late (any thread).
void note_late_worker() noexcept;

// Whether a late hand-off was noted within the current back-off.
bool workers_late() noexcept;

// Tests: mark the workers late until the reset, which also forgets every late hand-off.
void mark_workers_late() noexcept;
void reset_late_workers() noexcept;

}  // namespace tamarind::pool
