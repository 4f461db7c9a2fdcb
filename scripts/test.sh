#!/usr/bin/env bash
# Sets up the machine, builds the tool and runs every test in a normal build,
# then again under AddressSanitizer + UndefinedBehaviorSanitizer those that
# exercise memory: every room below the windows, the runs of the whole
# program, and the window tests that keep buffers of their own (see
# tests/CMakeLists.txt; QS_SANITIZE_WINDOWS=1 takes every window test there).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# ccache keeps the compiler's results between runs: paths are taken relative
# to the checkout, so a fresh clone elsewhere finds what an earlier one made.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

run() { # <build dir> <cmake options...>
  local dir=$1
  shift
  cmake -S . -B "$dir" "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j1
}

echo "== normal build"
run build
echo "== sanitizer build (ASan + UBSan)"
run build-sanitize -DQS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DQS_SANITIZE_WINDOWS="${QS_SANITIZE_WINDOWS:-OFF}"
