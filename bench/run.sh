#!/usr/bin/env bash
# Times, under Wine, the importer against the limits of process start-up and
# the batch file it replaces, each run starting from the same freshly written
# hand-off file:
#   importer  profile-import.exe
#   minimal   a PE with no C runtime whose entry only calls ExitProcess(0):
#             what any program must spend to start and end
#   empty     an empty wWinMain GUI program linked the usual MinGW way, with the
#             C runtime and msvcrt.dll (for comparison)
#   batch     cmd /c import.bat: four "reg add ... /f" lines and a "del"
# Usage: bench/run.sh [RUNS] (default 200 runs of each command). Writes
# build/bench/results.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs="${1:-200}"

scripts/install-deps.sh
command -v hyperfine >/dev/null && command -v python3 >/dev/null || {
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends hyperfine python3
}

cmake --preset windows >/dev/null
cmake --build --preset windows --target profile-import bench-minimal-pe bench-empty-gui

out="$root/build/bench"
work="$out/work"
mkdir -p "$work"
cp examples/sysfile.cfg "$out/sysfile.cfg"
cp bench/import.bat "$work/import.bat"

export WINEPREFIX="$out/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One prefix and one persistent server for every run, both ready before timing.
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

cd "$work"
# Interleaved: blocks of 20 runs of each command in turn, so that a slow spell
# of the machine falls on every command alike rather than on one block.
# --ignore-failure: about once in a few hundred starts Wine's loader gives up
# before the program runs (exit 1); the batch starts six processes a run, and
# one such start should not void the whole measurement.
block=20
rm -f "$out"/results-*.json
for round in $(seq 1 $(((runs + block - 1) / block))); do
  "${pin[@]}" hyperfine --shell=none --ignore-failure --warmup 2 --runs "$block" --style none \
    --prepare "cp $out/sysfile.cfg $work/sysfile.cfg" \
    --command-name importer "wine $root/build/windows/profile-import.exe" \
    --command-name minimal "wine $root/build/windows/bench-minimal-pe.exe" \
    --command-name empty "wine $root/build/windows/bench-empty-gui.exe" \
    --command-name batch "wine cmd /c import.bat" \
    --export-json "$out/results-$round.json" >/dev/null
done

python3 - "$out" "$out/results.md" "$runs" <<'PY'
import glob, json, platform, statistics, sys, datetime
times = {}
for path in glob.glob(sys.argv[1] + "/results-*.json"):
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
median = {name: statistics.median(t) * 1000 for name, t in times.items()}
cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
rows = [
    f"Measured {datetime.date.today()} on {cpu}, {platform.system()} {platform.release()}, "
    f"Wine pinned to one CPU, {sys.argv[3]} runs each, interleaved in blocks of 20.",
    "",
    "| Command | Median (ms) |",
    "|---|---|",
    f"| `profile-import.exe` | {median['importer']:.1f} |",
    f"| minimal PE, entry only calls `ExitProcess(0)` (start-up limit) | {median['minimal']:.1f} |",
    f"| empty `wWinMain` GUI program with the C runtime | {median['empty']:.1f} |",
    f"| `cmd /c import.bat` (4 × `reg add`, `del`) | {median['batch']:.1f} |",
    "",
    "| Ratio | Value | Target |",
    "|---|---|---|",
    f"| importer / minimal | {median['importer'] / median['minimal']:.2f} | at most 1.05 |",
    f"| importer / empty | {median['importer'] / median['empty']:.2f} | below 1 |",
    f"| batch / importer | {median['batch'] / median['importer']:.1f} | at least 5 |",
]
open(sys.argv[2], "w").write("\n".join(rows) + "\n")
print("\n".join(rows))
PY
