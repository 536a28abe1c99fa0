#!/usr/bin/env bash
# Builds the Debian package from a build directory and checks it: its file
# list and control fields, lintian and desktop-file-validate, and the unpacked
# programs, man page and bash completion.
#   package_test.sh BUILD_DIR SCRATCH_DIR VERSION
set -euo pipefail
build=$1
work=$2
version=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the package"; }
deb=$work/qrv-writer_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb; built: $(ls "$work"/*.deb 2>/dev/null)"

echo "== files"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
sort >"$work/expected" <<'EOF'
./lib/udev/rules.d/60-qrv-writer.rules
./usr/bin/qrv-writer
./usr/bin/qrv-writer-cli
./usr/share/applications/qrv-writer.desktop
./usr/share/bash-completion/completions/qrv-writer-cli
./usr/share/doc/qrv-writer/changelog.gz
./usr/share/doc/qrv-writer/copyright
./usr/share/icons/hicolor/scalable/apps/qrv-writer.svg
./usr/share/man/man1/qrv-writer-cli.1.gz
./usr/share/man/man1/qrv-writer.1.gz
./usr/share/metainfo/qrv-writer.metainfo.xml
./usr/share/qrv-writer-cli/qrv-writer-cli.schema.json
EOF
diff -u "$work/expected" "$work/files" || fail "the package's files differ (- expected, + packaged)"

echo "== control"
dpkg-deb -f "$deb" Package Version Depends | tee "$work/control"
grep -qx "Package: qrv-writer" "$work/control" || fail "package name"
grep -qx "Version: $version" "$work/control" || fail "version"
# dpkg-shlibdeps found the libraries the programs link.
for lib in libqt6widgets6 libhidapi-hidraw0 libudev1 libstdc++6; do
  grep -q "^Depends:.*\b$lib\b" "$work/control" || fail "Depends lacks $lib"
done

echo "== lintian"
# Errors and warnings fail; info tags are not shown.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== unpacked"
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/qrv-writer.desktop" || fail "desktop entry"
first=$("$root/usr/bin/qrv-writer-cli" --version | head -n1)
[ "$first" = "qrv-writer-cli $version" ] || fail "qrv-writer-cli --version: $first"
# The window's --version (which help2man reads) needs no display.
first=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/qrv-writer" --version |
  head -n1)
[ "$first" = "qrv-writer $version" ] || fail "qrv-writer --version: $first"
"$root/usr/bin/qrv-writer-cli" --simulate status >"$work/status" || fail "--simulate status"
grep -q "^checksum: " "$work/status" || fail "--simulate status printed: $(cat "$work/status")"
zcat "$root/usr/share/man/man1/qrv-writer-cli.1.gz" >"$work/man"
grep -q '^\.TH QRV-WRITER-CLI "1"' "$work/man" || fail "man page header"
grep -q 'download' "$work/man" || fail "the man page lacks the commands"
grep -q 'no\\-chip' "$work/man" || fail "the man page lacks the simulator's options"

echo "== bash completion"
# Each candidate is what bash puts in place of the word after its last "="
# (bash's own COMP_WORDBREAKS).
complete_line() {
  bash -c 'source "$1"; COMP_LINE=$2; COMP_POINT=${#2}; _qrv_writer_cli; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/qrv-writer-cli" "$1"
}
expect() {
  local got
  got=$(complete_line "$1")
  [ "$got" = "$2" ] || fail "completing '$1': got '$got', expected '$2'"
}
commands=$(complete_line "qrv-writer-cli ")
for c in status download; do
  [[ " $commands " == *" $c "* ]] || fail "completion lacks the command $c: $commands"
done
# Every command it offers is one the program has.
for c in $commands; do
  "$root/usr/bin/qrv-writer-cli" "$c" --help >/dev/null || fail "completion offers '$c'"
done
expect "qrv-writer-cli --st" "--steps"
expect "qrv-writer-cli --steps blank,e" "blank,erase"
expect "qrv-writer-cli --simulate=no-chip,fa" "no-chip,fail="
expect "qrv-writer-cli --simulate=fail=ver" "verify"
expect "qrv-writer-cli info $root/usr/share/doc/qrv-writer/cop" "$root/usr/share/doc/qrv-writer/copyright"
expect "qrv-writer-cli info x.hex sta" "status"
echo "package ok: $deb"
