#!/usr/bin/env bash
# scripts/deps.sh for a user without sudo (a Debian installed with a root password): it must name
# what is missing and the line to run as root, and stop with a failure instead of installing.
# Usage: tests/deps_without_sudo.sh SOURCE-DIR
set -euo pipefail
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
# A PATH without sudo or apt-get, and an id that says "not root" even when the tests run as root.
for tool in bash dpkg-query grep; do ln -s "$(command -v "$tool")" "$bin/"; done
printf '#!/bin/sh\necho 1000\n' >"$bin/id" && chmod +x "$bin/id"

status=0
output=$(PATH=$bin "$1/scripts/deps.sh" indicator-no-such-package 2>&1) || status=$?
echo "$output"
fail() { echo "FAIL: $1"; exit 1; }
[ "$status" -ne 0 ] || fail "exit status 0"
grep -q '^ *apt-get install .*indicator-no-such-package' <<<"$output" || fail "no apt-get line"
! grep -q 'command not found' <<<"$output" || fail "ran a missing command"
