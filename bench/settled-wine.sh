# shellcheck shell=bash
# Sourced by the benchmarks, from the project's root: Wine in
# build/bench's own prefix ($out), its services started and given time to
# settle before anything is timed, and $pin, the one CPU every timed program
# runs on. The wineserver ends with the script.
out="$PWD/build/bench"
mkdir -p "$out"
export WINEPREFIX="$out/wine-prefix"
source scripts/wine-env.sh
# Everything runs on one CPU: each Windows call a program makes is a round
# trip to the wineserver, and on a small VM a wake-up across CPUs costs more
# than the call, so unpinned timings mostly measure the scheduler.
pin=(taskset -c 0)
# Wine's own services start with the first program; they are started, and
# given time to settle, before anything is timed.
"$wine64" wineboot -i </dev/null >"$out/wineboot.log" 2>&1
"$wineserver" -k 2>/dev/null || true
"${pin[@]}" "$wineserver" -p </dev/null >/dev/null 2>&1
trap '"$wineserver" -k' EXIT
"${pin[@]}" "$wine64" wineboot </dev/null >>"$out/wineboot.log" 2>&1
sleep 5
