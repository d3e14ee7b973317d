// Scratch buffers of the radix passes and the merge: uninitialised, owned by one step and
// released when it ends. Large ones are aligned to and advised as huge pages, so that
// first touch costs one fault per 2 MiB instead of one per 4 KiB.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tamarind {

// Buffers from this many bytes on are placed on huge pages where the system allows it.
inline constexpr std::size_t kHugeScratchMinBytes = std::size_t{4} << 20;
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

template <class T>
class ScratchBuffer {
public:
    explicit ScratchBuffer(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= kHugeScratchMinBytes) {
            const std::size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
            void* p = std::aligned_alloc(kHugePageBytes, rounded);
            if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
            madvise(p, rounded, MADV_HUGEPAGE);  // a hint: failure only costs speed
#endif
            data_.reset(static_cast<T*>(p));
        } else if (n > 0) {
            void* p = std::malloc(bytes);
            if (!p) throw std::bad_alloc();
            data_.reset(static_cast<T*>(p));
        }
    }
    T* get() const noexcept { return data_.get(); }

private:
    struct Free {
        void operator()(T* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<T, Free> data_;
};

}  // namespace tamarind
