#!/usr/bin/env bash
# Signs Windows executables in place with Authenticode (SHA-256) using
# osslsigncode, then verifies each signature. Stops at the first error.
#   scripts/sign.sh --pfx FILE [--password-file FILE] [--timestamp-url URL] EXE...
# The password is read from its file by osslsigncode and openssl themselves,
# so it never appears on a command line. Without --timestamp-url the signature
# is valid only as long as the certificate is.
set -euo pipefail

usage() {
  echo "usage: scripts/sign.sh --pfx FILE [--password-file FILE] [--timestamp-url URL] EXE..." >&2
  exit 2
}
fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

pfx="" password_file="" timestamp_url=""
while [ $# -gt 0 ]; do
  case $1 in
    --pfx) [ $# -ge 2 ] || usage; pfx=$2; shift 2 ;;
    --password-file) [ $# -ge 2 ] || usage; password_file=$2; shift 2 ;;
    --timestamp-url) [ $# -ge 2 ] || usage; timestamp_url=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ -n "$pfx" ] && [ $# -gt 0 ] || usage
[ -r "$pfx" ] || fail "cannot read the certificate file $pfx"
[ -z "$password_file" ] || [ -r "$password_file" ] || fail "cannot read the password file $password_file"

"$(dirname "$0")/install-deps.sh"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
pass_sign=()
pass_openssl=(-passin pass:)
if [ -n "$password_file" ]; then
  pass_sign=(-readpass "$password_file")
  pass_openssl=(-passin "file:$password_file")
fi
timestamp=()
[ -z "$timestamp_url" ] || timestamp=(-ts "$timestamp_url")

# The signature is verified against the certificates in the PFX (a
# self-signed one, or the chain a CA issued) and the system's trusted roots.
openssl pkcs12 -in "$pfx" "${pass_openssl[@]}" -nokeys -out "$scratch/chain.pem" ||
  fail "cannot read the certificates in $pfx (wrong password?)"
[ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$scratch/chain.pem"

for exe in "$@"; do
  [ -f "$exe" ] || fail "no such file: $exe"
  osslsigncode sign -pkcs12 "$pfx" "${pass_sign[@]}" -h sha256 "${timestamp[@]}" \
    -in "$exe" -out "$scratch/signed" >"$scratch/log" 2>&1 || { cat "$scratch/log" >&2; fail "signing $exe failed"; }
  osslsigncode verify -in "$scratch/signed" -CAfile "$scratch/chain.pem" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; fail "the signature of $exe does not verify"; }
  mv "$scratch/signed" "$exe"
  echo "signed and verified: $exe"
done
