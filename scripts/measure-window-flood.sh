#!/usr/bin/env bash
# The window under the largest configuration against a simulated ECU that
# answers at once: cycles processed and recorded per second, samples lost, and
# how long a tab click and the key "r" take to show on screen. Runs the probe
# bench/window_flood_probe.cpp, built against each build given, one after the
# other on the same virtual display, and prints the figures and their ratios.
#
#   scripts/measure-window-flood.sh BUILD [BASELINE_BUILD [BASELINE_COMMIT]] [-s SECONDS] [-b BAUD]
#
# BUILD and BASELINE_BUILD are configured build folders (with the logger and
# the kovra tool built); BASELINE_BUILD is compiled from BASELINE_COMMIT
# (default HEAD), whose headers the probe is built against for it. The
# simulated ECU is the kovra tool of BUILD for both; -b paces it at BAUD bit/s,
# at most 4000000 (default: it answers at once).
set -euo pipefail
secs=20
baud=0
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -s) secs=$2; shift 2 ;;
    -b) baud=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -ge 1 ] || { sed -n 2,16p "$0"; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
new=$(cd "${args[0]}" && pwd)
base=${args[1]:+$(cd "${args[1]}" && pwd)}
commit=${args[2]:-HEAD}
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; if [ -n "${KEEP_WORK:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi; }
trap cleanup EXIT

# Compiles and links the probe the way BUILD_DIR compiled and linked the logger.
build_probe() {  # BUILD_DIR SOURCE_ROOT OUT
  python3 - "$1" "$2" "$3" "$top" <<'PY'
import json, re, shlex, subprocess, sys
build, root, out, top = sys.argv[1:5]
cmds = json.load(open(f"{build}/compile_commands.json"))
entry = next(c for c in cmds if c["file"].endswith("src/app/main.cpp"))
argv = shlex.split(entry["command"])
src = f"{top}/bench/window_flood_probe.cpp"
compile_ = []
skip = False
for a in argv:
    if skip:
        skip = False
        continue
    if a in ("-o", "-c"):
        skip = True
        continue
    if a == entry["file"]:
        continue
    if a == f"-I{top}/src":
        a = f"-I{root}/src"
    compile_.append(a)
obj = out + ".o"
subprocess.run(compile_ + ["-o", obj, "-c", src], check=True, cwd=entry["directory"])
ninja = open(f"{build}/build.ninja").read()
block = re.search(r"^build src/app/kovra-logger: .*?\n((?:  .*\n)+)", ninja, re.M).group(1)
var = lambda name: (re.search(rf"^  {name} = (.*)$", block, re.M) or [None, ""])[1]
link = [compile_[0]] + shlex.split(var("FLAGS")) + shlex.split(var("LINK_FLAGS")) + [obj, "-o", out] \
       + shlex.split(var("LINK_LIBRARIES"))
subprocess.run(link, check=True, cwd=build)
PY
}

echo "building the probe against $new" >&2
build_probe "$new" "$top" "$work/probe-new"
if [ -n "$base" ]; then
  mkdir -p "$work/base-src"
  git -C "$top" archive "$commit" src | tar -x -C "$work/base-src"
  echo "building the probe against $base ($commit)" >&2
  build_probe "$base" "$work/base-src" "$work/probe-base"
fi

# A virtual screen 1920 pixels wide, when there is none.
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  for n in $(seq 90 120); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
  Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
if [ -n "${DISPLAY:-}" ]; then export QT_QPA_PLATFORM=xcb; else export QT_QPA_PLATFORM=offscreen; fi

run_one() {  # NAME PROBE
  local link="$work/ecu-$1"
  # The ECU is another machine: it must not take the logger's CPU, only what is left.
  nice -n 19 "$new/src/cli/kovra" ecu-sim --link "$link" --baud "$baud" >/dev/null &
  local sim=$!
  pids+=($sim)
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  if [ ! -e "$link" ]; then
    echo "$1: the simulated ECU did not start (see $new/src/cli/kovra ecu-sim --help)"
    return
  fi
  local line
  line=$(timeout $((secs + 300)) "$2" "$link" "$secs" 2>>"$work/stderr" | tail -1) || line="${line:-no answer within $((secs + 300)) s}"
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  echo "$1: $line"
}

results="$work/results"
: >"$results"
[ -n "$base" ] && run_one baseline "$work/probe-base" | tee -a "$results"
run_one new "$work/probe-new" | tee -a "$results"
[ -n "$base" ] && python3 - "$results" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    name, _, rest = line.partition(": ")
    rows[name] = dict(kv.split("=") for kv in rest.split() if "=" in kv)
b, n = rows.get("baseline", {}), rows.get("new", {})
for key in ("recorded_cycles_per_s", "tab_graphs_ms", "tab_chart_ms", "key_r_ms", "timer_late_p99_ms"):
    if key in b and key in n and float(b[key]) > 0 and float(n[key]) >= 0:
        print(f"ratio new/baseline {key}: {float(n[key]) / float(b[key]):.3g}")
PY
