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

scripts/install-deps.sh
cmake --workflow --preset native
cmake --workflow --preset native-asan
cmake --workflow --preset fuzz
cmake --workflow --preset windows
cmake --workflow --preset windows-x86
cmake --workflow --preset windows-arm64
scripts/check-reproducible.sh
tests/release/kit_test.sh build/reproducible/profile-import-*-windows-tests.zip build/windows/wine-prefix
scripts/lint.sh
