# Markdown pages as plain text for Notepad, run by scripts/markdown-to-text.sh,
# which documents its use. A link to a section carried here names it and says
# whether it is above or below; a link to anything else says where in the
# source it is. Code is indented and tables set in columns; inline `code`
# keeps its backticks, which show where a command or a value ends.
# Run as awk -f markdown-to-text.awk pass=1 PAGES pass=2 PAGES: the first pass
# finds the headings a link can name, the second writes the text. stop=ANCHOR
# before a page ends that page at that heading; anchors=1 with pass=1 prints
# each heading's anchor instead. A link left as Markdown (say, its target
# broken over two lines) fails the run, naming its paragraph.
# Under LC_ALL=C (mawk counts bytes anyway) a width counts the bytes that start
# a UTF-8 character, not its continuation bytes.

# A heading's anchor as GitHub makes it: lower case, punctuation dropped,
# spaces as hyphens. scripts/check-docs.sh checks links by the same rule.
function anchor(h) { h = tolower(h); gsub(/[^a-z0-9 _-]/, "", h); gsub(/ /, "-", h); return h }
function heading(s) { sub(/^#+ +/, "", s); sub(/ +#* *$/, "", s); return s }
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
# A heading of a page not carried, by its anchor, read from the source.
function heading_in(file, want,  line, found) {
  while (found == "" && (getline line < file) > 0)
    if (line ~ /^#+ / && anchor(heading(line)) == want) found = heading(line)
  close(file)
  return found
}
# A carried section by its heading, which Notepad's Find finds, and where it
# is from here; a section of a page not carried by its page and heading; a link whose text is the heading, or just "below", gives just
# the heading. A link alone in parentheses adds to them rather than nesting.
function link(text, target, at, enclosed,  file, key, where, plain, lead, tail, section) {
  lead = enclosed ? ": " : " ("
  tail = enclosed ? "" : ")"
  if (target ~ /^[a-z]+:/) return text lead target tail
  file = target
  sub(/#.*/, "", file)
  file = (file == "" ? FILENAME : resolve(file))
  key = file "#" (index(target, "#") ? substr(target, index(target, "#") + 1) : "")
  if (!(key in line_of)) {
    section = index(target, "#") ? heading_in(file, substr(target, index(target, "#") + 1)) : ""
    return text lead file (section == "" ? "" : ", \"" section "\",") " in the project's source" tail
  }
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
# A page ends at the heading that stop names, if any.
/^#+ / && stop != "" && anchor(heading($0)) == stop { cut = 1 }
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
    h = heading($0)
    if (anchors) print anchor(h)
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
