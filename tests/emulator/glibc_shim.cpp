// The emulator's prebuilt module calls two functions that glibc exports only from 2.38 on
// (the C23 variants of strtoull and sscanf). Loaded globally before it, this library lets
// it load on older systems; for what the module parses the older functions do the same.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

extern "C" {

__attribute__((visibility("default"))) unsigned long long __isoc23_strtoull(const char* s, char** end, int base) {
    return std::strtoull(s, end, base);
}

__attribute__((visibility("default"))) int __isoc23_sscanf(const char* s, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = std::vsscanf(s, format, args);
    va_end(args);
    return r;
}
}
