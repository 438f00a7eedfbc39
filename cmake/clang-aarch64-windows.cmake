# ARM64 Windows: clang and lld with MinGW-w64's headers. Debian has no C or
# C++ runtime for this target, so only programs that need none are built
# (NO_CXX_RUNTIME), and of the C++ library only headers are used. What it
# builds runs under Wine for ARM64, itself run by qemu.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(WINE_ARCH arm64)
set(NO_CXX_RUNTIME ON)

set(target aarch64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${target})
set(CMAKE_CXX_COMPILER_TARGET ${target})
find_program(CMAKE_RC_COMPILER NAMES llvm-windres llvm-windres-14 REQUIRED)
set(CMAKE_RC_FLAGS "--target=${target} -I/usr/share/mingw-w64/include")
set(CMAKE_DLLTOOL llvm-dlltool)
find_program(CMAKE_OBJDUMP NAMES llvm-objdump llvm-objdump-14 REQUIRED)
# Nothing can be linked before the project names its own entry point.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# MinGW's libstdc++ headers, with their x86-64 configuration header: header-only
# use (<array>, <span>, <cstdint>) does not depend on the target.
set(libstdcxx /usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${libstdcxx} -isystem ${libstdcxx}/x86_64-w64-mingw32 -isystem /usr/share/mingw-w64/include")
set(CMAKE_C_FLAGS_INIT "-isystem /usr/share/mingw-w64/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
# Not the usual Windows libraries: each program names its own imports.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "")

include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
