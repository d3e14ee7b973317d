// Allocations of a sort made to fail, one per run (the first 32, then every 97th, of the
// several thousand a parallel sort makes): whatever the sort raises, the array holds a
// permutation of its elements, bit for bit, and the same array then sorts. Normal floats
// from 800 000 elements take the sampled sorts on both entries.
//
// The replacements below pair malloc with free; GCC cannot see that inlined library code
// reaches them through the replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "entries/mt_radix_sort.hpp"
#include "entries/single_threaded_sort.hpp"
#include "sort_test_support.hpp"

namespace {

// Allocations left before the next one fails; negative: none fails.
std::atomic<long> allocations_left{-1};

// malloc, unless this allocation is the one to fail.
void* allocate(std::size_t size) noexcept {
    if (allocations_left.load(std::memory_order_relaxed) >= 0 && allocations_left.fetch_sub(1) == 0) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* allocate_or_throw(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}

}  // namespace

// Every form the library may call, so that what one form allocates another frees.
void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

using namespace tamarind;
using namespace tamarind::testing;

TEST(AllocationFailures, LeaveAPermutation) {
    const std::size_t n = 800000;
    std::mt19937_64 rng(3);
    std::normal_distribution<f64> normal;
    std::vector<f64> in(n);
    for (auto& x : in) x = normal(rng);
    const std::pair<const char*, void (*)(f64*, std::size_t)> sorts[] = {{"mt_radix_sort", mt_radix_sort},
                                                                         {"single_threaded_sort", single_threaded_sort}};
    // Key order leaves one arrangement of the bits: the result of a sort that ran through.
    std::vector<f64> expected = in;
    single_threaded_sort(expected.data(), n);
    ASSERT_TRUE(sorted_permutation(in, expected, true));
    for (const auto& [name, sort] : sorts) {
        for (long k = 0;; k += k < 32 ? 1 : kSanitized ? 397 : 97) {
            std::vector<f64> v = in;
            allocations_left = k;
            bool failed = false;
            try {
                sort(v.data(), n);
            } catch (...) {  // std::bad_alloc, or a panic (a pool that cannot be built)
                failed = true;
            }
            const bool all_tried = allocations_left.load() >= 0;  // fewer than k + 1 allocations
            allocations_left = -1;
            // Sorting again what a failure left gives the expected bits only from a permutation.
            if (failed) sort(v.data(), n);
            ASSERT_EQ(std::memcmp(v.data(), expected.data(), n * sizeof(f64)), 0) << name << ", allocation " << k << " failing";
            if (all_tried) break;
        }
    }
}

// A scope whose task cannot be queued (the worker's deque cannot grow) raises, rather than
// wait for ever on the task; the tasks it did queue all run first.
TEST(AllocationFailures, ScopeEndsWhenATaskCannotBeQueued) {
    for (long k = 0; k < 400; ++k) {
        std::atomic<int> queued{0}, ran{0};
        allocations_left = k;
        try {
            pool::ThreadPool workers = make_pool(2);
            workers.scope([&](pool::Scope& scope) {
                for (int i = 0; i < 300; ++i) {
                    scope.spawn([&] { ++ran; });
                    ++queued;
                }
            });
        } catch (...) {
        }
        allocations_left = -1;
        EXPECT_EQ(ran.load(), queued.load()) << "allocation " << k << " failing";
    }
}
