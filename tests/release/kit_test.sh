#!/usr/bin/env bash
# Unpacks the Windows test kit into a fresh folder with a space and a caret in
# its name inside a Wine prefix, puts a key of tricky values under
# HKCU\Software\Tessavo (quotes, backslashes, %PATH%, !, non-ASCII, empty,
# the default value, every value type, a nested subkey with a space) that must
# come back byte for byte after every run, and runs these cases:
#   direct            the suites and the benchmark started directly: both refuse;
#   others-may-write  the kit folder made writable by others: refused, with the fix;
#   full              run-tests.cmd in full: exit 0, every listed test counted,
#                     the XML written, while run-bench.cmd by the same user
#                     refuses at once and a junction in the work folder points
#                     outside it; HKLM's policy untouched unless asked;
#   no-test           a filter that matches no test: a failure;
#   link              a registry link under the key: refused;
#   squatted          the lock's old named object made first by another process,
#                     and a policy a killed run left set deleted by the next run;
#   injected          a quoted & in an argument runs nothing;
#   bench             run-bench.cmd for a few rounds with the key absent: exit 0,
#                     the report's last four lines, the JSON file, the key
#                     absent again;
#   killed            run-tests.cmd killed in the middle of a suite, then a newer
#                     value stored by "a later logon";
#   second            a second user (a second prefix is the second user's
#                     registry) running the kit from the same folder, untouched
#                     by the first's pending backup;
#   broken            the kit's do-nothing PE as profile-import.exe: a non-zero
#                     exit, failures counted, the killed run's backup restored
#                     after the newer key was kept aside;
#   interrupted       Ctrl+C while a program the suite left behind is still to
#                     write the key;
#   logon             a run cut short whose Run value's command puts the key back
#                     at the next logon (and, with nothing left pending, only
#                     removes the value) from the runner's copy in %LOCALAPPDATA%.
# second and broken need the backup killed leaves: named without it, they
# make it first.
# Where the 32-bit Wine cannot start (a kernel without 32-bit support), the
# 64-bit Wine starts the kit's x86 programs in its experimental WoW64 mode,
# which such kernels run in part, and not the same way twice: the x86 leg's
# results say nothing of the kit. A run that failed in that leg alone counts
# as exit 0 (and says so), the x86 suites' tests are counted only where they
# left results, and a full run need not end with PASSED; every other check
# holds.
#   kit_test.sh KIT_ZIP WINE_PREFIX SECOND_WINE_PREFIX [CASE...]
# Each prefix is made here if it is not yet. Every case, in this order, unless
# some are named: each one sets up what it needs on top of the shared setup
# (the kit unpacked afresh, the tricky key stored, nothing of the kit's left
# in the registry), so any one can be run alone to look into it.
# Its checks read "[ A ] && B || fail": a failure unless both hold, as meant.
# shellcheck disable=SC2015
set -euo pipefail
cases=(direct others-may-write full no-test link squatted injected bench killed second broken
  interrupted logon)
if [ $# -lt 3 ]; then
  echo "usage: kit_test.sh KIT_ZIP WINE_PREFIX SECOND_WINE_PREFIX [CASE...]; cases: ${cases[*]}" >&2
  exit 2
fi
selected=("${@:4}")
[ $# -gt 3 ] || selected=("${cases[@]}")
for name in "${selected[@]}"; do
  [[ " ${cases[*]} " == *" $name "* ]] || { echo "kit_test.sh: no case $name; cases: ${cases[*]}" >&2; exit 2; }
done
zip=$(realpath "$1")
mkdir -p "$2" "$3"
WINEPREFIX=$(realpath "$2")
export WINEPREFIX
first_prefix=$WINEPREFIX
second_prefix=$(realpath "$3")
source "$(dirname "$0")/../../scripts/wine-env.sh"
make_prefixes "$WINEPREFIX" "$second_prefix"
key='HKCU\Software\Tessavo'
kit_key='HKCU\Software\profile-import-kit'
policy_key='HKLM\SOFTWARE\Policies\Tessavo\profile-sync'
work="$WINEPREFIX/drive_c/kit test^"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
x86_refusal=$(wine32_refusal) || [ $? -eq 1 ]
# Only the kit's runner may say the key is guarded.
source "$(dirname "$0")/../../cmake/project.env"
unset "$key_guard_variable" CI

rm -rf "$work"
mkdir -p "$work"
(cd "$work" && cmake -E tar xf "$zip")
# Registry links, a named object held, a writer that outlives its parent:
# what reg.exe cannot do in Wine.
helper="$work/kit-helper.exe"
x86_64-w64-mingw32-gcc -municode -O1 -s -o "$helper" "$(dirname "$0")/kit_helper.c" -lntdll
logon_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
logon_value='profile-import-kit restore'
kit=$(echo "$work"/*/)
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p
WINEPREFIX=$second_prefix "$wineserver" -p
# Quiet unless it fails, as the key's import below.
quiet() { "$@" >"$work/quiet.log" 2>&1 || { cat "$work/quiet.log"; echo "kit_test.sh: failed: $*"; exit 1; }; }
trap '"$wineserver" -k; WINEPREFIX=$second_prefix "$wineserver" -k' EXIT

{
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Tessavo]
@="the default value"
"Quotes"="say \"hi\" & <go>"
"Backslashes"="C:\\path\\to\\"
"Percent and bang"="%PATH%;!x!;^"
"Non-ASCII"="Müller, Ωμέγα, мир, 日本"
"Empty"=""
"Expand"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,78,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,20,00,63,00,00,00,00,00
"Binary"=hex:00,ff,10,0d,0a
"Qword"=hex(b):01,02,03,04,05,06,07,08
"Dword"=dword:00000007

[HKEY_CURRENT_USER\Software\Tessavo\Mirandel]
"RegCorp"="a real profile"

[HKEY_CURRENT_USER\Software\Tessavo\Kit Sentinel\Deeper key]
@=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00
REG
} >"$work/tricky.reg"
"$wine64" reg delete "$key" /f >/dev/null 2>&1 || true
"$wine64" reg delete "$kit_key" /f >/dev/null 2>&1 || true
# Left by a case cut short in an earlier run of this script.
"$wine64" reg delete "$logon_run" /v "$logon_value" /f >/dev/null 2>&1 || true
quiet "$wine64" reg import "$("$wine64" winepath -w "$work/tricky.reg")"
"$wine64" reg export "$key" "$work/before.reg" /y >/dev/null
expected="$work/before.reg"
# Sets $code and $summary from one command's run whose output is in $log.
check_run() {
  local name=$1
  [ -z "$x86_refusal" ] || x86_leg_alone_failed "$name"
  summary=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped, [0-9]+ incomplete$' || true)
  echo "$name: exit $code: ${summary:-$(tr -d '\r' <"$log" | tail -1)}"
  rm -f "$work/after.reg"
  "$wine64" reg export "$key" "$work/after.reg" /y >/dev/null 2>&1 || true
  # Absent before and after, or the same export.
  { [ ! -e "$expected" ] && [ ! -e "$work/after.reg" ]; } || cmp -s "$expected" "$work/after.reg" ||
    fail "$name: $key is not as it was before the run"
  ! "$wine64" reg query "$kit_key\\Backup" >/dev/null 2>&1 || fail "$name: the backup was left behind"
}
# Runs one of the kit's commands (or a program of the kit) and checks it.
run_kit() {
  local name=$1
  log="$work/$name.log"
  shift
  set +e
  (cd "$kit" && "$wine64" "$@") >"$log" 2>&1 </dev/null
  code=$?
  set -e
  check_run "$name"
}
# The processes of this prefix whose command line matches: kit tests in
# other prefixes on the machine are left alone.
prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1"); do
    # A process may end between pgrep and the read.
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
# Sends a signal to them; false if there is none.
signal_prefix() {
  local pids
  mapfile -t pids < <(prefix_pids "$2")
  [ ${#pids[@]} -ne 0 ] && kill -s "$1" "${pids[@]}"
}
newest_results() {
  # shellcheck disable=SC2012 # by time, of folders the runner names
  ls -td "$kit"/results/*/ 2>/dev/null | head -1
}

# The kit's x86 leg: its suites and the x64 end-to-end suite on the x86 importer.
x86_leg='x86-(unit_tests|e2e_tests|importer-x64-e2e_tests)'
# The failed cases of the newest run, but for the x86 leg's where it cannot
# be judged: the full run's log is too long to show whole.
failed_cases() {
  local xml suite
  for xml in "$(newest_results)"*.xml; do
    [ -e "$xml" ] || continue
    suite=$(basename "$xml" .xml)
    [ -z "$x86_refusal" ] || ! [[ "$suite" =~ ^$x86_leg$ ]] || continue
    awk -v suite="$suite" '
      /<testcase /{match($0, / name="[^"]*"/); name = substr($0, RSTART + 7, RLENGTH - 8)
        match($0, /classname="[^"]*"/); name = substr($0, RSTART + 11, RLENGTH - 12) "." name; first = ""}
      /<failure /{if (first == "") {match($0, /message="[^"]*"/); first = substr($0, RSTART + 9, RLENGTH - 10)}}
      /<\/testcase>/{if (first != "") print "  failed: " suite ": " name ": " substr(first, 1, 300)}' "$xml"
  done
}

# Where the x86 leg cannot be judged, a run's exit 1 is taken for 0 if it
# came from that leg alone: it failed for failed or unfinished tests and
# nothing else, no other suite ended without its results and the x64 suites'
# own hold no failure; the benchmark's failures are all of its x86 rows.
x86_leg_alone_failed() {
  local results failed suite others
  [ "$code" -eq 1 ] && tr -d '\r' <"$log" | tail -1 |
    grep -qxE 'run-(tests: FAILED; tests failed or did not finish|bench: FAILED; a run went wrong.*)' || return 0
  results=$(newest_results)
  if [ "$1" = bench ]; then
    failed=$(grep -o '"failures":[0-9]*' "${results}bench.json" | cut -d: -f2) || return 0
    [ "$failed" -gt 0 ] && [ "$failed" -eq "$(tr -d '\r' <"$log" |
      grep -E '^bench-startup: [a-z]+_x86, (warm-up )?round [0-9]+: ' | grep -cv 'starting it again$')" ] ||
      return 0
  else
    others=$(tr -d '\r' <"$log" | grep -E '^run-tests: .* (ended with exit code|could not start)' |
      grep -vE "^run-tests: $x86_leg (ended|could not start)" || true)
    [ -z "$others" ] || return 0
    for suite in unit_tests e2e_tests; do
      grep -q '<testsuites [^>]*failures="0"' "${results}$suite.xml" || return 0
    done
  fi
  # The failure line after the benchmark's report came from that alone.
  [ "$1" != bench ] || sed -i '/^run-bench: FAILED; a run went wrong/d' "$log"
  echo "$1: not run: the kit's x86 leg; the 32-bit Wine cannot start on this kernel: $x86_refusal"
  code=0
}

# Started by hand, the programs that rewrite the key refuse and touch nothing.
case_direct() {
  local program
  for program in e2e_tests.exe bench-startup.exe; do
    run_kit "direct-$program" "$program"
    [ "$code" -eq 2 ] && grep -q "refusing to run: .* instead" "$log" ||
      fail "$program started directly did not refuse (exit $code)"
  done
}

# A kit folder others may write to (Wine's DACL from the mode bits gives
# Everyone write) is refused before anything, with the way to a sound one.
case_others_may_write() {
  chmod o+w "$kit"
  run_kit others-may-write cmd /c run-tests.cmd
  chmod o-w "$kit"
  [ "$code" -eq 2 ] && grep -q 'refusing to run from .*Everyone (S-1-1-0) may change it' "$log" &&
    grep -q 'Delete this folder' "$log" || fail "a kit folder others may write to was not refused (exit $code)"
}

count_tests() { (cd "$kit" && "$1" "$2.exe" --gtest_list_tests) | tr -d '\r' | grep -c '^  '; }

# Starts run-tests.cmd in full in the background, logging to $log, and
# returns once its output shows the pattern; $! is its process.
start_full_run() {
  log="$work/$1.log"
  (cd "$kit" && exec "$wine64" cmd /c run-tests.cmd) >"$log" 2>&1 </dev/null &
  for _ in $(seq 600); do
    grep -qs "$2" "$log" && return
    sleep 0.1
  done
}

# An x64 machine runs both architectures' suites, and the x64 end-to-end
# suite once more against the x86 importer. Where the x86 leg cannot be
# judged, its suites count only where they left results. Once the full run
# has backed the key up, the same user's benchmark must refuse at once.
case_full() {
  local x86_suites=(unit_tests e2e_tests) listed suite full temp run_work twice passed failed skipped xml
  [ -z "$x86_refusal" ] || x86_suites=()
  listed=$(($(count_tests "$wine64" unit_tests) + 2 * $(count_tests "$wine64" e2e_tests)))
  for suite in "${x86_suites[@]}"; do
    listed=$((listed + $(count_tests "$wine32" "x86/$suite")))
  done
  start_full_run full 'backed up'
  full=$!
  # A junction (here a directory symlink, which Wine reports as one) in the
  # run's work folder: its clean-up must remove the link, not what it reaches.
  mkdir -p "$work/outside"
  echo kept >"$work/outside/kept.txt"
  temp=$("$wine64" winepath -u "$("$wine64" cmd /c echo %TEMP% | tr -d '\r')")
  # shellcheck disable=SC2012 # by time, of folders the kit names
  run_work=$(ls -td "$temp"/profile-import-kit-*/ 2>/dev/null | head -1) || true
  [ -n "$run_work" ] && ln -s "$work/outside" "${run_work}outside" || fail "no work folder of the run's in $temp"
  (cd "$kit" && "$wine64" cmd /c run-bench.cmd 2) >"$work/twice.log" 2>&1 </dev/null && twice=0 || twice=$?
  [ "$twice" -eq 2 ] && grep -q 'another kit run of this user is under way (process [0-9]* in session' "$work/twice.log" ||
    fail "a second run by the same user did not refuse (exit $twice)"
  set +e
  wait "$full"
  code=$?
  set -e
  check_run full
  [ "$code" -eq 0 ] || { fail "the full run exited with $code"; failed_cases; }
  [ -e "$work/outside/kept.txt" ] || fail "the work folder's clean-up deleted what a junction in it points to"
  # Not asked to, the suites leave the machine's policy alone.
  ! "$wine64" reg query "$policy_key" >/dev/null 2>&1 || fail "the run wrote $policy_key without being asked to"
  read -r passed _ failed _ skipped _ <<<"$summary"
  if [ -n "$x86_refusal" ]; then
    for xml in x86-unit_tests x86-e2e_tests; do
      xml="$(newest_results)$xml.xml"
      [ ! -e "$xml" ] || listed=$((listed + $(sed -n 's/.*<testsuites tests="\([0-9]*\)".*/\1/p' "$xml")))
    done
  fi
  [ $((passed + failed + skipped)) -eq "$listed" ] || fail "the summary does not count the $listed listed tests"
  for xml in unit_tests e2e_tests "${x86_suites[@]/#/x86-}" x86-importer-x64-e2e_tests; do
    grep -qs '<testsuites tests=' "$(newest_results)$xml.xml" || fail "no results/*/$xml.xml"
  done
  grep -qs '<testsuite name="x86-importer-x64-e2e_tests\.' "$(newest_results)x86-importer-x64-e2e_tests.xml" ||
    fail "the second end-to-end run's JUnit suites are not named apart"
  [ -n "$x86_refusal" ] || tr -d '\r' <"$log" | tail -1 | grep -qx 'run-tests: PASSED' ||
    fail "the full run does not end with PASSED"
}

case_no_test() {
  run_kit no-test cmd /c run-tests.cmd --gtest_filter=NoSuchTest.*
  [ "$code" -eq 1 ] && grep -q 'no test ran' "$log" || fail "a filter matching no test did not fail (exit $code)"
}

# A registry link under the key: refused before anything is touched, its
# target intact.
case_link() {
  "$wine64" reg add 'HKCU\Software\Link target' /v Kept /d "the link's target" /f >/dev/null
  "$wine64" "$helper" link 'Software\Tessavo\Link' 'Software\Link target'
  "$wine64" reg export "$key" "$work/linked.reg" /y >/dev/null
  expected="$work/linked.reg"
  run_kit link cmd /c run-tests.cmd --gtest_filter=ImportEndToEnd.NoFileCreatesNothing
  expected="$work/before.reg"
  [ "$code" -eq 2 ] && grep -q 'Link is a registry link' "$log" || fail "a registry link under the key did not refuse the run (exit $code)"
  "$wine64" reg query 'HKCU\Software\Link target' /v Kept 2>/dev/null | grep -q "the link's target" ||
    fail "the registry link's target was touched"
  "$wine64" "$helper" unlink 'Software\Tessavo\Link'
  "$wine64" reg delete 'HKCU\Software\Link target' /f >/dev/null
}

# The policy a killed run left set (and marked as its own) is deleted by the
# next run that is asked to set one, and by no other: the mark is in the
# user's hive. Another user's process holding the named object the lock
# once was: the run goes on.
case_squatted() {
  "$wine64" reg add "$kit_key\\Machine policy" /f >/dev/null
  "$wine64" reg add "$policy_key" /v Mode /t REG_DWORD /d 0 /f >/dev/null
  "$wine64" "$helper" squat &
  sleep 1
  run_kit squatted cmd /c run-tests.cmd --gtest_filter=ImportEndToEnd.NoFileCreatesNothing
  signal_prefix TERM 'kit-helper\.exe squat' || fail "the squatting process was gone before the run"
  [ "$code" -eq 0 ] || fail "a named object made first by another process blocked the run (exit $code)"
  "$wine64" reg query "$policy_key" >/dev/null 2>&1 || fail "a run not asked to set the policy deleted it"
  export "$machine_policy_variable=1"
  run_kit squatted-asked cmd /c run-tests.cmd --gtest_filter=ImportEndToEnd.NoFileCreatesNothing
  unset "$machine_policy_variable"
  ! "$wine64" reg query "$policy_key" >/dev/null 2>&1 && ! "$wine64" reg query "$kit_key\\Machine policy" >/dev/null 2>&1 ||
    fail "the policy a killed run left set was not put back"
}

# Arguments are text: a quoted & runs nothing, and what is not accepted is refused.
case_injected() {
  run_kit injected cmd /c 'run-bench.cmd "2&echo INJECTED"'
  [ "$code" -eq 2 ] && ! tr -d '\r' <"$log" | grep -qx INJECTED || fail "run-bench.cmd ran what its argument held (exit $code)"
}

# The benchmark runs where the key does not exist, as on most machines: it must be absent again.
case_bench() {
  "$wine64" reg delete "$key" /f >/dev/null
  expected="$work/absent.reg"
  run_kit bench cmd /c run-bench.cmd 3 --seed 7
  expected="$work/before.reg"
  [ "$code" -eq 0 ] || fail "run-bench.cmd exited with $code"
  tr -d '\r' <"$log" | tail -4 | head -3 | tr '\n' ' ' |
    grep -qE '^nofile/manifest-floor=[0-9]+\.[0-9]{2} importer/manifest-floor=[0-9]+\.[0-9]{2} manifest-floor/minimal=[0-9]+\.[0-9]{2} $' ||
    fail "run-bench.cmd does not report the no-file run and the manifest floor before its summary line"
  tr -d '\r' <"$log" | tail -1 | grep -qE '^importer/minimal=[0-9]+\.[0-9]{2} importer/empty=[0-9]+\.[0-9]{2} batch/importer=[0-9]+\.[0-9] flush_ms=-?[0-9]+\.[0-9]{2}$' ||
    fail "run-bench.cmd does not end with the benchmark's summary line"
  grep -qs '"times_ms":{"importer":\[[0-9]' "$(newest_results)bench.json" || fail "no results/*/bench.json"
  quiet "$wine64" reg import "$("$wine64" winepath -w "$work/tricky.reg")"
}

# The runner killed in the middle of the end-to-end suite, as by a crash;
# then a later logon stores a newer profile. The backup stays pending for
# the cases that follow.
pending=no
case_killed() {
  local killed
  start_full_run killed 'end-to-end tests'
  killed=$!
  sleep 1
  signal_prefix KILL 'kit-runner\.exe' || fail "no runner to kill"
  wait "$killed" || true
  # The suite under way dies with the runner: left running, it would go on
  # rewriting the key.
  sleep 2
  [ -z "$(prefix_pids 'e2e_tests\.exe')" ] || fail "the suite outlived the runner"
  signal_prefix KILL 'e2e_tests\.exe' || true
  "$wine64" reg query "$kit_key\\Backup" >/dev/null 2>&1 || fail "the killed run left no backup"
  "$wine64" reg query "$logon_run" /v "$logon_value" 2>/dev/null | tr -d '\r' |
    grep -q '\\profile-import-kit\\kit-runner\.exe" restore$' ||
    fail "the killed run left no Run value starting the runner's copy in %LOCALAPPDATA% at the next logon"
  "$wine64" reg add "$key\\Mirandel" /v RegCorp /t REG_SZ /d "stored by a later logon" /f >/dev/null
  pending=yes
}

# What the killed case leaves, for a case named without it.
killed_run_pending() {
  [ "$pending" = yes ] || case_killed
}

# The second user, with a registry of their own, runs the kit from the same
# folder while the first's backup is pending: nothing of the first's is theirs.
case_second() {
  killed_run_pending
  export WINEPREFIX=$second_prefix
  "$wine64" reg delete "$key" /f >/dev/null 2>&1 || true
  "$wine64" reg add "$key" /v Sentinel /t REG_SZ /d "the second user's own" /f >/dev/null
  "$wine64" reg export "$key" "$work/second.reg" /y >/dev/null
  expected="$work/second.reg"
  run_kit second cmd /c run-tests.cmd --gtest_filter=ImportEndToEnd.NoFileCreatesNothing
  [ "$code" -eq 0 ] || fail "the second user's run exited with $code"
  ! grep -q 'found the backup of a run that did not finish' "$log" || fail "the second user's run found a backup of the first's"
  export WINEPREFIX=$first_prefix
  expected="$work/before.reg"
}

# The first user's next run keeps the newer key aside, restores the backup
# before anything else, and still restores it after a run that fails.
case_broken() {
  killed_run_pending
  cp "$kit/profile-import.exe" "$work/profile-import.exe"
  cp "$kit/bench-minimal-pe.exe" "$kit/profile-import.exe"
  run_kit broken cmd /c run-tests.cmd '--gtest_filter=ImportEndToEnd.CreatesMissingKeyAndParent:ImportEndToEnd.NoFileCreatesNothing:*ImportsAcceptedFile*'
  cp "$work/profile-import.exe" "$kit/profile-import.exe"
  pending=no
  [ "$code" -eq 1 ] || fail "the run with a broken importer exited with $code, not 1"
  [[ "$summary" =~ ^[0-9]+\ passed,\ [1-9][0-9]*\ failed ]] || fail "the run with a broken importer counts no failure"
  grep -q 'found the backup of a run that did not finish' "$log" || fail "the killed run's backup was not said to be restored"
  "$wine64" reg query "$kit_key" /s 2>/dev/null | tr -d '\r' | grep -q 'stored by a later logon' ||
    fail "the newer key was not kept aside before the backup was restored"
  ! "$wine64" reg query "$logon_run" /v "$logon_value" >/dev/null 2>&1 || fail "the Run value outlived a verified restore"
  "$wine64" reg delete "$kit_key" /f >/dev/null 2>&1 || true
}

# Ctrl+C while a program the suite started, which outlived it, is still to
# write the key: the key is put back only once that program is gone.
case_interrupted() {
  local interrupted
  cp "$kit/profile-import.exe" "$work/profile-import.exe"
  cp "$helper" "$kit/profile-import.exe"
  log="$work/interrupted.log"
  (cd "$kit" && exec "$wine64" cmd /c run-tests.cmd '--gtest_filter=ImportEndToEnd.*') >"$log" 2>&1 </dev/null &
  interrupted=$!
  for _ in $(seq 600); do
    [ -z "$(prefix_pids 'profile-import\.exe late')" ] || break
    sleep 0.1
  done
  signal_prefix INT 'kit-runner\.exe' || fail "no runner to interrupt"
  set +e
  wait "$interrupted"
  code=$?
  set -e
  # Past the time the left-behind program would have written the key.
  sleep 6
  cp "$work/profile-import.exe" "$kit/profile-import.exe"
  check_run interrupted
  [ "$code" -eq 1 ] && grep -q 'FAILED; interrupted' "$log" || fail "the interrupted run did not report it (exit $code)"
  [ -z "$(prefix_pids 'profile-import\.exe late')" ] || fail "a program the suite left behind outlived the run"
}

# Cut short as by a logoff, then the next logon runs what the Run value
# holds, which Windows leaves in place; run again with nothing pending, it
# only removes the value.
case_logon() {
  local logoff logon pending_now
  start_full_run logoff 'backed up'
  logoff=$!
  signal_prefix KILL 'kit-runner\.exe' || fail "no runner to kill"
  wait "$logoff" || true
  logon=$("$wine64" reg query "$logon_run" /v "$logon_value" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *"\(.*\)" restore$/\1/p')
  for pending_now in yes no; do
    log="$work/logon-$pending_now.log"
    set +e
    "$wine64" "${logon:-no Run value}" restore >"$log" 2>&1 </dev/null
    code=$?
    set -e
    check_run "logon-$pending_now"
    [ "$code" -eq 0 ] && { [ $pending_now = no ] || grep -q 'found the backup of a run that did not finish' "$log"; } ||
      fail "the logon restore (backup pending: $pending_now) exited $code or did not say what it restored"
    ! "$wine64" reg query "$logon_run" /v "$logon_value" >/dev/null 2>&1 || fail "the Run value outlived the logon restore (pending: $pending_now)"
    "$wine64" reg add "$logon_run" /v "$logon_value" /t REG_SZ /d "\"$logon\" restore" /f >/dev/null
  done
  "$wine64" reg delete "$logon_run" /v "$logon_value" /f >/dev/null 2>&1 || true
  "$wine64" reg delete "$kit_key" /f >/dev/null 2>&1 || true
  pending=no
}

for name in "${selected[@]}"; do
  "case_${name//-/_}"
done

if [ "$failures" -ne 0 ]; then
  for log in "$work"/*.log; do
    echo "--- $log"
    tr -d '\r' <"$log" | tail -40
  done
  exit 1
fi
echo "the test kit runs, reports, refuses when it must, and restores $key byte for byte"
