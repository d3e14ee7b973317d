// The one function the emulated processor is started at: calls a kernel of either table
// of the build's own vector kernels. Linked with nothing else (no C or C++ runtime), so it
// and the kernels may use no library function and need no static constructor.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "simd/kernels.hpp"

namespace tamarind::simd {
extern const KernelSet kAvx2Kernels;
extern const KernelSet kAvx512Kernels;
}  // namespace tamarind::simd

namespace {

using namespace tamarind;

// Must match the numbering of check_kernels.py: six kernels, then one op per pair test
// (ascending, descending, equal) forward, then one each backward, then the classification.
enum Op : unsigned {
    kPartitionLess, kPartitionNotGreater, kSortNetwork, kIsNonDescending, kIsStrictlyDescending, kHasNan, kRunForward };
constexpr unsigned kRunBackward = kRunForward + simd::kPairTests, kOpEnd = kRunBackward + simd::kPairTests;
constexpr unsigned kClassify = kOpEnd;

template <class T>
std::uint64_t call(const simd::KernelSet& set, unsigned op, void* data, std::size_t n, std::uint64_t pivot_bits) {
    const simd::Kernels<T>& k = set.of<T>();
    T* v = static_cast<T*>(data);
    const T pivot = std::bit_cast<T>(pivot_bits);
    switch (op) {
        case kPartitionLess: return k.partition_less(v, n, pivot);
        case kPartitionNotGreater: return k.partition_not_greater(v, n, pivot);
        case kSortNetwork: k.sort_network(v, n); return 0;
        case kIsNonDescending: return k.is_non_descending(v, n) ? 1 : 0;
        case kIsStrictlyDescending: return k.is_strictly_descending(v, n) ? 1 : 0;
        default: break;
    }
    // Forward from k = pivot_bits over v[0, n); backward from n - 1 down to s = pivot_bits.
    if (op >= kRunForward && op < kRunBackward) return k.run_scans.forward[op - kRunForward](v, pivot_bits, n);
    if (op >= kRunBackward && op < kOpEnd) return k.run_scans.backward[op - kRunBackward](v, pivot_bits, n - 1);
    if constexpr (std::is_same_v<T, f64>)
        if (op == kHasNan) return set.has_nan(v, n) ? 1 : 0;
    // pivot_bits: the address of the splitters (kClassifyMax + 1), their count, then the ids.
    if constexpr (!std::is_same_v<T, u64>)
        if (op == kClassify) {
            auto* block = reinterpret_cast<std::uint64_t*>(pivot_bits);
            const std::size_t splitters = simd::kClassifyMax + 1;
            set.classify<T>()(v, n, reinterpret_cast<const i64*>(block), block[splitters],
                              reinterpret_cast<unsigned char*>(block + splitters + 1));
            return 0;
        }
    return ~std::uint64_t{0};
}

}  // namespace

// isa: 0 AVX2, 1 AVX-512; type: 0 f64, 1 i64, 2 u64. Returns the kernel's result (a count,
// an index, or 0 and 1 for false and true), all ones for an unknown request.
// First in the image (image.ld), so the image's load address is its address.
extern "C" __attribute__((section(".text.entry"))) std::uint64_t tamarind_emulated_call(unsigned isa, unsigned type, unsigned op, void* data, std::size_t n,
                                                std::uint64_t pivot_bits) {
    const simd::KernelSet& set = isa == 0 ? simd::kAvx2Kernels : simd::kAvx512Kernels;
    switch (type) {
        case 0: return call<f64>(set, op, data, n, pivot_bits);
        case 1: return call<i64>(set, op, data, n, pivot_bits);
        case 2: return call<u64>(set, op, data, n, pivot_bits);
        default: return ~std::uint64_t{0};
    }
}
