#!/usr/bin/env bash
# Cross-builds indicator-config.exe and indicator-cli.exe (with indicator-report-pdf.exe, which
# prints its reports) for 64-bit Windows with the Qt and QCustomPlot that scripts/windows/qt.sh
# built, gathers what they need to run into build-windows/dist, and makes
# the installer build-windows/indicator-config-1.0-setup.exe (NSIS: a Start-menu entry and an
# uninstaller) and build-windows/indicator-config-1.0-windows.zip. The simulator and the
# benchmarks need libmodbus and stay Linux programs.
# Usage: scripts/windows/build.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/common.sh"

if [ ! -f "$QT_TOOLCHAIN" ]; then
    echo "No Qt for Windows in $QT_PREFIX: build it once with scripts/windows/qt.sh" >&2
    exit 1
fi
# A build without them would quietly lose the trend's plot and the printed report.
if ! cache_complete; then
    echo "The Qt for Windows in $QT_PREFIX lacks its print support or QCustomPlot:" \
         "scripts/windows/qt.sh brings it up to date in place" >&2
    exit 1
fi
install_host_packages mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build \
    nsis zip qt6-translations-l10n

version=$(sed -n 's/^project(indicator-config VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
build=$repo/build-windows
dist=$build/dist
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

start=$(date +%s)
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$QT_TOOLCHAIN" -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake"
ninja -C "$build" -j2
echo "Windows build: $(elapsed "$start")"

# Where the DLLs that a program names are found: Qt's, then the MinGW runtime's. Any other is
# the system's own (KERNEL32.dll, USER32.dll, ...), which every Windows has.
dll_folders=("$QT_PREFIX/bin" /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)

find_dll() {
    local folder
    for folder in "${dll_folders[@]}"; do
        [ -f "$folder/$1" ] && { echo "$folder/$1"; return 0; }
    done
    return 1
}

# Copies into dist the DLLs that a file imports, and theirs, as objdump reads them.
gather_dlls() {
    local name found
    for name in $(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'); do
        [ -f "$dist/$name" ] && continue
        found=$(find_dll "$name") || continue
        cp "$found" "$dist/"
        gather_dlls "$dist/$name"
    done
}

rm -rf "$dist"
mkdir -p "$dist/plugins/platforms" "$dist/plugins/styles" "$dist/translations"
cp "$build/indicator-config.exe" "$build/indicator-cli.exe" "$build/indicator-report-pdf.exe" "$dist/"
# The window's platform plugin (a headless run uses offscreen), the Windows style, and the
# toolkit's Russian texts; qt.conf puts Qt's prefix in the program's folder to find them. Qt 6
# has Windows' printer support in Qt6PrintSupport.dll itself, with no plugin of its own.
cp "$QT_PREFIX/plugins/platforms/qwindows.dll" "$QT_PREFIX/plugins/platforms/qoffscreen.dll" "$dist/plugins/platforms/"
cp "$QT_PREFIX"/plugins/styles/*.dll "$dist/plugins/styles/" 2>/dev/null || true
cp /usr/share/qt6/translations/qtbase_ru.qm "$dist/translations/"
# Text through Qt's own FreeType engine rather than DirectWrite: a DirectWrite that Qt 6 cannot
# fully use (Wine's, older Windows versions') draws no text in line edits at all, while FreeType
# draws the same glyphs on every Windows.
printf '[Paths]\r\nPrefix = .\r\n[Platforms]\r\nWindowsArguments = fontengine=freetype\r\n' > "$dist/qt.conf"
# The programs and QCustomPlot are GPL-3 or later: their licence goes with them.
cp "$repo/LICENSE" "$dist/LICENSE.txt"
for program in "$dist"/*.exe "$dist"/plugins/*/*.dll; do
    gather_dlls "$program"
done
x86_64-w64-mingw32-strip "$dist"/*.exe
# The plot and its print support went along with the programs that import them.
for needed in "$(basename "$(ls "$QT_PREFIX"/bin/*QCustomPlotQt6*.dll)")" Qt6PrintSupport.dll; do
    [ -f "$dist/$needed" ] || { echo "$needed is not among the programs' DLLs: the trend would have no plot" >&2; exit 1; }
done

setup=$build/indicator-config-$version-setup.exe
makensis -V2 -DVERSION="$version" -DDIST="$dist" -DOUTFILE="$setup" "$here/installer.nsi"
archive=$build/indicator-config-$version-windows.zip
rm -f "$archive"
(cd "$dist" && zip -qr "$archive" .)
echo "Installer: $setup ($(du -h "$setup" | cut -f1)); zip: $archive ($(du -h "$archive" | cut -f1))"
