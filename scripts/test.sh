#!/usr/bin/env bash
# Every test suite: the portable core natively, then under ASan+UBSan, the
# reader under libFuzzer (seed corpus, then a bounded run), the Windows builds
# under Wine: x64 and x86 (unit tests and end-to-end tests of the real
# executable, the signed copy, the table of hand-off files) and ARM64 (the
# table, under Wine for ARM64 run by qemu); two release builds from scratch
# clones compared byte for byte, the test kit of that release run under Wine
# as on an x64 Windows, and the static checks.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each step's time is printed after it, to keep the whole within its budget.
step() {
  local start=$SECONDS
  "$@"
  echo "test.sh: $* took $((SECONDS - start)) s"
}

step scripts/install-deps.sh
step cmake --workflow --preset native
step cmake --workflow --preset native-asan
# The ARM64 table runs under qemu on one CPU while the fuzzer, after its
# build, runs on the other; its output follows the fuzzer's.
arm64_log=$(mktemp)
trap 'rm -f "$arm64_log"' EXIT
step cmake --workflow --preset windows-arm64 >"$arm64_log" 2>&1 &
arm64=$!
step cmake --workflow --preset fuzz
arm64_status=0
wait "$arm64" || arm64_status=$?
cat "$arm64_log"
[ "$arm64_status" -eq 0 ]
step cmake --workflow --preset windows
step cmake --workflow --preset windows-x86
step scripts/check-reproducible.sh
step tests/release/kit_test.sh build/reproducible/profile-import-*-windows-tests.zip build/windows/wine-prefix \
  build/windows-x86/wine-prefix
step scripts/lint.sh
