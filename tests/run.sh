#!/usr/bin/env bash
# Every test suite, from a fresh machine: the Python suite against NumPy 2.x, again capped at
# AVX2 on a processor with AVX-512 and with all vector code turned off (every kernel table
# end to end), and against NumPy 1.26 (each NumPy in
# its own virtual environment), the last on the x86-64 wheel that tools/build_wheels.sh builds
# and checks beside the ARM one; then the C++ engine suite in Release (with both vector kernel
# tables run on an emulated AVX-512 processor), under AddressSanitizer +
# UndefinedBehaviorSanitizer, its threaded tests under ThreadSanitizer, and the whole suite
# cross-built for 64-bit ARM and run under QEMU, as is the ARM wheel's module. Exits non-zero
# on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }

# Debian packages: GoogleTest (its sources too, for the ARM build), the ARM cross compiler
# and QEMU's user mode.
packages=()
for p in libgtest-dev g++-aarch64-linux-gnu qemu-user; do
  dpkg -s "$p" >/dev/null 2>&1 || packages+=("$p")
done
if [ ${#packages[@]} -gt 0 ]; then
  step "installing ${packages[*]}"
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get install -y -q "${packages[@]}" >/dev/null || { $sudo_cmd apt-get update -q >/dev/null && $sudo_cmd apt-get install -y -q "${packages[@]}" >/dev/null; }
fi

python_suite() {  # venv dir (relative to the root), numpy requirement, [what to install: . or a wheel]
  local venv="$root/$1" what=${3:-.}
  step "Python suite with $2${3:+ from $(basename "$3")}"
  python3 -m venv "$venv"
  "$venv/bin/pip" install -q --upgrade pip 2>/dev/null
  "$venv/bin/pip" install -q "$2" "$what[test,dask]" 2> >(grep -v "^WARNING: Location" >&2)
  (cd "$root/tests/python" && "$venv/bin/python" -c "import numpy; print('numpy', numpy.__version__)" \
     && "$venv/bin/python" -m pytest -q -p no:cacheprovider)
}

cpp_suite() {  # build dir, sanitizer list, [test regex, build targets...]
  local dir=$1 sanitize=$2 regex=${3:-}
  shift $(( $# < 3 ? $# : 3 ))
  step "C++ suite ${sanitize:-Release}"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMARIND_BUILD_TESTS=ON \
        -DTAMARIND_SANITIZE="$sanitize" -DTAMARIND_TEST_PYTHON="$root/.venv-test/bin/python" >/dev/null
  cmake --build "$dir" -j "$jobs" ${1:+--target "$@"}
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error ${regex:+-R "$regex"}
}

arm_wheel_check() {  # wheel
  local sysroot=$root/build-wheel/arm64-python apt=$root/build-wheel/arm64-apt python cpu
  step "64-bit ARM wheel under QEMU"
  if [ ! -d "$sysroot/usr/bin" ]; then
    # Debian's CPython for ARM and the libraries it needs, unpacked (not installed) to run
    # under QEMU on the cross compiler's C library.
    local o=(-q -oAPT::Architecture=arm64 -oAPT::Architectures=arm64 -oAPT::Sandbox::User=root
             -oDir::State::Lists="$apt/lists" -oDir::Cache="$apt/cache")
    mkdir -p "$apt/lists/partial" "$apt/debs"
    apt-get "${o[@]}" update >/dev/null
    python=$(apt-cache "${o[@]}" depends python3-minimal | grep -o -m1 'python3\.[0-9]*')
    (cd "$apt/debs" && apt-get "${o[@]}" download "$python-minimal" "lib$python-stdlib" $(
       apt-cache "${o[@]}" depends "$python-minimal" "lib$python-minimal" "lib$python-stdlib" |
         awk '$1 == "Depends:" && $2 !~ /^</ && $2 != "libc6" { print $2 }' | sort -u) >/dev/null)
    for deb in "$apt"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  fi
  python=$(cd "$sysroot/usr/bin" && ls python3.* | head -1)
  rm -rf "$sysroot/site"
  "$root/.venv-test/bin/pip" install -q --target "$sysroot/site" --only-binary=:all: --implementation cp \
    --python-version "${python#python}" --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 \
    "numpy>=1.26" "$1" 2> >(grep -v "^WARNING: Location" >&2)
  # One host processor, for the reason arm_suite gives.
  cpu=$(python3 -c 'import os; print(min(os.sched_getaffinity(0)))')
  taskset -c "$cpu" qemu-aarch64 -L /usr/aarch64-linux-gnu \
    -E LD_LIBRARY_PATH="$sysroot/lib/aarch64-linux-gnu:$sysroot/usr/lib/aarch64-linux-gnu" \
    -E PYTHONPATH="$sysroot/site" "$sysroot/usr/bin/$python" tests/wheel_check.py
}

arm_suite() {  # build dir
  local dir=$1 gtest=$1-gtest toolchain=$root/cmake/aarch64-linux-gnu.cmake
  step "C++ suite on 64-bit ARM (cross-built, under QEMU)"
  # GoogleTest for the target, from the sources Debian ships with libgtest-dev.
  if [ ! -f "$gtest/install/lib/libgtest.a" ]; then
    cmake -S /usr/src/googletest -B "$gtest" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -Wno-deprecated \
          -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$gtest/install" >/dev/null
    cmake --build "$gtest" -j "$jobs" >/dev/null
    cmake --install "$gtest" >/dev/null
  fi
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMARIND_BUILD_TESTS=ON \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_FIND_ROOT_PATH="$gtest/install" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  # QEMU 7.2 on an x86 host lets one guest thread's sequentially consistent store pass its
  # own later sequentially consistent load as another thread sees them, which the engine's
  # deques rely on not happening. With the whole run on one host processor the threads
  # interleave but never overlap, so they see each other's memory operations in order.
  local cpu
  cpu=$(python3 -c 'import os; print(min(os.sched_getaffinity(0)))')
  taskset -c "$cpu" ctest --test-dir "$dir" --output-on-failure --no-tests=error
}

python_suite .venv-test "numpy>=2"
# Every kernel table this processor runs, end to end: the default above, AVX2 where the
# default is AVX-512, and the scalar one.
if grep -qw avx512f /proc/cpuinfo; then
  step "Python suite capped at AVX2"
  (cd tests/python && TAMARIND_DISABLE_CPU_FEATURES="AVX512F" "$root/.venv-test/bin/python" -m pytest -q -p no:cacheprovider)
fi
step "Python suite with all vector code off"
(cd tests/python && TAMARIND_DISABLE_CPU_FEATURES="AVX512F AVX2" "$root/.venv-test/bin/python" -m pytest -q -p no:cacheprovider)
step "wheels for x86-64 and 64-bit ARM (glibc 2.28+), checked by auditwheel"
bash tools/build_wheels.sh build-wheel/dist
python_suite .venv-test-np1 "numpy==1.26.*" "$(ls "$root"/build-wheel/dist/tamarind-*_x86_64.whl)"
# The emulated processor for the vector kernel test, which reports itself skipped where it
# cannot be installed.
"$root/.venv-test/bin/pip" install -q "bochscpu-python==0.4.0" 2> >(grep -v "^WARNING: Location" >&2) ||
  echo "bochscpu-python could not be installed: the emulated vector kernel test will be skipped"
cpp_suite build-test ""
cpp_suite build-asan "address,undefined"
# Only the programs with threaded suites are built for ThreadSanitizer.
TSAN_OPTIONS="halt_on_error=1" cpp_suite build-tsan "thread" "Pool|Parallel|Concurrent" \
  test_comparison_sort test_peeka_sort test_pool test_pool_global test_handoff_rules
arm_suite build-aarch64
arm_wheel_check "$(ls "$root"/build-wheel/dist/tamarind-*_aarch64.whl)"
step "all suites passed"
