// The kernel tables of every instruction set this processor runs (the scalar one always),
// against plain reference results: every length up to 600, the lengths around the vector,
// block and network sizes above, on named patterns (both zeros, infinities and subnormals
// among them). An instruction set the processor lacks is reported as skipped, with the
// reason.
#include <gtest/gtest.h>

#include "simd/kernels.hpp"
#include "simd/small_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

std::vector<std::size_t> kernel_lengths() {
    std::vector<std::size_t> l(601);
    std::iota(l.begin(), l.end(), std::size_t{0});
    for (std::size_t base : {1024, 2048, 4096}) {
        for (std::size_t d = 0; d < 18; ++d) l.push_back(base - 9 + d);
    }
    return l;
}

// Runs check(kernels, set) on the kernels of one instruction set, or skips with the reason
// the processor gave.
template <class T, class Check>
void on_isa(simd::Isa isa, Check check) {
    const char* why_not = nullptr;
    const simd::KernelSet* set = simd::kernels_for(isa, &why_not);
    if (set == nullptr) GTEST_SKIP() << why_not;
    check(set->template of<T>(), *set);
}

// Partition in both modes, around an element of the slice: the passing elements must come
// first, all of them, and nothing may be lost.
template <class T>
void check_partition(const simd::Kernels<T>& k, const simd::KernelSet&) {
    std::mt19937_64 rng(5);
    for (std::size_t n : kernel_lengths()) {
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
}

// Networks and short sorts at every length they take (the short sort keeps non-descending
// input bit for bit and reverses strictly descending input), and the scans against their
// plain definitions.
template <class T>
void check_networks_and_scans(const simd::Kernels<T>& k, const simd::KernelSet& set) {
    ASSERT_GE(k.network_max, simd::kSmallSortMax);
    ASSERT_LE(k.network_max, simd::kNetworkMax);
    auto same_bits = [](const std::vector<T>& a, auto b_begin) {
        return std::equal(a.begin(), a.end(), b_begin, [](T x, T y) { return std::bit_cast<u64>(x) == std::bit_cast<u64>(y); });
    };
    for (std::size_t n = 0; n <= k.network_max; ++n) {
        for (const std::string& p : pattern_names()) {
            for (u64 seed = 0; seed < 4; ++seed) {
                const std::vector<T> in = make_pattern<T>(p, n, seed);
                for (auto sort : {k.sort_network, k.sort_short}) {
                    const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) { sort(v, m); });
                    ASSERT_TRUE(sorted_permutation(in, out)) << p << ", n = " << n;
                }
            }
        }
        std::vector<T> ascending = make_pattern<T>("few_distinct", n, 5);
        std::stable_sort(ascending.begin(), ascending.end(), [](T a, T b) { return a < b; });
        ASSERT_TRUE(same_bits(sorted_with_guards(ascending, k.sort_short), ascending.begin())) << "n = " << n;
        std::vector<T> descending(n);
        for (std::size_t i = 0; i < n; ++i) descending[i] = rank_value<T>(n - i);
        ASSERT_TRUE(same_bits(sorted_with_guards(descending, k.sort_short), descending.rbegin())) << "n = " << n;
    }
    for (std::size_t n : kernel_lengths()) {
        if (n > 700 && n % 3 != 0) continue;
        for (const std::string& p : pattern_names()) {
            std::vector<T> v = make_pattern<T>(p, n, 9);
            auto strictly_descending = [&] {
                for (std::size_t i = 1; i < n; ++i) if (!(v[i] < v[i - 1])) return false;
                return true;
            };
            ASSERT_EQ(k.is_non_descending(v.data(), n), std::is_sorted(v.begin(), v.end())) << p << ", n = " << n;
            ASSERT_EQ(k.non_descending_prefix(v.data(), n),
                      static_cast<std::size_t>(std::is_sorted_until(v.begin(), v.end()) - v.begin()))
                << p << ", n = " << n;
            ASSERT_EQ(k.is_strictly_descending(v.data(), n), strictly_descending()) << p << ", n = " << n;
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

template <class Traits>
class SimdKernels : public ::testing::Test {};
TYPED_TEST_SUITE(SimdKernels, ElementTraits);

TYPED_TEST(SimdKernels, ScalarPartition) {
    on_isa<typename TypeParam::value_type>(simd::Isa::kScalar, [](auto& k, auto& set) { check_partition(k, set); });
}
TYPED_TEST(SimdKernels, ScalarNetworksAndScans) {
    on_isa<typename TypeParam::value_type>(simd::Isa::kScalar, [](auto& k, auto& set) { check_networks_and_scans(k, set); });
}
TYPED_TEST(SimdKernels, Avx2Partition) {
    on_isa<typename TypeParam::value_type>(simd::Isa::kAvx2, [](auto& k, auto& set) { check_partition(k, set); });
}
TYPED_TEST(SimdKernels, Avx2NetworksAndScans) {
    on_isa<typename TypeParam::value_type>(simd::Isa::kAvx2, [](auto& k, auto& set) { check_networks_and_scans(k, set); });
}
TYPED_TEST(SimdKernels, Avx512Partition) {
    on_isa<typename TypeParam::value_type>(simd::Isa::kAvx512, [](auto& k, auto& set) { check_partition(k, set); });
}
TYPED_TEST(SimdKernels, Avx512NetworksAndScans) {
    on_isa<typename TypeParam::value_type>(simd::Isa::kAvx512, [](auto& k, auto& set) { check_networks_and_scans(k, set); });
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

// Every 0/1 input of up to 16 elements: by the 0-1 principle this proves each of the scalar
// small sort's networks.
TEST(ScalarNetworks, SortEveryZeroOneInput) {
    for (std::size_t n = 2; n <= 16; ++n) {
        for (u64 bits = 0; bits < (u64{1} << n); ++bits) {
            i64 v[16];
            for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<i64>((bits >> i) & 1);
            simd::small_sort<I64Traits>(v, n);
            ASSERT_TRUE(std::is_sorted(v, v + n)) << "n = " << n << ", input bits " << bits;
            ASSERT_EQ(std::count(v, v + n, 1), std::popcount(bits)) << "n = " << n << ", input bits " << bits;
        }
    }
}

}  // namespace

// The kernels' templates on an eight-lane vector made of plain arrays: the AVX-512 code
// paths (eight lanes, no 4 x 4 transpose, compressing split stores) run on any processor.
// Its operations stay out of line: inlined into the unrolled networks they make a function
// that takes the compiler many minutes under the sanitizers.
namespace tamarind::simd {
namespace {

template <class Elem>
struct EmulatedOps {
    using T = Elem;
    static constexpr std::size_t N = 8;
    static constexpr std::size_t kPartitionUnroll = 2;
    static constexpr bool kCanTranspose4 = false;
    struct V { T lane[N]; };
    template <class F>
    static V map(F f) { V r; for (std::size_t i = 0; i < N; ++i) r.lane[i] = f(i); return r; }
    template <class F>
    static unsigned mask_of(F f) { unsigned m = 0; for (std::size_t i = 0; i < N; ++i) m |= unsigned{f(i)} << i; return m; }
    static bool scalar_less(T a, T b) { return a < b; }
    [[gnu::noinline]] static V load(const T* p) { return map([&](std::size_t i) { return p[i]; }); }
    [[gnu::noinline]] static void store(T* p, V x) { for (std::size_t i = 0; i < N; ++i) p[i] = x.lane[i]; }
    [[gnu::noinline]] static V set1(T t) { return map([&](std::size_t) { return t; }); }
    [[gnu::noinline]] static V load_padded(const T* p, std::size_t count) {
        const T pad = std::is_same_v<T, f64> ? std::numeric_limits<T>::infinity() : std::numeric_limits<T>::max();
        return map([&](std::size_t i) { return i < count ? p[i] : pad; });
    }
    [[gnu::noinline]] static void store_first(T* p, V x, std::size_t count) { for (std::size_t i = 0; i < count; ++i) p[i] = x.lane[i]; }
    [[gnu::noinline]] static unsigned less_mask(V x, V y) { return mask_of([&](std::size_t i) { return x.lane[i] < y.lane[i]; }); }
    [[gnu::noinline]] static unsigned not_greater_mask(V x, V y) { return mask_of([&](std::size_t i) { return !(y.lane[i] < x.lane[i]); }); }
    [[gnu::noinline]] static void store_split(T* left, T* right_end, V x, unsigned mask, std::size_t nl) {
        T* right = right_end - (N - nl);
        for (std::size_t i = 0; i < N; ++i) *(((mask >> i) & 1) ? left++ : right++) = x.lane[i];
    }
    [[gnu::noinline]] static V min(V a, V b) { return map([&](std::size_t i) { return a.lane[i] < b.lane[i] ? a.lane[i] : b.lane[i]; }); }
    [[gnu::noinline]] static V max(V a, V b) { return map([&](std::size_t i) { return a.lane[i] > b.lane[i] ? a.lane[i] : b.lane[i]; }); }
    [[gnu::noinline]] static V reverse(V x) { return map([&](std::size_t i) { return x.lane[N - 1 - i]; }); }
    template <unsigned J>
    [[gnu::noinline]] static V partner(V x) { return map([&](std::size_t i) { return x.lane[i ^ J]; }); }
    template <unsigned M>
    [[gnu::noinline]] static V blend(V a, V b) { return map([&](std::size_t i) { return ((M >> i) & 1) ? b.lane[i] : a.lane[i]; }); }
};

#include "simd/kernel_templates.hpp"

bool emulated_has_nan(const f64* v, std::size_t n) {
    return std::any_of(v, v + n, [](f64 x) { return x != x; });
}

const KernelSet kEmulatedKernels = {Isa::kAvx512, "eight emulated lanes", kernels_of<EmulatedOps<f64>>(),
                                    kernels_of<EmulatedOps<i64>>(), kernels_of<EmulatedOps<u64>>(), &emulated_has_nan};

TYPED_TEST(SimdKernels, EightEmulatedLanes) {
    using T = typename TypeParam::value_type;
    check_partition(kEmulatedKernels.of<T>(), kEmulatedKernels);
    check_networks_and_scans(kEmulatedKernels.of<T>(), kEmulatedKernels);
}

}  // namespace
}  // namespace tamarind::simd
