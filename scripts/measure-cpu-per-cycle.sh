#!/usr/bin/env bash
# The logger's cost per cycle in the demo at 9600 bit/s: two loggers, side by
# side in one run so that both see the same load on the machine, each in a
# staged copy of demo/ against a simulated ECU of its own, paced at the line
# speed, on a pseudo-terminal of its own. Reports per completed cycle: CPU time
# (utime + stime), voluntary + involuntary context switches and, where perf
# can count them, instructions; for the whole process and for its serial
# worker thread alone. Repeats the run and prints medians and the ratios
# NEW/BASELINE.
#
#   scripts/measure-cpu-per-cycle.sh NEW_BUILD [BASELINE_BUILD] [-s SECONDS] [-r REPEATS] [-w WARMUP]
#
# A build folder is one with src/app/kovra-logger (and, for NEW_BUILD,
# src/cli/kovra, whose simulated ECU serves both loggers). Without
# BASELINE_BUILD only NEW_BUILD is measured. Cycles are counted from the bytes
# each simulated ECU wrote: every cycle of the demo is one reply per area.
# Runs under the display in DISPLAY, else on a virtual one (Xvfb), else with
# QT_QPA_PLATFORM=offscreen.
set -euo pipefail
secs=20
repeats=3
warmup=3
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -s) secs=$2; shift 2 ;;
    -r) repeats=$2; shift 2 ;;
    -w) warmup=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -ge 1 ] || { sed -n 2,18p "$0"; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
new=$(cd "${args[0]}" && pwd)
base=${args[1]:+$(cd "${args[1]}" && pwd)}
work=$(mktemp -d)
xvfb=
cleanup() { [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  for n in $(seq 90 140); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
  Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
if [ -n "${DISPLAY:-}" ]; then export QT_QPA_PLATFORM=xcb; else export QT_QPA_PLATFORM=offscreen; fi
echo "platform $QT_QPA_PLATFORM ${DISPLAY:-}, $secs s per run after $warmup s, $repeats runs" >&2

python3 - "$top" "$work" "$secs" "$repeats" "$warmup" "$new" ${base:+"$base"} <<'PY'
import json, os, shutil, signal, statistics, subprocess, sys, time

top, work, secs, repeats, warmup = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
builds = {"new": sys.argv[6]}
if len(sys.argv) > 7:
    builds["baseline"] = sys.argv[7]
kovra = f"{builds['new']}/src/cli/kovra"
hz = os.sysconf("SC_CLK_TCK")

settings = json.loads(subprocess.run([kovra, "settings", f"{top}/demo"], capture_output=True, check=True).stdout)
preamble = 5 if settings["Options"]["Preamble"] else 0
cycle_bytes = sum(preamble + a["Length"] + 3 for a in settings["Data"]["Areas"])

def perf_counts_instructions():
    try:
        out = subprocess.run(["perf", "stat", "-x,", "-e", "instructions", "true"],
                             capture_output=True, text=True, timeout=10).stderr
    except (OSError, subprocess.TimeoutExpired):
        return False
    return any(l.split(",")[0].strip().isdigit() for l in out.splitlines())
use_perf = perf_counts_instructions()

def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""

def cpu_s(stat):  # utime + stime of a /proc stat line, in seconds
    fields = stat[stat.rfind(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / hz if len(fields) > 12 else 0.0

def switches(status):
    n = 0
    for line in status.splitlines():
        if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
            n += int(line.split()[1])
    return n

def run_ns(schedstat):  # time on the CPU in ns, finer than the clock ticks of stat
    parts = schedstat.split()
    return int(parts[0]) if parts else 0

def snapshot(pid):
    s = {"cpu": cpu_s(read(f"/proc/{pid}/stat")), "ctx": 0, "threads": {}}
    for tid in os.listdir(f"/proc/{pid}/task"):
        t = f"/proc/{pid}/task/{tid}"
        status = read(f"{t}/status")
        s["ctx"] += switches(status)
        s["threads"][tid] = {"name": read(f"{t}/comm").strip(), "cpu": cpu_s(read(f"{t}/stat")),
                             "ns": run_ns(read(f"{t}/schedstat")), "ctx": switches(status)}
    return s

def written(pid):
    for line in read(f"/proc/{pid}/io").splitlines():
        if line.startswith("wchar:"):
            return int(line.split()[1])
    return 0

def stage(name, build):
    d = f"{work}/{name}"
    shutil.copytree(f"{top}/demo", d)
    os.makedirs(f"{d}/logs", exist_ok=True)
    shutil.copy2(f"{build}/src/app/kovra-logger", d)
    return d

def serial_thread(threads, main_tid):
    # The worker thread is named after its class; failing that, the busiest
    # thread that wakes most often besides the main one.
    named = [t for t, v in threads.items() if "comm" in v["name"].lower()]
    if named:
        return named[0]
    others = [t for t in threads if t != main_tid]
    return max(others, key=lambda t: threads[t]["ctx"]) if others else None

def one_run():
    procs, info = [], {}
    try:
        for name, build in builds.items():
            d = stage(f"{name}-{len(os.listdir(work))}", build)
            sim = subprocess.Popen([kovra, "ecu-sim", "--link", f"{d}/ecu", "--baud", "9600"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(sim)
            info[name] = {"dir": d, "sim": sim}
        for v in info.values():
            for _ in range(50):
                if os.path.exists(f"{v['dir']}/ecu"):
                    break
                time.sleep(0.1)
        env = dict(os.environ, LC_NUMERIC="C")
        for name, v in info.items():
            v["logger"] = subprocess.Popen([f"{v['dir']}/kovra-logger"], cwd=v["dir"], env=env,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(v["logger"])
        time.sleep(warmup)
        for v in info.values():
            if v["logger"].poll() is not None:
                raise SystemExit(f"a logger ended during the warm-up: {v['dir']}")
        perfs = {}
        if use_perf:
            for name, v in info.items():
                perfs[name] = subprocess.Popen(["perf", "stat", "-x,", "-e", "instructions", "-p",
                                                str(v["logger"].pid)], stderr=subprocess.PIPE, text=True)
        for v in info.values():
            v["t0"], v["w0"] = snapshot(v["logger"].pid), written(v["sim"].pid)
        time.sleep(secs)
        for v in info.values():
            v["t1"], v["w1"] = snapshot(v["logger"].pid), written(v["sim"].pid)
        for name, p in perfs.items():
            p.send_signal(signal.SIGINT)
            err = p.communicate(timeout=10)[1]
            counts = [l.split(",")[0] for l in err.splitlines() if "instructions" in l]
            info[name]["instr"] = int(counts[0]) if counts and counts[0].isdigit() else None
    finally:
        for p in procs:
            p.terminate()
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
    out = {}
    for name, v in info.items():
        t0, t1 = v["t0"], v["t1"]
        cycles = (v["w1"] - v["w0"]) / cycle_bytes
        main = str(v["logger"].pid)
        ser = serial_thread(t1["threads"], main)
        def thread_delta(tid, key):
            return t1["threads"][tid][key] - t0["threads"].get(tid, {key: 0})[key] if tid else 0
        r = {"cycles_per_s": cycles / secs}
        per = lambda x: x / cycles if cycles > 0 else float("nan")
        r["cpu_ms"] = per((t1["cpu"] - t0["cpu"]) * 1e3)
        r["ctx"] = per(t1["ctx"] - t0["ctx"])
        r["main_cpu_ms"] = per(thread_delta(main, "ns") / 1e6)
        r["main_ctx"] = per(thread_delta(main, "ctx"))
        r["serial_cpu_ms"] = per(thread_delta(ser, "ns") / 1e6)
        r["serial_ctx"] = per(thread_delta(ser, "ctx"))
        rest = [t for t in t1["threads"] if t not in (main, ser)]
        r["other_cpu_ms"] = per(sum(thread_delta(t, "ns") for t in rest) / 1e6)
        if v.get("instr") is not None:
            r["instructions"] = per(v["instr"])
        r["serial_name"] = t1["threads"][ser]["name"] if ser else "?"
        out[name] = r
    return out

keys = ["cycles_per_s", "cpu_ms", "ctx", "instructions", "main_cpu_ms", "main_ctx",
        "serial_cpu_ms", "serial_ctx", "other_cpu_ms"]
runs = []
for i in range(repeats):
    r = one_run()
    runs.append(r)
    for name, v in r.items():
        print(f"run {i + 1} {name}: " + " ".join(f"{k}={v[k]:.4g}" for k in keys if k in v)
              + f" serial_thread={v['serial_name']}", flush=True)
print(f"wire: {cycle_bytes} reply bytes a cycle; cpu in ms, ctx in switches, instructions per cycle")
medians = {}
for name in builds:
    medians[name] = {k: statistics.median(r[name][k] for r in runs) for k in keys if k in runs[0][name]}
    print(f"median {name}: " + " ".join(f"{k}={v:.4g}" for k, v in medians[name].items()))
if "baseline" in medians:
    b, n = medians["baseline"], medians["new"]
    print("ratio new/baseline: " + " ".join(f"{k}={n[k] / b[k]:.3g}" for k in keys
                                            if k in b and k in n and b[k] > 0))
PY
