#!/usr/bin/env bash
# Runs a QtTest program of the Windows build under wine and shows its log:
#
#   run_qtest.sh <test.exe> [arguments...]
#
# Under wine nothing a program writes to its standard output reaches the
# terminal, so the log goes through a file.
set -u
exe=$1
shift
log=$(mktemp --suffix=.txt)
trap 'rm -f "$log"' EXIT
wine "$exe" "$@" -o "$(winepath -w "$log"),txt"
rc=$?
cat "$log"
exit $rc
