#!/usr/bin/env bash
# Every test suite: the portable core natively, then under ASan+UBSan, the
# reader under libFuzzer (seed corpus, then a bounded run), the Windows builds
# under Wine: x64 and x86 (unit tests and end-to-end tests of the real
# executable, the signed copy, the table of hand-off files) and ARM64 (the
# table, under Wine for ARM64 run by qemu); two release builds from scratch
# clones compared byte for byte, the test kit of that release run under Wine
# as on an x64 Windows, and the static checks.
# On a kernel that cannot run 32-bit programs nothing can start Wine's 32-bit
# side: there the x86 suites under Wine are not run, and the lines that name
# them are printed at the x86 step and again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each step's time is printed after it, to keep the whole within its budget.
# A step's status is its command's, also where it is tested with || (where
# set -e does not stop a function at the failing command).
timed() {
  local label=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "test.sh: $label took $((SECONDS - start)) s"
  return "$status"
}
step() { timed "$*" "$@"; }
# Two lanes. The compiles, the fuzzer and the static checks run at a lower
# priority, one after another; the runs under Wine, which wait on Wine's
# server far more than they compute and would starve behind a compiler, run
# beside them at the normal priority. A run under Wine prints its output
# whole when it is joined, in the order the lanes meet.
computed() { timed "$*" nice -n 10 "$@"; }
logs=$(mktemp -d)
declare -A running=()
beside() {
  local name=$1
  shift
  "$@" >"$logs/$name" 2>&1 &
  running[$name]=$!
}
join() {
  local status=0
  wait "${running[$1]}" || status=$?
  unset "running[$1]"
  cat "$logs/$1"
  return "$status"
}
not_run=()
say_not_run() {
  [ ${#not_run[@]} -eq 0 ] || printf 'test.sh: not run: %s\n' "${not_run[@]}"
}
# A step that fails ends the run: what runs beside it ends too, Wine's
# servers of this tree with it.
kill_tree() {
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
end_run() {
  local pid name
  for pid in "${running[@]}"; do kill_tree "$pid"; done
  # What was cut short, and where each had got to.
  for name in "${!running[@]}"; do
    echo "test.sh: cut short: $name; the end of its output:"
    tail -20 "$logs/$name"
  done
  if [ ${#running[@]} -ne 0 ]; then
    (source scripts/wine-env.sh
      for prefix in build/windows build/windows-x86 build/kit-first-user build/kit-second-user; do
        [ ! -d "$prefix/wine-prefix" ] || WINEPREFIX=$PWD/$prefix/wine-prefix "$wineserver" -k 2>/dev/null
      done
      [ ! -d build/windows-arm64/wine-prefix ] ||
        WINEPREFIX=$PWD/build/windows-arm64/wine-prefix "$wine_arm64_root/loader/wineserver" -k 2>/dev/null
      true)
  fi
  rm -rf "$logs"
  # The steps of the two lanes overlap: their times add up to more.
  echo "test.sh: the whole run took $SECONDS s"
  say_not_run
}
trap end_run EXIT

step scripts/install-deps.sh
# The tree's own Windows builds are release builds (the release presets differ
# from the test presets in their folder alone): they are the first of the two
# the release is checked with, and a scratch clone of the tree as it is,
# changes included, built at a path of its own, is the second. The same plan
# for every tree: a clean clone, or one with changes or earlier builds.
second=build/reproducible-second
build() {
  computed cmake --preset "$1" >/dev/null
  computed cmake --build --preset "$1"
}

# The kit test's two users' prefixes are made while the first build runs.
kit_prefixes=(build/kit-first-user/wine-prefix build/kit-second-user/wine-prefix)
beside prefixes bash -c "set -euo pipefail; source scripts/wine-env.sh; make_prefixes ${kit_prefixes[*]}"
# The kit test runs the x64 and x86 suites from the release's copies of these
# very builds: CTest runs the builds' other tests.
in_kit=(-E '^(windows|x86)\.(unit|e2e)_tests$')
build windows
beside windows step ctest --preset windows "${in_kit[@]}"
build windows-x86
# Asked once by starting the 32-bit loader: the kernel's answer if it refuses.
refusal=$(source scripts/wine-env.sh && wine32_refusal) || [ $? -eq 1 ]
x86_tests=(step ctest --preset windows-x86 "${in_kit[@]}")
if [ -n "$refusal" ]; then
  # The x86 build's PE check and the release's x86 zip are still made and checked.
  x86_tests=(step ctest --preset windows-x86-no-wine32)
  because="the 32-bit Wine cannot start on this kernel: $refusal"
  while read -r test; do
    not_run+=("x86 build: $test ($because)")
  done < <(ctest --test-dir build/windows-x86 -N -L '^wine32$' -FA '.*' |
    sed -n 's/^ *Test *#[0-9]*: //p')
  not_run+=("test kit: its x86 leg, the x86 importer under the x86 and x64 suites ($because)")
  say_not_run
fi
beside x86 "${x86_tests[@]}"
build windows-arm64
beside arm64 step ctest --preset windows-arm64
# The kit runs from the release of the test builds, which the second build
# is then compared with.
kit_release=build/release
computed scripts/release.sh --from-test-builds >"$logs/release" 2>&1 || { cat "$logs/release"; exit 1; }
tail -1 "$logs/release"
join prefixes
# The kit test, the longest of the runs, waits on Wine far more than it
# computes: it starts as soon as its release is made.
beside kit step tests/release/kit_test.sh "$kit_release"/profile-import-*-windows-tests.zip "${kit_prefixes[@]}"
# The compiles and the static checks, one after another beside the Wine
# runs: more at once would only share the two CPUs, at a cost. The fuzzer's
# bounded run, on one CPU for its 60 s, comes while the ARM64 table and the
# kit test take the other. The second release build takes what CPU they all
# leave, at the lowest priority, and the whole of it once they are done.
beside second nice -n 19 bash -c "set -euo pipefail; $(declare -f timed step)
  step scripts/check-reproducible.sh --build-only $second"
computed cmake --workflow --preset fuzz
computed cmake --workflow --preset native
computed cmake --workflow --preset native-asan
computed scripts/lint.sh
join windows
join x86
join arm64
join kit
join second
computed scripts/check-reproducible.sh --against-test-builds "$second"
