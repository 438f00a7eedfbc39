# Sourced by the scripts that run Wine from a shell, as cmake/wine.cmake sets
# it up for CTest: each program by the loader of its own architecture ($wine64,
# $wine32), the server, and the environment that lets 64-bit programs start
# 32-bit ones. WINEPREFIX is the caller's.
wine64=/usr/lib/wine/wine64
wine32=/opt/wine-i386/wine
wineserver=/usr/lib/wine/wineserver64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  WINELOADER=/opt/wine-i386/loader/wine64 WINEDLLPATH=/opt/wine-i386/usr/lib/i386-linux-gnu/wine
