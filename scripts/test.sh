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
step() {
  local start=$SECONDS
  "$@"
  echo "test.sh: $* took $((SECONDS - start)) s"
}

step scripts/install-deps.sh
# A clean clone's own Windows builds are release builds from scratch, from a
# clone at a path of its own (the release presets differ from the test
# presets in their folder alone): they are the first of the two the release
# is checked with, and a scratch clone elsewhere is the second. A tree with
# changes, or with builds from before this run, has both built from scratch.
second=build/reproducible-second
reproducible=(scripts/check-reproducible.sh)
if [ -z "$(git status --porcelain)" ] && [ ! -e build/windows ] && [ ! -e build/windows-x86 ] &&
  [ ! -e build/windows-arm64 ]; then
  reproducible=(scripts/check-reproducible.sh --against-test-builds "$second")
fi
step cmake --workflow --preset native
step cmake --workflow --preset native-asan
# The ARM64 table runs under qemu on one CPU while the fuzzer, after its
# build, runs on the other; its output follows the fuzzer's.
arm64_log=$(mktemp)
not_run=()
say_not_run() {
  [ ${#not_run[@]} -eq 0 ] || printf 'test.sh: not run: %s\n' "${not_run[@]}"
}
trap 'rm -f "$arm64_log"; say_not_run' EXIT
step cmake --workflow --preset windows-arm64 >"$arm64_log" 2>&1 &
arm64=$!
step cmake --workflow --preset fuzz
arm64_status=0
wait "$arm64" || arm64_status=$?
cat "$arm64_log"
[ "$arm64_status" -eq 0 ]
step cmake --workflow --preset windows
# Asked once by starting the 32-bit loader: the kernel's answer if it refuses.
refusal=$(source scripts/wine-env.sh && wine32_refusal) || [ $? -eq 1 ]
if [ -z "$refusal" ]; then
  step cmake --workflow --preset windows-x86
else
  # The x86 build, its PE check and the release's x86 zip are still made and checked.
  step cmake --workflow --preset windows-x86-no-wine32
  because="the 32-bit Wine cannot start on this kernel: $refusal"
  while read -r test; do
    not_run+=("x86 build: $test ($because)")
  done < <(ctest --test-dir build/windows-x86 -N -L '^wine32$' -FA '.*' |
    sed -n 's/^ *Test *#[0-9]*: //p')
  not_run+=("test kit: its x86 leg, the x86 importer under the x86 and x64 suites ($because)")
  say_not_run
fi
[ ${#reproducible[@]} -eq 1 ] || step scripts/check-reproducible.sh --build-only "$second"
step "${reproducible[@]}"
# The second user's registry is a prefix of its own, made by the 64-bit Wine.
step tests/release/kit_test.sh build/reproducible/profile-import-*-windows-tests.zip build/windows/wine-prefix \
  build/kit-second-user/wine-prefix
step scripts/lint.sh
