#!/usr/bin/env bash
# completion.sh COMPLETION-FILE OLVEX-CLI [BASH-COMPLETION]
# Drives olvex-cli's bash completion as bash does on a Tab: bash-completion
# loaded, the file sourced, the function that `complete` names for olvex-cli
# called with COMP_WORDS, COMP_CWORD, COMP_LINE and COMP_POINT set, and
# COMPREPLY checked. The options it offers are the ones the program's own
# --help lists, and the ports the ones the program's own `ports` lists.
set -uo pipefail
completion=$1
cli=$2
bash_completion=${3:-/usr/share/bash-completion/bash_completion}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

[ -r "$bash_completion" ] || { echo "FAIL: $bash_completion not found: install bash-completion"; exit 1; }
# shellcheck source=/dev/null
. "$bash_completion"
# shellcheck source=/dev/null
. "$completion"

registered=$(complete -p olvex-cli 2>/dev/null) || { echo "FAIL: $completion registers nothing for olvex-cli"; exit 1; }
function=$(sed -n 's/.*-F \([^ ]*\) .*/\1/p' <<<"$registered")
[ -n "$function" ] || { echo "FAIL: no completion function in: $registered"; exit 1; }

# The program as the shell finds it by the name typed.
PATH=$(dirname "$cli"):$PATH
[ "$(command -v olvex-cli)" = "$cli" ] || { echo "FAIL: olvex-cli is not $cli on PATH"; exit 1; }

# What a Tab at the end of LINE offers, one per line, sorted. The line is cut
# into COMP_WORDS as bash cuts it: at blanks, and around the word-break
# characters colon and equals sign, which become words of their own.
offers() {
    local line=$1 word
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMP_WORDS=()
    local -a blanks
    read -r -a blanks <<<"$line"
    for word in "${blanks[@]}"; do
        while read -r piece; do
            COMP_WORDS+=("$piece")
        done < <(grep -oE '[^:=]+|[:=]+' <<<"$word")
    done
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    "$function" olvex-cli "$cur" "$prev" 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

expect() { # line, expected offers (one per line, any order)
    local got want
    got=$(offers "$1")
    want=$(printf '%s' "$2" | sed '/^$/d' | sort)
    [ "$got" = "$want" ] || fail "'$1' offers [$(echo $got)], expected [$(echo $want)]"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/images" "$work/signatures"
touch "$work/images/tally8-2.8.bin" "$work/images/tally16-1.5.bin" "$work/olvex-line" "$work/flash.log" \
    "$work/signatures/tally8-2.8.bin.minisig" "$work/signatures/notes.txt" "$work/ruvo.pub" \
    "$work/ruvo.key"

# The commands the program's help lists under "Commands:".
commands=$("$cli" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' | sort -u)
[ "$(wc -l <<<"$commands")" -ge 4 ] || fail "olvex-cli --help lists only the commands: $(echo $commands)"
expect "olvex-cli " "$commands"
expect "olvex-cli sc" "scan"
expect "olvex-cli -v --log $work/flash.log f" "flash"
expect "olvex-cli -d 00:1a:2b:3c:4d:5e --log=$work/flash.log fl" "flash"

# Every long option the program has, and nothing it does not have.
options=$("$cli" --help | grep -oE '(^|[ ,])--[a-z][a-z-]*' | sed 's/^[ ,]*//' | sort -u)
[ "$(wc -l <<<"$options")" -ge 9 ] || fail "olvex-cli --help lists only: $(echo $options)"
expect "olvex-cli --" "$options"
expect "olvex-cli scan /dev/ttyUSB0 --j" "--json"
expect "olvex-cli flash /dev/ttyUSB0 fw.bin --a" "--all"

# Ports: what `olvex-cli ports` lists on this machine.
ports=$("$cli" ports | awk '{ print $2 }')
echo "ports on this machine: ${ports:-none}"
if [ -n "$ports" ]; then
    expect "olvex-cli scan " "$ports"
    first=$(head -n 1 <<<"$ports")
    expect "olvex-cli flash ${first%?}" "$(grep -F "${first%?}" <<<"$ports")"
fi
# A line no system lists (a simulator's link) is a file.
expect "olvex-cli scan $work/olvex-l" "$work/olvex-line"

# The image is a file; the log is a file; an address and `ports` take nothing.
expect "olvex-cli flash /dev/ttyUSB0 $work/images/tally" \
    $"$work/images/tally16-1.5.bin"$'\n'"$work/images/tally8-2.8.bin"
expect "olvex-cli flash /dev/ttyUSB0 $work/im" "$work/images"
expect "olvex-cli image $work/images/tally1" "$work/images/tally16-1.5.bin"
expect "olvex-cli image fw.bin " ""
expect "olvex-cli scan /dev/ttyUSB0 --log $work/fl" "$work/flash.log"
expect "olvex-cli scan /dev/ttyUSB0 --log=$work/fl" "$work/flash.log"
expect "olvex-cli flash /dev/ttyUSB0 fw.bin --device " ""
expect "olvex-cli flash /dev/ttyUSB0 fw.bin -d 00:1a:2b:3c:4d:5e " ""
expect "olvex-cli flash /dev/ttyUSB0 fw.bin --all --type VT-T" $'VT-TALLY-16\nVT-TALLY-8'
expect "olvex-cli flash --type VT-RELAY /dev/ttyUSB0 $work/im" "$work/images"
# A signature is a .minisig, a trusted key a .pub (or a folder on the way).
expect "olvex-cli image fw.bin --signature $work/signatures/" "$work/signatures/tally8-2.8.bin.minisig"
expect "olvex-cli image fw.bin --trusted-key $work/ru" "$work/ruvo.pub"
expect "olvex-cli flash --trusted-key $work/ruvo.pub /dev/ttyUSB0 $work/im" "$work/images"
expect "olvex-cli scan /dev/ttyUSB0 " ""
expect "olvex-cli ports " ""
expect "olvex-cli --json=" "" # takes no value

if [ $failures -ne 0 ]; then
    echo "$failures completion checks failed"
    exit 1
fi
echo "completion checks passed"
