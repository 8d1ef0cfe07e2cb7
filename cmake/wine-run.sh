#!/usr/bin/env bash
# Runs a Windows program under Wine: the cross-build's emulator, used by the
# test discovery while building and by CTest.
#
# Wine now and then fails to start a program in a fresh prefix, above all
# while many start at once: it exits non-zero before the program has written
# a byte. Such a start is made again, up to three times in all. A program
# that wrote anything ran, and its exit status stands. (Every test program
# writes a line as it starts, so a failing test is never run twice.)
set -u
wine=/usr/lib/wine/wine64

out=$(mktemp) && err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT

for attempt in 1 2 3; do
  "$wine" "$@" >"$out" 2>"$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ]; then
    break
  fi
  if [ "$attempt" -lt 3 ]; then
    echo "wine-run.sh: Wine exited with $status before $1 wrote anything; starting it again" >&2
    sleep 1
  fi
done
cat "$out"
cat "$err" >&2
exit "$status"
