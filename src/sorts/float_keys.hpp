// The radix paths sort float64 by IEEE 754 totalOrder: NaNs with the sign bit set first,
// -inf, the negatives, -0.0, +0.0, the positives, +inf, NaNs with the sign bit clear last.
// Rather than carry that order through every step that compares (run detection and its
// probes, the merge, the order checks of buckets, the sorts of small buckets), the slice is
// rewritten in place as its unsigned keys, sorted as u64, and written back. Keys and bit
// patterns correspond one to one, so the round trip is exact; no NaN ever meets a
// comparison, and -0.0 and +0.0 are two keys like any other.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>

#include "traits/traits.hpp"

namespace tamarind {

// v[0, n) rewritten as the keys of its values. Through memcpy, so that the same storage may
// then be read as u64 without an aliasing violation.
inline void f64_to_keys(f64* v, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        u64 bits;
        std::memcpy(&bits, v + i, sizeof bits);
        bits = F64Traits::to_key(std::bit_cast<f64>(bits));
        std::memcpy(v + i, &bits, sizeof bits);
    }
}

// The inverse of f64_to_keys on the same storage.
inline void keys_to_f64(f64* v, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        u64 key;
        std::memcpy(&key, v + i, sizeof key);
        const f64 x = F64Traits::from_key(key);
        std::memcpy(v + i, &x, sizeof x);
    }
}

// Holds v[0, n) as keys for a scope: converted on construction, written back by release()
// or, if an exception leaves the scope first, by the destructor, so that an interrupted sort
// still leaves a permutation of the input.
class F64AsKeys {
public:
    F64AsKeys(f64* v, std::size_t n) noexcept : v_(v), n_(n) { f64_to_keys(v, n); }
    F64AsKeys(const F64AsKeys&) = delete;
    F64AsKeys& operator=(const F64AsKeys&) = delete;
    ~F64AsKeys() {
        if (v_ != nullptr) keys_to_f64(v_, n_);
    }

    u64* keys() const noexcept { return reinterpret_cast<u64*>(v_); }

    void release() noexcept {
        keys_to_f64(v_, n_);
        v_ = nullptr;
    }

private:
    f64* v_;
    std::size_t n_;
};

}  // namespace tamarind
