#!/usr/bin/env bash
# Installs what is missing and builds the configurator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh qt6-qpa-plugins
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
