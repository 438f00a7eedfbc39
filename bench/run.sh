#!/usr/bin/env bash
# Times, under Wine, what a run of the importer costs, with the program that
# measures it on Windows too (bench-startup.exe, also in the test kit): the
# importer against a PE that only exits (the start-up limit), the same PE
# with the importer's manifest, an empty C-runtime program and the batch file
# it replaces, each started from a freshly written hand-off file, one at a
# time, in a fresh order each round, and the importer once more where there is
# no hand-off file; and the importer's value writes with and without their
# flush. The x86 importer runs in the same rounds, against the x86 minimal PE.
# The benchmark rewrites HKCU\Software\Tessavo, so it runs only where that key
# is looked after: here the prefix is its own, and the guard variable
# (cmake/project.env) says so (Wine passes it on), as the kit's
# guard does once it has backed the key up.
# Usage: bench/run.sh [ROUNDS] (default 200). Writes build/bench/bench.json
# (every time) and build/bench/bench.txt (the report).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds="${1:-200}"

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target profile-import profile-sync bench-minimal-pe bench-manifest-pe \
  bench-empty-gui bench-startup
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target profile-import bench-minimal-pe
# The benchmark finds another architecture's pair in a folder beside it.
mkdir -p build/windows/x86
cp build/windows-x86/profile-import.exe build/windows-x86/bench-minimal-pe.exe build/windows/x86/

source bench/settled-wine.sh

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
source cmake/project.env
export "$key_guard_variable=bench/run.sh"
echo "$(date -u +%F) on $cpu, Linux $(uname -r), $("$wine64" --version), pinned to one CPU"
"${pin[@]}" "$wine64" "$root/build/windows/bench-startup.exe" --rounds "$rounds" --arch x86 \
  --json "$("$wine64" winepath -w "$out/bench.json")" </dev/null | tr -d '\r' | tee "$out/bench.txt"
