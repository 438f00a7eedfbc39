#!/usr/bin/env bash
# Applies each mutant of mutants.tsv alone to a scratch copy of the tree,
# rebuilds the native unit tests there and runs them: a mutant the tests
# pass is a slip they would not catch. Prints each survivor, then the score
# per file. The working tree is never changed.
#
#   tests/mutation/run.sh [FILTER]   only mutants whose file contains FILTER
#
# A mutant is found by its text, not its line: the file named first, or else
# the one source file that holds the text, so code may move between files.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
mutants=$root/tests/mutation/mutants.tsv
filter=${1:-}
scratch=$root/build/mutation
build=$scratch/build
started=$SECONDS

# The tree as it stands, committed or not; the build directory kept between
# runs; the files stamped now, so a mutant compiled last time is not kept.
mkdir -p "$scratch/src"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -xmf - -C "$scratch/src"
cmake -S "$scratch/src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
build_and_test() {
  cmake --build "$build" --target unit_tests -j 2 >"$scratch/build.log" 2>&1 || return 2
  timeout 60 "$build/unit_tests" --gtest_brief=1 >"$scratch/test.log" 2>&1 || return 1
}
build_and_test || {
  echo "run.sh: the unmutated tree does not pass its unit tests" >&2
  cat "$scratch/build.log" "$scratch/test.log" >&2
  exit 1
}

# The file that holds `text` once: the named one, or else the only source file
# that does. Empty when none or several do.
locate() {
  local named=$1 text=$2 content
  if [[ -f $scratch/src/$named ]]; then
    content=$(<"$scratch/src/$named")
    if [[ $content == *"$text"* ]]; then
      echo "$named"
      return
    fi
  fi
  local found
  found=$(cd "$scratch/src" && git -C "$root" ls-files -co --exclude-standard -- '*.cpp' '*.h' |
    grep -v '^tests/' | while read -r file; do
      [[ -f $file ]] && grep -qF -- "$text" "$file" && echo "$file"
    done)
  [[ $(wc -l <<<"$found") == 1 ]] && echo "$found"
}

declare -A total killed
equivalent=0
unusable=()
survivors=()
while IFS=$'\t' read -r named from to why; do
  [[ -z $named || $named == \#* ]] && continue
  [[ -n $filter && $named != *"$filter"* ]] && continue
  if [[ ${why:-} == equivalent:* ]]; then
    equivalent=$((equivalent + 1))
    continue
  fi
  file=$(locate "$named" "$from") || true
  if [[ -z $file ]]; then
    unusable+=("not found once: $named: $from")
    continue
  fi
  path=$scratch/src/$file
  original=$(cat "$path" && printf x)
  original=${original%x}
  rest=${original#*"$from"}
  if [[ $rest == *"$from"* ]]; then
    unusable+=("more than once: $file: $from")
    continue
  fi
  printf '%s' "${original%%"$from"*}$to$rest" >"$path"
  status=0
  build_and_test || status=$?
  printf '%s' "$original" >"$path"
  if ((status == 2)); then
    unusable+=("does not build: $file: $from -> $to")
    continue
  fi
  total[$file]=$((${total[$file]:-0} + 1))
  if ((status == 0)); then
    survivors+=("$file: $from -> $to")
  else
    killed[$file]=$((${killed[$file]:-0} + 1))
  fi
done <"$mutants"

for line in "${unusable[@]}"; do echo "UNUSABLE $line"; done
for line in "${survivors[@]}"; do echo "SURVIVED $line"; done
all=0
all_killed=0
for file in $(printf '%s\n' "${!total[@]}" | sort); do
  k=${killed[$file]:-0}
  printf '%-32s %3d/%-3d %3d %%\n' "$file" "$k" "${total[$file]}" $((100 * k / total[$file]))
  all=$((all + total[$file]))
  all_killed=$((all_killed + k))
done
((all != 0)) && printf '%-32s %3d/%-3d %3d %%\n' total "$all_killed" "$all" $((100 * all_killed / all))
echo "run.sh: $equivalent equivalent mutants set aside; $((SECONDS - started)) s"
((${#unusable[@]} == 0))
