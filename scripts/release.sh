#!/usr/bin/env bash
# Builds the release from this tree and packages it, the same bytes from any
# clone of the same commit:
#   build/release/profile-import-<version>-win-x64.zip    for x64 Windows
#   build/release/profile-import-<version>-win-x86.zip    for 32-bit Windows (and any)
#   build/release/profile-import-<version>-win-arm64.zip  for Windows on ARM
#       each: profile-import.exe, profile-check.exe, profile-sync.exe, README.txt
#       (the administrator's documentation as plain text) and SHA256SUMS
#       (the three executables), both with CR LF line ends; the ARM64 zip's
#       checker is the x86 one, which both Windows on ARM run
#   build/release/profile-import-<version>-windows-tests.zip  the test kit: one
#       folder with the x64 executables, the Windows test suites and the samples
#       they read, the benchmark and its programs, run-tests.cmd, run-bench.cmd
#       (both through kit-runner.exe) and README.txt; x86\ with the x86
#       executables, suites, samples, benchmark and runner; arm64\ with the ARM64
#       importer; each with its architecture's minimal PE
#   build/release/SHA256SUMS  the executables (beside it: x64, x86\, arm64\) and the zips
# With SIGN_PFX set (and SIGN_PASSWORD_FILE, SIGN_TIMESTAMP_URL if needed) the
# executables are signed first, so the sums and the zips are of the signed files,
# and every other program in the kit before it is zipped.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# One build tree per architecture: a CMake build has one compiler.
for preset in release release-x86 release-arm64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

version=$(sed -n 's/^project(profile-import VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=build/release
package=$out/package
kit=profile-import-$version-windows-tests
# Per architecture: its build tree and its folder beside SHA256SUMS and in the kit.
declare -A tree=([x64]=build/release-tree [x86]=build/release-tree-x86 [arm64]=build/release-tree-arm64)
declare -A folder=([x64]="" [x86]=x86/ [arm64]=arm64/)
executables=(profile-import.exe profile-check.exe profile-sync.exe)
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

if [ -n "${SIGN_PFX:-}" ]; then
  sign=(--pfx "$SIGN_PFX")
  [ -z "${SIGN_PASSWORD_FILE:-}" ] || sign+=(--password-file "$SIGN_PASSWORD_FILE")
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || sign+=(--timestamp-url "$SIGN_TIMESTAMP_URL")
  scripts/sign.sh "${sign[@]}" "${signed[@]}"
fi
# Both Windows on ARM run x86 programs; the checker needs no speed.
cp "$out/x86/profile-check.exe" "$out/arm64/"

# The kit tests the very files shipped, signed or not.
cp "${executables[@]/#/$out/}" "${kit_programs[@]/#/${tree[x64]}/}" "${tree[x64]}"/run-{tests,bench}.cmd \
  kit/README.txt "$package/$kit/"
cp "${executables[@]/#/$out/x86/}" "${kit_programs[@]/#/${tree[x86]}/}" "$package/$kit/x86/"
cp "$out/arm64/profile-import.exe" "${tree[arm64]}/bench-minimal-pe.exe" "$package/$kit/arm64/"
cp "${tree[x64]}"/samples/*.cfg "$package/$kit/samples/"
cp "${tree[x64]}"/samples/*.cfg "$package/$kit/x86/samples/"
# The kit's other programs signed alike, so that app control and SmartScreen
# treat the importer and the floors it is timed against the same way.
if [ -n "${SIGN_PFX:-}" ]; then
  mapfile -d '' unsigned < <(find "$package/$kit" -name '*.exe' ! -name profile-import.exe \
    ! -name profile-check.exe ! -name profile-sync.exe -print0 | LC_ALL=C sort -z)
  scripts/sign.sh "${sign[@]}" "${unsigned[@]}"
fi
# The administrator's README in each zip, made from the same pages as the
# repository's, for Notepad: the version, then the README up to its list of
# pages, then the pages an administrator needs. A link to a section carried
# here names it and says whether it is above or below; a link to anything else
# says where in the source it is. Code is indented and tables set in columns;
# inline `code` keeps its backticks, which show where a command or a value
# ends. CR LF line ends, and a byte order mark, without which Windows 7's
# Notepad reads UTF-8 as ANSI.
readme_pages=(README.md docs/deploying.md docs/hand-off-file.md docs/checker.md docs/troubleshooting.md)
# Run as awk pass=1 PAGES pass=2 PAGES: the first pass finds the headings a
# link can name, the second writes the text. A link left as Markdown (say, its
# target broken over two lines) fails the release, naming its paragraph.
# Under LC_ALL=C (mawk counts bytes anyway) a width counts the bytes that start
# a UTF-8 character, not its continuation bytes.
readme_awk=$(cat <<'EOF'
# A heading's anchor as scripts/check-docs.sh makes it.
function anchor(h) { h = tolower(h); gsub(/[^a-z0-9 _-]/, "", h); gsub(/ /, "-", h); return h }
function width(s,  t) { t = s; return length(s) - gsub(/[\200-\277]/, "", t) }
function spaces(n) { return n > 0 ? sprintf("%" n "s", "") : "" }
function dashes(n,  s) { s = spaces(n); gsub(/ /, "-", s); return s }
function pad(s, n, right) { return right ? spaces(n - width(s)) s : s spaces(n - width(s)) }
# A link's file as a path from the top of the source.
function resolve(file,  parts, n, i, k, kept, out) {
  n = split((file ~ /^\// || dir == "" ? "" : dir "/") file, parts, "/")
  for (i = 1; i <= n; i++)
    if (parts[i] == "..") { if (k > 0) k-- }
    else if (parts[i] != "" && parts[i] != ".") kept[++k] = parts[i]
  for (i = 1; i <= k; i++) out = out (i > 1 ? "/" : "") kept[i]
  return out
}
# A carried section by its heading, which Notepad's Find finds, and where it
# is from here; a link whose text is the heading, or just "below", gives just
# the heading. A link alone in parentheses adds to them rather than nesting.
function link(text, target, at, enclosed,  file, key, where, plain, lead, tail) {
  lead = enclosed ? ": " : " ("
  tail = enclosed ? "" : ")"
  if (target ~ /^[a-z]+:/) return text lead target tail
  file = target
  sub(/#.*/, "", file)
  file = (file == "" ? FILENAME : resolve(file))
  key = file "#" (index(target, "#") ? substr(target, index(target, "#") + 1) : "")
  if (!(key in line_of)) return text lead file " in the project's source" tail
  where = (line_of[key] < at ? "above" : "below")
  plain = tolower(text)
  gsub(/\n/, " ", plain)
  if (plain == tolower(title_of[key]) || plain ~ /^(above|below|here)$/) return "\"" title_of[key] "\", " where
  return text lead "see \"" title_of[key] "\", " where tail
}
function links(s, at, fnr,  out, m, k, enclosed) {
  while (match(s, /\[[^]]*\]\([^)]*\)/)) {
    m = substr(s, RSTART + 1, RLENGTH - 2)
    k = index(m, "](")
    out = out substr(s, 1, RSTART - 1)
    enclosed = out ~ /\($/ && substr(s, RSTART + RLENGTH, 1) == ")"
    out = out link(substr(m, 1, k - 1), substr(m, k + 2), at, enclosed)
    s = substr(s, RSTART + RLENGTH)
  }
  out = out s
  if (index(out, "](")) {
    print FILENAME ":" fnr ": a link that README.txt would show as Markdown" >"/dev/stderr"
    failed = 1
  }
  return out
}
# Outside code, never two blank lines running (a page's end and the next's start).
function emit(s) { print s; printed = 1; blank_out = 0 }
function blank() { if (printed && !blank_out) print ""; blank_out = 1 }
# A paragraph is converted whole, so a link's text may run over two lines.
function flush_para() {
  if (para != "") emit(links(para, para_at, para_fnr))
  para = ""
}
# Words into lines of at most n characters (a longer word alone) in piece[at, 1...].
function wrap(s, n, piece, at,  words, count, i, k) {
  count = split(s, words, " ")
  k = 1
  piece[at, 1] = words[1]
  for (i = 2; i <= count; i++)
    if (width(piece[at, k]) + 1 + width(words[i]) > n) piece[at, ++k] = words[i]
    else piece[at, k] = piece[at, k] " " words[i]
  return k
}
function longest(s,  words, count, i, most) {
  count = split(s, words, " ")
  for (i = 1; i <= count; i++) if (width(words[i]) > most) most = width(words[i])
  return most
}
# A table in columns: cells padded to their column's width, dashes for the
# rule under the header. Rows that would run past 78 characters have their
# widest columns wrapped to one width, the widest that fits (but at least 16,
# and no word broken), and are then set apart by blank lines.
function flush_table(  cell, w, least, right, indent, s, i, j, n, cells, ncols, plain, room, cap, total, piece, lines, count, tall, k, line) {
  if (!rows) return
  plain = rows < 2
  for (i = 1; i <= rows; i++) {
    s = table[i]
    match(s, /^ */)
    if (i == 1) indent = substr(s, 1, RLENGTH)
    s = substr(s, RLENGTH + 1)
    gsub(/\\\|/, "\001", s)
    sub(/^\|/, "", s)
    sub(/\| *$/, "", s)
    n = split(s, cells, "|")
    if (n > ncols) ncols = n
    for (j = 1; j <= n; j++) {
      s = cells[j]
      gsub(/^ +| +$/, "", s)
      gsub(/\001/, "|", s)
      if (i == 2 && s !~ /^:?-+:?$/) plain = 1
      if (i == 2) right[j] = (s ~ /-:$/ && s !~ /^:/)
      # A column already shows where a value starts and ends.
      gsub(/`/, "", s)
      cell[i, j] = links(s, table_at + i - 1, table_fnr + i - 1)
      if (i != 2 && width(cell[i, j]) > w[j]) w[j] = width(cell[i, j])
      if (i != 2 && longest(cell[i, j]) > least[j]) least[j] = longest(cell[i, j])
    }
  }
  # Without a rule under its first row it is not a table: left as it is.
  if (plain) {
    for (i = 1; i <= rows; i++) emit(links(table[i], table_at + i - 1, table_fnr + i - 1))
    rows = 0
    return
  }
  room = 78 - length(indent) - 2 * (ncols - 1)
  for (j = 1; j <= ncols; j++) if (w[j] > cap) cap = w[j]
  for (; cap > 16; cap--) {
    total = 0
    for (j = 1; j <= ncols; j++) total += (right[j] || w[j] < cap) ? w[j] : (least[j] > cap ? least[j] : cap)
    if (total <= room) break
  }
  for (j = 1; j <= ncols; j++) {
    if (right[j] || w[j] <= cap) continue
    w[j] = 0
    for (i = 1; i <= rows; i++) {
      if (i == 2) continue
      count = wrap(cell[i, j], cap, piece, i SUBSEP j)
      if (count > lines[i]) lines[i] = count
      if (count > 1 && i > 2) tall = 1
      for (k = 1; k <= count; k++) if (width(piece[i, j, k]) > w[j]) w[j] = width(piece[i, j, k])
    }
  }
  for (i = 1; i <= rows; i++) {
    if (i == 2) {
      line = ""
      for (j = 1; j <= ncols; j++) line = line (j > 1 ? "  " : "") dashes(w[j])
      emit(indent line)
      continue
    }
    if (tall && i > 3) blank()
    for (k = 1; k == 1 || k <= lines[i]; k++) {
      line = ""
      for (j = 1; j <= ncols; j++) {
        s = ((i, j, 1) in piece) ? piece[i, j, k] : (k == 1 ? cell[i, j] : "")
        line = line (j > 1 ? "  " : "") pad(s, w[j], right[j])
      }
      sub(/ +$/, "", line)
      emit(indent line)
    }
  }
  rows = 0
}
FNR == 1 {
  if (pass != this_pass) { this_pass = pass; at = 0 }
  if (pass == 2) { flush_para(); flush_table(); blank() }
  cut = 0
  code = 0
  dir = FILENAME
  if (!sub(/\/[^\/]*$/, "", dir)) dir = ""
}
# The README goes as far as its list of pages.
FILENAME == "README.md" && /^## Documentation$/ { cut = 1 }
cut { next }
# Both passes number the lines alike, so a heading's number from the first
# tells the second whether it is above or below a link.
{ at++ }
/^ *```/ {
  if (pass == 2) { flush_para(); flush_table() }
  code = !code
  next
}
code {
  if (pass == 2 && $0 == "") { print ""; blank_out = 1 }
  else if (pass == 2) emit("    " $0)
  next
}
pass == 1 {
  if (/^#+ /) {
    h = $0
    sub(/^#+ +/, "", h)
    sub(/ +#* *$/, "", h)
    key = FILENAME "#" anchor(h)
    if (!(key in line_of)) { line_of[key] = at; title_of[key] = h }
    # A link to the page itself names its title.
    if (/^# / && !((FILENAME "#") in line_of)) { line_of[FILENAME "#"] = at; title_of[FILENAME "#"] = h }
  }
  next
}
/^ *\|/ {
  flush_para()
  if (!rows) { table_at = at; table_fnr = FNR }
  table[++rows] = $0
  next
}
{ flush_table() }
/^ *$/ { flush_para(); blank(); next }
/^#+ / { flush_para(); para = $0; para_at = at; para_fnr = FNR; flush_para(); next }
para == "" { para = $0; para_at = at; para_fnr = FNR; next }
{ para = para "\n" $0 }
END { flush_para(); flush_table(); exit failed }
EOF
)
printf '\357\273\277' >"$package/README.txt"
{
  echo "profile-import $version"
  echo
  echo "The administrator's part of the profile-import documentation: the README,"
  echo "then Deploying, The hand-off file, The checker and Troubleshooting. The"
  echo "other pages are in the docs folder of the project's source."
  echo
  LC_ALL=C awk "$readme_awk" pass=1 "${readme_pages[@]}" pass=2 "${readme_pages[@]}"
} | sed 's/$/\r/' >>"$package/README.txt"
for arch in x64 x86 arm64; do
  mkdir "$package/$arch"
  cp "${executables[@]/#/$out/${folder[$arch]}}" "$package/README.txt" "$package/$arch/"
  # CR LF, as README.txt: whoever unpacks the zip on Windows may open it in Notepad.
  (cd "$out/${folder[$arch]}" && sha256sum "${executables[@]}") | sed 's/$/\r/' >"$package/$arch/SHA256SUMS"
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
  (cd "$package/$arch" && TZ=UTC zip -q -X -D "../../$zip" "${executables[@]}" README.txt SHA256SUMS)
  zips+=("$zip")
done
(cd "$package" && find "$kit" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "../$kit.zip" -@)
# LF line ends here: these sums go to whoever receives a release, on any
# system, and Perl's shasum (macOS's) takes a CR as part of the file name.
(cd "$out" && sha256sum "${signed[@]#$out/}" arm64/profile-check.exe "${zips[@]}" "$kit.zip") \
  >"$out/SHA256SUMS"
rm -rf "$package"

echo "${zips[*]/#/$out/}, $out/$kit.zip:"
(cd "$out" && cat SHA256SUMS)
