#!/usr/bin/env bash
# Every test suite: the portable core natively, then the Windows build (unit
# tests and end-to-end tests of the real executable) under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset native
cmake --workflow --preset windows
