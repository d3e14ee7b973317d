// The kernel tables of every instruction set this processor runs (the scalar one always),
// against plain reference results: every length up to 600 and those around the block and
// network sizes above, on named patterns. And which table the features the environment turns
// off leave in use. Both vector tables also run on an emulated AVX-512 processor
// (EmulatedKernels), whatever this one runs.
#include <gtest/gtest.h>

#include "partition/multiway_partition.hpp"
#include "runs/verge_sort_heuristic.hpp"
#include "simd/cpu.hpp"
#include "simd/kernels.hpp"
#include "simd/small_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

std::vector<std::size_t> kernel_lengths() {
    std::vector<std::size_t> l(601);
    std::iota(l.begin(), l.end(), std::size_t{0});
    for (std::size_t base : {1024, 2048, 4096})
        for (std::size_t d = 0; d < 18; ++d) l.push_back(base - 9 + d);
    return l;
}

// Partition in both modes, around an element of the slice: the passing elements must come
// first, all of them, and nothing may be lost.
template <class T>
void check_partition(const simd::Kernels<T>& k) {
    std::mt19937_64 rng(5);
    for (std::size_t n : kernel_lengths())
        for (const std::string& p : pattern_names()) {
            const std::vector<T> in = make_pattern<T>(p, n, 3);
            const T pivot = n == 0 ? T(0) : in[rng() % n];
            for (bool or_equal : {false, true}) {
                auto passes = [&](T x) { return or_equal ? !(pivot < x) : x < pivot; };
                std::size_t got = 0;
                const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) {
                    got = (or_equal ? k.partition_not_greater : k.partition_less)(v, m, pivot);
                });
                const auto want = static_cast<std::size_t>(std::count_if(in.begin(), in.end(), passes));
                ASSERT_EQ(got, want) << p << ", n = " << n << ", or_equal " << or_equal;
                ASSERT_TRUE(std::all_of(out.begin(), out.begin() + got, passes)) << p << ", n = " << n;
                ASSERT_TRUE(std::none_of(out.begin() + got, out.end(), passes)) << p << ", n = " << n;
                ASSERT_EQ(sorted_bits(in), sorted_bits(out)) << "not a permutation, " << p << ", n = " << n;
            }
        }
}

// Networks and short sorts at every length they take (the short sort keeps non-descending
// input bit for bit and reverses strictly descending input), and the scans against their
// plain definitions.
template <class T>
void check_networks_and_scans(const simd::Kernels<T>& k, const simd::KernelSet& set) {
    ASSERT_TRUE(simd::kSmallSortMax <= k.short_sort_base_case && k.short_sort_base_case <= k.network_max &&
                k.network_max <= simd::kNetworkMax);
    for (std::size_t n = 0; n <= k.network_max; ++n) {
        for (const std::string& p : pattern_names())
            for (u64 seed = 0; seed < 4; ++seed) {
                const std::vector<T> in = make_pattern<T>(p, n, seed);
                for (auto sort : {k.sort_network, k.sort_short})
                    ASSERT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort))) << p << ", n = " << n;
            }
        const auto [ascending, descending] = presorted_inputs<T>(n);
        ASSERT_TRUE(same_bits(sorted_with_guards(ascending, k.sort_short), ascending.begin())) << "n = " << n;
        ASSERT_TRUE(same_bits(sorted_with_guards(descending, k.sort_short), descending.rbegin())) << "n = " << n;
    }
    for (std::size_t n : kernel_lengths()) {
        if (n > 700 && n % 3 != 0) continue;
        for (const std::string& p : pattern_names()) {
            std::vector<T> v = make_pattern<T>(p, n, 9);
            const bool strictly_descending = std::adjacent_find(v.begin(), v.end(), [](T a, T b) { return !(b < a); }) == v.end();
            ASSERT_EQ(k.is_non_descending(v.data(), n), std::is_sorted(v.begin(), v.end())) << p << ", n = " << n;
            ASSERT_EQ(k.non_descending_prefix(v.data(), n),
                      static_cast<std::size_t>(std::is_sorted_until(v.begin(), v.end()) - v.begin()))
                << p << ", n = " << n;
            ASSERT_EQ(k.is_strictly_descending(v.data(), n), strictly_descending) << p << ", n = " << n;
            if constexpr (std::is_same_v<T, f64>) {
                ASSERT_FALSE(set.has_nan(v.data(), n)) << p << ", n = " << n;
                if (n > 0) {
                    v[(n * 7) / 11] = n % 2 ? kPosNaN : kNegNaN;
                    ASSERT_TRUE(set.has_nan(v.data(), n)) << p << ", n = " << n;
                }
            }
        }
    }
}

// The run scans against pair-by-pair scans under the order worked out from the bits
// (reference_key): runs up, down and flat, each with one value put in at every position
// (NaNs of both signs and both zeros among them for f64), scanned from every start
// forward, and backward from every end down to limits around the block sizes. The same
// through run detection's scans, which take the kernels from kBlockScanMin elements and
// compare pair by pair below.
template <class T>
void check_run_scans(const simd::RunScans<T>& scans) {
    using simd::PairTest;
    using Traits = simd::run_order_of<T>;
    using Scan = std::size_t (*)(const simd::RunScans<T>&, const T*, std::size_t, std::size_t);
    const Scan ends[] = {detail::ascending_end<Traits>, detail::descending_end<Traits>, detail::plateau_end<Traits>};
    const Scan starts[] = {detail::ascending_start<Traits>, detail::descending_start<Traits>,
                           detail::plateau_start<Traits>};
    const std::size_t n = 150;
    using L = std::numeric_limits<T>;
    std::vector<T> breaks = {L::min(), L::max(), rank_value<T>(3)}, pool = {L::min(), L::max()};
    for (u64 r = 0; r < 8; ++r) pool.push_back(rank_value<T>(r));
    T flat_value = rank_value<T>(5);
    if constexpr (std::is_same_v<T, f64>) {
        breaks = {kNegNaN, kPosNaN, -0.0, 0.0, -7.5};
        pool = {kNegNaN, -L::infinity(), -2.5, -0.0, -0.0, 0.0, 0.0, 0.0, 1.0, 3.0, kPosNaN};
        flat_value = 0.0;
    }
    auto le = [](T a, T b) { return reference_key(a) <= reference_key(b); };
    auto holds = [&](PairTest t, T a, T b) {
        return t == PairTest::kAscending    ? le(a, b)
               : t == PairTest::kDescending ? le(b, a)
                                            : std::bit_cast<u64>(a) == std::bit_cast<u64>(b);
    };
    std::mt19937_64 rng(17);
    std::vector<T> up(n);
    for (auto& x : up) x = pool[rng() % pool.size()];
    up = in_reference_order(up);
    const std::vector<T> down(up.rbegin(), up.rend());
    for (std::size_t at = 0; at < n; ++at)
        for (T b : breaks)
            for (PairTest t : {PairTest::kAscending, PairTest::kDescending, PairTest::kEqual}) {
                std::vector<T> v = t == PairTest::kAscending ? up : t == PairTest::kDescending ? down : std::vector<T>(n, flat_value);
                v[at] = b;
                // fails[i]: the pair (v[i - 1], v[i]) fails; forward[k]: the answer from k.
                std::vector<std::size_t> forward(n), last_fail(n);
                forward[n - 1] = n - 1;
                for (std::size_t k = n - 1; k-- > 0;) forward[k] = holds(t, v[k], v[k + 1]) ? forward[k + 1] : k;
                for (std::size_t k = 0; k < n; ++k)
                    last_fail[k] = k == 0 || !holds(t, v[k - 1], v[k]) ? k : last_fail[k - 1];
                const auto ti = static_cast<std::size_t>(t);
                for (std::size_t k = 0; k < n; ++k) {
                    // The kernel's answer, and run detection's (one past the run's end).
                    ASSERT_EQ(std::make_pair(scans.forward[ti](v.data(), k, n), ends[ti](scans, v.data(), k, n)),
                              std::make_pair(forward[k], forward[k] + 1))
                        << "test " << ti << ", put in at " << at << ", from " << k;
                    for (std::size_t below : {k, k / 2, std::size_t{1}, std::size_t{8}, std::size_t{9}, std::size_t{32},
                                              std::size_t{33}, std::size_t{41}}) {
                        const std::size_t s = k - std::min(k, below), want = std::max(s, last_fail[k]);
                        ASSERT_EQ(std::make_pair(scans.backward[ti](v.data(), s, k), starts[ti](scans, v.data(), s, k)),
                                  std::make_pair(want, want))
                            << "test " << ti << ", put in at " << at << ", from " << k << " down to " << s;
                    }
                }
            }
}

// The multi-way partition's classification against counting splitters below each element
// (numpy_order_key), over values with NaNs of both signs, both zeros and the extremes, and
// splitters drawn from them so that ties abound, at every count of splitters it takes.
template <class T>
void check_classify(simd::ClassifyKernel<T> classify) {
    using L = std::numeric_limits<T>;
    std::vector<T> pool = {L::lowest(), L::max(), T(0), T(1), T(-1), T(2), T(3)};
    if constexpr (std::is_same_v<T, f64>)
        pool.insert(pool.end(), {-0.0, kPosNaN, kNegNaN, std::bit_cast<f64>(0x7FF0000000000001ULL), -L::infinity(), L::infinity(), L::denorm_min()});
    std::mt19937_64 rng(23);
    for (std::size_t n : kernel_lengths()) {
        if (n > 100 && n % 7 != 0) continue;
        std::vector<T> v(n);
        for (T& x : v) x = rng() % 4 ? pool[rng() % pool.size()] : rank_value<T>(rng() % 1000);
        const std::size_t k = 1 + n % simd::kClassifyMax;
        std::vector<u64> keys(k);
        for (u64& key : keys) key = numpy_order_key(n > 0 && rng() % 2 ? v[rng() % n] : pool[rng() % pool.size()]);
        std::sort(keys.begin(), keys.end());
        i64 splitters[simd::kClassifyMax + 1];
        std::fill(std::begin(splitters), std::end(splitters), L::max());
        for (std::size_t j = 0; j < k; ++j) splitters[j] = static_cast<i64>(keys[j] ^ kSignBit);
        std::vector<unsigned char> out(n + 8, 0x5A);
        classify(v.data(), n, splitters, k, out.data());
        for (std::size_t i = 0; i < n; ++i) {
            const u64 key = numpy_order_key(v[i]);
            const auto below = std::count_if(keys.begin(), keys.end(), [&](u64 s) { return s < key; });
            const bool tie = std::find(keys.begin(), keys.end(), key) != keys.end();
            ASSERT_EQ(out[i], tie ? simd::kClassifyTie : below) << "n = " << n << ", k = " << k << ", at " << i;
        }
        ASSERT_TRUE(std::all_of(out.begin() + n, out.end(), [](unsigned char c) { return c == 0x5A; })) << "n = " << n;
    }
}

// The sorts ask best_kernels only, so it must always answer: the widest table the processor
// may use, the scalar one when it may use none.
TEST(KernelTables, BestIsTheWidestUsableAndNeverNull) {
    const char* why_not = "unset";
    EXPECT_NE(simd::kernels_for(simd::Isa::kScalar, &why_not), nullptr);
    EXPECT_EQ(why_not, nullptr);
    const simd::Isa want = simd::cpu_supports(simd::Isa::kAvx512) ? simd::Isa::kAvx512
                           : simd::cpu_supports(simd::Isa::kAvx2) ? simd::Isa::kAvx2
                                                                    : simd::Isa::kScalar;
    ASSERT_NE(simd::best_kernels(), nullptr);
    EXPECT_EQ(simd::best_kernels()->isa, want);
}

// The list of features the environment may turn off: which names cap the vector code where,
// and that a name nobody knows is reported (cut short to fit the buffer) and otherwise left alone.
TEST(DisableCpuFeatures, AppliesKnownNamesAndReportsTheRest) {
    struct Case { const char* list; bool avx2_off, avx512_off; unsigned unknown_count; const char* unknown; };
    const Case cases[] = {
        {nullptr, false, false, 0, ""}, {"", false, false, 0, ""}, {" ,, ", false, false, 0, ""},
        {"AVX512F", false, true, 0, ""}, {"avx512f", false, true, 0, ""}, {"AVX2", true, true, 0, ""},
        {"AVX512F AVX2", true, true, 0, ""}, {",AVX2,,AVX512F,", true, true, 0, ""},
        // A name that only starts like a known one is not that one.
        {"AVX512", false, false, 1, "'AVX512'"}, {"AVX2x", false, false, 1, "'AVX2x'"},
        {"SSE4 AVX512F, NEON", false, true, 2, "'SSE4', 'NEON'"},
        {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", false, false, 1,
         "'AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list ? c.list : "(unset)");
        simd::CpuFeatures f, without_avx512;
        f.avx2_reported = f.avx512_reported = without_avx512.avx2_reported = true;
        char unknown[64];
        EXPECT_EQ(simd::disable_cpu_features(f, c.list, unknown, sizeof unknown), c.unknown_count);
        EXPECT_EQ(std::string(unknown), c.unknown);
        EXPECT_EQ(f.avx2_disabled, c.avx2_off);
        EXPECT_EQ(f.avx512_disabled, c.avx512_off);
        EXPECT_EQ(f.usable(simd::Isa::kAvx2), !c.avx2_off);
        EXPECT_EQ(f.usable(simd::Isa::kAvx512), !c.avx512_off);
        // A processor without a feature keeps it unusable whatever the list says.
        simd::disable_cpu_features(without_avx512, c.list, unknown, sizeof unknown);
        EXPECT_EQ(without_avx512.usable(simd::Isa::kAvx2), !c.avx2_off);
        EXPECT_FALSE(without_avx512.usable(simd::Isa::kAvx512));
    }
}

// Every 0/1 input of up to 16 elements: by the 0-1 principle this proves each of the scalar
// small sort's networks.
TEST(ScalarNetworks, SortEveryZeroOneInput) {
    for (std::size_t n = 2; n <= 16; ++n)
        for (u64 bits = 0; bits < (u64{1} << n); ++bits) {
            i64 v[16];
            for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<i64>((bits >> i) & 1);
            simd::small_sort<I64Traits>(v, n);
            ASSERT_TRUE(std::is_sorted(v, v + n) && std::count(v, v + n, 1) == std::popcount(bits)) << "n = " << n << ", bits " << bits;
        }
}

// Every kernel table this processor runs (the scalar one always); a table the processor
// lacks is reported as skipped, with the reason.
struct Table { const char* name; simd::Isa isa; };

class SimdKernels : public ::testing::TestWithParam<Table> {
protected:
    void SetUp() override {
        const char* why_not = nullptr;
        set_ = simd::kernels_for(GetParam().isa, &why_not);
        if (set_ == nullptr) GTEST_SKIP() << why_not;
    }
    template <class Check>
    void on_each_type(Check check) { check(set_->of<f64>()), check(set_->of<i64>()), check(set_->of<u64>()); }
    const simd::KernelSet* set_ = nullptr;
};

TEST_P(SimdKernels, Partition) { on_each_type([](const auto& k) { check_partition(k); }); }
TEST_P(SimdKernels, NetworksAndScans) { on_each_type([&](const auto& k) { check_networks_and_scans(k, *set_); }); }
TEST_P(SimdKernels, RunScans) { on_each_type([](const auto& k) { check_run_scans(k.run_scans); }); }
TEST_P(SimdKernels, Classify) {
    if (set_->classify_f64 == nullptr) GTEST_SKIP() << "no classification kernel in this table";
    check_classify(set_->classify_f64);
    check_classify(set_->classify_i64);
}

INSTANTIATE_TEST_SUITE_P(Tables, SimdKernels,
                         ::testing::Values(Table{"Scalar", simd::Isa::kScalar}, Table{"Avx2", simd::Isa::kAvx2},
                                           Table{"Avx512", simd::Isa::kAvx512}),
                         [](const ::testing::TestParamInfo<Table>& info) { return std::string(info.param.name); });

}  // namespace
