#!/usr/bin/env bash
# The Debian package as a technician's PC would install it:
#
#   check_package.sh <build folder> <qs730driver plugin> <version>
#
# Packs the build with CPack, checks the package's control data and files
# (unpacked with dpkg-deb into a scratch root), then starts the unpacked
# program through /usr/bin/qs730-view with its folder read-only. A simulated
# module (the package's own qs730-sim) serves COM1, mapped in comm_mb.ini in
# the user's configuration folder; the scripted driver of tests/driver polls,
# opens Порт -> Настройки... and presses OK, so the program must read the
# library's file from there and write its settings file there; then it asks
# for the manual ("Справка"), which the program must find in the package's
# doc folder.
#
# Root passes every permission check, so as root the programs run as the user
# "nobody" (with a home folder of their own), for whom the read-only folder is
# what it is for a technician.
set -euo pipefail
build=$1
driver=$2
version=$3

fail() {
  echo "package test: $*" >&2
  exit 1
}
for tool in cpack dpkg-deb desktop-file-validate; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"

# ---- The package and its control data
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$work/cpack/qs730-view_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/cpack")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = qs730-view ] || fail "package name is $(field Package)"
[ "$(field Architecture)" = amd64 ] || fail "architecture is $(field Architecture)"
depends=", $(field Depends),"
for dep in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins qt6-translations-l10n libmodbus5; do
  [[ $depends == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done

# ---- Its files
root="$work/root"
dpkg-deb -x "$deb" "$root"
lib="$root/usr/lib/qs730-view"
[ -x "$lib/QS730_View" ] || fail "no program usr/lib/qs730-view/QS730_View"
[ -f "$lib/libcomm_mb.so" ] || fail "no library usr/lib/qs730-view/libcomm_mb.so"
[ -x "$lib/qs730-sim" ] || fail "no simulated module usr/lib/qs730-view/qs730-sim"
# The program and its library own the line: no Modbus library under them.
for file in QS730_View libcomm_mb.so; do
  needed=$(readelf -d "$lib/$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  [[ $needed != *modbus* ]] || fail "$file links $(echo "$needed" | grep modbus)"
done
for pair in qs730-view:QS730_View qs730-sim:qs730-sim; do
  link="$root/usr/bin/${pair%%:*}"
  [ -L "$link" ] && [ "$(readlink -f "$link")" = "$(readlink -f "$lib/${pair#*:}")" ] ||
    fail "usr/bin/${pair%%:*} does not lead to usr/lib/qs730-view/${pair#*:}"
done
desktop="$root/usr/share/applications/qs730-view.desktop"
[ -f "$desktop" ] || fail "no desktop entry usr/share/applications/qs730-view.desktop"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
key() { sed -n "s/^$1=//p" "$desktop"; }
[ -e "$root/usr/bin/$(key Exec)" ] || fail "the desktop entry starts $(key Exec), which is not in usr/bin"
icon="$root/usr/share/icons/hicolor/32x32/apps/$(key Icon).png"
[ -f "$icon" ] || fail "no icon $(key Icon).png in usr/share/icons/hicolor/32x32/apps"
[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "the icon is not a PNG file"
manual="$root/usr/share/doc/qs730-view/QS730_View-manual.pdf"
[ "$(head -c 5 "$manual" 2>/dev/null)" = %PDF- ] ||
  fail "no manual usr/share/doc/qs730-view/QS730_View-manual.pdf"

# ---- Started from a read-only folder
chmod -R a-w "$lib"
home="$work/home"
config="$home/config"
mkdir -p "$config/QS730_View" "$work/run" "$work/plugins/generic"
cp "$driver" "$work/plugins/generic/"
printf '[Ports]\nCOM1=%s\n' "$work/run/qs730" >"$config/QS730_View/comm_mb.ini"
# What a save killed half-way leaves beside the settings file: start-up
# clears it away there.
leftover="$config/QS730_View/QS730_View.ini.saving-Ab12Cd"
: >"$leftover"

as=()
if [ "$(id -u)" -eq 0 ]; then
  id nobody >/dev/null 2>&1 || fail "running as root, and there is no user nobody to run as"
  chown -R nobody "$home" "$work/run"
  as=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
  echo "running the package's programs as nobody"
fi
env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$config" LANG=C.UTF-8)

"${as[@]}" "${env[@]}" "$root/usr/bin/qs730-sim" --link "$work/run/qs730" --current 12345 \
  >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$work/run/qs730" ] && break; sleep 0.1; done
[ -L "$work/run/qs730" ] || { cat "$work/sim.out" >&2; fail "the simulated module did not start"; }

report="$work/run/report.txt"
"${as[@]}" "${env[@]}" QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$work/plugins" \
  QT_QPA_GENERIC_PLUGINS="qs730driver:out=$report;poll;settings;help" \
  timeout 90 "$root/usr/bin/qs730-view" >"$work/program.out" 2>&1 || {
  status=$?
  cat "$work/program.out" >&2
  fail "the program ended with exit code $status (124: still running after 90 s)"
}

# Each line once, with how often it came (a box that keeps coming back).
uniq -c "$report"
grep -qx 'status=Открыт COM1  19200 бод Even Адрес 1' "$report" || fail "wrong status line"
grep -qx 'value=12345' "$report" || fail "the poll did not reach the simulated module"
! grep -q '^box=\|^error=' "$report" || fail "unexpected message"
grep -qxF "opened=$manual" "$report" || fail "Справка did not open the package's manual"

ini="$config/QS730_View/QS730_View.ini"
[ -f "$ini" ] || fail "no settings file in \$XDG_CONFIG_HOME/QS730_View"
expected=$'[Port]\nName=COM1\nBaud=19200\nParity=2\n\n[Station]\nAddress=1\n\n[Alpha]\nAlpha=A'
[ "$(cat "$ini")" = "$expected" ] || fail "settings file differs: $(cat "$ini")"
[ ! -e "$leftover" ] || fail "start-up left the killed save's file in the settings folder"
[ "$(ls -A "$lib" | tr '\n' ' ')" = "QS730_View libcomm_mb.so qs730-sim " ] ||
  fail "the program folder changed: $(ls -A "$lib")"
echo "package test passed: $(basename "$deb")"
