// The single-threaded entry for i64 on data shaped for particular digits and for the bucket of
// one sign. (Each function at and around every length threshold, on every kernel table, over
// value families that NaN and both zeros are among, is the Python sweep's test.)
#include <gtest/gtest.h>

#include "entries/single_threaded_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

TEST(SingleThreadedSortI64, DigitShapes) {
    std::mt19937_64 rng(12);
    const std::size_t n = kSanitized ? 20000 : 200000;
    const i64 lo = std::numeric_limits<i64>::min(), hi = std::numeric_limits<i64>::max();
    auto check = [](const std::vector<i64>& in, const std::string& what) {
        EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, [](i64* v, std::size_t m) { single_threaded_sort(v, m); })))
            << what;
    };
    auto fill = [&](auto gen) { std::vector<i64> v(n); for (auto& x : v) x = gen(); return v; };
    check(fill([&] { return rng() % 8 ? static_cast<i64>(rng()) : (rng() % 2 ? lo : hi); }), "full range with extremes");
    check(fill([&] { return -static_cast<i64>(rng() >> 1) - 1; }), "negative only");
    check(fill([&] { return static_cast<i64>(rng() >> 8); }), "non-negative below 2^56");
    check(fill([&] { return static_cast<i64>(rng() >> 4) - (i64{1} << 59); }), "60-bit spread around zero");
    check(fill([&] { return lo + static_cast<i64>(rng() >> 4); }), "keys of 60 significant bits");
    // Mostly negative with 349 and 350 values below 2^56 among them: either side of the bound
    // from which the bucket of one sign takes run detection.
    for (std::size_t small : {349, 350}) {
        std::vector<i64> v(8000);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = i < small ? static_cast<i64>(rng() >> 8) : -static_cast<i64>(rng() >> 1);
        std::shuffle(v.begin(), v.end(), rng);
        check(v, "same-sign bucket of " + std::to_string(small));
    }
}
