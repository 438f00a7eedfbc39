#!/usr/bin/env bash
# Builds the release from this tree and packages it, the same bytes from any
# clone of the same commit:
#   build/release/profile-import-<version>-win-x64.zip  profile-import.exe,
#       profile-check.exe, README.md and SHA256SUMS (the two executables)
#   build/release/profile-import-<version>-windows-tests.zip  the test kit: one
#       folder with the same two executables, the Windows test suites and the
#       samples they read, the benchmark and its programs, run-tests.cmd,
#       run-bench.cmd (both through kit-guard.cmd) and README.txt
#   build/release/SHA256SUMS  the two executables (beside it) and both zips
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
kit=profile-import-$version-windows-tests
executables=(profile-import.exe profile-check.exe)
# The kit's own programs: the suites, the benchmark and the programs it times
# beside the importer, and the check its commands make before they close.
kit_programs=(unit_tests.exe e2e_tests.exe bench-startup.exe bench-minimal-pe.exe
  bench-empty-gui.exe started-by-explorer.exe)
rm -rf "$package" "${executables[@]/#/$out/}" "$out/$zip" "$out/$kit.zip" "$out/SHA256SUMS"
mkdir -p "$package/$kit/samples"
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
# The kit tests the very files shipped, signed or not.
cp "${executables[@]/#/$out/}" "${kit_programs[@]/#/build/release-tree/}" tests/kit/*.cmd \
  tests/kit/README.txt "$package/$kit/"
cp build/release-tree/samples/*.cfg "$package/$kit/samples/"
# Fixed modes, entry order and time stamps (the commit's), and no extra
# fields, so a zip depends only on the files in it. CMake's own zip writer
# (cmake -E tar --format=zip) cannot do this: it records each file's owner and
# its inode change time, which no one can set. Info-ZIP's zip with -X stores
# neither; it takes times as local time, hence TZ=UTC.
stamp=$(TZ=UTC git log -1 --format=%cd --date=format-local:'%Y%m%d%H%M.%S')
find "$package" -type f -exec chmod 0644 {} + -exec env TZ=UTC touch -t "$stamp" {} +
(cd "$package" && TZ=UTC zip -q -X -D "../$zip" "${executables[@]}" README.md SHA256SUMS)
(cd "$package" && find "$kit" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "../$kit.zip" -@)
(cd "$out" && sha256sum "${executables[@]}" "$zip" "$kit.zip") >"$out/SHA256SUMS"
rm -rf "$package"

echo "$out/$zip, $out/$kit.zip:"
(cd "$out" && cat SHA256SUMS)
