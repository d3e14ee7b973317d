// The operating-system services the worker pools rely on, behind named functions so the
// rest of the runtime never calls the OS directly: the processor count, starting a
// worker thread, address-based waiting and waking, yielding the processor, and which
// processors a thread runs on (where it is, and keeping it to one for a while), and a
// paging hint for fresh memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tamarind::pool::platform {

// Stack reserved for every worker thread.
inline constexpr std::size_t kWorkerStackSize = 2u << 20;

// Logical processors online; 0 when the system reports none (callers choose the fallback).
std::size_t processor_count() noexcept;

// Starts a detached thread running entry(arg) on a kWorkerStackSize stack. Returns 0, or the
// OS error code when the thread could not be started (entry is then never called).
int start_thread(void (*entry)(void*), void* arg) noexcept;

// Blocks while word still holds expected; may return spuriously, so callers re-check.
void wait_on_address(std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept;

// Wakes one thread blocked in wait_on_address on word. Waking an address that no
// longer holds a live object is harmless: the address only serves as a key.
void wake_by_address_single(std::atomic<std::uint32_t>& word) noexcept;

// Registers handlers run around fork(): prepare in the forking thread before it, parent and
// child after it in the respective process. Returns 0 or the OS error code.
int at_fork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

// Offers the processor to another ready thread.
void yield_now() noexcept;

// The processor the calling thread runs on, or -1 where the platform cannot say.
int current_processor() noexcept;

// The i-th (from 0, ascending) of the processors the calling thread may run on, or -1 where
// it may run on fewer or the platform cannot say.
int allowed_processor(std::size_t i) noexcept;

// Lets the calling thread run on processor `cpu` only, until end_confinement gives it back
// the set it had. False (and nothing changed) where cpu is not in that set or the platform
// cannot confine threads.
bool confine_to_processor(int cpu) noexcept;
void end_confinement() noexcept;

// Asks for the whole pages inside [begin, begin + bytes), not yet touched, to be backed by
// base pages rather than huge ones. A hint: ignored where the platform has no such advice.
void prefer_small_pages(void* begin, std::size_t bytes) noexcept;

// Test hook: after `successes` more successful starts, start_thread fails with EAGAIN.
// A negative value (the default) never fails.
void fail_thread_starts_after(long successes) noexcept;

}  // namespace tamarind::pool::platform
