#!/usr/bin/env bash
# Times, under Wine, three ways of taking in one hand-off file, each run
# starting from the same freshly written file:
#   importer  profile-import.exe
#   empty     a GUI program that only returns 0 (process start-up, the floor)
#   empty+advapi32  the same, also importing ADVAPI32.dll as the importer must
#             (not a target; it shows what that one DLL costs)
#   batch     cmd /c import.bat: four "reg add ... /f" lines and a "del"
# Usage: bench/run.sh [RUNS] (default 200: a longer block per command keeps a
# passing burst of load on the machine from moving its median). Writes build/bench/results.md.
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
cmake --build --preset windows --target profile-import bench-empty-gui bench-empty-gui-advapi32

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
# --ignore-failure: about once in a few hundred starts Wine's loader gives up
# before the program runs (exit 1); the batch starts six processes a run, and
# one such start should not void the whole measurement.
"${pin[@]}" hyperfine --shell=none --ignore-failure --warmup 10 --runs "$runs" \
  --prepare "cp $out/sysfile.cfg $work/sysfile.cfg" \
  --command-name importer "wine $root/build/windows/profile-import.exe" \
  --command-name empty "wine $root/build/windows/bench-empty-gui.exe" \
  --command-name empty+advapi32 "wine $root/build/windows/bench-empty-gui-advapi32.exe" \
  --command-name batch "wine cmd /c import.bat" \
  --export-json "$out/results.json"

python3 - "$out/results.json" "$out/results.md" "$runs" <<'PY'
import json, platform, sys, datetime
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
median = {name: r["median"] * 1000 for name, r in results.items()}
cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
rows = [
    f"Measured {datetime.date.today()} on {cpu}, {platform.system()} {platform.release()}, "
    f"Wine pinned to one CPU, {sys.argv[3]} runs each after 10 warm-up runs.",
    "",
    "| Command | Median (ms) |",
    "|---|---|",
    f"| `profile-import.exe` | {median['importer']:.1f} |",
    f"| empty GUI program (start-up floor) | {median['empty']:.1f} |",
    f"| empty GUI program importing ADVAPI32.dll | {median['empty+advapi32']:.1f} |",
    f"| `cmd /c import.bat` (4 × `reg add`, `del`) | {median['batch']:.1f} |",
    "",
    "| Ratio | Value | Target |",
    "|---|---|---|",
    f"| importer / empty | {median['importer'] / median['empty']:.2f} | at most 1.10 |",
    f"| batch / importer | {median['batch'] / median['importer']:.1f} | at least 5 |",
    f"| importer / (empty importing ADVAPI32.dll) | "
    f"{median['importer'] / median['empty+advapi32']:.2f} | (for reference) |",
]
open(sys.argv[2], "w").write("\n".join(rows) + "\n")
print("\n".join(rows))
PY
