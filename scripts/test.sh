#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: AddressSanitizer and UBSan, in build-sanitize/)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-sanitize
    options=(-DCMAKE_BUILD_TYPE=Debug)
    options+=(-DINDICATOR_SANITIZE=ON)
fi

scripts/deps.sh
# A compiler cache, where the machine has one, serves a second build of the same sources, in
# this folder or in another clone of it.
if command -v ccache >/dev/null; then
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$PWD"
fi
cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" -j"$(nproc)"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure
