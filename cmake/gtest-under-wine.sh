#!/bin/sh
# Usage: gtest-under-wine.sh PREFIX PROGRAM [ARGS...]
# Runs one GoogleTest program under Wine (through wine-run.sh) and passes
# only when it exits with 0 and has printed GoogleTest's closing PASSED line:
# a program that dies part-way can leave Wine with a zero exit code.
#
# A run that fails without printing a single line never reached the
# program's main (GoogleTest prints before any test runs): Wine itself did
# not start, as happens now and then while the prefix's server is still
# settling after its first start. Such a run is started once more, saying
# so; a program that started and failed is never run again.
here=$(dirname "$0")
log=$(mktemp)
trap 'rm -f "$log" "$log.status"' EXIT

run_once() {
  rm -f "$log.status"
  { sh "$here/wine-run.sh" "$@"; echo $? >"$log.status"; } 2>&1 | tee "$log"
  status=$(cat "$log.status" 2>/dev/null || echo 1)
}

run_once "$@"
if [ "$status" -ne 0 ] && [ ! -s "$log" ]; then
  echo "gtest-under-wine: Wine ended with status $status before the program printed anything; starting it once more" >&2
  sleep 2
  run_once "$@"
fi
if [ "$status" -ne 0 ]; then
  echo "gtest-under-wine: the program ended with status $status" >&2
  exit "$status"
fi
if ! grep -q '^\[  PASSED  \]' "$log"; then
  echo "gtest-under-wine: the program ended without GoogleTest's PASSED line" >&2
  exit 1
fi
