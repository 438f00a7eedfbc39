# shellcheck shell=bash
# Sourced by the scripts that run Wine from a shell, as cmake/wine.cmake sets
# it up for CTest: each program by the loader of its own architecture ($wine64,
# $wine32), the server ($wineserver), and the environment that lets 64-bit
# programs start 32-bit ones, all from cmake/wine.env. WINEPREFIX is the caller's.
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/wine.env"
export WINEDEBUG WINEDLLOVERRIDES WINELOADER WINEDLLPATH

# Some kernels cannot run 32-bit programs (32-bit emulation built in but
# switched off at boot, or left out): there the 32-bit loader never starts.
# Asked by starting it once, not read off the kernel. Prints nothing and
# returns 0 where it starts; prints the kernel's answer and returns 1 where
# the kernel refuses it; any other failure is a broken install: 2, said.
wine32_refusal() {
  local answer
  answer=$("$wine32" --version 2>&1 >/dev/null) && return 0
  if [ "${answer##*: }" = "Exec format error" ]; then
    echo "${answer##*: }"
    return 1
  fi
  echo "the 32-bit Wine does not start: ${answer:-no message}" >&2
  return 2
}

# Makes each prefix not yet made, all at once, with the 64-bit loader (a
# prefix the 32-bit one makes first cannot start 64-bit programs); waits for
# their servers to end, so their registries are written. Quiet unless one fails.
make_prefixes() {
  local dir prefix pids=() failed=0 pid
  for dir; do
    [ ! -e "$dir/system.reg" ] || continue
    mkdir -p "$dir"
    prefix=$(realpath "$dir")
    { WINEPREFIX=$prefix "$wine64" wineboot -i && WINEPREFIX=$prefix "$wineserver" -w; } >"$dir/wineboot.log" 2>&1 &
    pids+=("$!:$dir")
  done
  for pid in "${pids[@]}"; do
    wait "${pid%%:*}" && continue
    cat "${pid#*:}/wineboot.log"
    echo "wineboot failed in ${pid#*:}"
    failed=1
  done
  return "$failed"
}
