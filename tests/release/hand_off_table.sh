#!/usr/bin/env bash
# Runs the importer under Wine on a table of hand-off files, each row in a
# fresh folder from a clean key, and compares what it leaves with the row:
# the exit code (its low 8 bits: 255 no file, 251 refused), the values under
# the profile key as that Wine's reg.exe exports them, and the file's fate.
# A row preceded by LOCALE=... runs the importer in that Unix locale, which
# gives Wine's process the ANSI code page of a Windows of that language
# (ru_RU: 1251, ja_JP: 932, el_GR: 1253, he_IL: 1255, vi_VN: 1258, zh_TW: 950);
# the others run in C.UTF-8 (1252).
# For the ARM64 importer, which no test suite can be built for, this is its
# test; with SYNC_EXE, a few rows of profile-sync on the same machine follow.
#   hand_off_table.sh WINE_LOADER IMPORTER_EXE [SYNC_EXE]   (WINEPREFIX set, its server up)
set -uo pipefail
wine=$1
key='HKCU\Software\Tessavo'
# Inside the prefix's C: drive: under qemu -L, Wine's Z: drive is qemu's root.
table=$WINEPREFIX/drive_c/hand-off-table
rm -rf "$table"
mkdir -p "$table"
cp "$2" "$table/importer.exe"
failures=0

# The values under the profile key as name=text, sorted, joined by |; none
# when the key is not there.
stored_values() {
  rm -f "$table/after.reg"
  "$wine" reg export "$key\\Mirandel" 'C:\hand-off-table\after.reg' /y >/dev/null 2>&1
  if [ -e "$table/after.reg" ]; then
    iconv -f UTF-16 -t UTF-8 "$table/after.reg" | tr -d '\r' |
      sed -n 's/^"\([^"]*\)"="\(.*\)"$/\1=\2/p; s/^"\([^"]*\)"=\([a-z]\)/\1=\2/p' |
      sed 's/\\\\/\\/g' | LC_ALL=C sort | paste -sd '|' -
  else
    echo none
  fi
}

# row NAME BEFORE FILE EXIT FATE VALUES...: BEFORE is "clean" or "others"
# (values the run must keep); FILE is printf text, "none", or "utf16:" and
# text to store as UTF-16 LE with a byte order mark, or "CPnnn:" and text to
# store in that code page; FATE is "gone" or "kept";
# VALUES are name=text as exported, none when the key must not exist.
row() {
  local name=$1 before=$2 file=$3 expected_exit=$4 fate=$5
  shift 5
  "$wine" reg delete "$key" /f >/dev/null 2>&1
  if [ "$before" = others ]; then
    "$wine" reg add "$key\\Mirandel" /v Other /t REG_DWORD /d 7 /f >/dev/null 2>&1
    "$wine" reg add "$key\\Mirandel" /v RegCorp /d "an older, longer name" /f >/dev/null 2>&1
  fi
  rm -rf "$table/work"
  mkdir "$table/work"
  case "$file" in
    none) ;;
    utf16:*) { printf '\xff\xfe'; printf '%b' "${file#utf16:}" | iconv -f UTF-8 -t UTF-16LE; } >"$table/work/sysfile.cfg" ;;
    CP*:*) printf '%b' "${file#*:}" | iconv -f UTF-8 -t "${file%%:*}" >"$table/work/sysfile.cfg" ;;
    *) printf '%b' "$file" >"$table/work/sysfile.cfg" ;;
  esac
  (cd "$table/work" && LC_ALL=${LOCALE:-C.UTF-8} "$wine" 'C:\hand-off-table\importer.exe' >/dev/null 2>&1)
  local code=$?
  local values
  values=$(stored_values)
  local expected
  expected=$(printf '%s\n' "$@" | LC_ALL=C sort | paste -sd '|' -)
  local left=gone
  [ ! -e "$table/work/sysfile.cfg" ] || left=kept
  [ "$file" != none ] || left=$fate
  if [ "$code" != "$expected_exit" ] || [ "$values" != "$expected" ] || [ "$left" != "$fate" ]; then
    echo "FAIL $name: exit $code, values $values, file $left;"
    echo "    expected exit $expected_exit, values $expected, file $fate"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

start=$(date +%s)
row sample clean 'Tessavo Demo Site\nSQL01\\\nMIRANDEL\nThis fourth line is passed over.\nadmin\njdoe\n' \
  0 gone 'RegCorp=Tessavo Demo Site' 'RegDataBase=SQL01\MIRANDEL' RegAdmin=admin RegUser=jdoe
row no-file clean none 255 gone none
row refused clean "$(printf 'c%.0s' {1..64})\nd\ne\nf\na\nu\n" 251 kept none
row others-kept others 'corp\ndb\nase\nskip\nadm\nusr\n' \
  0 gone RegCorp=corp RegDataBase=dbase RegAdmin=adm RegUser=usr Other=dword:00000007
row crlf clean 'Acme Corp\r\nSQL01\\\r\nMIRANDEL\r\nline four\r\nadmin\r\njdoe\r\n' \
  0 gone 'RegCorp=Acme Corp' 'RegDataBase=SQL01\MIRANDEL' RegAdmin=admin RegUser=jdoe
row utf-8 clean '\xef\xbb\xbfCaf\xc3\xa9 M\xc3\xbcller\nsrv\n\xe2\x82\xac\nx\n\n\xf0\x9f\x98\x80\n' \
  0 gone 'RegCorp=Café Müller' 'RegDataBase=srv€' RegAdmin= 'RegUser=😀'
row windows-1252 clean 'Caf\xe9\n\x80\n\n\n\xc0\nna\xefve' \
  0 gone RegCorp=Café RegDataBase=€ RegAdmin=À RegUser=naïve
row utf-16-le clean 'utf16:Café\r\nSQL01\\\r\nХД\r\nx\r\nadm😀\r\njdoe\r\n' \
  0 gone RegCorp=Café 'RegDataBase=SQL01\ХД' 'RegAdmin=adm😀' RegUser=jdoe
russian='Тессаво Москва\nSQL01\\\nГЛАВНАЯ\nx\nадмин\nпользователь\n'
LOCALE=ru_RU.UTF-8 row cp1251-russian clean "CP1251:$russian" 0 gone 'RegCorp=Тессаво Москва' \
  'RegDataBase=SQL01\ГЛАВНАЯ' RegAdmin=админ RegUser=пользователь
# The same bytes on a machine of code page 1252: read as the importing machine reads them.
row cp1251-under-1252 clean "CP1251:$russian" 0 gone 'RegCorp=Òåññàâî Ìîñêâà' \
  'RegDataBase=SQL01\ÃËÀÂÍÀß' RegAdmin=àäìèí RegUser=ïîëüçîâàòåëü
# ソ is 83 5C: a trail byte that is a backslash in ASCII.
LOCALE=ja_JP.UTF-8 row cp932-japanese clean 'CP932:ソフト株式会社\nSQL01\\\n本社\nx\n管理者\n山田\n' \
  0 gone RegCorp=ソフト株式会社 'RegDataBase=SQL01\本社' RegAdmin=管理者 RegUser=山田
LOCALE=ja_JP.UTF-8 row cp932-lone-lead-byte clean 'c\nd\ne\nf\na\nu\x82\n' 251 kept none
LOCALE=el_GR.UTF-8 row cp1253-greek clean 'CP1253:Τεσσάβο Αθήνα\nSQL01\\\nΚΥΡΙΑ\nx\nδιαχειριστής\nχρήστης\n' \
  0 gone 'RegCorp=Τεσσάβο Αθήνα' 'RegDataBase=SQL01\ΚΥΡΙΑ' RegAdmin=διαχειριστής RegUser=χρήστης
LOCALE=he_IL.UTF-8 row cp1255-hebrew clean 'CP1255:Acme\nSQL01\\\nMAIN\nx\nמנהל\nשלום\n' \
  0 gone RegCorp=Acme 'RegDataBase=SQL01\MAIN' RegAdmin=מנהל RegUser=שלום
LOCALE=vi_VN.UTF-8 row cp1258-vietnamese clean 'CP1258:Đông Anh\nSQL01\\\nMAIN\nx\nadmin\nĐô\n' \
  0 gone 'RegCorp=Đông Anh' 'RegDataBase=SQL01\MAIN' RegAdmin=admin RegUser=Đô
# 王 (A4 FD) and the first user-defined character of Big5 (FA 40), which Windows maps to U+E000.
LOCALE=zh_TW.UTF-8 row cp950-user-defined clean 'Acme\nSQL01\\\nMAIN\nx\nadmin\n\xa4\xfd\xfa\x40\n' \
  0 gone RegCorp=Acme 'RegDataBase=SQL01\MAIN' RegAdmin=admin $'RegUser=\xe7\x8e\x8b\xee\x80\x80'
# A line that is UTF-8 beside one that is not: one encoding for the
# file, so both are read in the machine's code page.
row one-encoding-per-file clean 'Caf\xc3\xa9\nSQL01\\\nMAIN\nx\nadmin\n\xe9\n' \
  0 gone 'RegCorp=CafÃ©' 'RegDataBase=SQL01\MAIN' RegAdmin=admin RegUser=é

# sync_row NAME FILE EXIT HOLDS VALUES...: profile-sync on the master
# C:\hand-off-table\master\sysfile.cfg, from the key the rows before left;
# HOLDS is a text its result line must hold (tabs as \t).
sync_row() {
  local name=$1 file=$2 expected_exit=$3 holds
  holds=$(printf '%b' "$4")
  shift 4
  mkdir -p "$table/master" "$table/appdata"
  printf '%b' "$file" >"$table/master/sysfile.cfg"
  local output code
  output=$(LC_ALL=${LOCALE:-C.UTF-8} LOCALAPPDATA='C:\hand-off-table\appdata' "$wine" \
    'C:\hand-off-table\sync.exe' 'C:\hand-off-table\master\sysfile.cfg' 2>/dev/null)
  code=$?
  local shown=no
  [[ "$output" != *"$holds"* ]] || shown=yes
  local values expected
  values=$(stored_values)
  expected=$(printf '%s\n' "$@" | LC_ALL=C sort | paste -sd '|' -)
  if [ "$code" != "$expected_exit" ] || [ "$values" != "$expected" ] || [ "$shown" != yes ]; then
    echo "FAIL $name: exit $code, values $values, result line: $output"
    echo "    expected exit $expected_exit, values $expected, a line holding: $holds"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

if [ $# -ge 3 ]; then
  cp "$3" "$table/sync.exe"
  "$wine" reg delete "$key" /f >/dev/null 2>&1
  sample='Acme\nSQL01\\\nMAIN\nx\nadmin\njdoe\n'
  sync_row sync-first-run "$sample" 0 '\t0 InPlace\t' RegCorp=Acme 'RegDataBase=SQL01\MAIN' \
    RegAdmin=admin RegUser=jdoe
  # Nothing changed, and nothing to change: the fields for both say "-".
  sync_row sync-nothing-to-do "$sample" 0 '\t0 InPlace\terror 0, NT status 0x00000000\t-\t-\t' \
    RegCorp=Acme 'RegDataBase=SQL01\MAIN' RegAdmin=admin RegUser=jdoe
  LOCALE=ru_RU.UTF-8 sync_row sync-ansi-master-refused 'Caf\xe9\nSQL01\\\nMAIN\nx\nadmin\njdoe\n' 15 '\t15 MasterInvalid\t' \
    RegCorp=Acme 'RegDataBase=SQL01\MAIN' RegAdmin=admin RegUser=jdoe
fi
"$wine" reg delete "$key" /f >/dev/null 2>&1
echo "$failures failed; $(($(date +%s) - start)) s"
[ "$failures" -eq 0 ]
