#!/usr/bin/env bash
# Every test suite: the portable core natively, then under ASan+UBSan, the
# reader under libFuzzer (seed corpus, then a bounded run), the Windows build
# (unit tests and end-to-end tests of the real executable, the signed copy)
# under Wine, two release builds from scratch clones compared byte for byte,
# and the static checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset native
cmake --workflow --preset native-asan
cmake --workflow --preset fuzz
cmake --workflow --preset windows
scripts/check-reproducible.sh
scripts/lint.sh
