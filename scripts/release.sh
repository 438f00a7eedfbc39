#!/usr/bin/env bash
# Builds the release from this tree and packages it, the same bytes from any
# clone of the same commit:
#   build/release/profile-import-<version>-win-x64.zip    for x64 Windows
#   build/release/profile-import-<version>-win-x86.zip    for 32-bit Windows (and any)
#   build/release/profile-import-<version>-win-arm64.zip  for Windows on ARM
#       each: profile-import.exe, profile-check.exe, profile-sync.exe,
#       profile-publish.exe, README.txt
#       (the administrator's documentation as plain text), deploy/'s files
#       (install.cmd, uninstall.cmd, the task's XML, the Intune and
#       Configuration Manager scripts, policy\ with the templates; see
#       scripts/deploy-files.sh) and SHA256SUMS (the executables and deploy/'s
#       files and README.txt), the text with CR LF line ends; the ARM64 zip's
#       checker and profile-publish.exe are the x86 ones, which both Windows on
#       ARM run
#   build/release/profile-import-<version>-windows-tests.zip  the test kit: one
#       folder with the x64 executables, the Windows test suites and the samples
#       they read, the benchmark and its programs, run-tests.cmd, run-bench.cmd
#       (both through kit-runner.exe) and README.txt; x86\ with the x86
#       executables, suites, samples, benchmark and runner; arm64\ with the ARM64
#       importer; each with its architecture's minimal PE
#   build/release/TOOLCHAIN.txt  the commit and the Debian packages the bytes
#       depend on, with their versions (scripts/release.sh --toolchain prints
#       this machine's)
#   build/release/SHA256SUMS  the executables (beside it: x64, x86\, arm64\),
#       TOOLCHAIN.txt, the zips, and every file in every zip, named
#       <zip's name without .zip>/<file>, the folder Windows' Extract All makes
# With a key (SIGN_PFX, or SIGN_PKCS11_MODULE, SIGN_KEY and SIGN_CERT for one
# on a token; SIGN_CA_FILE, the anchor the signatures are verified against;
# SIGN_PASSWORD_FILE, SIGN_PKCS11_ENGINE, SIGN_TIMESTAMP_URL if needed) the
# executables are signed first, so the sums and the zips are of the signed
# files, and every other program in the kit before it is zipped; SHA256SUMS is
# then signed too, in build/release/SHA256SUMS.p7s. Without one, the hash of
# SHA256SUMS is printed last, to be published apart from the release.
set -euo pipefail
cd "$(dirname "$0")/.."

source cmake/project.env
# The packages whose files go into the bytes, or decide them: the compilers
# and linkers with the libraries they drive, MinGW-w64's headers and import
# libraries, GoogleTest's sources (the kit's suites), the zip writer, and the
# awk that writes README.txt. The build machine's versions of the same give
# the same bytes.
toolchain=(binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 clang-14 cmake g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-base gcc-mingw-w64-i686-posix
  gcc-mingw-w64-i686-posix-runtime gcc-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime
  googletest libclang-cpp14 libllvm14 lld-14 llvm-14 mingw-w64-common mingw-w64-i686-dev
  mingw-w64-x86-64-dev ninja-build zip)
toolchain_record() {
  echo "profile-import $version, commit $(git rev-parse HEAD), built on Debian $(dpkg --print-architecture) with:"
  dpkg-query -W -f '${binary:Package} ${Version}\n' "${toolchain[@]}" \
    "$(dpkg -S "$(realpath "$(command -v awk)")" | cut -d: -f1)"
}
if [ "${1:-}" = --toolchain ]; then
  toolchain_record
  exit 0
fi

scripts/install-deps.sh
# Per architecture: its build tree and its folder beside SHA256SUMS and in the kit.
declare -A tree=([x64]=build/release-tree [x86]=build/release-tree-x86 [arm64]=build/release-tree-arm64)
declare -A folder=([x64]="" [x86]=x86/ [arm64]=arm64/)
if [ "${1:-}" = --from-test-builds ]; then
  # The test presets' trees, already built by the caller: the same flags as the
  # release presets, which differ from them in their folder alone.
  tree=([x64]=build/windows [x86]=build/windows-x86 [arm64]=build/windows-arm64)
else
  # One build tree per architecture: a CMake build has one compiler.
  for preset in release release-x86 release-arm64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  done
fi

out=build/release
package=$out/package
kit=profile-import-$version-windows-tests
executables=(profile-import.exe profile-check.exe profile-sync.exe profile-publish.exe)
# The kit's own programs: the suites, the benchmark and the programs it times
# beside the importer, and the runner that guards the key around them; the
# x86 ones serve 32-bit Windows and Windows on ARM.
kit_programs=(unit_tests.exe e2e_tests.exe bench-startup.exe bench-minimal-pe.exe
  bench-manifest-pe.exe bench-empty-gui.exe kit-runner.exe)
rm -rf "$package" "$out"
mkdir -p "$out/x86" "$out/arm64" "$package/$kit/samples" "$package/$kit/x86/samples" "$package/$kit/arm64"
for arch in x64 x86; do
  for exe in "${executables[@]}"; do
    cp "${tree[$arch]}/$exe" "$out/${folder[$arch]}$exe"
  done
done
cp "${tree[arm64]}/profile-import.exe" "${tree[arm64]}/profile-sync.exe" "$out/arm64/"
signed=("${executables[@]/#/$out/}" "${executables[@]/#/$out/x86/}" "$out/arm64/profile-import.exe"
  "$out/arm64/profile-sync.exe")

signing=false
key=()
if [ -n "${SIGN_PFX:-}" ]; then
  key=(--pfx "$SIGN_PFX")
elif [ -n "${SIGN_PKCS11_MODULE:-}" ]; then
  key=(--pkcs11-module "$SIGN_PKCS11_MODULE" --key "${SIGN_KEY:-}" --cert "${SIGN_CERT:-}")
  [ -z "${SIGN_PKCS11_ENGINE:-}" ] || key+=(--pkcs11-engine "$SIGN_PKCS11_ENGINE")
fi
if [ ${#key[@]} -ne 0 ]; then
  signing=true
  [ -n "${SIGN_CA_FILE:-}" ] || { echo "release.sh: SIGN_CA_FILE names no trust anchor to verify against" >&2; exit 2; }
  key+=(--ca-file "$SIGN_CA_FILE")
  [ -z "${SIGN_PASSWORD_FILE:-}" ] || key+=(--password-file "$SIGN_PASSWORD_FILE")
  sign=("${key[@]}")
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || sign+=(--timestamp-url "$SIGN_TIMESTAMP_URL")
  scripts/sign.sh "${sign[@]}" "${signed[@]}"
fi
# Both Windows on ARM run x86 programs; the checker and profile-publish need
# no speed, and the ARM64 build has no C++ runtime to build them with.
cp "$out/x86/profile-check.exe" "$out/x86/profile-publish.exe" "$out/arm64/"

# The kit tests the very files shipped, signed or not.
cp "${executables[@]/#/$out/}" "${kit_programs[@]/#/${tree[x64]}/}" "${tree[x64]}"/run-{tests,bench}.cmd \
  "$package/$kit/"
cp "${executables[@]/#/$out/x86/}" "${kit_programs[@]/#/${tree[x86]}/}" "$package/$kit/x86/"
cp "$out/arm64/profile-import.exe" "${tree[arm64]}/bench-minimal-pe.exe" "$package/$kit/arm64/"
cp samples/*.cfg "$package/$kit/samples/"
cp samples/*.cfg "$package/$kit/x86/samples/"
# The kit's other programs signed alike, so that app control and SmartScreen
# treat the importer and the floors it is timed against the same way.
if $signing; then
  mapfile -d '' unsigned < <(find "$package/$kit" -name '*.exe' ! -name profile-import.exe \
    ! -name profile-check.exe ! -name profile-sync.exe ! -name profile-publish.exe -print0 |
    LC_ALL=C sort -z)
  scripts/sign.sh "${sign[@]}" "${unsigned[@]}"
fi
# Text for Notepad: CR LF line ends, and a byte order mark, without which
# Windows 7's Notepad reads UTF-8 as ANSI.
notepad_text() {
  printf '\357\273\277'
  sed 's/$/\r/'
}
# The administrator's README in each zip, made from the same pages as the
# repository's: the version, then the README up to its list of pages, then the
# pages an administrator needs.
readme_pages=(README.md#documentation docs/deploying.md docs/hand-off-file.md docs/checker.md
  docs/troubleshooting.md)
{
  echo "profile-import $version"
  echo
  echo "The administrator's part of the profile-import documentation: the README,"
  echo "then Deploying, The hand-off file, The checker and Troubleshooting. The"
  echo "other pages are in the docs folder of the project's source."
  echo
  scripts/markdown-to-text.sh "${readme_pages[@]}"
} | notepad_text >"$package/README.txt"
# The kit's, from its page but the part on CI.
{
  echo "profile-import $version"
  echo
  scripts/markdown-to-text.sh docs/test-kit.md#in-ci-and-in-the-test-command
} | notepad_text >"$package/$kit/README.txt"
for arch in x64 x86 arm64; do
  mkdir "$package/$arch"
  # Installing and detecting, beside the programs; the same names in every zip.
  scripts/deploy-files.sh "$arch" "$package/$arch"
  mapfile -t deployed < <(cd "$package/$arch" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  cp "${executables[@]/#/$out/${folder[$arch]}}" "$package/README.txt" "$package/$arch/"
  # Kept beside the files it lists, wherever they are copied to (a share, a
  # deployment tool's content), to check those copies later; vouched for by
  # its own line in the top-level SHA256SUMS, which is the one that is signed.
  # CR LF, as README.txt: whoever unpacks the zip on Windows may open it in
  # Notepad. The scripts are listed too: install.cmd runs as SYSTEM.
  (cd "$package/$arch" && sha256sum "${executables[@]}" README.txt "${deployed[@]}") | sed 's/$/\r/' \
    >"$package/$arch/SHA256SUMS"
done

# Fixed modes, entry order and time stamps (the commit's), and no extra
# fields, so a zip depends only on the files in it. CMake's own zip writer
# (cmake -E tar --format=zip) cannot do this: it records each file's owner and
# its inode change time, which no one can set. Info-ZIP's zip with -X stores
# neither; it takes times as local time, hence TZ=UTC.
stamp=$(TZ=UTC git log -1 --format=%cd --date=format-local:'%Y%m%d%H%M.%S')
find "$package" -type f -exec chmod 0644 {} + -exec env TZ=UTC touch -t "$stamp" {} +
zips=()
for arch in x64 x86 arm64; do
  zip=profile-import-$version-win-$arch.zip
  (cd "$package/$arch" && TZ=UTC zip -q -X -D "../../$zip" "${executables[@]}" README.txt SHA256SUMS \
    "${deployed[@]}")
  zips+=("$zip")
done
(cd "$package" && find "$kit" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "../$kit.zip" -@)
toolchain_record >"$out/TOOLCHAIN.txt"
# LF line ends here: these sums go to whoever receives a release, on any
# system, and Perl's shasum (macOS's) takes a CR as part of the file name.
# Each zip's files as they are in it, under the folder it unpacks to.
{
  (cd "$out" && sha256sum "${signed[@]#$out/}" arm64/profile-check.exe arm64/profile-publish.exe TOOLCHAIN.txt "${zips[@]}" "$kit.zip")
  for arch in x64 x86 arm64; do
    (cd "$package/$arch" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum) |
      sed "s|  |  profile-import-$version-win-$arch/|"
  done
  (cd "$package" && find "$kit" -type f | LC_ALL=C sort | xargs -d '\n' sha256sum) | sed "s|  |  $kit/|"
} >"$out/SHA256SUMS"
rm -rf "$package"
! $signing || scripts/sign.sh "${key[@]}" --detached "$out/SHA256SUMS"

echo "${zips[*]/#/$out/}, $out/$kit.zip:"
(cd "$out" && cat SHA256SUMS)
$signing || echo "unsigned; publish this hash of SHA256SUMS apart from the release: $(sha256sum <"$out/SHA256SUMS" | cut -d' ' -f1)"
