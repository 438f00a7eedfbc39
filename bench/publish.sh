#!/usr/bin/env bash
# Times profile-publish under Wine on a local folder: an apply of USERS rows
# (default 20000) that creates every master, a second apply of the same file,
# which changes nothing, and a plan. Then the first apply again on a folder in
# memory (/dev/shm), where a flush to disk costs nothing: the difference is
# what the flushes cost. Each figure is also given per user.
# Usage: bench/publish.sh [USERS]. Writes build/bench/publish.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
users="${1:-20000}"

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target profile-publish

source bench/settled-wine.sh
trap '"$wineserver" -k; rm -rf "$memory"' EXIT

csv="$out/publish-users.csv"
awk -v n="$users" 'BEGIN {
  print "account,RegCorp,RegDataBase,RegAdmin,RegUser"
  for (i = 0; i < n; i++)
    printf "S-1-5-21-1000-2000-3000-%d,\"Acme, Inc. %d\",SQL01\\MIRANDEL,admin,user%d\n", 10000 + i, i, i
}' >"$csv"
disk="$out/publish-root"
memory=$(mktemp -d /dev/shm/publish-root.XXXXXX)
rm -rf "$disk" && mkdir -p "$disk"

# run NAME COMMAND ROOT: times one run, which must exit 0, and prints its line.
run() {
  local start end seconds
  start=$(date +%s%N)
  "${pin[@]}" "$wine64" "$root/build/windows/profile-publish.exe" "$2" \
    "$("$wine64" winepath -w "$csv")" "$("$wine64" winepath -w "$3")" </dev/null >"$out/publish-$1.log"
  end=$(date +%s%N)
  seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e9 }')
  printf '%-28s %7s s  %6s ms a user  (%s)\n' "$1" "$seconds" \
    "$(awk -v ns=$((end - start)) -v n="$users" 'BEGIN { printf "%.2f", ns / 1e6 / n }')" \
    "$(tail -n 1 "$out/publish-$1.log" | tr -d '\r')"
}

{
  echo "$(date -u +%F), $users users, $("$wine64" --version), pinned to one CPU"
  run "first apply (disk)" apply "$disk"
  run "second apply (disk)" apply "$disk"
  run "plan (disk)" plan "$disk"
  run "first apply (memory)" apply "$memory"
} | tee "$out/publish.txt"
