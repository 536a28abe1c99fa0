#!/usr/bin/env bash
# Configures and builds one flavour: scripts/build.sh [plain|release|asan|tsan|fuzz]
# QRV_WERROR=ON (or OFF) in the environment sets the CMake option of that name:
# the project's warnings become errors (scripts/test.sh does this). Without it
# the build directory keeps what it was configured with (OFF at first).
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-plain}
case "$flavour" in
  plain) dir=build;      args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  # What a user's or a distribution's build is: GCC at -O3, whose optimiser
  # warns about more than -O2 does. No package: the plain build checks it.
  release) dir=build-release; args=(-DCMAKE_BUILD_TYPE=Release -DQRV_PACKAGE=OFF) ;;
  asan)  dir=build-asan; args=(-DCMAKE_BUILD_TYPE=Debug -DQRV_SANITIZE=address -DQRV_BUILD_BENCH=OFF) ;;
  tsan)  dir=build-tsan; args=(-DCMAKE_BUILD_TYPE=Debug -DQRV_SANITIZE=thread -DQRV_BUILD_BENCH=OFF -DQRV_BUILD_GUI=OFF) ;;
  # The libFuzzer targets: clang, the Qt-free code only, optimised but with
  # assertions and debug information.
  fuzz)  dir=build-fuzz; args=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
                               -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DQRV_SANITIZE=fuzzer
                               -DQRV_BUILD_FUZZ=ON -DQRV_BUILD_GUI=OFF -DQRV_BUILD_TESTS=OFF
                               -DQRV_BUILD_BENCH=OFF) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
if [ -n "${QRV_WERROR:-}" ]; then
  args+=(-DQRV_WERROR="$QRV_WERROR")
fi
# ccache, where the machine has it, makes rebuilds of other checkouts cheap;
# the build never needs it.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD/..} CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
