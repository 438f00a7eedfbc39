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
# Fixed modes, entry order and time stamps (the commit's), and no extra
# fields, so the zip depends only on the files in it. CMake's own zip writer
# (cmake -E tar --format=zip) cannot do this: it records each file's owner and
# its inode change time, which no one can set. Info-ZIP's zip with -X stores
# neither; it takes times as local time, hence TZ=UTC.
stamp=$(TZ=UTC git log -1 --format=%cd --date=format-local:'%Y%m%d%H%M.%S')
chmod 0644 "$package"/*
TZ=UTC touch -t "$stamp" "$package"/*
(cd "$package" && TZ=UTC zip -q -X -D "../$zip" "${executables[@]}" README.md SHA256SUMS)
(cd "$out" && sha256sum "${executables[@]}" "$zip") >"$out/SHA256SUMS"
rm -rf "$package"

echo "$out/$zip:"
(cd "$out" && cat SHA256SUMS)
