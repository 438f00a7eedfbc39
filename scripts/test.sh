#!/usr/bin/env bash
# Every test suite: the portable core natively, then under ASan+UBSan, the
# reader under libFuzzer (seed corpus, then a bounded run), the Windows builds
# under Wine: x64 and x86 (unit tests and end-to-end tests of the real
# executable, the signed copy, the table of hand-off files) and ARM64 (the
# table, under Wine for ARM64 run by qemu); two release builds from scratch
# clones at different paths compared byte for byte, the test kit of that
# release run under Wine as on an x64 Windows, and the static checks.
# On a kernel that cannot run 32-bit programs nothing can start Wine's 32-bit
# side: there the x86 suites under Wine are not run, and the lines that name
# them are printed at the x86 step and again at the end.
#
# The steps run side by side, two compiles at a time, and a step that mostly
# waits (Wine round trips) beside them; each step's output is printed whole,
# in the order below, with the time it took (scripts/steps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh

start=$SECONDS
scripts/install-deps.sh
# Asked once by starting the 32-bit loader: the kernel's answer if it refuses.
refusal=$(source scripts/wine-env.sh && wine32_refusal) || [ $? -eq 1 ]
x86_tests=windows-x86
[ -z "$refusal" ] || x86_tests=windows-x86-no-wine32

# A clean clone's own Windows builds are release builds from scratch, from a
# clone at a path of its own: they are the first of the two the release is
# checked with, and a second scratch clone elsewhere is the other. A tree with
# changes, or with builds from before this run, has both built from scratch.
first_release=--against-test-builds
if [ -n "$(git status --porcelain)" ] || [ -e build/windows ] || [ -e build/windows-x86 ] ||
  [ -e build/windows-arm64 ]; then
  first_release=--scratch
fi
second=build/reproducible-second
rm -rf "$second"

build() { cmake --preset "$1" && cmake --build --preset "$1"; }

# On a kernel without 32-bit support: the x86 tests that cannot run, by name.
not_run=()
find_not_run() {
  [ -n "$refusal" ] || return 0
  local because="the 32-bit Wine cannot start on this kernel: $refusal" test
  while read -r test; do
    not_run+=("x86 build: $test ($because)")
  done < <(ctest --test-dir build/windows-x86 -N -L '^wine32$' -FA '.*' |
    sed -n 's/^ *Test *#[0-9]*: //p')
  not_run+=("test kit: its x86 leg, the x86 importer under the x86 and x64 suites ($because)")
}
say_not_run() {
  [ ${#not_run[@]} -eq 0 ] || printf 'test.sh: not run: %s\n' "${not_run[@]}"
}
x86_suites() {
  ctest --preset "$x86_tests"
  find_not_run
  say_not_run
}

kit_test() {
  tests/release/kit_test.sh build/reproducible/profile-import-*-windows-tests.zip \
    build/windows/wine-prefix build/kit-second-user/wine-prefix
}

# Declared in the order their output is printed, about the order they end;
# each starts as soon as what it needs has passed and there is room: one
# compile (2 units, two compilers) and one step that waits on Wine (1 unit)
# beside it. Two compiles at once, or qemu's ARM64 Wine beside a compile,
# starve the Wine steps of the CPU their process starts need, and the whole
# takes longer. The second release build, the head of the longest chain,
# starts first.
step native "" cmake --workflow --preset native
step windows-build "" build windows
STEP_WEIGHT=1 step windows "windows-build" ctest --preset windows
step arm64-build "" build windows-arm64
step arm64 "arm64-build" ctest --preset windows-arm64
step native-asan "" cmake --workflow --preset native-asan
step x86-build "" build windows-x86
STEP_WEIGHT=1 step x86 "x86-build" x86_suites
step fuzz "" cmake --workflow --preset fuzz
# Configures the native and x64 builds again for their compilation databases.
step lint "native windows-build" scripts/lint.sh
STEP_FIRST=1 step second-release "" scripts/check-reproducible.sh --build-only "$second"
step reproducible "windows-build x86-build arm64-build second-release" \
  scripts/check-reproducible.sh "$first_release" "$second"
# The second user's registry is a prefix of its own, made by the 64-bit Wine.
STEP_WEIGHT=1 step kit "reproducible windows" kit_test

# Wine's server and services for a prefix of this tree outlive a step that
# was stopped, and under qemu keep a CPU busy: they go with it, and so do
# those a start caught half-way brings up again a moment later.
stop_wine() {
  local environ found
  for _ in 1 2 3 4 5; do
    found=""
    for environ in /proc/[0-9]*/environ; do
      { tr '\0' '\n' <"$environ" | grep -q "^WINEPREFIX=$PWD/build/"; } 2>/dev/null || continue
      environ=${environ%/environ}
      kill -KILL "${environ#/proc/}" 2>/dev/null && found=yes
    done
    [ -n "$found" ] || return 0
    sleep 1
  done
}
trap '_step_stop_all; [ -z "$_step_failed" ] || stop_wine; rm -rf "$step_dir"' EXIT
status=0
run_steps 3 || status=$?
find_not_run || true
say_not_run
# CPU time of every program the steps ran, against the wall time; asked of
# this shell itself, since a pipe's subshell has no children of its own.
times >"$step_dir/times"
cpu=$(tail -1 "$step_dir/times" | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/)
  printf "user %d s, sys %d s", u[1] * 60 + u[2], s[1] * 60 + s[2] }')
echo "test.sh: the whole took $((SECONDS - start)) s ($cpu)"
exit "$status"
