#!/usr/bin/env bash
# Stages a demo folder (the logger beside demo/set.ini and the demo's pictures,
# sounds and language files), starts the simulated ECU on a pseudo-terminal
# and opens the logger against it.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
stage="$top/$build/demo-run"
mkdir -p "$stage/logs"
cp "$top/$build/src/app/kovra-logger" "$stage/"
cp -r "$top/demo/." "$stage/"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "make demo: no display here; run it under a virtual one: xvfb-run -a -s '-screen 0 1280x800x24' make demo"
  exit 0
fi

cd "$stage"
"$top/$build/src/cli/kovra" ecu-sim --link "$stage/ecu" --baud 9600 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$stage/ecu" ] && break; sleep 0.1; done
# The demo writes its one real value ("12.0") with a point.
LC_NUMERIC=C "$stage/kovra-logger"
