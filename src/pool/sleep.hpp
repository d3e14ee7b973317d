// The sleep state of a pool: idle workers search with yields for a while, then sleep until
// new work or their latch wakes them. One atomic word of counters decides who sleeps and
// who must be woken:
//   bits  0-15  sleeping threads
//   bits 16-31  idle threads (searching or sleeping)
//   bits 32-63  jobs-event counter; odd while some thread is getting sleepy.
// A worker that got sleepy records the counter; it may only fall asleep if no job was
// published since (publishers make the counter even again). Every worker sleeps on its own
// wake word with address-based waiting; a waker flips the word to 0 and wakes the address.
//
// Where a woken worker runs is the scheduler's choice, and left to it two workers land on one
// processor (the one a worker still yielding through its idle passes holds, or the caller's)
// while another stands idle. The scheduler then keeps them together for as long as either
// counts as cache-hot (half a millisecond by default), each at half speed: a parallel
// quicksort of 10^5 int64 on 2 processors took 1.1-1.5 ms in a third of its calls against
// 0.6 in the others. So where the pool has no more workers than the processors its builder
// may run on, worker i starts on the i-th of them and may run only there while it sleeps: it
// wakes on a processor of its own, and then gets its whole allowed set back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "pool/injector.hpp"
#include "pool/latch.hpp"

namespace tamarind::pool {

// Idle passes that only yield before a worker announces it is getting sleepy; the pass
// after that announcement is its last search before it sleeps.
inline constexpr std::uint32_t kRoundsUntilSleepy = 32;
// Most sleepers that one worker wakes when it leaves the idle state with a job.
inline constexpr std::uint64_t kMaxWakesOnWorkFound = 2;

// One worker's progress through an idle stretch.
struct IdleState {
    std::size_t worker_index;
    std::uint32_t rounds = 0;
    std::uint64_t jobs_counter = kInvalidCounter;

    static constexpr std::uint64_t kInvalidCounter = ~std::uint64_t{0};
};

class Sleep {
public:
    // `injector` is the pool's injection queue, checked once more just before sleeping.
    Sleep(std::size_t num_threads, const Injector& injector);

    // Worker: entering and leaving an idle stretch.
    IdleState start_looking(std::size_t worker_index) noexcept;
    void work_found() noexcept;     // leaves idle with a job; wakes up to two sleepers
    void stop_looking() noexcept;   // leaves idle because its latch was set

    // Worker: one pass that found nothing. Yields, gets sleepy or sleeps.
    void no_work_found(IdleState& idle, CoreLatch& latch) noexcept {
        if (idle.rounds < kRoundsUntilSleepy) {
            yield();
            ++idle.rounds;
        } else if (idle.rounds == kRoundsUntilSleepy) {
            idle.jobs_counter = announce_sleepy();
            ++idle.rounds;
            yield();
        } else {
            sleep(idle, latch);
        }
    }

    // After jobs were pushed onto a worker's deque or the injection queue.
    void new_jobs(std::uint32_t num_jobs, bool queue_was_empty) noexcept;

    // Wakes worker i if it sleeps (its latch was set, or the pool ends).
    bool wake_specific_thread(std::size_t i) noexcept;

    // Worker: moves to the processor it sleeps on, to start from there.
    void go_home(std::size_t worker_index) noexcept;

    // Whether a worker sleeps on processor cpu, and wakes there.
    bool is_home(int cpu) const noexcept;

    // Wakes one sleeping worker, if any sleeps, ahead of work about to be published.
    void wake_one() noexcept {
        if (sleeping(counters_.load(std::memory_order_seq_cst)) != 0) wake_any_threads(1);
    }

private:
    static constexpr std::uint64_t kOneSleeping = 1;
    static constexpr std::uint64_t kOneIdle = std::uint64_t{1} << 16;
    static constexpr std::uint64_t kOneJobEvent = std::uint64_t{1} << 32;

    static std::uint64_t sleeping(std::uint64_t c) noexcept { return c & 0xFFFF; }
    static std::uint64_t idle(std::uint64_t c) noexcept { return (c >> 16) & 0xFFFF; }
    static std::uint64_t jobs_counter(std::uint64_t c) noexcept { return c >> 32; }

    static void yield() noexcept;
    std::uint64_t announce_sleepy() noexcept;
    void sleep(IdleState& idle, CoreLatch& latch) noexcept;
    void wake_any_threads(std::uint64_t n) noexcept;

    struct alignas(64) WakeWord {
        std::atomic<std::uint32_t> asleep{0};  // 1 while its worker sleeps or is about to
        int home = -1;  // the processor it sleeps on; -1: wherever it fell asleep
    };

    alignas(64) std::atomic<std::uint64_t> counters_{0};
    std::size_t num_threads_;
    const Injector& injector_;
    std::unique_ptr<WakeWord[]> words_;
};

}  // namespace tamarind::pool
