# Runs what the build makes under Wine, in a prefix of the build tree's own
# (never ~/.wine). Each program starts with Wine's loader for its own
# architecture (WINE_ARCH), not Debian's wine script, which tries the 32-bit
# loader first and so slows every 64-bit start. Wine's own processes start
# 32-bit children through its 32-bit side, unpacked by scripts/unpack-wine.sh,
# so x64 and x86 programs share a prefix as they share a Windows.

# Its paths and environment, shared with the scripts that run Wine.
include(${CMAKE_CURRENT_LIST_DIR}/env_file.cmake)
read_env_file(${CMAKE_CURRENT_LIST_DIR}/wine.env)

# WINE_HOST_LOADER, the 64-bit loader, makes the prefix: one made by the 32-bit
# loader first cannot start 64-bit programs.
if(WINE_ARCH STREQUAL "arm64")
  set(WINE_LOADER ${wine_arm64_root}/wine)
  set(WINE_HOST_LOADER ${WINE_LOADER})
  set(WINE_SERVER ${wine_arm64_root}/loader/wineserver)
  set(wine_children WINELOADER=${wine_arm64_root}/loader/wine64)
else()
  if(WINE_ARCH STREQUAL "i386")
    set(WINE_LOADER ${wine32})
    # The tests this loader runs: a kernel that cannot run 32-bit programs
    # cannot start it, and the windows-x86-no-wine32 presets leave them out.
    set(WINE_LOADER_LABELS wine32)
  else()
    set(WINE_LOADER ${wine64})
  endif()
  set(WINE_HOST_LOADER ${wine64})
  set(WINE_SERVER ${wineserver})
  set(wine_children WINELOADER=${WINELOADER} WINEDLLPATH=${WINEDLLPATH})
endif()

set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(WINE_ENVIRONMENT
  WINEPREFIX=${WINE_TEST_PREFIX}
  WINEDEBUG=${WINEDEBUG}
  WINEDLLOVERRIDES=${WINEDLLOVERRIDES}
  WINE_HOST_LOADER=${WINE_HOST_LOADER}
  ${wine_children})
set(CMAKE_CROSSCOMPILING_EMULATOR env ${WINE_ENVIRONMENT} ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
  ${WINE_LOADER})
