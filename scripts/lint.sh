#!/usr/bin/env bash
# Static checks on the project's own sources: clang-tidy (rules in .clang-tidy),
# cppcheck, clang-format's layout, and the documentation's links and checker
# examples. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# The compilation databases come from configuring the two builds without
# batches, so that each file has its own entry.
cmake --preset native >/dev/null
for preset in native windows; do
  cmake --preset $preset -B build/lint-$preset -DPROFILE_IMPORT_BATCHED=OFF >/dev/null
done
# profile-sync's entry includes the header the message compiler writes.
cmake --build build/lint-windows --target sync_messages >/dev/null

portable=(app/run_import.cpp profile/*.cpp store/*.cpp sync/command_line.cpp sync/iso_time.cpp
  sync/master_path.cpp sync/master_search.cpp sync/policy.cpp sync/run_sync.cpp
  sync/stored_profile.cpp sync/sync_main.cpp sync/sync_record.cpp sync/user_lock.cpp check/*.cpp
  tests/unit/*.cpp tests/support/*.cpp tests/fuzz/*.cpp)
windows=(app/main_windows.cpp platform/windows_port.cpp platform/windows_sync_port.cpp
  platform/compiler_support.cpp sync/main_windows.cpp check/check_main.cpp tests/e2e/*.cpp kit/*.cpp
  bench/*.cpp winlib/*.cpp)

# clang-tidy reads the Windows sources as MinGW-w64 code; it needs to be told
# where the MinGW C++ headers are, since Debian puts them in a "-posix" folder.
gcc_include="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")/include/c++"
windows_args=(--extra-arg=--target=x86_64-w64-mingw32 "--extra-arg=-isystem$gcc_include"
  "--extra-arg=-isystem$gcc_include/x86_64-w64-mingw32" "--extra-arg=-isystem$gcc_include/backward")

# GCC-only warning flags in the compilation databases mean nothing to clang.
tidy=(clang-tidy-22 --quiet --extra-arg=-Wno-unknown-warning-option)
# Even with --quiet, clang-tidy counts the warnings it hid in system headers
# ("N warnings generated.") and names each build of a file it checks ("[1/1]
# (1/2) Processing file ...", where two runs' lines may run into each other);
# only its findings are shown.
findings_only() {
  sed -E '/^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$/d; /[0-9]+\/[0-9]+\] (\([0-9]+\/[0-9]+\) )?Processing file /d'
}
# Four runs per list, two at a time: each run of clang-tidy spends about
# 0.4 s of CPU before its first file, a quarter to a third of the whole with
# one file per run.
quarter() { echo $((($# + 3) / 4)); }
printf '%s\n' "${portable[@]}" | xargs -P 2 -n "$(quarter "${portable[@]}")" "${tidy[@]}" -p build/lint-native 2>&1 |
  findings_only
printf '%s\n' "${windows[@]}" | xargs -P 2 -n "$(quarter "${windows[@]}")" "${tidy[@]}" -p build/lint-windows \
  "${windows_args[@]}" 2>&1 |
  findings_only

cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ --inline-suppr --library=googletest --library=windows \
  --enable=warning,style,performance,portability --suppress=missingIncludeSystem \
  --suppress='unusedStructMember:tests/*' \
  -I . -I tests app platform profile store sync check tests/unit tests/support tests/fuzz tests/e2e kit \
  bench winlib

git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

cmake --build --preset native --target profile-check >/dev/null
scripts/check-docs.sh build/native/profile-check

echo "lint: clean"
