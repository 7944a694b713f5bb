#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what an installation would get: the
# programs in /usr/bin, the menu entry, the icons, the manual pages, the command line's bash
# completion and the helper that prints its reports to PDF, the udev rule for USB serial
# adapters, and dependencies that dpkg-shlibdeps read from the libraries the programs link, the
# display plugin's among them.
# Usage: tests/package_contents.sh BUILD-DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
deb=$(find "$out" -maxdepth 1 -name 'indicator-config_*_*.deb')
[ -n "$deb" ] || { echo "no indicator-config_<version>_<arch>.deb in:"; ls "$out"; exit 1; }
echo "built $(basename "$deb")"

expected=(
    ./usr/bin/indicator-config
    ./usr/share/applications/indicator-config.desktop
    ./usr/share/icons/hicolor/scalable/apps/indicator-config.svg
    ./usr/share/icons/hicolor/48x48/apps/indicator-config.png
    ./usr/share/man/man1/indicator-config.1.gz
    ./usr/lib/udev/rules.d/70-indicator-config.rules
    ./usr/bin/indicator-cli
    ./usr/share/man/man1/indicator-cli.1.gz
    ./usr/share/bash-completion/completions/indicator-cli
    ./usr/libexec/indicator-config/indicator-report-pdf
    ./usr/share/doc/indicator-config/copyright
)
if [ -e "$build/indicator-sim" ]; then
    expected+=(./usr/bin/indicator-sim ./usr/share/man/man1/indicator-sim.1.gz)
fi

contents=$(dpkg-deb --contents "$deb" | awk '{ print $NF }')
passed=0 failed=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then passed=$((passed + 1)); else echo "FAIL: $1"; failed=$((failed + 1)); fi
}
for path in "${expected[@]}"; do
    check "$path in the package" grep -qxF "$path" <<<"$contents"
done

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
check "the Qt Widgets library among the dependencies" grep -q 'libqt6widgets6' <<<"$depends"
check "the Qt SerialPort library among the dependencies" grep -q 'libqt6serialport6' <<<"$depends"
if grep -q '^QCustomPlotQt6_DIR:PATH=/' "$build/CMakeCache.txt"; then
    check "the plotting library among the dependencies" grep -q 'libqcustomplot2.1-qt6' <<<"$depends"
fi
check "the toolkit's Russian texts among the dependencies" grep -qE '(^|, )qt6-translations-l10n( |,|$)' <<<"$depends"
# The window opens only with Qt's X11 display plugin, which a distribution may ship in a package
# that the Qt libraries merely recommend: the one that holds it here must be a dependency.
xcb=$(dpkg -S '*/qt6/plugins/platforms/libqxcb.so' 2>/dev/null | head -n 1 | cut -d: -f1 || true)
check "the display plugin's package (${xcb:-none holds libqxcb.so}) among the dependencies" \
    grep -qE "(^|, )${xcb:-libqxcb.so}( |,|$)" <<<"$depends"

workdir="$out/files"
dpkg-deb --extract "$deb" "$workdir"
png="$workdir/usr/share/icons/hicolor/48x48/apps/indicator-config.png"
# A PNG's IHDR chunk holds the width and height as big-endian 32-bit numbers at offset 16.
check "the PNG icon is 48 by 48" [ "$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')" = 0000003000000030 ]
check "the udev rule sets the FTDI latency timer to 1 ms" \
    grep -q 'SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1"' \
    "$workdir/usr/lib/udev/rules.d/70-indicator-config.rules"
# udevadm verify came with systemd 253; where it is missing (Debian 12 has 252), the rule goes unchecked.
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    check "the udev rule parses" udevadm verify "$workdir/usr/lib/udev/rules.d/70-indicator-config.rules"
fi

completion="$workdir/usr/share/bash-completion/completions/indicator-cli"
check "the completion knows the commands and the catalogue's keys" \
    grep -q 'commands="list read write.*keys=".*mode.top_range' <(tr '\n' ' ' <"$completion")
check "the completion is bash" bash -n "$completion"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
