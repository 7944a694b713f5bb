#!/usr/bin/env bash
# Installs the Debian packages that building and running need, when any is missing.
# Usage: scripts/deps.sh [extra packages...]
set -euo pipefail

# dpkg-dev (dpkg-shlibdeps), file (CPack runs it to find the binaries for dpkg-shlibdeps) and
# desktop-file-utils: the package and its tests. qt6-translations-l10n holds qtbase_ru.qm, the
# toolkit's own texts in Russian. libqcustomplot-dev draws the live pages' trend (its Qt 6 build).
# qt6-base-private-dev: QWindowSystemInterface, through which the window tests click as the
# platform does.
packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-private-dev qt6-serialport-dev qt6-translations-l10n libmodbus-dev
          libqcustomplot-dev dpkg-dev file desktop-file-utils "$@")

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    # A Debian installed with a root password has no sudo: say what to run rather than fail on it.
    if ! command -v sudo >/dev/null; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Without sudo, install them as root (su -), then run the script again:" >&2
        echo "    apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
# A mirror caught mid-sync fails one index of many: the install below still finds what it
# needs in the others, or says what it lacks.
"${as_root[@]}" apt-get update -qq -o DPkg::Lock::Timeout=600 || echo "apt-get update failed in part; installing from the lists at hand" >&2
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
