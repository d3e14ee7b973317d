// The radix paths sort float64 by IEEE 754 totalOrder: NaNs with the sign bit set first,
// -inf, the negatives, -0.0, +0.0, the positives, +inf, NaNs with the sign bit clear last.
// Rather than carry that order through every step that compares (the merge, the order
// checks of buckets, the sorts of small buckets, the vector quicksort), a stretch is
// rewritten in place as ordered integers, sorted as i64, and written back. The map is one
// to one, so the round trip is exact; no NaN ever meets a comparison, and -0.0 and +0.0 are
// two integers like any other.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>

#include "traits/key_maps.hpp"

namespace tamarind {

// Rewrites v[0, n) between values and their ordered integers (F64KeyMap::signed_key:
// negatives get all but the sign bit flipped). The map keeps the sign bit, so it is its own
// inverse and the same call converts both ways. Through memcpy, so that the same storage
// may then be read as i64 without an aliasing violation.
inline void flip_negative_magnitudes(f64* v, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        u64 bits;
        std::memcpy(&bits, v + i, sizeof bits);
        bits ^= static_cast<u64>(static_cast<i64>(bits) >> 63) >> 1;
        std::memcpy(v + i, &bits, sizeof bits);
    }
}

// flip_negative_magnitudes from values to ordered integers that also returns the OR of
// x ^ x0 over the integers x, x0 the first's: the bits in which the slice's keys differ,
// which a radix sort would otherwise read the slice again to find.
inline u64 flip_negative_magnitudes_and_spread(f64* v, std::size_t n) noexcept {
    if (n == 0) return 0;
    u64 first;
    std::memcpy(&first, v, sizeof first);
    first ^= static_cast<u64>(static_cast<i64>(first) >> 63) >> 1;
    u64 spread = 0;
    for (std::size_t i = 0; i < n; ++i) {
        u64 bits;
        std::memcpy(&bits, v + i, sizeof bits);
        bits ^= static_cast<u64>(static_cast<i64>(bits) >> 63) >> 1;
        spread |= bits ^ first;
        std::memcpy(v + i, &bits, sizeof bits);
    }
    return spread;
}

// Holds v[0, n) as ordered integers for a scope: converted on construction, written back
// by release() or, if an exception leaves the scope first, by the destructor, so that an
// interrupted sort still leaves a permutation of the input.
class F64AsI64 {
public:
    F64AsI64(f64* v, std::size_t n) noexcept : v_(v), n_(n) { flip_negative_magnitudes(v, n); }
    // Also sets `spread` (see flip_negative_magnitudes_and_spread).
    F64AsI64(f64* v, std::size_t n, u64& spread) noexcept : v_(v), n_(n) {
        spread = flip_negative_magnitudes_and_spread(v, n);
    }
    F64AsI64(const F64AsI64&) = delete;
    F64AsI64& operator=(const F64AsI64&) = delete;
    ~F64AsI64() {
        if (v_ != nullptr) flip_negative_magnitudes(v_, n_);
    }

    i64* ints() const noexcept { return reinterpret_cast<i64*>(v_); }

    void release() noexcept {
        flip_negative_magnitudes(v_, n_);
        v_ = nullptr;
    }

private:
    f64* v_;
    std::size_t n_;
};

}  // namespace tamarind
