#!/usr/bin/env bash
# Every test suite, from a fresh machine: the Python suite against NumPy 2.x and again
# against NumPy 1.26 (each in its own virtual environment), then the C++ engine suite in
# Release, under AddressSanitizer + UndefinedBehaviorSanitizer, and its threaded tests
# under ThreadSanitizer. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }

if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
  step "installing GoogleTest"
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get install -y -q libgtest-dev >/dev/null || { $sudo_cmd apt-get update -q >/dev/null && $sudo_cmd apt-get install -y -q libgtest-dev >/dev/null; }
fi

python_suite() {  # venv dir (relative to the root), numpy requirement
  step "Python suite with $2"
  local venv="$root/$1"
  python3 -m venv "$venv"
  "$venv/bin/pip" install -q --upgrade pip 2>/dev/null
  "$venv/bin/pip" install -q "$2" ".[test,dask]" 2> >(grep -v "^WARNING: Location" >&2)
  (cd "$root/tests/python" && "$venv/bin/python" -c "import numpy; print('numpy', numpy.__version__)" \
     && "$venv/bin/python" -m pytest -q -p no:cacheprovider)
}

cpp_suite() {  # build dir, sanitizer list, [test regex, build targets...]
  local dir=$1 sanitize=$2 regex=${3:-}
  shift $(( $# < 3 ? $# : 3 ))
  step "C++ suite ${sanitize:-Release}"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMARIND_BUILD_TESTS=ON \
        -DTAMARIND_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j "$jobs" ${1:+--target "$@"}
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error ${regex:+-R "$regex"}
}

python_suite .venv-test "numpy>=2"
python_suite .venv-test-np1 "numpy==1.26.*"
cpp_suite build-test ""
cpp_suite build-asan "address,undefined"
# Only the programs with threaded suites are built for ThreadSanitizer.
TSAN_OPTIONS="halt_on_error=1" cpp_suite build-tsan "thread" "Pool|Parallel|Concurrent" \
  test_parallel_quicksort test_peeka_sort test_pool test_pool_global
step "all suites passed"
