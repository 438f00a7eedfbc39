#!/usr/bin/env bash
# Fuzzes the hand-off file reader for longer than the test suite does.
# Usage: scripts/fuzz.sh [SECONDS] (default 1800). New inputs are kept in
# build/fuzz/fuzz-corpus, so each run starts where the last one stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-1800}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cd build/fuzz
exec ./profile_text_fuzzer -max_len=600 -max_total_time="$seconds" -timeout=10 \
  -print_final_stats=1 -artifact_prefix=fuzz-crashes/ fuzz-corpus ../../samples
