#include "pool/thread_count.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "pool/platform.hpp"

namespace tamarind::pool {

std::optional<std::size_t> parse_thread_count(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::size_t>(c - '0');
        if (value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t resolve_num_threads(std::size_t requested,
                                std::optional<std::string_view> rayon_num_threads,
                                std::optional<std::string_view> rs_num_cpus,
                                std::size_t processor_count) noexcept {
    const std::size_t processors = std::max<std::size_t>(processor_count, 1);
    std::size_t count = requested;
    if (count == 0) {
        std::optional<std::size_t> parsed;
        if (rayon_num_threads) parsed = parse_thread_count(*rayon_num_threads);
        if (!parsed && rs_num_cpus) parsed = parse_thread_count(*rs_num_cpus);
        count = parsed.value_or(0);
        if (count == 0) count = processors;
    }
    return std::min(count, kMaxThreads);
}

std::size_t resolve_num_threads(std::size_t requested) {
    const auto env = [](const char* name) -> std::optional<std::string_view> {
        const char* value = std::getenv(name);
        if (value == nullptr) return std::nullopt;
        return std::string_view(value);
    };
    return resolve_num_threads(requested, env("RAYON_NUM_THREADS"), env("RAYON_RS_NUM_CPUS"),
                               platform::processor_count());
}

}  // namespace tamarind::pool
