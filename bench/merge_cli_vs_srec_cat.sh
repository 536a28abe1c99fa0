#!/usr/bin/env bash
# Wall time of `qrv-writer-cli merge` of eight 64 KiB HEX files (16-byte records,
# each 0x0000-0xFFEF) as whole processes, against srec_cat doing the same job:
# read the eight files, the later file winning where they overlap, and write
# the merged image as HEX of 16-byte records. Both results must be the same image.
# Usage: bench/merge_cli_vs_srec_cat.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-100}
cli=$build/cli/qrv-writer-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

files=()
srec_inputs=()
for k in 0 1 2 3 4 5 6 7; do
  srec_cat -generate 0 0xFFF0 -random -o "$dir/f$k.hex" -Intel -obs=16
  files+=("$dir/f$k.hex")
  srec_inputs+=("$dir/f$k.hex" -Intel)
done

# Mean wall time of one run, in microseconds.
mean_us() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(((end - start) / runs / 1000))
}

cli_us=$(mean_us "$cli" merge "${files[@]}" -o "$dir/cli.hex")
# The same into memory (/dev/shm), where the synced atomic write costs nothing:
# on a disk, the sync of the file and its directory waits for the journal,
# and so for whatever else the machine is writing.
shm_us=
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  shm=$(mktemp -d /dev/shm/merge-bench.XXXXXX)
  shm_us=$(mean_us "$cli" merge "${files[@]}" -o "$shm/cli.hex")
  rm -rf "$shm"
fi
srec_us=$(mean_us srec_cat -multiple "${srec_inputs[@]}" -o "$dir/srec.hex" -Intel -obs=16)

srec_cat "$dir/cli.hex" -Intel -o "$dir/cli.bin" -Binary
srec_cat "$dir/srec.hex" -Intel -o "$dir/srec.bin" -Binary
cmp "$dir/cli.bin" "$dir/srec.bin"

echo "qrv-writer-cli merge: ${cli_us} us per run (mean of ${runs})"
echo "srec_cat:             ${srec_us} us per run (mean of ${runs})"
[ -z "$shm_us" ] ||
  echo "  (merge into /dev/shm: ${shm_us} us per run: the rest is the synced write)"
echo "ratio:                $(awk -v a="$cli_us" -v b="$srec_us" 'BEGIN { printf "%.2f", a / b }')"
