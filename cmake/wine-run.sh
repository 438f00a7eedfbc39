#!/usr/bin/env bash
# Runs a Windows test program under Wine: wine-run.sh LOADER PROGRAM [ARGS],
# in WINEPREFIX, which WINE_HOST_LOADER makes first if it is not there. Plain
# wineboot: a prefix the server has brought up but not yet saved has no
# system.reg, and a second --init there starts a second service manager.
# Now and then (about once in a few hundred starts under CTest) Wine's loader exits with 1 before the program
# runs at all, printing nothing. Only that case is retried: a program that ran
# has always printed something, and its result is passed on unchanged.
set -u
output=$(mktemp)
trap 'rm -f "$output"' EXIT
[ -e "$WINEPREFIX/system.reg" ] || "$WINE_HOST_LOADER" wineboot >/dev/null 2>&1
for attempt in 1 2 3; do
  "$@" >"$output" 2>&1
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$output" ]; then
    break
  fi
  echo "wine-run: Wine exited with $status before the program printed anything (attempt $attempt)" >&2
done
cat "$output"
exit "$status"
