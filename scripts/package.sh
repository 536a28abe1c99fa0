#!/usr/bin/env bash
# Sets up, builds and packs QRV Writer as a Debian package in the top
# directory: ./qrv-writer_VERSION_ARCH.deb (a previous one is replaced).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh plain
rm -rf build/package
cpack --config build/CPackConfig.cmake -B build/package >/dev/null
rm -f qrv-writer_*.deb
mv build/package/qrv-writer_*.deb .
ls qrv-writer_*.deb
