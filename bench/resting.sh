#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the running program costs: CPU time, wake-ups, resident and
# proportional memory, and X requests, at rest and during fades at 24 and
# 60 frames per second, measured on the private Xorg of the tests, with
# gammastep (a resident gamma daemon) measured at rest in the same run, and
# the floor: what a Qt program on the display that never wakes costs, and what
# waking four times a second costs by itself (a bare poll loop, and one 250 ms
# timer on Qt's event loop). Wake-ups are counted for all threads and for the
# main thread alone (Qt's X connection and D-Bus have threads of their own).
#
# Run by hand, after a build: bench/resting.sh [seconds per measurement]
# (default 30). DIMMORA_BUILD_DIR picks the build folder (default build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
settle=5  # after a start, before measuring: start-up work is not resting cost
program=$top/${DIMMORA_BUILD_DIR:-build}/dimmora
floor=$top/${DIMMORA_BUILD_DIR:-build}/bench/bench_wake_floor
for built in "$program" "$floor"; do
  [ -x "$built" ] || { echo "resting.sh: build the program and the benchmarks first ($built)" >&2; exit 1; }
done
for tool in xtrace python3; do
  command -v "$tool" >/dev/null || { echo "resting.sh: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done

# shellcheck source=../scripts/test.d/xserver.sh
source "$top/scripts/test.d/xserver.sh"
[ -n "${DISPLAY:-}" ] || { echo "resting.sh: the private X server did not start" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/dimmora-bench.XXXXXX")
trap 'stop_traced; dimmora_x_cleanup; rm -rf "$work"' EXIT
clock_ticks=$(getconf CLK_TCK)

# A free display number for xtrace's proxy, which counts the requests.
proxy_display() {
  local n=$((dimmora_x_number + 10))
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  echo ":$n"
}

traced_pid=""
xtrace_pid=""
# Starts "$@" behind xtrace, with a home, configuration and runtime folder of
# its own; sets traced_pid and the request log $work/<name>.xtrace.
start_traced() {
  local name=$1
  shift
  mkdir -p "$work/$name/home" "$work/$name/run"
  chmod 700 "$work/$name/run"
  HOME="$work/$name/home" XDG_CONFIG_HOME="$work/$name/config" XDG_RUNTIME_DIR="$work/$name/run" \
    xtrace -n -d "$DISPLAY" -D "$(proxy_display)" -o "$work/$name.xtrace" -- "$@" \
    >"$work/$name.out" 2>&1 &
  xtrace_pid=$!
  traced_pid=""
  for _ in $(seq 1 100); do
    traced_pid=$(pgrep -P "$xtrace_pid" | head -n 1 || true)
    [ -n "$traced_pid" ] && break
    sleep 0.1
  done
  [ -n "$traced_pid" ] || { echo "resting.sh: $name did not start" >&2; cat "$work/$name.out" >&2; exit 1; }
}

stop_traced() {
  [ -n "$traced_pid" ] && kill -TERM "$traced_pid" 2>/dev/null || true
  [ -n "$xtrace_pid" ] && wait "$xtrace_pid" 2>/dev/null || true
  traced_pid=""
  xtrace_pid=""
}

# CPU nanoseconds, context switches (each one a wake-up of a sleeping
# thread), summed over the process's threads; the main thread's alone.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'; }
count_switches() { awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { s += $2 } END { printf "%d", s }' "$@" 2>/dev/null; }
switches() { count_switches /proc/"$1"/task/*/status; }
main_switches() { count_switches /proc/"$1"/task/"$1"/status; }
# Clock ticks of user and system time, the coarse figure of /proc/PID/stat.
stat_ticks() { sed 's/^.*) //' /proc/"$1"/stat | awk '{ print $12 + $13 }'; }
requests() { grep -c '^[0-9]*:<:[0-9]' "$1" 2>/dev/null || true; }
memory_mb() { awk -v key="$2:" '$1 == key { printf "%.1f", $2 / 1024 }' /proc/"$1"/smaps_rollup; }

# measure RUN PROGRAM PHASE FPS: one row of the table for the traced process.
rows=()
measure() {
  local run=$1 name=$2 phase=$3 fps=$4 pid=$traced_pid log="$work/$1.xtrace"
  sleep "$settle"
  local cpu0 sw0 main0 tick0 req0 cpu1 sw1 main1 tick1 req1
  cpu0=$(cpu_ns "$pid"); sw0=$(switches "$pid"); main0=$(main_switches "$pid")
  tick0=$(stat_ticks "$pid"); req0=$(requests "$log")
  sleep "$seconds"
  cpu1=$(cpu_ns "$pid"); sw1=$(switches "$pid"); main1=$(main_switches "$pid")
  tick1=$(stat_ticks "$pid"); req1=$(requests "$log")
  kill -0 "$pid" 2>/dev/null || { echo "resting.sh: $run ended during the measurement" >&2; exit 1; }
  rows+=("$(awk -v phase="$phase" -v name="$name" -v fps="$fps" -v s="$seconds" -v hz="$clock_ticks" \
    -v cpu=$((cpu1 - cpu0)) -v sw=$((sw1 - sw0)) -v main=$((main1 - main0)) -v ticks=$((tick1 - tick0)) \
    -v req=$((req1 - req0)) \
    -v rss="$(memory_mb "$pid" Rss)" -v pss="$(memory_mb "$pid" Pss)" 'BEGIN {
      perframe = fps > 0 ? sprintf("%.2f", req / s / fps) : "-"
      printf "%s|%s|%.4f|%.3f|%.2f|%.2f|%.2f|%s|%s|%s\n", phase, name, cpu / 1e9 / s * 100,
             ticks / hz / s * 100, sw / s, main / s, req / s, perframe, rss, pss }')")
}

# The program's configuration for a fade that outlasts the measurement: from
# the first idle second towards 10 %, over ten minutes, in full gamma mode so
# that every frame writes the gamma ramps of the dummy output.
fade_config() {
  python3 - "$work/rest/config/Dimmora/config.json" "$1" "$2" <<'PY'
import json, sys
source, target, fps = sys.argv[1], sys.argv[2], float(sys.argv[3])
config = json.load(open(source))
display = config["selectedDisplayIDs"][0]
config.update({
    "steps": [{"id": "6A3C1D52-7C0E-4E55-9A43-7F3E4B1C2D10", "idleSeconds": 0, "brightnessPercent": 100},
              {"id": "0F8E2B7A-5D61-4C9B-8E2F-3A7D6C5B4E21", "idleSeconds": 1, "brightnessPercent": 10}],
    "fadeDurationSeconds": 600, "frameRate": fps, "fadeCurve": "linear",
    "displayFullGammaModes": [display, True]})
json.dump(config, open(target, "w"), indent=2)
PY
}

echo "resting.sh: $seconds s per measurement on $DISPLAY (settling $settle s after each start)"

# At rest: defaults (the first step is minutes away), nobody touching anything.
start_traced rest "$program"
measure rest dimmora rest 0
stop_traced

for fps in 24 60; do
  mkdir -p "$work/fade$fps/config/Dimmora"
  fade_config "$work/fade$fps/config/Dimmora/config.json" "$fps"
  start_traced "fade$fps" "$program"
  measure "fade$fps" dimmora "fade $fps fps" "$fps"
  stop_traced
done

if command -v gammastep >/dev/null; then
  # Continuous mode at a fixed place: it stays resident and keeps the ramps.
  start_traced gammastep gammastep -m randr -l 48.1:11.6 -t 6500:4500
  measure gammastep gammastep rest 0
  stop_traced
fi

# Running alone, and the wake-ups alone, with nothing else to do.
start_traced floor-idle "$floor" idle
measure floor-idle "Qt idle" "floor" 0
stop_traced
start_traced floor-poll "$floor" poll
measure floor-poll "poll loop" "floor" 0
stop_traced
start_traced floor-qt "$floor" qt
measure floor-qt "Qt timer" "floor" 0
stop_traced

printf '%s\n' "${rows[@]}" | awk -F'|' '
  BEGIN {
    format = "%-12s %-10s %12s %12s %11s %9s %10s %12s %8s %8s\n"
    printf format, "phase", "program", "cpu % core", "(stat ticks)", "wake-ups/s", "main/s", "X req/s", "X req/frame",
           "RSS MB", "PSS MB"
  }
  { printf format, $1, $2, $3, $4, $5, $6, $7, $8, $9, $10
    if ($1 == "rest") { for (i = 3; i <= 10; ++i) at[$2, i] = $i } }
  END {
    if (("gammastep", 3) in at) {
      printf format, "rest ratio", "÷gammastep", ratio(3), ratio(4), ratio(5), ratio(6), ratio(7), "-", ratio(9),
             ratio(10)
    }
  }
  function ratio(i) {
    if (at["gammastep", i] + 0 == 0) return at["dimmora", i] + 0 == 0 ? "=" : "-"
    return sprintf("%.2f", at["dimmora", i] / at["gammastep", i])
  }'
echo "targets at rest: cpu <= gammastep's, <= 0.2 wake-ups/s, 0 X requests/s, RSS <= 30 MB; fades: <= 3 X requests per frame"
