#!/usr/bin/env bash
# Authenticode-signs each file given (PE binaries, MSI packages) in place with the
# certificate and key in the PKCS#12 file KESTRANE_SIGN_PFX (password KESTRANE_SIGN_PASSWORD,
# empty if unset), SHA-256; with KESTRANE_SIGN_TIMESTAMP, countersigned by that RFC 3161
# time-stamp server. A file signed before gets the new signature instead of its old one.
set -euo pipefail
if [ -z "${KESTRANE_SIGN_PFX:-}" ]; then
  echo "sign.sh: KESTRANE_SIGN_PFX is not set" >&2
  exit 2
fi
timestamp=()
[ -n "${KESTRANE_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$KESTRANE_SIGN_TIMESTAMP")
for file in "$@"; do
  osslsigncode sign -pkcs12 "$KESTRANE_SIGN_PFX" -pass "${KESTRANE_SIGN_PASSWORD:-}" -n Kestrane -h sha256 \
    "${timestamp[@]}" -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  echo "signed $file"
done
