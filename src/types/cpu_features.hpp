// Vector extensions of the processor, read once per process. Vector code is compiled per
// function with target attributes (the build itself assumes only baseline x86-64) and is
// taken only where these say so; everything has a scalar path beside it.
#pragma once

namespace tamarind {

inline bool cpu_has_avx2() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
#else
    return false;
#endif
}

}  // namespace tamarind
