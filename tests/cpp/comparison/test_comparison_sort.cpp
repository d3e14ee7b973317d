// The comparison sorts, on the calling thread and the parallel quicksort, in both forms: on an
// element type's own order (the NaN gate, then every kernel table this processor runs) and
// under a caller's comparator, over many lengths and patterns; presorted input, adversarial
// pivots, comparator failures at every point and NaN. Suites of the parallel sort carry
// "Parallel" so that they also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "comparison/comparison_sort.hpp"
#include "comparison/parallel_quicksort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

const auto UnstableSort = [](auto* v, std::size_t n, auto less) { unstable_sort(v, n, less); };
const auto InsertionSort = [](auto* v, std::size_t n, auto less) { insertion_sort(v, n, less); };
const auto ParallelQuicksort = [](auto* v, std::size_t n, auto less) { parallel_quicksort(v, n, less); };

// The kernel tables this processor runs: the scalar one, and the vector ones it has.
std::vector<const simd::KernelSet*> kernel_tables() {
    std::vector<const simd::KernelSet*> tables;
    for (simd::Isa isa : {simd::Isa::kScalar, simd::Isa::kAvx2, simd::Isa::kAvx512})
        if (const simd::KernelSet* set = simd::kernels_for(isa)) tables.push_back(set);
    return tables;
}

template <class Traits, class Sort>
void expect_sorts_every_pattern(Sort sort, const std::vector<std::size_t>& lengths, std::size_t max = ~std::size_t{0}) {
    using T = typename Traits::value_type;
    for (std::size_t n : lengths)
        for (const std::string& p : pattern_names()) {
            if (n > max) continue;
            const std::vector<T> in = make_pattern<T>(p, n, 7);
            ASSERT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort))) << p << ", n = " << n;
        }
}

// The element type's order with the NaN gate, the gate-free form on every table, and the
// element type's comparator as a caller's, of which the sorts know nothing.
template <class Traits>
struct TraitsLess {
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const { return Traits::is_less(a, b); }
};

template <class Traits, class Gated, class NanFree, class WithLess>
void expect_every_form_sorts(Gated gated, NanFree nan_free, WithLess with_less, const std::vector<std::size_t>& lengths,
                             std::size_t gated_max, std::size_t less_max) {
    using T = typename Traits::value_type;
    expect_sorts_every_pattern<Traits>(gated, lengths, gated_max);
    for (const simd::KernelSet* set : kernel_tables()) {
        SCOPED_TRACE(set->name);
        expect_sorts_every_pattern<Traits>([&](T* v, std::size_t n) { nan_free(v, n, set->template of<T>()); }, lengths);
    }
    expect_sorts_every_pattern<Traits>([&](T* v, std::size_t n) { with_less(v, n, TraitsLess<Traits>{}); }, lengths, less_max);
}

// Counts comparisons (atomic: parts sorted on other threads count too) and, given a limit,
// throws once the count passes it: this reaches every comparison, those made while an element
// is held included, where the NaN panic strikes only where a NaN is compared.
template <class Traits>
struct CountingLess {
    std::atomic<u64>* count;
    u64 throw_after = ~u64{0};
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        if (count->fetch_add(1, std::memory_order_relaxed) == throw_after) throw ComparatorFailure{};
        return Traits::is_less(a, b);
    }
};

// An adversary that decides the order only as the sort compares (after McIlroy): every element
// starts as "gas", above all solid values; when two gas elements meet, the one that looks like
// a pivot candidate freezes to the next smallest value. The frozen values form an input on
// which the sort makes these very comparisons: a bad case built for its pivot choice. Both
// that run and a replay of the input it built must stay within factor * n * log2(n).
template <class Traits, class Sort>
void expect_adversary_bounded(Sort sort, std::size_t n, double factor) {
    std::mutex mutex;  // the pool may compare on several threads
    std::vector<u64> ranks(n, n), indices(n);
    u64 next_solid = 0, candidate = 0, comparisons = 0;
    std::iota(indices.begin(), indices.end(), u64{0});
    sort(indices.data(), n, [&](u64 x, u64 y) {
        std::lock_guard<std::mutex> lock(mutex);
        ++comparisons;
        if (ranks[x] == n && ranks[y] == n) ranks[x == candidate ? x : y] = next_solid++;
        if (ranks[x] == n) candidate = x;
        else if (ranks[y] == n) candidate = y;
        return ranks[x] < ranks[y];
    });
    const double bound = factor * static_cast<double>(n) * std::bit_width(n);
    EXPECT_LE(static_cast<double>(comparisons), bound) << "while building, n = " << n;
    for (std::size_t i = 1; i < n; ++i) ASSERT_LE(ranks[indices[i - 1]], ranks[indices[i]]) << "adversary run";
    std::vector<typename Traits::value_type> input(n);
    for (std::size_t i = 0; i < n; ++i) input[i] = rank_value<typename Traits::value_type>(ranks[i]);
    std::vector<typename Traits::value_type> output = input;
    std::atomic<u64> count{0};
    sort(output.data(), n, CountingLess<Traits>{&count});
    EXPECT_LE(static_cast<double>(count.load()), bound) << "replay, n = " << n;
    EXPECT_TRUE(sorted_permutation(input, output));
}

// NaNs in f64 input: the sort panics with the comparator's message before any element moves.
// Short slices get a NaN at every position; a lone NaN is never compared and sorts.
template <class Sort>
void expect_nan_panics(Sort sort) {
    std::mt19937_64 rng(0x4A4E);
    auto run = [&](const std::vector<f64>& in, const std::string& what) {
        std::string message;
        const std::vector<f64> out = sorted_with_guards(in, [&](f64* v, std::size_t n) { message = panic_message([&] { sort(v, n); }); });
        EXPECT_EQ(message, in.size() > 1 ? kNoneUnwrap : "no panic") << what;
        ASSERT_TRUE(same_bits(in, out.begin())) << "moved elements, " << what;
    };
    run({-std::nan("")}, "n = 1");
    for (std::size_t n : {2, 3, 16, 17, 20, 21, 33, 64, 65, 128, 129, 300})
        for (std::size_t at = 0; at < n; ++at) {
            std::vector<f64> in = make_pattern<f64>("random", n, n);
            in[at] = -std::nan("");
            run(in, "n = " + std::to_string(n) + ", NaN at " + std::to_string(at));
        }
    for (std::size_t n : {256, 257, 1000, 2001, 5000, 100'000, 300'000})
        for (std::size_t nans : {1, 3}) {
            std::vector<f64> in = make_pattern<f64>(rng() % 2 ? "random" : "sorted", n, rng());
            for (std::size_t k = 0; k < nans; ++k) in[rng() % n] = std::bit_cast<f64>(0x7FF8'0000'0000'0000ULL | (rng() & 0xFFFF));
            run(in, "n = " + std::to_string(n));
        }
}

// Interrupts sort at many points of its run; each time the slice must hold a permutation.
template <class Traits, class Sort>
void expect_permutation_when_interrupted(Sort sort) {
    using T = typename Traits::value_type;
    std::mt19937_64 rng(0x1E7);
    for (std::size_t n : {2, 20, 21, 60, 300, 3000, 5000})
        for (const char* p : {"random", "nearly_sorted", "few_distinct"}) {
            const std::vector<T> in = make_pattern<T>(p, n, n);
            for (u64 k = 0; k < 64 * n; k += 1 + k / 8 + rng() % 3) {
                const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) {
                    std::atomic<u64> count{0};
                    try { sort(v, m, CountingLess<Traits>{&count, k}); } catch (const ComparatorFailure&) {}
                });
                ASSERT_EQ(sorted_bits(in), sorted_bits(out)) << p << ", n = " << n << ", k = " << k;
                ASSERT_FALSE(::testing::Test::HasFailure()) << "the guards, " << p << ", n = " << n << ", k = " << k;
            }
        }
}

template <class Traits>
class ComparisonSort : public ::testing::Test {};
TYPED_TEST_SUITE(ComparisonSort, ElementTraits);
template <class Traits>
class ParallelQuicksortTest : public ::testing::Test {};
TYPED_TEST_SUITE(ParallelQuicksortTest, ElementTraits);

TYPED_TEST(ComparisonSort, EveryPatternInEveryForm) {
    using T = typename TypeParam::value_type;
    // Every short length, the thresholds (20, 50, 64, 128, 2000) either side, a few larger slices.
    std::vector<std::size_t> lengths(141);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    for (std::size_t n = 141; n < 1100; n += 13) lengths.push_back(n);
    lengths.insert(lengths.end(), {1999, 2000, 2001, 2002, 4001, 8192, 20000, 100'000});
    if (!kSanitized) lengths.push_back(1'000'000);
    expect_every_form_sorts<TypeParam>([](T* v, std::size_t n) { comparison_sort<TypeParam>(v, n); },
                                       [](T* v, std::size_t n, const auto& k) { unstable_sort_nan_free<TypeParam>(v, n, k); },
                                       UnstableSort, lengths, 2002, 20'000);
    lengths.resize(kInsertionSortMax + 2);
    expect_sorts_every_pattern<TypeParam>([](T* v, std::size_t n) { insertion_sort(v, n, TraitsLess<TypeParam>{}); }, lengths);
}

TYPED_TEST(ParallelQuicksortTest, EveryPatternInEveryForm) {
    using T = typename TypeParam::value_type;
    // Up to kCallingThreadMax the calling thread runs the quicksort that ComparisonSort holds.
    std::vector<std::size_t> lengths = {0, 1, 2, 21, 129, 2001, kCallingThreadMax, kCallingThreadMax + 1, 100'000};
    if (!kSanitized) lengths.push_back(1'000'000);
    expect_every_form_sorts<TypeParam>([](T* v, std::size_t n) { parallel_quicksort<TypeParam>(v, n); },
                                       [](T* v, std::size_t n, const auto& k) { parallel_quicksort_nan_free<TypeParam>(v, n, k); },
                                       ParallelQuicksort, lengths, ~std::size_t{0}, ~std::size_t{0});
    for (std::size_t n : {0, 1}) {
        std::vector<T> v(n);
        std::atomic<u64> count{0};
        parallel_quicksort(v.data(), n, CountingLess<TypeParam>{&count});
        EXPECT_EQ(count.load(), 0u) << "no comparison below two elements";
    }
}

// Non-descending input comes back bit for bit (equal -0.0 and +0.0 included) and strictly
// descending input reversed, on every kernel table. Under a comparator, that takes one
// comparison per neighbour pair plus at most the pivot choice's, and from
// kMedianOfMediansThreshold elements descending input is recognised as such at once.
TYPED_TEST(ComparisonSort, PresortedInputFastPaths) {
    using T = typename TypeParam::value_type;
    for (std::size_t n = 0; n <= 2100; n += n < 300 ? 1 : 601) {
        const auto [ascending, descending] = presorted_inputs<T>(n);
        for (const bool down : {false, true}) {
            const std::vector<T>& in = down ? descending : ascending;
            auto came_back = [&](const auto& v) { return down ? same_bits(v, in.rbegin()) : same_bits(v, in.begin()); };
            const std::string what = std::string(down ? "descending" : "sorted") + ", n = " + std::to_string(n);
            for (const simd::KernelSet* set : kernel_tables()) {
                std::vector<T> v = in;
                unstable_sort_nan_free<TypeParam>(v.data(), n, set->template of<T>());
                ASSERT_TRUE(came_back(v)) << set->name << ", " << what;
            }
            std::vector<T> v = in;
            std::atomic<u64> count{0};
            unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
            ASSERT_TRUE(came_back(v)) << what;
            const u64 pivot_choice = n <= quicksort::kInsertionThreshold ? 0 : quicksort::kMaxPivotSwaps;
            const bool bounded = !down || n >= quicksort::kMedianOfMediansThreshold;
            EXPECT_LE(count.load(), bounded ? (n == 0 ? 0 : n - 1) + pivot_choice : ~u64{0}) << what;
        }
    }
}

// Under a caller's comparator adversarial pivots stay linearithmic, and a comparison that
// fails anywhere leaves a permutation.
TYPED_TEST(ComparisonSort, AdversarialAndFailingComparators) {
    for (std::size_t n : {100, 1000, 20'000}) expect_adversary_bounded<TypeParam>(UnstableSort, n, 2.0);
    expect_permutation_when_interrupted<TypeParam>(UnstableSort);
    expect_permutation_when_interrupted<TypeParam>(InsertionSort);
}

TYPED_TEST(ParallelQuicksortTest, AdversarialAndFailingComparators) {
    for (std::size_t n : {1000, 5000, 50'000}) expect_adversary_bounded<TypeParam>(ParallelQuicksort, n, 2.0);
    expect_permutation_when_interrupted<TypeParam>(ParallelQuicksort);
}

// The NaN gate: wherever the NaN sits, the call fails with the comparator's message before
// anything moves.
TEST(ComparisonSortNaN, PanicsBeforeAnythingMoves) {
    expect_nan_panics([](f64* v, std::size_t n) { comparison_sort<F64Traits>(v, n); });
    expect_nan_panics([](f64* v, std::size_t n) { unstable_sort<F64Traits>(v, n); });
}

TEST(ParallelQuicksortNaN, PanicsBeforeAnythingMoves) {
    expect_nan_panics([](f64* v, std::size_t n) { parallel_quicksort<F64Traits>(v, n); });
}

}  // namespace
