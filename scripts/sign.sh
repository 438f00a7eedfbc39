#!/usr/bin/env bash
# Signs with a code-signing key from a PFX file or on a hardware token
# (PKCS#11), and verifies every signature against the trust anchor named with
# --ca-file alone: never the certificates that came with the key, which would
# vouch for themselves, nor the system's roots. Stops at the first error.
#   scripts/sign.sh KEY --ca-file ANCHOR [--timestamp-url URL] EXE...
#       Authenticode (SHA-256), in place, by osslsigncode
#   scripts/sign.sh KEY --ca-file ANCHOR --detached FILE
#       a detached CMS signature (DER) of FILE, written to FILE.p7s
#   scripts/sign.sh --ca-file ANCHOR [--signer-sha256 HEX] --verify FILE
#       checks FILE.p7s against FILE and ANCHOR, prints the signer's subject
#       and certificate fingerprint, and with --signer-sha256 refuses any
#       other signer: an anchor that is a public CA's root vouches for every
#       certificate it sold
# KEY is one of
#   --pfx FILE [--password-file FILE]
#   --pkcs11-module LIB --key 'pkcs11:...' --cert FILE [--pkcs11-engine LIB]
#       [--password-file PIN_FILE]
# The --cert file holds the signing certificate first, then any intermediate
# ones. A password or PIN is read from its file by osslsigncode and openssl
# themselves, so it never appears on a command line. Without --timestamp-url
# the signature is valid only as long as the certificate is.
set -euo pipefail

usage() {
  cat >&2 <<'EOF'
usage: scripts/sign.sh KEY --ca-file ANCHOR [--timestamp-url URL] EXE...
       scripts/sign.sh KEY --ca-file ANCHOR --detached FILE
       scripts/sign.sh --ca-file ANCHOR [--signer-sha256 HEX] --verify FILE
KEY:   --pfx FILE [--password-file FILE]
     | --pkcs11-module LIB --key 'pkcs11:...' --cert FILE [--pkcs11-engine LIB]
       [--password-file PIN_FILE]
EOF
  exit 2
}
fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

pfx="" password_file="" timestamp_url="" ca_file="" detached="" verify_only="" signer_sha256=""
module="" engine="" key="" cert=""
while [ $# -gt 0 ]; do
  case $1 in
    --pfx | --password-file | --timestamp-url | --ca-file | --detached | --verify | \
      --pkcs11-module | --pkcs11-engine | --key | --cert | --signer-sha256)
      [ $# -ge 2 ] || usage
      case $1 in
        --pfx) pfx=$2 ;;
        --password-file) password_file=$2 ;;
        --timestamp-url) timestamp_url=$2 ;;
        --ca-file) ca_file=$2 ;;
        --detached) detached=$2 ;;
        --verify) verify_only=$2 ;;
        --pkcs11-module) module=$2 ;;
        --pkcs11-engine) engine=$2 ;;
        --key) key=$2 ;;
        --cert) cert=$2 ;;
        --signer-sha256) signer_sha256=$2 ;;
      esac
      shift 2
      ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ -n "$ca_file" ] || usage
[ -r "$ca_file" ] || fail "cannot read the trust anchor $ca_file"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Verification takes the anchor file alone: openssl would otherwise add the
# system's certificate folder and store to it.
verify_detached() {
  openssl cms -verify -binary -inform DER -in "$1.p7s" -content "$1" -CAfile "$ca_file" \
    -no-CApath -no-CAstore -purpose any -signer "$scratch/verified-signer.pem" -out /dev/null \
    >"$scratch/log" 2>&1 || { cat "$scratch/log" >&2; fail "$1.p7s does not verify against $ca_file"; }
  # "any" above since OpenSSL 3.0 knows no code-signing purpose; checked here.
  openssl x509 -in "$scratch/verified-signer.pem" -noout -ext extendedKeyUsage | grep -q 'Code Signing' ||
    fail "$1.p7s is signed by a certificate not meant for code signing"
  local subject fingerprint
  subject=$(openssl x509 -in "$scratch/verified-signer.pem" -noout -subject -nameopt RFC2253)
  fingerprint=$(openssl x509 -in "$scratch/verified-signer.pem" -noout -fingerprint -sha256 |
    sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
  echo "signer: ${subject#subject=}, certificate SHA-256 $fingerprint"
  if [ -n "$signer_sha256" ]; then
    local wanted
    wanted=$(echo "$signer_sha256" | tr -d ': ' | tr 'A-F' 'a-f')
    [ "$fingerprint" = "$wanted" ] || fail "$1.p7s is signed by another certificate than $signer_sha256"
  fi
  echo "verified against $ca_file: $1.p7s"
}
if [ -n "$verify_only" ]; then
  { [ $# -eq 0 ] && [ -z "$pfx$module$detached" ]; } || usage
  verify_detached "$verify_only"
  exit 0
fi

if [ -n "$pfx" ]; then
  [ -z "$module$key$cert$engine" ] || usage
  [ -r "$pfx" ] || fail "cannot read the certificate file $pfx"
elif [ -n "$module" ]; then
  { [ -n "$key" ] && [ -n "$cert" ]; } || usage
  [[ $key == pkcs11:* ]] || fail "the key must be a pkcs11: URI, not $key"
  [ -r "$module" ] || fail "cannot read the PKCS#11 module $module"
  [ -r "$cert" ] || fail "cannot read the certificate file $cert"
  # libp11's engine, where this OpenSSL keeps its engines.
  [ -n "$engine" ] || engine=$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so
  [ -r "$engine" ] || fail "cannot read the PKCS#11 engine $engine (Debian: libengine-pkcs11-openssl)"
else
  usage
fi
if [ -n "$detached" ]; then [ $# -eq 0 ] || usage; else [ $# -gt 0 ] || usage; fi
[ -z "$password_file" ] || [ -r "$password_file" ] || fail "cannot read the password file $password_file"

"$(dirname "$0")/install-deps.sh"

# The key, and the password or PIN that opens it, as each tool takes them.
pass_sign=()
# A PFX without a password opens with an empty one.
pass_openssl=()
[ -z "$pfx" ] || pass_openssl=(-passin pass:)
if [ -n "$password_file" ]; then
  pass_sign=(-readpass "$password_file")
  pass_openssl=(-passin "file:$password_file")
fi
if [ -n "$pfx" ]; then
  key_sign=(-pkcs12 "$pfx")
  key_cms=(-inkey "$pfx")
  { openssl pkcs12 -in "$pfx" "${pass_openssl[@]}" -nokeys -clcerts -out "$scratch/signer.pem" &&
    openssl pkcs12 -in "$pfx" "${pass_openssl[@]}" -nokeys -cacerts -out "$scratch/chain.pem"; } ||
    fail "cannot read the certificates in $pfx (wrong password?)"
else
  key_sign=(-pkcs11engine "$engine" -pkcs11module "$module" -certs "$cert" -key "$key")
  key_cms=(-engine pkcs11 -keyform engine -inkey "$key")
  # openssl cms loads the engine, told which module to drive, from a configuration.
  printf '%s\n' 'openssl_conf = init' '[init]' 'engines = engines' '[engines]' 'pkcs11 = pkcs11' \
    '[pkcs11]' "dynamic_path = $engine" "MODULE_PATH = $module" >"$scratch/openssl.cnf"
  # The signer first, the rest sent along: CMS refuses a certificate twice.
  openssl x509 -in "$cert" -out "$scratch/signer.pem" || fail "no certificate in $cert"
  awk '/-BEGIN CERTIFICATE-/ { n++ } n > 1' "$cert" >"$scratch/chain.pem"
fi

if [ -n "$detached" ]; then
  [ -f "$detached" ] || fail "no such file: $detached"
  chain=()
  [ ! -s "$scratch/chain.pem" ] || chain=(-certfile "$scratch/chain.pem")
  conf=()
  [ -z "$module" ] || conf=(OPENSSL_CONF="$scratch/openssl.cnf")
  env "${conf[@]}" openssl cms -sign -binary -md sha256 -in "$detached" -signer "$scratch/signer.pem" \
    "${chain[@]}" "${key_cms[@]}" "${pass_openssl[@]}" -outform DER -out "$scratch/signature" \
    >"$scratch/log" 2>&1 || { cat "$scratch/log" >&2; fail "signing $detached failed"; }
  mv "$scratch/signature" "$detached.p7s"
  verify_detached "$detached"
  exit 0
fi

timestamp=()
[ -z "$timestamp_url" ] || timestamp=(-ts "$timestamp_url")
for exe in "$@"; do
  [ -f "$exe" ] || fail "no such file: $exe"
  osslsigncode sign "${key_sign[@]}" "${pass_sign[@]}" -h sha256 "${timestamp[@]}" \
    -in "$exe" -out "$scratch/signed" >"$scratch/log" 2>&1 || { cat "$scratch/log" >&2; fail "signing $exe failed"; }
  osslsigncode verify -in "$scratch/signed" -CAfile "$ca_file" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; fail "the signature of $exe does not verify against $ca_file"; }
  mv "$scratch/signed" "$exe"
  echo "signed and verified against $ca_file: $exe"
done
