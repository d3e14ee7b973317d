// The vector kernels of each instruction set this processor runs against the scalar code
// they replace: partition (GB/s of elements partitioned, around the median of random
// data) and the sorting networks (ns per element, many random slices of one length).
// Usage: bench_simd_kernels [partition length = 1000000] [runs = 9]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "simd/kernels.hpp"
#include "traits/traits.hpp"

using namespace tamarind;

namespace {

double seconds_of(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> s) {
    std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
    return s[s.size() / 2];
}

std::string cpu_model() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

template <class Traits>
void bench_type(const char* type, std::size_t n, std::size_t runs) {
    using T = typename Traits::value_type;
    std::mt19937_64 rng(7);
    std::vector<T> input(n);
    for (T& x : input) {
        if constexpr (std::is_same_v<T, f64>) x = std::uniform_real_distribution<f64>(-1e9, 1e9)(rng);
        else x = static_cast<T>(rng());
    }
    std::vector<T> sorted = input;
    std::sort(sorted.begin(), sorted.end());
    const T pivot = sorted[n / 2];
    std::vector<T> scratch(n);

    // Network input: many random slices of each length back to back, a fresh copy per run.
    const std::size_t kNetworkElements = 1 << 16;

    struct Contender {
        std::string name;
        std::function<std::size_t(T*, std::size_t, T)> partition;
        std::function<void(T*, std::size_t)> network;
        std::size_t network_max;
    };
    std::vector<Contender> contenders;
    for (simd::Isa isa : {simd::Isa::kScalar, simd::Isa::kAvx2, simd::Isa::kAvx512}) {
        const char* why_not = nullptr;
        const simd::KernelSet* set = simd::kernels_for(isa, &why_not);
        if (set == nullptr) {
            std::printf("  (%s skipped: %s)\n", isa == simd::Isa::kAvx2 ? "AVX2" : "AVX-512", why_not);
            continue;
        }
        const simd::Kernels<T>& k = set->template of<T>();
        contenders.push_back({set->name, k.partition_less, k.sort_network, k.network_max});
    }

    std::printf("\n%s: partition of %zu elements around the median (GB/s), networks (ns/elem)\n", type, n);
    constexpr std::size_t kLengths[] = {8, 16, 32, 64, 96, 128};
    std::printf("  %-10s %12s", "kernels", "partition");
    for (std::size_t len : kLengths) std::printf("   n=%-6zu", len);
    std::printf("\n");
    for (const Contender& c : contenders) {
        std::vector<double> part;
        for (std::size_t r = 0; r < runs; ++r) {
            std::copy(input.begin(), input.end(), scratch.begin());
            std::size_t got = 0;
            part.push_back(seconds_of([&] { got = c.partition(scratch.data(), n, pivot); }));
            if (got != n / 2) {
                std::fprintf(stderr, "%s: partition returned %zu\n", c.name.c_str(), got);
                std::exit(1);
            }
        }
        std::printf("  %-10s %12.2f", c.name.c_str(), static_cast<double>(n * sizeof(T)) / median(part) / 1e9);
        for (std::size_t len : kLengths) {
            if (len > c.network_max) {
                std::printf(" %10s", "-");
                continue;
            }
            std::vector<double> net;
            std::vector<T> batch(input.begin(), input.begin() + std::min(n, kNetworkElements));
            for (std::size_t r = 0; r < runs; ++r) {
                std::copy(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(batch.size()), batch.begin());
                net.push_back(seconds_of([&] {
                    for (std::size_t at = 0; at + len <= batch.size(); at += len) c.network(batch.data() + at, len);
                }));
                for (std::size_t at = 0; at + len <= batch.size(); at += len) {
                    if (!std::is_sorted(batch.begin() + at, batch.begin() + at + len)) {
                        std::fprintf(stderr, "%s: network of %zu unsorted\n", c.name.c_str(), len);
                        std::exit(1);
                    }
                }
            }
            std::printf(" %10.2f", median(net) * 1e9 / static_cast<double>(batch.size() / len * len));
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const std::size_t runs = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 9;
    const simd::KernelSet* best = simd::best_kernels();
    std::printf("CPU: %s; kernels in use: %s\n", cpu_model().c_str(), best->name);
    bench_type<F64Traits>("f64", n, runs);
    bench_type<I64Traits>("i64", n, runs);
    bench_type<U64Traits>("u64", n, runs);
    return 0;
}
