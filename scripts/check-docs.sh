#!/usr/bin/env bash
# The documentation against what it documents: every relative link in the
# README, the changelog and docs/ leads to a file, and to a heading there if
# it names one; every release zip it names has the version cmake/project.env
# gives; profile-publish's exit codes are its own; every "$ profile-check ..." line in a code block is followed
# by exactly what the checker prints for it today, run on the sample files.
#   check-docs.sh PROFILE_CHECK
set -euo pipefail
checker=$(realpath "$1")
cd "$(dirname "$0")/.."
docs=(README.md CHANGELOG.md docs/*.md)
failures=0
fail() {
  echo "docs: $*"
  failures=$((failures + 1))
}

# A page's headings' anchors, by the rule the zips' README.txt resolves links by.
anchors() { scripts/markdown-to-text.sh --anchors "$1"; }

for doc in "${docs[@]}"; do
  while read -r link; do
    file=${link%%#*}
    target=$doc
    [ -z "$file" ] || target=$(dirname "$doc")/$file
    if [ ! -e "$target" ]; then
      fail "$doc: $link: no such file"
    elif [[ "$link" == *'#'* ]] && ! anchors "$target" | grep -qxF "${link#*#}"; then
      fail "$doc: $link: no such heading"
    fi
  done < <(grep -o '\]([^)]*)' "$doc" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:' || true)
done

# A zip name with another version than the one being built names a file no
# release has; the version is the build's, as scripts/release.sh takes it.
source cmake/project.env
while IFS=: read -r doc line zip; do
  named=${zip#profile-import-}
  named=${named%-win*}
  [ "$named" == "$version" ] ||
    fail "$doc:$line: $zip names version $named; cmake/project.env has $version"
done < <(grep -HnoE 'profile-import-[0-9][0-9.]*-(win-(x64|x86|arm64)|windows-tests)\.zip' "${docs[@]}" || true)

# profile-publish's exit codes: the guide's table is the program's own, row
# for row (its texts with the guide's backticks taken out).
publish_codes=$(tr '\n' ' ' <publish/publish_status.h | sed -E 's/" +"//g; s/, +"/, "/g')
rows=0
while IFS='|' read -r _ code meaning _; do
  rows=$((rows + 1))
  code=${code// /}
  meaning=$(echo "$meaning" | sed -E 's/^ +| +$//g; s/`//g')
  name=$(echo "$publish_codes" | grep -oE "[A-Za-z]+ = $code," | cut -d' ' -f1) ||
    fail "docs/deploying.md: profile-publish has no exit code $code"
  [[ "$publish_codes" == *"{PublishStatus::$name, \"$meaning\"}"* ]] ||
    fail "docs/deploying.md: profile-publish's exit code $code means something else in publish/publish_status.h"
done < <(sed -n '/^### Its exit codes/,/^## /p' docs/deploying.md | grep -E '^\| [0-9]+ \|')
[ "$rows" -eq "$(grep -c '{PublishStatus::' publish/publish_status.h)" ] ||
  fail "docs/deploying.md: profile-publish's exit codes are not all in its table"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/*.cfg "$work/"
# Each example: its command's arguments in N.args, where it is in N.where, the
# lines after it up to the next command or the block's end in N.want.
awk -v dir="$work" '
  /^```/ { example = 0; next }
  /^\$ profile-check / {
    example = ++count
    print substr($0, 17) > (dir "/" count ".args")
    print FILENAME ":" FNR > (dir "/" count ".where")
    printf "" > (dir "/" count ".want")
    next
  }
  example { print > (dir "/" example ".want") }
' "${docs[@]}"
for args in "$work"/*.args; do
  [ -e "$args" ] || break
  read -r -a argv <"$args"
  got=$(cd "$work" && "$checker" "${argv[@]}" 2>&1) || true
  [ "$got" == "$(cat "${args%.args}.want")" ] ||
    fail "$(cat "${args%.args}.where"): profile-check ${argv[*]} prints something else:"$'\n'"$got"
done

[ "$failures" -eq 0 ] || exit 1
examples=("$work"/*.args)
echo "docs: every link resolves, every zip named is $version's, and ${#examples[@]} checker examples print what they show"
