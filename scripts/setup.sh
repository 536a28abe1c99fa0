#!/usr/bin/env bash
# Installs every Debian package that building, running and testing QRV Writer
# need. Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libhidapi-dev libudev-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk
  xvfb xauth imagemagick
  clang-format clang-tidy
  clang libclang-rt-dev
  libcli11-dev qt6-translations-l10n nlohmann-json3-dev
  dpkg-dev file help2man lintian desktop-file-utils
  srecord python3-jsonschema gnumeric
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
