# Sourced by the scripts beside it: where the Windows cross build keeps its files, and the host
# packages it needs. These stay out of scripts/deps.sh: the Linux build needs none of them.
CACHE_DIR=${INDICATOR_WIN_CACHE:-$HOME/.cache/indicator-config}
QT_SRC=$CACHE_DIR/qtbase-everywhere-src-6.4.2
QT_BUILD=$CACHE_DIR/build-qtbase
QT_PREFIX=$CACHE_DIR/qt-mingw
QT_TOOLCHAIN=$QT_PREFIX/lib/cmake/Qt6/qt.toolchain.cmake
# QCustomPlot, which draws the trend, from Debian's own source, installed into Qt's prefix.
QCP_VERSION=2.1.0+dfsg1
QCP_SRC=$CACHE_DIR/qcustomplot-$QCP_VERSION
QCP_BUILD=$CACHE_DIR/build-qcustomplot
QCP_CONFIG=$QT_PREFIX/lib/cmake/QCustomPlotQt6/QCustomPlotQt6Config.cmake
WINEPREFIX=${WINEPREFIX:-$CACHE_DIR/wineprefix}
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="

# Installs the named Debian packages that are missing (as root, or through sudo).
install_host_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "Installing: ${missing[*]}"
    # As in scripts/deps.sh: a mirror mid-sync fails one index, not the install.
    "${as_root[@]}" apt-get update -qq -o DPkg::Lock::Timeout=600 || echo "apt-get update failed in part; installing from the lists at hand" >&2
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
}

# wine64 alone runs all of it, the installer included: no i386 architecture, whose packages must
# match the machine's own to the version (a mirror mid-sync breaks that).
install_wine() {
    install_host_packages wine wine64 xvfb xauth
}

# What the Windows build needs of the cache: Qt with its print support, and QCustomPlot.
qt_complete() {
    [ -f "$QT_TOOLCHAIN" ] && [ -d "$QT_PREFIX/lib/cmake/Qt6PrintSupport" ]
}
cache_complete() {
    qt_complete && [ -f "$QCP_CONFIG" ]
}

# Seconds since $1 as "Mm Ss".
elapsed() {
    local s=$(( $(date +%s) - $1 ))
    printf '%dm %02ds' $((s / 60)) $((s % 60))
}
