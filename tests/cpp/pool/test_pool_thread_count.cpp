// Thread-count resolution: explicit request, then the two environment variables, then
// the processor count, capped at the width of the sleep counters.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "pool/thread_count.hpp"

using tamarind::pool::parse_thread_count;
using tamarind::pool::resolve_num_threads;

namespace {
constexpr std::optional<std::string_view> unset = std::nullopt;
}

TEST(ThreadCount, ParsesOnlyPlainUnsignedDecimals) {
    struct Row { std::string_view text; std::optional<std::size_t> value; };
    const Row rows[] = {
        {"3", 3}, {"+3", 3}, {"0", 0}, {"007", 7},
        {"18446744073709551615", 18446744073709551615ULL},
        {"18446744073709551616", std::nullopt},  // overflows a machine word
        {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt}, {"-3", std::nullopt},
        {" 3", std::nullopt}, {"3 ", std::nullopt}, {"3a", std::nullopt}, {"++3", std::nullopt},
    };
    for (const Row& r : rows) EXPECT_EQ(parse_thread_count(r.text), r.value) << '"' << r.text << '"';
}

TEST(ThreadCount, ResolvesInTheDocumentedOrder) {
    struct Row { std::size_t requested; std::optional<std::string_view> num_threads, num_cpus; std::size_t processors, expected; };
    const Row rows[] = {
        {8, "3", "5", 4, 8},        // an explicit request ignores the environment
        {0, "3", unset, 4, 3},
        {0, "0", "5", 4, 4},        // 0 means the processor count, not the next variable
        {0, "abc", unset, 4, 4},
        {0, "-3", "5", 4, 5},       // unparsable falls through to the second variable
        {0, "", "5", 4, 5},
        {0, unset, "5", 4, 5},
        {0, unset, "0", 4, 4},
        {0, unset, unset, 4, 4},
        {0, unset, unset, 0, 1},    // a system reporting no processors still gets one thread
        {70000, unset, unset, 4, 65535},
        {0, "70000", unset, 4, 65535},
        {0, unset, "18446744073709551615", 4, 65535},
    };
    for (const Row& r : rows)
        EXPECT_EQ(resolve_num_threads(r.requested, r.num_threads, r.num_cpus, r.processors), r.expected)
            << "requested " << r.requested << " RAYON_NUM_THREADS=" << r.num_threads.value_or("<unset>")
            << " RAYON_RS_NUM_CPUS=" << r.num_cpus.value_or("<unset>");
}
