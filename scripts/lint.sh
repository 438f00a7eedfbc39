#!/usr/bin/env bash
# Static checks on the project's own sources: clang-tidy (rules in .clang-tidy),
# cppcheck, clang-format's layout, shellcheck (settings in .shellcheckrc), and
# the documentation's links and checker examples. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# clang-tidy reads each file as a build compiles it, from the compilation
# databases the builds write: the native build's (the portable core, the
# checker, the unit tests), the fuzzer's, and the Windows build's (all of it
# again as MinGW-w64 code, with what only Windows builds). A build not yet
# configured is configured; building a target of each brings its database up
# to date with the CMake files first.
presets=(native fuzz windows)
for preset in "${presets[@]}"; do
  [ -e "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
done
cmake --build --preset native --target profile-check >/dev/null
cmake --build build/fuzz --target build.ninja >/dev/null
# profile-sync's entry includes the header the message compiler writes.
cmake --build --preset windows --target sync_messages >/dev/null
# The tools and the suites build in batches, one file that includes a few
# sources each: that include is no slip there.
printf 'InheritParentConfig: true\nChecks: -bugprone-suspicious-include\n' >build/.clang-tidy

# clang-tidy reads the Windows sources as MinGW-w64 code; it needs to be told
# where the MinGW C++ headers are, since Debian puts them in a "-posix" folder.
gcc_include="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")/include/c++"
windows_args=(-extra-arg=--target=x86_64-w64-mingw32 "-extra-arg=-isystem$gcc_include"
  "-extra-arg=-isystem$gcc_include/x86_64-w64-mingw32" "-extra-arg=-isystem$gcc_include/backward")
# GCC-only warning flags in the databases mean nothing to clang. The
# project's own files and batches, not GoogleTest's (.cc) or resources (.rc).
tidy=(run-clang-tidy-22 -quiet -hide-progress -j 2 -extra-arg=-Wno-unknown-warning-option)
own='\.(cpp|cxx)$'
# Even with -quiet, clang-tidy counts the warnings it hid in system headers
# ("N warnings generated.") and names each build of a file that two programs
# compile ("[1/1] (1/2) Processing file ..."): only the findings are shown.
findings_only() {
  sed -E '/^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$/d; /^\[1\/1\] \([0-9]+\/[0-9]+\) Processing file /d; /^$/d'
}
tidy_status=0
"${tidy[@]}" -p build/native "$own" 2>&1 | findings_only || tidy_status=1
"${tidy[@]}" -p build/fuzz '/tests/fuzz/.*\.cpp$' 2>&1 | findings_only || tidy_status=1
"${tidy[@]}" -p build/windows "${windows_args[@]}" "$own" 2>&1 | findings_only || tidy_status=1
[ "$tidy_status" -eq 0 ]

git ls-files '*.cpp' | xargs cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ --inline-suppr \
  --library=googletest --library=windows --enable=warning,style,performance,portability \
  --suppress=missingIncludeSystem --suppress='unusedStructMember:tests/*' -I . -I tests

git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# Every shell script: by its name, or by its first line where it has no .sh.
{
  git ls-files '*.sh'
  git ls-files -z | xargs -0 awk 'FNR == 1 && /^#!.*[\/ ](ba)?sh$/ { print FILENAME } { nextfile }'
} | sort -u | xargs shellcheck

scripts/check-docs.sh build/native/profile-check

echo "lint: clean"
