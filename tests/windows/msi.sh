#!/usr/bin/env bash
# The Windows Installer package, checked and then installed under wine:
#
#   msi.sh <package.msi> <older.msi> <version> <QS730_View-win64.zip> \
#          <qs730driver.dll> <qs730-sim>
#
# <older.msi> is the same program packaged as an older version.
#
# First what the package holds (msiinfo, msiextract): its properties, a 64-bit
# install for all users into Program Files\QS730_View, the Start menu
# shortcut with the icon, the upgrade rules, and exactly the zip's files.
# The signing step (scripts/windows/sign.sh) signs copies of the program and
# the package with a throwaway certificate, and the signatures verify.
# Then, in a fresh wine prefix, as an IT department would deploy it
# (msiexec /qn):
# - the older version installs; started from Program Files with the scripted
#   driver of tests/driver it polls a simulated module and saves its settings
#   into %APPDATA%\QS730_View, nothing into Program Files;
# - the package upgrades it in place and keeps those settings: the port saved
#   there (changed by hand to COM2) is the one the new version opens;
# - the older version does not install over the newer one;
# - uninstalling removes every installed file, the shortcut and the entry in
#   the installed programs, and leaves the settings.
set -euo pipefail
msi=$(realpath "$1")
old_msi=$(realpath "$2")
version=$3
zip=$(realpath "$4")
driver=$(realpath "$5")
sim=$(realpath "$6")
here="$(cd "$(dirname "$0")" && pwd)"
upgrade_code='{808AE7B2-1B71-46AE-8962-AC5B0412555B}'

work=$(mktemp -d)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "msi test: $*" >&2
  exit 1
}

# ---- What the package holds
# (msiinfo writes a table's binary columns as files into the current folder.)
table() { (cd "$work" && msiinfo export "$msi" "$1") | tr -d '\r' | tail -n +4; }
prop() { table Property | sed -n "s/^$1\t//p"; }
for pair in ProductName=QS730_View "ProductVersion=$version" "Manufacturer=Сервисная служба" \
  "UpgradeCode=$upgrade_code" ALLUSERS=1 ARPPRODUCTICON=QS730_View.ico; do
  [ "$(prop "${pair%%=*}")" = "${pair#*=}" ] ||
    fail "property ${pair%%=*} is \"$(prop "${pair%%=*}")\", not \"${pair#*=}\""
done
msiinfo suminfo "$msi" | grep -qx 'Template: x64;1049' ||
  fail "not a 64-bit package: $(msiinfo suminfo "$msi" | grep Template)"
table Component | awk -F'\t' 'int($4 / 256) % 2 == 0 { print "not 64-bit: " $1; bad = 1 }
  END { exit bad }' || fail "components without the 64-bit mark"
table Directory | grep -qx $'INSTALLDIR\tProgramFiles64Folder\tQS730_View' ||
  fail "not installed into Program Files\\QS730_View"
table Shortcut | grep -q $'^StartMenuShortcut\tProgramMenuFolder\tQS730_View\tProgram\t\\[#QS730_View.exe\\]\t.*\tQS730_View.ico\t' ||
  fail "no Start menu shortcut QS730_View to the program with its icon: $(table Shortcut)"
[ "$(table Icon | cut -f1)" = QS730_View.ico ] || fail "no icon"
table Upgrade | grep -q WIX_UPGRADE_DETECTED || fail "no upgrade of older versions"
table InstallExecuteSequence | grep -q '^RemoveExistingProducts' ||
  fail "an upgrade would not remove the older version"
mkdir -p "$work/msi" "$work/zip"
msiextract -C "$work/msi" "$msi" >/dev/null
unzip -q "$zip" -d "$work/zip"
diff -r "$work/zip/QS730_View-win64" "$work/msi/QS730_View" ||
  fail "the package's files differ from the zip's"
echo "msi contents checked"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QS730_View test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
  -passout pass:test
cp "$msi" "$work/signed.msi"
cp "$work/zip/QS730_View-win64/QS730_View.exe" "$work/signed.exe"
QS_SIGN_PFX="$work/cert.pfx" QS_SIGN_PASSWORD=test \
  bash "$here/../../scripts/windows/sign.sh" "$work/signed.msi" "$work/signed.exe" >/dev/null
for file in signed.msi signed.exe; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/$file" >"$work/verify.txt" 2>&1 || {
    cat "$work/verify.txt" >&2
    fail "the signature of $file does not verify"
  }
done
echo "signing checked"

# ---- Deployed in a fresh wine prefix
export WINEPREFIX="$work/prefix"
# winemenubuilder would copy the shortcut into the Linux desktop's menus.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineboot --init >/dev/null 2>&1 || true
cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
unix() { winepath -u "$(wine cmd /c "echo $1" 2>/dev/null | tr -d '\r')"; }
installed="$(unix '%ProgramFiles%')/QS730_View"
settings="$(unix '%APPDATA%')/QS730_View"
# Windows puts a per-machine package's shortcut into all users' Start menu;
# wine 8 puts it into the installing user's.
shortcuts=("$(unix '%ProgramData%')/Microsoft/Windows/Start Menu/Programs/QS730_View.lnk"
  "$(unix '%APPDATA%')/Microsoft/Windows/Start Menu/Programs/QS730_View.lnk")
shortcut_made() { [ -f "${shortcuts[0]}" ] || [ -f "${shortcuts[1]}" ]; }
[ "$(basename "$(dirname "$installed")")" = "Program Files" ] || fail "wine's ProgramFiles is $installed"

msi_run() { # <arguments...>: msiexec's exit code, with its log kept for a failure
  local rc=0
  wine msiexec "$@" /qn /l*v "$(winepath -w "$work/msiexec.log")" >/dev/null 2>&1 || rc=$?
  return $rc
}
arp_version() {
  wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" \
    /v DisplayVersion 2>/dev/null | tr -d '\r' | awk '$1 == "DisplayVersion" { print $3 }'
}
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
# The files in Program Files\QS730_View must be those of the package: nothing
# added by the program, nothing left of another version.
check_installed() {
  (cd "$installed" && find . -type f | sort) >"$work/installed.txt"
  (cd "$work/msi/QS730_View" && find . -type f | sort) >"$work/packaged.txt"
  diff "$work/packaged.txt" "$work/installed.txt" || fail "Program Files\\QS730_View differs: $1"
}
# The scripted driver lies outside Program Files, on Qt's plugin path. Wine
# hands no QT_* variable on from Linux, but takes the user's environment
# from the registry of this scratch prefix.
mkdir -p "$work/plugins/generic"
cp "$driver" "$work/plugins/generic/"
wine reg add 'HKCU\Environment' /v QT_PLUGIN_PATH /d "$(winepath -w "$work/plugins")" /f \
  >/dev/null 2>&1
# Runs the installed program on the simulated module at <port> with the
# driver's <steps>; its report lands in $work/report.txt.
run_installed() { # <port> <steps>
  local port=$1 steps=$2
  rm -f "$work/report.txt"
  "$here/with_sims.sh" "$sim" "$port=--current 12345" -- \
    xvfb-run -a -s '-screen 0 1024x768x24' \
    sh -c "cd '$installed' && timeout 120 wine QS730_View.exe \
      -plugin 'qs730driver:out=$(winepath -w "$work/report.txt");$steps'" >/dev/null 2>&1 || true
  [ -f "$work/report.txt" ] || fail "the installed program left no report"
  grep -qx "status=Открыт $port  19200 бод Even Адрес 1" "$work/report.txt" &&
    grep -qx 'value=12345' "$work/report.txt" &&
    ! grep -q '^box=\|^error=' "$work/report.txt" || {
    cat "$work/report.txt" >&2
    fail "the installed program did not poll the module on $port"
  }
}

# The older version, installed and started.
msi_run /i "$(winepath -w "$old_msi")" || fail "installing the older version failed"
check_installed "after installing the older version"
shortcut_made || fail "no shortcut in the Start menu"
[ -n "$(arp_version "$(product_code "$old_msi")")" ] || fail "no entry in the installed programs"
run_installed COM1 "poll;settings"
[ -f "$settings/QS730_View.ini" ] || fail "no settings file in %APPDATA%\\QS730_View"
check_installed "after the program ran and saved its settings"
# The technician's own choice, which the upgrade must keep.
sed -i 's/^Name=COM1/Name=COM2/' "$settings/QS730_View.ini"
cp "$settings/QS730_View.ini" "$work/settings.ini"
echo "older version installed, run, settings in %APPDATA%"

# The upgrade in place.
msi_run /i "$(winepath -w "$msi")" || fail "the upgrade failed"
[ "$(arp_version "$(product_code "$msi")")" = "$version" ] ||
  fail "the installed programs do not list version $version"
[ -z "$(arp_version "$(product_code "$old_msi")")" ] || fail "the older version is still listed"
# The entry's publisher in Cyrillic, as Windows Installer read it from the
# package's strings (reg export writes UTF-16).
wine reg export "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(product_code "$msi")" \
  "$(winepath -w "$work/entry.reg")" /y >/dev/null 2>&1
iconv -f UTF-16 -t UTF-8 "$work/entry.reg" | tr -d '\r' | grep -qx '"Publisher"="Сервисная служба"' ||
  fail "the installed programs' entry does not name the publisher \"Сервисная служба\""
check_installed "after the upgrade"
cmp -s "$settings/QS730_View.ini" "$work/settings.ini" || fail "the upgrade changed the settings"
run_installed COM2 "poll;help"
grep -qx "opened=$(winepath -w "$installed/QS730_View-manual.pdf" | tr '\\' /)" "$work/report.txt" || {
  cat "$work/report.txt" >&2
  fail "Справка did not open the installed manual"
}
echo "upgraded in place, settings kept"

# No downgrade.
if msi_run /i "$(winepath -w "$old_msi")"; then
  fail "the older version installed over the newer one"
fi
[ "$(arp_version "$(product_code "$msi")")" = "$version" ] || fail "the refused downgrade changed the installation"
check_installed "after the refused downgrade"

# Uninstalled.
msi_run /x "$(winepath -w "$msi")" || fail "uninstalling failed"
[ ! -e "$installed" ] || fail "uninstalling left $(cd "$installed" && find . | tr '\n' ' ')"
! shortcut_made || fail "uninstalling left the Start menu shortcut"
[ -z "$(arp_version "$(product_code "$msi")")" ] || fail "uninstalling left the entry in the installed programs"
cmp -s "$settings/QS730_View.ini" "$work/settings.ini" || fail "uninstalling changed the settings"
echo "msi test passed"
