#!/usr/bin/env bash
# Signs a copy of the release executable with a throwaway self-signed
# code-signing certificate through scripts/sign.sh, verifies it with
# osslsigncode, and runs the signed copy under Wine on the sample file.
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
head -c 18 /dev/urandom | base64 >password
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout file:password
cp "$exe" signed.exe
"$sign" --pfx signer.pfx --password-file password signed.exe
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
