#!/usr/bin/env bash
# Runs the Windows build (scripts/windows/build.sh) under Wine: its own test suites, then end to
# end against the Linux indicator-sim: indicator-cli.exe through Wine's COM1 and over tcp://,
# compared with the Linux indicator-cli, a bench test's report printed to PDF, and the installed
# configurator's window under Xvfb reading the Mode page (build-windows/smoke/window.png) and
# plotting the Readings page's trend (build-windows/smoke/readings.png).
#
# Wine's COM1 is mapped to the simulator's pseudo-terminal through Wine's registry
# (HKLM\Software\Wine\Ports), never through a dosdevices link: Wine rewrites such a link to
# /dev/ttyS0 when it starts, and the bytes would then go to this machine's real serial port.
# What Wine needs beyond Windows' documented behaviour is said where it is used.
# Usage: scripts/windows/test.sh [--suites-only]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/common.sh"

build=$repo/build-windows
# The Linux simulator and command line: the plain build, or CI's sanitizer build.
linux=$repo/build
[ -x "$linux/indicator-sim" ] || linux=$repo/build-sanitize
smoke=$build/smoke
version=$(sed -n 's/^project(indicator-config VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
setup=$build/indicator-config-$version-setup.exe
[ -f "$setup" ] || { echo "No Windows build: run scripts/windows/build.sh first" >&2; exit 1; }
install_wine
install_host_packages xdotool imagemagick

# Every wait here is bounded; a hung Wine program is ended by its time-out.
wine() { timeout "${WINE_TIMEOUT:-120}" /usr/lib/wine/wine64 "$@"; }
winepath_of() { /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null; }

# Wine reads its port map when its server starts. The server is started here, on its own: one
# that a program starts writes its state to that program's error output when it is ended.
restart_wineserver() {
    /usr/lib/wine/wineserver -k > /dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    /usr/lib/wine/wineserver -p > /dev/null 2>&1
}

children=()
cleanup() {
    local pid
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
    /usr/lib/wine/wineserver -k > /dev/null 2>&1 || true
}
trap cleanup EXIT

start=$(date +%s)
mkdir -p "$smoke"
[ -d "$WINEPREFIX" ] || { echo "Making the Wine prefix $WINEPREFIX"; xvfb-run -a /usr/lib/wine/wine64 wineboot -i; }

# One display for the whole run, there before Wine's server: Wine keeps the desktop of the
# display its first window came up on, and a program with windows (even Qt's hidden ones, on
# the offscreen platform) finds none without it.
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
children+=($!)
export DISPLAY=$display
sleep 1 # Xvfb's socket; the programs below wait for their windows themselves
restart_wineserver

# 1. The suites that need no pseudo-terminal, each run from a folder laid out as the program's
# own (its DLLs, plugins and qt.conf) with Qt Test beside: Wine finds the DLLs there as Windows
# does, where a search path of Wine's own (WINEPATH) leaves a GUI program hanging at its start.
# Under Wine a console program's output to a pipe is lost, so each suite writes its log to a file.
suites=$build/suites
rm -rf "$suites"
cp -r "$build/dist" "$suites"
cp "$QT_PREFIX/bin/Qt6Test.dll" "$build"/tests/tst_*.exe "$suites/"
failed=0
for suite in "$suites"/tst_*.exe; do
    log=$smoke/$(basename "$suite" .exe).log
    rm -f "$log"
    # The PDF's text is laid out with the system's fonts, which Qt's offscreen platform does not
    # read on Windows: that suite runs on the Windows platform.
    platform=offscreen
    [ "$(basename "$suite")" = tst_reportpdf.exe ] && platform=windows
    if QT_QPA_PLATFORM=$platform wine "$suite" -o "$(winepath_of "$smoke")\\$(basename "$log"),txt"; then
        echo "PASS $(basename "$suite") $(grep -o 'Totals:.*' "$log")"
    else
        echo "FAIL $(basename "$suite") (log: $log)"
        failed=1
    fi
done
[ "$failed" = 0 ] || exit 1
[ "${1:-}" = --suites-only ] && exit 0

# 2. The installer, silent, into Program Files.
timeout 300 /usr/lib/wine/wine64 "$setup" /S
installed=$WINEPREFIX/drive_c/Program\ Files/indicator-config
[ -f "$installed/indicator-config.exe" ] || { echo "FAIL the installer left no indicator-config.exe" >&2; exit 1; }
[ -f "$installed/uninstall.exe" ] || { echo "FAIL the installer left no uninstaller" >&2; exit 1; }
ls "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/"*/*.lnk > /dev/null \
    || { echo "FAIL no Start-menu entry" >&2; exit 1; }
ls "$installed"/*QCustomPlotQt6*.dll "$installed/Qt6PrintSupport.dll" "$installed/indicator-report-pdf.exe" > /dev/null \
    || { echo "FAIL the installer left out the plot's library, the print support or the report's printer" >&2; exit 1; }
echo "PASS installed into C:\\Program Files\\indicator-config, with a Start-menu entry, the plot's library and print support"

[ -x "$linux/indicator-sim" ] && [ -x "$linux/indicator-cli" ] \
    || { echo "The Linux build (build/indicator-sim, build/indicator-cli) is needed: scripts/test.sh makes it" >&2; exit 1; }

# The simulator on a pseudo-terminal; its first line names it.
start_sim() {
    local log=$1; shift
    coproc SIM { exec "$linux/indicator-sim" "$@" 2> "$log"; }
    children+=("$SIM_PID")
    read -r -t 10 sim_path <&"${SIM[0]}"
}

line=(--baud 19200 --parity none --stop-bits 1 --address 1)
cli_exe=$installed/indicator-cli.exe

# 3. The command line through COM1, then the same through the Linux build.
# Noise on the reading: the trend's line then spans its plot, and shows in a picture.
start_sim "$smoke/sim-com1.log" --verbose --reading 12 --noise 0.05
pty=$sim_path
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f > /dev/null
restart_wineserver
S=$(date +%s%N)
wine "$cli_exe" --port COM1 "${line[@]}" read --json > "$smoke/read-com1.json"
echo "indicator-cli.exe read through COM1: $(( ($(date +%s%N) - S) / 1000000 )) ms, Wine's start included"
"$linux/indicator-cli" --port "$pty" "${line[@]}" read --json > "$smoke/read-linux.json"
"$linux/indicator-cli" --port "$pty" "${line[@]}" read --json > "$smoke/read-linux-again.json"

# The same keys with the same values; the read-only ones (the display's reading, which the
# simulator moves between two reads and may leave alike in two of them) only with a value of
# the same kind.
"$linux/indicator-cli" list --json > "$smoke/list.json"
same_values() {
    python3 - "$1" "$smoke/read-linux.json" "$smoke/read-linux-again.json" "$smoke/list.json" <<'PY'
import json, sys
windows, linux, again, catalogue = (json.load(open(name, encoding="utf-8")) for name in sys.argv[1:])
live = {key for key in linux if linux[key] != again.get(key)}
live |= {entry["key"] for entry in catalogue if not entry["writable"]}
# 54 and 60.1 are numbers alike: JSON writes a whole reading without its point.
kind = lambda value: "number" if isinstance(value, (int, float)) and not isinstance(value, bool) else type(value)
wrong = [key for key in linux.keys() | windows.keys()
         if key not in windows or key not in linux
         or (windows[key] != linux[key] if key not in live else kind(windows[key]) != kind(linux[key]))]
for key in sorted(wrong):
    print(f"  {key}: Windows {windows.get(key)!r}, Linux {linux.get(key)!r}")
sys.exit(1 if wrong else 0)
PY
}
same_values "$smoke/read-com1.json" || { echo "FAIL read through COM1 differs from Linux"; exit 1; }
echo "PASS indicator-cli.exe --port COM1 read --json gives the Linux build's values"

# A bench test through COM1 with its report printed to PDF, by indicator-report-pdf.exe on the
# Windows platform: a whole document, its pages counted.
report=$smoke/report.pdf
rm -f "$report"
wine "$cli_exe" --port COM1 "${line[@]}" test --expect 12 --tolerance 1000 \
    --duration 2 --min-readings 3 --report "$(winepath_of "$smoke")\\report.pdf" > "$smoke/test.txt" 2>&1 \
    || { echo "FAIL indicator-cli.exe test --report: $(cat "$smoke/test.txt")"; exit 1; }
pages=$(grep -ac '/Type /Page$' "$report" || true)
if [ "$(head -c 5 "$report")" != "%PDF-" ] || ! tail -c 16 "$report" | grep -q '%%EOF' || [ "$pages" -lt 1 ]; then
    echo "FAIL the report $report is no whole PDF document"
    exit 1
fi
echo "PASS indicator-cli.exe test --report printed a PDF of $pages page(s): $report"

# 4. The installed window under Xvfb: Start and the Mode page, clicked where the tool bar has
# them; the simulator's log shows what was read, and the picture what the window showed.
window_smoke() {
    # The settings file beside the program: COM1 at the line's settings.
    printf '[COMP]\r\nPortNumber=0\r\nSpeedNumber=4\r\nParity=0\r\nStopBits=0\r\n[DEVS]\r\nDeviceNumber=1\r\n' \
        > "$installed/indicator-config.ini"
    (cd "$installed" && exec timeout 120 /usr/lib/wine/wine64 indicator-config.exe > "$smoke/window.log" 2>&1) &
    local window=$!
    children+=("$window")
    local id=
    for _ in $(seq 60); do
        id=$(xdotool search --onlyvisible --name 'Конфигуратор индикатора' 2>/dev/null | head -1) && [ -n "$id" ] && break
        sleep 0.5
    done
    [ -n "$id" ] || { echo "FAIL the window did not appear"; return 1; }
    sleep 2
    # Without a window manager, Wine's X window is the window's client area, where the tool
    # bar's buttons lie below the menu bar as on Linux.
    xdotool mousemove --window "$id" 40 45 click 1 # Старт
    sleep 2
    xdotool mousemove --window "$id" 187 45 click 1 # Режим
    sleep 4
    import -window "$id" "$smoke/window.png"
    xdotool mousemove --window "$id" 481 45 click 1 # Показания
    sleep 5 # fifty polls
    import -window "$id" "$smoke/readings.png"
    kill "$window" 2>/dev/null || true
    restart_wineserver
}
# The trend's line, in its own blue (0, 90, 180), below the page's controls (lowest at 260 of
# the page, which starts 75 below the window's top, right of the 185 of the left panel): a
# picture without the plot has none of it.
trend_pixels() {
    convert "$1" -crop +185+335 +repage -fuzz 12% -fill white +opaque 'rgb(0,90,180)' \
        -fill black -opaque 'rgb(0,90,180)' -negate -format '%[fx:round(mean*w*h)]' info:
}
# The Mode page's read-all asks for registers 0x0A00 up; the simulator logs each request.
mode_reads() { grep -c '<- 01 03 0a' "$smoke/sim-com1.log" || true; }
before=$(mode_reads)
window_smoke || exit 1
after=$(mode_reads)
[ "$after" -gt "$before" ] || { echo "FAIL the window read nothing of the Mode page (see $smoke/window.png)"; exit 1; }
echo "PASS the installed window read the Mode page through COM1: $((after - before)) reads answered; $smoke/window.png"
drawn=$(trend_pixels "$smoke/readings.png")
[ "$drawn" -ge 50 ] || { echo "FAIL the Readings page plotted no trend ($drawn pixels of its line; see $smoke/readings.png)"; exit 1; }
echo "PASS the installed window's Readings page plots the simulator's reading: $drawn pixels of its line; $smoke/readings.png"

# 5. Over tcp:// to the simulator as a serial device server.
kill "$SIM_PID" 2>/dev/null || true
start_sim "$smoke/sim-tcp.log" --tcp 0
wine "$cli_exe" --port "$sim_path" "${line[@]}" read --json > "$smoke/read-tcp.json"
same_values "$smoke/read-tcp.json" || { echo "FAIL read over tcp:// differs from Linux"; exit 1; }
echo "PASS indicator-cli.exe over $sim_path gives the Linux build's values"
# 6. A silent device through COM1: Windows ends the read of the first byte after its time-out,
# Wine leaves it pending on a pseudo-terminal; the transport cancels it at that time-out, so the
# exchange fails as on Windows ("Нет овета", -6) instead of hanging.
kill "$SIM_PID" 2>/dev/null || true
start_sim "$smoke/sim-silent.log" --silent
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$sim_path" /f > /dev/null
restart_wineserver
if WINE_TIMEOUT=30 wine "$cli_exe" --port COM1 "${line[@]}" read mode.top_range > "$smoke/read-silent.txt" 2>&1 \
    || ! grep -q '(код -6)' "$smoke/read-silent.txt"; then
    echo "FAIL a silent device through COM1: $(cat "$smoke/read-silent.txt")"
    exit 1
fi
echo "PASS a silent device through COM1 gives no answer (-6) at its time-out"
echo "Windows tests under Wine: $(elapsed "$start")"
