#!/bin/sh
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]   (PREFIX absolute or relative)
# Runs one Windows program under Wine with a private prefix inside the build
# tree, created on first use under a lock so that parallel tests wait for it.
set -e
prefix=$1
shift
# Wine wants an absolute prefix; a relative one is taken from the current folder.
case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if command -v wine >/dev/null 2>&1; then wine=wine
elif command -v wine-stable >/dev/null 2>&1; then wine=wine-stable
else wine=/usr/lib/wine/wine64; fi
mkdir -p "$prefix"
(
  flock 9
  if [ ! -f "$prefix/.initialised" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    touch "$prefix/.initialised"
  fi
) 9>"$prefix.lock"
exec "$wine" "$@"
