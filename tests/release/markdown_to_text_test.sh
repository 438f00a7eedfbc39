#!/usr/bin/env bash
# The zips' README.txt renderer on the hard parts of the pages it renders
# (tables wrapped and aligned, code blocks, links to sections carried above
# and below, to pages and sections not carried, to the web, a page cut at a
# heading), against the text it must give; and a link left as Markdown fails.
#   markdown_to_text_test.sh   (from anywhere; runs from the top of the source)
set -euo pipefail
cd "$(dirname "$0")/../.."
fixture=tests/release/markdown
diff -u "$fixture/expected.txt" \
  <(scripts/markdown-to-text.sh "$fixture/readme.md#documentation" "$fixture/docs/guide.md")
broken=$(mktemp)
trap 'rm -f "$broken"' EXIT
printf 'A link [with [brackets] in its text](guide.md).\n' >"$broken"
if scripts/markdown-to-text.sh "$broken" >/dev/null 2>&1; then
  echo "markdown-to-text: a link left as Markdown was not refused"
  exit 1
fi
echo "markdown-to-text: the fixture renders as expected"
