#!/usr/bin/env bash
# Every test suite: the portable core natively, then under ASan+UBSan, the
# reader under libFuzzer (seed corpus, then a bounded run), the Windows build
# (unit tests and end-to-end tests of the real executable) under Wine, and the
# static checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset native
cmake --workflow --preset native-asan
cmake --workflow --preset fuzz
cmake --workflow --preset windows
scripts/lint.sh
