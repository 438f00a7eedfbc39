#!/usr/bin/env bash
# The native profile-check as a user runs it: exit codes (the shell sees the
# low 8 bits: -5 is 251, -1 is 255) and the first line it prints.
set -u
checker=$1
samples=$2
failures=0

expect() {  # expect CODE PATTERN ARGS...
  local code=$1 pattern=$2
  shift 2
  local output status
  output=$(cd "$samples" && "$checker" "$@" 2>&1)
  status=$?
  if [ "$status" -ne "$code" ] || ! grep -qF -- "$pattern" <<<"$output"; then
    echo "FAIL: profile-check $*: exit $status (want $code)"
    echo "    ${output//$'\n'/$'\n'    }"
    failures=$((failures + 1))
  fi
}

expect 0 'RegCorp      "Tessavo Demo Site"  17/63' sysfile.cfg
expect 251 'corp-64.cfg:1: line 1 is 64 characters long; RegCorp holds at most 63' corp-64.cfg
expect 0 '"verdict":"accepted"' --json lf.cfg
expect 255 'no-such.cfg: cannot open the file' no-such.cfg
expect 255 '"verdict":"not_opened","reason":"no such file"' --json no-such.cfg
# A file that is there but cannot be opened is the importer's -6 (250), not "nothing to import".
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/sysfile.cfg"
expect 250 'cannot open the file (it is a folder); the importer would exit -6' "$folder/sysfile.cfg"
expect 2 'usage: profile-check' --bogus
expect 0 'usage: profile-check' --help
expect 0 'RegUser      "jdoe"' - <"$samples/crlf.cfg"
expect 0 'lines 2 and 3: UTF-16LE + UTF-16LE' utf16le-powershell.cfg
expect 251 'hint: the file looks like UTF-16 big-endian' utf16be.cfg
expect 0 'RegCorp      "Тессаво Москва"  14/63  line 1: Windows-1251' --code-page 1251 cp1251.cfg
expect 251 'line 1 is not valid CP932 text' --code-page 932 cp1251.cfg
expect 2 'profile-check: --code-page takes a code page' --code-page 99999 cp1251.cfg
# A code page Windows knows, but never a machine's ANSI one.
expect 2 'profile-check: --code-page takes a code page' --code-page 50220 cp1251.cfg
# What the importer stores under Hebrew, Vietnamese and Taiwanese Windows (the
# hand-off table's rows): Windows' own tables, user-defined characters included.
expect 0 'RegUser      "שלום"' --code-page 1255 - < <(printf 'c\nd\ne\nf\na\n\xf9\xec\xe5\xed\n')
expect 0 'RegUser      "Đô"' --code-page 1258 - < <(printf 'c\nd\ne\nf\na\n\xd0\xf4\n')
expect 0 'RegUser      "王' --code-page 950 - < <(printf 'c\nd\ne\nf\na\n\xa4\xfd\xfa\x40\n')
expect 0 'RegCorp' # no argument: sysfile.cfg in the working directory

[ "$failures" -eq 0 ] && echo "profile-check: all cases pass"
exit "$failures"
