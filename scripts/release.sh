#!/usr/bin/env bash
# Builds the release from this tree and packages it, the same bytes from any
# clone of the same commit:
#   build/release/profile-import-<version>-win-x64.zip  profile-import.exe,
#       profile-check.exe, README.md and SHA256SUMS (the two executables)
#   build/release/SHA256SUMS  the two executables (beside it) and the zip
# With SIGN_PFX set (and SIGN_PASSWORD_FILE, SIGN_TIMESTAMP_URL if needed) the
# executables are signed first, so the sums and the zip are of the signed files.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release

version=$(sed -n 's/^project(profile-import VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=build/release
package=$out/package
zip=profile-import-$version-win-x64.zip
executables=(profile-import.exe profile-check.exe)
rm -rf "$package" "${executables[@]/#/$out/}" "$out/$zip" "$out/SHA256SUMS"
mkdir -p "$package"
for exe in "${executables[@]}"; do
  cp "build/release-tree/$exe" "$out/$exe"
done

if [ -n "${SIGN_PFX:-}" ]; then
  sign=(--pfx "$SIGN_PFX")
  [ -z "${SIGN_PASSWORD_FILE:-}" ] || sign+=(--password-file "$SIGN_PASSWORD_FILE")
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || sign+=(--timestamp-url "$SIGN_TIMESTAMP_URL")
  scripts/sign.sh "${sign[@]}" "${executables[@]/#/$out/}"
fi

cp "${executables[@]/#/$out/}" README.md "$package/"
(cd "$out" && sha256sum "${executables[@]}") >"$package/SHA256SUMS"
mtime="$(TZ=UTC git log -1 --format=%cd --date=format-local:'%Y-%m-%d %H:%M:%S') UTC"
# Fixed modes, owner, entry order and time stamps (the commit's), so the zip
# depends only on the files in it. The zip records each file's owner: root's
# when run as root; another user's builds match each other.
chmod 0644 "$package"/*
touch -d "$mtime" "$package"/*  # the zip records access times too
[ "$(id -u)" -ne 0 ] || chown 0:0 "$package"/*
(cd "$package" && TZ=UTC cmake -E tar cf "../$zip" --format=zip --mtime="$mtime" \
  "${executables[@]}" README.md SHA256SUMS)
(cd "$out" && sha256sum "${executables[@]}" "$zip") >"$out/SHA256SUMS"
rm -rf "$package"

echo "$out/$zip:"
(cd "$out" && cat SHA256SUMS)
