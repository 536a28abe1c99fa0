#!/usr/bin/env bash
# Sets up, builds and starts QRV Writer; with no programmer attached it starts
# with the built-in simulated programmer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh plain
if ls /sys/bus/hid/devices/ 2>/dev/null | grep -qi ':0483:5750\.'; then
  exec build/mainwin/qrv-writer "$@"
else
  exec build/mainwin/qrv-writer --simulate "$@"
fi
