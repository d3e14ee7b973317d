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

// The ordered integer of a float64's bits (F64KeyMap::signed_key: negatives get all but the
// sign bit flipped). The map keeps the sign bit, so it is its own inverse.
constexpr u64 ordered_bits(u64 bits) noexcept {
    return bits ^ (static_cast<u64>(static_cast<i64>(bits) >> 63) >> 1);
}

// Rewrites v[0, n) between values and their ordered integers: the same call converts both
// ways. Through memcpy, so that the same storage may then be read as i64 without an
// aliasing violation.
inline void flip_negative_magnitudes(f64* v, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        u64 bits;
        std::memcpy(&bits, v + i, sizeof bits);
        bits = ordered_bits(bits);
        std::memcpy(v + i, &bits, sizeof bits);
    }
}

// The ordered integer of v[0]: the reference key of flip_negative_magnitudes_and_spread.
inline u64 first_ordered_bits(const f64* v) noexcept {
    u64 bits;
    std::memcpy(&bits, v, sizeof bits);
    return ordered_bits(bits);
}

// flip_negative_magnitudes from values to ordered integers that also returns the OR of
// x ^ first over the integers x: with first one of the keys, the bits in which the keys
// differ, which a radix sort would otherwise read the slice again to find. Parts converted
// apart against the same first combine by OR.
inline u64 flip_negative_magnitudes_and_spread(f64* v, std::size_t n, u64 first) noexcept {
    u64 spread = 0;
    for (std::size_t i = 0; i < n; ++i) {
        u64 bits;
        std::memcpy(&bits, v + i, sizeof bits);
        bits = ordered_bits(bits);
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
        spread = n == 0 ? 0 : flip_negative_magnitudes_and_spread(v, n, first_ordered_bits(v));
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
