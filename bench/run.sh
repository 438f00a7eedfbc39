#!/usr/bin/env bash
# Times, under Wine, what a run of the importer costs, with the program that
# measures it on Windows too (bench-startup.exe, also in the test kit): the
# importer against a PE that only exits (the start-up limit), an empty
# C-runtime program and the batch file it replaces, each started from a
# freshly written hand-off file, one at a time, in a fresh order each round;
# and the importer's value writes with and without their flush.
# Usage: bench/run.sh [ROUNDS] (default 200). Writes build/bench/bench.json
# (every time) and build/bench/bench.txt (the report).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds="${1:-200}"

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target profile-import bench-minimal-pe bench-empty-gui bench-startup

out="$root/build/bench"
mkdir -p "$out"
export WINEPREFIX="$out/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Everything runs on one CPU: each Windows call a program makes is a round
# trip to the wineserver, and on a small VM a wake-up across CPUs costs more
# than the call, so unpinned timings mostly measure the scheduler.
pin=(taskset -c 0)
# Wine's own services start with the first program; they are started, and
# given time to settle, before anything is timed.
wineboot -i </dev/null >"$out/wineboot.log" 2>&1
wineserver -k 2>/dev/null || true
"${pin[@]}" wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k' EXIT
"${pin[@]}" wineboot </dev/null >>"$out/wineboot.log" 2>&1
sleep 5

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "$(date -u +%F) on $cpu, Linux $(uname -r), $(wine --version), pinned to one CPU"
"${pin[@]}" wine "$root/build/windows/bench-startup.exe" --rounds "$rounds" \
  --json "$(winepath -w "$out/bench.json")" </dev/null | tr -d '\r' | tee "$out/bench.txt"
