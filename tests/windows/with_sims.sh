#!/usr/bin/env bash
# Runs a command with wine's COM ports mapped to simulated modules:
#
#   with_sims.sh <qs730-sim> "COMn=<options of qs730-sim>"... -- <command...>
#
# Starts one simulated module per COMn on a pseudo-terminal, maps COMn to it
# in wine's registry (HKLM\Software\Wine\Ports), runs the command and stops
# the modules again, removing the mappings. WINEPREFIX names the prefix.
#
# An entry "NAME=--tcp 0 <options>" (or --rtu-tcp) starts simulated modules
# behind a gateway on 127.0.0.1 instead, and the command gets the port as the
# library writes it in the environment variable NAME (wine passes it on).
set -euo pipefail
sim=$1
shift
work=$(mktemp -d)
pids=()
ports=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for port in "${ports[@]}"; do
    wine reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null 2>&1 || true
  done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  port=${1%%=*}
  read -r -a options <<<"${1#*=}"
  shift
  case "${options[0]:-}" in
    --tcp | --rtu-tcp)
      "$sim" "${options[@]}" >"$work/$port.out" 2>/dev/null &
      pids+=($!)
      for _ in $(seq 50); do [ -s "$work/$port.out" ] && break; sleep 0.1; done
      export "$port=$(head -n 1 "$work/$port.out")"
      continue
      ;;
  esac
  "$sim" --link "$work/$port" "${options[@]}" >"$work/$port.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -L "$work/$port" ] && break; sleep 0.1; done
  device=$(readlink "$work/$port")
  # Wine cannot read the line state of a pty left at a speed it has no code
  # for; the module itself follows whatever the master sets.
  stty -F "$device" 19200
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$device" /f >/dev/null 2>&1
  ports+=("$port")
done
[ "${1:-}" = "--" ] && shift
# Wine maps the ports anew when it starts again.
wineserver -k >/dev/null 2>&1 || true
"$@"
