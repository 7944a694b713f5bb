#!/usr/bin/env bash
# Installs what is missing, builds, and runs the configurator.
#
# Usage: scripts/run.sh [--sim | --device]
#   --sim     with a simulated indicator, whatever is plugged in
#   --device  with the real adapter: COMn as build/indicator-config.ini's [PORTS] maps it
# Without either, the simulator stands in when no USB serial adapter is plugged in.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=auto
case "${1:-}" in
    --sim) mode=sim ;;
    --device) mode=device ;;
    "") ;;
    *) sed -n '2,8p' "$0" >&2; exit 2 ;;
esac
if [ "$mode" = auto ]; then
    mode=sim
    compgen -G '/dev/ttyUSB*' >/dev/null || compgen -G '/dev/ttyACM*' >/dev/null && mode=device
fi

scripts/deps.sh qt6-qpa-plugins
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

if [ "$mode" = device ]; then
    exec build/indicator-config
fi

# The simulated session runs a copy of the configurator in a folder of its own, so that its
# settings file, which sends COM1..COM8 to the simulator, is not the one for real adapters.
session=build/sim-session
mkdir -p "$session"
cp -f build/indicator-config "$session/indicator-config"
link="$PWD/$session/indicator.pty"
settings="$session/indicator-config.ini"
[ -f "$settings" ] || printf '[PORTS]\n' > "$settings"
for n in 8 7 6 5 4 3 2 1; do
    grep -q "^COM$n=" "$settings" || sed -i "/^\[PORTS\]/a COM$n=$link" "$settings"
done

build/indicator-sim --link "$link" --baud 9600 2>"$session/indicator-sim.log" >"$session/device" &
sim=$!
stop_sim() { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true; }
trap stop_sim EXIT
trap 'exit 130' INT TERM HUP
for _ in $(seq 50); do [ -s "$session/device" ] && break; sleep 0.1; done
if [ ! -s "$session/device" ]; then
    echo "The simulator did not start; see $session/indicator-sim.log" >&2
    exit 1
fi

cat <<TEXT
A simulated indicator (slave address 1) answers on $(head -n 1 "$session/device"),
and every port from COM1 to COM8 leads to it. Press «Старт» in the window.
Its log: $session/indicator-sim.log
TEXT
"$session/indicator-config"
