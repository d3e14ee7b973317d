# Build with zig's C++ compiler (the ziglang package on PyPI) for one target and the oldest
# glibc it should load on, e.g. x86_64-linux-gnu.2.28 or aarch64-linux-gnu.2.28: zig links
# against that glibc version's symbols whatever this machine runs, so the module loads on any
# glibc from it on, and links its libc++ and libunwind in statically. Give the target in
# TAMARIND_ZIG_TARGET and zig's executable in TAMARIND_ZIG (tools/build_wheels.sh does both).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAMARIND_ZIG TAMARIND_ZIG_TARGET)
if(NOT TAMARIND_ZIG OR NOT TAMARIND_ZIG_TARGET)
  message(FATAL_ERROR "cmake/zig.cmake needs TAMARIND_ZIG (zig's executable) and TAMARIND_ZIG_TARGET "
                      "(such as x86_64-linux-gnu.2.28)")
endif()
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${TAMARIND_ZIG_TARGET}")
set(CMAKE_SYSTEM_NAME Linux)
# Named explicitly even for this machine's processor: without -target zig compiles for the
# processor it runs on, and the module must run on any of its kind.
set(CMAKE_CXX_COMPILER "${TAMARIND_ZIG}" c++ -target "${TAMARIND_ZIG_TARGET}")
# zig compiles with debug information unless told not to, and the wheels keep none.
set(CMAKE_CXX_FLAGS_INIT -g0)
# zig's own archiver, which reads every target's objects.
set(CMAKE_CXX_ARCHIVE_CREATE "\"${TAMARIND_ZIG}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "\"${TAMARIND_ZIG}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_FINISH "\"${TAMARIND_ZIG}\" ranlib <TARGET>")
# zig's libc++ carries its debug information into the module; CMakeLists.txt drops it with
# this objcopy, which must read the target's objects (llvm-objcopy reads every target's).
find_program(CMAKE_OBJCOPY NAMES ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu-objcopy llvm-objcopy REQUIRED)
