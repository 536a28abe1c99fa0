#!/usr/bin/env bash
# Configures and builds one flavour: scripts/build.sh [plain|asan|tsan|fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-plain}
case "$flavour" in
  plain) dir=build;      args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
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
# ccache, where the machine has it, makes rebuilds of other checkouts cheap;
# the build never needs it.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD/..} CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
