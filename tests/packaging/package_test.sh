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
./usr/share/qrv-writer-cli/qrv-writer-cli.schema.json
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
# The window's --version and --help (which the man page is made from) need no display.
first=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/qrv-writer" --version |
  head -n1)
[ "$first" = "qrv-writer $version" ] || fail "qrv-writer --version: $first"
"$root/usr/bin/qrv-writer-cli" --simulate status >"$work/status" || fail "--simulate status"
grep -q "^checksum: " "$work/status" || fail "--simulate status printed: $(cat "$work/status")"
echo "== man pages"
# man_page NAME: the page as text (no hyphenation, so that words stay whole).
man_page() {
  zcat "$root/usr/share/man/man1/$1.1.gz" >"$work/$1.man"
  MANWIDTH=200 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$work/$1.man" 2>"$work/$1.warnings" |
    col -b >"$work/$1.txt"
  [ ! -s "$work/$1.warnings" ] || fail "$1.1: $(cat "$work/$1.warnings")"
}
# section NAME TITLE: the text of one section of a man page.
section() {
  awk -v title="$2" '$0 == title { on = 1; next } on && /^[A-Z]/ { exit } on' "$work/$1.txt"
}
for page in qrv-writer-cli qrv-writer; do
  man_page "$page"
  grep -q "^\.TH $(echo "$page" | tr 'a-z' 'A-Z' | sed 's/-/\\\\-/g') \"1\"" "$work/$page.man" ||
    fail "$page.1: header"
  for title in NAME SYNOPSIS DESCRIPTION OPTIONS SIMULATOR "EXIT STATUS" FILES ENVIRONMENT \
               EXAMPLES "SEE ALSO"; do
    grep -qx "$title" "$work/$page.txt" || fail "$page.1 lacks the section $title"
  done
  # The default firmware file is the user's, not the builder's.
  grep -q '/root/\|/home/' "$work/$page.txt" && fail "$page.1 names the builder's home"
  grep -q '~/.local/share/qrv-writer/programmer-firmware.bin' "$work/$page.txt" ||
    fail "$page.1: the default firmware file"
  grep -q 'XDG_DATA_HOME' "$work/$page.txt" || fail "$page.1: XDG_DATA_HOME"
  # The simulator's options have a section of their own, not among the program's.
  section "$page" OPTIONS | grep -q 'no-chip\|latency-us' && fail "$page.1: simulator options under OPTIONS"
  for option in no-chip fail=STEP latency-us=N state=FILE; do
    section "$page" SIMULATOR | grep -q "^ *$option\$" || fail "$page.1: SIMULATOR lacks $option"
  done
done
for title in COMMANDS "JSON OUTPUT" "PRODUCTION LOG"; do
  grep -qx "$title" "$work/qrv-writer-cli.txt" || fail "qrv-writer-cli.1 lacks the section $title"
done
# Each command with its options.
commands=$(section qrv-writer-cli COMMANDS)
for entry in "download" "read-chip" "--raw" "export" "--auto-steps" "--user-code" "merge" "--format" \
             "chooser-word" "--model" "--hard-lock" "calibrate"; do
  grep -q -- "^ *$entry\b" <<<"$commands" || fail "qrv-writer-cli.1: COMMANDS lacks $entry"
done
exits=$(section qrv-writer-cli "EXIT STATUS")
for code in 0 1 2 3 4 130; do
  grep -qE "^ *$code( |$)" <<<"$exits" || fail "qrv-writer-cli.1: EXIT STATUS lacks $code"
done
grep -q 'time,programmer,model,checksum,steps,outcome' "$work/qrv-writer-cli.txt" ||
  fail "qrv-writer-cli.1: the log's header line"
grep -q '"command":"auto","programmer":.*"error":' "$work/qrv-writer-cli.txt" || fail "qrv-writer-cli.1: JSON errors"

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
expect "qrv-writer-cli --ste" "--steps"
expect "qrv-writer-cli --steps blank,e" "blank,erase"
expect "qrv-writer-cli --simulate=no-chip,fa" "no-chip,fail="
expect "qrv-writer-cli --simulate=fail=ver" "verify"
expect "qrv-writer-cli info $root/usr/share/doc/qrv-writer/cop" "$root/usr/share/doc/qrv-writer/copyright"
expect "qrv-writer-cli info x.hex sta" "status"
echo "packages ok: $cli_deb $gui_deb"
