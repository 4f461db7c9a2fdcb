#!/usr/bin/env bash
# Signs Windows programs, libraries and MSI packages in place with the code
# signing certificate the user supplies (nothing is signed without one):
#
#   QS_SIGN_PFX=<certificate and key, PKCS#12 (.pfx)> \
#   QS_SIGN_PASSWORD=<its password> \
#   [QS_SIGN_TIMESTAMP=<time-stamping server, http://...>] \
#     sign.sh <file>...
#
# osslsigncode makes an Authenticode signature (SHA-256) naming QS730_View;
# the time stamp keeps it valid after the certificate expires.
set -euo pipefail
[ -n "${QS_SIGN_PFX:-}" ] || exit 0
command -v osslsigncode >/dev/null || {
  echo "sign.sh: osslsigncode is missing (Debian package osslsigncode)" >&2
  exit 1
}
for file in "$@"; do
  osslsigncode sign -pkcs12 "$QS_SIGN_PFX" -pass "${QS_SIGN_PASSWORD:-}" \
    -n QS730_View -h sha256 ${QS_SIGN_TIMESTAMP:+-ts "$QS_SIGN_TIMESTAMP"} \
    -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  echo "signed $(basename "$file")"
done
