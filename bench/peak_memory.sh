#!/usr/bin/env bash
# Peak memory (maximum resident set size, from /usr/bin/time -v) of
# `qrv-writer-cli --simulate download F` and `qrv-writer-cli export F -o OUT`
# for files of blank lines, against the file's size:
#   blank16: one data record and then blank LF lines up to 16 MiB (the largest
#            file the import reads; its production file would be larger, so
#            the export refuses it after reading it);
#   blank6:  the same up to 6 MiB (the export writes its production file of
#            12 MiB).
# Usage: bench/peak_memory.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$build/cli/qrv-writer-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# A file of `size` bytes: one 16-byte data record, then LF lines of nothing.
make_file() {
  local path=$1 size=$2
  local record=':10000000000102030405060708090A0B0C0D0E0F78'
  { printf '%s\n' "$record"; head -c $((size - ${#record} - 1)) /dev/zero | tr '\0' '\n'; } >"$path"
}

# Peak RSS in KiB of one command (its exit status is reported, not fatal).
peak_kib() {
  local log=$dir/time.log rc=0
  /usr/bin/time -v "$@" >/dev/null 2>"$log" || rc=$?
  echo "$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log") $rc"
}

report() {
  local what=$1 file=$2
  shift 2
  local bytes kib rc
  bytes=$(stat -c %s "$file")
  read -r kib rc < <(peak_kib "$@")
  awk -v w="$what" -v k="$kib" -v b="$bytes" -v rc="$rc" 'BEGIN {
    printf "%-16s file %6.2f MiB  peak RSS %7.2f MiB  peak/file %5.2f  (exit %d)\n",
           w, b / 1048576, k / 1024, k * 1024 / b, rc }'
}

for name in blank16:16777216 blank6:6291456; do
  file=$dir/${name%%:*}.hex
  make_file "$file" "${name##*:}"
  report "${name%%:*} download" "$file" "$cli" --simulate download "$file"
  report "${name%%:*} export" "$file" "$cli" export "$file" -o "$dir/out.hex"
done
