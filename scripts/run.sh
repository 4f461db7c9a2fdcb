#!/usr/bin/env bash
# Sets up the machine, builds the tool and starts it.
#
# With no module attached (COM1 not mapped to an existing device in
# build/bin/comm_mb.ini, and no USB serial adapter for the library to make
# COM1 of), it starts the simulated module and maps COM1 to it for this run
# only, so the tool's defaults reach it. When the tool closes, the simulator
# is stopped and the mapping file is put back as it was.
#
# scripts/run.sh --tcp      starts the simulated modules (A0042 at address 1,
#                           A0043 at 2) behind a Modbus TCP gateway on
#                           127.0.0.1, and the tool with its port set to it
# scripts/run.sh --rtu-tcp  the same behind a transparent serial server
# (the tool's settings file is put back as it was when the tool closes).
set -euo pipefail
gateway=""
case "${1:-}" in
  --tcp | --rtu-tcp) gateway="$1" ;;
  "") ;;
  *) echo "usage: scripts/run.sh [--tcp | --rtu-tcp]" >&2; exit 2 ;;
esac
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
There is no display to show the tool's window on (DISPLAY is not set).
On a machine without a screen, run it under a virtual X server:

    xvfb-run -a -s '-screen 0 1024x768x24' bash scripts/run.sh

(xvfb-run comes with the Debian package xvfb, which scripts/setup.sh installs.)
MSG
  bash scripts/setup.sh
  exit 2
fi

bash scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target QS730_View comm_mb qs730-sim

bin="$root/build/bin"
map="$bin/comm_mb.ini"

if [ -n "$gateway" ]; then
  work=$(mktemp -d)
  settings="$bin/QS730_View.ini"
  backup=""
  [ -f "$settings" ] && { backup="$work/QS730_View.ini"; cp "$settings" "$backup"; }
  sim_pid=""
  cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    if [ -n "$backup" ]; then cp "$backup" "$settings"; else rm -f "$settings"; fi
    rm -rf "$work"
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  "$bin/qs730-sim" "$gateway" 0 --module 1 --module 2:A0043 >"$work/sim.out" &
  sim_pid=$!
  for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
  port=$(head -n 1 "$work/sim.out")
  [ -n "$port" ] || { echo "The simulated gateway did not start." >&2; exit 1; }
  # [Port] Name= set to the gateway, everything else of the file kept.
  { [ -f "$settings" ] && cat "$settings"; true; } | awk -v name="$port" '
    /^\[/ { if (inport && !done) { print "Name=" name; done = 1 }
            inport = tolower($0) ~ /^\[port\]/ }
    inport && tolower($0) ~ /^ *name *=/ { if (!done) { print "Name=" name; done = 1 }; next }
    { print }
    END { if (!done) { if (!inport) print "[Port]"; print "Name=" name } }' >"$work/new.ini"
  cp "$work/new.ini" "$settings"
  echo "The simulated modules are behind $port"
  echo "(A0042 at address 1, A0043 at address 2; the line behind the gateway at 19200 bit/s, even parity)."
  "$bin/QS730_View"
  exit 0
fi

# COM1's device as the library's mapping file gives it, if any.
mapped=""
if [ -f "$map" ]; then
  mapped=$(awk -F= 'tolower($0) ~ /^\[ports\]/ {s=1; next} /^\[/ {s=0}
                    s && tolower($1) ~ /^ *com1 *$/ {sub(/^[ \t]+/, "", $2); print $2; exit}' "$map" | tr -d '\r')
fi

real=$(readlink -f "$mapped" 2>/dev/null || true)
# (A pseudo-terminal there is a simulated module left over from another run.)
if [ -n "$mapped" ] && [ -c "$real" ] && [[ $real != /dev/pts/* ]]; then
  echo "COM1 is $mapped: starting the tool on the module attached there."
  exec "$bin/QS730_View"
fi
# Without an entry the library deals COM1 out to the first USB serial adapter.
if [ -z "$mapped" ] && ls /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1; then
  echo "A USB serial adapter is plugged in: starting the tool on it as COM1."
  exec "$bin/QS730_View"
fi

work=$(mktemp -d)
link="$work/qs730"
backup=""
[ -f "$map" ] && { backup="$work/comm_mb.ini"; cp "$map" "$backup"; }
sim_pid=""

cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  if [ -n "$backup" ]; then cp "$backup" "$map"; else rm -f "$map"; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bin/qs730-sim" --link "$link" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
[ -L "$link" ] || { echo "The simulated module did not start." >&2; exit 1; }

printf '[Ports]\nCOM1=%s\n' "$link" >"$map"
echo "No module attached: COM1 reaches the simulated module at $(readlink "$link")"
echo "(address 1, 19200 bit/s, even parity, serial number A0042)."
"$bin/QS730_View"
