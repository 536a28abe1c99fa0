#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the product's sources,
# in parallel, with the compile commands of the plain build (scripts/build.sh
# plain, in build/). The Qt-free core gets every check; the Qt views
# (the sources compiled with Qt's headers) get the function size check alone,
# so that no function anywhere in the product is longer than 80 lines.
# Exits non-zero on any finding. Tests, benchmarks and fuzz targets are not
# product code and are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
db=build/compile_commands.json
if [ ! -f "$db" ]; then
  echo "tidy: $db not found: run scripts/build.sh plain first" >&2
  exit 2
fi

# The product's sources from the compile commands, split by whether they are
# compiled against Qt. Generated sources (moc) live in build directories and
# are left out with the tests, benchmarks and fuzz targets.
mapfile -t lists < <(python3 - "$db" "$top" <<'PY'
import json, re, sys
db, top = sys.argv[1], sys.argv[2]
core, qt = set(), set()
for entry in json.load(open(db)):
    path = entry["file"]
    rel = path[len(top) + 1:] if path.startswith(top + "/") else None
    if rel is None or re.match(r"(tests|bench|fuzz|build[^/]*)/", rel):
        continue
    command = entry.get("command") or " ".join(entry.get("arguments", []))
    (qt if re.search(r"/qt6?/Qt\w+\b", command) else core).add(path)
# As regular expressions for run-clang-tidy: each path exactly.
print(" ".join("^" + re.escape(p) + "$" for p in sorted(core)))
print(" ".join("^" + re.escape(p) + "$" for p in sorted(qt)))
PY
)
read -ra core <<<"${lists[0]:-}"
read -ra qt <<<"${lists[1]:-}"
if [ ${#core[@]} -eq 0 ]; then
  echo "tidy: no product sources in $db" >&2
  exit 2
fi

jobs=$(nproc)
dirs='common|link|protocol|image|session|station|config|chooser|calibration|sim|cli|qtview|mainwin'
# The project's own headers only: not Qt's, not the system's, not generated ones.
filter="^$top/($dirs)/"
# GCC's compile commands carry options clang does not know; they are no finding.
common=(-quiet -p build -j "$jobs" -header-filter="$filter"
        -extra-arg=-Wno-unknown-warning-option)

status=0
echo "tidy: ${#core[@]} Qt-free sources, every check"
run-clang-tidy "${common[@]}" "${core[@]}" || status=1
if [ ${#qt[@]} -gt 0 ]; then
  echo "tidy: ${#qt[@]} Qt view sources, function size"
  run-clang-tidy "${common[@]}" -checks='-*,readability-function-size' "${qt[@]}" || status=1
fi
if [ $status -ne 0 ]; then
  echo "tidy: findings above" >&2
fi
exit $status
