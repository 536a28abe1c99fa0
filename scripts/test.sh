#!/usr/bin/env bash
# Sets up, builds and runs every test: the plain build (and clang-tidy on its
# compile commands), the GCC Release build
# (-O3), the whole suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and each fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
# Every warning in the project's own code fails its checks.
export QRV_WERROR=ON

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

echo "== wire offsets"
# Only protocol/ (and the simulator) knows where a field sits in a report.
scripts/check_wire_offsets.sh

echo "== plain build"
scripts/build.sh plain
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== clang-tidy"
# The checks of .clang-tidy on the plain build's compile commands.
scripts/tidy.sh

echo "== GCC Release (-O3)"
scripts/build.sh release
ctest --test-dir build-release --output-on-failure -j "$jobs"

echo "== ASan + UBSan"
scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== TSan (threaded tests)"
scripts/build.sh tsan
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

echo "== fuzz"
# Every libFuzzer target for about 20 s on a copy of its seeds; any crash,
# sanitizer report or broken invariant fails the run.
scripts/fuzz.sh --all 20
