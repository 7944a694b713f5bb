#!/usr/bin/env bash
# Cross-builds Qt 6.4.2 (Core, Gui, Widgets, Network, PrintSupport, Test) for 64-bit Windows
# from Debian's own qt6-base source into ~/.cache/indicator-config/qt-mingw, and QCustomPlot
# 2.1.0, which draws the trend, from Debian's own qcustomplot source as a DLL into the same
# prefix, where CMake finds it as on Linux (QCustomPlotQt6Config.cmake). What is there is
# reused: a cache made before print support and QCustomPlot were part of it is brought up to
# date in place, Qt's own build folder reconfigured and only what changed rebuilt. A whole Qt
# takes most of an hour on two busy cores, so it is not part of CI; run it once, at low priority:
#     nice -n 19 ionice -c3 scripts/windows/qt.sh > qt.log 2>&1
# Usage: scripts/windows/qt.sh [-jN]   (default -j2)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/common.sh"
jobs=${1:--j2}

if cache_complete; then
    echo "Qt and QCustomPlot for Windows are already built: $QT_PREFIX ($(du -sh "$QT_PREFIX" | cut -f1))"
    exit 0
fi
start=$(date +%s)
install_host_packages mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 cmake ninja-build qt6-base-dev qt6-base-dev-tools xz-utils dpkg-dev

# Debian's source packages, through a deb-src list of our own: the machine's apt setup stays as
# it is. The mirror is the one the machine already uses.
# download_source PACKAGE VERSION: its files into the cache, that version or else the one there is.
download_source() {
    local lists=$CACHE_DIR/apt-src uri
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    [ -n "$uri" ] || uri=http://deb.debian.org/debian
    mkdir -p "$lists/lists/partial"
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s bookworm main\n' "$uri" \
        > "$lists/sources.list"
    local options=(-o Dir::Etc::sourcelist="$lists/sources.list" -o Dir::Etc::sourceparts=-
                   -o Dir::State::Lists="$lists/lists" -o Dir::Cache::archives="$lists")
    apt-get "${options[@]}" update -qq
    (cd "$CACHE_DIR" && apt-get "${options[@]}" source --download-only "$1=$2" \
        || apt-get "${options[@]}" source --download-only "$1")
}

fetch_source() {
    [ -d "$QT_SRC" ] && return 0
    download_source qt6-base 6.4.2+dfsg-10
    tar -C "$CACHE_DIR" -xf "$CACHE_DIR"/qt6-base_6.4.2+dfsg.orig.tar.xz
}

# QCustomPlot as Debian builds it: its upstream source with Debian's patches, which add the
# CMake build and the QCustomPlotQt6 package that the Linux build finds.
fetch_qcustomplot() {
    [ -f "$QCP_SRC/CMakeLists.txt" ] && return 0
    rm -rf "$QCP_SRC"
    download_source qcustomplot "$QCP_VERSION-3.1"
    local dsc
    dsc=$(ls "$CACHE_DIR"/qcustomplot_"$QCP_VERSION"-*.dsc | tail -1)
    dpkg-source --no-check -x "$dsc" "$QCP_SRC"
}

# Debian's repacked source omits src/3rdparty/wintab (wintab.h), which the windows and direct2d
# platform plugins include for Wintab tablets: those two are built without it (pen input through
# the Windows pointer API stays). Nothing else in Qt changes.
patch_wintab() {
    local platforms=$QT_SRC/src/plugins/platforms
    grep -q QT_WINDOWS_NO_WINTAB "$platforms/windows/qwindowscontext.cpp" && return 0
    sed -i 's/^#if QT_CONFIG(tabletevent)$/#if QT_CONFIG(tabletevent) \&\& !defined(QT_WINDOWS_NO_WINTAB)/' \
        "$platforms/windows/qwindowscontext.cpp"
    sed -i '10s/^#if QT_CONFIG(tabletevent)$/#if QT_CONFIG(tabletevent) \&\& !defined(QT_WINDOWS_NO_WINTAB)/' \
        "$platforms/windows/qwindowspointerhandler.cpp"
    local plugin dir target
    for plugin in windows:QWindowsIntegrationPlugin direct2d:QWindowsDirect2DIntegrationPlugin; do
        dir=${plugin%%:*} target=${plugin##*:}
        sed -i "s#^qt_internal_extend_target($target CONDITION QT_FEATURE_tabletevent\$#& AND EXISTS \${QtBase_SOURCE_DIR}/src/3rdparty/wintab/wintab.h#" \
            "$platforms/$dir/CMakeLists.txt"
        printf '\nif(NOT EXISTS ${QtBase_SOURCE_DIR}/src/3rdparty/wintab/wintab.h)\n    target_compile_definitions(%s PRIVATE QT_WINDOWS_NO_WINTAB)\nendif()\n' \
            "$target" >> "$platforms/$dir/CMakeLists.txt"
    done
}

# Qt's own toolchain file keeps the path of this one; a copy in the cache outlives the checkout.
configure_qt() {
    mkdir -p "$QT_BUILD"
    cp "$repo/cmake/mingw-w64.cmake" "$CACHE_DIR/"
    cmake -S "$QT_SRC" -B "$QT_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$CACHE_DIR/mingw-w64.cmake" \
        -DCMAKE_INSTALL_PREFIX="$QT_PREFIX" -DCMAKE_BUILD_TYPE=Release \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF \
        -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_testlib=ON -DFEATURE_printsupport=ON \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_openssl=OFF -DFEATURE_schannel=ON \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
        -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_doubleconversion=OFF -DFEATURE_zstd=OFF -DFEATURE_brotli=OFF \
        -DFEATURE_network=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
}

# A DLL built by the same MinGW with the Qt above, installed into Qt's prefix.
build_qcustomplot() {
    cmake -S "$QCP_SRC" -B "$QCP_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSE_QT_VERSION=6 \
        -DCMAKE_TOOLCHAIN_FILE="$QT_TOOLCHAIN" -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
        -DCMAKE_INSTALL_PREFIX="$QT_PREFIX"
    ninja -C "$QCP_BUILD" "$jobs"
    cmake --install "$QCP_BUILD"
}

# Qt first, whole or brought up to date: configuring an existing build folder again changes
# only what its options changed (print support added to a cache from before), and ninja then
# builds only that.
if ! qt_complete; then
    fetch_source
    patch_wintab
    configure_qt
    ninja -C "$QT_BUILD" "$jobs"
    cmake --install "$QT_BUILD"
    echo "Qt for Windows built in $(elapsed "$start"): $QT_PREFIX"
fi
if [ ! -f "$QCP_CONFIG" ]; then
    fetch_qcustomplot
    build_qcustomplot
    echo "QCustomPlot for Windows built: $QT_PREFIX/bin/$(basename "$(ls "$QT_PREFIX"/bin/*QCustomPlotQt6*.dll)")"
fi
echo "Qt and QCustomPlot for Windows ready in $(elapsed "$start"): $QT_PREFIX ($(du -sh "$QT_PREFIX" | cut -f1))"
