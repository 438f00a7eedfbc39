#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building and testing need and
# this machine lacks: the host, clang (with libFuzzer) and MinGW-w64 compilers,
# CMake and Ninja, GoogleTest (its sources for the Windows builds, Debian's build
# of them for the native ones), Wine, the static checkers, openssl and
# osslsigncode for signing (libp11's engine for a key on a token, SoftHSM to
# test it), zip for the release package and xmllint for the
# policy templates; then Wine's 32-bit side and Wine for ARM64 (run by qemu),
# unpacked into /opt, and the locales in which Wine reads text as Windows of
# other languages do. Does nothing when all of it is there.
set -euo pipefail

missing=()
command -v cmake >/dev/null || missing+=(cmake)
# Ninja starts fewer processes per build than make: 7% less CPU for x64.
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
# The ARM64 importer: clang with lld and LLVM's dlltool and windres, MinGW-w64's headers.
command -v ld.lld >/dev/null || missing+=(lld)
command -v llvm-dlltool >/dev/null || missing+=(llvm)
command -v qemu-aarch64-static >/dev/null || missing+=(qemu-user-static)
command -v wine >/dev/null || missing+=(wine wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
[ -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] || missing+=(libgtest-dev)
command -v clang++ >/dev/null || missing+=(clang)
# libFuzzer's runtime comes with the compiler-rt package, not with clang itself.
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
  missing+=(libclang-rt-dev)
# clang-tidy 22 (bookworm-security) matches only the project's own code, not
# the system headers: the lint takes a fifth of clang-tidy 14's time. Its
# package brings run-clang-tidy-22, which runs it over a build's database.
command -v run-clang-tidy-22 >/dev/null || missing+=(clang-tidy-22)
command -v clang-format >/dev/null || missing+=(clang-format)
command -v cppcheck >/dev/null || missing+=(cppcheck)
command -v shellcheck >/dev/null || missing+=(shellcheck)
# Signing and checking releases.
command -v git >/dev/null || missing+=(git)
command -v openssl >/dev/null || missing+=(openssl)
command -v osslsigncode >/dev/null || missing+=(osslsigncode)
# Signing with a key on a token, tested with a software one.
compgen -G "/usr/lib/*/engines-3/pkcs11.so" >/dev/null || missing+=(libengine-pkcs11-openssl)
[ -e /usr/lib/softhsm/libsofthsm2.so ] || missing+=(softhsm2)
command -v zip >/dev/null || missing+=(zip)
# The Group Policy templates' and the task's well-formedness tests.
command -v xmllint >/dev/null || missing+=(libxml2-utils)
# The kit test ends a run mid-suite as a crash would, and looks for what is left.
command -v pkill >/dev/null || missing+=(procps)

# Wine takes a process's ANSI code page from its Unix locale: ru_RU gives
# 1251, ja_JP 932, el_GR 1253, he_IL 1255, vi_VN 1258, zh_TW 950.
test_locales=(ru_RU ja_JP el_GR he_IL vi_VN zh_TW)
[ -f /usr/share/i18n/locales/ru_RU ] || missing+=(locales)
locales_made=true
for name in "${test_locales[@]}"; do
  locale -a | grep -qx "$name.utf8" || locales_made=false
done

source "$(dirname "$0")/../cmake/wine.env"
declare -A wine_dirs=([i386]=$wine32_root [arm64]=$wine_arm64_root)
unpacked=true
for arch in "${!wine_dirs[@]}"; do
  "$(dirname "$0")/unpack-wine.sh" --unpacked "$arch" "${wine_dirs[$arch]}" || unpacked=false
done
if [ ${#missing[@]} -eq 0 ] && $unpacked && $locales_made; then
  exit 0
fi

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
foreign=$(dpkg --print-foreign-architectures)
for arch in i386 arm64; do
  grep -qx "$arch" <<<"$foreign" || "${as_root[@]}" dpkg --add-architecture "$arch"
done
# A mirror in the middle of a sync may fail one architecture's index; the
# packages needed here come from the main archive, so only a missing one stops.
"${as_root[@]}" apt-get update -q || echo "install-deps: some package lists could not be updated"
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
for arch in "${!wine_dirs[@]}"; do
  "${as_root[@]}" "$(dirname "$0")/unpack-wine.sh" "$arch" "${wine_dirs[$arch]}"
done
for name in "${test_locales[@]}"; do
  locale -a | grep -qx "$name.utf8" || "${as_root[@]}" localedef -i "$name" -f UTF-8 "$name.UTF-8"
done
