#!/usr/bin/env bash
# What the window program costs beyond its window, measured beside the
# baseline (bench/baseline), which presents a fixed picture at the same pace.
#
#   bench/window/measure.sh BUILD_DIR [ROM] [SECONDS] [STARTS]
#
# ROM defaults to the demo cartridge of the build, SECONDS to 10, STARTS to 5.
# On a display of its own (Xvfb), it
#  1. runs lumacor on the ROM and lumacor-baseline at the same time for
#     SECONDS, each under /usr/bin/time, stopped with SIGINT as a window
#     close would stop them, and prints the CPU time (user + system) of each
#     and their ratio;
#  2. starts each program STARTS times more with the first-present library
#     preloaded and prints the time from start to the first picture
#     presented, each run and the median.
# The ROM is copied into a temporary directory, so its save file stays there.
set -euo pipefail
build=$(cd "${1:?usage: measure.sh BUILD_DIR [ROM] [SECONDS] [STARTS]}" && pwd)
rom=${2:-$build/roms/demo.rom}
seconds=${3:-10}
starts=${4:-5}
lumacor=$build/src/lumacor
baseline=$build/bench/baseline/lumacor-baseline
preload=$build/bench/window/liblumacor-first-present.so
for f in "$lumacor" "$baseline" "$preload" "$rom"; do
  [ -e "$f" ] || { echo "missing: $f" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$rom" "$work/cartridge.rom"

# Xvfb picks a free display itself and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 2; }
export DISPLAY=":$(head -n1 "$work/display")"

cpu_seconds() { # user + system from a /usr/bin/time -v report
  awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {printf "%.2f", u + s}' "$1"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== CPU time over ${seconds} s, side by side =="
(cd "$work" && timeout -s INT "$seconds" /usr/bin/time -v -o "$work/lumacor.time" \
  "$lumacor" "$work/cartridge.rom" >"$work/lumacor.out" 2>"$work/lumacor.err") &
lumacor_job=$!
timeout -s INT "$seconds" /usr/bin/time -v -o "$work/baseline.time" \
  "$baseline" >"$work/baseline.out" 2>"$work/baseline.err" &
baseline_job=$!
wait "$lumacor_job" "$baseline_job" || true
lumacor_cpu=$(cpu_seconds "$work/lumacor.time")
baseline_cpu=$(cpu_seconds "$work/baseline.time")
echo "lumacor:  $lumacor_cpu s CPU"
echo "baseline: $baseline_cpu s CPU ($(grep -o '[0-9]*' "$work/baseline.out" | tail -1) frames)"
awk -v a="$lumacor_cpu" -v b="$baseline_cpu" 'BEGIN {printf "ratio:    %.2f\n", a / b}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

first_present_ms() { # program [args]: ms from start to the first present
  local start line
  start=$(date +%s%N)
  line=$(cd "$work" && LD_PRELOAD=$preload timeout -s INT 2 "$@" 2>&1 >/dev/null |
    grep -m1 '^first present:' || true)
  [ -n "$line" ] || { echo "n/a"; return; }
  awk -v s="$start" -v t="${line#first present: }" \
    'BEGIN {split(t, p, "."); printf "%.1f", (p[1] * 1e9 + p[2] - s) / 1e6}'
}
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "== start to first picture presented, ms =="
lumacor_runs=
baseline_runs=
for _ in $(seq "$starts"); do
  lumacor_runs="$lumacor_runs $(first_present_ms "$lumacor" "$work/cartridge.rom")"
  baseline_runs="$baseline_runs $(first_present_ms "$baseline")"
done
echo "lumacor: $lumacor_runs  (median $(echo "$lumacor_runs" | median))"
echo "baseline:$baseline_runs  (median $(echo "$baseline_runs" | median))"
