#!/usr/bin/env bash
# Signs a copy of the release executable with a throwaway self-signed
# code-signing certificate through scripts/sign.sh, verifies it with
# osslsigncode, and runs the signed copy under Wine on the sample file.
# Beside it, sign.sh's rows: a PFX and a token (SoftHSM through PKCS#11), an
# executable and a detached signature, each verified against the anchor
# named and refused against another one.
#   sign_test.sh WINE_LOADER EXE SAMPLE WORK_DIR   (Wine's environment already set)
set -euo pipefail
wine=$1 exe=$2 sample=$3 work=$4
sign=$(cd "$(dirname "$0")/../.." && pwd)/scripts/sign.sh

rm -rf "$work"
mkdir -p "$work/run"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout key.pem -out cert.pem \
  -subj "/CN=profile-import test signer" -addext "keyUsage=digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout other-key.pem -out other.pem \
  -subj "/CN=another signer" 2>/dev/null
head -c 18 /dev/urandom | base64 >password
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout file:password
mkdir tokens
printf '%s\n' "directories.tokendir = $PWD/tokens" >softhsm2.conf
export SOFTHSM2_CONF=$PWD/softhsm2.conf
softhsm2-util --init-token --free --label signer --pin 1234 --so-pin 5678 >/dev/null
softhsm2-util --import key.pem --token signer --label codesign --id 01 --pin 1234 >/dev/null
printf 1234 >pin
for copy in signed wrong-anchor token token-wrong-anchor; do cp "$exe" $copy.exe; done
echo "the sums" >sums
cp sums token-sums

# The exit status sign.sh must give, what the row checks, its arguments.
check() {
  local want=$1 what=$2 status=0
  shift 2
  "$sign" "$@" >log 2>&1 || status=$?
  [ "$status" -eq "$want" ] || { cat log; echo "FAIL: $what: exit $status, not $want"; exit 1; }
}
pfx=(--pfx signer.pfx --password-file password)
token=(--pkcs11-module /usr/lib/softhsm/libsofthsm2.so --cert cert.pem --password-file pin
  --key 'pkcs11:token=signer;object=codesign;type=private')
check 0 "a copy signed with the PFX" "${pfx[@]}" --ca-file cert.pem signed.exe
check 1 "the PFX's signature against another anchor" "${pfx[@]}" --ca-file other.pem wrong-anchor.exe
check 0 "the sums signed with the PFX" "${pfx[@]}" --ca-file cert.pem --detached sums
check 1 "the sums' signature against another anchor" --ca-file other.pem --verify sums
signer=$(openssl x509 -in cert.pem -noout -fingerprint -sha256 | sed 's/.*=//')
check 0 "the sums' signer named by its fingerprint" --ca-file cert.pem --signer-sha256 "$signer" --verify sums
check 1 "another signer than the one named" --ca-file cert.pem --signer-sha256 "${signer/#?/X}" --verify sums
check 0 "a copy signed on the token" "${token[@]}" --ca-file cert.pem token.exe
check 1 "the token's signature against another anchor" "${token[@]}" --ca-file other.pem token-wrong-anchor.exe
check 0 "the sums signed on the token" "${token[@]}" --ca-file cert.pem --detached token-sums
echo "a changed line" >>token-sums
check 1 "sums changed after signing" --ca-file cert.pem --verify token-sums
{ cmp -s "$exe" wrong-anchor.exe && cmp -s "$exe" token-wrong-anchor.exe; } ||
  { echo "FAIL: a copy whose signature did not verify was replaced"; exit 1; }
osslsigncode verify -in signed.exe -CAfile cert.pem | grep -E "Signature verification|Number of verified"
cmp -s "$exe" signed.exe && { echo "FAIL: the copy was not changed by signing"; exit 1; }

"$wine" reg delete 'HKCU\Software\Tessavo' /f >/dev/null 2>&1 || true
cp "$sample" run/sysfile.cfg
set +e
(cd run && "$wine" ../signed.exe)
code=$?
set -e
[ "$code" -eq 0 ] || { echo "FAIL: the signed importer exited with $code"; exit 1; }
[ ! -e run/sysfile.cfg ] || { echo "FAIL: the hand-off file is still there"; exit 1; }
"$wine" reg query 'HKCU\Software\Tessavo\Mirandel' /v RegUser | tr -d '\r' | grep -q 'REG_SZ *jdoe$' ||
  { echo "FAIL: RegUser is not stored"; exit 1; }
echo "the signed importer verifies and imports"
