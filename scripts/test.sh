#!/usr/bin/env bash
# Every test suite: the portable core natively, then under ASan+UBSan, the
# reader under libFuzzer (seed corpus, then a bounded run), the Windows build
# (unit tests and end-to-end tests of the real executable, the signed copy)
# under Wine, two release builds from scratch clones compared byte for byte,
# the test kit of that release run under Wine as on Windows, and the static
# checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset native
cmake --workflow --preset native-asan
cmake --workflow --preset fuzz
cmake --workflow --preset windows
scripts/check-reproducible.sh
tests/release/kit_test.sh build/reproducible/profile-import-*-windows-tests.zip build/windows/wine-prefix
scripts/lint.sh
