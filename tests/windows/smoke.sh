#!/usr/bin/env bash
# The packaged program under wine and Xvfb, as a technician would start it:
#
#   smoke.sh <QS730_View-win64.zip> <qs730driver.dll> <qs730-sim>
#
# Unpacks the zip into a scratch folder (nothing else on wine's PATH, so a DLL
# missing from the zip shows), maps COM1 to a simulated module with 12345 uA
# applied, starts QS730_View.exe with the scripted driver of tests/driver,
# which presses "Опросить" and OK in the port settings, and checks the status
# line and the value it read off the window, and that the unpacked copy keeps
# its settings file beside itself, not in the user's folder. WINEPREFIX names
# the prefix.
set -euo pipefail
zip=$1
driver=$2
sim=$3
here="$(cd "$(dirname "$0")" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unzip -q "$zip" -d "$work"
app="$work/QS730_View-win64"
mkdir -p "$app/generic"
cp "$driver" "$app/generic/"
out="$work/out.txt"

# Wine hands no QT_* variable on to the program, so the driver comes through
# Qt's own -plugin argument, which Qt takes off the command line itself.
script="qs730driver:out=$(winepath -w "$out");poll;settings"
appdata=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')")
rm -f "$appdata/QS730_View/QS730_View.ini"
"$here/with_sims.sh" "$sim" "COM1=--current 12345" -- \
  xvfb-run -a -s '-screen 0 1024x768x24' \
  sh -c "cd '$app' && timeout 120 wine QS730_View.exe -plugin '$script'" >/dev/null 2>&1 || true

cat "$out" 2>/dev/null || {
  echo "smoke test: the program left no report" >&2
  exit 1
}
grep -qx 'status=Открыт COM1  19200 бод Even Адрес 1' "$out" || {
  echo "smoke test: wrong status line" >&2
  exit 1
}
grep -qx 'value=12345' "$out" || {
  echo "smoke test: the poll did not show the module's value" >&2
  exit 1
}
if grep -q '^box=\|^error=' "$out"; then
  echo "smoke test: unexpected message" >&2
  exit 1
fi
[ -f "$app/QS730_View.ini" ] || {
  echo "smoke test: the unpacked copy kept no settings file beside itself" >&2
  exit 1
}
[ ! -e "$appdata/QS730_View/QS730_View.ini" ] || {
  echo "smoke test: the unpacked copy saved its settings into %APPDATA%" >&2
  exit 1
}
echo "smoke test passed"
