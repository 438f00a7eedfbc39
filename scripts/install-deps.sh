#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building and testing need and
# this machine lacks: the host, clang (with libFuzzer) and MinGW-w64 compilers,
# CMake, GoogleTest's sources, Wine, the static checkers, openssl and
# osslsigncode for signing, and zip for the release package. Does nothing when
# all of it is there.
set -euo pipefail

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v make >/dev/null || missing+=(make)
command -v g++ >/dev/null || missing+=(g++)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || missing+=(wine wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v clang++ >/dev/null || missing+=(clang)
# libFuzzer's runtime comes with the compiler-rt package, not with clang itself.
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
  missing+=(libclang-rt-dev)
command -v clang-tidy >/dev/null || missing+=(clang-tidy)
command -v clang-format >/dev/null || missing+=(clang-format)
command -v cppcheck >/dev/null || missing+=(cppcheck)
# Signing and checking releases.
command -v git >/dev/null || missing+=(git)
command -v openssl >/dev/null || missing+=(openssl)
command -v osslsigncode >/dev/null || missing+=(osslsigncode)
command -v zip >/dev/null || missing+=(zip)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
