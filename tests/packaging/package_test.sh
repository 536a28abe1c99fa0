#!/usr/bin/env bash
# Builds the two Debian packages from a build directory with one cpack run
# and checks them: their file lists and control fields, lintian and
# desktop-file-validate, and the unpacked programs, udev rule, man pages and
# bash completion.
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
  { cat "$work/cpack.log"; fail "cpack could not build the packages"; }
arch=$(dpkg --print-architecture)
cli_deb=$work/qrv-writer-cli_${version}_$arch.deb
gui_deb=$work/qrv-writer_${version}_$arch.deb
built=$(cd "$work" && ls ./*.deb 2>/dev/null | sort | tr '\n' ' ')
[ "$built" = "./qrv-writer-cli_${version}_$arch.deb ./qrv-writer_${version}_$arch.deb " ] ||
  fail "one cpack run builds exactly the two packages; built: $built"

echo "== files"
# files DEB: the package holds exactly the files read from stdin.
files() {
  dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
  sort >"$work/expected"
  diff -u "$work/expected" "$work/files" ||
    fail "$(basename "$1"): the files differ (- expected, + packaged)"
}
files "$cli_deb" <<'EOF'
./usr/bin/qrv-writer-cli
./usr/lib/udev/rules.d/60-qrv-writer.rules
./usr/share/bash-completion/completions/qrv-writer-cli
./usr/share/doc/qrv-writer-cli/README.md
./usr/share/doc/qrv-writer-cli/changelog.gz
./usr/share/doc/qrv-writer-cli/copyright
./usr/share/man/man1/qrv-writer-cli.1.gz
./usr/share/metainfo/invalid.localhost.QrvWriterCli.metainfo.xml
EOF
files "$gui_deb" <<'EOF'
./usr/bin/qrv-writer
./usr/share/applications/qrv-writer.desktop
./usr/share/doc/qrv-writer/README.md
./usr/share/doc/qrv-writer/changelog.gz
./usr/share/doc/qrv-writer/copyright
./usr/share/icons/hicolor/scalable/apps/qrv-writer.svg
./usr/share/man/man1/qrv-writer.1.gz
./usr/share/metainfo/invalid.localhost.QrvWriter.metainfo.xml
EOF

echo "== control"
# control DEB NAME: its fields into $work/control; the name and the version.
control() {
  dpkg-deb -f "$1" Package Version Depends | tee "$work/control"
  grep -qx "Package: $2" "$work/control" || fail "package name $2"
  grep -qx "Version: $version" "$work/control" || fail "$2: version"
}
# depends TEXT NAME: the Depends line of the last control holds TEXT.
depends() {
  grep "^Depends:" "$work/control" | grep -qF "$1" || fail "$2: Depends lacks $1"
}
control "$cli_deb" qrv-writer-cli
# dpkg-shlibdeps found the libraries the program links; a headless line PC
# needs no Qt and no X.
for lib in libhidapi-hidraw0 libstdc++6; do depends "$lib" qrv-writer-cli; done
if grep -Eq "^Depends:.*\b(libqt|libx11|libxcb|libgl)" "$work/control"; then
  fail "qrv-writer-cli depends on Qt or X"
fi
control "$gui_deb" qrv-writer
for lib in libqt6widgets6 libhidapi-hidraw0 libudev1 libstdc++6; do depends "$lib" qrv-writer; done
# Its captions need a CJK font; the udev rule comes with the command-line package.
depends "fonts-noto-cjk | fonts-wqy-microhei" qrv-writer
depends "qrv-writer-cli (= $version)" qrv-writer

echo "== lintian"
# Errors and warnings fail; info tags are not shown.
lintian --fail-on error,warning --tag-display-limit 0 "$cli_deb" "$gui_deb" ||
  fail "lintian reports errors"

echo "== unpacked"
root=$work/root
dpkg-deb -x "$cli_deb" "$root"
dpkg-deb -x "$gui_deb" "$root"
# The rule: the user at the seat, and the members of plugdev, open the programmer.
rule=$root/usr/lib/udev/rules.d/60-qrv-writer.rules
for match in 'KERNEL=="hidraw*"' 'SUBSYSTEM=="usb"'; do
  line=$(grep -F "$match, ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"5750\"," "$rule") ||
    fail "the udev rule lacks its $match line"
  for key in 'TAG+="uaccess"' 'GROUP="plugdev"' 'MODE="0660"'; do
    [[ "$line" == *"$key"* ]] || fail "the udev rule's $match line lacks $key: $line"
  done
done
for id in invalid.localhost.QrvWriter invalid.localhost.QrvWriterCli; do
  grep -q "<id>$id</id>" "$root/usr/share/metainfo/$id.metainfo.xml" || fail "AppStream id $id"
done
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
echo "packages ok: $cli_deb $gui_deb"
