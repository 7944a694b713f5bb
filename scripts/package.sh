#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package build/indicator-config_<version>_<arch>.deb
# with the configurator, indicator-sim, the menu entry, the icons and the manual pages.
# Install it with: sudo apt install ./build/indicator-config_<version>_<arch>.deb
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
grep -q '^MODBUS_FOUND:INTERNAL=1$' build/CMakeCache.txt || {
    echo "libmodbus was not found: the package would lack indicator-sim" >&2
    exit 1
}
cmake --build build -j"$(nproc)"
rm -f build/indicator-config_*.deb
(cd build && cpack -G DEB)
echo "Package: $(ls build/indicator-config_*.deb)"
