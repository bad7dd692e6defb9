#!/bin/sh
# Usage: gtest-under-wine.sh PREFIX PROGRAM [ARGS...]
# Runs one GoogleTest program under Wine (through wine-run.sh) and passes
# only when it exits with 0 and has printed GoogleTest's closing PASSED line:
# a program that dies part-way can leave Wine with a zero exit code.
here=$(dirname "$0")
log=$(mktemp)
trap 'rm -f "$log" "$log.status"' EXIT
{ sh "$here/wine-run.sh" "$@"; echo $? >"$log.status"; } 2>&1 | tee "$log"
status=$(cat "$log.status" 2>/dev/null || echo 1)
if [ "$status" -ne 0 ]; then exit "$status"; fi
if ! grep -q '^\[  PASSED  \]' "$log"; then
  echo "gtest-under-wine: the program ended without GoogleTest's PASSED line" >&2
  exit 1
fi
