#!/bin/sh
# Sets bits of a PE image's COFF Characteristics in place, for the flags no
# linker here has a switch for, and keeps the optional header's CheckSum true
# to the new bytes (a CheckSum of zero, as lld leaves it, means none and
# stays zero). The same input gives the same bytes, and running it again
# changes nothing. Run it before anything signs the file.
#   pe-characteristics.sh MASK EXE   (MASK as the shell reads it: 0x0c00)
set -eu
[ $# -eq 2 ] || { echo "usage: pe-characteristics.sh MASK EXE" >&2; exit 2; }
mask=$(($1)) exe=$2

# The little-endian number of $2 bytes at offset $1, read byte by byte so the
# host's byte order does not matter.
get() {
  od -An -v -tu1 -j"$1" -N"$2" "$exe" | awk '{ for (i = NF; i >= 1; i--) v = v * 256 + $i } END { print v + 0 }'
}
# Writes $3 as $2 little-endian bytes at offset $1.
put() {
  at=$1 width=$2 value=$3 bytes=''
  while [ "$width" -gt 0 ]; do
    bytes="$bytes\\$(printf %03o $((value & 255)))"
    value=$((value >> 8)) width=$((width - 1))
  done
  # shellcheck disable=SC2059 # the format is the bytes, as octal escapes
  printf "$bytes" | dd of="$exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
}

[ "$(get 0 2)" -eq 23117 ] || { echo "pe-characteristics.sh: $exe: no MZ header" >&2; exit 1; }
lfanew=$(get 60 4)
[ "$(get "$lfanew" 4)" -eq 17744 ] || { echo "pe-characteristics.sh: $exe: no PE signature" >&2; exit 1; }
# After "PE\0\0", the COFF header (20 bytes, Characteristics last), then the
# optional header, whose CheckSum is at 64 in PE32 and PE32+ alike.
characteristics_at=$((lfanew + 4 + 18))
checksum_at=$((lfanew + 4 + 20 + 64))
put "$characteristics_at" 2 $(($(get "$characteristics_at" 2) | mask))

[ "$(get "$checksum_at" 4)" -ne 0 ] || exit 0
# The image's checksum: its 16-bit words (the CheckSum field as zero, an odd
# last byte as a word of its own) added with the carries folded back in, plus
# its length.
checksum=$(od -An -v -tu1 "$exe" | awk -v skip="$checksum_at" '
  { for (i = 1; i <= NF; i++) {
      b = (n >= skip && n < skip + 4) ? 0 : $i
      if (n % 2 == 0) low = b
      else { sum += low + b * 256; sum = sum % 65536 + int(sum / 65536) }
      n++
  } }
  END {
    if (n % 2 == 1) { sum += low; sum = sum % 65536 + int(sum / 65536) }
    printf "%d\n", sum + n
  }')
put "$checksum_at" 4 "$checksum"
