#!/usr/bin/env bash
# Unpacks the Windows test kit into a fresh folder with a space in its name
# inside a Wine prefix, puts a sentinel under HKCU\Software\Tessavo, and runs
#   run-tests.cmd in full: exit 0, every listed test counted, the XML written,
#   the sentinel back;
#   run-bench.cmd for a few rounds with the key absent: exit 0, the report's
#   last line, the JSON file, the key absent again;
#   run-tests.cmd with the kit's do-nothing PE as profile-import.exe, a few
#   end-to-end cases and the backup of an "interrupted" run left: a non-zero
#   exit, failures counted, the interrupted run's backup restored first, the
#   sentinel back;
#   two users sharing the kit folder (the second prefix is the second user's
#   registry): the first interrupted after its backup, the second's run must
#   leave its own key as it was, and the first's backup restore the first's.
# Where the 32-bit Wine cannot start (a kernel without 32-bit support), the
# kit's x86 leg fails at its first start of each x86 program: it is reported
# as not run, a run that failed for that alone counts as exit 0, and every
# other check holds as it is.
#   kit_test.sh KIT_ZIP WINE_PREFIX SECOND_WINE_PREFIX (a prefix the 64-bit Wine makes)
set -euo pipefail
zip=$(realpath "$1")
export WINEPREFIX=$(realpath "$2")
mkdir -p "$3"
second_prefix=$(realpath "$3")
source "$(dirname "$0")/../../scripts/wine-env.sh"
key='HKCU\Software\Tessavo'
work="$WINEPREFIX/drive_c/kit test"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
x86_refusal=$(wine32_refusal) || [ $? -eq 1 ]

rm -rf "$work"
mkdir -p "$work"
(cd "$work" && cmake -E tar xf "$zip")
kit=$(echo "$work"/*/)
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p
WINEPREFIX=$second_prefix "$wineserver" -p
[ -e "$second_prefix/system.reg" ] || WINEPREFIX=$second_prefix "$wine64" wineboot -i >/dev/null 2>&1
trap '"$wineserver" -k; WINEPREFIX=$second_prefix "$wineserver" -k' EXIT

"$wine64" reg delete "$key" /f >/dev/null 2>&1 || true
"$wine64" reg add "$key" /v Sentinel /t REG_SZ /d "set before the kit ran" /f >/dev/null
"$wine64" reg add "$key\\Mirandel" /v RegCorp /t REG_SZ /d "a real profile" /f >/dev/null
"$wine64" reg add "$key\\Kit Sentinel" /v Count /t REG_DWORD /d 7 /f >/dev/null
"$wine64" reg add "$key\\Kit Sentinel\\Deeper" /ve /t REG_EXPAND_SZ /d '%TEMP%\x' /f >/dev/null
"$wine64" reg export "$key" "$work/before.reg" /y >/dev/null
expected="$work/before.reg"
# Where kit-guard.cmd keeps the backup of the prefix's user; none is left from before.
user_state() {
  state=$("$wine64" winepath -u "$("$wine64" cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')")/profile-import-kit
  rm -rf "$state"
}
user_state
# Runs one of the kit's commands; sets $code and $summary, keeps the output in $log.
run_kit() {
  local name=$1
  log="$work/$name.log"
  shift
  set +e
  (cd "$kit" && "$wine64" cmd /c "$@") >"$log" 2>&1 </dev/null
  code=$?
  set -e
  # The kit's Explorer check is an x86 program too: where it cannot start,
  # cmd's complaint about it, after the report, is left out.
  [ -z "$x86_refusal" ] || sed -i '/started-by-explorer\.exe/d' "$log"
  summary=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' || true)
  echo "$*: exit $code: ${summary:-$(tr -d '\r' <"$log" | tail -1)}"
  [ -z "$x86_refusal" ] || x86_leg_only_failed_to_start "$name"
  rm -f "$work/after.reg"
  "$wine64" reg export "$key" "$work/after.reg" /y >/dev/null 2>&1 || true
  # Absent before and after, or the same export.
  { [ ! -e "$expected" ] && [ ! -e "$work/after.reg" ]; } || cmp -s "$expected" "$work/after.reg" ||
    fail "$key is not as it was before the run"
  [ ! -e "$state/tessavo-backup.reg" ] || fail "the backup was left behind"
}

# Where the x86 leg cannot start, a run's exit 1 is taken for 0 if it came
# from that alone: the x86 suites left no results, no other suite ended
# without its results, the x64 suites' own hold no failure, and every failed
# case of the x64 suite on the x86 importer could not start it (Wine's error
# 1359); the benchmark's failures are all x86 programs not starting.
x86_leg_only_failed_to_start() {
  local results=("$kit"/results/*/) failed suite others
  [ "$code" -eq 1 ] || return 0
  if [ "$1" = bench ]; then
    failed=$(grep -o '"failures":[0-9]*' "${results[0]}bench.json" | cut -d: -f2) || return 0
    [ "$failed" -gt 0 ] && [ "$failed" -eq "$(tr -d '\r' <"$log" |
      grep -cE '^bench-startup: [a-z]+_x86, [^:]+: could not start .*\\x86\\[a-z-]+\.exe: error 1359,')" ] ||
      return 0
  else
    for suite in x86-unit_tests x86-e2e_tests; do
      [ ! -e "${results[0]}$suite.xml" ] || return 0
    done
    others=$(tr -d '\r' <"$log" | grep -E '^run-tests: .* ended with exit code' |
      grep -vE '^run-tests: x86-(unit|e2e)_tests ended' || true)
    [ -z "$others" ] || return 0
    for suite in unit_tests e2e_tests; do
      grep -q '<testsuites [^>]*failures="0"' "${results[0]}$suite.xml" || return 0
    done
    awk '/<testcase /{failed = 0; start = 0} /<failure /{failed = 1}
      /<failure [^>]*could not start [^>]*\\x86\\profile-import\.exe \(attempt 3\): error 1359 /{start = 1}
      /<\/testcase>/{if (failed && !start) bad = 1} END{exit bad}' \
      "${results[0]}x86-importer-x64-e2e_tests.xml" || return 0
  fi
  echo "$1: not run: the kit's x86 leg; the 32-bit Wine cannot start on this kernel: $x86_refusal"
  code=0
}

# An x64 machine runs both architectures' suites, and the x64 end-to-end
# suite once more against the x86 importer.
x86_suites=(unit_tests e2e_tests)
[ -z "$x86_refusal" ] || x86_suites=()
listed=0
for run in "$wine64 unit_tests" "$wine64 e2e_tests" "${x86_suites[@]/#/$wine32 x86/}" "$wine64 e2e_tests"; do
  read -r loader suite <<<"$run"
  n=$(cd "$kit" && "$loader" "$suite.exe" --gtest_list_tests | tr -d '\r' | grep -c '^  ')
  listed=$((listed + n))
done

run_kit full run-tests.cmd
[ "$code" -eq 0 ] || fail "the full run exited with $code"
read -r passed _ failed _ skipped _ <<<"$summary"
[ $((passed + failed + skipped)) -eq "$listed" ] || fail "the summary does not count the $listed listed tests"
for xml in unit_tests e2e_tests "${x86_suites[@]/#/x86-}" x86-importer-x64-e2e_tests; do
  grep -qs '<testsuites tests=' "$kit"/results/*/"$xml.xml" || fail "no results/*/$xml.xml"
done

# The benchmark runs where the key does not exist, as on most machines: it must be absent again.
"$wine64" reg delete "$key" /f >/dev/null
expected="$work/absent.reg"
run_kit bench run-bench.cmd 3
expected="$work/before.reg"
[ "$code" -eq 0 ] || fail "run-bench.cmd exited with $code"
tr -d '\r' <"$log" | tail -2 | head -1 | grep -qE '^manifest-floor/minimal=[0-9]+\.[0-9]{2}$' ||
  fail "run-bench.cmd does not report the manifest floor before its summary line"
tr -d '\r' <"$log" | tail -1 | grep -qE '^importer/minimal=[0-9]+\.[0-9]{2} importer/empty=[0-9]+\.[0-9]{2} batch/importer=[0-9]+\.[0-9] flush_ms=-?[0-9]+\.[0-9]{2}$' ||
  fail "run-bench.cmd does not end with the benchmark's summary line"
grep -qs '"times_ms":{"importer":\[[0-9]' "$kit"/results/*/bench.json || fail "no results/*/bench.json"

cp "$kit/profile-import.exe" "$work/profile-import.exe"
cp "$kit/bench-minimal-pe.exe" "$kit/profile-import.exe"
mkdir -p "$state"
cp "$work/before.reg" "$state/tessavo-backup.reg"
"$wine64" reg add "$key" /v LeftByAnInterruptedRun /t REG_SZ /d x /f >/dev/null
"$wine64" reg delete "$key\\Kit Sentinel" /f >/dev/null 2>&1 || true
run_kit broken run-tests.cmd '--gtest_filter=ImportEndToEnd.CreatesMissingKeyAndParent:ImportEndToEnd.NoFileCreatesNothing:*ImportsAcceptedFile*'
[ "$code" -ne 0 ] || fail "the run with a broken importer exited 0"
[[ "$summary" =~ ^[0-9]+\ passed,\ [1-9][0-9]*\ failed ]] || fail "the run with a broken importer counts no failure"
grep -q 'interrupted run' "$log" || fail "the interrupted run's backup was not said to be restored"

# The first user's run stops after its backup, having changed the key; the
# second user, with a registry of their own, runs the kit from the same folder.
cp "$work/profile-import.exe" "$kit/profile-import.exe"
(cd "$kit" && "$wine64" cmd /c kit-guard.cmd begin run-tests) >"$work/first.log" 2>&1 </dev/null
"$wine64" reg add "$key" /v LeftByTheFirstUser /t REG_SZ /d x /f >/dev/null
first_state=$state
export WINEPREFIX=$second_prefix
user_state
"$wine64" reg delete "$key" /f >/dev/null 2>&1 || true
"$wine64" reg add "$key" /v Sentinel /t REG_SZ /d "the second user's own" /f >/dev/null
"$wine64" reg export "$key" "$work/second.reg" /y >/dev/null
expected="$work/second.reg"
run_kit second run-tests.cmd --gtest_filter=ImportEndToEnd.NoFileCreatesNothing
[ "$code" -eq 0 ] || fail "the second user's run exited with $code"
! grep -q 'interrupted run' "$log" || fail "the second user's run took the first's backup for its own"
export WINEPREFIX=$(realpath "$2")
state=$first_state
expected="$work/before.reg"
run_kit first-again run-tests.cmd --gtest_filter=ImportEndToEnd.NoFileCreatesNothing
grep -q 'interrupted run' "$log" || fail "the first user's next run did not restore from their backup"

if [ "$failures" -ne 0 ]; then
  for log in "$work"/*.log; do
    echo "--- $log"
    tr -d '\r' <"$log" | tail -40
  done
  exit 1
fi
echo "the test kit runs, reports and restores $key"
