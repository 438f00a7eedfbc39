#!/usr/bin/env bash
# Unpacks Debian's Wine for another architecture into DEST, beside the
# system's 64-bit Wine and without installing it, and gives it a launcher:
#   unpack-wine.sh i386 DEST   Wine's 32-bit side. Installed as wine32:i386 it
#       would need every shared i386 library at the exact version of its amd64
#       twin, which a partly synced mirror cannot always give; it needs only
#       its own libc, so that is unpacked with it and started by its own ld.so.
#   unpack-wine.sh arm64 DEST  Wine for ARM64 Linux, run by qemu-aarch64-static
#       (no binfmt_misc needed): it runs ARM64 Windows programs.
# DEST/wine starts a program; DEST/loader is the folder Wine's own processes
# start their children from (WINELOADER=DEST/loader/wine64). Needs the
# architecture's package lists (dpkg --add-architecture, apt-get update).
#   unpack-wine.sh --unpacked ARCH DEST   exits 0 if DEST holds this list's unpack
set -euo pipefail
only_check=false
[ "$1" != --unpacked ] || { only_check=true; shift; }
arch=$1
dest=$2

# libgcc_s: without it every thread that ends aborts in pthread_exit, and
# Wine's services, left half-alive, spin on both CPUs for as long as the
# server lives.
case "$arch" in
  i386) packages=(libc6:i386 libgcc-s1:i386 libwine:i386 wine32:i386) ;;
  arm64) packages=(libc6:arm64 libgcc-s1:arm64 libunwind8:arm64 liblzma5:arm64 libwine:arm64 wine64:arm64) ;;
  *) echo "unpack-wine.sh: no Wine for $arch" >&2; exit 2 ;;
esac
# The marker names what was unpacked: a longer list unpacks again, and so
# does a 32-bit side unpacked before it could start 64-bit programs.
if [ "$(cat "$dest/complete" 2>/dev/null)" = "${packages[*]}" ] &&
  { [ "$arch" != i386 ] || [ -e "$dest/usr/lib/wine/wine.elf64" ]; }; then
  exit 0
fi
! $only_check || exit 1
debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
(cd "$debs" && apt-get download -q -o APT::Sandbox::User=root "${packages[@]}" >/dev/null)
rm -rf "$dest"
mkdir -p "$dest"
# The launchers name absolute paths: no work of their own on each start.
dest=$(realpath "$dest")
for deb in "$debs"/*.deb; do
  dpkg-deb -x "$deb" "$dest"
done

bin=$dest/usr/lib/wine
ln -s usr/lib/wine "$dest/loader"
if [ "$arch" = i386 ]; then
  # The loader finds its libraries from its own path (/proc/self/exe, here
  # ld.so) and starts itself again as <that folder>/wine, so ld.so sits in
  # Wine's folder and "wine" is this script.
  mv "$bin/wine" "$bin/wine.elf"
  cp -L "$dest/lib/ld-linux.so.2" "$bin/ld-linux.so.2"
  cat >"$bin/wine" <<SHIM
#!/bin/sh
exec "$bin/ld-linux.so.2" --library-path "$dest/lib/i386-linux-gnu" "$bin/wine.elf" "\$@"
SHIM
  # A 32-bit process starts a 64-bit one with the system's loader: as
  # <its own loader>64, wine.elf64 here, which must start it by its real name,
  # since that process starts its own children as <its folder>/<that name>.
  ln -s /usr/lib/wine/wine64 "$bin/wine64"
  cat >"$bin/wine.elf64" <<SHIM
#!/bin/sh
exec /usr/lib/wine/wine64 "\$@"
SHIM
  ln -s usr/lib/wine/wine "$dest/wine"
else
  # Wine starts each process as <bin>/wine64-preloader <bin>/wine64 ..., and
  # its server as <bin>/wineserver: both go through qemu.
  cat >"$bin/wine64-preloader" <<SHIM
#!/bin/sh
exec qemu-aarch64-static -L "$dest" "\$@"
SHIM
  cat >"$bin/wineserver" <<SHIM
#!/bin/sh
exec qemu-aarch64-static -L "$dest" "$bin/wineserver64" "\$@"
SHIM
  cat >"$dest/wine" <<SHIM
#!/bin/sh
exec qemu-aarch64-static -L "$dest" "$bin/wine64" "\$@"
SHIM
fi
chmod 0755 "$bin"/wine* "$dest/wine"
echo "${packages[*]}" >"$dest/complete"
