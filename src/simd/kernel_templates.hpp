// The kernels written once over a vector-operations type Ops, instantiated by each
// instruction set's translation unit with its own Ops. Included there inside the target
// region and inside an anonymous namespace (no include guard, no includes of its own), so
// every instruction set gets its own private copies compiled for its own target.
//
// Ops provides, for element type T and N lanes of vector type V:
//   kVectorRegisters, how many vectors the target's registers hold; kNetworkMax, the
//       longest slice its sorting network takes (at most kNetworkMax of kernels.hpp and
//       32 vectors);
//   load(p), store(p, x), set1(t);
//   load_padded(p, count): lanes from count on hold the greatest value of T;
//   store_first(p, x, count): writes lanes [0, count) only;
//   less_mask(x, y): bit i set when x[i] < y[i]; not_greater_mask(x, y): when !(y[i] < x[i]);
//   store_split(left, right_end, x, mask, nl): the nl lanes of x whose mask bit is set go
//       to left[0, nl), the others to right_end - (N - nl) .. right_end; writes may touch
//       left[0, N) and right_end[-N, 0) but put nothing else there than x's lanes;
//   min(a, b) = a < b ? a : b and max(a, b) = a > b ? a : b lane by lane (so with equal
//       lanes each returns b); optionally exchange(a, b), both at once, where equal lanes
//       cannot be told apart (integers) and one comparison serves both;
//   reverse(x); partner<J>(x): lane i gets lane i ^ J; blend<M>(a, b): lane i from b when
//       bit i of M is set;
//   kCanTranspose, and with it transpose(t): the N x N block of lanes in the N vectors
//       t[0, N) transposed in place (vector j then holds lane j of each, in order).
// and for the run scans, which work on the lanes' bits in run_order_of<T>, with lane
// tests held in a vector or a mask register (R):
//   load_bits(p), set1_bits(t): N elements as integer lanes;
//   bits_equal(x, y) -> R: lanes equal in bits; run_greater(x, y) -> R: lanes where x
//       comes after y in the run order;
//   lanes_and(r, s), lanes_or(r, s); all_set(r), none_set(r);
//   kRunQuickTest, and with it quick_not_greater(x, y) -> R and quick_suspect(y) -> R on
//       vectors from load: a cheaper test, whose set lanes are pairs in order wherever
//       quick_suspect(y) is clear (it may fail pairs that are in order).

// Compare-exchange of two vectors lane by lane: a gets the smaller, b the larger. With
// equal lanes the two trade places (min gives b's lane, max(b, a) gives a's), so no value
// is ever duplicated, not even -0.0 next to +0.0.
template <class Ops>
[[gnu::always_inline]] inline void exchange(typename Ops::V& a, typename Ops::V& b) {
    if constexpr (requires { Ops::exchange(a, b); }) {
        Ops::exchange(a, b);
    } else {
        const typename Ops::V lo = Ops::min(a, b);
        b = Ops::max(b, a);
        a = lo;
    }
}

// Lane i takes the larger of itself and its partner i ^ J when the two bits say so: in an
// ascending block (bit K of i clear) the upper lane of each pair, in a descending one the
// lower. Lane i computes min(own, partner) and its partner max(own, partner): for equal
// values they swap, so again nothing is duplicated.
template <class Ops, unsigned J, unsigned K>
constexpr unsigned lane_step_mask() {
    unsigned m = 0;
    for (unsigned i = 0; i < Ops::N; ++i) {
        if (((i & J) != 0) != ((i & K) != 0)) m |= 1u << i;
    }
    return m;
}

template <class Ops, unsigned J, unsigned K>
[[gnu::always_inline]] inline typename Ops::V lane_step(typename Ops::V x) {
    const typename Ops::V y = Ops::template partner<J>(x);
    return Ops::template blend<lane_step_mask<Ops, J, K>()>(Ops::min(x, y), Ops::max(x, y));
}

// Sorts the lanes of x ascending (bitonic).
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V sort_lanes(typename Ops::V x) {
    // K is the size of the blocks being made; K = 2N would mean "ascending everywhere",
    // which bit N of a lane index (always clear) gives as well.
    x = lane_step<Ops, 1, 2>(x);
    x = lane_step<Ops, 2, 4>(x);
    x = lane_step<Ops, 1, 4>(x);
    if constexpr (Ops::N == 8) {
        x = lane_step<Ops, 4, 8>(x);
        x = lane_step<Ops, 2, 8>(x);
        x = lane_step<Ops, 1, 8>(x);
    }
    return x;
}

// Sorts the lanes of a bitonic vector ascending (the last levels of a bitonic merge).
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V clean_lanes(typename Ops::V x) {
    constexpr unsigned kAscending = 2 * Ops::N;
    if constexpr (Ops::N == 8) x = lane_step<Ops, 4, kAscending>(x);
    x = lane_step<Ops, 2, kAscending>(x);
    x = lane_step<Ops, 1, kAscending>(x);
    return x;
}

// Calls f(std::integral_constant<std::size_t, I>) for I = 0 .. Count - 1, unrolled: the
// networks index their vectors with constants only, so that the vectors stay in registers.
template <std::size_t Count, class F>
[[gnu::always_inline]] inline void unroll(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
        (f(std::integral_constant<std::size_t, I>{}), ...);
    }(std::make_index_sequence<Count>{});
}

// The half-cleaners at vector distances D, D / 2, .. 1 within blocks of 2 * D vectors.
template <class Ops, std::size_t Count, std::size_t D>
[[gnu::always_inline]] inline void clean_vectors(typename Ops::V* a) {
    if constexpr (D >= 1) {
        unroll<Count>([&](auto i) __attribute__((always_inline)) {
            constexpr std::size_t I = decltype(i)::value;
            if constexpr ((I & D) == 0) exchange<Ops>(a[I], a[I + D]);
        });
        clean_vectors<Ops, Count, D / 2>(a);
    }
}

// Merges sorted blocks of w vectors pairwise, for w from `w` up to W / 2, leaving r[0, W)
// (W a power of two) sorted across all its lanes. Each merge is bitonic: the second block
// reversed makes the pair one bitonic sequence.
template <class Ops, std::size_t W, std::size_t w>
[[gnu::always_inline]] inline void merge_blocks(typename Ops::V* r) {
    using V = typename Ops::V;
    if constexpr (w < W) {
        unroll<W / (2 * w)>([&](auto block) __attribute__((always_inline)) {
            V* a = r + decltype(block)::value * 2 * w;
            V* c = a + w;
            // The first half-cleaner compares a[i] with the reversed c[w - 1 - i].
            unroll<w / 2>([&](auto i) __attribute__((always_inline)) {
                constexpr std::size_t I = decltype(i)::value;
                const V hi = Ops::reverse(c[w - 1 - I]);
                const V lo = Ops::reverse(c[I]);
                c[I] = hi;
                c[w - 1 - I] = lo;
            });
            if constexpr (w % 2 != 0) c[0] = Ops::reverse(c[0]);
            unroll<w>([&](auto i) __attribute__((always_inline)) { exchange<Ops>(a[i], c[i]); });
            // Both halves are now bitonic, every lane of a at most every lane of c.
            clean_vectors<Ops, 2 * w, w / 2>(a);
            unroll<2 * w>([&](auto i) __attribute__((always_inline)) { a[i] = clean_lanes<Ops>(a[i]); });
        });
        merge_blocks<Ops, W, 2 * w>(r);
    }
}

// Batcher's odd-even merge sort network on W inputs, as (lo, hi) index pairs.
template <std::size_t W>
struct ColumnNetwork {
    static constexpr std::size_t count() {
        std::size_t c = 0;
        for (std::size_t p = 1; p < W; p *= 2)
            for (std::size_t k = p; k >= 1; k /= 2)
                for (std::size_t j = k % p; j + k < W; j += 2 * k)
                    for (std::size_t i = 0; i < k && i + j + k < W; ++i)
                        if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) ++c;
        return c;
    }
    struct Pairs {
        unsigned char lo[count()];
        unsigned char hi[count()];
    };
    static constexpr Pairs pairs() {
        Pairs out{};
        std::size_t c = 0;
        for (std::size_t p = 1; p < W; p *= 2)
            for (std::size_t k = p; k >= 1; k /= 2)
                for (std::size_t j = k % p; j + k < W; j += 2 * k)
                    for (std::size_t i = 0; i < k && i + j + k < W; ++i)
                        if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) {
                            out.lo[c] = static_cast<unsigned char>(i + j);
                            out.hi[c] = static_cast<unsigned char>(i + j + k);
                            ++c;
                        }
        return out;
    }
    static constexpr Pairs kPairs = pairs();
};

// Sorts the W * N lanes of r[0, W) (W a power of two), each vector's lanes in order and
// the vectors in order.
//
// Where Ops can transpose N x N blocks and W >= N: the columns (lane j of every vector)
// are sorted by a network of whole-vector exchanges, the blocks transposed so that each
// column lies in W / N consecutive vectors, and the N columns merged. Otherwise every
// vector's lanes are sorted on their own and the vectors merged from one up. The columns
// save the lane sorts, whose exchanges each need a permute and a blend besides the min and
// max: 128 elements in 16 AVX-512 vectors on Zen 5, ns per element 0.84 to 0.64 (float64)
// and 0.78 to 0.62 (int64).
template <class Ops, std::size_t W>
[[gnu::always_inline]] inline void sort_vectors(typename Ops::V* r) {
    using V = typename Ops::V;
    constexpr std::size_t N = Ops::N;
    if constexpr (Ops::kCanTranspose && W >= N) {
        using Net = ColumnNetwork<W>;
        unroll<Net::count()>([&](auto e) __attribute__((always_inline)) {
            exchange<Ops>(r[Net::kPairs.lo[decltype(e)::value]], r[Net::kPairs.hi[decltype(e)::value]]);
        });
        V t[W];
        unroll<W>([&](auto i) __attribute__((always_inline)) { t[i] = r[i]; });
        unroll<W / N>([&](auto block) __attribute__((always_inline)) { Ops::transpose(t + N * decltype(block)::value); });
        // Vector j of the transposed block k holds rows N k .. N k + N - 1 of column j.
        constexpr std::size_t kLength = W / N;
        unroll<W>([&](auto i) __attribute__((always_inline)) {
            constexpr std::size_t column = decltype(i)::value / kLength;
            constexpr std::size_t k = decltype(i)::value % kLength;
            r[i] = t[N * k + column];
        });
        merge_blocks<Ops, W, kLength>(r);
    } else {
        unroll<W>([&](auto i) __attribute__((always_inline)) { r[i] = sort_lanes<Ops>(r[i]); });
        merge_blocks<Ops, W, 1>(r);
    }
}

// Vector i of v[0, n), its lanes from n on holding the greatest value; vectors wholly past
// the end are all padding, loaded through v itself.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V load_vector(const typename Ops::T* v, std::size_t n, std::size_t i) {
    const std::size_t at = i * Ops::N;
    return at + Ops::N <= n ? Ops::load(v + at) : at < n ? Ops::load_padded(v + at, n - at) : Ops::load_padded(v, 0);
}

// Stores the lanes of vector i that fall inside v[0, n).
template <class Ops>
[[gnu::always_inline]] inline void store_vector(typename Ops::T* v, std::size_t n, std::size_t i, typename Ops::V x) {
    const std::size_t at = i * Ops::N;
    if (at + Ops::N <= n) Ops::store(v + at, x);
    else if (at < n) Ops::store_first(v + at, x, n - at);
}

template <class Ops, std::size_t W>
void sort_padded(typename Ops::T* v, std::size_t n) {
    typename Ops::V r[W];
    unroll<W>([&](auto i) __attribute__((always_inline)) { r[i] = load_vector<Ops>(v, n, i); });
    sort_vectors<Ops, W>(r);
    unroll<W>([&](auto i) __attribute__((always_inline)) { store_vector<Ops>(v, n, i, r[i]); });
}

// Sorts v[0, n) for W = 32 vectors, more than the 16 registers hold: each half of 16 vectors
// is sorted in registers, then the two are merged bitonically through a buffer in the first
// level cache, the first half-cleaner pairing the halves' vectors and the rest of the merge
// staying inside each half (in registers again).
template <class Ops, std::size_t W>
void sort_padded_halves(typename Ops::T* v, std::size_t n) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t H = W / 2;
    constexpr std::size_t N = Ops::N;
    alignas(64) T sorted[W * N];
    unroll<2>([&](auto half) __attribute__((always_inline)) {
        constexpr std::size_t first = decltype(half)::value * H;
        V r[H];
        unroll<H>([&](auto i) __attribute__((always_inline)) { r[i] = load_vector<Ops>(v, n, first + i); });
        sort_vectors<Ops, H>(r);
        unroll<H>([&](auto i) __attribute__((always_inline)) { Ops::store(sorted + (first + i) * N, r[i]); });
    });
    // The upper half reversed makes the whole a bitonic sequence; after the compare-exchange
    // of vector i with upper vector i every lane below is at most every lane above, and each
    // half is bitonic.
    alignas(64) T merged[W * N];
    unroll<H>([&](auto i) __attribute__((always_inline)) {
        V a = Ops::load(sorted + i * N);
        V c = Ops::reverse(Ops::load(sorted + (W - 1 - i) * N));
        exchange<Ops>(a, c);
        Ops::store(merged + i * N, a);
        Ops::store(merged + (H + i) * N, c);
    });
    unroll<2>([&](auto half) __attribute__((always_inline)) {
        constexpr std::size_t first = decltype(half)::value * H;
        V r[H];
        unroll<H>([&](auto i) __attribute__((always_inline)) { r[i] = Ops::load(merged + (first + i) * N); });
        clean_vectors<Ops, H, H / 2>(r);
        unroll<H>([&](auto i) __attribute__((always_inline)) {
            store_vector<Ops>(v, n, first + i, clean_lanes<Ops>(r[i]));
        });
    });
}

// Sorts v[0, n), n <= Ops::kNetworkMax: the slice in the fewest vectors (a power of two),
// the lanes past n padded with the greatest value, which the network leaves at the end.
// 32 vectors stay in registers where there are 32 (AVX-512), else they go by halves.
template <class Ops>
void sort_network(typename Ops::T* v, std::size_t n) {
    static_assert(Ops::kNetworkMax <= kNetworkMax && Ops::kNetworkMax / Ops::N <= 32);
    if (n < 2) return;
    const std::size_t vectors = (n + Ops::N - 1) / Ops::N;
    if (vectors <= 1) return sort_padded<Ops, 1>(v, n);
    if (vectors <= 2) return sort_padded<Ops, 2>(v, n);
    if (vectors <= 4) return sort_padded<Ops, 4>(v, n);
    if (vectors <= 8) return sort_padded<Ops, 8>(v, n);
    if constexpr (Ops::kNetworkMax / Ops::N >= 16) {
        if (vectors <= 16) return sort_padded<Ops, 16>(v, n);
    }
    if constexpr (Ops::kNetworkMax / Ops::N >= 32) {
        if constexpr (Ops::kVectorRegisters >= 32) return sort_padded<Ops, 32>(v, n);
        else return sort_padded_halves<Ops, 32>(v, n);
    }
}

// Moves the elements of v[0, n) that pass the test (less than pivot, or with kOrEqual not
// greater) to the front; returns how many pass.
//
// In place, branch-free in the data: vectors are read alternately from both ends and each
// is split by one permutation into its passing lanes, stored at the left write cursor,
// and the others, stored at the right one. kUnroll vectors from each end are first copied
// aside, which leaves that much room at both ends; every round then reads from the end
// with less room, so stores never reach data not yet read. The copies are split last,
// into the gap that remains, and the n % N elements past the last whole vector are put in
// place one by one.
template <class Ops, bool kOrEqual>
std::size_t partition(typename Ops::T* v, std::size_t n, typename Ops::T pivot) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t N = Ops::N;
    constexpr std::size_t kUnroll = Ops::kPartitionUnroll;
    constexpr std::size_t kBlock = kUnroll * N;
    auto passes = [pivot](T x) { return kOrEqual ? !Ops::scalar_less(pivot, x) : Ops::scalar_less(x, pivot); };
    auto mask_of = [](V x, V p) { return kOrEqual ? Ops::not_greater_mask(x, p) : Ops::less_mask(x, p); };

    if (n < 2 * kBlock + N) {
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (passes(v[i])) std::swap(v[i], v[k++]);
        }
        return k;
    }

    const V p = Ops::set1(pivot);
    const std::size_t m = n - n % N;
    T saved[2 * kBlock];
    for (std::size_t i = 0; i < kBlock; ++i) {
        saved[i] = v[i];
        saved[kBlock + i] = v[m - kBlock + i];
    }
    T* wl = v;
    T* wr = v + m;
    T* l = v + kBlock;
    T* r = v + m - kBlock;

    auto split = [&](V x) {
        const unsigned mask = mask_of(x, p);
        const std::size_t nl = static_cast<std::size_t>(__builtin_popcount(mask));
        Ops::store_split(wl, wr, x, mask, nl);
        wl += nl;
        wr -= N - nl;
    };

    // Room at the left end is l - wl, at the right end wr - r; they always add up to
    // 2 * kBlock before a read, so the end with less has at most kBlock and gets kBlock
    // more: both ends then have room for a whole block of stores.
    while (static_cast<std::size_t>(r - l) >= kBlock) {
        const bool from_left = (l - wl) <= (wr - r);
        const T* src = from_left ? l : r - kBlock;
        l += from_left ? kBlock : 0;
        r -= from_left ? 0 : kBlock;
        V x[kUnroll];
#pragma GCC unroll 8
        for (std::size_t u = 0; u < kUnroll; ++u) x[u] = Ops::load(src + u * N);
#pragma GCC unroll 8
        for (std::size_t u = 0; u < kUnroll; ++u) split(x[u]);
    }
    while (r != l) {
        const bool from_left = (l - wl) <= (wr - r);
        const T* src = from_left ? l : r - N;
        l += from_left ? N : 0;
        r -= from_left ? 0 : N;
        split(Ops::load(src));
    }
    // The gap [wl, wr) is now as long as the copies; a split stores into both of its ends,
    // which are disjoint while two or more vectors remain and the same range (with the
    // same vector) for the last.
    for (std::size_t i = 0; i < 2 * kBlock; i += N) split(Ops::load(saved + i));

    std::size_t k = static_cast<std::size_t>(wl - v);
    for (std::size_t i = m; i < n; ++i) {
        if (passes(v[i])) std::swap(v[i], v[k++]);
    }
    return k;
}

template <class Ops>
std::size_t partition_less(typename Ops::T* v, std::size_t n, typename Ops::T pivot) {
    return partition<Ops, false>(v, n, pivot);
}

template <class Ops>
std::size_t partition_not_greater(typename Ops::T* v, std::size_t n, typename Ops::T pivot) {
    return partition<Ops, true>(v, n, pivot);
}

// Run scans advance by blocks of this many pairs while they pass, then by
// kRunStepPairs, then pair by pair.
inline constexpr std::size_t kRunBlockPairs = 32;
inline constexpr std::size_t kRunStepPairs = 8;
// Slices longer than this open the non-descending scan with the equal run scan.
inline constexpr std::size_t kEqualPrefixMin = 4 * kRunBlockPairs;

// Whether the kPairs pairs (x[j], x[j + 1]), j < kPairs, all pass `test`; every lane is
// read, no early exit.
template <class Ops, PairTest test, std::size_t kPairs>
[[gnu::always_inline]] inline bool run_pairs_hold(const typename Ops::T* x) {
    constexpr std::size_t N = Ops::N;
    static_assert(kPairs % N == 0, "run blocks are whole vectors");
    if constexpr (test == PairTest::kEqual) {
        // Neighbours all equal in bits means all equal to x[0]: one load per N elements.
        const auto first = Ops::set1_bits(x[0]);
        auto eq = Ops::bits_equal(Ops::load_bits(x + 1), first);
        for (std::size_t j = 1 + N; j < kPairs + 1; j += N) eq = Ops::lanes_and(eq, Ops::bits_equal(Ops::load_bits(x + j), first));
        return Ops::all_set(eq);
    } else {
        // lo(j) must not come after hi(j).
        constexpr bool kUp = test == PairTest::kAscending;
        if constexpr (Ops::kRunQuickTest) {
            auto a = Ops::load(x), b = Ops::load(x + 1);
            auto ok = Ops::quick_not_greater(kUp ? a : b, kUp ? b : a);
            auto suspect = Ops::quick_suspect(kUp ? b : a);
            for (std::size_t j = N; j < kPairs; j += N) {
                a = Ops::load(x + j);
                b = Ops::load(x + j + 1);
                ok = Ops::lanes_and(ok, Ops::quick_not_greater(kUp ? a : b, kUp ? b : a));
                suspect = Ops::lanes_or(suspect, Ops::quick_suspect(kUp ? b : a));
            }
            if (Ops::all_set(ok) && Ops::none_set(suspect)) [[likely]]
                return true;
        }
        auto bad_pairs = [&](std::size_t j) {
            const auto a = Ops::load_bits(x + j), b = Ops::load_bits(x + j + 1);
            return kUp ? Ops::run_greater(a, b) : Ops::run_greater(b, a);
        };
        auto bad = bad_pairs(0);
        for (std::size_t j = N; j < kPairs; j += N) bad = Ops::lanes_or(bad, bad_pairs(j));
        return Ops::none_set(bad);
    }
}

template <class Ops, PairTest test>
std::size_t run_forward(const typename Ops::T* x, std::size_t k, std::size_t n) {
    while (k + kRunBlockPairs + 1 <= n && run_pairs_hold<Ops, test, kRunBlockPairs>(x + k)) k += kRunBlockPairs;
    while (k + kRunStepPairs + 1 <= n && run_pairs_hold<Ops, test, kRunStepPairs>(x + k)) k += kRunStepPairs;
    while (k + 1 < n && pair_holds<run_order_of<typename Ops::T>, test>(x[k], x[k + 1])) ++k;
    return k;
}

// Whether no element is less than its predecessor: each vector against the same vector
// shifted by one element. A long slice's leading run of equal elements (all of an
// all-equal slice) goes first by the equal run scan, which loads each vector once.
template <class Ops>
bool is_non_descending(const typename Ops::T* v, std::size_t n) {
    std::size_t i = 0;
    if (n > kEqualPrefixMin) i = run_forward<Ops, PairTest::kEqual>(v, 0, n);
    // Four vectors per test: one branch per 4N pairs.
    constexpr std::size_t kStep = 4 * Ops::N;
    for (; i + kStep < n; i += kStep) {
        unsigned descents = 0;
        for (std::size_t j = i; j < i + kStep; j += Ops::N)
            descents |= Ops::less_mask(Ops::load(v + j + 1), Ops::load(v + j));
        if (descents != 0) return false;
    }
    for (; i + Ops::N < n; i += Ops::N) {
        if (Ops::less_mask(Ops::load(v + i + 1), Ops::load(v + i)) != 0) return false;
    }
    for (++i; i < n; ++i) {
        if (Ops::scalar_less(v[i], v[i - 1])) return false;
    }
    return true;
}

template <class Ops>
bool is_strictly_descending(const typename Ops::T* v, std::size_t n) {
    constexpr unsigned kAll = (1u << Ops::N) - 1;
    std::size_t i = 0;
    for (; i + Ops::N < n; i += Ops::N) {
        if (Ops::less_mask(Ops::load(v + i + 1), Ops::load(v + i)) != kAll) return false;
    }
    for (++i; i < n; ++i) {
        if (!Ops::scalar_less(v[i], v[i - 1])) return false;
    }
    return true;
}

// The network with the two order scans first: they settle sorted and descending input in
// one pass each (the network would not keep equal elements of sorted input in place).
template <class Ops>
void sort_short(typename Ops::T* v, std::size_t n) {
    if (n < 2 || is_non_descending<Ops>(v, n)) return;
    if (is_strictly_descending<Ops>(v, n)) {
        std::reverse(v, v + n);
        return;
    }
    sort_network<Ops>(v, n);
}

// One pass: the first vector with a descent places it by its lowest set lane.
template <class Ops>
std::size_t non_descending_prefix(const typename Ops::T* v, std::size_t n) {
    std::size_t i = 0;
    for (; i + Ops::N < n; i += Ops::N) {
        const unsigned descents = Ops::less_mask(Ops::load(v + i + 1), Ops::load(v + i));
        if (descents != 0) return i + 1 + static_cast<std::size_t>(std::countr_zero(descents));
    }
    for (++i; i < n; ++i) {
        if (Ops::scalar_less(v[i], v[i - 1])) return i;
    }
    return n;
}

template <class Ops, PairTest test>
std::size_t run_backward(const typename Ops::T* x, std::size_t s, std::size_t k) {
    while (k >= s + kRunBlockPairs && run_pairs_hold<Ops, test, kRunBlockPairs>(x + k - kRunBlockPairs))
        k -= kRunBlockPairs;
    while (k >= s + kRunStepPairs && run_pairs_hold<Ops, test, kRunStepPairs>(x + k - kRunStepPairs)) k -= kRunStepPairs;
    while (k > s && pair_holds<run_order_of<typename Ops::T>, test>(x[k - 1], x[k])) --k;
    return k;
}

template <class Ops>
constexpr RunScans<typename Ops::T> run_scans_of() {
    using P = PairTest;
    return {{&run_forward<Ops, P::kAscending>, &run_forward<Ops, P::kDescending>, &run_forward<Ops, P::kEqual>},
            {&run_backward<Ops, P::kAscending>, &run_backward<Ops, P::kDescending>, &run_backward<Ops, P::kEqual>}};
}

// An instruction set's Ops may name a shorter base case for short sorts.
template <class Ops>
constexpr std::size_t short_sort_base_case_of() {
    if constexpr (requires { Ops::kShortSortBaseCase; }) return Ops::kShortSortBaseCase;
    else return Ops::kNetworkMax;
}

template <class Ops>
constexpr Kernels<typename Ops::T> kernels_of() {
    static_assert(short_sort_base_case_of<Ops>() <= Ops::kNetworkMax);
    return {
        .network_max = Ops::kNetworkMax,
        .short_sort_base_case = short_sort_base_case_of<Ops>(),
        .partition_less = &partition_less<Ops>,
        .partition_not_greater = &partition_not_greater<Ops>,
        .sort_network = &sort_network<Ops>,
        .sort_short = &sort_short<Ops>,
        .is_non_descending = &is_non_descending<Ops>,
        .is_strictly_descending = &is_strictly_descending<Ops>,
        .non_descending_prefix = &non_descending_prefix<Ops>,
        .run_scans = run_scans_of<Ops>(),
    };
}
