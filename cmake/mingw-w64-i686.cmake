# 32-bit x86 Windows, run by Wine's 32-bit loader (unpacked into the build tree).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
set(WINE_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
