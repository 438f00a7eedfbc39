#!/usr/bin/env bash
# Builds profile-import.exe and runs it once under Wine on the example
# hand-off file, in a scratch working directory and a scratch Wine prefix,
# then shows the exit code, what the profile key holds and whether the file
# is gone. Then profile-sync.exe, twice, with the example as a user's master
# copy: the first run marks (or writes) the profile, the second has nothing
# to do.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target profile-import profile-sync >/dev/null

scratch=$PWD/build/example
rm -rf "$scratch"
mkdir -p "$scratch/work"
cp samples/sysfile.cfg "$scratch/work/"

export WINEPREFIX=$scratch/wine-prefix
source scripts/wine-env.sh
echo "Hand-off file $scratch/work/sysfile.cfg:"
sed 's/^/    /' samples/sysfile.cfg
echo "Creating a scratch Wine prefix and running profile-import.exe there..."
set +e
(cd "$scratch/work" && "$wine64" "$OLDPWD/build/windows/profile-import.exe") 2>"$scratch/wine.log"
code=$?
set -e

# The shell sees only the low 8 bits of the Windows exit code.
signed=$((code > 127 ? code - 256 : code))
# Its name, as cmake/project.env gives the importer's codes.
source cmake/project.env
name="not an import status (see $scratch/wine.log)"
for code_name in "${!exit_@}"; do
  [ "${!code_name}" != "$signed" ] || name=${code_name#exit_}
done
echo "Exit code: $signed ($name)"
echo "HKEY_CURRENT_USER\\Software\\Tessavo\\Mirandel now holds:"
"$wine64" reg query 'HKCU\Software\Tessavo\Mirandel' 2>/dev/null | tr -d '\r' | grep -v '^$' |
  sed 's/^/    /' || echo "    (no such key)"
if [ -e "$scratch/work/sysfile.cfg" ]; then
  echo "The hand-off file is still there."
else
  echo "The hand-off file is gone."
fi

# profile-sync: the same example as the master copy in a folder of its own.
mkdir -p "$scratch/masters"
cp samples/sysfile.cfg "$scratch/masters/"
master=$("$wine64" winepath -w "$scratch/masters/sysfile.cfg" 2>/dev/null | tr -d '\r')
for run in first second; do
  echo "Running profile-sync.exe \"$master\" ($run run)..."
  set +e
  line=$("$wine64" build/windows/profile-sync.exe "$master" 2>>"$scratch/wine.log" | tr -d '\r')
  code=$?
  set -e
  echo "Exit code: $code"
  if [ -n "$line" ]; then
    echo "  Its result line (time, computer, user, SID, code, error, values changed,"
    echo "  change, master, version, elapsed, detail, where the masters came from):"
    echo "$line" | tr '\t' '\n' | sed 's/^/    /'
  else
    echo "  Nothing to do, and nothing recorded: the values and the marker match the master."
  fi
done
"$wine64" reg query 'HKCU\Software\Tessavo\profile-sync' 2>/dev/null | tr -d '\r' | grep -v '^$' |
  sed 's/^/    /' || true
"$wineserver" -k 2>/dev/null || true
