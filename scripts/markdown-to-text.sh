#!/usr/bin/env bash
# The documentation's Markdown as plain text, for the READMEs the zips carry:
#   markdown-to-text.sh PAGE[#ANCHOR]...  the pages in turn, each up to the
#                                         heading of ANCHOR if one is given
#   markdown-to-text.sh --anchors PAGE    the anchors of PAGE's headings, one a line
# Pages are named from the top of the source, as links resolve from there.
# The text has LF line ends; the release adds CR LF and a byte order mark.
set -euo pipefail
renderer=$(dirname "$0")/markdown-to-text.awk
if [ "${1:-}" == "--anchors" ]; then
  LC_ALL=C exec awk -f "$renderer" pass=1 anchors=1 "$2"
fi
pages=()
for page in "$@"; do
  stop=
  [[ "$page" != *'#'* ]] || stop=${page#*#}
  pages+=("stop=$stop" "${page%%#*}")
done
LC_ALL=C awk -f "$renderer" pass=1 "${pages[@]}" pass=2 "${pages[@]}"
