#!/usr/bin/env bash
# ctest "sign": tools/sign.sh with a throw-away certificate made here, on copies of a
# shipped binary and of the package; each must verify against that certificate, and the
# unsigned originals must not.
set -euo pipefail
bin="$1"
msi="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Kestrane throw-away test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signer.pfx" -passout pass:test
cp "$bin" "$work/binary.exe"
cp "$msi" "$work/package.msi"
KESTRANE_SIGN_PFX="$work/signer.pfx" KESTRANE_SIGN_PASSWORD=test "$(dirname "$0")/sign.sh" "$work/binary.exe" "$work/package.msi"
status=0
for file in binary.exe package.msi; do
  if ! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/$file" >"$work/verify.log" 2>&1; then
    echo "FAIL: $file does not verify after signing"; cat "$work/verify.log"; status=1
  fi
done
for file in "$bin" "$msi"; do
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >/dev/null 2>&1; then
    echo "FAIL: unsigned $file verifies"; status=1
  fi
done
[ "$status" -eq 0 ] && echo "signed and verified: $(basename "$bin"), $(basename "$msi")"
exit "$status"
