#!/usr/bin/env bash
# Builds the release twice, from two scratch clones of HEAD at different
# paths, and fails unless both give byte-identical executables and packages,
# the top-level SHA256SUMS lists exactly the release's files and every file in
# its zips, each zip's own lists the rest of that zip, and TOOLCHAIN.txt
# records this machine's packages.
# The first build's files are kept in build/reproducible, where the test
# command takes the test kit from.
#   check-reproducible.sh              both clones built here, one after the other
#   check-reproducible.sh --build-only DIR
#                                      one scratch clone of this tree as it is (its
#                                      changes and new files too) built in DIR (a path
#                                      of its own)
#   check-reproducible.sh --against-test-builds DIR
#                                      this tree's own test builds compared with DIR's
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scratch=$(mktemp -d /tmp/profile-import-repro.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# A scratch clone of HEAD in $1, with this tree's changes if $2 is "as-is",
# its release built there, its log shown only on failure.
build_clone() {
  rm -rf "$1"
  mkdir -p "$(dirname "$1")"
  git clone -q . "$1"
  if [ "${2:-}" = as-is ]; then
    git diff --binary HEAD | git -C "$1" apply --allow-empty
    git ls-files -z --others --exclude-standard | xargs -0r cp --parents -t "$1"
  fi
  "$1/scripts/release.sh" >"$1.log" 2>&1 || { cat "$1.log"; exit 1; }
}
case ${1:-} in
--build-only)
  build_clone "$2" as-is
  exit 0
  ;;
--against-test-builds)
  first=$PWD
  second=$(realpath "$2")
  scripts/release.sh --from-test-builds >"$scratch/first.log" 2>&1 || { cat "$scratch/first.log"; exit 1; }
  ;;
*)
  first=$scratch/a
  second=$scratch/another/path/b
  build_clone "$first"
  build_clone "$second"
  ;;
esac

failures=0
for file in $(cd "$first/build/release" && find . -type f | LC_ALL=C sort); do
  name=${file#./}
  if ! cmp -s "$first/build/release/$name" "$second/build/release/$name"; then
    echo "not reproducible: $name differs between two builds of the same commit"
    failures=$((failures + 1))
  fi
done
# The names a list of sums gives, CR or not, sorted; the files under a folder, alike.
listed() { cut -c67- "$1" | tr -d '\r' | LC_ALL=C sort; }
files_under() { (cd "$1" && find . -type f "${@:2}" | sed 's|^\./||' | LC_ALL=C sort); }
sums=$first/build/release/SHA256SUMS
mkdir "$scratch/all"
for zip in "$first"/build/release/*.zip; do
  mkdir "$scratch/all/$(basename "$zip" .zip)"
  (cd "$scratch/all/$(basename "$zip" .zip)" && cmake -E tar xf "$zip")
done
diff <(listed "$sums") <({ files_under "$first/build/release" ! -name 'SHA256SUMS*'; files_under "$scratch/all"; } |
  LC_ALL=C sort) || { echo "SHA256SUMS does not list exactly the release's files and its zips' files"; failures=$((failures + 1)); }
(cd "$first/build/release" && sha256sum -c --quiet --ignore-missing "$sums") || failures=$((failures + 1))
(cd "$scratch/all" && sha256sum -c --quiet --ignore-missing "$sums") || failures=$((failures + 1))
# Built here, so recorded here: the same record elsewhere promises the same bytes.
diff "$first/build/release/TOOLCHAIN.txt" <(scripts/release.sh --toolchain) ||
  { echo "TOOLCHAIN.txt is not this machine's"; failures=$((failures + 1)); }
for zip in "$first"/build/release/*-win-*.zip; do
  mkdir "$scratch/unpacked"
  # As a receiver checks it: GNU sha256sum takes its CR LF lines as they are.
  (cd "$scratch/unpacked" && cmake -E tar xf "$zip" && sha256sum -c --quiet SHA256SUMS) ||
    failures=$((failures + 1))
  diff <(listed "$scratch/unpacked/SHA256SUMS") <(files_under "$scratch/unpacked" ! -name SHA256SUMS) ||
    { echo "$(basename "$zip"): its SHA256SUMS does not list every other file in it"; failures=$((failures + 1)); }
  # Notepad before Windows 10 1809 shows LF-only text as one line, and UTF-8
  # without a byte order mark as ANSI; cmd.exe misreads an LF-only batch file.
  if grep -qv $'\r$' "$scratch/unpacked/SHA256SUMS" "$scratch/unpacked/README.txt" \
    "$scratch/unpacked/"*.cmd "$scratch/unpacked/"*.ps1 ||
    [ "$(head -c 3 "$scratch/unpacked/README.txt")" != $'\xef\xbb\xbf' ]; then
    echo "$(basename "$zip"): README.txt, SHA256SUMS and the scripts are not CR LF text with a BOM on README.txt"
    failures=$((failures + 1))
  fi
  rm -rf "$scratch/unpacked"
done
[ "$failures" -eq 0 ] || exit 1
rm -rf build/reproducible
mkdir -p build # a fresh clone has none yet
cp -r "$first/build/release" build/reproducible
echo "reproducible: two builds of $(git rev-parse --short HEAD) give the same bytes"
(cd "$first/build/release" && cat SHA256SUMS)
