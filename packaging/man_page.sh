#!/usr/bin/env bash
# Writes the man page of one program from its own help and the hand-written
# sections of PAGE.man, so that every option and command the program has
# appears in it by itself:
#   man_page.sh PATH/TO/PROGRAM NAME-LINE SECTIONS.man OUTPUT VERSION
# OPTIONS lists the program's options; COMMANDS, when the program has
# subcommands, each command with its arguments and options; SIMULATOR the
# OPTIONS of --simulate. The help is read with HOME=~ and without
# XDG_DATA_HOME, so that default paths read as the user's, not the builder's.
# It fails, and writes nothing, when the help no longer reads as expected.
set -euo pipefail
program=$1
name_line=$2
sections=$3
out=$4
version=$5
name=$(basename "$program")

help() {
  env -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME='~' \
    "$program" "$@" --help
}

# Roff text: backslashes and dashes escaped, no line starting with a control
# character.
roff() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

# The entries of one section of a help text ("Options:", "Positionals:") as
# ".TP" paragraphs: the names in bold, the type in italics, the description.
# --help itself is left out when skip_help is 1.
entries() {
  awk -v title="$1" -v skip_help="$2" '
    $0 == title { on = 1; next }
    on && /^[[:space:]]*$/ { exit }
    on && /^  [^ ]/ {
      line = substr($0, 3)
      split(line, parts, /  +/)
      form = parts[1]
      desc = substr(line, length(form) + 1); sub(/^ +/, "", desc)
      if (skip_help == 1 && form ~ /--help/) next
      type = ""
      if (match(form, / /)) { type = substr(form, RSTART + 1); form = substr(form, 1, RSTART - 1) }
      gsub(/,/, ", ", form)
      print ".TP"
      print "\\fB" form "\\fR" (type == "" ? "" : " \\fI" type "\\fR")
      print (desc == "" ? "(no description)" : desc)
    }'
}

# The text of a command's help outside its sections (its footer), on one line.
footer() {
  awk 'NR <= 2 { next }
       /^(Options|Positionals|Subcommands):$/ { section = 1; next }
       /^[[:space:]]*$/ { section = 0; next }
       !section { text = text (text == "" ? "" : " ") $0 }
       END { print text }'
}

# The simulator's OPTIONS: "name   description" at one indent, continued
# further right.
simulator() {
  awk '/OPTIONS is a comma-separated list of:/ { on = 1; next }
       on && /^[[:space:]]*$/ { exit }
       on {
         match($0, /^ */); indent = RLENGTH; text = substr($0, indent + 1)
         if (indent == 26) {
           if (item != "") print ".TP\n\\fB" item "\\fR\n" desc
           item = text; sub(/ .*/, "", item)
           desc = substr(text, length(item) + 1); sub(/^ +/, "", desc)
         } else if (indent > 26) {
           desc = desc (desc == "" ? "" : " ") text
         }
       }
       END { if (item != "") print ".TP\n\\fB" item "\\fR\n" desc }'
}

main_help=$(help)
summary=$(printf '%s\n' "$main_help" | head -n1)
usage=$(printf '%s\n' "$main_help" | sed -n 's/^Usage: //p')
[ -n "$usage" ] || { echo "man_page.sh: $name --help shows no usage line" >&2; exit 1; }
options=$(printf '%s\n' "$main_help" | entries "Options:" 0)
[ -n "$options" ] || { echo "man_page.sh: $name --help lists no options" >&2; exit 1; }
sim=$(printf '%s\n' "$main_help" | simulator)
[ -n "$sim" ] || { echo "man_page.sh: $name --help lists no simulator options" >&2; exit 1; }
commands=$(printf '%s\n' "$main_help" |
  awk '$0 == "Subcommands:" { on = 1; next } on && /^[[:space:]]*$/ { exit } on { print $1 }')

# Escapes the text lines of roff made by entries/simulator (not their requests).
escape_body() {
  awk '/^\.TP$/ { print; next }
       /^\\fB/ { gsub(/-/, "\\-"); print; next }
       { gsub(/\\/, "\\e"); gsub(/-/, "\\-"); if ($0 ~ /^[.'"'"']/) $0 = "\\&" $0; print }'
}

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
{
  echo ".TH $(echo "$name" | tr 'a-z' 'A-Z' | roff) \"1\" \"\" \"$(echo "$name $version" | roff)\" \"User Commands\""
  echo ".SH NAME"
  echo "$name \\- $name_line" | sed 's/\([^\\]\)-/\1\\-/g'
  echo ".SH SYNOPSIS"
  echo ".B $(printf '%s' "$name" | roff)"
  printf '%s\n' "${usage#"$name "}" | roff
  echo ".SH DESCRIPTION"
  printf '%s\n' "$summary" | roff
  echo ".SH OPTIONS"
  printf '%s\n' "$options" | escape_body
  if [ -n "$commands" ]; then
    echo ".SH COMMANDS"
    echo "Commands run in order on one connection; the same command may be given twice."
    for c in $commands; do
      h=$(help "$c")
      desc=$(printf '%s\n' "$h" | head -n1)
      cusage=$(printf '%s\n' "$h" | sed -n "s/^Usage: $name $c //p")
      echo ".SS \"$(printf '%s' "$c" | roff)\""
      printf '%s\n' "$desc" | roff
      echo ".PP"
      echo ".B $name $c" | sed 's/-/\\-/g'
      printf '%s\n' "$cusage" | roff
      positionals=$(printf '%s\n' "$h" | entries "Positionals:" 1 | awk '
        /^\.TP$/ { tp = $0; next } /^\\fB/ { head = $0; next }
        $0 != "(no description)" { print tp; print head; print }')
      [ -z "$positionals" ] || printf '%s\n' "$positionals" | escape_body
      printf '%s\n' "$h" | entries "Options:" 1 | escape_body
      foot=$(printf '%s\n' "$h" | footer)
      if [ -n "$foot" ]; then
        echo ".PP"
        printf '%s\n' "$foot" | roff
      fi
    done
  fi
  echo ".SH SIMULATOR"
  echo "\\fB\\-\\-simulate\\fR[=\\fIOPTIONS\\fR] runs against the built\\-in simulated programmer"
  echo "instead of USB hardware. \\fIOPTIONS\\fR is a comma\\-separated list of:"
  printf '%s\n' "$sim" | escape_body
  cat "$sections"
} >"$tmp"
mv "$tmp" "$out"
trap - EXIT
