#!/usr/bin/env bash
# Sets up, builds and packs QRV Writer as two Debian packages in the top
# directory (earlier ones are replaced): ./qrv-writer-cli_VERSION_ARCH.deb, the
# command-line tool and the udev rule, and ./qrv-writer_VERSION_ARCH.deb, the
# window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh plain
rm -rf build/package
cpack --config build/CPackConfig.cmake -B build/package >/dev/null
rm -f qrv-writer_*.deb qrv-writer-cli_*.deb
mv build/package/qrv-writer_*.deb build/package/qrv-writer-cli_*.deb .
ls qrv-writer-cli_*.deb qrv-writer_*.deb
