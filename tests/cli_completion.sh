#!/usr/bin/env bash
# What the generated bash completion of indicator-cli offers as a user presses Tab.
# Usage: tests/cli_completion.sh COMPLETION-FILE
set -u
source "$1"
failed=0
offers() { # offers "WORD..." EXPECTED: completes the last word
    local line=($1)
    COMP_WORDS=("${line[@]}")
    [[ $1 == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1} COMPREPLY=()
    _indicator_cli
    if [ "${COMPREPLY[*]}" != "$2" ]; then
        echo "FAIL: \"$1\" offers \"${COMPREPLY[*]}\", not \"$2\""
        failed=1
    fi
}
offers "indicator-cli --port /dev/ttyUSB0 re" "read"
offers "indicator-cli read mode.to" "mode.top_range"
offers "indicator-cli write port.par" "port.parity="
offers "indicator-cli --baud 19" "19200"
offers "indicator-cli load --d" "--dry-run"
offers "indicator-cli watch --c" "--count --csv"
offers "indicator-cli listen --d" "--duration"
exit $failed
