// How many worker threads a pool gets: an explicit request, else the two environment
// variables, else the processor count; never more than the sleep counters can hold.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tamarind::pool {

// Most threads one pool may have: the sleeping and idle counters are 16 bits wide.
inline constexpr std::size_t kMaxThreads = 65535;

// Parses an unsigned decimal count: an optional leading '+' and one or more digits, nothing
// else, no overflow of std::size_t. Anything else ("", "+", "-3", " 3", "abc") is nullopt.
std::optional<std::size_t> parse_thread_count(std::string_view text) noexcept;

// The thread count for a pool. `requested` > 0 wins. Otherwise RAYON_NUM_THREADS (when it
// parses: 0 means the processor count), then RAYON_RS_NUM_CPUS (0 or unparsable means the
// processor count). A processor count of 0 counts as 1. The result is capped at kMaxThreads.
// The variables are passed in (nullopt when unset) so the rules can be tested directly.
std::size_t resolve_num_threads(std::size_t requested,
                                std::optional<std::string_view> rayon_num_threads,
                                std::optional<std::string_view> rs_num_cpus,
                                std::size_t processor_count) noexcept;

// resolve_num_threads with the process environment and the platform's processor count.
std::size_t resolve_num_threads(std::size_t requested);

}  // namespace tamarind::pool
