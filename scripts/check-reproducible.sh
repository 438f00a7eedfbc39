#!/usr/bin/env bash
# Builds the release twice, one after the other, from two scratch clones of
# HEAD at different paths, and fails unless both give byte-identical
# executables and packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scratch=$(mktemp -d /tmp/profile-import-repro.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
first=$scratch/a
second=$scratch/another/path/b
git clone -q . "$first"
git clone -q . "$second"
for clone in "$first" "$second"; do
  "$clone/scripts/release.sh" >"$clone.log" 2>&1 || { cat "$clone.log"; exit 1; }
done

version=$(sed -n 's/^project(profile-import VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
failures=0
for file in profile-import.exe profile-check.exe "profile-import-$version-win-x64.zip" SHA256SUMS; do
  if ! cmp -s "$first/build/release/$file" "$second/build/release/$file"; then
    echo "not reproducible: $file differs between two builds of the same commit"
    failures=$((failures + 1))
  fi
done
(cd "$first/build/release" && sha256sum -c --quiet SHA256SUMS) || failures=$((failures + 1))
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$first/build/release/profile-import-$version-win-x64.zip" &&
  sha256sum -c --quiet SHA256SUMS) || failures=$((failures + 1))
[ "$failures" -eq 0 ] || exit 1
echo "reproducible: two builds of $(git rev-parse --short HEAD) give the same bytes"
(cd "$first/build/release" && cat SHA256SUMS)
