// The radix sorts on their own: LSD, DLSD, MSD, voracious, rollercoaster and sampled, the prefix
// repair, and their parts (histograms, the stable scatter, the in-place bucket swap), each one
// below and at each of its bounds. The engine runs them on integers only (float64 as ordered
// integers, traits/float_keys.hpp), so only the integer forms are tested.
#include <gtest/gtest.h>

#include "radix/dlsd_sort.hpp"
#include "radix/histograms.hpp"
#include "radix/lsd_sort.hpp"
#include "radix/msd_sort.hpp"
#include "radix/prefix_insertion_sort.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/parallel_sampled_msd_sort.hpp"
#include "radix/sampled_msd_sort.hpp"
#include "radix/ska_sort.hpp"
#include "radix/voracious_sort.hpp"
#include "sort_test_support.hpp"
#include "traits/float_keys.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class RadixSorts : public ::testing::Test {};
using IntegerTypes = ::testing::Types<i64, u64>;
TYPED_TEST_SUITE(RadixSorts, IntegerTypes);

// Short lengths, then each threshold of the radix sorts and one past it.
std::vector<std::size_t> lengths() {
    std::vector<std::size_t> l = {0, 1, 2, 512, 513, 1000, kI64SmallNonNegativeVergeMin - 1};
    for (std::size_t t : {kInsertionSortMax, kRadixComparisonMax, kDlsdBucketComparisonMax,
                          kRollercoasterSmallComparisonMax, kI64SmallNonNegativeVergeMin, kDlsdBucketVoraciousMax,
                          kVoraciousScatterMax, kSampledMsdMin})
        l.insert(l.end(), {t, t + 1});
    return l;
}

constexpr Params kBytes{0, 8, 0, 8, 256};

// Every radix sort, as a function of (pointer, length).
template <class Traits, class T = typename Traits::value_type>
std::vector<std::pair<const char*, std::function<void(T*, std::size_t)>>> sorts() {
    return {
        {"lsd_sort", [](T* v, std::size_t n) { if (n) lsd_sort<Traits>(v, n, kBytes); }},
        {"dlsd_sort", [](T* v, std::size_t n) { dlsd_sort<Traits>(v, n); }},
        {"voracious_sort", [](T* v, std::size_t n) { voracious_sort<Traits>(v, n, kBytes); }},
        {"rollercoaster_sort", [](T* v, std::size_t n) { rollercoaster_sort<Traits>(v, n); }},
        {"sampled_msd_sort", [](T* v, std::size_t n) { sampled_msd_sort<Traits>(v, n); }},
    };
}

// A one-byte digit's histogram and prefix sums: heads sums[0, 256), tails sums[1, 257).
struct Buckets { std::vector<u64> sums, heads, tails; };

template <class Traits>
Buckets buckets_of(const typename Traits::value_type* v, std::size_t n, Digit d) {
    std::vector<u64> counts(256);
    Buckets b{std::vector<u64>(257), {}, {}};
    digit_histogram<Traits>(v, n, counts.data(), 256, d);
    prefix_sums_into(counts.data(), 256, b.sums.data());
    b.heads.assign(b.sums.begin(), b.sums.end() - 1);
    b.tails.assign(b.sums.begin() + 1, b.sums.end());
    return b;
}

// Shapes the patterns lack, each from its own seed: keys that differ only in their low bits
// next to the integer extremes (counted, then rebuilt from their keys: every value must come
// back); buckets of one key (written from it) beside one of many keys whose few elements lie
// spread over the others' regions; and buckets above rollercoaster's split bound whose keys
// share digits, all equal or first differing in a lower byte (the shared levels are skipped).
template <class T>
std::vector<std::pair<std::string, std::vector<T>>> shaped_inputs() {
    std::vector<std::pair<std::string, std::vector<T>>> inputs;
    auto add = [&](const std::string& what, std::size_t n, u64 seed, auto bits) {
        std::mt19937_64 rng(seed);
        std::vector<T> v(n);
        for (auto& x : v) x = std::bit_cast<T>(static_cast<u64>(bits(rng)));
        inputs.emplace_back(what, v);
    };
    for (u64 first : {u64{0}, kSignBit})
        add("cluster from " + std::to_string(first), 5000, first, [&](auto& rng) { return first + rng() % 600; });
    for (u64 last : {~u64{0}, kSignBit - 1})
        add("cluster below " + std::to_string(last), 5000, last, [&](auto& rng) { return last - rng() % 600; });
    add("buckets of one key", 40000, 11,
        [](auto& rng) { return rng() % 20 ? (rng() % 16) << 58 : (u64{7} << 58) | (rng() >> 8); });
    for (u64 low : {0ULL, 0xFFULL, 0x01'0000ULL, 0xFF'00FF'0000ULL})
        add("shared digits above " + std::to_string(low), 5 * kRollercoasterSmallMax, 7,
            [&](auto& rng) { return 0xC123'4500'0000'0000ULL | (rng() % 2 ? low : 0); });
    // Keys a sample takes to share their top bytes (or to be narrow), with two off the
    // sample's stride that differ higher up (or are wider): the first step's histogram,
    // counted on the level the sample points to, is the wrong one.
    const std::pair<u64, u64> misjudged[] = {{0xC123'4500'0000'0000ULL, 0xC1FF'0000'0000'0000ULL},
                                             {0, u64{1} << 50}};
    // A year and a month of nanosecond timestamps: the first step's byte starts at the top
    // bit in which keys differ (bit 54 and bit 51 from 2026), which a byte boundary aligned
    // to the widest key cuts; the year from just below 2^56 differs in the bits above too.
    constexpr u64 kDayNs = 86'400ULL * 1'000'000'000;
    const std::pair<u64, u64> spans[] = {{u64{1'767'225'600'000'000'000}, 365 * kDayNs},
                                         {u64{1'767'225'600'000'000'000}, 30 * kDayNs},
                                         {(u64{1} << 56) - 180 * kDayNs, 365 * kDayNs}};
    for (const auto& [from, span] : spans)
        add("timestamps from " + std::to_string(from) + " over " + std::to_string(span), 5 * kRollercoasterSmallMax, 17,
            [&](auto& rng) { return from + rng() % span; });
    for (const auto& [shared, outlier] : misjudged) {
        add("sample misses " + std::to_string(outlier), 5 * kRollercoasterSmallMax, 13,
            [&](auto& rng) { return shared | (rng() >> 24); });
        std::vector<T>& v = inputs.back().second;
        v[1] = v[v.size() - 1] = std::bit_cast<T>(outlier);
    }
    return inputs;
}

}  // namespace

TYPED_TEST(RadixSorts, SortEveryPatternAtEveryThreshold) {
    using T = TypeParam;
    using Traits = typename TraitsOf<T>::type;
    for (const auto& [name, sort] : sorts<Traits>()) {
        for (const std::string& pattern : pattern_names())
            for (std::size_t n : lengths()) {
                if (kSanitized && n > 5000 && pattern != "random") continue;
                const std::vector<T> in = make_pattern<T>(pattern, n, 1);
                ASSERT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort), n > kRollercoasterSmallComparisonMax))
                    << name << " " << pattern << " n=" << n;
            }
        for (const auto& [what, in] : shaped_inputs<T>())
            ASSERT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort), true)) << name << " " << what;
    }
}

TEST(DlsdSort, SharedOffsetBucketsAroundTheirBound) {
    // Radix buckets either side of the voracious bound, with a shared offset either side of
    // the LSD offset bound.
    for (u64 offset : {kDlsdBucketLsdOffsetMin / 2, kDlsdBucketLsdOffsetMin})
        for (std::size_t size : {kDlsdBucketVoraciousMax, kDlsdBucketVoraciousMax + 1}) {
            std::mt19937_64 rng(size + offset);
            std::vector<u64> v(size);
            for (auto& x : v) x = (u64{0xABCD} << 48) | (rng() >> (offset + 10));
            std::vector<u64> want = v;
            std::sort(want.begin(), want.end());
            dlsd_core<U64Traits>(v.data(), v.size(), Params{0, 8, offset - 8, 1, 256}, true);
            EXPECT_EQ(v, want) << offset << " " << size;
        }
}

// One group: `descending` strictly falling values (descending - 1 out-of-order elements),
// then `tail` larger ascending values, framed by other groups or by the slice ends.
TEST(PrefixInsertionSort, ThirtyThreeOutOfOrderElementsMakeABucket) {
    const u64 mask = ~0ULL << 32;
    const u64 g = u64{5} << 32;
    struct Case { std::size_t descending, tail; bool framed; bool bucket; };
    for (const Case c : {Case{33, 40, false, false}, {34, 32, false, true}, {34, 31, false, false},
                         {34, 32, true, true}, {33, 32, true, false}}) {
        std::vector<u64> v;
        if (c.framed) for (u64 i = 0; i < 50; ++i) v.push_back((u64{4} << 32) + i);
        const std::size_t start = v.size();
        for (std::size_t i = 0; i < c.descending; ++i) v.push_back(g + 1000 - i);
        for (std::size_t i = 0; i < c.tail; ++i) v.push_back(g + 2000 + i);
        const std::size_t end = v.size();
        if (c.framed) for (u64 i = 0; i < 50; ++i) v.push_back((u64{6} << 32) + i);
        const BucketList b = prefix_insertion_sort<U64Traits>(v.data(), v.size(), mask);
        if (c.bucket) {
            ASSERT_EQ(b.size(), 1u);
            EXPECT_EQ(b[0], std::make_pair(start, end)) << c.descending << "+" << c.tail;
            std::sort(v.begin() + static_cast<std::ptrdiff_t>(start), v.begin() + static_cast<std::ptrdiff_t>(end));
        } else {
            EXPECT_TRUE(b.empty()) << c.descending << "+" << c.tail;
        }
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
    }
}

// Floats whose top bits cluster, the sampled sort's own input (as ordered integers, with the
// spread the conversion finds, as the entries call it), and the shapes its sample misjudges:
// keys beyond every sampled one, one key or one index filling buckets past the in-cache
// bound, and every key the same. The parallel form runs on pools of one to three threads, in
// chunks of a seventh of the slice.
TEST(SampledMsdSort, ClusteredAndOutlyingKeys) {
    std::mt19937_64 rng(5);
    const std::size_t n = kSanitized ? kSampledMsdMin + 1 : 400000;
    std::normal_distribution<f64> normal;
    auto fill = [&](auto gen) { std::vector<f64> v(n); for (auto& x : v) x = gen(); return v; };
    const std::pair<const char*, std::vector<f64>> cases[] = {
        {"normal", fill([&] { return normal(rng); })},
        {"lognormal", fill([&] { return std::exp(normal(rng)); })},
        {"normal with outliers", fill([&] {
             const f64 far[] = {INFINITY, -INFINITY, kPosNaN, 1e300, -5e-324, 0.0, -0.0};
             return rng() % 1000 ? normal(rng) : far[rng() % 7];
         })},
        {"half at one key", fill([&] { return rng() % 2 ? 0.25 : normal(rng); })},
        {"one index", fill([&] { return rng() % 100000 ? 1.0 + static_cast<f64>(rng() % 1000000) * 0x1p-52 : 1e10; })},
        {"all equal", fill([] { return -3.5; })},
        {"two keys", fill([&] { return rng() % 2 ? 2.0 : -2.0; })},
    };
    for (const auto& [name, in] : cases) {
        for (std::size_t threads : {0, 1, 2, 3}) {
            std::vector<f64> v = in;
            u64 spread;
            {
                F64AsI64 ints(v.data(), n, spread);
                if (threads == 0) {
                    sampled_msd_sort<I64Traits>(ints.ints(), n, spread);
                } else {
                    pool::ThreadPool workers = make_pool(threads);
                    parallel_sampled_msd_sort<I64Traits>(ints.ints(), n, workers, n / 7, spread);
                }
            }
            EXPECT_TRUE(sorted_permutation(in, v, true)) << name << " on " << threads << " threads (0: the calling one)";
        }
    }
}

// Many buckets (one write stream) and few buckets (streams from both ends of each bucket),
// on odd and even lengths.
TEST(Histograms, ScatterIsStableAndLeavesHeadsAtBucketEnds) {
    std::mt19937_64 rng(7);
    for (u64 spread : {256, 3, 1})
        for (std::size_t n : {0, 3, 255, 256, 257, 5000, 5001}) {
            std::vector<u64> src(n);
            for (auto& x : src) x = ((rng() % spread) << 56) | (rng() >> 8);
            const Digit d{0xFFull << 56, 56};
            Buckets s = buckets_of<U64Traits>(src.data(), n, d);
            std::vector<u64> dst(n);
            scatter_by_digit<U64Traits>(src.data(), dst.data(), n, s.heads.data(), d, 256);
            EXPECT_EQ(s.heads, s.tails) << spread << " " << n;
            std::vector<u64> want = src;
            std::stable_sort(want.begin(), want.end(), [&](u64 a, u64 b) { return d.of(a) < d.of(b); });
            EXPECT_EQ(dst, want) << spread << " " << n;
        }
    std::vector<u64> wide = {0x1FF};
    std::vector<u64> counts(256);
    EXPECT_THROW(digit_histogram<U64Traits>(wide.data(), 1, counts.data(), 256, Digit{0x1FF, 0}), Panic);
}

// Every bucket holds exactly its own elements afterwards, and unwalked data is untouched.
TEST(SkaSwap, EachBucketHoldsExactlyItsElements) {
    for (const std::string pattern : {"random", "few_distinct", "sorted", "one_top_digit", "extremes"})
        for (std::size_t n : {1, 2, 100, 4099}) {
            std::vector<i64> v = make_pattern<i64>(pattern, n, 11);
            const std::vector<i64> in = v;
            const Digit d = top_aligned_digit(kBytes, 0);
            Buckets s = buckets_of<I64Traits>(v.data(), n, d);
            ska_swap<I64Traits>(v.data(), s.heads.data(), s.tails.data(), 256, d);
            EXPECT_EQ(sorted_bits(v), sorted_bits(in)) << pattern << " n=" << n;
            for (std::size_t b = 0; b < 256; ++b)
                for (u64 i = s.sums[b]; i < s.sums[b + 1]; ++i) ASSERT_EQ(d.of(I64Traits::to_key(v[i])), b) << pattern << " n=" << n;
            EXPECT_TRUE(pattern != "one_top_digit" || same_bits(v, in.begin())) << "a single bucket is never walked";
        }
}
