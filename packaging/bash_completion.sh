#!/usr/bin/env bash
# Writes the bash completion of qrv-writer-cli from the program's own help, so
# that it knows every command, option and simulator option the program has:
#   bash_completion.sh PATH/TO/qrv-writer-cli OUTPUT
# It fails, and writes nothing, when the help no longer reads as expected.
set -euo pipefail
cli=$1
out=$2

# "NAME<TAB>TYPE" for each option of a help text. An option line is indented by
# two spaces and starts with a dash; its names are separated by commas, and a
# type name (PATH, FILE, ...) may follow after one space. Options shown as
# "--simulate[=OPTIONS]" take their value after "=" only.
options() {
  awk '/^  -/ {
         form = substr($0, 3); sub(/  .*/, "", form)
         type = ""
         if (match(form, / /)) { type = substr(form, RSTART + 1); form = substr(form, 1, RSTART - 1) }
         sub(/\[=[A-Z]+\]$/, "", form)
         n = split(form, names, ",")
         for (i = 1; i <= n; i++) if (names[i] ~ /^-/) print names[i] "\t" type
       }'
}

# The entries of a section ("Subcommands:", "Positionals:"): the first word of
# each line up to the next blank line.
section() {
  awk -v title="$1" 'tolower($0) == tolower(title) { on = 1; next }
                     on && /^[[:space:]]*$/ { exit }
                     on && /^  [^ ]/ { print $1 }'
}

# The simulator's options, from the list under "OPTIONS is a comma-separated
# list of:". Entries share one indentation; deeper lines continue a
# description. "fail=STEP" becomes "fail=".
sim_options() {
  awk '/OPTIONS is a comma-separated list of:/ { on = 1; next }
       on { match($0, /^ */); depth = RLENGTH
            if (!indent) indent = depth
            if (depth < indent || depth == length($0)) exit
            if (depth == indent) { name = $1; sub(/=.*/, "=", name); print name } }'
}

help=$("$cli" --help)
commands=$(section "Subcommands:" <<<"$help")
global=$(options <<<"$help")
simulate=$(sim_options <<<"$help")
[ -n "$commands" ] || { echo "$0: no commands in '$cli --help'" >&2; exit 1; }
grep -q $'^--simulate\t' <<<"$global" || { echo "$0: no --simulate in '$cli --help'" >&2; exit 1; }
[ -n "$simulate" ] || { echo "$0: no simulator options in '$cli --help'" >&2; exit 1; }

# One line of words, each once.
list() { awk 'NF && !seen[$0]++' | tr '\n' ' ' | sed 's/ $//'; }

mkdir -p "$(dirname "$out")"
{
  echo "# bash completion of qrv-writer-cli. Generated from its --help at build time."
  echo
  printf 'declare -g _qrv_writer_cli_commands=%q\n' "$(list <<<"$commands")"
  printf 'declare -g _qrv_writer_cli_global=%q\n' "$(cut -f1 <<<"$global" | list)"
  printf 'declare -g _qrv_writer_cli_simulate=%q\n' "$(list <<<"$simulate")"
  echo '# The options of each command, and the kind of its argument when it takes one.'
  echo 'declare -gA _qrv_writer_cli_options=() _qrv_writer_cli_argument=()'
  echo '# The type name of the value each option takes.'
  echo 'declare -gA _qrv_writer_cli_value=()'
  all=$global
  for c in $commands; do
    h=$("$cli" "$c" --help)
    o=$(options <<<"$h")
    all+=$'\n'$o
    printf '_qrv_writer_cli_options[%q]=%q\n' "$c" "$(cut -f1 <<<"$o" | list)"
    a=$(section "Positionals:" <<<"$h" | head -n1)
    [ -z "$a" ] || printf '_qrv_writer_cli_argument[%q]=%q\n' "$c" "$a"
  done
  while IFS=$'\t' read -r name type; do
    [ -z "$type" ] || printf '_qrv_writer_cli_value[%q]=%q\n' "$name" "$type"
  done < <(sort -u <<<"$all")
  cat <<'EOF'

# The candidates for a value of kind $1 that starts with $2. (It runs in a
# subshell: the caller sets the completion's options.)
_qrv_writer_cli_values() {
    local kind=$1 v=$2 head
    case $kind in
        STEPS | SIMULATE)
            # A comma-separated list: complete its last item.
            head=${v%"${v##*,}"}
            v=${v##*,}
            local items="blank erase program verify"
            if [[ $kind == SIMULATE ]]; then
                if [[ $v == fail=* ]]; then
                    head+=fail=
                    v=${v#fail=}
                else
                    items=$_qrv_writer_cli_simulate
                fi
            fi
            compgen -P "$head" -W "$items" -- "$v"
            ;;
        *FILE* | *PATH* | *DIR*)
            compgen -f -- "$v"
            ;;
    esac
}

_qrv_writer_cli() {
    # Words are split at blanks only, so that "--simulate=fail=erase" is one.
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -ra words <<<"$line"
    local cur=''
    [[ $line == *[[:space:]] ]] || { cur=${words[-1]}; unset 'words[-1]'; }

    # Walk the words before the cursor: the command in force, whether it still
    # waits for its argument, and the option whose value comes next.
    local w cmd='' argument='' value=''
    for w in "${words[@]:1}"; do
        if [[ -n $value ]]; then
            value=
        elif [[ $w == -* ]]; then
            [[ $w != *=* && -n ${_qrv_writer_cli_value[$w]:-} ]] && value=$w
        elif [[ -n $argument ]]; then
            argument=
        elif [[ " $_qrv_writer_cli_commands " == *" $w "* ]]; then
            cmd=$w
            argument=${_qrv_writer_cli_argument[$w]:-}
        fi
    done

    local option='' v=$cur
    if [[ -n $value ]]; then
        option=$value
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        v=${cur#*=}
    fi
    local kind=''
    case $option in
        '') ;;
        --steps) kind=STEPS ;;
        --simulate) kind=SIMULATE ;;
        *) kind=${_qrv_writer_cli_value[$option]:-} ;;
    esac

    # A value (of the option, or the command's argument), an option or a command.
    local values='' prefix=''
    if [[ -n $option ]]; then
        values=$kind
        prefix=${cur%"$v"}
    elif [[ $cur != -* ]]; then
        values=$argument
    fi
    COMPREPLY=()
    if [[ -n $option || -n $values ]]; then
        [[ $values == *FILE* || $values == *PATH* || $values == *DIR* ]] &&
            compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(_qrv_writer_cli_values "$values" "$v")
        COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
    elif [[ $cur == -* ]]; then
        local opts="$_qrv_writer_cli_global ${cmd:+${_qrv_writer_cli_options[$cmd]}}"
        mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W "$_qrv_writer_cli_commands" -- "$cur")
    fi

    # bash replaces only what follows the last word-break character (such as
    # "=") of the word being completed: drop what comes before it.
    local i keep=0
    for ((i = 0; i < ${#cur}; i++)); do
        [[ $COMP_WORDBREAKS == *"${cur:i:1}"* ]] && keep=$((i + 1))
    done
    for i in "${!COMPREPLY[@]}"; do
        COMPREPLY[i]=${COMPREPLY[i]:keep}
        [[ ${COMPREPLY[i]} == *= ]] && compopt -o nospace 2>/dev/null
    done
    return 0
}
complete -F _qrv_writer_cli qrv-writer-cli
EOF
} >"$out.tmp"
mv "$out.tmp" "$out"
