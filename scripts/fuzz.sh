#!/usr/bin/env bash
# The libFuzzer targets of fuzz/ (built by scripts/build.sh fuzz).
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options]
#       runs one target for longer, on the corpus it has grown so far: the
#       seeds under fuzz/corpus/TARGET are only read, what the run adds stays
#       in build-fuzz/corpus/TARGET, a finding goes to build-fuzz/findings/.
#   scripts/fuzz.sh --all SECONDS
#       runs every target for SECONDS on a copy of its seeds (nothing is
#       written into the tree) and fails on the first finding (scripts/test.sh).
#
# TARGET is a program name without "_fuzzer": hex_download, production_import,
# file_view, merge, session_replies, user_code, calibration, sim_reports. The
# runs are niced: the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options] | --all SECONDS" >&2
  echo "targets: $(cd fuzz/corpus && echo *)" >&2
  exit 2
}
[ $# -ge 2 ] || usage
[[ $2 =~ ^[0-9]+$ ]] || usage

# The options every run takes: the dictionary of the HEX targets, a time limit
# per input (a hang is a finding), the statistics at the end.
options() {
  local name=$1
  echo -timeout=10 -print_final_stats=1
  case $name in
    hex_download|production_import|file_view|merge) echo -dict=fuzz/hex.dict ;;
  esac
}

if [ "$1" = --all ]; then
  seconds=$2
  scripts/build.sh fuzz
  for program in build-fuzz/fuzz/*_fuzzer; do
    name=$(basename "$program" _fuzzer)
    [ -d "fuzz/corpus/$name" ] || { echo "$name: no seed corpus fuzz/corpus/$name" >&2; exit 1; }
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$name" "$work/corpus"
    # shellcheck disable=SC2046
    if ! nice -n 19 "$program" -max_total_time="$seconds" -artifact_prefix="$work/" \
        $(options "$name") "$work/corpus" >"$work/log" 2>&1; then
      tail -n 60 "$work/log" >&2
      echo "$name: FINDING (input and log kept in $work)" >&2
      exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/log" | tail -n 1)
    echo "$name: $runs runs, $coverage, no finding"
    rm -rf "$work"
  done
  exit 0
fi

name=${1%_fuzzer}
seconds=$2
shift 2
[ -d "fuzz/corpus/$name" ] || usage
scripts/build.sh fuzz
corpus=build-fuzz/corpus/$name
findings=build-fuzz/findings
mkdir -p "$corpus" "$findings"
# shellcheck disable=SC2046
exec nice -n 19 "build-fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" \
  -artifact_prefix="$findings/$name-" $(options "$name") "$@" "$corpus" "fuzz/corpus/$name"
