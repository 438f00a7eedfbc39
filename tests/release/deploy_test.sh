#!/usr/bin/env bash
# The deploy folder's files as a release zip holds them (scripts/deploy-files.sh).
#   deploy_test.sh task-xml
#       The task parses, shipped as it is and as in the repository, runs
#       what install.cmd installs, quoted, with no arguments, and keeps its
#       triggers, the network one for the domain network only; the .reg is
#       shipped as regedit exports one. Skipped (77) without xmllint.
#   deploy_test.sh install WINE_LOADER PROFILE_SYNC_EXE ARCH   (WINEPREFIX set, its server up)
#       install.cmd and uninstall.cmd under Wine's cmd, from a folder holding
#       them as ARCH's zip does (x64 or x86) and the build's profile-sync.exe:
#       a table of runs, each compared with what it must leave installed.
#       With the 32-bit loader, cmd is a 32-bit process on 64-bit Windows,
#       which the scripts must leave for the 64-bit cmd, so that the program
#       goes to the 64-bit Program Files.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0

if [ "$1" = task-xml ]; then
  command -v xmllint >/dev/null || { echo "xmllint not found (libxml2-utils): skipped"; exit 77; }
  shipped=$(mktemp -d)
  trap 'rm -rf "$shipped"' EXIT
  "$root/scripts/deploy-files.sh" x64 "$shipped" || exit 1
  installed=$(sed -n 's/^set "exe=\(.*\)"\r$/\1/p' "$shipped/install.cmd")
  [ -n "$installed" ] || { echo "FAIL: install.cmd sets no exe"; exit 1; }
  exec_element="//*[local-name()='Actions']/*[local-name()='Exec']"
  for xml in "$root/deploy/profile-sync-task.xml" "$shipped/profile-sync-task.xml"; do
    command=$(xmllint --xpath "string($exec_element/*[local-name()='Command'])" "$xml") || {
      echo "FAIL $xml: does not parse"
      failures=$((failures + 1))
      continue
    }
    arguments=$(xmllint --xpath "count($exec_element/*[local-name()='Arguments'])" "$xml")
    if [ "$command" != "\"$installed\"" ] || [ "$arguments" != 0 ]; then
      echo "FAIL $xml: runs $command with $arguments Arguments; expected \"$installed\" with none"
      failures=$((failures + 1))
    else
      echo "ok   $xml runs \"$installed\""
    fi
    # XPATH|EXPECTED: each trigger's count, and the network trigger's filter.
    while IFS='|' read -r xpath expected; do
      got=$(xmllint --xpath "$xpath" "$xml")
      [ "$got" = "$expected" ] ||
        { echo "FAIL $xml: $xpath is $got, expected $expected"; failures=$((failures + 1)); }
    done <<'ROWS'
count(//*[local-name()='LogonTrigger'])|1
count(//*[local-name()='SessionStateChangeTrigger'])|2
count(//*[local-name()='EventTrigger'])|1
contains(//*[local-name()='Subscription'], "EventID=10000]] and *[EventData[Data[@Name='Category']=2]]")|true
ROWS
  done
  # regedit reads a version 5 file as UTF-16 LE with its mark.
  reg='hardened-unc-paths.reg'
  if [ "$(head -c 2 "$shipped/$reg" | od -An -tx1 | tr -d ' ')" != fffe ] ||
    ! cmp -s <(tail -c +3 "$shipped/$reg" | iconv -f UTF-16LE -t ASCII) <(sed 's/$/\r/' "$root/deploy/$reg") ||
    [ "$(head -1 "$root/deploy/$reg")" != 'Windows Registry Editor Version 5.00' ]; then
    echo "FAIL $reg: not shipped as a version 5 file, UTF-16 LE with its mark and CR LF"
    failures=$((failures + 1))
  else
    echo "ok   $reg shipped as UTF-16 LE with its mark"
  fi
  [ "$failures" -eq 0 ]
  exit
fi

wine=$2
exe=$3
arch=$4
work=$WINEPREFIX/drive_c/deploy-test
programs=$WINEPREFIX/drive_c/Program\ Files
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\profile-sync'
marker_key='HKCU\Software\Tessavo\profile-sync'
rm -rf "$work" "$programs/Tessavo" "$programs (x86)/Tessavo"

# package NAME ARCH [no-exe]: C:\deploy-test\NAME, the files of ARCH's zip
# beside the build's profile-sync.exe.
package() {
  "$root/scripts/deploy-files.sh" "$2" "$work/$1" || exit 1
  [ "${3:-}" = no-exe ] || cp "$exe" "$work/$1/profile-sync.exe"
}
package zip "$arch"
package arm64 arm64
package no-exe x64 no-exe
package bad-task "$arch"
echo 'not a task' >"$work/bad-task/profile-sync-task.xml"

# What is installed, as words: program (the build's, in the 64-bit Program
# Files) or program-differs, partial (a profile-sync.exe.new left), folder,
# x86-folder (the 32-bit Program Files), source (both values right) or
# source-wrong, task (Wine keeps tasks as files), marker (the user's marker,
# which uninstall.cmd must leave).
installed() {
  local words=() dest=$programs/Tessavo values
  if [ -e "$dest/profile-sync.exe" ]; then
    if cmp -s "$exe" "$dest/profile-sync.exe"; then words+=(program); else words+=(program-differs); fi
  fi
  [ ! -e "$dest/profile-sync.exe.new" ] || words+=(partial)
  [ ! -d "$dest" ] || words+=(folder)
  [ ! -e "$programs (x86)/Tessavo" ] || words+=(x86-folder)
  if "$wine" reg query "$source_key" >/dev/null 2>&1; then
    values=$("$wine" reg query "$source_key" 2>/dev/null | tr -d '\r' |
      sed -n 's/^ *\([A-Za-z]*\) *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2 \3/p' | LC_ALL=C sort | paste -sd '|' -)
    if [ "$values" = 'EventMessageFile REG_EXPAND_SZ C:\Program Files\Tessavo\profile-sync.exe|TypesSupported REG_DWORD 0x7' ]; then
      words+=(source)
    else
      words+=(source-wrong)
    fi
  fi
  [ ! -e "$WINEPREFIX/drive_c/windows/system32/tasks/Tessavo/profile-sync" ] || words+=(task)
  "$wine" reg query "$marker_key" >/dev/null 2>&1 && words+=(marker)
  echo "${words[*]}"
}

# row NAME SCRIPT FOLDER EXIT INSTALLED [HOLDS]: runs SCRIPT from
# C:\deploy-test\FOLDER; its exit code, what is installed after it, and a text
# its output must hold.
row() {
  local name=$1 script=$2 folder=$3 expected_exit=$4 expected=$5 holds=${6:-} output code state
  output=$("$wine" cmd /d /c "C:\\deploy-test\\$folder\\$script" 2>&1)
  code=$?
  output=${output//$'\r'/}
  state=$(installed)
  if [ "$code" != "$expected_exit" ] || [ "$state" != "$expected" ] || [[ "$output" != *"$holds"* ]]; then
    echo "FAIL $name: exit $code, installed: $state; output:"
    printf '%s\n' "$output" | grep -v -e '^$' -e FreeType -e freetype -e 'TrueType' -e '2\.0\.5' | sed 's/^/    /'
    echo "    expected exit $expected_exit, installed: $expected${holds:+, output holding: $holds}"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

start=$(date +%s)
"$wine" reg add "$marker_key" /v LastInLine /d 2026-12-10T13:46:09Z /f >/dev/null 2>&1
all='program folder source task marker'
row install install.cmd zip 0 "$all" 'installed in C:\Program Files\Tessavo'
row install-over-itself install.cmd zip 0 "$all"
row uninstall uninstall.cmd zip 0 marker 'reg delete HKCU\Software\Tessavo\profile-sync /f'
row uninstall-when-gone uninstall.cmd zip 0 marker
row another-architecture install.cmd arm64 2 marker 'for arm64 Windows; this machine is AMD64'
row no-program-beside install.cmd no-exe 3 marker
# A file where the folder goes: nothing after the failed step is done.
touch "$programs/Tessavo"
row no-folder install.cmd zip 4 marker
rm -f "$programs/Tessavo"
# No task: the program is not put in place, so that a detection rule on
# the file does not call it installed.
row no-task install.cmd bad-task 7 'folder source marker'
row uninstall-after-no-task uninstall.cmd zip 0 marker
# Another program's file in the folder keeps the folder.
row install-beside-another install.cmd zip 0 "$all"
echo other >"$programs/Tessavo/other.txt"
row uninstall-beside-another uninstall.cmd zip 0 'folder marker'
# The zip's .reg, imported as regedit or reg import takes it: both paths hardened.
hardened='HKLM\SOFTWARE\Policies\Microsoft\Windows\NetworkProvider\HardenedPaths'
"$wine" reg import 'C:\deploy-test\zip\hardened-unc-paths.reg' >/dev/null 2>&1
values=$("$wine" reg query "$hardened" 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *\(\\\\[^ ]*\) *REG_SZ *\(.*\)$/\1=\2/p' | LC_ALL=C sort | paste -sd '|' -)
data='RequireMutualAuthentication=1, RequireIntegrity=1'
if [ "$values" != "\\\\*\\NETLOGON=$data|\\\\corp.example\\handoff\$=$data" ]; then
  echo "FAIL hardened-unc-paths.reg: imported as $values"
  failures=$((failures + 1))
else
  echo "ok   hardened-unc-paths.reg"
fi
"$wine" reg delete "$hardened" /f >/dev/null 2>&1
rm -rf "$programs/Tessavo" "$programs (x86)/Tessavo" "$work"
"$wine" reg delete "$marker_key" /f >/dev/null 2>&1
echo "$failures failed; $(($(date +%s) - start)) s"
[ "$failures" -eq 0 ]
